// What callers built with Microsoft's compilers need beyond g++'s members.
// Nb5TxAPI.<arch>.def exports it under the constructor's decorated name.
#include <new>

#include "txapi/Nb5TxAPI.h"

#if defined(__i386__)
// `this` in ECX, as a Microsoft caller passes it to a member.
#define TX_THISCALL __attribute__((thiscall))
#else
#define TX_THISCALL
#endif

// Microsoft's constructors return `this` (EAX/RAX) and their callers may
// take the new object from there (`p = new CNb5TxAPI`); g++'s leave that
// register as it happens to be.
extern "C" CNb5TxAPI* TX_THISCALL CNb5TxAPI_ConstructReturningThis(CNb5TxAPI* self) {
  return new (self) CNb5TxAPI();
}
