// Thread bases and critical-section wrappers shared by the engine and the
// backend client.
//
// CBaseThread: the engine's worker threads. Stop protocol: set the stop flag,
// wait a bounded time, terminate as the last resort (exit code -4).
// thread: the backend manager's message-queue thread, stopped by WM_QUIT.
#pragma once

#include <windows.h>

#include <atomic>

// Exit code of a CBaseThread worker that had to be terminated.
constexpr DWORD kThreadTerminatedExitCode = 0xFFFFFFFC;  // -4
// Exit code of a `thread` that had to be terminated.
constexpr DWORD kQueueThreadTerminatedExitCode = 0xFFFFFFFF;  // -1
// Default bound of the stop wait of engine threads.
constexpr DWORD kThreadStopWaitMs = 5000;

class CBaseThread {
 public:
  CBaseThread();
  // Neither waits nor terminates: the owner stops the thread first.
  virtual ~CBaseThread();

  // The thread body; returns when StopRequested() becomes true.
  virtual int Run() = 0;

  bool IsRunning() const { return running_.load(); }
  bool StopRequested() const { return stopRequested_.load(); }
  HANDLE ThreadHandle() const { return handle_; }
  unsigned ThreadId() const { return threadId_; }
  int PriorityState() const { return priorityState_; }

  // Raises the calling thread (the worker itself) to THREAD_PRIORITY_HIGHEST;
  // -7 on failure.
  int SetHighestPriority();

  // The common protocol, usable by subclasses as their start/reset/stop.
  // ResetThread: prepares an object whose thread was stopped for a new start.
  void ResetThread();
  // StartThread: 0, or -1 when no thread could be created (running stays false).
  int StartThread();
  // StopThread: stop flag, wait up to waitMs, terminate with -4 when the
  // worker is still running and terminateOnTimeout. Returns 0.
  int StopThread(DWORD waitMs = kThreadStopWaitMs, bool terminateOnTimeout = true);

  // Only sets the flag (owners with their own wait use it with WaitThread).
  void RequestStop() { stopRequested_.store(true); }
  // Waits up to waitMs for the worker; true when it ended (or never ran).
  // The handle is closed when it ended.
  bool WaitThread(DWORD waitMs);

 protected:
  static unsigned __stdcall ThreadProc(void* arg);

  HANDLE handle_ = nullptr;
  unsigned threadId_ = 0;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopRequested_{false};
  bool initialised_ = true;
  int priorityState_ = 2;
  int spare_ = 0;
};

class thread {
 public:
  thread() = default;
  // Terminates a thread that is still known by its handle (exit code -1).
  virtual ~thread();
  virtual int Run() = 0;

  // Starts the thread unless it runs; returns whether it runs.
  bool Start();
  // WM_QUIT to the thread's queue, a 1000 ms wait, termination on time-out;
  // then the handle is closed and forgotten.
  void Stop(DWORD waitMs = 1000);

  bool IsRunning() const { return running_.load(); }
  HANDLE ThreadHandle() const { return handle_; }
  unsigned ThreadId() const { return threadId_; }

 protected:
  static unsigned __stdcall ThreadProc(void* arg);

  HANDLE handle_ = nullptr;
  std::atomic<bool> running_{false};
  unsigned threadId_ = 0;
};

// Keeps the module that holds this code loaded while a thread of it runs,
// so a host that unloads a DLL (FreeLibrary) while such a thread is still
// past its owner's bound never has the code unmapped under it. A thread
// takes the pin first thing and leaves with ExitPinnedThread. In the main
// program, which is never unloaded, the pin is empty.
HMODULE PinOwnModule();
// Ends the calling thread with `code`, releasing the pin last (the module
// may be unloaded then). With an empty pin it returns and the thread
// returns `code` itself.
void ExitPinnedThread(HMODULE pin, DWORD code);

// Critical section made with spin count 0x80000400; users lock only while
// `initialised` is set, and run unlocked otherwise.
class CBaseMutex {
 public:
  CBaseMutex();
  virtual ~CBaseMutex();
  CBaseMutex(const CBaseMutex&) = delete;
  CBaseMutex& operator=(const CBaseMutex&) = delete;

  void Lock() {
    if (initialised) EnterCriticalSection(&section);
  }
  void Unlock() {
    if (initialised) LeaveCriticalSection(&section);
  }

  CRITICAL_SECTION section;
  bool initialised = false;
};

// Critical section made with spin count 0; `made` records success.
class critical_section_lock {
 public:
  critical_section_lock();
  virtual ~critical_section_lock();
  critical_section_lock(const critical_section_lock&) = delete;
  critical_section_lock& operator=(const critical_section_lock&) = delete;

  void enter() { EnterCriticalSection(&section); }
  void leave() { LeaveCriticalSection(&section); }

  CRITICAL_SECTION section;
  int made = 0;
};

// Scoped holder for either lock type.
template <typename Lockable>
class ScopedLock;

template <>
class ScopedLock<CBaseMutex> {
 public:
  explicit ScopedLock(CBaseMutex& m) : m_(m) { m_.Lock(); }
  ~ScopedLock() { m_.Unlock(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CBaseMutex& m_;
};

template <>
class ScopedLock<critical_section_lock> {
 public:
  explicit ScopedLock(critical_section_lock& m) : m_(m) { m_.enter(); }
  ~ScopedLock() { m_.leave(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  critical_section_lock& m_;
};
