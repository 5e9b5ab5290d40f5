// A topmost popup window over part of the screen, painted by a callback on
// its own thread, for tests that capture the screen.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <thread>

#include "WaitFactor.h"

class TestWindow {
 public:
  using Painter = std::function<void(HDC, const RECT&)>;

  TestWindow(const RECT& rect, Painter painter) : rect_(rect), painter_(std::move(painter)) {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this] { Loop(); });
    WaitForSingleObject(ready_, testwait::Ms(10000));
  }
  ~TestWindow() {
    if (hwnd_) PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    if (thread_.joinable()) thread_.join();
    CloseHandle(ready_);
  }
  HWND hwnd() const { return hwnd_; }
  // Waits until the window has painted itself at least `paints` times;
  // false after ms (stretched by the wait factor).
  bool WaitPainted(int paints = 1, DWORD ms = 5000) {
    ms = testwait::Ms(ms);
    for (const DWORD t0 = GetTickCount(); GetTickCount() - t0 < ms; Sleep(20)) {
      if (paints_.load() >= paints) return true;
    }
    return paints_.load() >= paints;
  }

  // Four quadrants: red, green, blue, white (top-left, top-right,
  // bottom-left, bottom-right).
  static void Quadrants(HDC dc, const RECT& rc) {
    const int mx = (rc.left + rc.right) / 2, my = (rc.top + rc.bottom) / 2;
    const struct {
      RECT r;
      COLORREF c;
    } parts[] = {{{rc.left, rc.top, mx, my}, RGB(255, 0, 0)},
                 {{mx, rc.top, rc.right, my}, RGB(0, 255, 0)},
                 {{rc.left, my, mx, rc.bottom}, RGB(0, 0, 255)},
                 {{mx, my, rc.right, rc.bottom}, RGB(255, 255, 255)}};
    for (const auto& p : parts) {
      HBRUSH b = CreateSolidBrush(p.c);
      FillRect(dc, &p.r, b);
      DeleteObject(b);
    }
  }

 private:
  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
      SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    } else if (msg == WM_PAINT && self) {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      RECT rc;
      GetClientRect(h, &rc);
      self->painter_(dc, rc);
      EndPaint(h, &ps);
      self->paints_++;
      return 0;
    } else if (msg == WM_ERASEBKGND) {
      return 1;
    } else if (msg == WM_DESTROY) {
      PostQuitMessage(0);
      return 0;
    }
    return DefWindowProcW(h, msg, wp, lp);
  }

  void Loop() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &TestWindow::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TessTestWindow";
    RegisterClassW(&wc);  // a second registration fails harmlessly
    hwnd_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, L"test",
                            WS_POPUP | WS_VISIBLE, rect_.left, rect_.top,
                            rect_.right - rect_.left, rect_.bottom - rect_.top, nullptr, nullptr,
                            wc.hInstance, this);
    SetEvent(ready_);
    if (!hwnd_) return;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    hwnd_ = nullptr;
  }

  RECT rect_;
  Painter painter_;
  HANDLE ready_ = nullptr;
  HWND hwnd_ = nullptr;
  std::atomic<int> paints_{0};
  std::thread thread_;
};
