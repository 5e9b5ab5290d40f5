// dnssd.dll and the discovery against real responders: Debian's avahi-daemon
// publishing the test receiver, and our hostile responder. These tests send
// multicast and bind port 5353, so they run only inside the loopback-only
// namespace that run_live.py is started in (by netns-run); without its
// control port they skip and never load the DLL.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/discovery/BonjourDiscovery.h"
#include "foundation/log/Logger.h"
#include "support/TempDir.h"
#include "support/WaitFactor.h"

namespace {

const char* ControlPort() { return std::getenv("TESS_MDNS_CONTROL"); }

// One command to run_live.py ("publish", "withdraw", "responder",
// "stop-responder"); true when it answered "ok".
bool Control(const std::string& command) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  DWORD timeout = testwait::Ms(30000);
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<u_short>(std::atoi(ControlPort())));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0) {
    const std::string line = command + "\n";
    send(s, line.data(), static_cast<int>(line.size()), 0);
    char buf[256];
    int n;
    while ((n = recv(s, buf, sizeof(buf), 0)) > 0) {
      reply.append(buf, static_cast<size_t>(n));
      if (reply.find('\n') != std::string::npos) break;
    }
  }
  closesocket(s);
  return reply.rfind("ok", 0) == 0;
}

class Live : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ControlPort()) GTEST_SKIP() << "runs only inside the loopback namespace (run_live.py)";
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    api = LoadDnsSdLibrary();
    ASSERT_NE(api, nullptr) << "dnssd.dll or one of its six calls is missing";
  }
  void TearDown() override {
    if (ControlPort()) WSACleanup();
  }

  // Processes results of `ref` until done() or timeoutMs (stretched by the
  // wait factor); false on time-out.
  bool Pump(DNSServiceRef ref, DWORD timeoutMs, const std::function<bool()>& done) {
    const ULONGLONG end = GetTickCount64() + testwait::Ms(timeoutMs);
    while (!done()) {
      if (GetTickCount64() >= end) return false;
      fd_set r;
      FD_ZERO(&r);
      FD_SET(api->refSockFD(ref), &r);
      timeval tv{0, 100 * 1000};
      if (select(0, &r, nullptr, nullptr, &tv) > 0) {
        EXPECT_EQ(api->processResult(ref), 0);
      }
    }
    return true;
  }

  const DnsSdApi* api = nullptr;
};

struct BrowseSeen {
  DNSServiceFlags flags;
  uint32_t ifIndex;
  std::string name, type, domain;
};

void DNSSD_API OnBrowse(DNSServiceRef, DNSServiceFlags flags, uint32_t ifIndex, DNSServiceErrorType err,
                        const char* name, const char* type, const char* domain, void* ctx) {
  ASSERT_EQ(err, 0);
  static_cast<std::vector<BrowseSeen>*>(ctx)->push_back({flags, ifIndex, name, type, domain});
}

struct ResolveSeen {
  int calls = 0;
  DNSServiceFlags flags = 0;
  uint32_t ifIndex = 0;
  std::string fullname, host;
  int port = 0;
  std::string txt;
};

void DNSSD_API OnResolve(DNSServiceRef, DNSServiceFlags flags, uint32_t ifIndex, DNSServiceErrorType err,
                         const char* fullname, const char* host, uint16_t port, uint16_t txtLen,
                         const unsigned char* txt, void* ctx) {
  ASSERT_EQ(err, 0);
  auto* seen = static_cast<ResolveSeen*>(ctx);
  ++seen->calls;
  seen->flags = flags;
  seen->ifIndex = ifIndex;
  seen->fullname = fullname;
  seen->host = host;
  seen->port = ntohs(port);
  seen->txt.assign(reinterpret_cast<const char*>(txt), txtLen);
}

struct AddrSeen {
  int calls = 0;
  DNSServiceErrorType err = 0;
  DNSServiceFlags flags = 0;
  std::string host, address;
  bool nullAddress = false;
  uint32_t ttl = 0;
};

void DNSSD_API OnAddr(DNSServiceRef, DNSServiceFlags flags, uint32_t, DNSServiceErrorType err,
                      const char* host, const sockaddr* address, uint32_t ttl, void* ctx) {
  auto* seen = static_cast<AddrSeen*>(ctx);
  ++seen->calls;
  seen->err = err;
  seen->flags = flags;
  seen->host = host;
  seen->ttl = ttl;
  seen->nullAddress = address == nullptr;
  if (address) {
    char buf[32];
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&in->sin_addr);
    std::snprintf(buf, sizeof(buf), "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    seen->address = buf;
  }
}

