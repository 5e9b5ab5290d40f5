// The transmitter API: what a host program of Nb5TxAPI.dll sees.
//
// A host loads the DLL, calls Nb5TxInit, Nb5TxStart with the receiver's
// connection ID (and password), any number of Nb5TxSendCommand, Nb5TxStop,
// and Nb5TxFree; Nb5TxGetLastError and Nb5TxIsStopped may be called at any
// time. Calls come from the host's threads, one at a time. The C functions
// act on one process-wide CNb5TxAPI object; hosts may also build objects of
// their own and call the members, which the DLL exports by ordinal only
// (their names are g++'s, see Nb5TxAPI.def).
//
// This header holds the exported types and nothing of the library's
// insides, so a host (and the host test) can use it alone. The exports are
// listed in Nb5TxAPI.def: nothing here is marked for export, so nothing
// else leaves the DLL.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Passed by value. On 32-bit Windows three 32-bit fields (12 bytes); on
// 64-bit Windows the two texts are natural pointers.
struct Nb5TxInitParameters {
  const char* ConnectionId;  // the receiver's connection ID, ANSI; required
  const char* Password;      // the receiver's password, ANSI; null keeps the one given before
  uint32_t Reserved;         // not read
};

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(Nb5TxInitParameters) == 12, "Nb5TxInitParameters is 12 bytes on i686");
static_assert(offsetof(Nb5TxInitParameters, Password) == 4, "Password at 4");
static_assert(offsetof(Nb5TxInitParameters, Reserved) == 8, "Reserved at 8");
#elif defined(__x86_64__) || defined(_M_X64)
static_assert(sizeof(Nb5TxInitParameters) == 24, "Nb5TxInitParameters is 24 bytes on x86_64");
static_assert(offsetof(Nb5TxInitParameters, Password) == 8, "Password at 8");
static_assert(offsetof(Nb5TxInitParameters, Reserved) == 16, "Reserved at 16");
#endif

// Last-error codes (Nb5TxGetLastError). Besides these: 0 (started, or
// stopped without error), the backend lookup's 0x4000, 0x30001, 0x30004,
// 0x30005, and the mirroring session's negative codes (-10002 the
// connection to the receiver failed, -10010/-10011 the stream requests).
enum : uint32_t {
  TXAPI_ERR_NOT_INITIALIZED = 2,  // reported, never stored: no API object or session
  TXAPI_ERR_NO_CONNECTION_ID = 0x10001,
  TXAPI_ERR_NO_SESSION = 0x10006,
  TXAPI_ERR_OLD_SESSION_QUITTING = 0x10007,
  TXAPI_ERR_MIRROR_FAILED = 0x10008,
  TXAPI_ERR_EXTEND_DISPLAY = 0x10009,
  TXAPI_ERR_SWITCH_DISPLAY = 0x1000A,
};

// Nb5TxSendCommand commands.
enum : int {
  TXAPI_CMD_EXTEND_DISPLAY = 0,  // argument unused
  TXAPI_CMD_SWITCH_DISPLAY = 1,  // argument: display index
};

#ifdef __cplusplus
class CTxSession;

// One pointer: the session, null when there is none. No virtual functions,
// no destructor of its own (hosts never free through it).
class CNb5TxAPI {
 public:
  CNb5TxAPI();
  CNb5TxAPI& operator=(const CNb5TxAPI& other);
  void __autoclassinit2(unsigned size);
  int Init();
  int Start(Nb5TxInitParameters params);
  int Stop();
  int Free();
  unsigned long GetLastError();
  int IsStopped();
  long SendCommand(unsigned int command, long argument);

 private:
  // The session when it is still alive, else null (and the stale pointer
  // is forgotten): a session freed through another object sharing it.
  CTxSession* Session();

  CTxSession* session_;
};

extern "C" {
#endif

int Nb5TxInit(void);
int Nb5TxStart(struct Nb5TxInitParameters params);
int Nb5TxStop(void);
int Nb5TxFree(void);
int Nb5TxIsStopped(void);
uint32_t Nb5TxGetLastError(void);
int Nb5TxSendCommand(int command, int argument);

#ifdef __cplusplus
}
#endif
