// The transmitter API: what a host program of Nb5TxAPI.dll sees.
//
// A host calls Nb5TxInit, Nb5TxStart with the receiver's connection ID (and
// password), any number of Nb5TxSendCommand, Nb5TxStop, and Nb5TxFree;
// Nb5TxGetLastError and Nb5TxIsStopped may be called at any time. Calls
// come from the host's threads, one at a time. The C functions act on one
// process-wide CNb5TxAPI object; hosts may also build objects of their own
// and call the members.
//
// This one header serves both sides. A host built with Microsoft's compiler
// (or clang in its Microsoft mode) includes it from beside the DLL and links
// with Nb5TxAPI.lib: the class is imported under Microsoft's decorated names
// and the functions with C linkage, and a C host sees the functions alone.
// The library itself is built by g++ from it; nothing here is marked for
// export there: Nb5TxAPI.<arch>.def lists every export, each at its
// ordinal, the class members under the Microsoft names.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(_MSC_VER)
#define NB5TXAPI_IMPORT __declspec(dllimport)
#else
#define NB5TXAPI_IMPORT
#endif

// Passed by value. On 32-bit Windows three 32-bit fields (12 bytes); on
// 64-bit Windows the two texts are natural pointers (24 bytes).
typedef struct Nb5TxInitParameters {
  const char* ConnectionId;  // the receiver's connection ID, ANSI; required
  const char* Password;      // the receiver's password, ANSI; null keeps the one given before
  uint32_t Reserved;         // not read
} Nb5TxInitParameters;

#ifdef __cplusplus
#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(Nb5TxInitParameters) == 12, "Nb5TxInitParameters is 12 bytes on i686");
static_assert(offsetof(Nb5TxInitParameters, Password) == 4, "Password at 4");
static_assert(offsetof(Nb5TxInitParameters, Reserved) == 8, "Reserved at 8");
#elif defined(__x86_64__) || defined(_M_X64)
static_assert(sizeof(Nb5TxInitParameters) == 24, "Nb5TxInitParameters is 24 bytes on x86_64");
static_assert(offsetof(Nb5TxInitParameters, Password) == 8, "Password at 8");
static_assert(offsetof(Nb5TxInitParameters, Reserved) == 16, "Reserved at 16");
#endif
#endif

// Last-error codes (Nb5TxGetLastError). Besides these: 0 (started, or
// stopped without error), the backend lookup's 0x4000, 0x30001, 0x30004,
// 0x30005, and the mirroring session's negative codes (-10002 the
// connection to the receiver failed, -10010/-10011 the stream requests).
#ifdef __cplusplus
enum : uint32_t {
#else
enum {
#endif
  TXAPI_ERR_NOT_INITIALIZED = 2,  // reported, never stored: no API object or session
  TXAPI_ERR_NO_CONNECTION_ID = 0x10001,
  TXAPI_ERR_NO_SESSION = 0x10006,
  TXAPI_ERR_OLD_SESSION_QUITTING = 0x10007,
  TXAPI_ERR_MIRROR_FAILED = 0x10008,
  TXAPI_ERR_EXTEND_DISPLAY = 0x10009,
  TXAPI_ERR_SWITCH_DISPLAY = 0x1000A,
};

// Nb5TxSendCommand commands.
enum {
  TXAPI_CMD_EXTEND_DISPLAY = 0,  // argument unused
  TXAPI_CMD_SWITCH_DISPLAY = 1,  // argument: display index
};

#ifdef __cplusplus
class CTxSession;

// One pointer-sized member: the key of its session (never reused), null
// when there is none. No virtual functions, no destructor of its own (hosts
// never free through it).
class NB5TXAPI_IMPORT CNb5TxAPI {
 public:
  CNb5TxAPI();
  CNb5TxAPI& operator=(const CNb5TxAPI& other);
  // Zero-fills `size` bytes of the object. size_t as Microsoft's compilers
  // declare this member (64 bits on x86_64); only the low 32 bits are read,
  // so a caller that passes a 32-bit unsigned is served as well.
  void __autoclassinit2(size_t size);
  int Init();
  int Start(Nb5TxInitParameters params);
  int Stop();
  int Free();
  unsigned long GetLastError();
  int IsStopped();
  long SendCommand(unsigned int command, long argument);

 private:
  // The session when it is still alive, else null (and the stale key is
  // forgotten): a session freed through another object sharing it.
  CTxSession* Session();

  CTxSession* session_;
};

extern "C" {
#endif

NB5TXAPI_IMPORT int Nb5TxInit(void);
NB5TXAPI_IMPORT int Nb5TxStart(Nb5TxInitParameters params);
NB5TXAPI_IMPORT int Nb5TxStop(void);
NB5TXAPI_IMPORT int Nb5TxFree(void);
NB5TXAPI_IMPORT int Nb5TxIsStopped(void);
NB5TXAPI_IMPORT uint32_t Nb5TxGetLastError(void);
NB5TXAPI_IMPORT int Nb5TxSendCommand(int command, int argument);

#ifdef __cplusplus
}
#endif
