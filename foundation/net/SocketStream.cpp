#include "foundation/net/SocketStream.h"

#include <iphlpapi.h>
#include <wbemidl.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "classlib/ComPtr.h"
#include "classlib/Str.h"
#include "foundation/log/Logger.h"

#define SOCKLOG TESS_HOOK_LOG

namespace {

constexpr const char* kTag = "Network";
std::atomic<bool> g_adapterLookup{true};

// Bound of one result fetch from WMI, in milliseconds.
constexpr LONG kWmiFetchTimeoutMs = 10000;

// Interface type of IEEE 802.11 adapters in IP Helper records.
constexpr DWORD kIfTypeIeee80211 = 71;

bool IsWirelessByWmi(const std::wstring& description);

}  // namespace

// ---------------------------------------------------------------- socket_stream

socket_stream::socket_stream() = default;

socket_stream::~socket_stream() {
  SOCKET s = socket_.exchange(INVALID_SOCKET);
  if (s != INVALID_SOCKET) {
    shutdown(s, SD_BOTH);
    closesocket(s);
  }
}

void socket_stream::SetAdapterLookup(bool enabled) { g_adapterLookup = enabled; }

void socket_stream::ReportSocketError(const char* tag, const char* message, int err) {
  char text[128];
  int n = _snprintf(text, sizeof(text) - 1, "%s: err=%d(0x%X)", message, err, err);
  if (n < 0) n = sizeof(text) - 1;
  text[sizeof(text) - 1] = '\0';
  int wsErr = WSAGetLastError();
  if (n < static_cast<int>(sizeof(text)) - 1) {
    _snprintf(text + n, sizeof(text) - 1 - n, ", wsErr=%d(0x%X)", wsErr, wsErr);
    text[sizeof(text) - 1] = '\0';
  }
  SOCKLOG(3, "[%s] %s", tag, text);
}

bool socket_stream::SetIntOption(int level, int name, int value) {
  SOCKET s = socket_.load();
  if (s == INVALID_SOCKET) return false;
  return setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof(value)) == 0;
}

bool socket_stream::CreateTcpSocket() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  socket_ = s;
  socketType_ = 1;
  bool ok = SetIntOption(IPPROTO_TCP, TCP_NODELAY, 1);
  ok = SetIntOption(SOL_SOCKET, SO_SNDBUF, 65536) && ok;
  ok = SetIntOption(SOL_SOCKET, SO_RCVTIMEO, 15000) && ok;
  ok = SetIntOption(SOL_SOCKET, SO_SNDTIMEO, 15000) && ok;
  return ok;
}

bool socket_stream::Connect(const char* host, unsigned short port) {
  SOCKET s = socket_.load();
  if (s == INVALID_SOCKET || !host) return false;
  hostent* he = gethostbyname(host);
  if (!he || he->h_addrtype != AF_INET || !he->h_addr_list || !he->h_addr_list[0]) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  memcpy(&a.sin_addr, he->h_addr_list[0], sizeof(a.sin_addr));
  a.sin_port = htons(port);
  address_ = a;
  return connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
}

bool socket_stream::Open(unsigned short port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return false;
  socket_ = s;
  address_ = sockaddr_in{};
  address_.sin_family = AF_INET;
  address_.sin_addr.s_addr = htonl(INADDR_ANY);
  address_.sin_port = htons(port);
  char one = 1;
  bool ok = setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, 1) == 0;
  if (ok) {
    if (bind(s, reinterpret_cast<sockaddr*>(&address_), sizeof(address_)) != 0) {
      SOCKLOG(3, "[%s] bind tcp port(%d) err:%d", kTag, port, WSAGetLastError());
      ok = false;
    } else if (listen(s, 16) != 0) {
      SOCKLOG(3, "[%s] listen port %d err(%d)", kTag, port, WSAGetLastError());
      ok = false;
    }
  }
  if (!ok) {
    socket_ = INVALID_SOCKET;
    shutdown(s, SD_BOTH);
    closesocket(s);
  }
  return ok;
}

bool socket_stream::Close(int pauseMs) {
  bool ok = true;
  SOCKET s = socket_.exchange(INVALID_SOCKET);
  if (s != INVALID_SOCKET) {
    shutdown(s, SD_BOTH);
    ok = closesocket(s) == 0;
  }
  if (ok && pauseMs > 0) Sleep(static_cast<DWORD>(pauseMs));
  return ok;
}

