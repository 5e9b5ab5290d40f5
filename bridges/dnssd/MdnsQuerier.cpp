#include "bridges/dnssd/MdnsQuerier.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>

namespace mdns {

namespace {

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
// A goodbye or a flushed record lingers this long (RFC 6762 10.1, 10.2).
constexpr uint64_t kLingerMs = 1000;
// Questions per query datagram; more go into further datagrams.
constexpr size_t kQuestionsPerQuery = 16;

uint32_t AddrKey(const uint8_t a[4]) {
  return (static_cast<uint32_t>(a[0]) << 24) | (static_cast<uint32_t>(a[1]) << 16) |
         (static_cast<uint32_t>(a[2]) << 8) | a[3];
}

bool Cacheable(const Record& r) {
  return r.cls == kClassIN &&
         (r.type == kTypeA || r.type == kTypePTR || r.type == kTypeSRV || r.type == kTypeTXT);
}

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// A name as length-prefixed labels, ASCII case folded, ended by a zero byte:
// equal exactly when SameName holds, and self-delimiting inside a longer key.
void AppendName(std::string* out, const Name& n) {
  for (const std::string& label : n.labels) {
    out->push_back(static_cast<char>(label.size()));
    for (char c : label) out->push_back(Fold(c));
  }
  out->push_back('\0');
}

std::string NameKey(const Name& n) {
  std::string k;
  AppendName(&k, n);
  return k;
}

void Append16(std::string* out, uint16_t v) {
  out->push_back(static_cast<char>(v >> 8));
  out->push_back(static_cast<char>(v));
}

// Owner, type, class and content: equal exactly when Record::SameData holds.
std::string DataKey(const Record& r) {
  std::string k;
  Append16(&k, r.type);
  Append16(&k, r.cls);
  AppendName(&k, r.name);
  switch (r.type) {
    case kTypeA:
      k.append(reinterpret_cast<const char*>(r.a), 4);
      break;
    case kTypePTR:
      AppendName(&k, r.ptr);
      break;
    case kTypeSRV:
      Append16(&k, r.srv.priority);
      Append16(&k, r.srv.weight);
      Append16(&k, r.srv.port);
      AppendName(&k, r.srv.target);
      break;
    default:
      k.append(r.rdata.begin(), r.rdata.end());
      break;
  }
  return k;
}

}  // namespace

Querier::Querier(const QuerierConfig& config) : config_(config), rng_(config.seed ? config.seed : 1) {}

uint32_t Querier::Random(uint32_t lo, uint32_t hi) {
  // xorshift32: jitter only, no security role.
  rng_ ^= rng_ << 13;
  rng_ ^= rng_ >> 17;
  rng_ ^= rng_ << 5;
  if (hi <= lo) return lo;
  return lo + rng_ % (hi - lo + 1);
}

void Querier::SetInterfaces(const std::vector<uint32_t>& interfaces, uint64_t nowMs) {
  bool added = false;
  for (uint32_t i : interfaces)
    if (std::find(interfaces_.begin(), interfaces_.end(), i) == interfaces_.end()) added = true;
  interfaces_ = interfaces;
  for (auto it = cache_.begin(); it != cache_.end();) {
    if (std::find(interfaces_.begin(), interfaces_.end(), it->first.ifIndex) != interfaces_.end()) {
      ++it;
      continue;
    }
    cacheCount_ -= it->second.size();
    it = cache_.erase(it);
  }
  if (added) {
    for (auto& kv : subs_) {
      Sub& s = kv.second;
      if (s.finished || !s.querying) continue;
      s.nextQueryMs = nowMs;
      s.intervalMs = config_.firstIntervalMs;
    }
  }
  Reconcile(nowMs);
}

uint64_t Querier::AddSub(Sub sub, uint64_t nowMs) {
  if (subs_.size() >= config_.maxSubscriptions) return 0;
  const uint64_t id = nextId_++;
  sub.intervalMs = config_.firstIntervalMs;
  subs_[id] = std::move(sub);
  Reconcile(nowMs);
  return id;
}

uint64_t Querier::Browse(uint32_t ifIndex, const Name& serviceType, uint64_t nowMs) {
  Sub s;
  s.kind = Kind::kBrowse;
  s.ifIndex = ifIndex;
  s.name = serviceType;
  s.nextQueryMs = nowMs + Random(config_.firstBrowseDelayMinMs, config_.firstBrowseDelayMaxMs);
  return AddSub(std::move(s), nowMs);
}

uint64_t Querier::Resolve(uint32_t ifIndex, const Name& instance, uint64_t nowMs) {
  Sub s;
  s.kind = Kind::kResolve;
  s.ifIndex = ifIndex;
  s.name = instance;
  s.nextQueryMs = nowMs;
  return AddSub(std::move(s), nowMs);
}

uint64_t Querier::LookupAddress(uint32_t ifIndex, const Name& host, bool withTimeout,
                                uint64_t nowMs) {
  Sub s;
  s.kind = Kind::kAddress;
  s.ifIndex = ifIndex;
  s.name = host;
  s.nextQueryMs = nowMs;
  s.withTimeout = withTimeout;
  s.timeoutMs = nowMs + config_.lookupTimeoutMs;
  return AddSub(std::move(s), nowMs);
}

void Querier::Cancel(uint64_t sub) {
  subs_.erase(sub);
  // Events already produced for it are dropped too: nothing after a cancel.
  events_.erase(std::remove_if(events_.begin(), events_.end(),
                               [&](const Event& e) { return e.sub == sub; }),
                events_.end());
}

bool Querier::OnInterface(const Sub& s, uint32_t ifIndex) const {
  return s.ifIndex == 0 || s.ifIndex == ifIndex;
}

bool Querier::Interesting(const Entry& e) const {
  for (const auto& kv : subs_) {
    const Sub& s = kv.second;
    if (s.finished || !OnInterface(s, e.ifIndex) || !SameName(s.name, e.rec.name)) continue;
    switch (s.kind) {
      case Kind::kBrowse:
        if (e.rec.type == kTypePTR) return true;
        break;
      case Kind::kResolve:
        if (e.rec.type == kTypeSRV || e.rec.type == kTypeTXT) return true;
        break;
      case Kind::kAddress:
        if (e.rec.type == kTypeA) return true;
        break;
    }
  }
  return false;
}

void Querier::ScheduleRefresh(Entry* e) {
  if (e->ttl == 0 || e->refreshesSent >= 4) {
    e->nextRefreshMs = kNever;
    return;
  }
  // 80, 85, 90, 95 % of the TTL plus 0-2 % (RFC 6762 5.2), in tenths of a percent.
  const uint64_t permille = 800 + 50 * static_cast<uint64_t>(e->refreshesSent) + Random(0, 20);
  e->nextRefreshMs = e->receivedMs + static_cast<uint64_t>(e->ttl) * permille;
}

std::pair<Querier::Cache::iterator, Querier::Cache::iterator> Querier::GroupsOf(
    const std::string& nameKey) {
  auto first = cache_.lower_bound(GroupKey{nameKey, 0});
  auto last = first;
  while (last != cache_.end() && last->first.name == nameKey) ++last;
  return {first, last};
}

size_t Querier::CacheRecordsOf(const Name& name) const {
  const std::string key = NameKey(name);
  size_t n = 0;
  for (auto it = cache_.lower_bound(GroupKey{key, 0}); it != cache_.end() && it->first.name == key; ++it)
    n += it->second.size();
  return n;
}

void Querier::EvictSoonest() {
  Cache::iterator group = cache_.end();
  size_t at = 0;
  for (auto it = cache_.begin(); it != cache_.end(); ++it)
    for (size_t i = 0; i < it->second.size(); ++i)
      if (group == cache_.end() || it->second[i].expiresMs < group->second[at].expiresMs) {
        group = it;
        at = i;
      }
  if (group == cache_.end()) return;
  group->second.erase(group->second.begin() + static_cast<std::ptrdiff_t>(at));
  --cacheCount_;
  if (group->second.empty()) cache_.erase(group);
}

void Querier::Insert(uint32_t ifIndex, const Record& r, const std::string& nameKey, std::string dataKey,
                     uint64_t nowMs) {
  const GroupKey key{nameKey, ifIndex};
  auto found = cache_.find(key);
  if (found != cache_.end()) {
    for (Entry& e : found->second) {
      if (e.dataKey != dataKey) continue;
      if (r.ttl == 0) {
        e.expiresMs = std::min(e.expiresMs, nowMs + kLingerMs);
        e.ttl = 0;
        e.nextRefreshMs = kNever;
        return;
      }
      e.rec = r;
      e.receivedMs = nowMs;
      e.ttl = r.ttl;
      e.expiresMs = nowMs + static_cast<uint64_t>(r.ttl) * 1000u;
      e.refreshesSent = 0;
      ScheduleRefresh(&e);
      return;
    }
  }
  if (r.ttl == 0) return;  // a goodbye for something never heard
  if (found != cache_.end() && !found->second.empty() && found->second.size() >= config_.maxRecordsPerName) {
    // A name that floods pushes out its own records, not other names'.
    Group& g = found->second;
    auto soonest = std::min_element(g.begin(), g.end(), [](const Entry& a, const Entry& b) {
      return a.expiresMs < b.expiresMs;
    });
    g.erase(soonest);
    --cacheCount_;
  } else if (cacheCount_ >= config_.maxCacheRecords && cacheCount_ > 0) {
    EvictSoonest();
  }
  Entry e;
  e.ifIndex = ifIndex;
  e.rec = r;
  e.receivedMs = nowMs;
  e.ttl = r.ttl;
  e.expiresMs = nowMs + static_cast<uint64_t>(r.ttl) * 1000u;
  e.dataKey = std::move(dataKey);
  ScheduleRefresh(&e);
  cache_[key].push_back(std::move(e));
  ++cacheCount_;
}

bool Querier::Receive(uint32_t ifIndex, const uint8_t* data, size_t len, uint16_t sourcePort,
                      uint64_t nowMs) {
  // Responses come from the mDNS port (RFC 6762 6); anything else may be a
  // unicast DNS reply or a spoof and is not cached.
  if (sourcePort != kMdnsPort) return false;
  Message m;
  if (ParseMessage(data, len, &m) != ParseError::kNone) return false;
  if (!m.IsResponse() || m.Opcode() != 0 || m.Rcode() != 0) return false;

  // Cache flush (RFC 6762 10.2): records of a flushed name and type that
  // this datagram does not repeat and that are older than one second go
  // one second from now. Each cached record of a flushed name is looked at
  // once, against the set of what the datagram holds.
  std::vector<std::pair<std::string, std::string>> keys(m.records.size());  // name, data
  std::set<std::string> fresh;
  std::set<std::pair<std::string, uint16_t>> flushed;
  for (size_t i = 0; i < m.records.size(); ++i) {
    const Record& r = m.records[i];
    if (!Cacheable(r)) continue;
    keys[i].first = NameKey(r.name);
    keys[i].second = DataKey(r);
    if (r.ttl != 0) fresh.insert(keys[i].second);
    if (r.cacheFlush) flushed.insert({keys[i].first, r.type});
  }
  for (const auto& f : flushed) {
    auto group = cache_.find(GroupKey{f.first, ifIndex});
    if (group == cache_.end()) continue;
    for (Entry& e : group->second) {
      if (e.rec.type != f.second) continue;
      ++flushChecks_;
      if (e.receivedMs + kLingerMs > nowMs) continue;
      if (!fresh.count(e.dataKey)) e.expiresMs = std::min(e.expiresMs, nowMs + kLingerMs);
    }
  }
  for (size_t i = 0; i < m.records.size(); ++i)
    if (Cacheable(m.records[i])) Insert(ifIndex, m.records[i], keys[i].first, std::move(keys[i].second), nowMs);
  Reconcile(nowMs);
  return true;
}

void Querier::ReconcileBrowse(uint64_t id, Sub* s) {
  std::set<IfName, IfNameLess> now;
  const auto groups = GroupsOf(NameKey(s->name));
  for (auto g = groups.first; g != groups.second; ++g) {
    if (!OnInterface(*s, g->first.ifIndex)) continue;
    for (const Entry& e : g->second)
      if (e.rec.type == kTypePTR && e.rec.ptr.IsChildOf(s->name)) now.insert(IfName{e.ifIndex, e.rec.ptr});
  }
  for (auto it = s->instances.begin(); it != s->instances.end();) {
    if (now.count(*it)) {
      ++it;
      continue;
    }
    Event ev;
    ev.sub = id;
    ev.kind = EventKind::kBrowseRemove;
    ev.ifIndex = it->ifIndex;
    ev.name = it->name;
    events_.push_back(std::move(ev));
    it = s->instances.erase(it);
  }
  for (const IfName& n : now) {
    if (s->instances.count(n)) continue;
    Event ev;
    ev.sub = id;
    ev.kind = EventKind::kBrowseAdd;
    ev.ifIndex = n.ifIndex;
    ev.name = n.name;
    events_.push_back(std::move(ev));
    s->instances.insert(n);
  }
}

void Querier::ReconcileResolve(uint64_t id, Sub* s) {
  // The newest SRV and TXT of the instance on the lowest interface that has both.
  const auto groups = GroupsOf(NameKey(s->name));
  for (auto g = groups.first; g != groups.second; ++g) {
    const uint32_t ifIndex = g->first.ifIndex;
    if (!OnInterface(*s, ifIndex)) continue;
    const Entry* srv = nullptr;
    const Entry* txt = nullptr;
    for (const Entry& e : g->second) {
      if (e.rec.type == kTypeSRV && (!srv || e.receivedMs >= srv->receivedMs)) srv = &e;
      if (e.rec.type == kTypeTXT && (!txt || e.receivedMs >= txt->receivedMs)) txt = &e;
    }
    if (!srv || !txt) continue;
    s->querying = false;
    const SrvData& d = srv->rec.srv;
    if (s->resolved && s->resolvedIf == ifIndex && s->resolvedSrv.port == d.port &&
        SameName(s->resolvedSrv.target, d.target) && s->resolvedTxt == txt->rec.rdata)
      return;
    s->resolved = true;
    s->resolvedIf = ifIndex;
    s->resolvedSrv = d;
    s->resolvedTxt = txt->rec.rdata;
    Event ev;
    ev.sub = id;
    ev.kind = EventKind::kResolved;
    ev.ifIndex = ifIndex;
    ev.name = s->name;
    ev.srv = d;
    ev.txt = txt->rec.rdata;
    events_.push_back(std::move(ev));
    return;
  }
}

void Querier::ReconcileAddress(uint64_t id, Sub* s) {
  std::vector<const Entry*> now;
  std::set<std::pair<uint32_t, uint32_t>> keys;
  const auto groups = GroupsOf(NameKey(s->name));
  for (auto g = groups.first; g != groups.second; ++g) {
    if (!OnInterface(*s, g->first.ifIndex)) continue;
    for (const Entry& e : g->second)
      if (e.rec.type == kTypeA && keys.insert({e.ifIndex, AddrKey(e.rec.a)}).second) now.push_back(&e);
  }
  if (!now.empty()) s->querying = false;
  for (auto it = s->addresses.begin(); it != s->addresses.end();) {
    if (keys.count(*it)) {
      ++it;
      continue;
    }
    Event ev;
    ev.sub = id;
    ev.kind = EventKind::kAddressRemove;
    ev.ifIndex = it->first;
    ev.name = s->name;
    ev.addr[0] = static_cast<uint8_t>(it->second >> 24);
    ev.addr[1] = static_cast<uint8_t>(it->second >> 16);
    ev.addr[2] = static_cast<uint8_t>(it->second >> 8);
    ev.addr[3] = static_cast<uint8_t>(it->second);
    events_.push_back(std::move(ev));
    it = s->addresses.erase(it);
  }
  for (const Entry* e : now) {
    const std::pair<uint32_t, uint32_t> key{e->ifIndex, AddrKey(e->rec.a)};
    if (s->addresses.count(key)) continue;
    Event ev;
    ev.sub = id;
    ev.kind = EventKind::kAddressAdd;
    ev.ifIndex = e->ifIndex;
    ev.name = s->name;
    std::memcpy(ev.addr, e->rec.a, 4);
    ev.ttl = e->ttl;
    events_.push_back(std::move(ev));
    s->addresses.insert(key);
  }
}

void Querier::Reconcile(uint64_t nowMs) {
  for (auto& kv : subs_) {
    Sub& s = kv.second;
    if (s.finished) continue;
    switch (s.kind) {
      case Kind::kBrowse: ReconcileBrowse(kv.first, &s); break;
      case Kind::kResolve: ReconcileResolve(kv.first, &s); break;
      case Kind::kAddress: ReconcileAddress(kv.first, &s); break;
    }
  }
}

void Querier::QueueQuestion(uint32_t ifIndex, const Name& name, uint16_t type) {
  std::vector<Question>& qs = pending_[ifIndex];
  for (const Question& q : qs)
    if (q.type == type && SameName(q.name, name)) return;
  Question q;
  q.name = name;
  q.type = type;
  qs.push_back(std::move(q));
}

void Querier::FlushQuestions(uint64_t nowMs) {
  for (auto& kv : pending_) {
    const uint32_t ifIndex = kv.first;
    const std::vector<Question>& qs = kv.second;
    for (size_t first = 0; first < qs.size(); first += kQuestionsPerQuery) {
      Message m;
      const size_t last = std::min(qs.size(), first + kQuestionsPerQuery);
      m.questions.assign(qs.begin() + static_cast<std::ptrdiff_t>(first),
                         qs.begin() + static_cast<std::ptrdiff_t>(last));
      // Known answers (RFC 6762 7.1): what we hold with more than half its TTL left.
      std::vector<Record> known;
      for (const Question& q : m.questions) {
        auto group = cache_.find(GroupKey{NameKey(q.name), ifIndex});
        if (group == cache_.end()) continue;
        for (const Entry& e : group->second) {
          if (e.rec.type != q.type || e.ttl == 0) continue;
          if (e.expiresMs <= nowMs || (e.expiresMs - nowMs) * 2 <= static_cast<uint64_t>(e.ttl) * 1000u)
            continue;
          Record r = e.rec;
          r.cacheFlush = false;
          r.ttl = static_cast<uint32_t>((e.expiresMs - nowMs) / 1000u);
          known.push_back(std::move(r));
        }
      }
      m.records = std::move(known);
      Outgoing out;
      out.ifIndex = ifIndex;
      if (BuildMessage(m, kMaxQueryBytes, &out.bytes)) outgoing_.push_back(std::move(out));
    }
  }
  pending_.clear();
}

void Querier::Advance(uint64_t nowMs) {
  const size_t before = cacheCount_;
  for (auto it = cache_.begin(); it != cache_.end();) {
    Group& g = it->second;
    const size_t had = g.size();
    g.erase(std::remove_if(g.begin(), g.end(), [&](const Entry& e) { return e.expiresMs <= nowMs; }), g.end());
    cacheCount_ -= had - g.size();
    it = g.empty() ? cache_.erase(it) : std::next(it);
  }
  if (cacheCount_ != before) Reconcile(nowMs);

  for (auto& kv : subs_) {
    Sub& s = kv.second;
    if (s.finished || !s.withTimeout || nowMs < s.timeoutMs) continue;
    s.finished = true;
    Event ev;
    ev.sub = kv.first;
    ev.kind = EventKind::kTimeout;
    ev.name = s.name;
    events_.push_back(std::move(ev));
  }

  for (auto& kv : subs_) {
    Sub& s = kv.second;
    if (s.finished || !s.querying || nowMs < s.nextQueryMs) continue;
    for (uint32_t ifIndex : interfaces_) {
      if (!OnInterface(s, ifIndex)) continue;
      switch (s.kind) {
        case Kind::kBrowse:
          QueueQuestion(ifIndex, s.name, kTypePTR);
          break;
        case Kind::kResolve:
          QueueQuestion(ifIndex, s.name, kTypeSRV);
          QueueQuestion(ifIndex, s.name, kTypeTXT);
          break;
        case Kind::kAddress:
          QueueQuestion(ifIndex, s.name, kTypeA);
          break;
      }
    }
    s.nextQueryMs = nowMs + s.intervalMs;
    s.intervalMs = static_cast<uint32_t>(
        std::min<uint64_t>(static_cast<uint64_t>(s.intervalMs) * 2u, config_.maxIntervalMs));
  }

  for (auto& kv : cache_) {
    for (Entry& e : kv.second) {
      if (e.nextRefreshMs > nowMs) continue;
      // Records nobody waits for are not refreshed, but their schedule moves on.
      if (Interesting(e)) QueueQuestion(e.ifIndex, e.rec.name, e.rec.type);
      ++e.refreshesSent;
      ScheduleRefresh(&e);
    }
  }
  FlushQuestions(nowMs);
}

uint64_t Querier::NextWakeupMs() const {
  uint64_t next = kNever;
  for (const auto& kv : subs_) {
    const Sub& s = kv.second;
    if (s.finished) continue;
    if (s.querying) next = std::min(next, s.nextQueryMs);
    if (s.withTimeout) next = std::min(next, s.timeoutMs);
  }
  for (const auto& kv : cache_)
    for (const Entry& e : kv.second) next = std::min(next, std::min(e.expiresMs, e.nextRefreshMs));
  return next;
}

std::vector<Event> Querier::TakeEvents() {
  std::vector<Event> out;
  out.swap(events_);
  return out;
}

std::vector<Outgoing> Querier::TakeOutgoing() {
  std::vector<Outgoing> out;
  out.swap(outgoing_);
  return out;
}

}  // namespace mdns
