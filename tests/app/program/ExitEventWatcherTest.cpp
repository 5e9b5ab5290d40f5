// The exit-event watcher: the exit event set by another party becomes
// ID_APP_EXIT, a second start becomes a left click on the tray icon (or
// shows the session window once there is one), and the stop never hangs on
// a bring-forward the main window has not answered yet.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>

#include "app/AppMessages.h"
#include "app/ExitEventWatcher.h"
#include "support/WaitFactor.h"

namespace {

// A window of the test thread that counts left clicks on the tray icon.
class Target {
 public:
  Target() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &Target::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"WatcherTestTarget";
    RegisterClassW(&wc);
    hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    clicks_ = 0;
  }
  ~Target() { DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }
  static int clicks() { return clicks_.load(); }
  // The next posted WM_COMMAND's id within ms (stretched by the wait
  // factor), or 0.
  UINT WaitCommand(DWORD ms) {
    ms = testwait::Ms(ms);
    for (DWORD t0 = GetTickCount(); GetTickCount() - t0 < ms;) {
      MSG msg;
      while (PeekMessageW(&msg, hwnd_, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_COMMAND) return LOWORD(msg.wParam);
        DispatchMessageW(&msg);
      }
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return 0;
  }

 private:
  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_TRAY_NOTIFY && w == kTrayIconId && l == WM_LBUTTONUP) {
      ++clicks_;
      return 0;
    }
    return DefWindowProcW(h, m, w, l);
  }
  HWND hwnd_;
  static std::atomic<int> clicks_;
};
std::atomic<int> Target::clicks_{0};

TEST(ExitEventWatcher, TheExitEventSetElsewhereBecomesTheExitCommand) {
  Target target;
  CExitEventWatcher watcher;
  ASSERT_TRUE(watcher.Start(target.hwnd(), nullptr));
  testwait::Until([&] { return watcher.ExitEvent() != nullptr; }, 2000);
  ASSERT_NE(watcher.ExitEvent(), nullptr);
  const DWORD t0 = GetTickCount();
  HANDLE other = OpenEventW(EVENT_MODIFY_STATE, FALSE, kExitEventName);
  ASSERT_NE(other, nullptr);
  SetEvent(other);
  CloseHandle(other);
  EXPECT_EQ(target.WaitCommand(5000), static_cast<UINT>(ID_APP_EXIT));
  EXPECT_LT(GetTickCount() - t0, testwait::Ms(1000));
  watcher.Stop();
  EXPECT_EQ(watcher.ExitEvent(), nullptr);
  EXPECT_FALSE(watcher.Running());
}

TEST(ExitEventWatcher, StopAnswersABringForwardInFlightInsteadOfWaitingItOut) {
  Target target;
  HANDLE instance = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  CExitEventWatcher watcher;
  ASSERT_TRUE(watcher.Start(target.hwnd(), instance));
  testwait::Until([&] { return watcher.ExitEvent() != nullptr; }, 2000);
  // A second start: the watcher sends the click and waits for this thread,
  // which does not pump until it stops the watcher.
  SetEvent(instance);
  Sleep(testwait::Ms(300));  // the click is sent and waits for this thread
  EXPECT_EQ(Target::clicks(), 0);
  const DWORD t0 = GetTickCount();
  watcher.Stop();
  const DWORD took = GetTickCount() - t0;
  EXPECT_EQ(Target::clicks(), 1);
  EXPECT_LT(took, testwait::MsBelow(2000, kExitWatcherStopBoundMs - 500)) << "the stop waited for its bound";
  CloseHandle(instance);
}

TEST(ExitEventWatcher, ASecondStartShowsTheSessionWindowOnceThereIsOne) {
  Target target;
  HWND session = CreateWindowExW(0, L"STATIC", L"session", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  HANDLE instance = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  CExitEventWatcher watcher;
  watcher.SetSessionWindow(session);
  ASSERT_TRUE(watcher.Start(target.hwnd(), instance));
  SetEvent(instance);
  testwait::Until(
      [&] {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        return IsWindowVisible(session) != FALSE;
      },
      3000);
  EXPECT_TRUE(IsWindowVisible(session));
  EXPECT_EQ(Target::clicks(), 0);
  watcher.Stop();
  DestroyWindow(session);
  CloseHandle(instance);
}

}  // namespace