int socket_stream::Send(const void* data, int length) {
  ScopedLock<CBaseMutex> guard(sendLock_);
  const char* p = static_cast<const char*>(data);
  int sent = 0;
  while (sent < length) {
    SOCKET s = socket_.load();
    if (s == INVALID_SOCKET) return -1;
    int r = send(s, p + sent, length - sent, 0);
    if (r <= 0) return -1;
    sent += r;
  }
  return length;
}

int socket_stream::Recv(void* buffer, int length) {
  char* p = static_cast<char*>(buffer);
  int got = 0;
  while (got < length) {
    SOCKET s = socket_.load();
    if (s == INVALID_SOCKET) return -1;
    int r = recv(s, p + got, length - got, 0);
    if (r <= 0) return r;
    got += r;
  }
  return length;
}

int socket_stream::Peek(void* buffer4) {
  SOCKET s = socket_.load();
  if (s == INVALID_SOCKET) return -1;
  return recv(s, static_cast<char*>(buffer4), 4, MSG_PEEK);
}

std::string socket_stream::GetMACAddress() {
  if (!g_adapterLookup) return std::string();
  const char* tag = "socket_stream::GetMACAddress";
  char hostName[260] = {0};
  if (gethostname(hostName, sizeof(hostName) - 1) != 0) {
    SOCKLOG(3, "[%s] GetMACAddress Fail:%d", tag, WSAGetLastError());
    return std::string();
  }
  hostent* he = gethostbyname(hostName);
  if (!he || he->h_addrtype != AF_INET || !he->h_addr_list || !he->h_addr_list[0]) {
    return std::string();
  }
  in_addr first;
  memcpy(&first, he->h_addr_list[0], sizeof(first));
  char hostIp[20] = {0};
  strncpy(hostIp, inet_ntoa(first), sizeof(hostIp) - 1);

  // The adapter list grows between calls on a busy machine: retry a few times.
  std::vector<unsigned char> buf;
  ULONG size = 0;
  ULONG rc = GetAdaptersAddresses(AF_INET, 0, nullptr, nullptr, &size);
  for (int tries = 0; rc == ERROR_BUFFER_OVERFLOW && tries < 5; ++tries) {
    buf.assign(size, 0);
    rc = GetAdaptersAddresses(AF_INET, 0, nullptr,
                              reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()), &size);
  }
  if (rc != NO_ERROR || buf.empty()) return std::string();

  const IP_ADAPTER_ADDRESSES* found = nullptr;
  for (auto* ad = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buf.data()); ad && !found;
       ad = ad->Next) {
    for (auto* ua = ad->FirstUnicastAddress; ua; ua = ua->Next) {
      if (!ua->Address.lpSockaddr || ua->Address.lpSockaddr->sa_family != AF_INET) continue;
      auto* sin = reinterpret_cast<sockaddr_in*>(ua->Address.lpSockaddr);
      if (strcmp(inet_ntoa(sin->sin_addr), hostIp) == 0) {
        found = ad;
        break;
      }
    }
  }
  if (!found) return std::string();

  SOCKLOG(2, "[%s] found matched adapter", tag);
  SOCKLOG(2, "[%s] friendly name: %s", tag,
          cl::WideToAnsi(found->FriendlyName ? found->FriendlyName : L"").c_str());
  SOCKLOG(2, "[%s] description: %S", tag, found->Description ? found->Description : L"");
  if (found->IfType != kIfTypeIeee80211 && found->Description) {
    IsWirelessByWmi(found->Description);  // diagnostic only
  }
  if (found->PhysicalAddressLength < 6) return std::string();
  const BYTE* mac = found->PhysicalAddress;
  std::string text = cl::FormatA("%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2], mac[3],
                                 mac[4], mac[5]);
  SOCKLOG(0, "[%s] GetMACAddress OK", tag);
  return text;
}

// ---------------------------------------------------------------- CStreamUDP

CStreamUDP::CStreamUDP(int sendMode) {
  socketType_ = 2;
  sendMode_ = sendMode;
}

CStreamUDP::~CStreamUDP() = default;

