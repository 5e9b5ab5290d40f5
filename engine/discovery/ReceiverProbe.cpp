#include "engine/discovery/ReceiverProbe.h"

#include <winsock2.h>
#include <process.h>

#include <cstring>

#include "classlib/Str.h"
#include "engine/discovery/LookupToken.h"
#include "foundation/log/Logger.h"
#include "foundation/net/SocketStream.h"
#include "foundation/settings/FrameUtility.h"

std::vector<ProbeEntry> g_vecProbeQueue;
std::vector<ProbeEntry> g_vecProbeReachable;
ReceiverProbe* g_pReceiverProbe = nullptr;
HANDLE g_hProbeThread = INVALID_HANDLE_VALUE;
std::string g_strLookupCode;
std::string g_strLookupName;
std::string g_strLookupAddress;
std::string g_strLookupPort;

critical_section_lock& ProbeStateLock() {
  static critical_section_lock lock;
  return lock;
}

namespace {

using Guard = ScopedLock<critical_section_lock>;

// Posts to the current probe's window; the caller holds the lock, so the
// probe cannot go away in between.
void PostResultLocked(WPARAM w, LPARAM l) {
  if (g_pReceiverProbe && g_pReceiverProbe->Target())
    PostMessageW(g_pReceiverProbe->Target(), WM_LOOKUP_RESULT, w, l);
}

void PostResult(WPARAM w, LPARAM l) {
  Guard g(ProbeStateLock());
  PostResultLocked(w, l);
}

// Resolves host (name or dotted address) and connects within timeoutMs.
bool ConnectWithin(SOCKET s, const std::string& host, unsigned short port, DWORD timeoutMs) {
  if (port == 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  const unsigned long dotted = inet_addr(host.c_str());
  if (dotted != INADDR_NONE || host == "255.255.255.255") {
    a.sin_addr.s_addr = dotted;
  } else {
    hostent* he = gethostbyname(host.c_str());
    if (!he || he->h_addrtype != AF_INET || !he->h_addr_list || !he->h_addr_list[0]) return false;
    memcpy(&a.sin_addr, he->h_addr_list[0], sizeof(a.sin_addr));
  }
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
  if (!ok && WSAGetLastError() == WSAEWOULDBLOCK) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval tv{static_cast<long>(timeoutMs / 1000), static_cast<long>((timeoutMs % 1000) * 1000)};
    ok = select(0, nullptr, &writable, &failed, &tv) == 1 && FD_ISSET(s, &writable);
  }
  nonBlocking = 0;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  return ok;
}

// Up to `length` bytes, until they are all there, the peer closes or the
// whole wait reaches timeoutMs (a trickling peer cannot stretch it).
int ReceiveWithin(SOCKET s, char* buffer, int length, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  int got = 0;
  while (got < length) {
    const DWORD spent = GetTickCount() - start;
    if (spent >= timeoutMs) break;
    const DWORD left = timeoutMs - spent;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&left), sizeof(left));
    const int r = recv(s, buffer + got, length - got, 0);
    if (r <= 0) break;
    got += r;
  }
  return got;
}

// The received bytes as a log-safe text.
std::string Printable(const char* data, int length) {
  std::string out;
  for (int i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(data[i]);
    out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
  }
  return out;
}

void ProbeOne(const ProbeEntry& entry) {
  ZtLogger& log = ZtLogger::Instance();
  socket_stream sock;
  if (!sock.CreateTcpSocket() && !sock.IsOpen()) {
    log.Error("Create client socket failed.");
    return;
  }
  if (!ConnectWithin(sock.Handle(), entry.Address, LookupPortNumber(entry.Port),
                     kProbeConnectTimeoutMs)) {
    log.Error("Create probe failed %s", entry.Address.c_str());
    Guard g(ProbeStateLock());
    PostResultLocked(0, g_vecProbeQueue.empty() ? 0 : 1);
    return;
  }
  const char* request = ProbeRequestText(CFrameUtility::GetTxProbe());
  sock.Send(request, static_cast<int>(strlen(request)));
  char answer[12];
  const int got = ReceiveWithin(sock.Handle(), answer, sizeof(answer), kProbeReceiveTimeoutMs);
  sock.Close(0);
  if (IsProbeAnswerReachable(answer, got)) {
    Guard g(ProbeStateLock());
    g_vecProbeReachable.push_back(entry);
    PostResultLocked(1, static_cast<LPARAM>(g_vecProbeReachable.size() - 1));
    return;
  }
  PostResult(2, 3);
  log.Error("%s:%s : %s", entry.Address.c_str(), entry.Port.c_str(),
            Printable(answer, got).c_str());
}

