// The local IPv4 adapter list.
#include <winsock2.h>
#include <iphlpapi.h>

#include <vector>

#include "classlib/Str.h"
#include "foundation/sys/SysUtil.h"

namespace {
constexpr DWORD kIfTypeWlan = 71;      // IF_TYPE_IEEE80211
constexpr DWORD kIfTypeLoopback = 24;  // IF_TYPE_SOFTWARE_LOOPBACK
}  // namespace

bool SelectIPv4Adapters(const std::vector<AdapterFacts>& adapters, std::vector<AdapterRecord>& list) {
  list.clear();
  AdapterRecord loopback;
  bool haveLoopback = false;
  for (const AdapterFacts& a : adapters) {
    if (!a.up || a.firstIPv4.empty()) continue;
    if (a.firstIPv4.compare(0, 7, L"169.254") == 0) continue;  // link-local: no DHCP answer
    AdapterRecord record;
    record.address = a.firstIPv4 + L"\n";
    record.name = a.friendlyName + L"\n";
    record.kind = a.ifType == kIfTypeWlan ? L"WLAN" : L"LAN";
    if (a.ifType == kIfTypeLoopback) {
      if (!haveLoopback) {
        record.address = L"localhost\n";
        loopback = record;
        haveLoopback = true;
      }
    } else {
      list.push_back(record);
    }
  }
  if (list.empty() && haveLoopback) list.push_back(loopback);
  return !list.empty();
}

bool GetLocalIPv4List(std::vector<AdapterRecord>& list) {
  list.clear();
  std::vector<unsigned char> buffer;
  ULONG size = 0;
  ULONG r = GetAdaptersAddresses(AF_INET, 0, nullptr, nullptr, &size);
  // The table can grow between the two calls: a few tries, then give up.
  for (int attempt = 0; attempt < 3 && r == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.assign(size, 0);
    r = GetAdaptersAddresses(AF_INET, 0, nullptr,
                             reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (r != NO_ERROR || buffer.empty()) return false;

  std::vector<AdapterFacts> facts;
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
    AdapterFacts f;
    f.up = a->OperStatus == IfOperStatusUp;
    f.ifType = a->IfType;
    f.friendlyName = a->FriendlyName ? a->FriendlyName : L"";
    const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress;
    if (u && u->Address.lpSockaddr && u->Address.lpSockaddr->sa_family == AF_INET) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr);
      const unsigned char* b = reinterpret_cast<const unsigned char*>(&in->sin_addr);
      f.firstIPv4 = cl::FormatW(L"%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    }
    facts.push_back(f);
  }
  return SelectIPv4Adapters(facts, list);
}
