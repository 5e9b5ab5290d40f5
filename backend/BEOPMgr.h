// The backend operations manager: one thread with a message queue that owns
// all traffic with the backend web service. Callers post a BEOPOperation
// with WM_BEOP_START; the manager starts a worker for it, gets it back with
// WM_BEOP_END and hands it to its completion, which frees it.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "backend/BEOPRecords.h"
#include "backend/HttpClient.h"
#include "foundation/thread/Threads.h"

class CIPMonitor;
class ReceiverProbe;

// The HTTP user agent of every backend request, 64 wide characters.
// Rewritten by StartBEOPMgr; read through BackendUserAgent().
constexpr int kBackendUserAgentChars = 64;
extern wchar_t g_BackendUserAgent[kBackendUserAgentChars];
std::wstring BackendUserAgent();
// "TWX/<at most 42 characters of version> kelvora2 win<suffix>"; an empty
// version leaves the agent as it was.
void FormatBackendUserAgent(const std::wstring& version, const std::wstring& suffix);
void BuildBackendUserAgent();

// Period of the meeting-token timer: 40 days (the platform cuts it to its
// maximum).
constexpr UINT kMeetingTokenTimerMs = 3456000000u;
// How long StopBEOPMgr waits for the thread after WM_QUIT while it is not
// inside an operation, and at most while it is. A request in progress is
// cancelled by the stop, so what is left to wait for is a completion's own
// bounded work (a config.ini write, a decode).
constexpr DWORD kBEOPMgrStopWaitMs = 1000;
constexpr DWORD kBEOPMgrOperationWaitMs = 10000;
// How long the stop waits for the threads of cancelled requests: a call in
// progress ends at its time-out where closing its handle does not end it.
constexpr DWORD kBEOPMgrExchangeJoinMs = HttpClient::kCallBoundMs + 2000;

class CBEOPMgr : public thread {
 public:
  static CBEOPMgr& Instance();
  ~CBEOPMgr() override;

  int Run() override;
  // Dispatches a finished record to its completion, which frees it.
  int OnEndBEOP(BEOPOperation* record);

  // Manager thread only (and the library's lookup, see BEOPBuildVariant.h).
  RelayInfo relayInfo;
  CIPMonitor* ipMonitor = nullptr;
  UINT_PTR meetingTimer = 0;
  HANDLE queueReady = nullptr;  // set by Run once its queue exists
  ReceiverProbe* receiverProbe = nullptr;

  // True while the thread handles a message (a completion writing
  // config.ini, a lookup decode): StopBEOPMgr never terminates it then.
  bool InOperation() const { return inOperation_.load(); }

  int StopThread();

 private:
  CBEOPMgr() = default;
  void FreeQueuedRecords();
  std::atomic<bool> inOperation_{false};
};

int StartBEOPMgr();
int StopBEOPMgr();

BOOL PostOPMessage(UINT message, WPARAM wParam, LPARAM lParam);
// 0 posted or no main window; 1 the post failed.
int PostToMainWindow(UINT message, WPARAM wParam, LPARAM lParam);
void PostDevInit();
// 0 posted; BEOP_E_OUT_OF_MEMORY; BEOP_E_POST_FAILED (the record was freed).
constexpr int BEOP_E_POST_FAILED = 3;
int PostConnectionIdLookup(const std::wstring& text);
// 0, BEOP_E_NULL_PARAM, BEOP_E_INVALID_PARAM (the record is freed), or
// LaunchBEOP's result: 4 in the program when no worker could be started.
int StartBEOP(BEOPOperation* record);

int StartBackendMonitors();
int StopBackendMonitors();

void SetMeetingActive(BOOL value);
BOOL IsMeetingActive();
void CALLBACK MeetingTokenTimerProc(HWND hwnd, UINT message, UINT_PTR id, DWORD time);

std::string BEOPSponsorName(int sponsor);
std::string BEOPOperationNames(int opWord);

// Fills a lookup record (sponsor 2, op 0x4000, machine id, the service
// account, the connection ID); null when out of memory.
BEOPOperation* MakeLookupRecord(const std::wstring& connectionId);

// Completions (manager thread).
int OnEndBEOP_Meeting(BEOPOperation* record);
int OnEndBEOP_CreateMT(BEOPOperation* record);
int OnEndBEOP_UpdateMT(BEOPOperation* record);
int OnEndBEOP_QueryMT(BEOPOperation* record);
int OnEndBEOP_DeleteMT(BEOPOperation* record);
int OnEndBEOP_Castvane(BEOPOperation* record);
void NotifyRenewMT(BEOPOperation* record);
// 0 posted; 2 no memory; 3 the post failed; 4 refused. The record is freed
// on every path but the first.
int RequestMeeting(int opBit, int status, int sponsor);
void UpdateMeetingInfo();
// The description sent with a status-1 meeting update: the device name of
// the registration, in UTF-8.
std::string MeetingDescription();