bool CStreamUDP::Open(unsigned short port) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    ReportSocketError(kTag, "create udp socket fail", -1);
    return false;
  }
  socket_ = s;
  bindError_ = 0;
  int one = 1;
  bool ok = true;
  const int option = exclusive_ ? SO_EXCLUSIVEADDRUSE : SO_REUSEADDR;
  if (setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&one), sizeof(one)) != 0) {
    ReportSocketError(kTag, "setsockopt udp fail", -1);
    ok = false;
  }
  if (ok) {
    address_ = sockaddr_in{};
    address_.sin_family = AF_INET;
    address_.sin_addr.s_addr = htonl(INADDR_ANY);
    address_.sin_port = htons(port);
    if (bind(s, reinterpret_cast<sockaddr*>(&address_), sizeof(address_)) != 0) {
      bindError_ = WSAGetLastError();
      SOCKLOG(3, "[%s] bind udp port(%d) fail: %d(%x)", kTag, port, -1, -1);
      ok = false;
    }
  }
  if (!ok) {
    socket_ = INVALID_SOCKET;
    shutdown(s, SD_BOTH);
    closesocket(s);
  }
  return ok;
}

int CStreamUDP::Recv(void* buffer, int size) {
  SOCKLOG(2, "[%s] MSR_U: size: %d", kTag, size);
  SOCKET s = socket_.load();
  if (s == INVALID_SOCKET) return -1;
  sockaddr_in from{};
  int fromLen = sizeof(from);
  int r = recvfrom(s, static_cast<char*>(buffer), size, 0, reinterpret_cast<sockaddr*>(&from),
                   &fromLen);
  if (r == SOCKET_ERROR) {
    int err = WSAGetLastError();
    SOCKLOG(err == WSAETIMEDOUT ? 2 : 3, "[%s] recvfrom error %d", kTag, err);
  } else {
    address_ = from;
  }
  return r;
}

int CStreamUDP::Send(const void* data, int length) {
  int result = -1;
  const char* bytes = static_cast<const char*>(data);
  if (sendMode_ & kSendBroadcast) {
    SOCKLOG(2, "[%s] [UDP] broadcast", kTag);
    SOCKLOG(2, "[%s] MSW_UBR: size: %d", kTag, length);
    SOCKET b = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (b != INVALID_SOCKET) {
      int one = 1;
      setsockopt(b, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&one), sizeof(one));
      // Room for 64 interface entries of 76 bytes each.
      INTERFACE_INFO list[64];
      static_assert(sizeof(INTERFACE_INFO) == 76, "interface entries are 76 bytes");
      DWORD bytesReturned = 0;
      int count = 0;
      SOCKET q = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
      if (q != INVALID_SOCKET) {
        if (WSAIoctl(q, SIO_GET_INTERFACE_LIST, nullptr, 0, list, sizeof(list), &bytesReturned,
                     nullptr, nullptr) == 0) {
          count = static_cast<int>(bytesReturned / sizeof(INTERFACE_INFO));
        }
        closesocket(q);
      }
      for (int i = 0; i < count; ++i) {
        sockaddr_in ip = list[i].iiAddress.AddressIn;
        sockaddr_in mask = list[i].iiNetmask.AddressIn;
        char ipText[16], maskText[16];
        strncpy(ipText, inet_ntoa(ip.sin_addr), sizeof(ipText) - 1);
        ipText[15] = '\0';
        strncpy(maskText, inet_ntoa(mask.sin_addr), sizeof(maskText) - 1);
        maskText[15] = '\0';
        SOCKLOG(2, "[%s] ip: %s", kTag, ipText);
        SOCKLOG(2, "[%s] netmask: %s", kTag, maskText);
        uint32_t bc = ntohl(ip.sin_addr.s_addr) | ~ntohl(mask.sin_addr.s_addr);
        std::string bcText = cl::FormatA("%d.%d.%d.%d", (bc >> 24) & 0xFF, (bc >> 16) & 0xFF,
                                         (bc >> 8) & 0xFF, bc & 0xFF);
        SOCKLOG(2, "[%s] boardcast_ip :%s", kTag, bcText.c_str());
        sockaddr_in dest{};
        dest.sin_family = AF_INET;
        dest.sin_addr.s_addr = htonl(bc);
        dest.sin_port = address_.sin_port;
        SOCKLOG(2, "[%s] port :%d", kTag, ntohs(address_.sin_port));
        for (int k = 0; k < 3; ++k) {
          result = sendto(b, bytes, length, 0, reinterpret_cast<sockaddr*>(&dest), sizeof(dest));
          if (result == SOCKET_ERROR) ReportSocketError(kTag, "sendto error", result);
        }
      }
      closesocket(b);
    }
  }
  if (sendMode_ & kSendUnicast) {
    SOCKLOG(2, "[%s] [UDP] unicast", kTag);
    SOCKLOG(2, "[%s] MSW_UUC: size: %d", kTag, length);
    SOCKET s = socket_.load();
    if (s == INVALID_SOCKET) {
      result = -1;
    } else {
      result = sendto(s, bytes, length, 0, reinterpret_cast<const sockaddr*>(&address_),
                      sizeof(address_));
      if (result == SOCKET_ERROR) ReportSocketError(kTag, "sendto error", result);
    }
  }
  SOCKLOG(2, "[%s] [UDP] sent: %d", kTag, result);
  return result;
}

