#include "engine/discovery/ReceiverProbe.h"

#include <winsock2.h>
#include <process.h>

#include <algorithm>
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

// Probe threads that took their last entry and still have to be waited
// for (their handles closed) by whoever looks next; and the stop that the
// API library asks for when it ends a lookup's probes.
std::vector<HANDLE> g_endedProbeThreads;
bool g_probeStop = false;

bool ProbeStopAsked() {
  Guard g(ProbeStateLock());
  return g_probeStop;
}

// Waits up to timeoutMs for the probe threads that have stopped taking
// entries to end, and closes them. True when none is left.
bool JoinEndedProbeThreads(DWORD timeoutMs) {
  std::vector<HANDLE> ended;
  {
    Guard g(ProbeStateLock());
    ended.swap(g_endedProbeThreads);
  }
  const DWORD start = GetTickCount();
  std::vector<HANDLE> running;
  for (HANDLE h : ended) {
    const DWORD spent = GetTickCount() - start;
    if (WaitForSingleObject(h, spent < timeoutMs ? timeoutMs - spent : 0) == WAIT_OBJECT_0) {
      CloseHandle(h);
    } else {
      running.push_back(h);
    }
  }
  if (running.empty()) return true;
  Guard g(ProbeStateLock());
  g_endedProbeThreads.insert(g_endedProbeThreads.end(), running.begin(), running.end());
  return false;
}

// One entry's probe, run side by side with the others of its round.
struct Probe {
  enum State { kConnecting, kAnswering, kRefused, kAnswered, kNoSocket };
  ProbeEntry entry;
  SOCKET s = INVALID_SOCKET;
  State state = kConnecting;
  DWORD deadline = 0;  // tick at which the current step gives up
  char answer[12] = {};
  int got = 0;

  bool Finished() const { return state == kRefused || state == kAnswered || state == kNoSocket; }
};

// The entry's address: dotted, or a name looked up.
bool ResolveProbeAddress(const std::string& host, in_addr* out) {
  const unsigned long dotted = inet_addr(host.c_str());
  if (dotted != INADDR_NONE || host == "255.255.255.255") {
    out->s_addr = dotted;
    return true;
  }
  hostent* he = gethostbyname(host.c_str());
  if (!he || he->h_addrtype != AF_INET || !he->h_addr_list || !he->h_addr_list[0]) return false;
  memcpy(out, he->h_addr_list[0], sizeof(*out));
  return true;
}

void SendProbeRequest(Probe& p, const char* request) {
  // A few dozen bytes into a fresh connection: they fit its send buffer.
  send(p.s, request, static_cast<int>(strlen(request)), 0);
  p.state = Probe::kAnswering;
  p.deadline = GetTickCount() + kProbeReceiveTimeoutMs;
}

