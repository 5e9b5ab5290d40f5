// Shared pieces of the session-window tests: UiDrive's loop and input, a window
// that records what is posted to it, reading a popup menu while it is
// tracked, and a main window whose shell and session calls are recorded.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/DlgPreference.h"
#include "classlib/Wnd.h"
#include "support/UiDrive.h"

namespace sessiontest {

// The scale the test run's screen gives programs (TESS_LOGPIXELS / 96).
float RunScale();

using uidrive::CentreOf;
using uidrive::MouseMove;
using uidrive::Pump;
using uidrive::PumpUntil;

// A click (the right button with `right`) at screen coordinates.
void Click(int x, int y, bool right = false);
void DoubleClick(int x, int y);
void Key(WORD vk);

// A hidden top-level window that keeps every message posted or sent to it
// that is WM_COMMAND or at least WM_APP.
class Recorder : public cl::CWnd {
 public:
  Recorder();
  ~Recorder() override;
  struct Got {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  std::vector<Got> got;
  // The WM_COMMAND ids received, in order.
  std::vector<UINT> Commands() const;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// One item of a popup menu as the user sees it.
struct MenuItem {
  std::wstring text;
  UINT id = 0;
  bool separator = false;
  bool checked = false;
  bool grayed = false;
  HBITMAP checkedBitmap = nullptr;
  HBITMAP uncheckedBitmap = nullptr;
  RECT rect{};  // on the screen
};

// While another thread tracks a popup menu: waits for the menu window
// ("#32768"), reads its items, then runs `then` (on this helper's thread)
// with them. Join() waits for the helper (bounded).
class MenuWatcher {
 public:
  using Then = std::function<void(const std::vector<MenuItem>&, HWND menuWindow)>;
  explicit MenuWatcher(Then then, DWORD waitMs = 10000);
  ~MenuWatcher();
  void Join();
  bool sawMenu() const { return sawMenu_; }
  const std::vector<MenuItem>& items() const { return items_; }

 private:
  std::thread thread_;
  std::atomic<bool> sawMenu_{false};
  std::vector<MenuItem> items_;
};

std::vector<MenuItem> ReadMenu(HWND menuWindow);
// Closes a tracked menu from another thread (Escape to the menu window).
void DismissMenu(HWND menuWindow);

// The main window with the shell's notification-area calls recorded (and
// passed on when passThrough is set) and the session calls counted. Made
// modeless and hidden by Open; destroyed (teardown included) by Close.
class TestMainWindow : public CDlgPreference {
 public:
  struct ShellCall {
    DWORD message;
    NOTIFYICONDATAW data;
  };
  explicit TestMainWindow(bool passThrough = false) : passThrough_(passThrough) {}
  ~TestMainWindow() override;
  bool Open();
  void Close();
  // A session object that never runs: enough for "with a session".
  void GiveSession();

  std::vector<ShellCall> shellCalls;
  int videoUpdates = 0;
  int volumeUpdates = 0;
  MirrorParam& params() { return params_; }

 protected:
  BOOL ShellNotify(DWORD message, NOTIFYICONDATAW* data) override;
  void SessionUpdateVideoSettings() override { ++videoUpdates; }
  void SessionSetVolume() override { ++volumeUpdates; }

 private:
  bool passThrough_;
};

// The registry key of the tuning values, emptied.
void ClearTuningValues();

}  // namespace sessiontest
