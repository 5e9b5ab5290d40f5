#include "backend/BEOPMgr.h"

#include <new>

#include "backend/BEOPBuildVariant.h"
#include "backend/BEServiceUtil.h"
#include "classlib/MainWindow.h"
#include "classlib/Str.h"
#include "engine/discovery/ReceiverProbe.h"
#include "foundation/log/Logger.h"
#include "foundation/netmon/IPMonitor.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/settings/HardwareId.h"
#include "foundation/sys/SysUtil.h"

wchar_t g_BackendUserAgent[kBackendUserAgentChars] = L"TWX/1.0.0.0 kelvora2 win";

namespace {

critical_section_lock& AgentLock() {
  static critical_section_lock lock;
  return lock;
}

// The meeting lock and the flag it guards.
critical_section_lock& MeetingLock() {
  static critical_section_lock lock;
  return lock;
}
BOOL g_meetingActive = FALSE;

// Posts to the manager go through this lock while the manager accepts
// them; the manager stops accepting under it before it drains its queue,
// so no record can land in a queue that is about to go away.
critical_section_lock& PostLock() {
  static critical_section_lock lock;
  return lock;
}
bool g_accepting = false;

// Frees a record that travelled in a message nobody will handle any more.
void FreeRecordOf(const MSG& msg) {
  if (msg.message == WM_BEOP_START || msg.message == WM_BEOP_END)
    delete reinterpret_cast<BEOPOperation*>(msg.wParam);
}

}  // namespace

std::wstring BackendUserAgent() {
  ScopedLock<critical_section_lock> g(AgentLock());
  return g_BackendUserAgent;
}

void FormatBackendUserAgent(const std::wstring& version, const std::wstring& suffix) {
  if (version.empty()) return;
  const std::wstring agent = cl::FormatW(L"TWX/%.*s kelvora2 win%s", 42, version.c_str(),
                                         suffix.c_str());
  ScopedLock<critical_section_lock> g(AgentLock());
  // The buffer's size is the bound; the suffix is one of two short texts.
  const size_t n = agent.size() < kBackendUserAgentChars - 1 ? agent.size()
                                                              : kBackendUserAgentChars - 1;
  agent.copy(g_BackendUserAgent, n);
  g_BackendUserAgent[n] = L'\0';
}

void BuildBackendUserAgent() {
  FormatBackendUserAgent(GetVersionString(), CFrameUtility::GetUserAgentSuffix());
}

// ---------------------------------------------------------------- the manager

CBEOPMgr& CBEOPMgr::Instance() {
  static CBEOPMgr manager;
  return manager;
}

CBEOPMgr::~CBEOPMgr() {
  // thread's destructor terminates a thread still known by its handle.
}

int CBEOPMgr::Run() {
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  {
    ScopedLock<critical_section_lock> g(PostLock());
    g_accepting = true;
  }
  if (queueReady) SetEvent(queueReady);
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    inOperation_ = true;
    switch (msg.message) {
      case WM_TIMER:
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        break;
      case WM_BEOP_START:
        StartBEOP(reinterpret_cast<BEOPOperation*>(msg.wParam));
        break;
      case WM_BEOP_END:
        OnEndBEOP(reinterpret_cast<BEOPOperation*>(msg.wParam));
        break;
      case WM_BEOP_STATE_CHANGED:
        if (msg.lParam != 0) UpdateMeetingInfo();
        break;
      default:
        ZtLogger::Instance().Error("Unhandled msg: %d!", msg.message);
        break;
    }
    inOperation_ = false;
  }
  {
    ScopedLock<critical_section_lock> g(PostLock());
    g_accepting = false;
  }
  if (meetingTimer) {
    KillTimer(nullptr, meetingTimer);
    meetingTimer = 0;
  }
  FreeQueuedRecords();
  return 0;
}

// Records still queued when the loop ends would be lost with the queue.
void CBEOPMgr::FreeQueuedRecords() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) FreeRecordOf(msg);
}

