#include "foundation/netmon/WmiInfo.h"

#include <oleauto.h>

#include <cwchar>

#include "classlib/Str.h"
#include "foundation/log/Logger.h"

namespace {

const char kInitTag[] = "WmiInfo::Init";
const char kSerialTag[] = "WmiInfo::GetNetworkSerialNum";

bool StartsWith(const std::wstring& s, const wchar_t* prefix) {
  return s.compare(0, wcslen(prefix), prefix) == 0;
}

std::string Narrow(const std::wstring& s) { return cl::WideToUtf8(s); }

// A string property, or "" with isString false.
std::wstring StringProperty(IWbemClassObject* object, const wchar_t* name, bool* isString) {
  VARIANT v;
  VariantInit(&v);
  std::wstring text;
  *isString = false;
  if (SUCCEEDED(object->Get(name, 0, &v, nullptr, nullptr)) && v.vt == VT_BSTR && v.bstrVal) {
    text.assign(v.bstrVal, SysStringLen(v.bstrVal));
    *isString = true;
  }
  VariantClear(&v);
  return text;
}

bool IntegerPropertyIs(IWbemClassObject* object, const wchar_t* name, long expected) {
  VARIANT v;
  VariantInit(&v);
  bool equal = false;
  if (SUCCEEDED(object->Get(name, 0, &v, nullptr, nullptr)) &&
      SUCCEEDED(VariantChangeType(&v, &v, 0, VT_I4))) {
    equal = v.lVal == expected;
  }
  VariantClear(&v);
  return equal;
}

}  // namespace

std::wstring AdapterMacText(bool isString, const std::wstring& property) {
  if (!isString) return std::wstring();
  std::wstring mac;
  for (wchar_t c : property) {
    if (c != L':') mac.push_back(c);
  }
  if (_wcsicmp(mac.c_str(), L"000000000000") == 0) return std::wstring();
  return mac;
}

int SelectSerialNumberMac(const std::vector<WmiAdapterFacts>& adapters, std::wstring* mac) {
  ZtLogger& log = ZtLogger::Instance();
  std::wstring fallback;
  for (const WmiAdapterFacts& a : adapters) {
    if (!a.typeIsEthernet) continue;
    log.Debug("[%s] PNPDeviceID: %s", kSerialTag, Narrow(a.pnpDeviceId).c_str());
    if (StartsWith(a.pnpDeviceId, L"PCI") || StartsWith(a.pnpDeviceId, L"USB") ||
        StartsWith(a.pnpDeviceId, L"VMBUS")) {
      log.Debug("[%s] strmac: %s", kSerialTag, Narrow(a.mac).c_str());
      if (!a.mac.empty()) {
        *mac = a.mac;
        return 1;
      }
    } else if (a.pnpDeviceId.find(L"ROOT\\") == std::wstring::npos && fallback.empty()) {
      fallback = a.mac;
      if (!fallback.empty()) log.Debug("[%s] strmp mac 1: %s", kSerialTag, Narrow(fallback).c_str());
    }
  }
  if (fallback.empty()) return -1;
  *mac = fallback;
  return 0;
}

WmiInfo::~WmiInfo() {
  current_.reset();
  services_.reset();
  locator_.reset();
  if (ownsCom_) CoUninitialize();
}

bool WmiInfo::Init() {
  ZtLogger& log = ZtLogger::Instance();
  auto fail = [this]() {
    current_.reset();
    services_.reset();
    locator_.reset();
    if (ownsCom_) CoUninitialize();
    ownsCom_ = false;
    return false;
  };

  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (hr == S_FALSE) {
    log.Debug("[%s] The COM library is already initialized on this thread.", kInitTag);
    // S_FALSE still counts one initialisation to undo.
    ownsCom_ = true;
  } else if (hr == RPC_E_CHANGED_MODE) {
    // The thread is in the multithreaded apartment: COM is usable, and there
    // is nothing of ours to undo.
    ownsCom_ = false;
  } else if (FAILED(hr)) {
    log.Debug("[%s] Failed to CoInitializeEx %d", kInitTag, static_cast<int>(hr));
    return false;
  } else {
    ownsCom_ = true;
  }

  hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                            RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
  if (FAILED(hr) && hr != RPC_E_TOO_LATE) {
    log.Debug("[%s] Failed to CoInitializeSecurity %d", kInitTag, static_cast<int>(hr));
    return fail();
  }
  hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                        reinterpret_cast<void**>(locator_.put()));
  if (FAILED(hr) || !locator_) {
    log.Debug("[%s] Failed to CoCreateInstance: %d", kInitTag, static_cast<int>(hr));
    return fail();
  }
  BSTR ns = SysAllocString(L"ROOT\\CIMV2");
  hr = locator_->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, services_.put());
  SysFreeString(ns);
  if (FAILED(hr) || !services_) {
    log.Debug("[%s] Failed to ConnectServer: %d", kInitTag, static_cast<int>(hr));
    return fail();
  }
  hr = CoSetProxyBlanket(services_.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                         RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  if (FAILED(hr)) {
    log.Debug("[%s] Failed to CoSetProxyBlanket", kInitTag);
    return fail();
  }
  return true;
}

bool WmiInfo::GetNetworkSerialNum(char* buffer, size_t bufferSize, int* length) {
  if (!services_ || !buffer || bufferSize < 13) return false;
  ZtLogger& log = ZtLogger::Instance();
  BSTR language = SysAllocString(L"WQL");
  BSTR query = SysAllocString(L"SELECT * FROM Win32_NetworkAdapter");
  cl::ComPtr<IEnumWbemClassObject> adapters;
  HRESULT hr = services_->ExecQuery(language, query,
                                    WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                    adapters.put());
  SysFreeString(language);
  SysFreeString(query);
  if (FAILED(hr) || !adapters) return false;

  std::vector<WmiAdapterFacts> facts;
  for (;;) {
    ULONG returned = 0;
    // Bounded: a provider that never answers must not hang the caller.
    hr = adapters->Next(kFetchTimeoutMs, 1, current_.put(), &returned);
    if (returned == 0) {
      log.Debug("[%s] Can't Find Win32_NetworkAdapter", kSerialTag);
      break;
    }
    if (hr != WBEM_S_NO_ERROR || !current_) continue;
    WmiAdapterFacts f;
    f.typeIsEthernet = IntegerPropertyIs(current_.get(), L"AdapterTypeID", 0);
    bool isString = false;
    f.pnpDeviceId = StringProperty(current_.get(), L"PNPDeviceID", &isString);
    std::wstring mac = StringProperty(current_.get(), L"MACAddress", &isString);
    f.mac = AdapterMacText(isString, mac);
    facts.push_back(f);
  }
  current_.reset();

  std::wstring mac;
  const int chosen = SelectSerialNumberMac(facts, &mac);
  if (chosen < 0) return false;
  const std::string text = Narrow(mac).substr(0, 12);
  memset(buffer, 0, bufferSize);
  memcpy(buffer, text.data(), text.size());
  *length = static_cast<int>(text.size());
  if (chosen == 0) log.Debug("[%s] strmp mac: %s", kSerialTag, text.c_str());
  return chosen == 1;
}
