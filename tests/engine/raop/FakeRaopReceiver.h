// An RAOP receiver inside the test process, on loopback: an RTSP server for
// one connection whose replies a test may script, and the receiver's UDP
// data, control and timing sockets. It records every request and datagram.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/raop/RaopUtil.h"
#include "foundation/digest/Md5.h"
#include "support/WaitFactor.h"

// Collects the RAOP module's diagnostic lines while it exists.
class RaopMessages {
 public:
  RaopMessages() {
    clear();
    raopcl_set_message_hook(&Collect);
  }
  ~RaopMessages() { raopcl_set_message_hook(nullptr); }
  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> g(Lock());
    return Lines();
  }
  bool contains(const std::string& text) {
    for (const auto& l : lines()) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  }
  void clear() {
    std::lock_guard<std::mutex> g(Lock());
    Lines().clear();
  }

 private:
  static std::mutex& Lock() {
    static std::mutex m;
    return m;
  }
  static std::vector<std::string>& Lines() {
    static std::vector<std::string> l;
    return l;
  }
  static void Collect(const char* line) {
    std::lock_guard<std::mutex> g(Lock());
    Lines().push_back(line);
  }
};

struct RtspRequest {
  std::string method;
  std::string head;  // request line and headers, CR LF included, up to the empty line
  std::string body;
  std::string header(const std::string& name) const {  // value without the ": ", or ""
    const std::string key = "\r\n" + name + ": ";
    size_t at = head.find(key);
    if (at == std::string::npos) return "";
    at += key.size();
    return head.substr(at, head.find("\r\n", at) - at);
  }
  bool has(const std::string& name) const { return head.find("\r\n" + name + ": ") != std::string::npos; }
  int cseq() const { return atoi(header("CSeq").c_str()); }
};

struct RtspReply {
  std::string text;    // sent as is
  bool close = false;  // close the connection instead of (after) sending text
  bool stall = false;  // send text, then never answer again
};

struct Datagram {
  std::vector<uint8_t> bytes;
  uint16_t fromPort;
  DWORD at;  // GetTickCount when it arrived
};

inline uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

class FakeRaopReceiver {
 public:
  using Script = std::function<bool(const RtspRequest&, RtspReply*)>;

  static constexpr const char* kRealm = "raop-test";
  static constexpr const char* kNonce = "8a1b2c3d4e5f60718293a4b5c6d7e8f9";
  static constexpr const char* kSession = "DEADBEEF";

  // password: non-empty makes ANNOUNCE answer 401 until a right Digest
  // authorisation comes (and every later request must carry one).
  explicit FakeRaopReceiver(std::string password = "") : password_(std::move(password)) {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = Loopback(0);
    bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    port_ = LocalPort(listener_);
    listen(listener_, 4);
    data_ = OpenUdp(&dataPort_);
    control_ = OpenUdp(&controlPort_);
    timing_ = OpenUdp(&timingPort_);
    rtsp_ = std::thread([this] { Serve(); });
    udp_ = std::thread([this] { ReceiveUdp(); });
  }

  ~FakeRaopReceiver() {
    stop_ = true;
    closesocket(listener_);
    {
      std::lock_guard<std::mutex> g(lock_);
      if (conn_ != INVALID_SOCKET) shutdown(conn_, SD_BOTH);
    }
    if (rtsp_.joinable()) rtsp_.join();
    if (udp_.joinable()) udp_.join();
    if (conn_ != INVALID_SOCKET) closesocket(conn_);
    closesocket(data_);
    closesocket(control_);
    closesocket(timing_);
  }

  // A script sees every request first; returning true means it filled the
  // reply, false leaves the request to the normal receiver.
  void SetScript(Script s) {
    std::lock_guard<std::mutex> g(lock_);
    script_ = std::move(s);
  }
  // Transport text of the SETUP reply (default: all three ports).
  void SetTransport(std::string t) {
    std::lock_guard<std::mutex> g(lock_);
    transport_ = std::move(t);
  }
  void SetJackStatus(bool on) { jackStatus_ = on; }

  uint16_t port() const { return port_; }
  uint16_t dataPort() const { return dataPort_; }
  uint16_t controlPort() const { return controlPort_; }
  uint16_t timingPort() const { return timingPort_; }
  bool accepted() const { return accepted_.load(); }
  std::string DefaultTransport() const {
    return "RTP/AVP/UDP;unicast;mode=record;server_port=" + std::to_string(dataPort_) +
           ";control_port=" + std::to_string(controlPort_) + ";timing_port=" + std::to_string(timingPort_);
  }

