#include <new>

#include "backend/BEOPBuildVariant.h"
#include "backend/BEOPMgr.h"
#include "backend/BEServiceUtil.h"
#include "foundation/log/Logger.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/sys/SysUtil.h"
#include "classlib/Str.h"

int CBEOPMgr::OnEndBEOP(BEOPOperation* record) {
  ZtLogger& log = ZtLogger::Instance();
  if (!record) {
    log.Error("Bad parameter for OnEndBEOP operation!");
    return BEOP_E_NULL_PARAM;
  }
  const int op = record->op;
  if (op <= 0x100) {
    if (record->busyWindow) PostMessageW(record->busyWindow, WM_BEOP_BUSY, 0, 0);
    delete record;
    return 0;
  }
  if (op <= 0x1000) return OnEndBEOP_Meeting(record);
  if (op == BEOP_OP_GETRELAYINFO) {
    relayInfo = record->para.relayInfo;
    PostToMainWindow(WM_BEOP_RELAY_INFO, static_cast<WPARAM>(record->para.status), 0);
    delete record;
    return 0;
  }
  if (op == BEOP_OP_GETSERVICETOKENINFO) return OnEndBEOP_Castvane(record);
  log.Error("Unhandled OnEndBEOP operations: %d", op);
  delete record;
  return 0;
}

int OnEndBEOP_Meeting(BEOPOperation* record) {
  if (!record) {
    ZtLogger::Instance().Error("Bad parameter for OnEndBEOP_Meeting operation!");
    return BEOP_E_NULL_PARAM;
  }
  switch (record->op) {
    case BEOP_OP_CREATEMT: OnEndBEOP_CreateMT(record); break;
    case BEOP_OP_UPDATEMT: OnEndBEOP_UpdateMT(record); break;
    case BEOP_OP_QUERYMT: OnEndBEOP_QueryMT(record); break;
    case BEOP_OP_DELETEMT: OnEndBEOP_DeleteMT(record); break;
    default: break;
  }
  delete record;
  return 0;
}

int OnEndBEOP_CreateMT(BEOPOperation* record) {
  const std::wstring token = record->para.meetingToken;
  if (record->para.status != 0 || token.empty()) {
    NotifyRenewMT(record);
    ZtLogger::Instance().Error("Failed to get meeting token");
    return 0;
  }
  SetMeetingActive(TRUE);
  CBEOPMgr& mgr = CBEOPMgr::Instance();
  if (mgr.meetingTimer) KillTimer(nullptr, mgr.meetingTimer);
  mgr.meetingTimer = SetTimer(nullptr, 0, kMeetingTokenTimerMs, &MeetingTokenTimerProc);
  CFrameUtility::SetMeetingToken(token);
  RequestMeeting(BEOP_OP_UPDATEMT, 1, record->sponsor);
  return 0;
}

int OnEndBEOP_UpdateMT(BEOPOperation* record) {
  const BEOPPara& p = record->para;
  if (p.status != 0) {
    ZtLogger::Instance().Error("Failed to update meeting token: %d", p.status);
    NotifyRenewMT(record);
  } else if (p.meetingStatus < 1) {
    CFrameUtility::SetMeetingToken(std::wstring());
  } else {
    PostToMainWindow(WM_BEOP_MT_UPDATED, 0, 0);
    NotifyRenewMT(record);
  }
  return 0;
}

int OnEndBEOP_QueryMT(BEOPOperation* record) {
  const BEOPPara& p = record->para;
  if (p.status != 0) {
    ZtLogger::Instance().Error("Failed to query meeting token: %d", p.status);
    return 0;
  }
  CFrameUtility::SetMeetingTokenDuration(p.tokenDuration);
  if (p.tokenDuration.empty())
    ZtLogger::Instance().Info("Empty meeting token duration, so use default setting");
  return 0;
}

int OnEndBEOP_DeleteMT(BEOPOperation* record) {
  const BEOPPara& p = record->para;
  if (p.status != 0) {
    ZtLogger::Instance().Error("Failed to delete meeting token: %d", p.status);
    NotifyRenewMT(record);
  } else if (record->sponsor == BEOP_SPONSOR_RENEW) {
    ZtLogger::Instance().Info("Renew mirroring ID");
    RequestMeeting(BEOP_OP_CREATEMT, 1, BEOP_SPONSOR_RENEW);
  }
  return 0;
}

void NotifyRenewMT(BEOPOperation* record) {
  if (!record) {
    ZtLogger::Instance().Error("pBEOPPara is null for NotifyRenewMT.");
    return;
  }
  if (record->sponsor != BEOP_SPONSOR_RENEW) return;
  const int failed = (record->para.status != 0 || record->para.meetingToken.empty()) ? 1 : 0;
  PostToMainWindow(WM_BEOP_RENEW_MT, static_cast<WPARAM>(failed), 0);
}

void UpdateMeetingInfo() {
  ZtLogger::Instance().Info("Update meeting info.");
  RequestMeeting(BEOP_OP_CREATEMT, 1, BEOP_SPONSOR_MEETING_UPDATE);
}

std::string MeetingDescription() { return cl::WideToUtf8(GetLocalHostName()); }

int RequestMeeting(int opBit, int status, int sponsor) {
  ZtLogger& log = ZtLogger::Instance();
  const std::wstring stored = CFrameUtility::GetMeetingToken();
  BEOPOperation* record = new (std::nothrow) BEOPOperation();
  if (!record) {
    log.Error("Out of memory for sending meeting request!");
    return 2;
  }
  record->notify = 1;
  record->sponsor = sponsor;
  record->op = opBit;
  record->para.user = kServiceAccountEmail;
  record->para.password = kServiceAccountPassword;
  bool valid = false;
  switch (opBit) {
    case BEOP_OP_CREATEMT:
      CFrameUtility::GetMachineID(record->para.machineId);
      valid = !record->para.machineId.empty();
      break;
    case BEOP_OP_UPDATEMT:
      record->para.meetingToken = stored;
      valid = !stored.empty();
      if (status != 0) {
        record->para.meetingStatus = 1;
        record->para.meetingDesc = MeetingDescription();
        valid = valid && !record->para.meetingDesc.empty();
      }
      break;
    default:
      log.Error("Unhandle meeting request: %d!", opBit);
      break;
  }
  if (!valid) {
    delete record;
    log.Error("Parameter invalid for sending meeting request: %d!", opBit);
    return 4;
  }
  if (!PostOPMessage(WM_BEOP_START, reinterpret_cast<WPARAM>(record), 0)) {
    delete record;
    return 3;
  }
  return 0;
}

int OnEndBEOP_Castvane(BEOPOperation* record) {
  if (!record) {
    ZtLogger::Instance().Error("Bad parameter for OnEndBEOP_Castvane operation!");
    return BEOP_E_NULL_PARAM;
  }
  int result;
  if (record->para.status != 0) {
    ZtLogger::Instance().Error("Failed to get mirring token: %d", record->para.status);
    PostToMainWindow(WM_LOOKUP_RESULT, 2, 3);
    result = BEOP_E_LOOKUP_FAILED;
  } else {
    result = FinishLookup(record);
  }
  delete record;
  return result;
}
