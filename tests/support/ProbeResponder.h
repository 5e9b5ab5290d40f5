// A receiver's probe port on loopback for tests: accepts connections on a
// thread of its own, records each request and answers with a fixed text
// (or closes, or stays silent). RefusedPort() gives a port nobody listens on.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "WaitFactor.h"

class ProbeResponder {
 public:
  enum class Mode { kAnswer, kClose, kSilent };

  // port 0: a free one (another responder's port serves a second address).
  explicit ProbeResponder(std::string answer, Mode mode = Mode::kAnswer,
                          const char* address = "127.0.0.1", unsigned short port = 0)
      : answer_(std::move(answer)), mode_(mode) {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = inet_addr(address);
    bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    listen(listener_, 8);
    int len = sizeof(a);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Loop(); });
  }
  ~ProbeResponder() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    closesocket(listener_);
  }
  unsigned short port() const { return port_; }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> g(mutex_);
    return requests_;
  }

  static unsigned short RefusedPort() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    int len = sizeof(a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    closesocket(s);
    return ntohs(a.sin_port);
  }

 private:
  void Loop() {
    while (!stop_) {
      fd_set r;
      FD_ZERO(&r);
      FD_SET(listener_, &r);
      timeval tv{0, 50000};
      if (select(0, &r, nullptr, nullptr, &tv) != 1) continue;
      SOCKET c = accept(listener_, nullptr, nullptr);
      if (c == INVALID_SOCKET) continue;
      Serve(c);
      closesocket(c);
    }
  }
  void Serve(SOCKET c) {
    DWORD ms = testwait::Ms(2000);
    setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof(ms));
    std::string text;
    char buf[1024];
    while (text.find("\r\n\r\n") == std::string::npos && text.size() < 8192) {
      const int n = recv(c, buf, sizeof(buf), 0);
      if (n <= 0) break;
      text.append(buf, static_cast<size_t>(n));
    }
    {
      std::lock_guard<std::mutex> g(mutex_);
      requests_.push_back(text);
    }
    if (mode_ == Mode::kAnswer) {
      send(c, answer_.data(), static_cast<int>(answer_.size()), 0);
    } else if (mode_ == Mode::kSilent) {
      for (int i = 0; i < 100 && !stop_; ++i) Sleep(50);
    }
  }

  std::string answer_;
  Mode mode_;
  SOCKET listener_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
};