void BeginProbe(Probe& p, const char* request) {
  p.s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (p.s == INVALID_SOCKET) {
    ZtLogger::Instance().Error("Create client socket failed.");
    p.state = Probe::kNoSocket;
    return;
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(LookupPortNumber(p.entry.Port));
  if (a.sin_port == 0 || !ResolveProbeAddress(p.entry.Address, &a.sin_addr)) {
    p.state = Probe::kRefused;
    return;
  }
  u_long nonBlocking = 1;
  ioctlsocket(p.s, FIONBIO, &nonBlocking);
  if (connect(p.s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0) {
    SendProbeRequest(p, request);
  } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
    p.state = Probe::kConnecting;
    p.deadline = GetTickCount() + kProbeConnectTimeoutMs;
  } else {
    p.state = Probe::kRefused;
  }
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

// Posts the outcome of a finished probe; `later` tells whether entries
// after it (in its round or queued) are still to be reported.
void ReportProbe(const Probe& p, bool later) {
  ZtLogger& log = ZtLogger::Instance();
  switch (p.state) {
    case Probe::kRefused: {
      log.Error("Create probe failed %s", p.entry.Address.c_str());
      Guard g(ProbeStateLock());
      PostResultLocked(0, (later || !g_vecProbeQueue.empty()) ? 1 : 0);
      return;
    }
    case Probe::kAnswered:
      if (IsProbeAnswerReachable(p.answer, p.got)) {
        Guard g(ProbeStateLock());
        g_vecProbeReachable.push_back(p.entry);
        PostResultLocked(1, static_cast<LPARAM>(g_vecProbeReachable.size() - 1));
        return;
      }
      PostResult(2, 3);
      log.Error("%s:%s : %s", p.entry.Address.c_str(), p.entry.Port.c_str(),
                Printable(p.answer, p.got).c_str());
      return;
    default:
      return;  // no socket: logged when it happened, nothing posted
  }
}

// Probes a round of entries side by side: each connects within
// kProbeConnectTimeoutMs and then has kProbeReceiveTimeoutMs for the 12
// bytes of its answer (until all are there, the peer closes or the time is
// up; a trickling peer cannot stretch it), so the round ends within their
// sum whatever its size. Outcomes are posted in the round's order, so
// results and reachable indices come as one probe after another would
// give them. A stop ends the round without posting the rest.
void ProbeRound(std::vector<Probe>& round) {
  const char* request = ProbeRequestText(CFrameUtility::GetTxProbe());
  for (Probe& p : round) BeginProbe(p, request);
  size_t reported = 0;
  for (;;) {
    while (reported < round.size() && round[reported].Finished()) {
      ReportProbe(round[reported], reported + 1 < round.size());
      ++reported;
    }
    if (reported == round.size() || ProbeStopAsked()) break;

    fd_set readable, writable, failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    // Short slices, so a stop is seen soon.
    DWORD wait = 100;
    bool expired = false;
    const DWORD now = GetTickCount();
    for (Probe& p : round) {
      if (p.Finished()) continue;
      const LONG left = static_cast<LONG>(p.deadline - now);
      if (left <= 0) {
        p.state = p.state == Probe::kConnecting ? Probe::kRefused : Probe::kAnswered;
        expired = true;
        continue;
      }
      wait = std::min(wait, static_cast<DWORD>(left));
      if (p.state == Probe::kConnecting) {
        FD_SET(p.s, &writable);
        FD_SET(p.s, &failed);
      } else {
        FD_SET(p.s, &readable);
      }
    }
    if (expired) continue;
    timeval tv{0, static_cast<long>(wait * 1000)};
    if (select(0, &readable, &writable, &failed, &tv) <= 0) continue;
    for (Probe& p : round) {
      if (p.Finished()) continue;
      if (p.state == Probe::kConnecting) {
        if (FD_ISSET(p.s, &failed)) {
          p.state = Probe::kRefused;
        } else if (FD_ISSET(p.s, &writable)) {
          SendProbeRequest(p, request);
        }
      } else if (FD_ISSET(p.s, &readable)) {
        const int r = recv(p.s, p.answer + p.got, static_cast<int>(sizeof(p.answer)) - p.got, 0);
        if (r <= 0) {
          p.state = Probe::kAnswered;
        } else {
          p.got += r;
          if (p.got == static_cast<int>(sizeof(p.answer))) p.state = Probe::kAnswered;
        }
      }
    }
  }
  for (Probe& p : round) {
    if (p.s != INVALID_SOCKET) closesocket(p.s);
  }
}

unsigned __stdcall ProbeThread(void*) {
  const HMODULE pin = PinOwnModule();
  {
    WinsockScope winsock;
    for (;;) {
      std::vector<Probe> round;
      {
        Guard g(ProbeStateLock());
        if (g_probeStop) g_vecProbeQueue.clear();
        if (g_vecProbeQueue.empty()) {
          // Under the lock: a decoder that queues after this point sees no
          // thread and starts a new one; this one is joined by whoever
          // looks next.
          g_endedProbeThreads.push_back(g_hProbeThread);
          g_hProbeThread = INVALID_HANDLE_VALUE;
          g_probeStop = false;
          break;
        }
        const size_t n = std::min(g_vecProbeQueue.size(), kProbesAtOnce);
        for (size_t i = 0; i < n; ++i) {
          round.emplace_back();
          round.back().entry = g_vecProbeQueue[i];
        }
        g_vecProbeQueue.erase(g_vecProbeQueue.begin(),
                              g_vecProbeQueue.begin() + static_cast<std::ptrdiff_t>(n));
      }
      ProbeRound(round);
    }
    ZtLogger::Instance().Info("All probe finish");
  }
  ExitPinnedThread(pin, 0);
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
  // A thread past its last entry ends at once; it is not left unjoined.
  JoinEndedProbeThreads(1000);
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
      if (g_hProbeThread == INVALID_HANDLE_VALUE) break;
    }
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(20);
  }
  const DWORD spent = GetTickCount() - start;
  return JoinEndedProbeThreads(spent < timeoutMs ? timeoutMs - spent : 0);
}

bool StopProbes(DWORD timeoutMs) {
  {
    Guard g(ProbeStateLock());
    g_vecProbeQueue.clear();
    if (g_hProbeThread != INVALID_HANDLE_VALUE) g_probeStop = true;
  }
  return WaitProbeIdle(timeoutMs);
}
