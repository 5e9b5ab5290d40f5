#include "backend/BEOPWorker.h"

#include <process.h>

#include <atomic>

#include "backend/BEOPBuildVariant.h"
#include "backend/BEOPMgr.h"
#include "backend/BEServiceUtil.h"
#include "classlib/Str.h"
#include "foundation/log/Logger.h"
#include "foundation/proxy/ProxySetting.h"

namespace {

std::atomic<BEServiceExecuteFn> g_executeForTest{nullptr};

struct WrapperRow {
  int bit;
  int mask;
  int op;
  const char* failure;
};

const WrapperRow kWrappers[] = {
    {BEOP_OP_DEVINIT, 0x34, BESOP_DEVINIT, "BE dev_init failed: %d"},
    {BEOP_OP_CREATEMT, 0x07, BESOP_CREATEMT, "Create meeting token failed: %d"},
    {BEOP_OP_UPDATEMT, 0xC3, BESOP_UPDATEMT, "Update meeting token failed: %d"},
    {BEOP_OP_QUERYMT, 0x43, BESOP_QUERYMT, "Query meeting token failed: %d"},
    {BEOP_OP_DELETEMT, 0x43, BESOP_DELETEMT, "Delete meeting token failed: %d"},
    {BEOP_OP_GETRELAYINFO, 0x07, BESOP_GETRELAYINFO, "GetRelayInfo failed: %d"},
    {BEOP_OP_GETSERVICETOKENINFO, 0x103, BESOP_GETSERVICETOKENINFO,
     "GetServiceTokenInfo failed: %d"},
};

int RunWrapper(const WrapperRow& row, BEOPPara& para, BEServiceRequest& request) {
  ZtLogger& log = ZtLogger::Instance();
  const int refused = FillBEOPParams(para, row.mask, request);
  if (refused != 0) {
    log.Error("Init Zt account failed: %d", refused);
    return refused;
  }
  int result;
  if (BEServiceExecuteFn fn = g_executeForTest.load()) {
    result = fn(&request, row.op);
  } else {
    BEServiceHolder holder;
    if (!holder.Util()) {
      result = BEOP_WRAPPER_NO_SERVICE;
    } else {
      ScopedLock<critical_section_lock> g(holder.Lock());
      result = holder.Util()->Execute(&request, row.op);
    }
  }
  request.status = result;
  if (result != 0) log.Error(row.failure, result);
  return result;
}

int Wrapper(int bit, BEOPPara& para, BEServiceRequest& request) {
  for (const WrapperRow& row : kWrappers) {
    if (row.bit == bit) return RunWrapper(row, para, request);
  }
  return 0;
}

}  // namespace

void SetBEServiceExecuteForTest(BEServiceExecuteFn fn) { g_executeForTest.store(fn); }

int BEDevInit(BEOPPara& p, BEServiceRequest& r) { return Wrapper(BEOP_OP_DEVINIT, p, r); }
int CreateMeetingToken(BEOPPara& p, BEServiceRequest& r) { return Wrapper(BEOP_OP_CREATEMT, p, r); }
int UpdateMeetingToken(BEOPPara& p, BEServiceRequest& r) { return Wrapper(BEOP_OP_UPDATEMT, p, r); }
int QueryMeetingToken(BEOPPara& p, BEServiceRequest& r) { return Wrapper(BEOP_OP_QUERYMT, p, r); }
int DeleteMeetingToken(BEOPPara& p, BEServiceRequest& r) { return Wrapper(BEOP_OP_DELETEMT, p, r); }
int GetRelayInfo(BEOPPara& p, BEServiceRequest& r) { return Wrapper(BEOP_OP_GETRELAYINFO, p, r); }
int GetServiceTokenInfo(BEOPPara& p, BEServiceRequest& r) {
  return Wrapper(BEOP_OP_GETSERVICETOKENINFO, p, r);
}

