// The main window's receiver maps and the commands that start, re-target or
// stop a mirroring session.
#include <cstdlib>

#include "app/AppMessages.h"
#include "app/dialogs/DlgInputBox.h"
#include "app/DlgPreference.h"
#include "app/SessionMgrMain.h"
#include "app/dialogs/DragDrop.h"
#include "backend/BEOPMgr.h"
#include "classlib/Resource.h"
#include "classlib/Str.h"
#include "classlib/WinApp.h"
#include "engine/discovery/ReceiverProbe.h"
#include "engine/display/ExtendDisplay.h"
#include "engine/mirror/Mirror.h"
#include "foundation/log/Logger.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/sys/SysUtil.h"

void CDlgPreference::OnReceiverFound(ReceiverEntry* entry) {
  if (!entry || !entry->owner) return;
  auto* self = static_cast<CDlgPreference*>(entry->owner);
  AddFoundReceiver(self->foundMapMutex_, *entry);
}

void CDlgPreference::OnReceiverLost(ReceiverEntry* entry) {
  if (!entry || !entry->owner) return;
  auto* self = static_cast<CDlgPreference*>(entry->owner);
  RemoveFoundReceiver(self->foundMapMutex_, entry->name);
}

void CDlgPreference::PublishReceiverList() {
  if (!sessionWindow_) return;
  ScopedMutex listed(listedMapMutex_);
  {
    ScopedMutex found(foundMapMutex_);
    g_mapListedReceivers = g_mapFoundReceivers;
  }
  std::vector<AdapterRecord> adapters;
  GetLocalIPv4List(adapters);
  RemoveOwnAddresses(g_mapListedReceivers, adapters);
  if (CDlgSessionMgr* panel = sessionWindow_->Panel()) panel->UpdateReceiverMap(g_mapListedReceivers);
}

void CDlgPreference::OnConnectReceiver(UINT id) {
  // 0 is the password reconnect; any other id must be a row's.
  const int k = id == 0 ? -1 : ConnectPositionOf(id);
  if (id != 0 && k < 0) {
    ZtLogger::Instance().Warn("[UI] connect command %u is no row's, ignored", id);
    return;
  }
  std::string host;
  uint16_t port = 0;
  if (k >= 0) {
    ScopedMutex listed(listedMapMutex_);
    ReceiverEntry entry;
    if (!ReceiverAtPosition(g_mapListedReceivers, k, entry)) return;
    host = entry.address;
    port = static_cast<uint16_t>(entry.port);
  } else {
    if (!session_) {
      ZtLogger::Instance().Warn("[UI] skip passcode reconnect");
      return;
    }
    if (sessionHost_.empty()) {
      ZtLogger::Instance().Warn("[UI] skip passcode reconnect no session info");
      return;
    }
    host = sessionHost_;
    port = sessionPort_;
  }
  StopMirroring();
  if (session_) {
    ZtLogger::Instance().Info("[UI] old session still quitting, drop this time");
    return;
  }
  SetTimer(kTimerRefreshSession, 0);
  Sleep(1000);
  session_ = new CMirror(&params_);
  sessionHost_ = host;
  sessionPort_ = port;
  if (session_->Start(host.c_str(), port)) {
    SetStatusLine(cl::FormatW(L"Mirror to %S", host.c_str()));
  } else {
    SetStatusLine(L"Fail to ScreenMirroring");
  }
}

void CDlgPreference::StopMirroring() {
  if (session_) {
    MirrorStatus last;
    // Deleted only once its thread has ended; otherwise it stays, stopping.
    if (CMirror::StopAndRelease(session_, kMirrorReleaseWaitMs, &last)) lastStatus_ = last.text;
  }
  if (extendDisplay_) {
    extendDisplay_->Disable();
    delete extendDisplay_;
    extendDisplay_ = nullptr;
  }
}

std::wstring PasswordPrompt(LPARAM refused) {
  std::wstring prompt = cl::LoadResString(IDS_PASSWORD_PROMPT);
  if (refused == 1) prompt = cl::LoadResString(IDS_PASSWORD_INCORRECT) + prompt;
  return prompt;
}

LRESULT CDlgPreference::OnPasswordRequest(WPARAM, LPARAM lParam) {
  CDlgInputBox box(cl::LoadResString(IDS_PASSWORD_TITLE), PasswordPrompt(lParam), this);
  box.password = true;
  if (box.DoModal() != IDOK) return 0;
  params_.password = cl::WideToUtf8(box.result);
  OnConnectReceiver(0);
  return 0;
}

LRESULT CDlgPreference::OnConnectByText(WPARAM, LPARAM) {
  const std::wstring text = CFrameUtility::GetTxSToken();
  const TypedTarget target = ParseTypedTarget(text);
  if (target.kind == TypedTarget::kAddress) {
    ReceiverEntry entry;
    entry.name = target.address;
    entry.address = target.address;
    entry.port = target.port;
    entry.owner = this;
    OnReceiverFound(&entry);
  } else if (target.kind == TypedTarget::kConnectionId) {
    PostConnectionIdLookup(text);
  }
  return 0;
}

LRESULT CDlgPreference::OnLookupResult(WPARAM wParam, LPARAM lParam) {
  const LookupAction action = DecideLookupResult(wParam, lParam, ProbeReachableCount());
  if (action.kind == LookupAction::kAddReceiver) {
    ProbeEntry probe;
    if (!GetProbeReachable(action.index, probe)) return 0;
    ReceiverEntry entry;
    entry.name = probe.Name;
    entry.address = probe.Address;
    entry.port = atoi(probe.Port.c_str());
    entry.owner = this;
    OnReceiverFound(&entry);
  } else if (action.kind == LookupAction::kMessageBox) {
    cl::AfxMessageBox(cl::LoadResString(action.stringId).c_str(), MB_OK);
  }
  return 0;
}

void CDlgPreference::OnSelectDisplay(UINT id) {
  const int k = DisplayIndexOf(id);
  if (k < 0) {
    ZtLogger::Instance().Warn("[UI] display command %u names no display, ignored", id);
    return;
  }
  params_.displayIndex = k;
  if (!session_) return;
  // The extended display goes only once the session really left it.
  if (session_->SelectMonitor(static_cast<unsigned>(k)) && extendDisplay_) {
    Sleep(1000);
    extendDisplay_->Disable();
    delete extendDisplay_;
    extendDisplay_ = nullptr;
  }
}

void CDlgPreference::OnExtendDesktop() {
  if (!extendDisplay_) extendDisplay_ = new CExtendDisplay();
  if (extendDisplay_->Enable() == 0) {
    delete extendDisplay_;
    extendDisplay_ = nullptr;
    ShowTrayBalloon(cl::LoadResString(IDS_APP_NAME), cl::LoadResString(IDS_EXTEND_FAILED), NIIF_WARNING);
    return;
  }
  if (session_) {
    params_.displayIndex = extendDisplay_->GetMonitorIndex();
    session_->SelectMonitor(static_cast<unsigned>(params_.displayIndex));
  }
}

void CDlgPreference::OnReselectDisplay() {
  if (session_) session_->SelectMonitor(static_cast<unsigned>(params_.displayIndex));
}

LRESULT CDlgPreference::OnAreaSelected(WPARAM, LPARAM) {
  if (!regionPicker_) return 0;
  params_.area = EvenCaptureArea(regionPicker_->startPoint, regionPicker_->endPoint);
  if (session_ && session_->IsRunning()) {
    session_->SetCaptureRegion(params_.area.left, params_.area.top, params_.area.right, params_.area.bottom);
  }
  return 0;
}
