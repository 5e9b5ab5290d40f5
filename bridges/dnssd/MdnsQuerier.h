// The multicast DNS querier behind dnssd.dll (RFC 6762, DNS-SD names as in
// RFC 6763): subscriptions (browse a service type, resolve an instance, look
// a host's IPv4 address up), a cache of the records heard with their TTLs,
// and the queries to send. No sockets, no threads, no clock of its own: the
// caller feeds datagrams and the time (milliseconds on any monotonic clock)
// and takes out the events and the datagrams to send, so the whole
// behaviour runs in tests on an injected clock.
//
// Query schedule: a browse sends its first query 20-120 ms after it starts
// (so queriers started together do not collide), a resolve or address lookup
// at once; after that every subscription still waiting repeats its query at
// 1 s, then doubling intervals up to one hour. A browse goes on for ever; a
// resolve or lookup stops querying once answered. Records an open
// subscription relies on are re-queried at 80, 85, 90 and 95 % of their TTL
// (plus up to 2 % jitter), and each query carries the known answers whose
// TTL is more than half left, so responders stay quiet about them.
//
// Cache: records of the four types the subscriptions use (PTR, SRV, TXT, A)
// per interface, kept by owner name: at most maxRecordsPerName of one name
// on one interface and maxCacheRecords in all (the soonest to expire goes
// first), so a responder that floods one name pushes out its own records
// and every datagram costs work bounded by those limits. A record expires
// when its TTL runs out; a goodbye (TTL 0) or a newer cache-flush record of
// the same name and type ends it one second later. Responses not from port
// 5353, with a non-zero opcode or rcode, or that do not parse are ignored
// whole.
//
// Subscriptions: at most maxSubscriptions live (ended ones count until
// cancelled); past that Browse, Resolve and LookupAddress refuse with 0.
//
// Events: browse add / remove (a PTR of the type appearing / expiring),
// resolved (SRV and TXT of the instance, both present, on one interface;
// again when either changes), address add / remove, and timeout (a lookup
// started with a time-out, lookupTimeoutMs after its start, whether or not
// it was answered; the lookup ends then).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bridges/dnssd/MdnsPacket.h"

namespace mdns {

enum class EventKind { kBrowseAdd, kBrowseRemove, kResolved, kAddressAdd, kAddressRemove, kTimeout };

struct Event {
  uint64_t sub = 0;
  EventKind kind = EventKind::kBrowseAdd;
  uint32_t ifIndex = 0;
  Name name;  // browse: the instance's full name; otherwise the subscription's name
  SrvData srv;                 // resolved
  std::vector<uint8_t> txt;    // resolved: TXT rdata as received
  uint8_t addr[4] = {0, 0, 0, 0};  // address events, network order
  uint32_t ttl = 0;            // address events: seconds
};

struct Outgoing {
  uint32_t ifIndex = 0;
  std::vector<uint8_t> bytes;
};

struct QuerierConfig {
  uint32_t firstBrowseDelayMinMs = 20;
  uint32_t firstBrowseDelayMaxMs = 120;
  uint32_t firstIntervalMs = 1000;
  uint32_t maxIntervalMs = 60u * 60u * 1000u;
  uint32_t lookupTimeoutMs = 5000;
  size_t maxCacheRecords = 4096;
  size_t maxRecordsPerName = 256;  // one owner name on one interface, all types
  size_t maxSubscriptions = 256;
  uint32_t seed = 1;  // jitter of first browse queries and refreshes
};

class Querier {
 public:
  explicit Querier(const QuerierConfig& config = QuerierConfig());

  // The interfaces queries go out on. Records of an interface that left are
  // dropped; a new interface restarts every subscription's query schedule.
  void SetInterfaces(const std::vector<uint32_t>& interfaces, uint64_t nowMs);
  const std::vector<uint32_t>& Interfaces() const { return interfaces_; }

  // ifIndex 0: every interface. Return a subscription id, or 0 when
  // maxSubscriptions are live. Results already in the cache come out as
  // events at once.
  uint64_t Browse(uint32_t ifIndex, const Name& serviceType, uint64_t nowMs);
  uint64_t Resolve(uint32_t ifIndex, const Name& instance, uint64_t nowMs);
  uint64_t LookupAddress(uint32_t ifIndex, const Name& host, bool withTimeout, uint64_t nowMs);
  // No event for the subscription after this; unknown ids are ignored.
  void Cancel(uint64_t sub);