int FillBEOPParams(const BEOPPara& para, int mask, BEServiceRequest& request) {
  ZtLogger& log = ZtLogger::Instance();
  struct Field {
    int bit;
    const std::wstring* source;
    std::string* target;
    const char* refusal;
  };
  const Field fields[] = {
      {BEOP_PARAM_USER, &para.user, &request.user, "Invalid user parameter"},
      {BEOP_PARAM_PASSWORD, &para.password, &request.password, "Invalid pwd parameter"},
      {BEOP_PARAM_MACHINE_ID, &para.machineId, &request.machineId, "Invalid hwid parameter"},
      {BEOP_PARAM_HOST_NAME, &para.hostName, &request.hostName, "Invalid hostname parameter"},
      {BEOP_PARAM_PLATFORM, &para.platform, &request.platform, "Invalid platform parameter"},
      {BEOP_PARAM_MEETING_TOKEN, &para.meetingToken, &request.meetingToken,
       "Invalid meeting token parameter"},
  };
  for (const Field& f : fields) {
    if (!(mask & f.bit)) continue;
    if (f.source->empty()) {
      log.Error("%s", f.refusal);
      return 1;
    }
    *f.target = cl::WideToUtf8(*f.source);
  }
  if (mask & BEOP_PARAM_MEETING_DESC) {
    if (para.meetingStatus > 0 && para.meetingDesc.empty()) {
      log.Error("Invalid meeting desc parameter");
      return 1;
    }
    request.meetingStatus = para.meetingStatus;
    request.meetingDesc = para.meetingDesc;
  }
  if (mask & BEOP_PARAM_SERVICE_TOKEN) {
    if (para.serviceToken.empty()) {
      log.Error("Invalid service token parameter");
      return 1;
    }
    request.serviceToken = cl::WideToUtf8(para.serviceToken);
  }
  if (!para.proxyServer.empty()) request.proxyServer = para.proxyServer;
  if (!para.proxyBypass.empty()) request.proxyBypass = para.proxyBypass;
  if (para.proxyScheme != 0 && !para.proxyUser.empty() && !para.proxyPassword.empty()) {
    request.proxyScheme = para.proxyScheme;
    request.proxyUser = para.proxyUser;
    request.proxyPassword = para.proxyPassword;
  }
  return 0;
}

int CopyBEOPResults(const BEServiceRequest* request, BEOPPara* para) {
  if (!request || !para) return 1;
  para->sendFailed = request->sendFailed;
  para->status = request->status;
  para->meetingToken = cl::AnsiToWide(request->meetingToken);
  para->serviceToken = cl::AnsiToWide(request->serviceToken);
  para->errorText = request->errorText;
  para->tokenDuration = request->tokenDuration;
  para->relayInfo = request->relayInfo;
  para->serviceTokenInfo = request->serviceTokenInfo;
  return 0;
}

std::wstring BEOPProxyTargetUrl(int opWord) {
  return BackendBaseUrl() + ((opWord & BEOP_OP_GETSERVICETOKENINFO) ? L"v3/" : L"v2/");
}

int RunBEOPOperation(BEOPOperation* record) {
  ZtLogger& log = ZtLogger::Instance();
  BEOPPara& para = record->para;
  ProxyInfo proxy;
  CProxySetting proxySetting;
  BEServiceRequest request;
  // A record refused before any request keeps the status it came with.
  request.status = para.status;

  proxy.targetUrl = BEOPProxyTargetUrl(record->op);
  if (proxySetting.GetProxyInfo(&proxy) == 0) {
    log.Error("Get proxyinfo failed: %d", record->op);
  } else {
    if (!proxy.proxy.empty()) para.proxyServer = proxy.proxy;
    if (!proxy.bypass.empty()) para.proxyBypass = proxy.bypass;
    if (proxy.authScheme >= 1 && !proxy.user.empty() && !proxy.password.empty()) {
      para.proxyScheme = proxy.authScheme;
      para.proxyUser = proxy.user;
      para.proxyPassword = proxy.password;
    }
  }

  int failingBit = 0;
  int* words[] = {&record->opInWork, &record->fallbackInWork};
  for (int* word : words) {
    if (*word <= 0) break;
    int work = *word;
    int error = 0;
    for (const WrapperRow& row : kWrappers) {
      if (!(work & row.bit)) continue;
      const int r = RunWrapper(row, para, request);
      if (r != 0) {
        failingBit = row.bit;
        error = r;
        break;
      }
      work &= ~row.bit;
    }
    *word = work;
    if (work == 0) break;
    log.Warn("BEOP 0x%X failed at 0x%X: %d", record->op, failingBit, error);
  }
  CopyBEOPResults(&request, &para);
  return failingBit;
}
