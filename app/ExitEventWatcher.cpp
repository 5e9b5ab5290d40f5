#include "app/ExitEventWatcher.h"

#include <process.h>

#include "app/AppMessages.h"
#include "foundation/log/Logger.h"
#include "foundation/sys/SysUtil.h"

CExitEventWatcher::CExitEventWatcher() { stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr); }

CExitEventWatcher::~CExitEventWatcher() {
  Stop();
  if (stopEvent_) CloseHandle(stopEvent_);
}

bool CExitEventWatcher::Start(HWND mainWindow, HANDLE instanceEvent) {
  if (thread_ || !stopEvent_) return false;
  main_ = mainWindow;
  instanceEvent_ = instanceEvent;
  ResetEvent(stopEvent_);
  const uintptr_t h = _beginthreadex(nullptr, 0, &CExitEventWatcher::ThreadProc, this, 0, nullptr);
  thread_ = reinterpret_cast<HANDLE>(h);
  return thread_ != nullptr;
}

unsigned __stdcall CExitEventWatcher::ThreadProc(void* self) {
  static_cast<CExitEventWatcher*>(self)->Run();
  return 0;
}

void CExitEventWatcher::Run() {
  HANDLE exitEvent = CreateEventWithSA(kExitEventName);
  if (!exitEvent) {
    ZtLogger::Instance().Error("create exit event failed");
    return;
  }
  exitEvent_.store(exitEvent);
  HANDLE waits[3] = {exitEvent, stopEvent_, instanceEvent_};
  const DWORD count = instanceEvent_ ? 3 : 2;
  for (;;) {
    const DWORD r = WaitForMultipleObjects(count, waits, FALSE, 500);
    if (r == WAIT_OBJECT_0) {
      ZtLogger::Instance().Info("get exit event... start to quit");
      PostMessageW(main_, WM_COMMAND, ID_APP_EXIT, 0);
    } else if (r == WAIT_OBJECT_0 + 1) {
      return;
    } else if (r == WAIT_OBJECT_0 + 2) {
      HWND session = sessionWindow_.load();
      if (session) {
        ShowWindow(session, SW_SHOWNORMAL);
      } else {
        // Sent, not posted: the next second start waits until this one's
        // window exists, so it finds and shows it.
        SendMessageW(main_, WM_TRAY_NOTIFY, kTrayIconId, WM_LBUTTONUP);
      }
    } else if (r == WAIT_FAILED) {
      return;
    }
  }
}

void CExitEventWatcher::Stop(DWORD boundMs) {
  if (thread_) {
    SetEvent(stopEvent_);
    const DWORD start = GetTickCount();
    for (;;) {
      const DWORD elapsed = GetTickCount() - start;
      if (elapsed >= boundMs) {
        ZtLogger::Instance().Error("[UI]exit event watcher did not end in %lu ms; terminated", boundMs);
        TerminateThread(thread_, 1);
        break;
      }
      const DWORD r = MsgWaitForMultipleObjects(1, &thread_, FALSE, boundMs - elapsed, QS_SENDMESSAGE);
      if (r == WAIT_OBJECT_0) break;
      if (r == WAIT_OBJECT_0 + 1) {
        // Answers what other threads sent to this one; posted messages stay queued.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        continue;
      }
      if (r == WAIT_FAILED) break;
    }
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  HANDLE exitEvent = exitEvent_.exchange(nullptr);
  if (exitEvent) CloseHandle(exitEvent);
}
