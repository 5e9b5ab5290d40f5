// dnssd.dll: the dns_sd calls over our own mDNS querier.
//
// One engine per process, started by the first operation and stopped (its
// thread joined, port 5353 closed) when the last reference is deallocated.
// The engine thread owns the mDNS socket and the querier; it never calls
// the caller's code. It queues each result on its reference and sends one
// byte to the reference's own loopback UDP socket, which is what the caller
// selects on. DNSServiceProcessResult drains that socket without blocking
// and runs the queued callbacks on the caller's thread.
//
// GetAddrInfo with kDNSServiceFlagsTimeout reports kDNSServiceErr_Timeout
// 5 seconds after it started (whether or not an address came), and nothing
// after that. Only the "local." domain and IPv4 are served. The querier
// takes a bounded number of operations at a time: past it, Browse, Resolve
// and GetAddrInfo fail with kDNSServiceErr_NoMemory until some are ended.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bridges/dnssd/DnsSd.h"
#include "bridges/dnssd/MdnsQuerier.h"
#include "bridges/dnssd/MdnsSocket.h"

namespace {

// The engine's longest sleep: also the bound on how long it takes to notice
// new interfaces between refreshes and to stop.
constexpr uint64_t kMaxWaitMs = 500;
constexpr uint64_t kInterfaceRefreshMs = 10000;
// Results waiting for a caller that does not process them: the oldest go.
constexpr size_t kMaxQueuedResults = 4096;

enum class RefKind { kBrowse, kResolve, kAddress };

}  // namespace

struct _DNSServiceRef_t {
  RefKind kind = RefKind::kBrowse;
  void* context = nullptr;
  DNSServiceBrowseReply browseReply = nullptr;
  DNSServiceResolveReply resolveReply = nullptr;
  DNSServiceGetAddrInfoReply addrReply = nullptr;
  std::string regtype;   // browse: "_raop._tcp."
  std::string hostname;  // address lookup: as the caller gave it
  uint64_t sub = 0;
  SOCKET sock = INVALID_SOCKET;
  std::deque<mdns::Event> queue;  // guarded by the engine's lock
  bool inCallback = false;        // caller's thread only
  bool dead = false;              // deallocated from inside its own callback
};

namespace {

class Engine {
 public:
  static Engine& Instance() {
    static Engine* engine = new Engine();  // never destroyed: may be used during process exit
    return *engine;
  }

  // Starts the engine for a new reference: its socket, and the engine thread
  // when this is the first reference. Error code on failure.
  DNSServiceErrorType Attach(DNSServiceRef ref) {
    std::lock_guard<std::mutex> life(lifeLock_);
    if (refCount_ == 0) {
      const DNSServiceErrorType e = Start();
      if (e != kDNSServiceErr_NoError) return e;
    }
    ref->sock = MakeRefSocket();
    if (ref->sock == INVALID_SOCKET) {
      if (refCount_ == 0) Stop();
      return kDNSServiceErr_NoMemory;
    }
    ++refCount_;
    return kDNSServiceErr_NoError;
  }

  // Ends the reference's operation. From inside its own callback the object
  // is freed when the callback returns.
  void Detach(DNSServiceRef ref) {
    {
      std::lock_guard<std::mutex> g(lock_);
      if (ref->sub) querier_.Cancel(ref->sub);
      bySub_.erase(ref->sub);
      live_.erase(ref);
      ref->queue.clear();
    }
    closesocket(ref->sock);
    ref->sock = INVALID_SOCKET;
    if (ref->inCallback)
      ref->dead = true;
    else
      delete ref;
    std::lock_guard<std::mutex> life(lifeLock_);
    if (--refCount_ == 0) Stop();
  }

  // Starts the reference's subscription; false (nothing started) when the
  // querier holds as many as it takes.
  template <typename Fn>
  bool Subscribe(DNSServiceRef ref, Fn subscribe) {
    {
      std::lock_guard<std::mutex> g(lock_);
      ref->sub = subscribe(querier_, Now());
      if (ref->sub == 0) return false;
      bySub_[ref->sub] = ref;
      live_.insert(ref);
      Dispatch();
    }
    Wake();
    return true;
  }

