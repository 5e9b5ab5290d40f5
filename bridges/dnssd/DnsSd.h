/* The dns_sd client interface, as far as this system uses it: the six calls
 * that browse for a service type, resolve a service instance to its host,
 * port and TXT record, and look a host's IPv4 address up, plus the types and
 * constants they take. Written from the published DNS-SD client API
 * documentation; values are those of the documented interface, so the same
 * caller works against any dnssd.dll that offers it (ours in bridges/dnssd,
 * or the platform's DNS-SD service library).
 *
 * Calls and callbacks use the stdcall convention on 32-bit Windows
 * (DNSSD_API), and the DLL exports them by their plain names.
 *
 * Model: every operation gets a reference with a socket of its own. The
 * socket turns readable while results wait; DNSServiceProcessResult then
 * runs the operation's callback on the caller's thread without blocking.
 * kDNSServiceFlagsMoreComing in a callback's flags says more results are
 * already queued. DNSServiceGetAddrInfo with kDNSServiceFlagsTimeout ends
 * with kDNSServiceErr_Timeout (and a null address) 5 seconds after it
 * started, whether or not an address came (our DLL's bound). DNSServiceRefDeallocate ends the operation (also from
 * inside its own callback); no callback runs for it afterwards.
 */
#ifndef TESS_BRIDGES_DNSSD_DNSSD_H
#define TESS_BRIDGES_DNSSD_DNSSD_H

#include <stdint.h>

#if defined(_WIN32)
#include <winsock2.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define DNSSD_API __stdcall
#else
#define DNSSD_API
#endif

#if defined(_WIN32)
typedef SOCKET dnssd_sock_t;
#else
typedef int dnssd_sock_t;
#endif

typedef struct _DNSServiceRef_t* DNSServiceRef;
typedef uint32_t DNSServiceFlags;
typedef uint32_t DNSServiceProtocol;
typedef int32_t DNSServiceErrorType;

/* Flags (only those the interface defines and this system may meet). */
enum {
  kDNSServiceFlagsMoreComing = 0x1,
  kDNSServiceFlagsAdd = 0x2,
  kDNSServiceFlagsTimeout = 0x10000
};

enum { kDNSServiceProtocol_IPv4 = 0x01, kDNSServiceProtocol_IPv6 = 0x02 };

enum { kDNSServiceInterfaceIndexAny = 0 };

/* Error codes. -65546 has no name. */
enum {
  kDNSServiceErr_NoError = 0,
  kDNSServiceErr_Unknown = -65537,
  kDNSServiceErr_NoSuchName = -65538,
  kDNSServiceErr_NoMemory = -65539,
  kDNSServiceErr_BadParam = -65540,
  kDNSServiceErr_BadReference = -65541,
  kDNSServiceErr_BadState = -65542,
  kDNSServiceErr_BadFlags = -65543,
  kDNSServiceErr_Unsupported = -65544,
  kDNSServiceErr_NotInitialized = -65545,
  kDNSServiceErr_AlreadyRegistered = -65547,
  kDNSServiceErr_NameConflict = -65548,
  kDNSServiceErr_Invalid = -65549,
  kDNSServiceErr_Firewall = -65550,
  kDNSServiceErr_Incompatible = -65551,
  kDNSServiceErr_BadInterfaceIndex = -65552,
  kDNSServiceErr_Refused = -65553,
  kDNSServiceErr_NoSuchRecord = -65554,
  kDNSServiceErr_NoAuth = -65555,
  kDNSServiceErr_NoSuchKey = -65556,
  kDNSServiceErr_NATTraversal = -65557,
  kDNSServiceErr_DoubleNAT = -65558,
  kDNSServiceErr_BadTime = -65559,
  kDNSServiceErr_BadSig = -65560,
  kDNSServiceErr_BadKey = -65561,
  kDNSServiceErr_Transient = -65562,
  kDNSServiceErr_ServiceNotRunning = -65563,
  kDNSServiceErr_NATPortMappingUnsupported = -65564,
  kDNSServiceErr_NATPortMappingDisabled = -65565,
  kDNSServiceErr_NoRouter = -65566,
  kDNSServiceErr_PollingMode = -65567,
  kDNSServiceErr_Timeout = -65568
};

