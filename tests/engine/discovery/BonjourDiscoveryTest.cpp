// The discovery thread against a scripted dns_sd: what it reports, which
// operations it starts and ends, its log lines. The fake's references have
// real loopback sockets that turn readable when a result is queued, so the
// thread's select loop runs as it does with dnssd.dll.
#include "engine/discovery/BonjourDiscovery.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/log/Logger.h"
#include "support/TempDir.h"
#include "support/WaitFactor.h"

namespace {

// What the fake answers; set by each test before Start.
struct Script {
  std::vector<std::pair<DNSServiceFlags, std::string>> browseEvents{{kDNSServiceFlagsAdd, "TestRx"}};
  DNSServiceErrorType browseStart = 0;
  DNSServiceErrorType resolveError = 0;
  std::string txt = "\x09txtvers=1";
  DNSServiceErrorType addrError = 0;
  DNSServiceErrorType resolveProcessError = 0;  // ProcessResult of the resolve fails
  bool blockInProcess = false;                  // ProcessResult of the browse never returns
  std::string silentPrefix = "Silent";          // resolves of these names never answer
};

struct FakeRef {
  int kind = 0;  // 0 browse, 1 resolve, 2 lookup
  SOCKET sock = INVALID_SOCKET;
  sockaddr_in self{};
  std::deque<std::function<void()>> queued;
  void* context = nullptr;
  bool ended = false;
};

struct Fake {
  std::mutex mu;
  Script script;
  std::vector<FakeRef*> refs;
  DNSServiceBrowseReply browseReply = nullptr;
  DNSServiceResolveReply resolveReply = nullptr;
  DNSServiceGetAddrInfoReply addrReply = nullptr;
  // What the discovery asked for.
  std::vector<std::string> resolveCalls;  // "flags if name type domain"
  std::vector<std::string> lookupCalls;   // "flags if protocol host"
  int openResolves = 0;
  int peakOpenResolves = 0;

