// The querier on an injected clock: query schedule, cache, goodbyes, expiry.
#include "bridges/dnssd/MdnsQuerier.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MdnsTestUtil.h"

using namespace mdns;
using namespace mdnstest;

namespace {

const Name kRaop = N("_raop._tcp.local.");
const Name kTestRx = N("TestRx._raop._tcp.local.");

QuerierConfig Fixed(uint32_t firstDelayMs = 50) {
  QuerierConfig c;
  c.firstBrowseDelayMinMs = c.firstBrowseDelayMaxMs = firstDelayMs;
  return c;
}

struct Sent {
  uint64_t at;
  uint32_t ifIndex;
  Message message;
};

// Drives a querier through time in steps, collecting what it sends.
class Clock {
 public:
  explicit Clock(Querier* q) : q_(q) {}
  void RunTo(uint64_t t, uint64_t step = 10) {
    while (now_ < t) {
      now_ = std::min(t, now_ + step);
      q_->Advance(now_);
      for (Outgoing& o : q_->TakeOutgoing()) {
        Sent s{now_, o.ifIndex, Message()};
        EXPECT_EQ(ParseMessage(o.bytes.data(), o.bytes.size(), &s.message), ParseError::kNone);
        EXPECT_FALSE(s.message.IsResponse());
        sent.push_back(std::move(s));
      }
    }
  }
  uint64_t now() const { return now_; }
  // Send times of queries that ask (name, type).
  std::vector<uint64_t> TimesAsking(const Name& name, uint16_t type) const {
    std::vector<uint64_t> times;
    for (const Sent& s : sent)
      for (const Question& qu : s.message.questions)
        if (qu.type == type && SameName(qu.name, name)) times.push_back(s.at);
    return times;
  }
  std::vector<Sent> sent;

 private:
  Querier* q_;
  uint64_t now_ = 0;
};

void Feed(Querier* q, const std::vector<uint8_t>& bytes, uint64_t at, uint32_t ifIndex = 1) {
  q->Receive(ifIndex, bytes.data(), bytes.size(), kMdnsPort, at);
}

std::vector<EventKind> Kinds(const std::vector<Event>& events) {
  std::vector<EventKind> k;
  for (const Event& e : events) k.push_back(e.kind);
  return k;
}

std::vector<uint64_t> Gaps(const std::vector<uint64_t>& t) {
  std::vector<uint64_t> g;
  for (size_t i = 1; i < t.size(); ++i) g.push_back(t[i] - t[i - 1]);
  return g;
}

}  // namespace

TEST(MdnsQuerier, BrowseQueriesAfterAShortDelayThenAtDoublingIntervals) {
  QuerierConfig c;  // the real 20-120 ms first delay
  c.maxIntervalMs = 8000;
  Querier q(c);
  q.SetInterfaces({1, 2}, 0);
  q.Browse(0, kRaop, 0);
  Clock clock(&q);
  clock.RunTo(40000, 5);
  const std::vector<uint64_t> t = clock.TimesAsking(kRaop, kTypePTR);
  ASSERT_GE(t.size(), 14u);  // each time on both interfaces
  EXPECT_GE(t[0], 20u);
  EXPECT_LE(t[0], 125u);
  std::vector<uint64_t> perInterface;
  for (const Sent& s : clock.sent)
    if (s.ifIndex == 1) perInterface.push_back(s.at);
  const std::vector<uint64_t> gaps = Gaps(perInterface);
  const std::vector<uint64_t> expected = {1000, 2000, 4000, 8000, 8000, 8000};
  ASSERT_GE(gaps.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(double(gaps[i]), double(expected[i]), 5) << i;
}

TEST(MdnsQuerier, AnnouncedServiceIsAddedOnceAndAGoodbyeRemovesItOneSecondLater) {
  Querier q(Fixed());
  q.SetInterfaces({1}, 0);
  const uint64_t browse = q.Browse(0, kRaop, 0);
  Feed(&q, TestRxAnnouncement(), 100);
  std::vector<Event> ev = q.TakeEvents();
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].kind, EventKind::kBrowseAdd);
  EXPECT_EQ(ev[0].sub, browse);
  EXPECT_EQ(ev[0].ifIndex, 1u);
  EXPECT_EQ(ev[0].name.ToDotted(), "TestRx._raop._tcp.local.");
  // The same announcement again (a refresh) is no news.
  Feed(&q, TestRxAnnouncement(), 2000);
  EXPECT_TRUE(q.TakeEvents().empty());

  Feed(&q, Response({Ptr("_raop._tcp.local.", "TestRx._raop._tcp.local.", 0)}), 5000);
  Clock clock(&q);
  clock.RunTo(5990);
  EXPECT_TRUE(q.TakeEvents().empty());
  clock.RunTo(6000);
  ev = q.TakeEvents();
  ASSERT_EQ(Kinds(ev), std::vector<EventKind>{EventKind::kBrowseRemove});
  EXPECT_EQ(ev[0].name.labels[0], "TestRx");
}

