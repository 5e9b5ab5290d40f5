#include "foundation/netmon/IPMonitor.h"

#include <iphlpapi.h>

CIPMonitor::CIPMonitor() {
  WSADATA wsa;
  socketsStarted_ = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
}

CIPMonitor::~CIPMonitor() {
  // The owner normally stopped the thread already; a bounded wait here keeps
  // a late stop from terminating a thread that is about to end anyway.
  Stop(kDestructorStopMs);
  if (stopEvent_) CloseHandle(stopEvent_);
  if (socketsStarted_) WSACleanup();
}

bool CIPMonitor::StartMonitor(Callback callback, ULONG_PTR userData) {
  if (thread_) return false;
  if (!stopEvent_) stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!stopEvent_) {
    lastError = GetLastError();
    return false;
  }
  ResetEvent(stopEvent_);
  callback_ = callback;
  userData_ = userData;
  running_ = true;
  thread_ = CreateThread(nullptr, 0, &CIPMonitor::ThreadProc, this, 0, nullptr);
  if (!thread_) {
    lastError = GetLastError();
    callback_ = nullptr;
    userData_ = 0;
    running_ = false;
    return false;
  }
  lastError = 0;
  return true;
}

DWORD WINAPI CIPMonitor::ThreadProc(LPVOID param) {
  auto* self = static_cast<CIPMonitor*>(param);
  if (!self || !self->callback_) return 0;
  return static_cast<DWORD>(self->Run());
}

DWORD CIPMonitor::RequestChange(OVERLAPPED* overlapped) {
  HANDLE handle = nullptr;
  return NotifyAddrChange(&handle, overlapped);
}

void CIPMonitor::CancelChange(OVERLAPPED* overlapped) { CancelIPChangeNotify(overlapped); }

int CIPMonitor::Run() {
  int result = 0;
  while (running_ && result == 0) {
    ZeroMemory(&overlapped_, sizeof(overlapped_));
    overlapped_.hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!overlapped_.hEvent) return static_cast<int>(GetLastError());
    const DWORD requested = RequestChange(&overlapped_);
    if (requested != NO_ERROR && requested != ERROR_IO_PENDING) {
      CloseHandle(overlapped_.hEvent);
      overlapped_.hEvent = nullptr;
      return static_cast<int>(requested);
    }
    HANDLE waits[2] = {overlapped_.hEvent, stopEvent_};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0) {
      if (callback_ && running_) result = callback_(userData_);
    } else {
      // Stopped (or the wait failed): the request is still pending and must
      // be withdrawn before its event and structure go away.
      CancelChange(&overlapped_);
      if (woke != WAIT_OBJECT_0 + 1) result = static_cast<int>(GetLastError());
    }
    CloseHandle(overlapped_.hEvent);
    overlapped_.hEvent = nullptr;
  }
  return result;
}

int CIPMonitor::Stop(DWORD timeoutMs) {
  if (!thread_) return 0;
  running_ = false;
  if (stopEvent_) SetEvent(stopEvent_);
  int exitCode;
  if (WaitForSingleObject(thread_, timeoutMs) != WAIT_OBJECT_0) {
    // The callback itself is stuck: the last resort.
    TerminateThread(thread_, static_cast<DWORD>(-1));
    exitCode = -1;
  } else {
    DWORD code = 0;
    GetExitCodeThread(thread_, &code);
    exitCode = static_cast<int>(code);
  }
  CloseHandle(thread_);
  thread_ = nullptr;
  callback_ = nullptr;
  userData_ = 0;
  return exitCode;
}
