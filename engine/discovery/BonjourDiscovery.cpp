#include "engine/discovery/BonjourDiscovery.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "foundation/log/Logger.h"
#include "foundation/sys/LibraryLoad.h"

namespace {

// What the browse callback needs to make entries and start resolves.
struct BrowseContext {
  void* owner;
  ReceiverCallback found;
  ReceiverCallback removed;
  DiscoveryLimits limits;
};

enum class OpKind { kBrowse, kResolve, kLookup };

// One pending DNS-SD operation.
struct Operation {
  dnssd_sock_t sock;
  OpKind kind;
  ReceiverEntry* entry;  // resolves and lookups; null for the browse
  ULONGLONG deadline;    // resolves and lookups: ended when still open then
};

// A service the browse added, waiting for a free resolve.
struct Waiting {
  ReceiverEntry* entry;
  uint32_t interfaceIndex;
  std::string regtype;
  std::string domain;
};

// Process-wide state of the one running discovery, touched only by its thread
// while it runs (and by the destructor after it stopped).
std::map<DNSServiceRef, Operation> g_operations;
std::deque<Waiting> g_waiting;
std::set<ReceiverEntry*> g_entries;
const DnsSdApi* g_api = nullptr;
const BrowseContext* g_context = nullptr;

// Select waits on at most this many operations (a Winsock fd_set's size).
constexpr size_t kMaxWaitedOperations = 64;

const char* Text(const char* s) { return s ? s : "(null)"; }

ZtLogger& Log() { return ZtLogger::Instance(); }

size_t LiveLookups() {
  size_t n = 0;
  for (const auto& op : g_operations)
    if (op.second.kind != OpKind::kBrowse) ++n;
  return n;
}

void AddOperation(DNSServiceRef ref, OpKind kind, ReceiverEntry* entry) {
  const ULONGLONG timeout = g_context ? g_context->limits.resolveTimeoutMs : 10000;
  g_operations[ref] = Operation{g_api->refSockFD(ref), kind, entry, GetTickCount64() + timeout};
}

// Frees an entry that no operation and no waiting service refers to any more.
void ReleaseEntry(ReceiverEntry* entry) {
  if (entry == nullptr || g_entries.count(entry) == 0) return;
  for (const auto& op : g_operations)
    if (op.second.entry == entry) return;
  for (const Waiting& w : g_waiting)
    if (w.entry == entry) return;
  g_entries.erase(entry);
  delete entry;
}

// Ends an operation and forgets it; a no-op for one already gone.
void EndOperation(DNSServiceRef ref) {
  auto it = g_operations.find(ref);
  if (it == g_operations.end()) return;
  ReceiverEntry* entry = it->second.entry;
  g_operations.erase(it);
  g_api->refDeallocate(ref);
  ReleaseEntry(entry);
}

void DNSSD_API OnAddress(DNSServiceRef ref, DNSServiceFlags flags, uint32_t interfaceIndex,
                         DNSServiceErrorType error, const char* hostname,
                         const struct sockaddr* address, uint32_t ttl, void* context) {
  auto* entry = static_cast<ReceiverEntry*>(context);
  if (error != kDNSServiceErr_NoError) {
    Log().Error("[mDNS]GetAddr(%s): error %s", Text(hostname), DNSServiceErrorName(error));
    // A lookup that failed or timed out gives nothing more: end it rather
    // than poll it for ever.
    EndOperation(ref);
    return;
  }
  if (address == nullptr || address->sa_family != AF_INET || entry == nullptr) return;
  const auto* in = reinterpret_cast<const sockaddr_in*>(address);
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&in->sin_addr);
  char dotted[16];
  std::snprintf(dotted, sizeof(dotted), "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  entry->address = dotted;
  Log().Info("[mDNS]GetAddr(%s, %s:%d) IF(%d)", entry->name.c_str(), entry->address.c_str(),
             entry->port, static_cast<int>(interfaceIndex));
  if (entry->found) entry->found(entry);
  // The first address is the receiver's: a service is reported once.
  EndOperation(ref);
}

void DNSSD_API OnResolve(DNSServiceRef ref, DNSServiceFlags flags, uint32_t interfaceIndex,
                         DNSServiceErrorType error, const char* fullname, const char* hosttarget,
                         uint16_t port, uint16_t txtLen, const unsigned char* txtRecord,
                         void* context) {
  auto* entry = static_cast<ReceiverEntry*>(context);
  if (error != kDNSServiceErr_NoError) {
    Log().Error("[mDNS]Resolve(%s, %s): error %s", Text(fullname), Text(hosttarget),
                DNSServiceErrorName(error));
    EndOperation(ref);
    return;
  }
  if (txtLen == 0) {
    // Stays open until its time-out: a later answer with a TXT record still
    // reports the service.
    Log().Error("[mDNS]Resolve(%s, %s): zero-length txt record", Text(fullname), Text(hosttarget));
    return;
  }
  if (entry == nullptr) return;
  entry->port = ntohs(port);
  // One lookup per service: a newer answer's host replaces the last one's.
  for (auto it = g_operations.begin(); it != g_operations.end(); ++it) {
    if (it->second.kind == OpKind::kLookup && it->second.entry == entry) {
      EndOperation(it->first);
      break;
    }
  }
  DNSServiceRef lookup = nullptr;
  const DNSServiceErrorType e =
      g_api->getAddrInfo(&lookup, kDNSServiceFlagsTimeout, interfaceIndex,
                         kDNSServiceProtocol_IPv4, hosttarget, OnAddress, entry);
  if (e != kDNSServiceErr_NoError)
    Log().Error("[mDNS]Resolve fail to GetAddrInfo: %s", DNSServiceErrorName(e));
  else
    AddOperation(lookup, OpKind::kLookup, entry);
  if ((flags & kDNSServiceFlagsMoreComing) == 0) EndOperation(ref);
}

void StartResolve(ReceiverEntry* entry, uint32_t interfaceIndex, const char* regtype,
                  const char* domain) {
  DNSServiceRef resolve = nullptr;
  const DNSServiceErrorType e = g_api->resolve(&resolve, 0, interfaceIndex, entry->name.c_str(), regtype,
                                               domain, OnResolve, entry);
  if (e != kDNSServiceErr_NoError) {
    Log().Error("[mDNS]Browse fail to Resolve:%s", DNSServiceErrorName(e));
    ReleaseEntry(entry);
  } else {
    AddOperation(resolve, OpKind::kResolve, entry);
  }
}

// Waiting services take the resolves that are free, first come first served.
void StartWaiting() {
  if (g_context == nullptr) return;
  while (!g_waiting.empty() && LiveLookups() < g_context->limits.maxLiveLookups) {
    Waiting w = std::move(g_waiting.front());
    g_waiting.pop_front();
    StartResolve(w.entry, w.interfaceIndex, w.regtype.c_str(), w.domain.c_str());
  }
}

// Ends the resolves and lookups that had their time.
void EndOverdue(ULONGLONG now) {
  std::vector<DNSServiceRef> overdue;
  for (const auto& op : g_operations)
    if (op.second.kind != OpKind::kBrowse && now >= op.second.deadline) overdue.push_back(op.first);
  for (DNSServiceRef ref : overdue) {
    const Operation& op = g_operations[ref];
    Log().Error(op.kind == OpKind::kResolve ? "[mDNS]Resolve(%s): no answer within %u ms, ended"
                                            : "[mDNS]GetAddr(%s): no answer within %u ms, ended",
                op.entry ? op.entry->name.c_str() : "", g_context ? g_context->limits.resolveTimeoutMs : 0u);
    EndOperation(ref);
  }
}

// A service that went away needs no resolve or lookup any more.
void ForgetService(const std::string& name) {
  for (auto it = g_waiting.begin(); it != g_waiting.end();) {
    if (it->entry->name != name) {
      ++it;
      continue;
    }
    ReceiverEntry* entry = it->entry;
    it = g_waiting.erase(it);
    ReleaseEntry(entry);
  }
  std::vector<DNSServiceRef> ending;
  for (const auto& op : g_operations)
    if (op.second.entry && op.second.entry->name == name) ending.push_back(op.first);
  for (DNSServiceRef ref : ending) EndOperation(ref);
}

void DNSSD_API OnBrowse(DNSServiceRef ref, DNSServiceFlags flags, uint32_t interfaceIndex,
                        DNSServiceErrorType error, const char* serviceName, const char* regtype,
                        const char* replyDomain, void* context) {
  if (error != kDNSServiceErr_NoError) {
    Log().Error("[mDNS]Browse(%s, %s, %s): error %s", Text(serviceName), Text(regtype),
                Text(replyDomain), DNSServiceErrorName(error));
    return;
  }
  if (context == nullptr) {
    Log().Error("[mDNS]Browse(%s, %s, %s): error with NULL context", Text(serviceName),
                Text(regtype), Text(replyDomain));
    return;
  }
  const auto* ctx = static_cast<const BrowseContext*>(context);
  if (flags & kDNSServiceFlagsAdd) {
    if (LiveLookups() >= ctx->limits.maxLiveLookups && g_waiting.size() >= ctx->limits.maxWaiting) {
      Log().Error("[mDNS]Browse(%s, %s, %s): too many services waiting, not resolved", Text(serviceName),
                  Text(regtype), Text(replyDomain));
      return;
    }
  }
  auto* entry = new ReceiverEntry();
  entry->name = Text(serviceName);
  entry->owner = ctx->owner;
  entry->found = ctx->found;
  entry->removed = ctx->removed;
  g_entries.insert(entry);
  if (flags & kDNSServiceFlagsAdd) {
    if (LiveLookups() < ctx->limits.maxLiveLookups)
      StartResolve(entry, interfaceIndex, Text(regtype), Text(replyDomain));
    else
      g_waiting.push_back(Waiting{entry, interfaceIndex, Text(regtype), Text(replyDomain)});
  } else {
    Log().Error("[mDNS]RemoveOldEntry: %s.%s%s", Text(serviceName), Text(regtype),
                Text(replyDomain));
    ForgetService(entry->name);
    if (entry->removed) entry->removed(entry);
    // The owner matched it by name and keeps nothing of it.
    ReleaseEntry(entry);
  }
}

}  // namespace