int CBEOPMgr::StopThread() {
  // All backend traffic is the manager's: from here no request starts, and
  // the one in progress ends now instead of at its deadline (its operation
  // fails and frees its record as any failed request does).
  HttpClient::RefuseNew(true);
  HttpClient::CancelAll();
  if (threadId_) PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
  bool ended = true;
  if (running_ && handle_) {
    // Never terminated inside an operation (a config.ini write): those are
    // bounded, so they are waited out first.
    DWORD waited = 0;
    ended = WaitForSingleObject(handle_, kBEOPMgrStopWaitMs) == WAIT_OBJECT_0;
    while (!ended && InOperation() && waited < kBEOPMgrOperationWaitMs) {
      // A request that a queued operation started after the cancel above.
      HttpClient::CancelAll();
      ended = WaitForSingleObject(handle_, 100) == WAIT_OBJECT_0;
      waited += 100;
    }
    if (!ended) ended = WaitForSingleObject(handle_, kBEOPMgrStopWaitMs) == WAIT_OBJECT_0;
    if (!ended && !InOperation()) {
      TerminateThread(handle_, kQueueThreadTerminatedExitCode);
      WaitForSingleObject(handle_, 1000);
      ScopedLock<critical_section_lock> g(PostLock());
      g_accepting = false;
      ended = true;
    }
    if (!ended) {
      // Still inside an operation after its bound: leave it running rather
      // than kill it holding a lock. Its handle stays known.
      ZtLogger::Instance().Error("BEOPMgr thread still busy after %lu ms",
                                 static_cast<unsigned long>(waited));
    }
  }
  // The threads of cancelled requests, so none outlives the stop.
  HttpClient::CancelAll();
  if (!HttpClient::JoinAll(kBEOPMgrExchangeJoinMs))
    ZtLogger::Instance().Error("BEOP requests still running after the stop");
  HttpClient::RefuseNew(false);
  if (!ended) return 0;
  if (handle_) {
    CloseHandle(handle_);
    handle_ = nullptr;
  }
  running_ = false;
  threadId_ = 0;
  return 1;
}

int StartBEOPMgr() {
  ZtLogger& log = ZtLogger::Instance();
  CBEOPMgr& mgr = CBEOPMgr::Instance();
  // Made once and kept: a thread that missed the wait may still set it.
  if (!mgr.queueReady) {
    mgr.queueReady = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!mgr.queueReady) log.Error("Create BEOPMgr queue event failed: %lu", GetLastError());
  }
  if (mgr.queueReady) ResetEvent(mgr.queueReady);
  // Before the manager thread exists: the check loads the WMI stack (and
  // with it the graphics libraries, under the loader lock), and doing that
  // while the new thread sets up its message queue and maps the display
  // driver deadlocks under Wine. Its result is still logged after the
  // registration has been posted.
  const bool hardwareIdChanged = IsHardwareIDChanged();
  const bool wasRunning = mgr.IsRunning();
  const bool started = mgr.Start();
  if (started && !wasRunning && mgr.queueReady) {
    const DWORD w = WaitForSingleObject(mgr.queueReady, 2000);
    if (w != WAIT_OBJECT_0) log.Error("Wait for BEOPMgr queue failed: %lu", w);
  }
  BuildBackendUserAgent();
  PostDevInit();
  if (hardwareIdChanged) log.Info("HwardwareID changed when launching!");
  return started ? 1 : 0;
}

int StopBEOPMgr() {
  StopBackendMonitors();
  CBEOPMgr::Instance().StopThread();
  return 1;
}

BOOL PostOPMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  {
    ScopedLock<critical_section_lock> g(PostLock());
    const unsigned id = CBEOPMgr::Instance().ThreadId();
    // No manager (a post to thread id 0 is not refused everywhere), or one
    // that no longer reads its queue.
    SetLastError(ERROR_INVALID_THREAD_ID);
    if (g_accepting && id != 0 && PostThreadMessageW(id, message, wParam, lParam)) return TRUE;
  }
  ZtLogger::Instance().Error("PostOPMessage failed: 0x%X", static_cast<unsigned>(GetLastError()));
  return FALSE;
}

int PostToMainWindow(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND hwnd = cl::GetMainWindow();
  if (!hwnd) return 0;
  if (PostMessageW(hwnd, message, wParam, lParam)) return 0;
  ZtLogger::Instance().Error("Mainframe hwnd is NULL.");
  return 1;
}

void PostDevInit() {
  OSVERSIONINFOW info{};
  GetOSVersionCodeEx(&info);
  BEOPOperation* record = new (std::nothrow) BEOPOperation();
  if (!record) {
    ZtLogger::Instance().Error("Out of memory for sending dev_init package!");
    return;
  }
  record->sponsor = BEOP_SPONSOR_DEVINIT;
  record->op = BEOP_OP_DEVINIT;
  record->para.hostName = GetLocalHostName();
  record->para.platform = cl::FormatW(L"Windows/%d.%d", static_cast<int>(info.dwMajorVersion),
                                      static_cast<int>(info.dwMinorVersion));
  record->para.machineId = CFrameUtility::GetPrimaryMachineID();
  if (!PostOPMessage(WM_BEOP_START, reinterpret_cast<WPARAM>(record), 0)) delete record;
}

BEOPOperation* MakeLookupRecord(const std::wstring& connectionId) {
  BEOPOperation* record = new (std::nothrow) BEOPOperation();
  if (!record) return nullptr;
  record->sponsor = BEOP_SPONSOR_MAINFRAME;
  record->op = BEOP_OP_GETSERVICETOKENINFO;
  record->para.machineId = CFrameUtility::GetPrimaryMachineID();
  record->para.user = kServiceAccountEmail;
  record->para.password = kServiceAccountPassword;
  record->para.serviceToken = connectionId;
  return record;
}

