#include "engine/audio/MirrorAudio.h"

#include <atomic>

#include "engine/audio/CapAudioCoreAudio.h"
#include "engine/audio/EncAudioAAC.h"
#include "engine/audio/EncAudioALAC.h"
#include "foundation/log/Logger.h"

namespace {

CAudioCaptor* MakeCoreAudioCaptor() { return new CCapAudioCoreAudio(); }

std::atomic<AudioCaptorFactory> g_captorFactory{nullptr};

}  // namespace

void SetAudioCaptorFactory(AudioCaptorFactory factory) { g_captorFactory.store(factory); }

CMirrorAudio::CMirrorAudio() : param_(new AudioParam()), lock_(new CBaseMutex()) {}

CMirrorAudio::~CMirrorAudio() {
  delete captor_;
  delete encoder_;
  delete param_;
  // A session never stopped still holds its RAOP client; end it rather than leak it.
  if (raop_) raopcl_end_session(raop_);
  delete lock_;
}

bool CMirrorAudio::HasRaop() {
  ScopedLock<CBaseMutex> guard(*lock_);
  return raop_ != nullptr;
}

int CMirrorAudio::Init(const char* host, uint16_t raopPort, const char* deviceId, int useAlac,
                       const char* password) {
  delete captor_;
  captor_ = nullptr;
  delete encoder_;
  encoder_ = nullptr;
  raop_session* raop = nullptr;
  {
    ScopedLock<CBaseMutex> guard(*lock_);
    if (raop_) raopcl_end_session(raop_);
    raop_ = nullptr;
  }
  const int rc = raopcl_start_session(host, raopPort, deviceId, &raop, useAlac, password);
  if (rc < 0) {
    ZtLogger::Instance().Error("[Audio]Init raop failed");
    return rc;
  }
  {
    ScopedLock<CBaseMutex> guard(*lock_);
    raop_ = raop;
  }
  AudioCaptorFactory factory = g_captorFactory.load();
  captor_ = factory ? factory() : MakeCoreAudioCaptor();
  if (useAlac) {
    encoder_ = new CEncAudioALAC();
    param_->FrameSize = kAlacFrameSize;
  } else {
    encoder_ = new CEncAudioAAC();
    param_->FrameSize = kAacEldFrameSize;
  }
  // The captor settles the sample rate (44100 after resampling) before the
  // encoder opens its codec with it.
  int r = captor_->Init(this, param_);
  if (r < 0) {
    ZtLogger::Instance().Error("[Audio]Init audio captor failed");
    return r;
  }
  r = encoder_->Init(param_);
  if (r < 0) ZtLogger::Instance().Error("[Audio]Init audio encoder failed");
  return r;
}

void CMirrorAudio::OnAudioFrame(AudioChunk* chunk) {
  if (!chunk || !encoder_) return;
  if (captor_ && captor_->StopRequested()) return;
  const int size = encoder_->Encode(chunk);
  if (size <= 0) return;
  ScopedLock<CBaseMutex> guard(*lock_);
  if (!raop_) return;
  if (raopcl_send_frame(raop_, chunk->outData, chunk->outSize) == 0) {
    ++framesSent_;
  } else {
    ++framesFailed_;
  }
}

int CMirrorAudio::SetVolume(int volume) {
  ScopedLock<CBaseMutex> guard(*lock_);
  if (!raop_) return 0;
  return raopcl_update_volume(raop_->client, volume);
}

int CMirrorAudio::Stop() {
  if (encoder_) encoder_->Uninit();
  if (captor_) captor_->Uninit();
  ScopedLock<CBaseMutex> guard(*lock_);
  if (raop_) {
    // Ends the timing thread (bounded wait), closes the RTSP connection
    // without a TEARDOWN and the UDP sockets, and frees the records.
    raopcl_end_session(raop_);
    raop_ = nullptr;
  }
  return 0;
}