bool LoadDnsSdLibraryFrom(const wchar_t* path, DnsSdApi* out) {
  DnsSdApi api;
  *out = api;
  HMODULE dll = LoadOwnLibrary(path);
  if (!dll) return false;
  api.browse = reinterpret_cast<PFN_DNSServiceBrowse>(GetProcAddress(dll, "DNSServiceBrowse"));
  api.resolve = reinterpret_cast<PFN_DNSServiceResolve>(GetProcAddress(dll, "DNSServiceResolve"));
  api.getAddrInfo =
      reinterpret_cast<PFN_DNSServiceGetAddrInfo>(GetProcAddress(dll, "DNSServiceGetAddrInfo"));
  api.refSockFD =
      reinterpret_cast<PFN_DNSServiceRefSockFD>(GetProcAddress(dll, "DNSServiceRefSockFD"));
  api.processResult =
      reinterpret_cast<PFN_DNSServiceProcessResult>(GetProcAddress(dll, "DNSServiceProcessResult"));
  api.refDeallocate =
      reinterpret_cast<PFN_DNSServiceRefDeallocate>(GetProcAddress(dll, "DNSServiceRefDeallocate"));
  // Kept loaded even when incomplete: a DLL with threads of its own must not
  // be unloaded under them, and a second look would find the same.
  *out = api;
  return DnsSdApiComplete(api);
}