// ---------------------------------------------------------------- WinsockScope

WinsockScope::WinsockScope() {
  WSADATA data;
  ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

WinsockScope::~WinsockScope() {
  if (ok_) WSACleanup();
}

// ---------------------------------------------------------------- WMI test

namespace {

// Whether WMI knows the adapter as an 802.11 device. Only logged: some
// wireless drivers report a wired interface type.
bool IsWirelessByWmi(const std::wstring& description) {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  if (FAILED(hr)) {
    SOCKLOG(3, "[%s] Failed to initialize COM library. Error code = 0x%X (%d)", kTag,
            static_cast<unsigned>(hr), static_cast<int>(hr));
    return false;
  }
  bool found = false;
  {  // every interface is released before COM is uninitialised
    cl::ComPtr<IWbemLocator> locator;
    cl::ComPtr<IWbemServices> services;
    cl::ComPtr<IEnumWbemClassObject> results;
    do {
      hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
      if (hr == RPC_E_TOO_LATE) {
        SOCKLOG(2, "[%s] CoInitializeSecurity already called", kTag);
      } else if (FAILED(hr)) {
        SOCKLOG(3, "[%s] Failed to initialize security. Error code = 0x%X (%d)", kTag,
                static_cast<unsigned>(hr), static_cast<int>(hr));
        break;
      }
      hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                            reinterpret_cast<void**>(locator.put()));
      if (FAILED(hr)) {
        SOCKLOG(3, "[%s] Failed to create IWbemLocator object. Error code = 0x%X (%d)", kTag,
                static_cast<unsigned>(hr), static_cast<int>(hr));
        break;
      }
      BSTR ns = SysAllocString(L"ROOT\\WMI");
      hr = locator->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                  services.put());
      SysFreeString(ns);
      if (FAILED(hr)) {
        SOCKLOG(3, "[%s] Could not connect. Error code = 0x%X (%d)", kTag,
                static_cast<unsigned>(hr), static_cast<int>(hr));
        break;
      }
      hr = CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                             RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                             EOAC_NONE);
      if (FAILED(hr)) {
        SOCKLOG(3, "[%s] Could not set proxy blanket. Error code = 0x%X (%d)", kTag,
                static_cast<unsigned>(hr), static_cast<int>(hr));
        break;
      }
      std::wstring query =
          L"SELECT * FROM MSNdis_80211_NetworkTypesSupported where InstanceName=\"" +
          description + L"\"";
      if (query.size() > 1024) query.resize(1024);
      BSTR lang = SysAllocString(L"WQL");
      BSTR text = SysAllocString(query.c_str());
      hr = services->ExecQuery(lang, text, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                               nullptr, results.put());
      SysFreeString(lang);
      SysFreeString(text);
      if (FAILED(hr)) {
        SOCKLOG(3, "[%s] Query for operating system name failed. Error code = 0x%X (%d)", kTag,
                static_cast<unsigned>(hr), static_cast<int>(hr));
        break;
      }
      for (;;) {
        cl::ComPtr<IWbemClassObject> obj;
        ULONG got = 0;
        // Bounded: this runs on the owner's thread when a session is built, and
        // a stuck WMI service must not hang it.
        hr = results->Next(kWmiFetchTimeoutMs, 1, obj.put(), &got);
        if (got == 0 || !obj) break;
        VARIANT v;
        VariantInit(&v);
        if (SUCCEEDED(obj->Get(L"InstanceName", 0, &v, nullptr, nullptr)) && v.vt == VT_BSTR) {
          SOCKLOG(2, "[%s] Found, InstanceName: %S", kTag, v.bstrVal);
        }
        VariantClear(&v);
        found = true;
      }
    } while (false);
  }
  CoUninitialize();
  return found;
}

}  // namespace
