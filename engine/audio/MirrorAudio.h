// The audio sender of one mirroring session: glues a loopback captor, an
// audio encoder and an open RAOP session together. The captor hands PCM
// chunks to OnAudioFrame on its own thread; each whole frame the encoder
// makes goes out as one RTP packet under the sender's lock, which the
// session's volume changes also take (they share the RTSP connection).
#pragma once

#include <cstdint>

#include "engine/audio/AudioCaptor.h"
#include "engine/audio/AudioChunk.h"
#include "engine/audio/AudioEncoder.h"
#include "engine/audio/AudioParam.h"
#include "engine/raop/RaopClient.h"
#include "foundation/thread/Threads.h"

// Makes the captor of each new audio sender. The default is the Core Audio
// loopback captor; a program without a sound device, or a test that plays
// its own PCM, installs another. Null restores the default. Set it before
// sessions start.
using AudioCaptorFactory = CAudioCaptor* (*)();
void SetAudioCaptorFactory(AudioCaptorFactory factory);

class CMirrorAudio : public IAudioSink {
 public:
  CMirrorAudio();
  // Deletes captor, encoder, param and lock. Stop first.
  virtual ~CMirrorAudio();
  CMirrorAudio(const CMirrorAudio&) = delete;
  CMirrorAudio& operator=(const CMirrorAudio&) = delete;

  // On the session thread, once: opens the RAOP session (host, raopPort),
  // then makes and initialises the captor and the encoder (AAC-ELD, 480
  // samples a frame; ALAC, 352, with useAlac). 0, or a negative code: the RAOP
  // start failed (no captor, no encoder exist), or the captor's or the
  // encoder's Init failed (they exist).
  int Init(const char* host, uint16_t raopPort, const char* deviceId, int useAlac,
           const char* password);
  // The captor's sink, on the capture thread: encodes the chunk and sends a
  // finished frame under the lock. Returns at once once the captor stops.
  void OnAudioFrame(AudioChunk* chunk) override;
  // Sets the receiver's volume (0..100) under the lock; without an RAOP
  // session nothing is sent. The RTSP result, or 0 without a session.
  int SetVolume(int volume);
  // On the session thread, after the captor's thread was stopped: closes the
  // codec and the capture device and ends the RAOP session (its timing thread
  // is waited for, bounded). 0. Captor, encoder, param and lock stay.
  int Stop();

  CAudioCaptor* Captor() const { return captor_; }
  CAudioEncoder* Encoder() const { return encoder_; }
  AudioParam* Param() const { return param_; }
  bool HasRaop();
  // Frames sent, and frames whose packet could not be prepared.
  long FramesSent() const { return framesSent_; }
  long FramesFailed() const { return framesFailed_; }

 private:
  CAudioCaptor* captor_ = nullptr;
  CAudioEncoder* encoder_ = nullptr;
  AudioParam* param_ = nullptr;
  raop_session* raop_ = nullptr;  // guarded by lock_
  CBaseMutex* lock_ = nullptr;
  volatile long framesSent_ = 0;
  volatile long framesFailed_ = 0;
};
