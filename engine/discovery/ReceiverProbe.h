// The receiver probe: turns a connection-ID token into probe entries, one
// per network interface of the receiver, and probes them on a thread of its
// own, side by side in rounds of up to kProbesAtOnce (a round ends within
// one probe's bounds), reporting each round's outcomes in queue order. Every outcome goes to the probe's window as
// WM_LOOKUP_RESULT (wParam, lParam):
//   (2,0) token not decipherable or malformed   (2,1) a required member missing
//   (2,2) an interface without "ip" or "mac"     (2,3) an interface answered, but not with 200
//   (1,i) reachable: entry i of g_vecProbeReachable
//   (0,1) an interface could not be connected, more are queued   (0,0) the same, queue empty
//
// Locking: the queue, the reachable list, the thread handle, the probe
// pointer and the four lookup strings sit under ProbeStateLock(). Other
// threads read them through the copying accessors below.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "foundation/docs/JsonDocument.h"
#include "foundation/thread/Threads.h"

constexpr UINT WM_LOOKUP_RESULT = 0x843;

// Results of the decoder (shared with the backend client's result codes).
constexpr int BEOP_E_LOOKUP_FAILED = 0x30004;
constexpr int BEOP_E_LOOKUP_INCOMPLETE = 0x30005;

// Bounds of one probe: the connect and the wait for the 12-byte answer.
constexpr DWORD kProbeConnectTimeoutMs = 3000;
constexpr DWORD kProbeReceiveTimeoutMs = 3000;
// Entries probed side by side (a token names no more interfaces than this).
constexpr size_t kProbesAtOnce = 8;

struct ProbeEntry {
  std::string Code;
  std::string Name;
  std::string Address;
  std::string Port;
};

class ReceiverProbe;

extern std::vector<ProbeEntry> g_vecProbeQueue;
extern std::vector<ProbeEntry> g_vecProbeReachable;
extern ReceiverProbe* g_pReceiverProbe;
// INVALID_HANDLE_VALUE (-1) while no probe thread runs.
extern HANDLE g_hProbeThread;
// Code, name, address and port of the last entry queued; empty until a
// token was decoded.
extern std::string g_strLookupCode;
extern std::string g_strLookupName;
extern std::string g_strLookupAddress;
extern std::string g_strLookupPort;

critical_section_lock& ProbeStateLock();

class ReceiverProbe {
 public:
  // Empties the queue and the reachable list and becomes the probe that
  // receives the results (target may be null: nothing is posted then).
  explicit ReceiverProbe(HWND target);
  // Stops posting (a running probe thread finishes its queue silently).
  ~ReceiverProbe();
  ReceiverProbe(const ReceiverProbe&) = delete;
  ReceiverProbe& operator=(const ReceiverProbe&) = delete;

  // Runs on the backend operations thread. 0 (also when an interface was
  // incomplete, see (2,2)), BEOP_E_LOOKUP_FAILED or BEOP_E_LOOKUP_INCOMPLETE.
  int DecodeLookupToken(const std::wstring& token);

  HWND Target() const { return target_; }

 private:
  HWND target_;
  JsonDocument json_;
};

// Copy of entry i of the reachable list; false when there is none.
bool GetProbeReachable(size_t index, ProbeEntry& out);
size_t ProbeReachableCount();
// Copy of the four lookup strings.
ProbeEntry GetLastLookupEntry();
// True once no probe thread runs and the last one has ended (polls up to
// timeoutMs).
bool WaitProbeIdle(DWORD timeoutMs);
// Drops the queued entries and ends the round in progress without posting
// the rest, then waits as WaitProbeIdle does.
bool StopProbes(DWORD timeoutMs);

// The probe request, by txProbe (non-zero: "POST /probe-nb5" with the
// Castvane agent; zero: "POST /probe" with the OEM agent).
const char* ProbeRequestText(int txProbe);
// The 12 bytes are a 200 status line of RTSP/1.0 or HTTP/1.1.
bool IsProbeAnswerReachable(const char* data, int length);