  std::vector<RtspRequest> requests() {
    std::lock_guard<std::mutex> g(lock_);
    return requests_;
  }
  std::vector<Datagram> audio() {
    std::lock_guard<std::mutex> g(lock_);
    return audio_;
  }
  std::vector<Datagram> syncs() {
    std::lock_guard<std::mutex> g(lock_);
    return syncs_;
  }
  std::vector<std::string> violations() {
    std::lock_guard<std::mutex> g(lock_);
    return violations_;
  }
  // Waits (ms stretched by the wait factor) until n datagrams or requests
  // arrived; false if they did not.
  bool WaitAudio(size_t n, DWORD ms) {
    ms = testwait::Ms(ms);
    for (DWORD t0 = GetTickCount(); GetTickCount() - t0 < ms; Sleep(10)) {
      if (audio().size() >= n) return true;
    }
    return audio().size() >= n;
  }
  bool WaitRequests(size_t n, DWORD ms) {
    ms = testwait::Ms(ms);
    for (DWORD t0 = GetTickCount(); GetTickCount() - t0 < ms; Sleep(10)) {
      if (requests().size() >= n) return true;
    }
    return requests().size() >= n;
  }

  // The Digest response a client must send for method (user "iTunes").
  static std::string ExpectedResponse(const std::string& password, const std::string& method,
                                      const std::string& uri) {
    const std::string a1 = std::string("iTunes:") + kRealm + ":" + password;
    const std::string a2 = method + ":" + uri;
    const std::string r = Md5Hex(a1.data(), a1.size()) + ":" + kNonce + ":" + Md5Hex(a2.data(), a2.size());
    return Md5Hex(r.data(), r.size());
  }

  static std::string Ok(int cseq, const std::string& more = "") {
    return "RTSP/1.0 200 OK\r\nCSeq: " + std::to_string(cseq) + "\r\n" + more + "\r\n";
  }

