// Watches the local IP address table and calls its owner back on every
// change, from a thread of its own.
//
// The callback runs on the monitor thread; it returns 0 to go on watching,
// any other value ends the thread with that exit code. Stop wakes the
// thread through an event of its own, so stopping never depends on the
// system completing the cancelled change request.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>

class CIPMonitor {
 public:
  using Callback = int(__stdcall*)(ULONG_PTR userData);

  // Starts Windows Sockets 2.2 for the process.
  CIPMonitor();
  // Stops a thread still running (bounded wait) and stops Windows Sockets.
  // A subclass that overrides the request hooks stops the thread in its own
  // destructor, before its part of the object is gone.
  virtual ~CIPMonitor();
  CIPMonitor(const CIPMonitor&) = delete;
  CIPMonitor& operator=(const CIPMonitor&) = delete;

  // Exit code of the thread, 0 when none ran; -1 when it had to be
  // terminated after timeoutMs.
  virtual int Stop(DWORD timeoutMs);
  // The thread body; returns the value that ended it.
  virtual int Run();

  // False when a thread exists or cannot be created (lastError tells why).
  bool StartMonitor(Callback callback, ULONG_PTR userData);
  static DWORD WINAPI ThreadProc(LPVOID param);

  DWORD lastError = 0;

  // Bound of the destructor's stop.
  static constexpr DWORD kDestructorStopMs = 1000;

 protected:
  // Requests notification of the next change into overlapped (whose event is
  // set); returns the call's own result: NO_ERROR, ERROR_IO_PENDING or an
  // error. The result is not read from the thread's last error, which some
  // systems leave at 0 for a pending request.
  virtual DWORD RequestChange(OVERLAPPED* overlapped);
  virtual void CancelChange(OVERLAPPED* overlapped);

 private:
  HANDLE thread_ = nullptr;
  HANDLE stopEvent_ = nullptr;  // manual reset; set by Stop
  OVERLAPPED overlapped_ = {};
  std::atomic<bool> running_{false};
  Callback callback_ = nullptr;
  ULONG_PTR userData_ = 0;
  bool socketsStarted_ = false;
};