TEST(MdnsQuerier, ExpiringPointerRemovesTheServiceAfterFourRefreshQueries) {
  Querier q(Fixed());
  q.SetInterfaces({1}, 0);
  q.Browse(0, kRaop, 0);
  Feed(&q, Response({Ptr("_raop._tcp.local.", "TestRx._raop._tcp.local.", 100)}), 0);
  ASSERT_EQ(Kinds(q.TakeEvents()), std::vector<EventKind>{EventKind::kBrowseAdd});
  Clock clock(&q);
  clock.RunTo(99990, 10);
  EXPECT_TRUE(q.TakeEvents().empty());
  // Refresh queries at 80, 85, 90, 95 % of 100 s (+ up to 2 %), beside the
  // browse's own schedule (50 ms, then 1, 3, 7, 15, 31, 63 s ...).
  int refreshes = 0;
  for (uint64_t t : clock.TimesAsking(kRaop, kTypePTR))
    for (uint64_t base : {80000, 85000, 90000, 95000})
      if (t >= base && t <= base + 2000) ++refreshes;
  EXPECT_EQ(refreshes, 4);
  clock.RunTo(100000);
  EXPECT_EQ(Kinds(q.TakeEvents()), std::vector<EventKind>{EventKind::kBrowseRemove});
  EXPECT_EQ(q.CacheSize(), 0u);
}

TEST(MdnsQuerier, QueriesCarryKnownAnswersWithMoreThanHalfTheirTtlLeft) {
  Querier q(Fixed());
  q.SetInterfaces({1}, 0);
  q.Browse(0, kRaop, 0);
  Feed(&q, Response({Ptr("_raop._tcp.local.", "Old._raop._tcp.local.", 4),
                     Ptr("_raop._tcp.local.", "TestRx._raop._tcp.local.", 4500)}),
       0);
  Clock clock(&q);
  clock.RunTo(3100);  // queries at 50 ms, 1050 ms and 3050 ms
  ASSERT_GE(clock.sent.size(), 3u);
  const Message& first = clock.sent[0].message;
  EXPECT_EQ(first.records.size(), 2u);  // both fresh at 50 ms
  const Message& third = clock.sent[2].message;
  ASSERT_EQ(third.records.size(), 1u);  // 4 s record has under half left at 3.05 s
  EXPECT_EQ(third.records[0].ptr.labels[0], "TestRx");
  EXPECT_EQ(third.records[0].ttl, 4496u);
  EXPECT_FALSE(third.records[0].cacheFlush);
}

TEST(MdnsQuerier, IgnoresWhatIsNotAnMdnsResponse) {
  Querier q(Fixed());
  q.SetInterfaces({1}, 0);
  q.Browse(0, kRaop, 0);
  std::vector<uint8_t> good = TestRxAnnouncement();
  EXPECT_FALSE(q.Receive(1, good.data(), good.size(), 53, 10));  // not from port 5353
  std::vector<uint8_t> query = good;
  query[2] = 0;  // QR clear: a query carrying known answers
  std::vector<uint8_t> opcode = good;
  opcode[2] |= 0x08;
  std::vector<uint8_t> rcode = good;
  rcode[3] |= 0x03;
  std::vector<uint8_t> cut(good.begin(), good.end() - 1);
  for (const auto& b : {query, opcode, rcode, cut}) EXPECT_FALSE(q.Receive(1, b.data(), b.size(), kMdnsPort, 10));
  EXPECT_TRUE(q.TakeEvents().empty());
  EXPECT_EQ(q.CacheSize(), 0u);
  // A PTR whose target is not an instance of the browsed type names no service.
  Feed(&q, Response({Ptr("_raop._tcp.local.", "elsewhere.local.", 4500)}), 20);
  EXPECT_TRUE(q.TakeEvents().empty());
}