int CountNamed(const std::vector<BrowseSeen>& seen, const std::string& name, bool added) {
  int n = 0;
  for (const BrowseSeen& s : seen)
    if (s.name == name && ((s.flags & kDNSServiceFlagsAdd) != 0) == added) ++n;
  return n;
}

}  // namespace

TEST_F(Live, BrowseResolveAndLookUpTheReceiverAvahiPublishes) {
  std::vector<BrowseSeen> seen;
  DNSServiceRef browse = nullptr;
  ASSERT_EQ(api->browse(&browse, 0, 0, "_raop._tcp", nullptr, OnBrowse, &seen), 0);
  const ULONGLONG published = GetTickCount64();
  ASSERT_TRUE(Control("publish"));
  const ULONGLONG announced = GetTickCount64();
  ASSERT_TRUE(Pump(browse, 10000, [&] { return CountNamed(seen, "TestRx", true) > 0; }));
  std::printf("[figure] publish command to found: %llu ms (announced after %llu ms)\n",
              GetTickCount64() - published, announced - published);
  const BrowseSeen& add = seen.back();
  EXPECT_EQ(add.type, "_raop._tcp.");
  EXPECT_EQ(add.domain, "local.");
  EXPECT_NE(add.ifIndex, 0u);

  ResolveSeen r;
  DNSServiceRef resolve = nullptr;
  ASSERT_EQ(api->resolve(&resolve, 0, add.ifIndex, "TestRx", add.type.c_str(), add.domain.c_str(),
                         OnResolve, &r),
            0);
  ASSERT_TRUE(Pump(resolve, 5000, [&] { return r.calls > 0; }));
  EXPECT_EQ(r.calls, 1);
  EXPECT_EQ(r.fullname, "TestRx._raop._tcp.local.");
  EXPECT_EQ(r.host, "rx1.local.");
  EXPECT_EQ(r.port, 47000);
  EXPECT_EQ(r.txt, std::string("\x09txtvers=1\x09" "am=TestRx"));
  EXPECT_EQ(r.flags & kDNSServiceFlagsMoreComing, 0u);
  api->refDeallocate(resolve);

  AddrSeen a;
  DNSServiceRef lookup = nullptr;
  ASSERT_EQ(api->getAddrInfo(&lookup, kDNSServiceFlagsTimeout, add.ifIndex, kDNSServiceProtocol_IPv4,
                             r.host.c_str(), OnAddr, &a),
            0);
  ASSERT_TRUE(Pump(lookup, 5000, [&] { return a.calls > 0; }));
  EXPECT_EQ(a.err, 0);
  EXPECT_EQ(a.address, "127.0.0.2");
  EXPECT_EQ(a.host, "rx1.local.");
  EXPECT_NE(a.flags & kDNSServiceFlagsAdd, 0u);
  EXPECT_GT(a.ttl, 0u);
  api->refDeallocate(lookup);

  const ULONGLONG withdrawn = GetTickCount64();
  ASSERT_TRUE(Control("withdraw"));
  ASSERT_TRUE(Pump(browse, 10000, [&] { return CountNamed(seen, "TestRx", false) > 0; }));
  std::printf("[figure] withdrawal to removal: %llu ms\n", GetTickCount64() - withdrawn);
  EXPECT_EQ(CountNamed(seen, "TestRx", true), 1);
  api->refDeallocate(browse);
}

TEST_F(Live, LookupOfAHostNobodyAnswersTimesOut) {
  AddrSeen a;
  DNSServiceRef lookup = nullptr;
  const ULONGLONG start = GetTickCount64();
  ASSERT_EQ(api->getAddrInfo(&lookup, kDNSServiceFlagsTimeout, 0, kDNSServiceProtocol_IPv4,
                             "nohost.local.", OnAddr, &a),
            0);
  ASSERT_TRUE(Pump(lookup, 15000, [&] { return a.calls > 0; }));
  const ULONGLONG took = GetTickCount64() - start;
  EXPECT_EQ(a.err, kDNSServiceErr_Timeout);
  EXPECT_TRUE(a.nullAddress);
  EXPECT_EQ(a.host, "nohost.local.");
  EXPECT_GE(took, 4500u);
  EXPECT_LE(took, 8000u);
  // Nothing after the time-out.
  Pump(lookup, 2000, [] { return false; });
  EXPECT_EQ(a.calls, 1);
  api->refDeallocate(lookup);
}