  // Undoes Attach for a reference whose subscription was refused.
  void Abandon(DNSServiceRef ref) {
    closesocket(ref->sock);
    delete ref;
    std::lock_guard<std::mutex> life(lifeLock_);
    if (--refCount_ == 0) Stop();
  }

  bool IsLive(DNSServiceRef ref) {
    std::lock_guard<std::mutex> g(lock_);
    return live_.count(ref) != 0;
  }

  // Drains the reference's socket and hands its queued results out.
  std::deque<mdns::Event> TakeResults(DNSServiceRef ref) {
    char buf[64];
    while (recv(ref->sock, buf, sizeof(buf), 0) > 0) {
    }
    std::lock_guard<std::mutex> g(lock_);
    std::deque<mdns::Event> out;
    out.swap(ref->queue);
    return out;
  }

 private:
  Engine() = default;

  static uint64_t Now() { return GetTickCount64(); }

  DNSServiceErrorType Start() {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return kDNSServiceErr_ServiceNotRunning;
    if (!socket_.Open() || !MakeLoopbackPair()) {
      socket_.Close();
      CloseLoopback();
      WSACleanup();
      return kDNSServiceErr_ServiceNotRunning;
    }
    mdns::QuerierConfig config;
    config.seed = static_cast<uint32_t>(GetTickCount64() ^ (GetCurrentProcessId() << 16));
    {
      std::lock_guard<std::mutex> g(lock_);
      querier_ = mdns::Querier(config);
      querier_.SetInterfaces(socket_.UpdateInterfaces(), Now());
    }
    lastInterfaceCheck_ = Now();
    stop_ = false;
    thread_ = std::thread([this] { Loop(); });
    return kDNSServiceErr_NoError;
  }

  void Stop() {
    stop_ = true;
    Wake();
    if (thread_.joinable()) thread_.join();
    socket_.Close();
    CloseLoopback();
    WSACleanup();
  }

