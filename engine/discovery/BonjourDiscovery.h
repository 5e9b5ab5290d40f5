// Receiver discovery by DNS-SD: browse "_raop._tcp", resolve each service
// to host and port, look the host's IPv4 address up, and report the
// receiver to the owner (the main window) through its "found" callback; a
// service that goes away is reported through "removed" with its name only.
//
// The dns_sd calls come from dnssd.dll, loaded at run time from the
// program's own folder only (never the current directory or PATH) and kept
// loaded for the life of the process.
// Without the DLL, or without one of the six calls, the browse fails as
// kDNSServiceErr_ServiceNotRunning: the thread logs it and ends.
//
// Threads: every dns_sd call and every callback runs on the discovery
// thread; Start, Stop and the destructor run on the owner's thread. The
// owner's callbacks do their own locking and copy what they keep: the entry
// belongs to the discovery and lives until the discovery is destroyed.
// One discovery at a time: the operation map and the entry list are
// process-wide.
//
// Bounded work whatever the network announces: at most maxLiveLookups
// resolves and address lookups are open at once; services the browse adds
// beyond that wait their turn (at most maxWaiting; further ones are logged
// and dropped); a resolve or lookup without a usable answer within
// resolveTimeoutMs is ended (a resolve that only gave empty TXT records
// included); the select wait serves every operation in turn, 64 at a time.
// An entry lives while an operation or a waiting service refers to it.
#pragma once

#include <string>

#include "bridges/dnssd/DnsSd.h"
#include "foundation/thread/Threads.h"

struct ReceiverEntry;
// The owner's found and removed callbacks.
typedef void (*ReceiverCallback)(ReceiverEntry* entry);

// One discovered receiver.
struct ReceiverEntry {
  std::string name;     // DNS-SD service name, UTF-8 as delivered
  std::string address;  // dotted IPv4; empty until the address lookup answered
  int port = -1;        // host order; -1 until the resolve answered
  void* owner = nullptr;  // the owner given to Start (the main window)
  ReceiverCallback found = nullptr;
  ReceiverCallback removed = nullptr;
};

// The dns_sd calls the discovery makes. The program takes them from
// dnssd.dll; tests may hand in their own.
struct DnsSdApi {
  PFN_DNSServiceBrowse browse = nullptr;
  PFN_DNSServiceResolve resolve = nullptr;
  PFN_DNSServiceGetAddrInfo getAddrInfo = nullptr;
  PFN_DNSServiceRefSockFD refSockFD = nullptr;
  PFN_DNSServiceProcessResult processResult = nullptr;
  PFN_DNSServiceRefDeallocate refDeallocate = nullptr;
};

// dnssd.dll's calls, loaded on the first call and kept; null when the DLL or
// any of the six calls is missing.
const DnsSdApi* LoadDnsSdLibrary();
// The same for a DLL of the caller's choice (a bare name is taken from the
// program's folder; its own copy of the calls, kept loaded); false when the
// DLL or a call is missing.
bool LoadDnsSdLibraryFrom(const wchar_t* dll, DnsSdApi* api);
// All six calls are there.
bool DnsSdApiComplete(const DnsSdApi& api);

// The interface's name of an error code ("kDNSServiceErr_NoError", ...);
// any other code, -65546 included, gives "An_Unknown_Error <code>" written
// into one static buffer.
const char* DNSServiceErrorName(int code);

// The discovery's bounds (see above).
struct DiscoveryLimits {
  size_t maxLiveLookups = 32;         // resolves and address lookups open at once
  size_t maxWaiting = 256;            // services waiting for a resolve
  unsigned resolveTimeoutMs = 10000;  // a resolve or lookup without an answer ends then
};

class CBonjourDiscovery : public CBaseThread {
 public:
  CBonjourDiscovery();
  // Frees the entries; stops the thread first if the owner did not.
  ~CBonjourDiscovery() override;

  // Starts browsing "_raop._tcp" on a thread of its own: 0, or -1 when the
  // thread cannot be created.
  int Start(void* owner, ReceiverCallback found, ReceiverCallback removed);
  // Sets the stop flag and waits up to 5000 ms (the thread sees the flag
  // within its 1 s wait), then terminates the thread. Returns 0.
  int Stop();

  int Run() override;

  // Test seam: the dns_sd calls to use in place of dnssd.dll. Set before Start.
  void SetDnsSdApi(const DnsSdApi* api) { api_ = api; }
  // Test seam: other bounds. Set before Start.
  void SetLimits(const DiscoveryLimits& limits) { limits_ = limits; }

  std::string serviceType;
  void* owner = nullptr;
  ReceiverCallback found = nullptr;
  ReceiverCallback removed = nullptr;

 private:
  const DnsSdApi* api_ = nullptr;
  DiscoveryLimits limits_;
};

// How many DNS-SD operations are pending, and how many entries the browse
// made are still alive (for tests and diagnostics; read while the thread
// does not run).
size_t BonjourPendingOperationCount();
size_t BonjourEntryCount();
