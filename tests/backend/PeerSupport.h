// Test support for the backend client's tests: the control port of the
// backend peer (tools/backend-peer), the test CA of that run, and a window
// that records what worker threads post to it.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>

#include <json/json.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/MessageSink.h"
#include "support/WaitFactor.h"

// The peer's settings come from tools/backend-peer/run_peers.py.
inline bool PeerAvailable() { return getenv("TESS_PEER_CONTROL") != nullptr; }

#define REQUIRE_PEER()                                                   \
  do {                                                                   \
    if (!PeerAvailable()) GTEST_SKIP() << "needs tools/backend-peer";    \
  } while (0)

inline Json::Value PeerCommandOnce(const Json::Value& command);

// One command to the peer's control port, its JSON answer (null on failure,
// after a second try).
inline Json::Value PeerCommand(const Json::Value& command) {
  Json::Value answer = PeerCommandOnce(command);
  if (answer.isNull()) {
    Sleep(200);
    answer = PeerCommandOnce(command);
  }
  return answer;
}

inline Json::Value PeerCommandOnce(const Json::Value& command) {
  Json::Value answer;
  const char* port = getenv("TESS_PEER_CONTROL");
  if (!port) return answer;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<u_short>(atoi(port)));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  DWORD ms = testwait::Ms(10000);
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof(ms));
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    closesocket(s);
    return answer;
  }
  Json::StreamWriterBuilder w;
  w["indentation"] = "";
  const std::string line = Json::writeString(w, command) + "\n";
  send(s, line.data(), static_cast<int>(line.size()), 0);
  std::string text;
  char buf[4096];
  while (text.find('\n') == std::string::npos) {
    const int r = recv(s, buf, sizeof(buf), 0);
    if (r <= 0) break;
    text.append(buf, static_cast<size_t>(r));
  }
  closesocket(s);
  Json::CharReaderBuilder rb;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(rb.newCharReader());
  reader->parse(text.data(), text.data() + text.size(), &answer, &errors);
  return answer;
}

inline Json::Value PeerCommand(const char* cmd) {
  Json::Value c;
  c["cmd"] = cmd;
  return PeerCommand(c);
}

inline void PeerMode(const char* mode, std::vector<int> ops = {}) {
  Json::Value c;
  c["cmd"] = "mode";
  c["mode"] = mode;
  for (int op : ops) c["ops"].append(op);
  ASSERT_TRUE(PeerCommand(c)["ok"].asBool()) << mode;
}

// The requests the peer saw since its last reset.
inline Json::Value PeerRequests() { return PeerCommand("log")["requests"]; }

inline std::vector<Json::Value> PeerRequestsForOp(int op) {
  std::vector<Json::Value> out;
  for (const Json::Value& r : PeerRequests()) {
    if (r["op"].isInt() && r["op"].asInt() == op) out.push_back(r);
  }
  return out;
}

// Every request the peer saw passed its checks.
inline void ExpectNoViolations() {
  for (const Json::Value& r : PeerRequests()) {
    EXPECT_EQ(r["violations"].size(), 0u)
        << r["method"].asString() << " " << r["target"].asString() << ": "
        << (r["violations"].size() ? r["violations"][0].asString() : "");
  }
}

inline std::wstring EnvW(const char* name) {
  const char* v = getenv(name);
  if (!v) return std::wstring();
  std::wstring out;
  for (const char* p = v; *p; ++p) out += static_cast<wchar_t>(static_cast<unsigned char>(*p));
  return out;
}

// Trusts the run's test CA in this prefix's CURRENT_USER Root store (the
// prefix is the namespace's private copy: nothing outlives the run).
inline bool InstallTestCa() {
  const std::wstring path = EnvW("TESS_TEST_CA");
  if (path.empty()) return false;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  std::vector<BYTE> der(64 * 1024);
  DWORD got = 0;
  ReadFile(f, der.data(), static_cast<DWORD>(der.size()), &got, nullptr);
  CloseHandle(f);
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (!store) return false;
  const BOOL ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), got,
                                                   CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(store, 0);
  return ok != FALSE;
}
