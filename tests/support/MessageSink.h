// A message-only window on a thread of its own that records the messages
// other threads post to it, for tests of code that reports by PostMessage.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "WaitFactor.h"

// Records every message from WM_USER up.
class MessageSink {
 public:
  struct Posted {
    UINT msg;
    WPARAM w;
    LPARAM l;
  };

  MessageSink() {
    thread_ = std::thread([this] { Loop(); });
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::milliseconds(testwait::Ms(10000)), [this] { return hwnd_ != nullptr || failed_; });
  }
  ~MessageSink() {
    if (hwnd_) PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    if (thread_.joinable()) thread_.join();
  }
  HWND hwnd() const { return hwnd_; }

  std::vector<Posted> Messages(UINT msg) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Posted> out;
    for (const Posted& p : posted_) {
      if (p.msg == msg) out.push_back(p);
    }
    return out;
  }
  // Waits until `count` messages `msg` arrived; false after timeoutMs
  // (stretched by the wait factor).
  bool WaitFor(UINT msg, size_t count, DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(testwait::Ms(timeoutMs)), [&] {
      size_t n = 0;
      for (const Posted& p : posted_) n += p.msg == msg;
      return n >= count;
    });
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.clear();
  }

 private:
  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    auto* self = reinterpret_cast<MessageSink*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(l);
      SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    } else if (self && msg >= 0x0400) {
      {
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->posted_.push_back({msg, w, l});
      }
      self->cv_.notify_all();
      return 0;
    } else if (msg == WM_CLOSE) {
      DestroyWindow(h);
      return 0;
    } else if (msg == WM_DESTROY) {
      PostQuitMessage(0);
      return 0;
    }
    return DefWindowProcW(h, msg, w, l);
  }
  void Loop() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &MessageSink::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TessMessageSink";
    RegisterClassW(&wc);
    HWND h = CreateWindowExW(0, wc.lpszClassName, L"sink", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             wc.hInstance, this);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      hwnd_ = h;
      failed_ = h == nullptr;
    }
    cv_.notify_all();
    if (!h) return;
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  }

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  HWND hwnd_ = nullptr;
  bool failed_ = false;
  std::vector<Posted> posted_;
};

// Waits for cond, polling every 20 ms; false after timeoutMs (stretched by
// the wait factor).
inline bool WaitUntil(const std::function<bool()>& cond, DWORD timeoutMs) {
  timeoutMs = testwait::Ms(timeoutMs);
  const DWORD start = GetTickCount();
  while (!cond()) {
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(20);
  }
  return true;
}
