// What the device identity must be, found independently of the code under
// test: the MAC address of the adapter that holds the host name's first IPv4
// address, read through GetAdaptersInfo (the code uses
// GetAdaptersAddresses), and the host name through GetComputerNameEx.
//
// TESS_EXPECT_MAC, when set, is the answer: the namespace run of these tests
// gives the host name an adapter of its own with a known MAC, so the
// networked case is checked even on a machine whose host name means
// loopback (where the answer is "").
#pragma once

#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

inline std::string ExpectedHostMac() {
  if (const char* given = getenv("TESS_EXPECT_MAC")) return given;
  char name[256] = {0};
  if (gethostname(name, sizeof(name) - 1) != 0) return "";
  hostent* he = gethostbyname(name);
  if (!he || he->h_addrtype != AF_INET || !he->h_addr_list[0]) return "";
  in_addr first;
  memcpy(&first, he->h_addr_list[0], sizeof(first));
  const std::string ip = inet_ntoa(first);
  ULONG size = 0;
  GetAdaptersInfo(nullptr, &size);
  std::vector<unsigned char> buf(size ? size : 1);
  auto* list = reinterpret_cast<IP_ADAPTER_INFO*>(buf.data());
  if (GetAdaptersInfo(list, &size) != NO_ERROR) return "";
  for (IP_ADAPTER_INFO* a = list; a; a = a->Next) {
    for (IP_ADDR_STRING* s = &a->IpAddressList; s; s = s->Next) {
      if (ip != s->IpAddress.String || a->AddressLength < 6) continue;
      char text[13];
      snprintf(text, sizeof(text), "%02X%02X%02X%02X%02X%02X", a->Address[0], a->Address[1],
               a->Address[2], a->Address[3], a->Address[4], a->Address[5]);
      return text;
    }
  }
  return "";
}

inline std::wstring ExpectedHostName() {
  wchar_t name[256] = {0};
  DWORD n = 255;
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &n) || n == 0) return L"";
  return std::wstring(name, n);
}
