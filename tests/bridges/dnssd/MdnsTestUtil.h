// Builders for mDNS responses as a responder would send them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bridges/dnssd/MdnsPacket.h"

namespace mdnstest {

inline mdns::Name N(const std::string& dotted) {
  mdns::Name n;
  mdns::Name::FromDotted(dotted, &n);
  return n;
}

inline mdns::Record Ptr(const std::string& owner, const std::string& target, uint32_t ttl) {
  mdns::Record r;
  r.name = N(owner);
  r.type = mdns::kTypePTR;
  r.ttl = ttl;
  r.ptr = N(target);
  return r;
}

inline mdns::Record Srv(const std::string& owner, const std::string& host, uint16_t port,
                        uint32_t ttl) {
  mdns::Record r;
  r.name = N(owner);
  r.type = mdns::kTypeSRV;
  r.cacheFlush = true;
  r.ttl = ttl;
  r.srv.port = port;
  r.srv.target = N(host);
  return r;
}

inline mdns::Record Txt(const std::string& owner, const std::vector<uint8_t>& rdata, uint32_t ttl) {
  mdns::Record r;
  r.name = N(owner);
  r.type = mdns::kTypeTXT;
  r.cacheFlush = true;
  r.ttl = ttl;
  r.rdata = rdata;
  return r;
}

inline mdns::Record A(const std::string& owner, uint8_t a, uint8_t b, uint8_t c, uint8_t d,
                      uint32_t ttl) {
  mdns::Record r;
  r.name = N(owner);
  r.type = mdns::kTypeA;
  r.cacheFlush = true;
  r.ttl = ttl;
  r.a[0] = a;
  r.a[1] = b;
  r.a[2] = c;
  r.a[3] = d;
  return r;
}

// TXT rdata from strings: each one a length byte and its bytes.
inline std::vector<uint8_t> TxtData(const std::vector<std::string>& items) {
  std::vector<uint8_t> out;
  for (const std::string& s : items) {
    out.push_back(static_cast<uint8_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
  }
  return out;
}

inline std::vector<uint8_t> Response(const std::vector<mdns::Record>& records) {
  mdns::Message m;
  m.flags = 0x8400;  // response, authoritative
  m.records = records;
  std::vector<uint8_t> out;
  mdns::BuildMessage(m, mdns::kMaxMessageBytes, &out);
  return out;
}

// The announcement of the test receiver as avahi sends it.
inline std::vector<uint8_t> TestRxAnnouncement(uint32_t ptrTtl = 4500, uint32_t hostTtl = 120) {
  return Response({Ptr("_raop._tcp.local.", "TestRx._raop._tcp.local.", ptrTtl),
                   Srv("TestRx._raop._tcp.local.", "rx1.local.", 47000, hostTtl),
                   Txt("TestRx._raop._tcp.local.", TxtData({"txtvers=1", "am=TestRx"}), ptrTtl),
                   A("rx1.local.", 127, 0, 0, 2, hostTtl)});
}

}  // namespace mdnstest
