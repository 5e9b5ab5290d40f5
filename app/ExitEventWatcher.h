// The thread that watches the two events other processes use to steer the
// running program: "Global\Nb5TxExitEvent" (quit) and the per-user
// single-instance event (a second start: bring the session window forward).
//
// The main window starts it from its init hook and stops it first thing in
// its teardown. The thread reaches the main window only by posted or sent
// messages and by ShowWindow on the session window.
#pragma once

#include <windows.h>

#include <atomic>

// How long Stop waits for the thread before it terminates it. The thread
// wakes on the stop event at once; only a thread stuck elsewhere (a sent
// message that is never answered) is cut off.
constexpr DWORD kExitWatcherStopBoundMs = 5000;

class CExitEventWatcher {
 public:
  CExitEventWatcher();
  ~CExitEventWatcher();
  CExitEventWatcher(const CExitEventWatcher&) = delete;
  CExitEventWatcher& operator=(const CExitEventWatcher&) = delete;

  // Starts the thread for mainWindow; instanceEvent (may be null) stays the
  // caller's and must outlive Stop. False when the thread was not made.
  bool Start(HWND mainWindow, HANDLE instanceEvent);
  // The session window once it exists: a second start shows it directly.
  void SetSessionWindow(HWND hwnd) { sessionWindow_.store(hwnd); }
  // Wakes the thread by the stop event and waits for it, answering messages
  // sent to this thread meanwhile (the thread may be inside a SendMessage to
  // the main window), at most boundMs; then closes the thread and the exit
  // event. Safe when never started.
  void Stop(DWORD boundMs = kExitWatcherStopBoundMs);

  // The exit event once the thread made it; null before and after.
  HANDLE ExitEvent() const { return exitEvent_.load(); }
  bool Running() const { return thread_ != nullptr; }

 private:
  static unsigned __stdcall ThreadProc(void* self);
  void Run();

  HWND main_ = nullptr;
  HANDLE instanceEvent_ = nullptr;
  HANDLE stopEvent_ = nullptr;
  HANDLE thread_ = nullptr;
  std::atomic<HANDLE> exitEvent_{nullptr};
  std::atomic<HWND> sessionWindow_{nullptr};
};
