// A mirroring receiver inside the test process: answers GET /stream.xml
// (optionally with a Digest challenge or a misbehaviour), reads POST /stream
// and records the stream packets that follow.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/plist/Plist.h"
#include "foundation/digest/Md5.h"
#include "support/WaitFactor.h"

class FakeReceiver {
 public:
  enum class Mode {
    kNormal,
    kCloseAfterAccept,
    kStall,             // accept, never answer
    kChallenge,         // Digest challenge, then check the password
    kNoBodyNoChallenge,
    kNoBodyAfterAuth,   // challenge, then an empty reply to the authorised GET
    kBadPlist,
    kOversizedBody,
    kLongHeaderLine,
    kTinyScreen,
    kMissingVersion,
  };

  struct Packet {
    uint16_t type;
    uint32_t length;
    std::vector<uint8_t> header;
  };

  explicit FakeReceiver(Mode mode, std::string password = "")
      : mode_(mode), password_(std::move(password)) {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    int len = sizeof(a);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    listen(listener_, 4);
    worker_ = std::thread([this] { Serve(); });
  }

  ~FakeReceiver() {
    stop_ = true;
    closesocket(listener_);
    if (conn_ != INVALID_SOCKET) {
      shutdown(conn_, SD_BOTH);
    }
    if (worker_.joinable()) worker_.join();
    if (conn_ != INVALID_SOCKET) closesocket(conn_);
  }