bool DnsSdApiComplete(const DnsSdApi& a) {
  return a.browse && a.resolve && a.getAddrInfo && a.refSockFD && a.processResult &&
         a.refDeallocate;
}

const DnsSdApi* LoadDnsSdLibrary() {
  static std::once_flag once;
  static DnsSdApi api;
  static bool complete = false;
  std::call_once(once, [] { complete = LoadDnsSdLibraryFrom(L"dnssd.dll", &api); });
  return complete ? &api : nullptr;
}

const char* DNSServiceErrorName(int code) {
  static const char* const kNames[] = {
      "kDNSServiceErr_Unknown",                    // -65537
      "kDNSServiceErr_NoSuchName",                 // -65538
      "kDNSServiceErr_NoMemory",                   // -65539
      "kDNSServiceErr_BadParam",                   // -65540
      "kDNSServiceErr_BadReference",               // -65541
      "kDNSServiceErr_BadState",                   // -65542
      "kDNSServiceErr_BadFlags",                   // -65543
      "kDNSServiceErr_Unsupported",                // -65544
      "kDNSServiceErr_NotInitialized",             // -65545
      nullptr,                                     // -65546 has no name
      "kDNSServiceErr_AlreadyRegistered",          // -65547
      "kDNSServiceErr_NameConflict",               // -65548
      "kDNSServiceErr_Invalid",                    // -65549
      "kDNSServiceErr_Firewall",                   // -65550
      "kDNSServiceErr_Incompatible",               // -65551
      "kDNSServiceErr_BadInterfaceIndex",          // -65552
      "kDNSServiceErr_Refused",                    // -65553
      "kDNSServiceErr_NoSuchRecord",               // -65554
      "kDNSServiceErr_NoAuth",                     // -65555
      "kDNSServiceErr_NoSuchKey",                  // -65556
      "kDNSServiceErr_NATTraversal",               // -65557
      "kDNSServiceErr_DoubleNAT",                  // -65558
      "kDNSServiceErr_BadTime",                    // -65559
      "kDNSServiceErr_BadSig",                     // -65560
      "kDNSServiceErr_BadKey",                     // -65561
      "kDNSServiceErr_Transient",                  // -65562
      "kDNSServiceErr_ServiceNotRunning",          // -65563
      "kDNSServiceErr_NATPortMappingUnsupported",  // -65564
      "kDNSServiceErr_NATPortMappingDisabled",     // -65565
      "kDNSServiceErr_NoRouter",                   // -65566
      "kDNSServiceErr_PollingMode",                // -65567
      "kDNSServiceErr_Timeout",                    // -65568
  };
  if (code == 0) return "kDNSServiceErr_NoError";
  if (code <= -65537 && code >= -65568) {
    const char* name = kNames[-65537 - code];
    if (name) return name;
  }
  static char unknown[48];
  std::snprintf(unknown, sizeof(unknown), "An_Unknown_Error %d", code);
  return unknown;
}

