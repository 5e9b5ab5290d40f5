// The two process-wide receiver maps and the rules for what enters them.
//
// g_mapFoundReceivers holds what discovery, typed addresses and connection-ID
// lookups found; g_mapListedReceivers is the filtered copy the session
// window shows and the user picks from (row k is position k in key order).
// Each map has its own unnamed mutex, owned by the main window. Lock order:
// the listed map's mutex, then the found map's (only the publication holds
// both); nothing takes them the other way round.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "engine/discovery/BonjourDiscovery.h"  // ReceiverEntry
#include "foundation/sys/SysUtil.h"              // AdapterRecord

// Key: the address left-aligned in 15 characters ("%-15S"); wide strings
// compare code unit by code unit, so the order is that of the padded texts.
using ReceiverMap = std::map<std::wstring, ReceiverEntry>;

extern ReceiverMap g_mapFoundReceivers;
extern ReceiverMap g_mapListedReceivers;

// Receivers speak RAOP on this port; entries on any other port are dropped.
constexpr int kReceiverAudioPort = 47000;
// The found map holds at most this many receivers: anyone on the network
// can announce services, and each costs memory here, a row and a window.
constexpr size_t kMaxFoundReceivers = 256;

std::wstring ReceiverKey(const std::string& address);

// An unnamed Win32 mutex held for a scope (infinite wait; the holders never
// block on anything else while they hold it). A null mutex locks nothing.
class ScopedMutex {
 public:
  explicit ScopedMutex(HANDLE mutex);
  ~ScopedMutex();
  ScopedMutex(const ScopedMutex&) = delete;
  ScopedMutex& operator=(const ScopedMutex&) = delete;

 private:
  HANDLE mutex_;
};

// Found map, under foundMutex: a copy of entry at its address's key
// (inserted or replaced); false (nothing changed) when its port is not 47000,
// or when it is new and the map already holds kMaxFoundReceivers (logged).
bool AddFoundReceiver(HANDLE foundMutex, const ReceiverEntry& entry);
// Found map, under foundMutex: the first value in key order whose service
// name equals name byte for byte goes; at most one. False when none matched.
bool RemoveFoundReceiver(HANDLE foundMutex, const std::string& name);

// Drops the PC's own addresses from a listed map: for the loopback fallback
// record ("localhost\n") the 127.0.0.1 key, otherwise the first value whose
// trimmed key equals the trimmed adapter address.
void RemoveOwnAddresses(ReceiverMap& listed, const std::vector<AdapterRecord>& adapters);

// The value at position k in key order; false when the map has none.
bool ReceiverAtPosition(const ReceiverMap& map, int k, ReceiverEntry& out);

// What a typed text (txSToken) asks for.
struct TypedTarget {
  enum Kind {
    kNothing,       // empty, or an address that is not a usable IPv4 address
    kAddress,       // a receiver at address:port
    kConnectionId,  // fewer than four dotted parts: ask the backend
  };
  Kind kind = kNothing;
  std::string address;  // dotted decimal, rebuilt from the numbers
  int port = kReceiverAudioPort;
};
// Three parts ending in ".", a fourth ending in ":" or the end, an optional
// port after ":". An address needs four parts of 1 to 3 decimal digits, each
// at most 255, and a port of digits from 1 to 65535; the address is rebuilt
// from the numbers (Winsock would read "010" as octal 8).
TypedTarget ParseTypedTarget(const std::wstring& text);

// What a WM_LOOKUP_RESULT pair asks the main window to do.
struct LookupAction {
  enum Kind { kNothing, kAddReceiver, kMessageBox };
  Kind kind = kNothing;
  size_t index = 0;   // kAddReceiver: entry of g_vecProbeReachable
  UINT stringId = 0;  // kMessageBox: 347, 319 or 318
};
LookupAction DecideLookupResult(WPARAM wParam, LPARAM lParam, size_t reachableCount);

// The capture area between two corners of the region picker, with width and
// height made even by lowering right and bottom.
RECT EvenCaptureArea(POINT start, POINT end);