TEST_F(Live, DeallocatedReferenceWithResultsPendingCallsNothing) {
  ASSERT_TRUE(Control("publish"));
  std::vector<BrowseSeen> seen;
  DNSServiceRef browse = nullptr;
  ASSERT_EQ(api->browse(&browse, 0, 0, "_raop._tcp", nullptr, OnBrowse, &seen), 0);
  // Wait until results wait on the socket, then end it without processing.
  const SOCKET sock = api->refSockFD(browse);
  fd_set r;
  FD_ZERO(&r);
  FD_SET(sock, &r);
  timeval tv{static_cast<long>(testwait::Ms(10000) / 1000), 0};
  ASSERT_EQ(select(0, &r, nullptr, nullptr, &tv), 1);
  api->refDeallocate(browse);
  EXPECT_EQ(api->processResult(browse), kDNSServiceErr_BadReference);
  EXPECT_EQ(api->refSockFD(browse), INVALID_SOCKET);
  EXPECT_TRUE(seen.empty());
  // The engine stopped with its last reference; a new one starts it again.
  DNSServiceRef again = nullptr;
  ASSERT_EQ(api->browse(&again, 0, 0, "_raop._tcp", nullptr, OnBrowse, &seen), 0);
  EXPECT_TRUE(Pump(again, 10000, [&] { return CountNamed(seen, "TestRx", true) > 0; }));
  api->refDeallocate(again);
  ASSERT_TRUE(Control("withdraw"));
}

TEST_F(Live, ResultsQueuedTogetherComeInOneCallWithMoreComing) {
  ASSERT_TRUE(Control("responder"));  // announces EmptyTxt and NoAddr, among others
  std::vector<BrowseSeen> seen;
  DNSServiceRef browse = nullptr;
  ASSERT_EQ(api->browse(&browse, 0, 0, "_raop._tcp", nullptr, OnBrowse, &seen), 0);
  fd_set r;
  FD_ZERO(&r);
  FD_SET(api->refSockFD(browse), &r);
  timeval tv{static_cast<long>(testwait::Ms(10000) / 1000), 0};
  ASSERT_EQ(select(0, &r, nullptr, nullptr, &tv), 1);
  Sleep(testwait::Ms(500));  // both answers are in by now
  ASSERT_EQ(api->processResult(browse), 0);
  ASSERT_GE(seen.size(), 2u);
  for (size_t i = 0; i + 1 < seen.size(); ++i) EXPECT_NE(seen[i].flags & kDNSServiceFlagsMoreComing, 0u) << i;
  EXPECT_EQ(seen.back().flags & kDNSServiceFlagsMoreComing, 0u);
  api->refDeallocate(browse);
  ASSERT_TRUE(Control("stop-responder"));
}

namespace {

std::mutex g_mu;
std::vector<ReceiverEntry> g_found;
std::vector<ReceiverEntry> g_removed;

void OnFound(ReceiverEntry* e) {
  std::lock_guard<std::mutex> g(g_mu);
  g_found.push_back(*e);
}
void OnRemoved(ReceiverEntry* e) {
  std::lock_guard<std::mutex> g(g_mu);
  g_removed.push_back(*e);
}

size_t Count(const std::vector<ReceiverEntry>& v, const std::string& name) {
  std::lock_guard<std::mutex> g(g_mu);
  size_t n = 0;
  for (const ReceiverEntry& e : v)
    if (e.name == name) ++n;
  return n;
}

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs) {
  return testwait::Until(done, timeoutMs, 20);
}

std::string ReadAll(const std::wstring& path) {
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return std::string();
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) s.append(buf, n);
  fclose(f);
  return s;
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