  FakeRef* Make(int kind, void* context) {
    auto* r = new FakeRef();
    r->kind = kind;
    r->context = context;
    r->sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    r->self.sin_family = AF_INET;
    r->self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(r->sock, reinterpret_cast<sockaddr*>(&r->self), sizeof(r->self));
    int len = sizeof(r->self);
    getsockname(r->sock, reinterpret_cast<sockaddr*>(&r->self), &len);
    refs.push_back(r);
    if (kind == 1) peakOpenResolves = std::max(peakOpenResolves, ++openResolves);
    return r;
  }
  void Queue(FakeRef* r, std::function<void()> f) {
    r->queued.push_back(std::move(f));
    const char b = 1;
    sendto(r->sock, &b, 1, 0, reinterpret_cast<sockaddr*>(&r->self), sizeof(r->self));
  }
  int Count(int kind, bool ended) {
    std::lock_guard<std::mutex> g(mu);
    int n = 0;
    for (FakeRef* r : refs)
      if (r->kind == kind && r->ended == ended) ++n;
    return n;
  }
  ~Fake() {
    for (FakeRef* r : refs) {
      if (r->sock != INVALID_SOCKET) closesocket(r->sock);
      delete r;
    }
  }
};

Fake* g_fake = nullptr;

DNSServiceRef AsRef(FakeRef* r) { return reinterpret_cast<DNSServiceRef>(r); }
FakeRef* Of(DNSServiceRef r) { return reinterpret_cast<FakeRef*>(r); }

DNSServiceErrorType DNSSD_API FakeBrowse(DNSServiceRef* out, DNSServiceFlags, uint32_t, const char* type,
                                         const char*, DNSServiceBrowseReply reply, void* ctx) {
  std::lock_guard<std::mutex> g(g_fake->mu);
  if (g_fake->script.browseStart) return g_fake->script.browseStart;
  EXPECT_STREQ(type, "_raop._tcp");
  FakeRef* r = g_fake->Make(0, ctx);
  g_fake->browseReply = reply;
  for (const auto& ev : g_fake->script.browseEvents) {
    const DNSServiceFlags flags = ev.first;
    const std::string name = ev.second;
    g_fake->Queue(r, [=] {
      g_fake->browseReply(AsRef(r), flags, 3, 0, name.c_str(), "_raop._tcp.", "local.", r->context);
    });
  }
  *out = AsRef(r);
  return 0;
}

DNSServiceErrorType DNSSD_API FakeResolve(DNSServiceRef* out, DNSServiceFlags flags, uint32_t ifIndex,
                                          const char* name, const char* type, const char* domain,
                                          DNSServiceResolveReply reply, void* ctx) {
  std::lock_guard<std::mutex> g(g_fake->mu);
  g_fake->resolveCalls.push_back(std::to_string(flags) + " " + std::to_string(ifIndex) + " " + name +
                                 " " + type + " " + domain);
  FakeRef* r = g_fake->Make(1, ctx);
  g_fake->resolveReply = reply;
  const Script s = g_fake->script;
  *out = AsRef(r);
  if (std::string(name).rfind(s.silentPrefix, 0) == 0) return 0;
  g_fake->Queue(r, [=] {
    g_fake->resolveReply(AsRef(r), 0, 3, s.resolveError, "TestRx._raop._tcp.local.", "rx1.local.",
                         htons(47000), static_cast<uint16_t>(s.txt.size()),
                         reinterpret_cast<const unsigned char*>(s.txt.data()), r->context);
  });
  *out = AsRef(r);
  return 0;
}

DNSServiceErrorType DNSSD_API FakeGetAddrInfo(DNSServiceRef* out, DNSServiceFlags flags, uint32_t ifIndex,
                                              DNSServiceProtocol protocol, const char* host,
                                              DNSServiceGetAddrInfoReply reply, void* ctx) {
  std::lock_guard<std::mutex> g(g_fake->mu);
  g_fake->lookupCalls.push_back(std::to_string(flags) + " " + std::to_string(ifIndex) + " " +
                                std::to_string(protocol) + " " + host);
  FakeRef* r = g_fake->Make(2, ctx);
  g_fake->addrReply = reply;
  const DNSServiceErrorType err = g_fake->script.addrError;
  g_fake->Queue(r, [=] {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(0x7F000002);
    g_fake->addrReply(AsRef(r), kDNSServiceFlagsAdd, 3, err, "rx1.local.",
                      err ? nullptr : reinterpret_cast<sockaddr*>(&a), 120, r->context);
  });
  *out = AsRef(r);
  return 0;
}

dnssd_sock_t DNSSD_API FakeSockFD(DNSServiceRef ref) { return Of(ref)->sock; }

DNSServiceErrorType DNSSD_API FakeProcess(DNSServiceRef ref) {
  FakeRef* r = Of(ref);
  std::function<void()> next;
  {
    std::lock_guard<std::mutex> g(g_fake->mu);
    EXPECT_FALSE(r->ended) << "result processed after its operation ended";
    char b[16];
    recv(r->sock, b, sizeof(b), 0);
    if (r->kind == 0 && g_fake->script.blockInProcess) {
      // fall through to block below, outside the lock
    } else if (r->kind == 1 && g_fake->script.resolveProcessError) {
      return g_fake->script.resolveProcessError;
    } else if (!r->queued.empty()) {
      next = std::move(r->queued.front());
      r->queued.pop_front();
    }
  }
  if (r->kind == 0 && g_fake->script.blockInProcess) Sleep(60000);
  if (next) next();
  return 0;
}

void DNSSD_API FakeDeallocate(DNSServiceRef ref) {
  std::lock_guard<std::mutex> g(g_fake->mu);
  FakeRef* r = Of(ref);
  EXPECT_FALSE(r->ended) << "operation ended twice";
  r->ended = true;
  if (r->kind == 1) --g_fake->openResolves;
  closesocket(r->sock);
  r->sock = INVALID_SOCKET;
}

const DnsSdApi kFakeApi = [] {
  DnsSdApi a;
  a.browse = FakeBrowse;
  a.resolve = FakeResolve;
  a.getAddrInfo = FakeGetAddrInfo;
  a.refSockFD = FakeSockFD;
  a.processResult = FakeProcess;
  a.refDeallocate = FakeDeallocate;
  return a;
}();

std::mutex g_seenMu;
std::vector<ReceiverEntry> g_found, g_removed;

void OnFound(ReceiverEntry* e) {
  std::lock_guard<std::mutex> g(g_seenMu);
  g_found.push_back(*e);
}
void OnRemoved(ReceiverEntry* e) {
  std::lock_guard<std::mutex> g(g_seenMu);
  g_removed.push_back(*e);
}

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = 5000) {
  return testwait::Until(done, timeoutMs);
}