size_t BonjourPendingOperationCount() { return g_operations.size(); }
size_t BonjourEntryCount() { return g_entries.size(); }

CBonjourDiscovery::CBonjourDiscovery() = default;

CBonjourDiscovery::~CBonjourDiscovery() {
  if (IsRunning()) Stop();
  // Operations left by a thread that had to be terminated are not ended:
  // the library may be in any state.
  g_operations.clear();
  g_waiting.clear();
  for (ReceiverEntry* e : g_entries) delete e;
  g_entries.clear();
}

int CBonjourDiscovery::Start(void* ownerWindow, ReceiverCallback foundCallback,
                             ReceiverCallback removedCallback) {
  serviceType = "_raop._tcp";
  owner = ownerWindow;
  found = foundCallback;
  removed = removedCallback;
  return StartThread();
}

int CBonjourDiscovery::Stop() { return StopThread(kThreadStopWaitMs, true); }

int CBonjourDiscovery::Run() {
  WSADATA wsa;
  const bool winsock = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
  g_api = api_ ? api_ : LoadDnsSdLibrary();
  if (g_api && !DnsSdApiComplete(*g_api)) g_api = nullptr;
  BrowseContext context{owner, found, removed, limits_};
  g_context = &context;
  DNSServiceRef browse = nullptr;
  const DNSServiceErrorType err =
      g_api ? g_api->browse(&browse, 0, kDNSServiceInterfaceIndexAny, serviceType.c_str(), nullptr,
                            OnBrowse, &context)
            : kDNSServiceErr_ServiceNotRunning;
  if (err != kDNSServiceErr_NoError) {
    Log().Error("[mDNS] fail to Browse: %s", DNSServiceErrorName(err));
    g_context = nullptr;
    if (winsock) WSACleanup();
    return 0;
  }
  AddOperation(browse, OpKind::kBrowse, nullptr);

  int selectError = 0;
  bool failed = false;
  size_t rotation = 0;  // where in the map the next wait's window of 64 begins
  while (true) {
    EndOverdue(GetTickCount64());
    StartWaiting();
    // Every pending operation gets its turn: the window moves on each pass.
    std::vector<DNSServiceRef> order;
    order.reserve(g_operations.size());
    for (const auto& op : g_operations) order.push_back(op.first);
    fd_set readable;
    FD_ZERO(&readable);
    size_t waited = 0;
    for (size_t i = 0; i < order.size() && waited < kMaxWaitedOperations; ++i) {
      const dnssd_sock_t sock = g_operations[order[(rotation + i) % order.size()]].sock;
      if (FD_ISSET(sock, &readable)) continue;
      FD_SET(sock, &readable);
      ++waited;
    }
    rotation = order.empty() ? 0 : (rotation + waited) % order.size();
    timeval tv{1, 0};
    const int n = select(0, &readable, nullptr, nullptr, &tv);
    if (n == SOCKET_ERROR) {
      failed = true;
      selectError = WSAGetLastError();
      break;
    }
    if (StopRequested()) break;
    if (n == 0) continue;
    // Callbacks add and end operations: walk a snapshot, skip the ended.
    std::vector<DNSServiceRef> ready;
    for (const auto& op : g_operations)
      if (FD_ISSET(op.second.sock, &readable)) ready.push_back(op.first);
    for (DNSServiceRef ref : ready) {
      auto it = g_operations.find(ref);
      if (it == g_operations.end() || !FD_ISSET(it->second.sock, &readable)) continue;
      const DNSServiceErrorType e = g_api->processResult(ref);
      if (e != kDNSServiceErr_NoError) {
        Log().Error("[mDNS] error in DNSServiceProcessResult: %s", DNSServiceErrorName(e));
        // A broken resolve or lookup is ended; the browse is ended below.
        if (ref != browse)
          EndOperation(ref);
        else
          g_operations.erase(ref);
        break;
      }
    }
  }
  if (failed)
    Log().Error("[mDNS] select error %d, exiting...", selectError);
  else
    Log().Info("[mDNS] exiting...");
  // Every operation still pending ends here, on the thread that made it, so
  // no socket or library state outlives the discovery.
  std::vector<DNSServiceRef> pending;
  for (const auto& op : g_operations) pending.push_back(op.first);
  bool browseEnded = false;
  for (DNSServiceRef ref : pending) {
    if (ref == browse) browseEnded = true;
    EndOperation(ref);
  }
  if (!browseEnded) g_api->refDeallocate(browse);
  std::deque<Waiting> waiting;
  waiting.swap(g_waiting);
  for (const Waiting& w : waiting) ReleaseEntry(w.entry);
  g_context = nullptr;
  if (winsock) WSACleanup();
  return 0;
}
