#include "foundation/thread/Threads.h"

#include <process.h>

// ---------------------------------------------------------------- CBaseThread

CBaseThread::CBaseThread() = default;

CBaseThread::~CBaseThread() {
  stopRequested_ = false;
  initialised_ = false;
  if (handle_) {
    CloseHandle(handle_);
    handle_ = nullptr;
  }
}

void CBaseThread::ResetThread() {
  spare_ = 0;
  if (!initialised_) {
    handle_ = nullptr;
    stopRequested_ = false;
    initialised_ = true;
    running_ = false;
  }
}

int CBaseThread::StartThread() {
  running_ = true;
  stopRequested_ = false;
  uintptr_t h = _beginthreadex(nullptr, 0, &CBaseThread::ThreadProc, this, 0, &threadId_);
  if (h == 0) {
    running_ = false;
    return -1;
  }
  handle_ = reinterpret_cast<HANDLE>(h);
  return 0;
}

bool CBaseThread::WaitThread(DWORD waitMs) {
  if (!handle_) return true;
  if (WaitForSingleObject(handle_, waitMs) != WAIT_OBJECT_0) return false;
  CloseHandle(handle_);
  handle_ = nullptr;
  return true;
}

int CBaseThread::StopThread(DWORD waitMs, bool terminateOnTimeout) {
  stopRequested_ = true;
  if (running_ && handle_) {
    DWORD r = WaitForSingleObject(handle_, waitMs);
    bool ended = (r == WAIT_OBJECT_0);
    if (!ended && running_ && terminateOnTimeout) {
      if (TerminateThread(handle_, kThreadTerminatedExitCode)) {
        // Termination is asynchronous: let it finish before the handle goes.
        WaitForSingleObject(handle_, 1000);
        running_ = false;
        ended = true;
      }
    }
    if (ended) {
      CloseHandle(handle_);
      handle_ = nullptr;
    }
  }
  stopRequested_ = false;
  initialised_ = false;
  if (handle_ && !running_) {
    CloseHandle(handle_);
    handle_ = nullptr;
  }
  return 0;
}

int CBaseThread::SetHighestPriority() {
  if (!SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST)) return -7;
  priorityState_ = 1;
  return 0;
}

unsigned __stdcall CBaseThread::ThreadProc(void* arg) {
  auto* self = static_cast<CBaseThread*>(arg);
  // Touching the input desktop attaches the thread to it (needed by capture
  // threads of a process started on another desktop).
  if (HDESK desk = OpenInputDesktop(0, FALSE, GENERIC_ALL)) CloseDesktop(desk);
  self->Run();
  self->running_ = false;
  return 0;
}

// ---------------------------------------------------------------- thread

thread::~thread() {
  if (handle_) TerminateThread(handle_, kQueueThreadTerminatedExitCode);
}

bool thread::Start() {
  if (running_) {
    if (handle_) threadId_ = GetThreadId(handle_);
    return true;
  }
  unsigned id = 0;
  uintptr_t h = _beginthreadex(nullptr, 0, &thread::ThreadProc, this, CREATE_SUSPENDED, &id);
  running_ = (h != 0);
  if (running_) {
    handle_ = reinterpret_cast<HANDLE>(h);
    threadId_ = id;
    ResumeThread(handle_);
  }
  return running_;
}

void thread::Stop(DWORD waitMs) {
  if (threadId_) PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
  if (running_ && handle_) {
    if (WaitForSingleObject(handle_, waitMs) != WAIT_OBJECT_0) {
      TerminateThread(handle_, kQueueThreadTerminatedExitCode);
      WaitForSingleObject(handle_, 1000);
      running_ = false;
    }
  }
  if (handle_) {
    CloseHandle(handle_);
    handle_ = nullptr;
  }
}

unsigned __stdcall thread::ThreadProc(void* arg) {
  auto* self = static_cast<thread*>(arg);
  self->Run();
  self->running_ = false;
  return 0;
}

// ---------------------------------------------------------------- module pin

HMODULE PinOwnModule() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&PinOwnModule), &module))
    return nullptr;
  if (module == GetModuleHandleW(nullptr)) {
    FreeLibrary(module);
    return nullptr;
  }
  return module;
}

void ExitPinnedThread(HMODULE pin, DWORD code) {
  if (pin) FreeLibraryAndExitThread(pin, code);
}

// ---------------------------------------------------------------- locks

CBaseMutex::CBaseMutex() {
  initialised = InitializeCriticalSectionAndSpinCount(&section, 0x80000400) != FALSE;
}

CBaseMutex::~CBaseMutex() {
  if (initialised) {
    DeleteCriticalSection(&section);
    initialised = false;
  }
}

critical_section_lock::critical_section_lock() {
  made = InitializeCriticalSectionAndSpinCount(&section, 0) ? 1 : 0;
}

critical_section_lock::~critical_section_lock() {
  if (made) {
    DeleteCriticalSection(&section);
    made = 0;
  }
}