class Discovery : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    logPath = dir.file(L"discovery.log");
    ZtLogger::Instance().Init(const_cast<wchar_t*>(logPath.c_str()));
    Fresh();
  }
  void TearDown() override {
    Finish();
    ZtLogger::Instance().Uninit();
    g_fake = nullptr;
    fakeOwner.reset();
    WSACleanup();
  }
  void Finish() {
    if (discovery) {
      discovery->Stop();
      delete discovery;
      discovery = nullptr;
    }
  }
  // A new fake and a clean slate, for the next case of a table.
  void Fresh() {
    Finish();
    fakeOwner.reset(new Fake());
    g_fake = fakeOwner.get();
    std::lock_guard<std::mutex> g(g_seenMu);
    g_found.clear();
    g_removed.clear();
    logMark = ReadLog().size();
  }
  void Start(const DnsSdApi* api = &kFakeApi, const DiscoveryLimits& limits = DiscoveryLimits()) {
    discovery = new CBonjourDiscovery();
    discovery->SetDnsSdApi(api);
    discovery->SetLimits(limits);
    ASSERT_EQ(discovery->Start(&owner, OnFound, OnRemoved), 0);
  }
  // The log written since the last Fresh().
  std::string Log() { return ReadLog().substr(logMark); }
  std::string ReadLog() {
    FILE* f = _wfopen(logPath.c_str(), L"rb");
    if (!f) return std::string();
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
  }
  size_t Found() {
    std::lock_guard<std::mutex> g(g_seenMu);
    return g_found.size();
  }

  std::unique_ptr<Fake> fakeOwner;
  Fake& fake() { return *fakeOwner; }
  size_t logMark = 0;
  TempDir dir;
  std::wstring logPath;
  int owner = 0;
  CBonjourDiscovery* discovery = nullptr;
};

}  // namespace

TEST(DNSServiceErrorName, NamesTheInterfacesCodesAndFormatsTheRest) {
  const struct {
    int code;
    const char* name;
  } cases[] = {
      {0, "kDNSServiceErr_NoError"},
      {-65537, "kDNSServiceErr_Unknown"},
      {-65545, "kDNSServiceErr_NotInitialized"},
      {-65546, "An_Unknown_Error -65546"},
      {-65547, "kDNSServiceErr_AlreadyRegistered"},
      {-65563, "kDNSServiceErr_ServiceNotRunning"},
      {-65568, "kDNSServiceErr_Timeout"},
      {-65569, "An_Unknown_Error -65569"},
      {-65536, "An_Unknown_Error -65536"},
      {-1, "An_Unknown_Error -1"},
  };
  for (const auto& c : cases) EXPECT_STREQ(DNSServiceErrorName(c.code), c.name) << c.code;
}

TEST(DnsSdLoader, RefusesAMissingDllOrOneWithoutTheCalls) {
  DnsSdApi api;
  EXPECT_FALSE(LoadDnsSdLibraryFrom(L"tess-no-such-dnssd.dll", &api));
  // One of ours beside the program, without the calls.
  EXPECT_FALSE(LoadDnsSdLibraryFrom(L"libVencBridge.dll", &api));
  EXPECT_FALSE(DnsSdApiComplete(api));
}