TEST(MdnsQuerier, ResolveReportsSrvAndTxtTogetherThenStopsAsking) {
  Querier q(Fixed());
  q.SetInterfaces({1}, 0);
  const uint64_t sub = q.Resolve(1, kTestRx, 0);
  Clock clock(&q);
  clock.RunTo(10);
  ASSERT_EQ(clock.sent.size(), 1u);
  EXPECT_EQ(clock.sent[0].message.questions.size(), 2u);  // SRV and TXT at once
  Feed(&q, Response({Srv("TestRx._raop._tcp.local.", "rx1.local.", 47000, 120)}), 500);
  EXPECT_TRUE(q.TakeEvents().empty());
  Feed(&q, Response({Txt("TestRx._raop._tcp.local.", TxtData({"txtvers=1", "am=TestRx"}), 4500)}), 600);
  std::vector<Event> ev = q.TakeEvents();
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].kind, EventKind::kResolved);
  EXPECT_EQ(ev[0].sub, sub);
  EXPECT_EQ(ev[0].srv.port, 47000);
  EXPECT_EQ(ev[0].srv.target.ToDotted(), "rx1.local.");
  EXPECT_EQ(ev[0].txt, TxtData({"txtvers=1", "am=TestRx"}));
  const size_t before = clock.sent.size();
  clock.RunTo(20000);
  EXPECT_EQ(clock.TimesAsking(kTestRx, kTypeSRV).size(), before);  // refreshes only after 80 % of 120 s

  // A second resolve of a cached service answers at once, from the cache.
  q.Resolve(0, kTestRx, 20000);
  EXPECT_EQ(Kinds(q.TakeEvents()), std::vector<EventKind>{EventKind::kResolved});
}

TEST(MdnsQuerier, AddressLookupAnswersThenTimesOutAndEnds) {
  Querier q(Fixed());
  q.SetInterfaces({1}, 0);
  const Name host = N("rx1.local.");
  const uint64_t sub = q.LookupAddress(1, host, true, 0);
  Clock clock(&q);
  clock.RunTo(200);
  Feed(&q, Response({A("rx1.local.", 127, 0, 0, 2, 120)}), 250);
  std::vector<Event> ev = q.TakeEvents();
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_EQ(ev[0].kind, EventKind::kAddressAdd);
  EXPECT_EQ(std::vector<uint8_t>(ev[0].addr, ev[0].addr + 4), (std::vector<uint8_t>{127, 0, 0, 2}));
  EXPECT_EQ(ev[0].ttl, 120u);
  clock.RunTo(4990);
  EXPECT_TRUE(q.TakeEvents().empty());
  clock.RunTo(5000);
  ev = q.TakeEvents();
  ASSERT_EQ(Kinds(ev), std::vector<EventKind>{EventKind::kTimeout});
  EXPECT_EQ(ev[0].sub, sub);
  // Ended: a new address is no longer reported, nothing more is asked.
  Feed(&q, Response({A("rx1.local.", 127, 0, 0, 3, 120)}), 5100);
  clock.RunTo(30000);
  EXPECT_TRUE(q.TakeEvents().empty());
  EXPECT_EQ(clock.TimesAsking(host, kTypeA).size(), 1u);
}

TEST(MdnsQuerier, UnansweredLookupRetriesThenTimesOut) {
  Querier q(Fixed());
  q.SetInterfaces({1}, 0);
  const Name host = N("nohost.local.");
  q.LookupAddress(0, host, true, 0);
  Clock clock(&q);
  clock.RunTo(6000);
  EXPECT_EQ(clock.TimesAsking(host, kTypeA), (std::vector<uint64_t>{10, 1010, 3010}));
  EXPECT_EQ(Kinds(q.TakeEvents()), std::vector<EventKind>{EventKind::kTimeout});
  // Without the time-out flag a lookup goes on.
  q.LookupAddress(0, host, false, 6000);
  clock.RunTo(20000);
  EXPECT_TRUE(q.TakeEvents().empty());
}

TEST(MdnsQuerier, CancelledSubscriptionGetsNothingMore) {
  Querier q(Fixed());
  q.SetInterfaces({1}, 0);
  const uint64_t browse = q.Browse(0, kRaop, 0);
  Feed(&q, TestRxAnnouncement(), 10);  // an event waits
  q.Cancel(browse);
  EXPECT_TRUE(q.TakeEvents().empty());
  Clock clock(&q);
  clock.RunTo(5000);
  EXPECT_TRUE(clock.TimesAsking(kRaop, kTypePTR).empty());
  EXPECT_EQ(q.SubscriptionCount(), 0u);
}

