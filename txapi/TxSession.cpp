#include "txapi/TxSession.h"

#include <windows.h>

#include <algorithm>
#include <new>

#include "backend/BEOPMgr.h"
#include "classlib/Str.h"
#include "engine/discovery/LookupToken.h"
#include "engine/discovery/ReceiverProbe.h"
#include "engine/display/ExtendDisplay.h"
#include "foundation/log/Logger.h"
#include "foundation/net/SocketStream.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/sys/SysUtil.h"

namespace {

using ProbeGuard = ScopedLock<critical_section_lock>;

// One round of probes (side by side) is bounded by one probe's connect and
// answer.
constexpr DWORD kProbeRoundMs = kProbeConnectTimeoutMs + kProbeReceiveTimeoutMs;

bool ProbeThreadRuns() {
  ProbeGuard g(ProbeStateLock());
  return g_hProbeThread != INVALID_HANDLE_VALUE;
}

// Ends the probes of an earlier lookup; the thread has ended on return.
void EndProbes() {
  if (!StopProbes(kProbeRoundMs + 1000))
    ZtLogger::Instance().Warn("[Network] earlier probe still running");
}

}  // namespace

void ResetProbeRound() {
  EndProbes();
  ProbeGuard g(ProbeStateLock());
  g_vecProbeReachable.clear();
  g_strLookupCode.clear();
  g_strLookupName.clear();
  g_strLookupAddress.clear();
  g_strLookupPort.clear();
}

bool ChooseProbedReceiver(std::string* address, uint16_t* audioPort) {
  size_t queued;
  {
    ProbeGuard g(ProbeStateLock());
    queued = g_vecProbeQueue.size();
  }
  // The probes of this lookup, begun or still queued: a token names at most
  // one round's worth, so this is one probe's bounds (about 6 s) however
  // many interfaces it names.
  const DWORD rounds =
      std::max<DWORD>(1, static_cast<DWORD>((queued + kProbesAtOnce - 1) / kProbesAtOnce));
  const DWORD bound = rounds * kProbeRoundMs + 1000;
  const DWORD start = GetTickCount();
  while (ProbeReachableCount() == 0 && ProbeThreadRuns() && GetTickCount() - start < bound)
    Sleep(20);
  // Outcomes are reported in token order, so the first that answered is
  // the first reachable interface of the token.
  ProbeEntry chosen;
  if (!GetProbeReachable(0, chosen)) chosen = GetLastLookupEntry();
  *address = chosen.Address;
  *audioPort = LookupPortNumber(chosen.Port);
  return !chosen.Address.empty();
}

CTxSession::CTxSession(IDisplayPlatform* displayPlatform) : displayPlatform_(displayPlatform) {
  // The library sends no adapter address: its mirroring sessions carry an
  // empty device identifier.
  socket_stream::SetAdapterLookup(false);
  params_.password.clear();
  params_.area = RECT{0, 0, 0, 0};
}

CTxSession::~CTxSession() { ReleaseAll(); }

int CTxSession::InitSettings() {
  CFrameUtility::CheckConfigAtStartup();
  StartBEOPMgr();
  params_.owner = nullptr;
  params_.port = MIRROR_PORT;
  params_.fps = static_cast<uint16_t>(CFrameUtility::GetTxFps());
  params_.quality = static_cast<uint16_t>(CFrameUtility::GetTxQuality());
  params_.volume = static_cast<int16_t>(CFrameUtility::GetTxVolume());
  params_.scaleMode = CFrameUtility::GetTxScale();
  params_.showCursor = CFrameUtility::GetTxCursor();
  params_.useDxgi = CFrameUtility::GetTxDDI(GetOSVersionCodeEx() == OSVER_WIN8 ? 1 : 0);
  params_.displayIndex = -1;
  params_.password.clear();
  return 1;
}

int CTxSession::Start(const Nb5TxInitParameters& params) {
  NoteSessionEnd();
  if (!params.ConnectionId) {
    lastError_ = TXAPI_ERR_NO_CONNECTION_ID;
    return 0;
  }
  connectionId_ = cl::MultiByteToWide(params.ConnectionId, CP_THREAD_ACP);
  if (params.Password) password_ = cl::MultiByteToWide(params.Password, CP_THREAD_ACP);
  params_.password = cl::WideToUtf8(password_);

  ResetProbeRound();
  const int result = PostConnectionIdLookup(connectionId_);
  lastError_ = static_cast<uint32_t>(result);
  if (result != 0) return 0;
  // The host learns from the result whether mirroring started, not only
  // whether the lookup did.
  return StartMirror() != 0 ? 1 : 0;
}

