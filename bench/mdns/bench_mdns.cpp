// bench-mdns: what hostile datagrams cost the mDNS querier, beside what an
// ordinary announcement costs it, on one thread with the querier's own
// clock. Prints the time of each and its ratio to the yardstick.
//
//   flush:   the cache holds as many TXT records of one name as the
//            responder could push in (11 datagrams of 400), then one
//            datagram of 550 cache-flush TXT records of that name arrives.
//   spoofed: 30 datagrams of 150 distinct PTR records each, every browse
//            add resolved as the discovery thread does; the last datagram.
//   yardstick: the test receiver's announcement (PTR, SRV, TXT, A) into a
//            querier that browses and resolves it.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bridges/dnssd/MdnsQuerier.h"

using namespace mdns;

namespace {

using Clock = std::chrono::steady_clock;

Name N(const std::string& dotted) {
  Name n;
  Name::FromDotted(dotted, &n);
  return n;
}

std::vector<uint8_t> Response(const std::vector<Record>& records) {
  Message m;
  m.flags = 0x8400;
  m.records = records;
  std::vector<uint8_t> out;
  BuildMessage(m, kMaxMessageBytes, &out);
  return out;
}

// count TXT records of owner, the owner written once and pointed at after.
std::vector<uint8_t> TxtFlood(const std::string& owner, int first, int count, bool flush) {
  std::vector<uint8_t> out = {0, 0, 0x84, 0, 0, 0, static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count),
                              0, 0, 0, 0};
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
    const int v = first + i;
    const uint8_t cls = flush ? 0x80 : 0x00;
    const uint8_t fixed[] = {0, kTypeTXT, cls, 1, 0, 0, 0x11, 0x94, 0, 3, 2,
                             static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    out.insert(out.end(), fixed, fixed + sizeof(fixed));
  }
  return out;
}

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

double Yardstick() {
  Record ptr;
  ptr.name = N("_raop._tcp.local.");
  ptr.type = kTypePTR;
  ptr.ttl = 4500;
  ptr.ptr = N("TestRx._raop._tcp.local.");
  Record srv;
  srv.name = N("TestRx._raop._tcp.local.");
  srv.type = kTypeSRV;
  srv.cacheFlush = true;
  srv.ttl = 120;
  srv.srv.port = 47000;
  srv.srv.target = N("rx1.local.");
  Record txt = srv;
  txt.type = kTypeTXT;
  txt.rdata = {9, 't', 'x', 't', 'v', 'e', 'r', 's', '=', '1'};
  Record a;
  a.name = N("rx1.local.");
  a.type = kTypeA;
  a.cacheFlush = true;
  a.ttl = 120;
  a.a[0] = 127;
  a.a[3] = 2;
  const std::vector<uint8_t> d = Response({ptr, srv, txt, a});
  const int runs = 2000;
  const auto t0 = Clock::now();
  for (int i = 0; i < runs; ++i) {
    Querier q;
    q.SetInterfaces({1}, 0);
    q.Browse(0, N("_raop._tcp.local."), 0);
    q.Resolve(1, N("TestRx._raop._tcp.local."), 0);
    q.Receive(1, d.data(), d.size(), kMdnsPort, 10);
  }
  return Seconds(t0, Clock::now()) / runs;
}

double Flush(size_t* bytes) {
  Querier q;
  q.SetInterfaces({1}, 0);
  for (int d = 0; d < 11; ++d) {
    const std::vector<uint8_t> fill = TxtFlood("Flood._raop._tcp.local.", d * 400, 400, false);
    q.Receive(1, fill.data(), fill.size(), kMdnsPort, 10 + d);
  }
  const std::vector<uint8_t> hostile = TxtFlood("Flood._raop._tcp.local.", 5000, 550, true);
  *bytes = hostile.size();
  const auto t0 = Clock::now();
  q.Receive(1, hostile.data(), hostile.size(), kMdnsPort, 5000);
  return Seconds(t0, Clock::now());
}

double Spoofed(size_t* subscriptions) {
  Querier q;
  q.SetInterfaces({1}, 0);
  q.Browse(0, N("_raop._tcp.local."), 0);
  double last = 0;
  uint64_t now = 0;
  for (int d = 0; d < 30; ++d) {
    std::vector<Record> ptrs;
    for (int i = 0; i < 150; ++i) {
      Record r;
      r.name = N("_raop._tcp.local.");
      r.type = kTypePTR;
      r.ttl = 4500;
      r.ptr = N("S" + std::to_string(d * 150 + i) + "._raop._tcp.local.");
      ptrs.push_back(r);
    }
    const std::vector<uint8_t> bytes = Response(ptrs);
    const auto t0 = Clock::now();
    q.Receive(1, bytes.data(), bytes.size(), kMdnsPort, now);
    for (const Event& e : q.TakeEvents())
      if (e.kind == EventKind::kBrowseAdd) q.Resolve(e.ifIndex, e.name, now);
    last = Seconds(t0, Clock::now());
    now += 100;
    q.Advance(now);
    q.TakeOutgoing();
  }
  *subscriptions = q.SubscriptionCount();
  return last;
}

}  // namespace

int main() {
  const double yard = Yardstick();
  size_t bytes = 0, subs = 0;
  const double flush = Flush(&bytes);
  const double spoofed = Spoofed(&subs);
  std::printf("yardstick: one announcement datagram: %.1f us\n", yard * 1e6);
  std::printf("flush: one %u-byte datagram of 550 cache-flush TXT records: %.1f us, ratio %.0f\n",
              static_cast<unsigned>(bytes), flush * 1e6, flush / yard);
  std::printf("spoofed: the 30th datagram of 150 PTR records (%u live subscriptions): %.1f us, ratio %.0f\n",
              static_cast<unsigned>(subs), spoofed * 1e6, spoofed / yard);
  return 0;
}