TEST(MdnsQuerier, CacheFlushReplacesAnOlderAddressOneSecondLater) {
  Querier q(Fixed());
  q.SetInterfaces({1}, 0);
  q.LookupAddress(1, N("rx1.local."), false, 0);
  Feed(&q, Response({A("rx1.local.", 127, 0, 0, 2, 120)}), 0);
  EXPECT_EQ(Kinds(q.TakeEvents()), std::vector<EventKind>{EventKind::kAddressAdd});
  Feed(&q, Response({A("rx1.local.", 127, 0, 0, 3, 120)}), 5000);
  std::vector<Event> ev = q.TakeEvents();
  ASSERT_EQ(Kinds(ev), std::vector<EventKind>{EventKind::kAddressAdd});
  EXPECT_EQ(ev[0].addr[3], 3);
  Clock clock(&q);
  clock.RunTo(5990);
  EXPECT_TRUE(q.TakeEvents().empty());
  clock.RunTo(6000);
  ev = q.TakeEvents();
  ASSERT_EQ(Kinds(ev), std::vector<EventKind>{EventKind::kAddressRemove});
  EXPECT_EQ(ev[0].addr[3], 2);
}

TEST(MdnsQuerier, CacheStaysWithinItsBound) {
  QuerierConfig c = Fixed();
  c.maxCacheRecords = 8;
  Querier q(c);
  q.SetInterfaces({1}, 0);
  q.Browse(0, kRaop, 0);
  for (int i = 0; i < 40; ++i)
    Feed(&q, Response({Ptr("_raop._tcp.local.", "Rx" + std::to_string(i) + "._raop._tcp.local.",
                           static_cast<uint32_t>(100 + i))}),
         static_cast<uint64_t>(i));
  EXPECT_EQ(q.CacheSize(), 8u);
}

TEST(MdnsQuerier, RecordsBelongToTheirInterface) {
  Querier q(Fixed());
  q.SetInterfaces({1, 2}, 0);
  q.Browse(0, kRaop, 0);
  const uint64_t only2 = q.Browse(2, kRaop, 0);
  Feed(&q, TestRxAnnouncement(), 10, 1);
  Feed(&q, TestRxAnnouncement(), 10, 2);
  std::vector<Event> ev = q.TakeEvents();
  ASSERT_EQ(ev.size(), 3u);  // any-interface browse: twice; interface-2 browse: once
  int forOnly2 = 0;
  for (const Event& e : ev)
    if (e.sub == only2) {
      ++forOnly2;
      EXPECT_EQ(e.ifIndex, 2u);
    }
  EXPECT_EQ(forOnly2, 1);
  // Interface 2 goes away: its records, and so its services, go with it.
  q.SetInterfaces({1}, 20);
  ev = q.TakeEvents();
  ASSERT_EQ(Kinds(ev), (std::vector<EventKind>{EventKind::kBrowseRemove, EventKind::kBrowseRemove}));
  // A new interface restarts the schedule: a query goes out at once.
  Clock clock(&q);
  clock.RunTo(5000);
  const size_t before = clock.sent.size();
  q.SetInterfaces({1, 3}, 5000);
  q.Advance(5000);
  EXPECT_GT(q.TakeOutgoing().size(), 0u);
  EXPECT_GT(before, 0u);
}

namespace {

// A response of count TXT records of one owner, each with its own content
// ("k=<first + i>"), the owner written once and pointed at after that, as a
// responder packs them to fit many into one datagram.
std::vector<uint8_t> TxtFlood(const std::string& owner, int first, int count, bool flush) {
  std::vector<uint8_t> out = {0, 0, 0x84, 0, 0, 0, static_cast<uint8_t>(count >> 8),
                              static_cast<uint8_t>(count), 0, 0, 0, 0};
  for (int i = 0; i < count; ++i) {
    if (i == 0) {
      for (const std::string& label : N(owner).labels) {
        out.push_back(static_cast<uint8_t>(label.size()));
        out.insert(out.end(), label.begin(), label.end());
      }
      out.push_back(0);
    } else {
      out.push_back(0xC0);
      out.push_back(0x0C);
    }
    const std::string item = "k=" + std::to_string(first + i);
    const uint16_t cls = flush ? 0x8001 : 0x0001;
    const uint8_t fixed[] = {0, kTypeTXT, static_cast<uint8_t>(cls >> 8), static_cast<uint8_t>(cls), 0, 0, 0x11,
                             0x94, 0, static_cast<uint8_t>(item.size() + 1)};  // TTL 4500
    out.insert(out.end(), fixed, fixed + sizeof(fixed));
    out.push_back(static_cast<uint8_t>(item.size()));
    out.insert(out.end(), item.begin(), item.end());
  }
  return out;
}

// The subscriptions a caller makes that resolves every service the browse
// adds, as the discovery thread does.
struct ResolvingCaller {
  Querier* q;
  size_t refused = 0;
  void Take(uint64_t now) {
    for (const Event& e : q->TakeEvents())
      if (e.kind == EventKind::kBrowseAdd && q->Resolve(e.ifIndex, e.name, now) == 0) ++refused;
  }
};

}  // namespace