  // A UDP socket on loopback that only takes datagrams from the engine's
  // notifier, so nothing else on the machine can make it readable.
  SOCKET MakeRefSocket() {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) return s;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
        connect(s, reinterpret_cast<sockaddr*>(&notifierAddr_), sizeof(notifierAddr_)) != 0) {
      closesocket(s);
      return INVALID_SOCKET;
    }
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    return s;
  }

  bool MakeLoopbackPair() {
    notifier_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    wake_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (notifier_ == INVALID_SOCKET || wake_ == INVALID_SOCKET) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(notifier_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) return false;
    if (bind(wake_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) return false;
    int len = sizeof(notifierAddr_);
    if (getsockname(notifier_, reinterpret_cast<sockaddr*>(&notifierAddr_), &len) != 0) return false;
    len = sizeof(wakeAddr_);
    if (getsockname(wake_, reinterpret_cast<sockaddr*>(&wakeAddr_), &len) != 0) return false;
    if (connect(wake_, reinterpret_cast<sockaddr*>(&notifierAddr_), sizeof(notifierAddr_)) != 0)
      return false;
    u_long nonBlocking = 1;
    ioctlsocket(wake_, FIONBIO, &nonBlocking);
    return true;
  }

  void CloseLoopback() {
    if (notifier_ != INVALID_SOCKET) closesocket(notifier_);
    if (wake_ != INVALID_SOCKET) closesocket(wake_);
    notifier_ = wake_ = INVALID_SOCKET;
  }

  // Makes the engine thread look at its timers again (a new subscription
  // may want a query now).
  void Wake() {
    if (notifier_ == INVALID_SOCKET) return;
    const char b = 1;
    sendto(notifier_, &b, 1, 0, reinterpret_cast<const sockaddr*>(&wakeAddr_), sizeof(wakeAddr_));
  }

  // Moves the querier's events to their references; under lock_.
  void Dispatch() {
    for (mdns::Event& ev : querier_.TakeEvents()) {
      auto it = bySub_.find(ev.sub);
      if (it == bySub_.end()) continue;
      DNSServiceRef ref = it->second;
      const bool wasEmpty = ref->queue.empty();
      if (ref->queue.size() >= kMaxQueuedResults) ref->queue.pop_front();
      ref->queue.push_back(std::move(ev));
      if (wasEmpty) {
        sockaddr_in to{};
        int len = sizeof(to);
        if (getsockname(ref->sock, reinterpret_cast<sockaddr*>(&to), &len) == 0) {
          const char b = 1;
          sendto(notifier_, &b, 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
        }
      }
    }
  }

  void Loop() {
    std::vector<uint8_t> datagram;
    while (!stop_) {
      const uint64_t now = Now();
      if (now - lastInterfaceCheck_ >= kInterfaceRefreshMs) {
        lastInterfaceCheck_ = now;
        const std::vector<uint32_t> ifs = socket_.UpdateInterfaces();
        std::lock_guard<std::mutex> g(lock_);
        querier_.SetInterfaces(ifs, now);
        Dispatch();
      }
      std::vector<mdns::Outgoing> out;
      uint64_t next;
      {
        std::lock_guard<std::mutex> g(lock_);
        querier_.Advance(now);
        Dispatch();
        out = querier_.TakeOutgoing();
        next = querier_.NextWakeupMs();
      }
      for (const mdns::Outgoing& o : out) socket_.Send(o.ifIndex, o.bytes);

      uint64_t waitMs = next > now ? next - now : 0;
      if (waitMs > kMaxWaitMs) waitMs = kMaxWaitMs;
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(socket_.handle(), &readable);
      FD_SET(wake_, &readable);
      timeval tv;
      tv.tv_sec = static_cast<long>(waitMs / 1000);
      tv.tv_usec = static_cast<long>((waitMs % 1000) * 1000);
      const int n = select(0, &readable, nullptr, nullptr, &tv);
      if (n == SOCKET_ERROR) {
        Sleep(50);  // a socket closed under us; the loop re-checks stop_
        continue;
      }
      if (FD_ISSET(wake_, &readable)) {
        char b[64];
        while (recv(wake_, b, sizeof(b), 0) > 0) {
        }
      }
      if (FD_ISSET(socket_.handle(), &readable)) {
        uint32_t ifIndex = 0;
        uint16_t port = 0;
        // A bounded batch, so a flood cannot starve the timers.
        for (int i = 0; i < 64 && socket_.Receive(&datagram, &ifIndex, &port); ++i) {
          std::lock_guard<std::mutex> g(lock_);
          querier_.Receive(ifIndex, datagram.data(), datagram.size(), port, Now());
          Dispatch();
        }
      }
    }
  }

  std::mutex lifeLock_;  // start and stop
  int refCount_ = 0;
  std::mutex lock_;      // querier, references' queues, maps
  mdns::Querier querier_;
  std::map<uint64_t, DNSServiceRef> bySub_;
  std::set<DNSServiceRef> live_;
  mdns::MdnsSocket socket_;
  SOCKET notifier_ = INVALID_SOCKET;
  SOCKET wake_ = INVALID_SOCKET;
  sockaddr_in notifierAddr_{};
  sockaddr_in wakeAddr_{};
  std::thread thread_;
  std::atomic<bool> stop_{false};
  uint64_t lastInterfaceCheck_ = 0;
};

bool LocalDomain(const char* domain) {
  if (domain == nullptr || *domain == 0) return true;
  return _stricmp(domain, "local") == 0 || _stricmp(domain, "local.") == 0;
}

bool ServiceType(const char* regtype, mdns::Name* out) {
  if (regtype == nullptr || !mdns::Name::FromDotted(regtype, out) || out->labels.empty())
    return false;
  mdns::Name local;
  local.labels.push_back("local");
  *out = out->Plus(local);
  return out->WireBytes() <= mdns::kMaxNameWireBytes;
}

DNSServiceErrorType Begin(DNSServiceRef* sdRef, DNSServiceRef ref) {
  const DNSServiceErrorType e = Engine::Instance().Attach(ref);
  if (e != kDNSServiceErr_NoError) {
    delete ref;
    return e;
  }
  *sdRef = ref;
  return kDNSServiceErr_NoError;
}

// Starts ref's subscription; a querier that holds as many as it takes
// refuses it, and the reference goes again.
template <typename Fn>
DNSServiceErrorType Subscribe(DNSServiceRef* sdRef, Fn subscribe) {
  DNSServiceRef ref = *sdRef;
  if (Engine::Instance().Subscribe(ref, subscribe)) return kDNSServiceErr_NoError;
  *sdRef = nullptr;
  Engine::Instance().Abandon(ref);
  return kDNSServiceErr_NoMemory;
}

}  // namespace

