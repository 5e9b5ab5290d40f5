// Shared pieces of the control-kit tests: a host dialog on the screen and a
// solid window under it; the loop, input and screen reads come from UiDrive.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>

#include "Fixtures.h"
#include "classlib/Dialog.h"
#include "support/UiDrive.h"

namespace kittest {

using uidrive::Click;
using uidrive::MouseDown;
using uidrive::MouseMove;
using uidrive::MouseUp;
using uidrive::Pump;
using uidrive::PumpUntil;
using uidrive::ScreenPixel;

void Key(WORD vk, bool down);

// True when the two colours differ by at most tol in each channel.
inline bool Near(COLORREF a, COLORREF b, int tol = 2) { return uidrive::Near(a, b, tol); }
// Pumps until the screen shows `want` (within tol) at (x, y).
bool WaitForPixel(int x, int y, COLORREF want, int tol = 2, DWORD ms = 5000);

inline COLORREF Rgb(int r, int g, int b) { return RGB(r, g, b); }

// A topmost popup filled with one colour (the window under a translucent
// one). Destroyed with the object.
class SolidWindow {
 public:
  SolidWindow(const RECT& r, COLORREF colour);
  ~SolidWindow();
  HWND hwnd() const { return hwnd_; }

 private:
  HWND hwnd_ = nullptr;
  HBRUSH brush_ = nullptr;
};

// A topmost, foreground popup (template IDD_T_HOST, 450 x 260 pixels at the
// test font) at (100, 100), into which tests put controls. Shown modeless.
class Host : public cl::CDialog {
 public:
  Host() : cl::CDialog(IDD_T_HOST) {}
  ~Host() override { DestroyWindow(); }
  bool Open(int x = 100, int y = 100);
  // A child window of the host (class, text, style, rectangle in the host's
  // client area, id).
  HWND Child(const wchar_t* cls, const wchar_t* text, DWORD style, RECT r, UINT id);
  // Screen point of a client point.
  POINT ToScreen(int x, int y) const;

  std::function<void(UINT id, UINT code)> onCommand;
  // Enter and Escape reach the host through IsDialogMessage: it stays open.
  void OnOK() override {}
  void OnCancel() override {}
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

}  // namespace kittest