  unsigned short port() const { return port_; }
  int gets() const { return gets_.load(); }
  bool posted() const { return posted_.load(); }
  bool closedBySender() const { return closedBySender_.load(); }
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> g(lock_);
    return requests_;
  }
  std::vector<uint8_t> postBody() {
    std::lock_guard<std::mutex> g(lock_);
    return postBody_;
  }
  std::vector<Packet> packets() {
    std::lock_guard<std::mutex> g(lock_);
    return packets_;
  }
  std::vector<std::string> violations() {
    std::lock_guard<std::mutex> g(lock_);
    return violations_;
  }

  static constexpr const char* kRealm = "raop";
  static constexpr const char* kNonce = "d3b07384d113edec49eaa6238ad5ff00";

 private:
  // The connection is read in chunks kept in inbox_ until taken: a byte a
  // call costs a round trip to the Wine server each, which under an
  // emulated CPU adds up to seconds a request, past the sender's time-out.
  bool Fill() {
    char chunk[4096];
    const int r = recv(conn_, chunk, sizeof(chunk), 0);
    if (r <= 0) return false;
    inbox_.append(chunk, static_cast<size_t>(r));
    return true;
  }
  bool RecvAll(void* buf, int n) {
    while (inbox_.size() < static_cast<size_t>(n)) {
      if (!Fill()) return false;
    }
    memcpy(buf, inbox_.data(), static_cast<size_t>(n));
    inbox_.erase(0, static_cast<size_t>(n));
    return true;
  }
  bool SendText(const std::string& s) {
    return send(conn_, s.data(), static_cast<int>(s.size()), 0) == static_cast<int>(s.size());
  }
  bool ReadRequest(std::string& head, std::vector<uint8_t>& body) {
    size_t end;
    while ((end = inbox_.find("\r\n\r\n")) == std::string::npos && inbox_.size() < 65536) {
      if (!Fill()) return false;
    }
    const size_t headSize = end == std::string::npos ? 65536 : end + 4;
    head = inbox_.substr(0, headSize);
    inbox_.erase(0, headSize);
    size_t at = head.find("Content-Length: ");
    long n = at == std::string::npos ? 0 : strtol(head.c_str() + at + 16, nullptr, 10);
    body.assign(static_cast<size_t>(n), 0);
    if (n > 0 && !RecvAll(body.data(), static_cast<int>(n))) return false;
    std::lock_guard<std::mutex> g(lock_);
    requests_.push_back(head);
    return true;
  }
  void Violation(const std::string& v) {
    std::lock_guard<std::mutex> g(lock_);
    violations_.push_back(v);
  }
  std::string ScreenReply(int w, int h, bool withVersion) {
    Plist::Dictionary d;
    d["width"] = static_cast<int64_t>(w);
    d["height"] = static_cast<int64_t>(h);
    if (withVersion) d["version"] = std::string("150.33");
    std::vector<char> bytes;
    Plist::SerializeBinary(d, bytes);
    return "HTTP/1.1 200 OK\r\nContent-Type: application/x-apple-binary-plist\r\nContent-Length: " +
           std::to_string(bytes.size()) + "\r\n\r\n" + std::string(bytes.begin(), bytes.end());
  }
  std::string Challenge() {
    return std::string("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"") + kRealm +
           "\", nonce=\"" + kNonce + "\"\r\nContent-Length: 0\r\n\r\n";
  }
  bool AuthorisationIsRight(const std::string& head) {
    std::string a1 = std::string("Airplay:") + kRealm + ":" + password_;
    std::string ha1 = Md5Hex(a1.data(), a1.size());
    std::string a2 = "GET:/stream.xml";
    std::string ha2 = Md5Hex(a2.data(), a2.size());
    std::string r = ha1 + ":" + kNonce + ":" + ha2;
    std::string expected = Md5Hex(r.data(), r.size());
    std::string line = std::string("Authorization: Digest username=\"Airplay\", realm=\"") +
                       kRealm + "\", nonce=\"" + kNonce + "\", uri=\"/stream.xml\", response=\"" +
                       expected + "\"\r\n";
    return head.find(line) != std::string::npos;
  }

  void Serve() {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(listener_, &set);
    timeval tv{static_cast<long>(testwait::Ms(20000) / 1000), 0};
    if (select(0, &set, nullptr, nullptr, &tv) != 1) return;
    conn_ = accept(listener_, nullptr, nullptr);
    if (conn_ == INVALID_SOCKET) return;
    DWORD tmo = testwait::Ms(20000);
    setsockopt(conn_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&tmo), sizeof(tmo));
    if (mode_ == Mode::kCloseAfterAccept) {
      closesocket(conn_);
      conn_ = INVALID_SOCKET;
      return;
    }
    std::string head;
    std::vector<uint8_t> body;
    bool challenged = false;
    for (;;) {
      if (!ReadRequest(head, body)) return;
      if (head.compare(0, 24, "GET /stream.xml HTTP/1.1") != 0) break;
      ++gets_;
      if (mode_ == Mode::kStall) {
        while (!stop_) Sleep(20);
        return;
      }
      std::string reply;
      switch (mode_) {
        case Mode::kChallenge:
          if (!challenged || !AuthorisationIsRight(head)) {
            reply = Challenge();
            challenged = true;
          } else {
            reply = ScreenReply(1280, 720, true);
          }
          break;
        case Mode::kNoBodyAfterAuth:
          reply = challenged ? std::string("HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n")
                             : Challenge();
          challenged = true;
          break;
        case Mode::kNoBodyNoChallenge:
          reply = "HTTP/1.1 200 OK\r\n\r\n";
          break;
        case Mode::kBadPlist:
          reply = "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nnot a plist";
          break;
        case Mode::kOversizedBody:
          reply = "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n" + std::string(20000, 'x');
          break;
        case Mode::kLongHeaderLine:
          reply = "HTTP/1.1 200 OK\r\nX-Junk: " + std::string(5000, 'j') + "\r\n\r\n";
          break;
        case Mode::kTinyScreen:
          reply = ScreenReply(8, 8, true);
          break;
        case Mode::kMissingVersion:
          reply = ScreenReply(1280, 720, false);
          break;
        default:
          reply = ScreenReply(1280, 720, true);
          break;
      }
      SendText(reply);
    }
    // POST /stream
    if (head.compare(0, 22, "POST /stream HTTP/1.1\r") != 0) {
      Violation("expected POST /stream, got: " + head.substr(0, 40));
      return;
    }
    {
      std::lock_guard<std::mutex> g(lock_);
      postBody_ = body;
    }
    posted_ = true;
    for (;;) {
      uint8_t h[128];
      if (!RecvAll(h, 128)) {
        closedBySender_ = !stop_;
        return;
      }
      Packet p;
      p.length = h[0] | (h[1] << 8) | (h[2] << 16) | (static_cast<uint32_t>(h[3]) << 24);
      p.type = static_cast<uint16_t>(h[4] | (h[5] << 8));
      p.header.assign(h, h + 128);
      if (p.type > 2) Violation("packet type " + std::to_string(p.type));
      if (p.length > (64u << 20)) {
        Violation("absurd payload length");
        return;
      }
      std::vector<uint8_t> payload(p.length);
      if (p.length && !RecvAll(payload.data(), static_cast<int>(p.length))) return;
      std::lock_guard<std::mutex> g(lock_);
      packets_.push_back(std::move(p));
    }
  }

  Mode mode_;
  std::string password_;
  SOCKET listener_ = INVALID_SOCKET;
  SOCKET conn_ = INVALID_SOCKET;
  std::string inbox_;  // read from conn_, not yet taken (the worker thread only)
  unsigned short port_ = 0;
  std::thread worker_;
  std::atomic<bool> stop_{false};
  std::atomic<int> gets_{0};
  std::atomic<bool> posted_{false};
  std::atomic<bool> closedBySender_{false};
  std::mutex lock_;
  std::vector<std::string> requests_;
  std::vector<uint8_t> postBody_;
  std::vector<Packet> packets_;
  std::vector<std::string> violations_;
};