  static sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
  }
  static uint16_t LocalPort(SOCKET s) {
    sockaddr_in a{};
    int len = sizeof(a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
  }
  static SOCKET OpenUdp(uint16_t* port) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    // A generous buffer: on a loaded machine (the session also encodes
    // video) this thread may not run for a while, and loopback drops
    // datagrams that find the buffer full.
    int buffer = 4 << 20;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof(buffer));
    sockaddr_in a = Loopback(0);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    *port = LocalPort(s);
    return s;
  }

 private:
  void Violation(const std::string& v) {
    std::lock_guard<std::mutex> g(lock_);
    violations_.push_back(v);
  }

  // The connection is read in chunks kept in inbox_ until taken: a byte a
  // call costs a round trip to the Wine server each, which under an
  // emulated CPU adds up to seconds a request, past the client's time-out.
  bool Fill() {
    char buf[4096];
    const int k = recv(conn_, buf, sizeof(buf), 0);
    if (k <= 0) return false;
    inbox_.append(buf, static_cast<size_t>(k));
    return true;
  }

  bool ReadRequest(RtspRequest* r) {
    size_t end;
    while ((end = inbox_.find("\r\n\r\n")) == std::string::npos && inbox_.size() < 65536) {
      if (!Fill()) return false;
    }
    const size_t headSize = end == std::string::npos ? 65536 : end + 4;
    r->head = inbox_.substr(0, headSize);
    inbox_.erase(0, headSize);
    r->method = r->head.substr(0, r->head.find(' '));
    const long n = std::max(0L, atol(r->header("Content-Length").c_str()));
    while (inbox_.size() < static_cast<size_t>(n)) {
      if (!Fill()) return false;
    }
    r->body.assign(inbox_.data(), static_cast<size_t>(n));
    inbox_.erase(0, static_cast<size_t>(n));
    return true;
  }

  bool Authorised(const RtspRequest& r) {
    const std::string uri = r.head.substr(r.method.size() + 1, r.head.find(" RTSP/1.0") - r.method.size() - 1);
    const std::string line = std::string("Digest username=\"iTunes\", realm=\"") + kRealm + "\", nonce=\"" +
                             kNonce + "\", uri=\"" + uri + "\", response=\"" +
                             ExpectedResponse(password_, r.method, uri) + "\"";
    return r.header("Authorization") == line;
  }

  RtspReply Normal(const RtspRequest& r) {
    RtspReply reply;
    const int cseq = r.cseq();
    if (!password_.empty()) {
      if (!Authorised(r)) {
        if (r.method != "ANNOUNCE") Violation(r.method + " without a right authorisation");
        reply.text = "RTSP/1.0 401 Unauthorized\r\nCSeq: " + std::to_string(cseq) +
                     "\r\nWWW-Authenticate: Digest realm=\"" + kRealm + "\", nonce=\"" + kNonce + "\"\r\n\r\n";
        return reply;
      }
    }
    if (r.method == "SETUP") {
      std::string transport;
      {
        std::lock_guard<std::mutex> g(lock_);
        transport = transport_.empty() ? DefaultTransport() : transport_;
      }
      reply.text = Ok(cseq, std::string("Session: ") + kSession + "\r\nTransport: " + transport + "\r\n" +
                                (jackStatus_ ? "Apple-Jack-Status: connected; type=analog\r\n" : ""));
    } else if (r.method == "RECORD") {
      reply.text = Ok(cseq, "Audio-Latency: 11025\r\n");
    } else {
      reply.text = Ok(cseq);
    }
    return reply;
  }

  void Serve() {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(listener_, &set);
    timeval tv{static_cast<long>(testwait::Ms(20000) / 1000), 0};
    if (select(0, &set, nullptr, nullptr, &tv) != 1) return;
    SOCKET c = accept(listener_, nullptr, nullptr);
    if (c == INVALID_SOCKET) return;
    {
      std::lock_guard<std::mutex> g(lock_);
      conn_ = c;
    }
    accepted_ = true;
    DWORD tmo = testwait::Ms(30000);
    setsockopt(conn_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&tmo), sizeof(tmo));
    for (;;) {
      RtspRequest r;
      if (!ReadRequest(&r)) return;
      Script script;
      {
        std::lock_guard<std::mutex> g(lock_);
        requests_.push_back(r);
        script = script_;
      }
      RtspReply reply;
      if (!script || !script(r, &reply)) reply = Normal(r);
      if (!reply.text.empty()) send(conn_, reply.text.data(), static_cast<int>(reply.text.size()), 0);
      if (reply.close) {
        shutdown(conn_, SD_BOTH);
        return;
      }
      if (reply.stall) {
        while (!stop_) Sleep(20);
        return;
      }
    }
  }

  void ReceiveUdp() {
    while (!stop_) {
      fd_set set;
      FD_ZERO(&set);
      FD_SET(data_, &set);
      FD_SET(control_, &set);
      timeval tv{0, 100000};
      if (select(0, &set, nullptr, nullptr, &tv) <= 0) continue;
      for (SOCKET s : {data_, control_}) {
        if (!FD_ISSET(s, &set)) continue;
        Datagram d;
        d.bytes.resize(2048);
        sockaddr_in from{};
        int len = sizeof(from);
        int n = recvfrom(s, reinterpret_cast<char*>(d.bytes.data()), 2048, 0,
                         reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) continue;
        d.bytes.resize(static_cast<size_t>(n));
        d.fromPort = ntohs(from.sin_port);
        d.at = GetTickCount();
        std::lock_guard<std::mutex> g(lock_);
        (s == data_ ? audio_ : syncs_).push_back(std::move(d));
      }
    }
  }

  std::string password_;
  SOCKET listener_ = INVALID_SOCKET;
  SOCKET conn_ = INVALID_SOCKET;
  std::string inbox_;  // read from conn_, not yet taken (RTSP thread only)
  SOCKET data_ = INVALID_SOCKET, control_ = INVALID_SOCKET, timing_ = INVALID_SOCKET;
  uint16_t port_ = 0, dataPort_ = 0, controlPort_ = 0, timingPort_ = 0;
  std::thread rtsp_, udp_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> accepted_{false};
  std::atomic<bool> jackStatus_{true};
  std::mutex lock_;
  Script script_;
  std::string transport_;
  std::vector<RtspRequest> requests_;
  std::vector<Datagram> audio_, syncs_;
  std::vector<std::string> violations_;
};
