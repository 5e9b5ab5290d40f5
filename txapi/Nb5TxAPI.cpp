#include "txapi/Nb5TxAPI.h"

#include <windows.h>

#include <cstring>
#include <new>
#include <map>

#include "foundation/thread/Threads.h"
#include "txapi/TxSession.h"

namespace {

// Sessions between their Init and their Free, by key. An object holds its
// session's key, not its address (the member is only ever compared, never
// dereferenced): keys are never given twice, so an object that shares a
// session through operator= finds it gone once it was freed through
// another, even when a new session now sits at the same address, and a
// freed session's storage goes back to the heap.
critical_section_lock& LiveLock() {
  static critical_section_lock lock;
  return lock;
}

std::map<uintptr_t, CTxSession*>& LiveSessions() {
  static std::map<uintptr_t, CTxSession*>* sessions = new std::map<uintptr_t, CTxSession*>();
  return *sessions;
}

uintptr_t g_lastKey = 0;  // under LiveLock

uintptr_t KeyOf(CTxSession* member) { return reinterpret_cast<uintptr_t>(member); }
CTxSession* MemberOf(uintptr_t key) { return reinterpret_cast<CTxSession*>(key); }

CTxSession* Find(uintptr_t key) {
  if (key == 0) return nullptr;
  ScopedLock<critical_section_lock> g(LiveLock());
  const auto it = LiveSessions().find(key);
  return it == LiveSessions().end() ? nullptr : it->second;
}

// A new session and its key; 0 when out of memory.
uintptr_t NewSession() {
  CTxSession* session = new (std::nothrow) CTxSession();
  if (!session) return 0;
  ScopedLock<critical_section_lock> g(LiveLock());
  const uintptr_t key = ++g_lastKey;
  LiveSessions()[key] = session;
  return key;
}

// Ends a live session (mirroring, extended display, backend manager) and
// frees it; a key already freed does nothing.
void FreeSession(uintptr_t key) {
  CTxSession* session = nullptr;
  {
    ScopedLock<critical_section_lock> g(LiveLock());
    const auto it = LiveSessions().find(key);
    if (it == LiveSessions().end()) return;
    session = it->second;
    LiveSessions().erase(it);
  }
  delete session;
}

// The object of the C functions: made by the first Nb5TxInit, kept for the
// life of the process.
CNb5TxAPI* g_api = nullptr;

}  // namespace

CNb5TxAPI::CNb5TxAPI() : session_(nullptr) {}

CNb5TxAPI& CNb5TxAPI::operator=(const CNb5TxAPI& other) {
  session_ = other.session_;
  return *this;
}

void CNb5TxAPI::__autoclassinit2(size_t size) {
  memset(static_cast<void*>(this), 0, static_cast<uint32_t>(size));
}

CTxSession* CNb5TxAPI::Session() {
  CTxSession* session = Find(KeyOf(session_));
  if (!session) session_ = nullptr;
  return session;
}

int CNb5TxAPI::Init() {
  // A second Init ends the first session as Free would, rather than leave
  // its mirroring running with nothing left to stop it.
  if (Session()) FreeSession(KeyOf(session_));
  const uintptr_t key = NewSession();
  session_ = MemberOf(key);
  CTxSession* session = Find(key);
  if (!session) return 0;
  const int result = session->InitSettings();
  if (result == 0) {
    FreeSession(key);
    session_ = nullptr;
  }
  return result;
}

int CNb5TxAPI::Start(Nb5TxInitParameters params) {
  CTxSession* s = Session();
  return s ? s->Start(params) : 0;
}

int CNb5TxAPI::Stop() {
  CTxSession* s = Session();
  if (!s) return 0;
  s->StopMirror();
  return 1;
}

int CNb5TxAPI::Free() {
  if (Session()) FreeSession(KeyOf(session_));
  session_ = nullptr;
  return 1;
}

unsigned long CNb5TxAPI::GetLastError() {
  CTxSession* s = Session();
  return s ? s->LastError() : TXAPI_ERR_NOT_INITIALIZED;
}

int CNb5TxAPI::IsStopped() {
  CTxSession* s = Session();
  return s ? s->IsStopped() : 0;
}

long CNb5TxAPI::SendCommand(unsigned int command, long argument) {
  CTxSession* s = Session();
  if (!s) return 0;
  switch (command) {
    case TXAPI_CMD_EXTEND_DISPLAY: return s->ExtendDisplay();
    case TXAPI_CMD_SWITCH_DISPLAY: return s->SwitchDisplay(static_cast<int>(argument));
    default: return 0;
  }
}

extern "C" {

int Nb5TxInit(void) {
  if (!g_api) g_api = new (std::nothrow) CNb5TxAPI();
  if (!g_api) return 0;
  return g_api->Init() != 0 ? 1 : 0;
}

int Nb5TxStart(Nb5TxInitParameters params) {
  if (!g_api) return 0;
  return g_api->Start(params) != 0 ? 1 : 0;
}

int Nb5TxStop(void) { return g_api ? g_api->Stop() : 0; }

int Nb5TxFree(void) { return g_api ? g_api->Free() : 0; }

int Nb5TxIsStopped(void) {
  if (!g_api) return 1;
  return g_api->IsStopped() != 0 ? 1 : 0;
}

uint32_t Nb5TxGetLastError(void) {
  return g_api ? static_cast<uint32_t>(g_api->GetLastError()) : TXAPI_ERR_NOT_INITIALIZED;
}

int Nb5TxSendCommand(int command, int argument) {
  if (!g_api) return 0;
  return static_cast<int>(g_api->SendCommand(static_cast<unsigned>(command), argument));
}

}  // extern "C"