int PostConnectionIdLookup(const std::wstring& text) {
  BEOPOperation* record = MakeLookupRecord(text);
  if (!record) {
    ZtLogger::Instance().Error("Out of memory for sending dev_init package!");
    return BEOP_E_OUT_OF_MEMORY;
  }
  return DeliverLookupRecord(record);
}

int StartBEOP(BEOPOperation* record) {
  ZtLogger& log = ZtLogger::Instance();
  if (!record) {
    log.Error("Bad parameter for StartBEOP operation!");
    return BEOP_E_NULL_PARAM;
  }
  if (record->op == 0) {
    log.Error("Invalid operation for StartBEOP: %d", record->op);
    delete record;
    return BEOP_E_INVALID_PARAM;
  }
  log.Info("%s start BEOP for %s|%s", BEOPSponsorName(record->sponsor).c_str(),
           BEOPOperationNames(record->op).c_str(), BEOPOperationNames(record->fallbackOp).c_str());
  // Read before the run: from its start the record is the worker's.
  HWND busy = record->busyWindow;
  const int launched = LaunchBEOP(record);
  if (launched != 0) {
    log.Error("Start BEOP failed: %d", launched);
    return launched;
  }
  if (busy) PostMessageW(busy, WM_BEOP_BUSY, 1, 0);
  return 0;
}

// ---------------------------------------------------------------- monitors

namespace {

int __stdcall OnNetworkInterfacesChanged(ULONG_PTR) {
  std::vector<AdapterRecord> list;
  GetLocalIPv4List(list);
  std::string text;
  for (const AdapterRecord& a : list) {
    std::wstring address = a.address;
    while (!address.empty() && (address.back() == L'\n' || address.back() == L'\r'))
      address.pop_back();
    text += "," + cl::WideToUtf8(address);
  }
  ZtLogger::Instance().Info("[Network] IF:%d%s", static_cast<int>(list.size()), text.c_str());
  return 0;
}

}  // namespace

int StartBackendMonitors() {
  CBEOPMgr& mgr = CBEOPMgr::Instance();
  if (!mgr.ipMonitor) {
    mgr.ipMonitor = new (std::nothrow) CIPMonitor();
    if (mgr.ipMonitor)
      mgr.ipMonitor->StartMonitor(&OnNetworkInterfacesChanged, reinterpret_cast<ULONG_PTR>(&mgr));
  }
  PostOPMessage(WM_BEOP_STATE_CHANGED, 0, 1);
  return 0;
}

int StopBackendMonitors() {
  CBEOPMgr& mgr = CBEOPMgr::Instance();
  // The meeting timer belongs to the manager thread and ends with it.
  mgr.meetingTimer = 0;
  if (mgr.ipMonitor) {
    mgr.ipMonitor->Stop(100);
    delete mgr.ipMonitor;  // its destructor stops Windows Sockets again
    mgr.ipMonitor = nullptr;
  }
  return 0;
}

void SetMeetingActive(BOOL value) {
  ScopedLock<critical_section_lock> g(MeetingLock());
  g_meetingActive = value;
}

BOOL IsMeetingActive() {
  ScopedLock<critical_section_lock> g(MeetingLock());
  return g_meetingActive;
}

void CALLBACK MeetingTokenTimerProc(HWND, UINT, UINT_PTR, DWORD) { SetMeetingActive(FALSE); }

std::string BEOPSponsorName(int sponsor) {
  switch (sponsor) {
    case BEOP_SPONSOR_BEOPMGR: return "BEOPMgr";
    case BEOP_SPONSOR_MAINFRAME: return "MainFrame";
    case BEOP_SPONSOR_RENEW: return "SettingDlg_GeneralRenew";
    case BEOP_SPONSOR_DEVINIT: return "BEOP_DevInit";
    case BEOP_SPONSOR_MEETING_UPDATE: return "BEOP_MeetingUpdate";
    case BEOP_SPONSOR_CHECK_MIRRORING_ID: return "BEOP_CheckMirroringIDTimer";
    case BEOP_SPONSOR_GET_RELAY_INFO: return "BEOP_GetRelayInfo";
    default: return "unhandled_sponsor";
  }
}

std::string BEOPOperationNames(int opWord) {
  static const struct {
    int bit;
    const char* name;
  } kNames[] = {{BEOP_OP_DEVINIT, " devinit"},   {BEOP_OP_CREATEMT, " createmt"},
                {BEOP_OP_UPDATEMT, " updatemt"}, {BEOP_OP_QUERYMT, " querymt"},
                {BEOP_OP_DELETEMT, " deletemt"}};
  std::string names;
  for (const auto& n : kNames) {
    if (opWord & n.bit) names += n.name;
  }
  return names;
}