int CTxSession::StartMirror() {
  std::string address;
  uint16_t audioPort = 0;
  const bool found = ChooseProbedReceiver(&address, &audioPort);
  StopMirror();
  if (mirror_) {
    ZtLogger::Instance().Info("[UI] old session still quitting, drop this time");
    lastError_ = TXAPI_ERR_OLD_SESSION_QUITTING;
    return 0;
  }
  receiverAddress_ = address;
  receiverAudioPort_ = audioPort;
  if (!found) {
    ZtLogger::Instance().Error("[UI] the receiver's token names no interface");
    lastError_ = TXAPI_ERR_MIRROR_FAILED;
    return 0;
  }
  Sleep(kTxSessionPauseMs);
  mirror_ = new (std::nothrow) CMirror(&params_);
  const bool started = mirror_ && mirror_->Start(address.c_str(), audioPort);
  // A session that failed to start stays until the next stop removes it.
  mirrorRunning_ = started;
  lastError_ = started ? 0u : static_cast<uint32_t>(TXAPI_ERR_MIRROR_FAILED);
  return started ? 1 : 0;
}

void CTxSession::StopMirror() {
  if (mirror_) {
    mirrorRunning_ = false;
    MirrorStatus last;
    // A session whose thread does not end in time stays, stopping: it is
    // never freed under its thread.
    if (CMirror::StopAndRelease(mirror_, kMirrorReleaseWaitMs, &last))
      lastError_ = static_cast<uint32_t>(last.lastError);
  }
  RemoveExtendedDisplay();
}

int CTxSession::ExtendDisplay() {
  NoteSessionEnd();
  if (!mirror_) {
    lastError_ = TXAPI_ERR_NO_SESSION;
    return 0;
  }
  if (!extendDisplay_) extendDisplay_ = new (std::nothrow) CExtendDisplay(displayPlatform_);
  if (extendDisplay_ && extendDisplay_->Enable()) {
    const int index = extendDisplay_->GetMonitorIndex();
    params_.displayIndex = index;
    if (mirror_->SelectMonitor(static_cast<unsigned>(index))) return 1;
  }
  lastError_ = TXAPI_ERR_EXTEND_DISPLAY;
  return 0;
}

int CTxSession::SwitchDisplay(int index) {
  NoteSessionEnd();
  params_.displayIndex = index;
  if (!mirror_) {
    lastError_ = TXAPI_ERR_NO_SESSION;
    return 0;
  }
  const int result = mirror_->SelectMonitor(static_cast<unsigned>(index)) ? 1 : 0;
  if (!result) {
    // The capture stays where it was, so an extended display it shows stays too.
    lastError_ = TXAPI_ERR_SWITCH_DISPLAY;
    return 0;
  }
  if (extendDisplay_) {
    // The capture moves at its next pass: give it that before the display goes.
    Sleep(kTxSessionPauseMs);
    RemoveExtendedDisplay();
  }
  return result;
}

void CTxSession::ReleaseAll() {
  if (mirror_) {
    mirrorRunning_ = false;
    if (!CMirror::StopAndRelease(mirror_, kMirrorReleaseWaitMs)) {
      // Its destructor waits for the thread (bounded) before anything goes.
      delete mirror_;
      mirror_ = nullptr;
    }
  }
  RemoveExtendedDisplay();
  StopBEOPMgr();
  // No thread of the library runs on once the host has freed it (it may
  // unload the DLL next).
  EndProbes();
}

// Taken in when the host next looks or acts, so a code set afterwards by a
// command is never overwritten by the earlier end.
void CTxSession::NoteSessionEnd() {
  if (!mirror_ || !mirrorRunning_) return;
  const MirrorStatus s = mirror_->Status();
  if (s.state != MirrorState::kEnded && s.state != MirrorState::kFailed) return;
  mirrorRunning_ = false;
  lastError_ = static_cast<uint32_t>(s.lastError);
}

int CTxSession::IsStopped() {
  if (!mirror_) return 1;
  if (mirror_->StopRequested()) return 1;
  NoteSessionEnd();
  return mirrorRunning_ ? 0 : 1;
}

uint32_t CTxSession::LastError() {
  NoteSessionEnd();
  return lastError_;
}

void CTxSession::RemoveExtendedDisplay() {
  if (!extendDisplay_) return;
  extendDisplay_->Disable();
  delete extendDisplay_;
  extendDisplay_ = nullptr;
}
