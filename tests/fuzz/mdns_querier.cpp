// The mDNS querier as the discovery drives it: browsing the receivers'
// two service types, resolving every instance a browse reports, looking up
// the address of every resolved host (with a time-out), and ending a
// resolve that has no answer after 10 s. The input is a run of received
// datagrams with the time between them (QuerierFrames.h). What the querier
// sends must be datagrams it can read itself, and its cache stays within
// its bound, whatever it is fed.
#include <map>

#include "bridges/dnssd/MdnsQuerier.h"
#include "tests/fuzz/FuzzInput.h"

using namespace mdns;

namespace {

constexpr uint64_t kResolveTimeoutMs = 10000;
constexpr uint32_t kInterface = 1;

Name N(const char* dotted) {
  Name n;
  Name::FromDotted(dotted, &n);
  return n;
}

class Discovery {
 public:
  explicit Discovery(uint64_t nowMs) {
    querier_.SetInterfaces({kInterface}, nowMs);
    querier_.Browse(0, N("_raop._tcp.local."), nowMs);
    querier_.Browse(0, N("_airplay._tcp.local."), nowMs);
    Drain(nowMs);
  }

  void Receive(const std::vector<uint8_t>& datagram, uint64_t nowMs) {
    querier_.Advance(nowMs);
    querier_.Receive(kInterface, datagram.data(), datagram.size(), kMdnsPort, nowMs);
    FUZZ_CHECK(querier_.CacheSize() <= QuerierConfig().maxCacheRecords);
    EndOverdue(nowMs);
    Drain(nowMs);
  }

 private:
  void EndOverdue(uint64_t nowMs) {
    for (auto it = resolves_.begin(); it != resolves_.end();) {
      if (nowMs - it->second < kResolveTimeoutMs) {
        ++it;
        continue;
      }
      querier_.Cancel(it->first);
      it = resolves_.erase(it);
    }
  }

  void Drain(uint64_t nowMs) {
    for (const Event& e : querier_.TakeEvents()) {
      switch (e.kind) {
        case EventKind::kBrowseAdd: {
          const uint64_t sub = querier_.Resolve(e.ifIndex, e.name, nowMs);
          if (sub != 0) resolves_[sub] = nowMs;
          break;
        }
        case EventKind::kResolved:
          if (resolves_.erase(e.sub) != 0) {
            querier_.Cancel(e.sub);
            querier_.LookupAddress(e.ifIndex, e.srv.target, true, nowMs);
          }
          break;
        case EventKind::kAddressAdd:
        case EventKind::kTimeout:
          querier_.Cancel(e.sub);
          break;
        default:
          break;
      }
    }
    for (const Outgoing& out : querier_.TakeOutgoing()) {
      FUZZ_CHECK(out.bytes.size() <= kMaxQueryBytes);
      Message m;
      FUZZ_CHECK(ParseMessage(out.bytes.data(), out.bytes.size(), &m) == ParseError::kNone);
      FUZZ_CHECK(!m.IsResponse());
    }
  }

  Querier querier_;
  std::map<uint64_t, uint64_t> resolves_;  // live resolve -> its start
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  uint64_t now = 1000;
  Discovery discovery(now);
  while (in.Left() > 0) {
    now += 10u * in.Byte();
    const uint16_t length = in.U16();
    discovery.Receive(in.Take(length), now);
  }
  return 0;
}