TEST_F(Discovery, ReportsAResolvedReceiverOnceWithNameAddressAndPort) {
  Start();
  ASSERT_TRUE(WaitFor([&] { return Found() > 0; }));
  ASSERT_TRUE(WaitFor([&] { return fake().Count(2, true) == 1; }));
  {
    std::lock_guard<std::mutex> g(g_seenMu);
    ASSERT_EQ(g_found.size(), 1u);
    EXPECT_EQ(g_found[0].name, "TestRx");
    EXPECT_EQ(g_found[0].address, "127.0.0.2");
    EXPECT_EQ(g_found[0].port, 47000);
    EXPECT_EQ(g_found[0].owner, &owner);
    EXPECT_EQ(g_found[0].found, &OnFound);
    EXPECT_EQ(g_found[0].removed, &OnRemoved);
  }
  EXPECT_EQ(fake().resolveCalls, std::vector<std::string>{"0 3 TestRx _raop._tcp. local."});
  EXPECT_EQ(fake().lookupCalls, std::vector<std::string>{"65536 3 1 rx1.local."});
  // The resolve ended after its answer, the lookup after its address.
  EXPECT_EQ(fake().Count(1, true), 1);
  discovery->Stop();
  EXPECT_EQ(fake().Count(0, true), 1);
  EXPECT_EQ(BonjourPendingOperationCount(), 0u);
  // The entry went with its last operation: the owner keeps a copy.
  EXPECT_EQ(BonjourEntryCount(), 0u);
  delete discovery;
  discovery = nullptr;
  EXPECT_EQ(BonjourEntryCount(), 0u);
  const std::string log = Log();
  EXPECT_NE(log.find("[mDNS]GetAddr(TestRx, 127.0.0.2:47000) IF(3)"), std::string::npos) << log;
  EXPECT_NE(log.find("[mDNS] exiting..."), std::string::npos) << log;
}

TEST_F(Discovery, EmptyTxtRecordIsNeverReported) {
  fake().script.txt.clear();
  Start();
  ASSERT_TRUE(WaitFor([&] { return Log().find("zero-length txt record") != std::string::npos; }));
  Sleep(300);
  EXPECT_EQ(Found(), 0u);
  EXPECT_TRUE(fake().lookupCalls.empty());
  // The resolve stays open (a later TXT may still come) until the discovery stops.
  EXPECT_EQ(fake().Count(1, false), 1);
  discovery->Stop();
  EXPECT_EQ(fake().Count(1, false), 0);
  EXPECT_NE(Log().find("[mDNS]Resolve(TestRx._raop._tcp.local., rx1.local.): zero-length txt record"),
            std::string::npos);
}

TEST_F(Discovery, RemovalIsReportedWithTheNameOnly) {
  fake().script.browseEvents = {{0, "Gone Rx"}};
  Start();
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> g(g_seenMu);
    return !g_removed.empty();
  }));
  std::lock_guard<std::mutex> g(g_seenMu);
  EXPECT_EQ(g_removed[0].name, "Gone Rx");
  EXPECT_EQ(g_removed[0].address, "");
  EXPECT_EQ(g_removed[0].port, -1);
  EXPECT_EQ(g_removed[0].owner, &owner);
  EXPECT_TRUE(g_found.empty());
  EXPECT_TRUE(fake().resolveCalls.empty());
  EXPECT_NE(Log().find("[mDNS]RemoveOldEntry: Gone Rx._raop._tcp.local."), std::string::npos);
}