// The discovery with our DLL among avahi's receiver and the hostile
// responder's: the good one is reported once with name, address and port;
// empty TXT, no address, a cut-short record and a compression loop never are;
// a withdrawal is reported by name; Stop ends the thread within about 1 s.
TEST_F(Live, DiscoveryReportsOnlyTheGoodReceiverAndStopsWithinASecond) {
  TempDir dir;
  const std::wstring logPath = dir.file(L"discovery.log");
  ZtLogger::Instance().Init(const_cast<wchar_t*>(logPath.c_str()));
  ASSERT_TRUE(Control("responder"));
  ASSERT_TRUE(Control("publish"));
  int owner = 0;
  CBonjourDiscovery discovery;
  ASSERT_EQ(discovery.Start(&owner, OnFound, OnRemoved), 0);
  ASSERT_TRUE(WaitFor([] { return Count(g_found, "TestRx") > 0; }, 10000));
  {
    std::lock_guard<std::mutex> g(g_mu);
    const ReceiverEntry& e = g_found.front();
    EXPECT_EQ(e.address, "127.0.0.2");
    EXPECT_EQ(e.port, 47000);
    EXPECT_EQ(e.owner, &owner);
  }
  // Long enough for NoAddr's address lookup to time out (5 s).
  Sleep(7000);
  EXPECT_EQ(Count(g_found, "TestRx"), 1u);
  for (const char* never : {"EmptyTxt", "NoAddr", "Broken", "Loop"})
    EXPECT_EQ(Count(g_found, never), 0u) << never;

  ASSERT_TRUE(Control("withdraw"));
  ASSERT_TRUE(WaitFor([] { return Count(g_removed, "TestRx") > 0; }, 10000));
  {
    std::lock_guard<std::mutex> g(g_mu);
    EXPECT_EQ(g_removed.back().address, "");
    EXPECT_EQ(g_removed.back().port, -1);
  }
  const ULONGLONG stopping = GetTickCount64();
  EXPECT_EQ(discovery.Stop(), 0);
  const ULONGLONG stopMs = GetTickCount64() - stopping;
  std::printf("[figure] Stop took %llu ms\n", stopMs);
  EXPECT_LE(stopMs, 2500u);  // the 1 s wait, not the 5 s termination
  EXPECT_FALSE(discovery.IsRunning());
  EXPECT_EQ(BonjourPendingOperationCount(), 0u);
  ASSERT_TRUE(Control("stop-responder"));
  ZtLogger::Instance().Uninit();

  const std::string log = ReadAll(logPath);
  EXPECT_EQ(Occurrences(log, "[mDNS]Resolve(EmptyTxt._raop._tcp.local., etxt.local.): zero-length txt record"), 1u) << log;
  // The time-out is reported once: the lookup ended with it.
  EXPECT_EQ(Occurrences(log, "[mDNS]GetAddr(noaddr.local.): error kDNSServiceErr_Timeout"), 1u) << log;
  EXPECT_EQ(Occurrences(log, "[mDNS]GetAddr(TestRx, 127.0.0.2:47000) IF("), 1u) << log;
  EXPECT_EQ(Occurrences(log, "[mDNS]RemoveOldEntry: TestRx._raop._tcp.local."), 1u) << log;
  EXPECT_EQ(Occurrences(log, "[mDNS] exiting..."), 1u) << log;
}

// The engine takes a bounded number of operations: past it a new one fails
// as out of memory and leaves nothing behind; ending one makes room.
TEST_F(Live, OperationsPastTheBoundAreRefusedUntilOneEnds) {
  std::vector<DNSServiceRef> refs;
  ResolveSeen r;
  DNSServiceErrorType err = 0;
  while (refs.size() < 1000) {
    DNSServiceRef ref = reinterpret_cast<DNSServiceRef>(1);
    const std::string name = "Spoof" + std::to_string(refs.size());
    err = api->resolve(&ref, 0, 0, name.c_str(), "_raop._tcp", "local.", OnResolve, &r);
    if (err != 0) {
      EXPECT_EQ(ref, nullptr);
      break;
    }
    refs.push_back(ref);
  }
  EXPECT_EQ(err, kDNSServiceErr_NoMemory);
  EXPECT_EQ(refs.size(), 256u);
  api->refDeallocate(refs.back());
  refs.pop_back();
  AddrSeen a;
  DNSServiceRef lookup = nullptr;
  EXPECT_EQ(api->getAddrInfo(&lookup, kDNSServiceFlagsTimeout, 0, kDNSServiceProtocol_IPv4, "nohost.local.",
                             OnAddr, &a),
            0);
  if (lookup) refs.push_back(lookup);
  for (DNSServiceRef ref : refs) api->refDeallocate(ref);
  EXPECT_EQ(r.calls, 0);
}
