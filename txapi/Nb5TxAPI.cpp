#include "txapi/Nb5TxAPI.h"

#include <windows.h>

#include <cstring>
#include <new>
#include <set>

#include "foundation/thread/Threads.h"
#include "txapi/TxSession.h"

namespace {

// Sessions between their Init and their Free. Objects that share a session
// through operator= check here before every use, so a session freed
// through one of them is gone for all.
critical_section_lock& LiveLock() {
  static critical_section_lock lock;
  return lock;
}

std::set<CTxSession*>& LiveSessions() {
  static std::set<CTxSession*>* sessions = new std::set<CTxSession*>();
  return *sessions;
}

bool IsLive(CTxSession* session) {
  if (!session) return false;
  ScopedLock<critical_section_lock> g(LiveLock());
  return LiveSessions().count(session) != 0;
}

CTxSession* NewSession() {
  void* storage = ::operator new(sizeof(CTxSession), std::nothrow);
  if (!storage) return nullptr;
  CTxSession* session = new (storage) CTxSession();
  ScopedLock<critical_section_lock> g(LiveLock());
  LiveSessions().insert(session);
  return session;
}

// Ends a live session (mirroring, extended display, backend manager). Its
// storage is kept, never handed back to the heap: another object may still
// hold the pointer, and a new session at the same address would otherwise
// be taken for the one it shared.
void FreeSession(CTxSession* session) {
  {
    ScopedLock<critical_section_lock> g(LiveLock());
    if (LiveSessions().erase(session) == 0) return;
  }
  session->~CTxSession();
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
  if (session_ && !IsLive(session_)) session_ = nullptr;
  return session_;
}

int CNb5TxAPI::Init() {
  // A second Init ends the first session as Free would, rather than leave
  // its mirroring running with nothing left to stop it.
  if (CTxSession* earlier = Session()) FreeSession(earlier);
  session_ = NewSession();
  if (!session_) return 0;
  const int result = session_->InitSettings();
  if (result == 0) {
    FreeSession(session_);
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
  if (CTxSession* s = Session()) FreeSession(s);
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
