// The transmitter session behind the exported API: one per Init. It checks
// config.ini and starts the backend manager, reads the tuning values,
// resolves the host's connection ID through the backend lookup (run on the
// host's thread, see backend/BEOPLibraryBuild.cpp), starts and stops the
// mirroring session, adds or switches the mirrored display, and keeps the
// last-error code the host reads.
//
// Runs on the host's thread; the host calls one function at a time. Every
// wait is bounded: the lookup by the HTTP client's time-outs, the probes by
// theirs, a mirroring session's stop by CMirror::StopAndRelease.
#pragma once

#include <cstdint>
#include <string>

#include "engine/display/DisplayPlatform.h"
#include "engine/mirror/Mirror.h"
#include "txapi/Nb5TxAPI.h"

class CExtendDisplay;

// The pause between stopping a session and starting the next, and before
// removing an extended display once the capture has left it.
constexpr DWORD kTxSessionPauseMs = 1000;

class CTxSession {
 public:
  // The extended display goes through displayPlatform (tests give a stand-in).
  explicit CTxSession(IDisplayPlatform* displayPlatform = &DefaultDisplayPlatform());
  ~CTxSession();
  CTxSession(const CTxSession&) = delete;
  CTxSession& operator=(const CTxSession&) = delete;

  // config.ini check, backend manager (which sends the device registration),
  // tuning values. Always 1.
  int InitSettings();
  // Lookup of the connection ID, then StartMirror. 1 when mirroring started;
  // 0 otherwise, with the reason in the last error.
  int Start(const Nb5TxInitParameters& params);
  // Stops a running session, pauses, starts a new one to the receiver this
  // lookup found. Non-zero when the session's thread started.
  int StartMirror();
  void StopMirror();
  int ExtendDisplay();
  int SwitchDisplay(int index);
  // Mirroring session, extended display, backend manager.
  void ReleaseAll();

  // 1 without a mirroring session, when its stop was asked for, or when it
  // ended by itself (receiver gone, connection failed); 0 while it runs.
  int IsStopped();
  // The last error, after taking in the end of a session that ended by
  // itself (as StopMirror would).
  uint32_t LastError();

  // For the API object and tests.
  const MirrorParam& Params() const { return params_; }
  const std::wstring& ConnectionId() const { return connectionId_; }
  const std::wstring& Password() const { return password_; }
  CMirror* Mirror() const { return mirror_; }
  CExtendDisplay* ExtendedDisplay() const { return extendDisplay_; }
  // The receiver the last StartMirror chose: address and audio port.
  const std::string& ReceiverAddress() const { return receiverAddress_; }
  uint16_t ReceiverAudioPort() const { return receiverAudioPort_; }

 private:
  void NoteSessionEnd();
  void RemoveExtendedDisplay();

  std::wstring connectionId_;
  std::wstring password_;
  uint32_t lastError_ = 0;
  CMirror* mirror_ = nullptr;
  MirrorParam params_;
  CExtendDisplay* extendDisplay_ = nullptr;

  IDisplayPlatform* displayPlatform_;
  // A started session whose end has not been taken into the last error.
  bool mirrorRunning_ = false;
  std::string receiverAddress_;
  uint16_t receiverAudioPort_ = 0;
};

// Before a lookup: forgets the probe results and lookup strings of earlier
// lookups (waiting, bounded, for a probe thread that still runs), so what
// the decoder and the probe leave afterwards belongs to this lookup.
void ResetProbeRound();
// After a lookup that decoded a token: waits until an interface answered
// the probe or every probe ended (bounded by their time-outs) and chooses
// the first interface that answered, else the token's last interface.
// False when the token named none.
bool ChooseProbedReceiver(std::string* address, uint16_t* audioPort);