// One responder that floods one name: the cache keeps a bounded number of
// its records, so the other names' records stay and every later datagram
// of that name costs bounded work.
TEST(MdnsQuerier, FloodOfOneNameIsHeldToThePerNameBound) {
  const QuerierConfig c = Fixed();
  Querier q(c);
  q.SetInterfaces({1}, 0);
  q.Resolve(1, kTestRx, 0);
  Feed(&q, TestRxAnnouncement(), 0);
  for (int d = 0; d < 11; ++d) Feed(&q, TxtFlood("Flood._raop._tcp.local.", d * 400, 400, false), 10 + d);
  EXPECT_LE(q.CacheRecordsOf(N("Flood._raop._tcp.local.")), c.maxRecordsPerName);
  EXPECT_EQ(q.CacheRecordsOf(kTestRx), 2u);  // SRV and TXT of the real receiver
  EXPECT_EQ(q.CacheSize(), c.maxRecordsPerName + 4);
  EXPECT_LT(c.maxRecordsPerName, c.maxCacheRecords);
}

// Cache flush: what the datagram repeats stays, the rest of that name and
// type goes one second later; each cached record is looked at once per
// datagram, however many records the datagram holds.
TEST(MdnsQuerier, CacheFlushLooksAtEachCachedRecordOnce) {
  QuerierConfig c = Fixed();
  c.maxRecordsPerName = 1000;
  Querier q(c);
  q.SetInterfaces({1}, 0);
  const std::string owner = "Flood._raop._tcp.local.";
  Feed(&q, TxtFlood(owner, 0, 200, false), 0);
  ASSERT_EQ(q.CacheRecordsOf(N(owner)), 200u);
  const uint64_t before = q.FlushChecks();
  // 100 of the cached ones again (k=100..199), and 100 new.
  Feed(&q, TxtFlood(owner, 100, 200, true), 5000);
  EXPECT_LE(q.FlushChecks() - before, 200u);
  EXPECT_EQ(q.CacheRecordsOf(N(owner)), 300u);
  Clock clock(&q);
  clock.RunTo(5990);
  EXPECT_EQ(q.CacheRecordsOf(N(owner)), 300u);
  clock.RunTo(6000);
  EXPECT_EQ(q.CacheRecordsOf(N(owner)), 200u);
}

// Spoofed services: a caller that resolves every browse add gets its
// resolves refused past the bound, so subscriptions, and the queries they
// send, stay bounded.
TEST(MdnsQuerier, LiveSubscriptionsStayWithinTheirBound) {
  QuerierConfig c = Fixed();
  Querier q(c);
  q.SetInterfaces({1}, 0);
  q.Browse(0, kRaop, 0);
  ResolvingCaller caller{&q};
  Clock clock(&q);
  for (int d = 0; d < 30; ++d) {
    std::vector<Record> ptrs;
    for (int i = 0; i < 150; ++i)
      ptrs.push_back(Ptr("_raop._tcp.local.", "S" + std::to_string(d * 150 + i) + "._raop._tcp.local.", 4500));
    Feed(&q, Response(ptrs), clock.now());
    caller.Take(clock.now());
    clock.RunTo(clock.now() + 100);
  }
  EXPECT_LE(q.SubscriptionCount(), c.maxSubscriptions);
  EXPECT_GT(caller.refused, 0u);
  // A cancelled subscription makes room again.
  const size_t live = q.SubscriptionCount();
  q.Cancel(2);
  EXPECT_NE(q.Resolve(1, kTestRx, clock.now()), 0u);
  EXPECT_EQ(q.SubscriptionCount(), live);
}
