// The network adapters as WMI reports them, and the MAC address that
// identifies the device: the first physical (PCI, USB or VM bus) Ethernet
// adapter's, with a software adapter's as the fallback.
//
// Used by one thread, which must not have entered the multithreaded COM
// apartment itself; Init initialises COM for it and the destructor undoes
// that.
#pragma once

#include <windows.h>
#include <wbemidl.h>

#include <string>
#include <vector>

#include "classlib/ComPtr.h"

// One Win32_NetworkAdapter as the selection needs it.
struct WmiAdapterFacts {
  bool typeIsEthernet = false;  // "AdapterTypeID" read as 0 (Ethernet 802.3)
  std::wstring pnpDeviceId;
  std::wstring mac;  // AdapterMacText of the "MACAddress" property
};

// "MACAddress" without its colons; "" when it is not a string or all zeros.
std::wstring AdapterMacText(bool isString, const std::wstring& property);

// 1: a physical adapter's MAC in *mac. 0: none, but a fallback MAC (an
// adapter not enumerated by the system itself, "ROOT\") in *mac. -1: none.
int SelectSerialNumberMac(const std::vector<WmiAdapterFacts>& adapters, std::wstring* mac);

class WmiInfo {
 public:
  WmiInfo() = default;
  ~WmiInfo();
  WmiInfo(const WmiInfo&) = delete;
  WmiInfo& operator=(const WmiInfo&) = delete;

  // COM on this thread, process security, the locator and "ROOT\CIMV2".
  bool Init();
  // True with the 12-character MAC of a physical Ethernet adapter in buffer
  // (NUL-terminated, *length = 12). False otherwise; a fallback MAC may then
  // be in buffer, with *length its true length. buffer holds bufferSize bytes
  // (at least 13).
  bool GetNetworkSerialNum(char* buffer, size_t bufferSize, int* length);

  // Bound of one adapter fetch from WMI.
  static constexpr long kFetchTimeoutMs = 10000;

 private:
  bool ownsCom_ = false;
  cl::ComPtr<IWbemClassObject> current_;
  cl::ComPtr<IWbemServices> services_;
  cl::ComPtr<IWbemLocator> locator_;
};