unsigned __stdcall ProbeThread(void*) {
  WinsockScope winsock;
  for (;;) {
    ProbeEntry entry;
    {
      Guard g(ProbeStateLock());
      if (g_vecProbeQueue.empty()) {
        // Under the lock: a decoder that queues after this point sees no
        // thread and starts a new one.
        CloseHandle(g_hProbeThread);
        g_hProbeThread = INVALID_HANDLE_VALUE;
        break;
      }
      entry = g_vecProbeQueue.front();
      g_vecProbeQueue.erase(g_vecProbeQueue.begin());
    }
    ProbeOne(entry);
  }
  ZtLogger::Instance().Info("All probe finish");
  return 0;
}

}  // namespace

const char* ProbeRequestText(int txProbe) {
  return txProbe != 0 ? "POST /probe-nb5 HTTP/1.1\r\n"
                        "Accept: */*\r\n"
                        "Connection: close\r\n"
                        "User-Agent: Castvane\r\n\r\n"
                      : "POST /probe HTTP/1.1\r\n"
                        "Accept: */*\r\n"
                        "Connection: close\r\n"
                        "User-Agent: Nb5-OEM:orvanta\r\n\r\n";
}

bool IsProbeAnswerReachable(const char* data, int length) {
  return length == 12 &&
         (memcmp(data, "RTSP/1.0 200", 12) == 0 || memcmp(data, "HTTP/1.1 200", 12) == 0);
}

ReceiverProbe::ReceiverProbe(HWND target) : target_(target) {
  Guard g(ProbeStateLock());
  g_vecProbeQueue.clear();
  g_vecProbeReachable.clear();
  g_pReceiverProbe = this;
  // A probe thread that still runs keeps its handle: it ends by itself on
  // the empty queue, and a second one must not start beside it.
}

ReceiverProbe::~ReceiverProbe() {
  Guard g(ProbeStateLock());
  if (g_pReceiverProbe == this) g_pReceiverProbe = nullptr;
}

int ReceiverProbe::DecodeLookupToken(const std::wstring& token) {
  ZtLogger& log = ZtLogger::Instance();
  LookupToken decoded;
  const LookupTokenResult r = DecodeLookupTokenText(token, decoded);
  if (r == LookupTokenResult::kMalformed) {
    log.Error("Invalid CV code");
    PostResult(2, 0);
    return BEOP_E_LOOKUP_FAILED;
  }
  if (r == LookupTokenResult::kIncomplete) {
    log.Error("cannot reach");
    PostResult(2, 1);
    return BEOP_E_LOOKUP_INCOMPLETE;
  }
  Guard g(ProbeStateLock());
  for (const LookupTokenInterface& itf : decoded.interfaces) {
    ProbeEntry e{decoded.code, decoded.name, itf.ip, decoded.port};
    g_strLookupCode = e.Code;
    g_strLookupName = e.Name;
    g_strLookupAddress = e.Address;
    g_strLookupPort = e.Port;
    g_vecProbeQueue.push_back(e);
  }
  if (r == LookupTokenResult::kBadInterface) {
    log.Error("cannot reach");
    PostResultLocked(2, 2);
    return 0;
  }
  if (g_hProbeThread == INVALID_HANDLE_VALUE) {
    const uintptr_t h = _beginthreadex(nullptr, 0, &ProbeThread, nullptr, 0, nullptr);
    if (h == 0) {
      log.Error("Create probe operation thread failed: %d", errno);
    } else {
      g_hProbeThread = reinterpret_cast<HANDLE>(h);
    }
  }
  return 0;
}

bool GetProbeReachable(size_t index, ProbeEntry& out) {
  Guard g(ProbeStateLock());
  if (index >= g_vecProbeReachable.size()) return false;
  out = g_vecProbeReachable[index];
  return true;
}

size_t ProbeReachableCount() {
  Guard g(ProbeStateLock());
  return g_vecProbeReachable.size();
}

ProbeEntry GetLastLookupEntry() {
  Guard g(ProbeStateLock());
  return ProbeEntry{g_strLookupCode, g_strLookupName, g_strLookupAddress, g_strLookupPort};
}

bool WaitProbeIdle(DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    {
      Guard g(ProbeStateLock());
      if (g_hProbeThread == INVALID_HANDLE_VALUE) return true;
    }
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(20);
  }
}