  // One received datagram, its arrival interface and source port. True when
  // it was a response that was taken into the cache.
  bool Receive(uint32_t ifIndex, const uint8_t* data, size_t len, uint16_t sourcePort,
               uint64_t nowMs);
  // Expiries, time-outs and due queries up to nowMs.
  void Advance(uint64_t nowMs);
  // The next time Advance has work; UINT64_MAX when none.
  uint64_t NextWakeupMs() const;

  std::vector<Event> TakeEvents();
  std::vector<Outgoing> TakeOutgoing();

  size_t CacheSize() const { return cacheCount_; }
  // Records cached for name, on every interface.
  size_t CacheRecordsOf(const Name& name) const;
  // Cached records looked at by cache-flush handling so far (each at most
  // once per datagram), for tests and diagnostics.
  uint64_t FlushChecks() const { return flushChecks_; }
  size_t SubscriptionCount() const { return subs_.size(); }

 private:
  enum class Kind { kBrowse, kResolve, kAddress };

  struct Entry {
    uint32_t ifIndex = 0;
    Record rec;
    uint64_t receivedMs = 0;
    uint64_t expiresMs = 0;
    uint32_t ttl = 0;  // as received, seconds
    int refreshesSent = 0;
    uint64_t nextRefreshMs = 0;
    std::string dataKey;  // DataKey(rec): equal exactly when SameData
  };

  // The records of one owner name (case-folded wire form) on one interface.
  struct GroupKey {
    std::string name;
    uint32_t ifIndex;
    bool operator<(const GroupKey& o) const {
      return name != o.name ? name < o.name : ifIndex < o.ifIndex;
    }
  };
  using Group = std::vector<Entry>;
  using Cache = std::map<GroupKey, Group>;

  struct IfName {
    uint32_t ifIndex;
    Name name;
  };
  struct IfNameLess {
    bool operator()(const IfName& a, const IfName& b) const {
      if (a.ifIndex != b.ifIndex) return a.ifIndex < b.ifIndex;
      return NameLess(a.name, b.name);
    }
  };

  struct Sub {
    Kind kind = Kind::kBrowse;
    uint32_t ifIndex = 0;
    Name name;
    bool withTimeout = false;
    uint64_t timeoutMs = 0;
    bool finished = false;
    bool querying = true;
    uint64_t nextQueryMs = 0;
    uint32_t intervalMs = 0;
    std::set<IfName, IfNameLess> instances;                  // browse: reported
    std::set<std::pair<uint32_t, uint32_t>> addresses;       // address: (if, addr) reported
    bool resolved = false;                                   // resolve: last reported
    uint32_t resolvedIf = 0;
    SrvData resolvedSrv;
    std::vector<uint8_t> resolvedTxt;
  };

  uint64_t AddSub(Sub sub, uint64_t nowMs);
  bool OnInterface(const Sub& s, uint32_t ifIndex) const;
  bool Interesting(const Entry& e) const;
  void ScheduleRefresh(Entry* e);
  void Insert(uint32_t ifIndex, const Record& r, const std::string& nameKey, std::string dataKey,
              uint64_t nowMs);
  void EvictSoonest();
  // The groups of a name on every interface, in interface order.
  std::pair<Cache::iterator, Cache::iterator> GroupsOf(const std::string& nameKey);
  void Reconcile(uint64_t nowMs);
  void ReconcileBrowse(uint64_t id, Sub* s);
  void ReconcileResolve(uint64_t id, Sub* s);
  void ReconcileAddress(uint64_t id, Sub* s);
  void QueueQuestion(uint32_t ifIndex, const Name& name, uint16_t type);
  void FlushQuestions(uint64_t nowMs);
  uint32_t Random(uint32_t lo, uint32_t hi);

  QuerierConfig config_;
  uint32_t rng_;
  uint64_t nextId_ = 1;
  std::vector<uint32_t> interfaces_;
  Cache cache_;
  size_t cacheCount_ = 0;
  uint64_t flushChecks_ = 0;
  std::map<uint64_t, Sub> subs_;
  std::map<uint32_t, std::vector<Question>> pending_;  // per interface, this Advance
  std::vector<Event> events_;
  std::vector<Outgoing> outgoing_;
};

}  // namespace mdns
