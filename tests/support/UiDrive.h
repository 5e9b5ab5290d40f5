// Driving the UI tests' windows as a person would: this layer's message loop
// run for a while or until something holds, real input (SendInput) at screen
// coordinates, and the screen read back. Shared by the control-kit, dialog
// and session-window tests, whose own headers add their settle times.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <functional>

#include "WaitFactor.h"
#include "classlib/Wnd.h"

namespace uidrive {

// Runs this layer's loop (the PreTranslateMessage walk included) until
// pred() holds or ms (stretched by the wait factor) pass; true when pred()
// held. Every wait of the UI tests ends here.
inline bool PumpUntil(const std::function<bool()>& pred, DWORD ms = 5000) {
  ms = testwait::Ms(ms);
  const DWORD start = GetTickCount();
  MSG msg;
  for (;;) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return pred();
      if (!cl::WalkPreTranslateTree(&msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    if (pred()) return true;
    if (GetTickCount() - start >= ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

// Runs the loop for ms.
inline void Pump(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

// One mouse event; with MOUSEEVENTF_ABSOLUTE, (x, y) are screen pixels.
inline void SendMouse(DWORD flags, int x = 0, int y = 0, DWORD data = 0) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dwFlags = flags;
  in.mi.mouseData = data;
  if (flags & MOUSEEVENTF_ABSOLUTE) {
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    in.mi.dx = MulDiv(x, 65535, w - 1);
    in.mi.dy = MulDiv(y, 65535, h - 1);
  }
  SendInput(1, &in, sizeof(in));
}

// One key going down or up.
inline void SendKey(WORD vk, bool down) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  SendInput(1, &in, sizeof(in));
}

// A key pressed and released in one go (no other input between the two).
inline void TapKey(WORD vk) {
  INPUT in[2] = {};
  in[0].type = in[1].type = INPUT_KEYBOARD;
  in[0].ki.wVk = in[1].ki.wVk = vk;
  in[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, in, sizeof(INPUT));
}

// The pointer moved to (x, y), then the loop run until the move has landed.
inline void MouseMove(int x, int y) {
  SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, x, y);
  Pump(60);
}

inline void MouseDown() {
  SendMouse(MOUSEEVENTF_LEFTDOWN);
  Pump(60);
}

inline void MouseUp() {
  SendMouse(MOUSEEVENTF_LEFTUP);
  Pump(60);
}

// A left click at (x, y), each step given time to land.
inline void Click(int x, int y) {
  MouseMove(x, y);
  MouseDown();
  MouseUp();
}

// The centre of a window on the screen.
inline POINT CentreOf(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// The colour the screen shows now at (x, y).
inline COLORREF ScreenPixel(int x, int y) {
  HDC screen = GetDC(nullptr);
  const COLORREF c = GetPixel(screen, x, y);
  ReleaseDC(nullptr, screen);
  return c;
}

// True when the two colours differ by at most tol in each channel.
inline bool Near(COLORREF a, COLORREF b, int tol) {
  return std::abs(GetRValue(a) - GetRValue(b)) <= tol && std::abs(GetGValue(a) - GetGValue(b)) <= tol &&
         std::abs(GetBValue(a) - GetBValue(b)) <= tol;
}

}  // namespace uidrive