// A resolve or lookup that reported an error gives nothing more: it is ended
// at once instead of being polled until the discovery stops.
TEST_F(Discovery, FailedResolveOrLookupIsEndedAtOnce) {
  const struct {
    const char* what;
    DNSServiceErrorType resolveError, addrError;
    int endedKind;
    const char* line;
  } cases[] = {
      {"resolve error", kDNSServiceErr_NoSuchRecord, 0, 1,
       "[mDNS]Resolve(TestRx._raop._tcp.local., rx1.local.): error kDNSServiceErr_NoSuchRecord"},
      {"lookup time-out", 0, kDNSServiceErr_Timeout, 2, "[mDNS]GetAddr(rx1.local.): error kDNSServiceErr_Timeout"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    fake().script.resolveError = c.resolveError;
    fake().script.addrError = c.addrError;
    Start();
    ASSERT_TRUE(WaitFor([&] { return fake().Count(c.endedKind, true) == 1; }));
    EXPECT_EQ(fake().Count(c.endedKind, false), 0);
    EXPECT_EQ(Found(), 0u);
    EXPECT_NE(Log().find(c.line), std::string::npos) << Log();
    EXPECT_TRUE(discovery->IsRunning());
  }
}

TEST_F(Discovery, FailedProcessResultEndsThatOperationAndBrowsingGoesOn) {
  fake().script.resolveProcessError = kDNSServiceErr_Unknown;
  fake().script.browseEvents = {{kDNSServiceFlagsAdd, "TestRx"}, {0, "Other"}};
  Start();
  ASSERT_TRUE(WaitFor([&] { return fake().Count(1, true) == 1; }));
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> g(g_seenMu);
    return !g_removed.empty();
  }));
  EXPECT_TRUE(discovery->IsRunning());
  EXPECT_NE(Log().find("[mDNS] error in DNSServiceProcessResult: kDNSServiceErr_Unknown"), std::string::npos);
}