struct sockaddr;

/* serviceName is the instance's name as registered (UTF-8, unescaped);
 * regtype "_raop._tcp." and replyDomain "local." end in a dot. */
typedef void(DNSSD_API* DNSServiceBrowseReply)(DNSServiceRef sdRef, DNSServiceFlags flags,
                                                uint32_t interfaceIndex,
                                                DNSServiceErrorType errorCode,
                                                const char* serviceName, const char* regtype,
                                                const char* replyDomain, void* context);

/* fullname is the escaped full instance name, hosttarget the SRV target;
 * port is in network byte order; txtRecord holds txtLen bytes of TXT rdata. */
typedef void(DNSSD_API* DNSServiceResolveReply)(DNSServiceRef sdRef, DNSServiceFlags flags,
                                                 uint32_t interfaceIndex,
                                                 DNSServiceErrorType errorCode,
                                                 const char* fullname, const char* hosttarget,
                                                 uint16_t port, uint16_t txtLen,
                                                 const unsigned char* txtRecord, void* context);

/* address is a sockaddr_in for IPv4 (null with an error); ttl in seconds. */
typedef void(DNSSD_API* DNSServiceGetAddrInfoReply)(DNSServiceRef sdRef, DNSServiceFlags flags,
                                                     uint32_t interfaceIndex,
                                                     DNSServiceErrorType errorCode,
                                                     const char* hostname,
                                                     const struct sockaddr* address, uint32_t ttl,
                                                     void* context);

DNSServiceErrorType DNSSD_API DNSServiceBrowse(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                               uint32_t interfaceIndex, const char* regtype,
                                               const char* domain, DNSServiceBrowseReply callBack,
                                               void* context);

DNSServiceErrorType DNSSD_API DNSServiceResolve(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                uint32_t interfaceIndex, const char* name,
                                                const char* regtype, const char* domain,
                                                DNSServiceResolveReply callBack, void* context);

DNSServiceErrorType DNSSD_API DNSServiceGetAddrInfo(DNSServiceRef* sdRef, DNSServiceFlags flags,
                                                    uint32_t interfaceIndex,
                                                    DNSServiceProtocol protocol,
                                                    const char* hostname,
                                                    DNSServiceGetAddrInfoReply callBack,
                                                    void* context);

dnssd_sock_t DNSSD_API DNSServiceRefSockFD(DNSServiceRef sdRef);

DNSServiceErrorType DNSSD_API DNSServiceProcessResult(DNSServiceRef sdRef);

void DNSSD_API DNSServiceRefDeallocate(DNSServiceRef sdRef);

/* Pointer types for run-time lookup (GetProcAddress by the plain names). */
typedef DNSServiceErrorType(DNSSD_API* PFN_DNSServiceBrowse)(DNSServiceRef*, DNSServiceFlags,
                                                             uint32_t, const char*, const char*,
                                                             DNSServiceBrowseReply, void*);
typedef DNSServiceErrorType(DNSSD_API* PFN_DNSServiceResolve)(DNSServiceRef*, DNSServiceFlags,
                                                              uint32_t, const char*, const char*,
                                                              const char*, DNSServiceResolveReply,
                                                              void*);
typedef DNSServiceErrorType(DNSSD_API* PFN_DNSServiceGetAddrInfo)(DNSServiceRef*, DNSServiceFlags,
                                                                  uint32_t, DNSServiceProtocol,
                                                                  const char*,
                                                                  DNSServiceGetAddrInfoReply,
                                                                  void*);
typedef dnssd_sock_t(DNSSD_API* PFN_DNSServiceRefSockFD)(DNSServiceRef);
typedef DNSServiceErrorType(DNSSD_API* PFN_DNSServiceProcessResult)(DNSServiceRef);
typedef void(DNSSD_API* PFN_DNSServiceRefDeallocate)(DNSServiceRef);

#ifdef __cplusplus
}
#endif

#endif /* TESS_BRIDGES_DNSSD_DNSSD_H */