extern "C" {

DNSServiceErrorType DNSSD_API DNSServiceBrowse(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                               uint32_t interfaceIndex, const char* regtype,
                                               const char* domain, DNSServiceBrowseReply callBack,
                                               void* context) {
  if (sdRef == nullptr || callBack == nullptr) return kDNSServiceErr_BadParam;
  *sdRef = nullptr;
  mdns::Name type;
  if (!ServiceType(regtype, &type)) return kDNSServiceErr_BadParam;
  if (!LocalDomain(domain)) return kDNSServiceErr_Unsupported;
  DNSServiceRef ref = new _DNSServiceRef_t();
  ref->kind = RefKind::kBrowse;
  ref->browseReply = callBack;
  ref->context = context;
  mdns::Name bare = type;
  bare.labels.pop_back();
  ref->regtype = bare.ToDotted();
  const DNSServiceErrorType e = Begin(sdRef, ref);
  if (e != kDNSServiceErr_NoError) return e;
  return Subscribe(sdRef, [&](mdns::Querier& q, uint64_t now) {
    return q.Browse(interfaceIndex, type, now);
  });
}

DNSServiceErrorType DNSSD_API DNSServiceResolve(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                uint32_t interfaceIndex, const char* name,
                                                const char* regtype, const char* domain,
                                                DNSServiceResolveReply callBack, void* context) {
  if (sdRef == nullptr || callBack == nullptr || name == nullptr || *name == 0)
    return kDNSServiceErr_BadParam;
  *sdRef = nullptr;
  mdns::Name type;
  if (!ServiceType(regtype, &type)) return kDNSServiceErr_BadParam;
  if (!LocalDomain(domain)) return kDNSServiceErr_Unsupported;
  // The instance name is taken as it is (one label, not escaped).
  if (std::strlen(name) > mdns::kMaxLabelBytes) return kDNSServiceErr_BadParam;
  mdns::Name instance;
  instance.labels.push_back(name);
  instance = instance.Plus(type);
  if (instance.WireBytes() > mdns::kMaxNameWireBytes) return kDNSServiceErr_BadParam;
  DNSServiceRef ref = new _DNSServiceRef_t();
  ref->kind = RefKind::kResolve;
  ref->resolveReply = callBack;
  ref->context = context;
  const DNSServiceErrorType e = Begin(sdRef, ref);
  if (e != kDNSServiceErr_NoError) return e;
  return Subscribe(sdRef, [&](mdns::Querier& q, uint64_t now) {
    return q.Resolve(interfaceIndex, instance, now);
  });
}

DNSServiceErrorType DNSSD_API DNSServiceGetAddrInfo(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                    uint32_t interfaceIndex,
                                                    DNSServiceProtocol protocol,
                                                    const char* hostname,
                                                    DNSServiceGetAddrInfoReply callBack,
                                                    void* context) {
  if (sdRef == nullptr || callBack == nullptr || hostname == nullptr) return kDNSServiceErr_BadParam;
  *sdRef = nullptr;
  // IPv4 is all this querier looks up; "no protocol" means whatever the host has.
  if (protocol != 0 && (protocol & kDNSServiceProtocol_IPv4) == 0) return kDNSServiceErr_Unsupported;
  mdns::Name host;
  if (!mdns::Name::FromDotted(hostname, &host) || host.labels.empty()) return kDNSServiceErr_BadParam;
  DNSServiceRef ref = new _DNSServiceRef_t();
  ref->kind = RefKind::kAddress;
  ref->addrReply = callBack;
  ref->context = context;
  ref->hostname = hostname;
  const DNSServiceErrorType e = Begin(sdRef, ref);
  if (e != kDNSServiceErr_NoError) return e;
  const bool withTimeout = (flags & kDNSServiceFlagsTimeout) != 0;
  return Subscribe(sdRef, [&](mdns::Querier& q, uint64_t now) {
    return q.LookupAddress(interfaceIndex, host, withTimeout, now);
  });
}

dnssd_sock_t DNSSD_API DNSServiceRefSockFD(DNSServiceRef sdRef) {
  if (sdRef == nullptr || !Engine::Instance().IsLive(sdRef)) return INVALID_SOCKET;
  return sdRef->sock;
}

DNSServiceErrorType DNSSD_API DNSServiceProcessResult(DNSServiceRef sdRef) {
  if (sdRef == nullptr || !Engine::Instance().IsLive(sdRef)) return kDNSServiceErr_BadReference;
  if (sdRef->inCallback) return kDNSServiceErr_BadState;
  std::deque<mdns::Event> results = Engine::Instance().TakeResults(sdRef);
  sdRef->inCallback = true;
  while (!results.empty() && !sdRef->dead) {
    mdns::Event ev = std::move(results.front());
    results.pop_front();
    DNSServiceFlags flags = results.empty() ? 0 : kDNSServiceFlagsMoreComing;
    switch (sdRef->kind) {
      case RefKind::kBrowse: {
        if (ev.kind != mdns::EventKind::kBrowseAdd && ev.kind != mdns::EventKind::kBrowseRemove)
          break;
        if (ev.kind == mdns::EventKind::kBrowseAdd) flags |= kDNSServiceFlagsAdd;
        const std::string service = ev.name.labels.empty() ? std::string() : ev.name.labels[0];
        sdRef->browseReply(sdRef, flags, ev.ifIndex, kDNSServiceErr_NoError, service.c_str(),
                           sdRef->regtype.c_str(), "local.", sdRef->context);
        break;
      }
      case RefKind::kResolve: {
        if (ev.kind != mdns::EventKind::kResolved) break;
        const std::string full = ev.name.ToDotted();
        const std::string host = ev.srv.target.ToDotted();
        const uint16_t txtLen = ev.txt.size() > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(ev.txt.size());
        static const unsigned char kNoTxt[1] = {0};
        sdRef->resolveReply(sdRef, flags, ev.ifIndex, kDNSServiceErr_NoError, full.c_str(),
                            host.c_str(), htons(ev.srv.port), txtLen,
                            ev.txt.empty() ? kNoTxt : ev.txt.data(), sdRef->context);
        break;
      }
      case RefKind::kAddress: {
        if (ev.kind == mdns::EventKind::kTimeout) {
          sdRef->addrReply(sdRef, flags, ev.ifIndex, kDNSServiceErr_Timeout,
                           sdRef->hostname.c_str(), nullptr, 0, sdRef->context);
          break;
        }
        if (ev.kind != mdns::EventKind::kAddressAdd && ev.kind != mdns::EventKind::kAddressRemove)
          break;
        if (ev.kind == mdns::EventKind::kAddressAdd) flags |= kDNSServiceFlagsAdd;
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        std::memcpy(&sa.sin_addr, ev.addr, 4);
        sdRef->addrReply(sdRef, flags, ev.ifIndex, kDNSServiceErr_NoError, sdRef->hostname.c_str(),
                         reinterpret_cast<const sockaddr*>(&sa), ev.ttl, sdRef->context);
        break;
      }
    }
  }
  sdRef->inCallback = false;
  if (sdRef->dead) delete sdRef;
  return kDNSServiceErr_NoError;
}

void DNSSD_API DNSServiceRefDeallocate(DNSServiceRef sdRef) {
  if (sdRef == nullptr || !Engine::Instance().IsLive(sdRef)) return;
  Engine::Instance().Detach(sdRef);
}

}  // extern "C"