TEST_F(Discovery, BrowseThatCannotStartEndsTheThreadAfterItsLogLine) {
  const struct {
    const char* what;
    DnsSdApi api;
    DNSServiceErrorType browseStart;
    const char* line;
  } cases[] = {
      {"a call missing", [] {
         DnsSdApi a = kFakeApi;
         a.getAddrInfo = nullptr;
         return a;
       }(), 0, "[mDNS] fail to Browse: kDNSServiceErr_ServiceNotRunning"},
      {"browse refused", kFakeApi, kDNSServiceErr_ServiceNotRunning,
       "[mDNS] fail to Browse: kDNSServiceErr_ServiceNotRunning"},
      {"unknown error", kFakeApi, -3, "[mDNS] fail to Browse: An_Unknown_Error -3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    fake().script.browseStart = c.browseStart;
    Start(&c.api);
    ASSERT_TRUE(WaitFor([&] { return !discovery->IsRunning(); }));
    EXPECT_NE(Log().find(c.line), std::string::npos) << Log();
    EXPECT_EQ(Found(), 0u);
    EXPECT_EQ(discovery->Stop(), 0);
  }
}

TEST_F(Discovery, StopEndsTheThreadWithinAboutASecond) {
  fake().script.browseEvents.clear();
  Start();
  Sleep(testwait::Ms(200));  // the thread is in its loop
  const ULONGLONG t0 = GetTickCount64();
  EXPECT_EQ(discovery->Stop(), 0);
  EXPECT_LE(GetTickCount64() - t0, testwait::MsBelow(2500, 4500));  // the 1 s wait, not the 5 s termination
  EXPECT_FALSE(discovery->IsRunning());
  EXPECT_EQ(fake().Count(0, true), 1);
}

TEST_F(Discovery, ThreadBlockedInTheLibraryIsTerminatedAfterFiveSeconds) {
  fake().script.blockInProcess = true;
  Start();
  Sleep(testwait::Ms(300));  // the browse's result is being processed, and blocks
  const ULONGLONG t0 = GetTickCount64();
  EXPECT_EQ(discovery->Stop(), 0);
  const ULONGLONG took = GetTickCount64() - t0;
  EXPECT_GE(took, 4900u);
  EXPECT_LE(took, 5000 + testwait::Ms(2000));
  EXPECT_FALSE(discovery->IsRunning());
}

// Services whose resolves never answer (empty TXT records, spoofed
// pointers) end after the time-out and make room for the next, so every
// service the browse adds is resolved in turn however many never answer.
TEST_F(Discovery, ResolvesThatNeverAnswerEndAndLaterServicesAreStillServed) {
  fake().script.browseEvents.clear();
  for (int i = 0; i < 80; ++i) fake().script.browseEvents.push_back({kDNSServiceFlagsAdd, "Silent" + std::to_string(i)});
  for (int i = 0; i < 20; ++i) fake().script.browseEvents.push_back({kDNSServiceFlagsAdd, "Rx" + std::to_string(i)});
  DiscoveryLimits limits;
  limits.resolveTimeoutMs = 300;
  Start(&kFakeApi, limits);
  EXPECT_TRUE(WaitFor([&] { return Found() == 20; }, 30000)) << Found() << " of 20 found";
  EXPECT_TRUE(WaitFor([&] { return fake().Count(1, false) == 0; }, 10000));
  EXPECT_LE(fake().peakOpenResolves, static_cast<int>(limits.maxLiveLookups));
  EXPECT_NE(Log().find("[mDNS]Resolve(Silent0): no answer within 300 ms, ended"), std::string::npos);
  discovery->Stop();
  EXPECT_EQ(BonjourEntryCount(), 0u);
}

// A flood of services: at most maxLiveLookups resolves are open, at most
// maxWaiting wait for a turn, the rest are dropped with a log line.
TEST_F(Discovery, FloodOfServicesKeepsResolvesAndWaitingBounded) {
  fake().script.browseEvents.clear();
  for (int i = 0; i < 200; ++i) fake().script.browseEvents.push_back({kDNSServiceFlagsAdd, "Silent" + std::to_string(i)});
  DiscoveryLimits limits;
  limits.maxLiveLookups = 8;
  limits.maxWaiting = 50;
  limits.resolveTimeoutMs = 1000;
  Start(&kFakeApi, limits);
  auto dropped = [&] {
    const std::string log = Log();
    size_t n = 0;
    for (size_t at = log.find("too many services waiting"); at != std::string::npos;
         at = log.find("too many services waiting", at + 1))
      ++n;
    return static_cast<int>(n);
  };
  // Each service is either resolved in its turn (and ended, unanswered) or dropped.
  ASSERT_TRUE(WaitFor([&] { return fake().Count(1, true) + dropped() == 200; }, 30000))
      << fake().Count(1, true) << " resolved, " << dropped() << " dropped";
  EXPECT_GE(fake().Count(1, true), 58);  // 8 open and 50 waiting always fit
  EXPECT_GT(dropped(), 0);
  EXPECT_EQ(fake().Count(1, false), 0);
  EXPECT_LE(fake().peakOpenResolves, 8);
  const std::string log = Log();
  EXPECT_NE(log.find("): too many services waiting, not resolved"), std::string::npos);
  EXPECT_EQ(log.find("[mDNS]Browse(Silent57, _raop._tcp., local.): too many"), std::string::npos);
}

// A service that goes away needs no resolve: its open and waiting ones end.
TEST_F(Discovery, RemovalEndsTheServicesOpenAndWaitingResolves) {
  fake().script.browseEvents = {{kDNSServiceFlagsAdd, "SilentA"}, {kDNSServiceFlagsAdd, "SilentB"},
                                {0, "SilentB"}, {0, "SilentA"}};
  DiscoveryLimits limits;
  limits.maxLiveLookups = 1;  // SilentB waits
  Start(&kFakeApi, limits);
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> g(g_seenMu);
    return g_removed.size() == 2;
  }));
  EXPECT_TRUE(WaitFor([&] { return fake().Count(1, true) == 1; }));
  Sleep(300);
  EXPECT_EQ(fake().Count(1, false), 0);
  EXPECT_EQ(fake().resolveCalls.size(), 1u);  // SilentB never started
}
