// A captor that plays a known tone instead of the sound card: it behaves
// like a 44100 Hz stereo device and, once started, captures 441 frames
// (10 ms) at a time at the pace of the sound, on its own thread, and hands
// them to its sink cut into pieces of at most one codec frame, as the
// loopback captor does. Used through SetAudioCaptorFactory.
#pragma once

#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/audio/AudioCaptor.h"

class CFedCaptor : public CAudioCaptor {
 public:
  static constexpr int kRate = 44100;
  static constexpr int kChunkFrames = 441;

  // The tone every new captor plays: frequency in Hz and peak amplitude
  // (full scale 32768), the same on both channels.
  static double& Frequency() {
    static double f = 1000.0;
    return f;
  }
  static double& Amplitude() {
    static double a = 16384.0;
    return a;
  }
  // The captors made so far (the latest last); tests read their counters.
  static std::atomic<CFedCaptor*>& Latest() {
    static std::atomic<CFedCaptor*> c{nullptr};
    return c;
  }
  static CAudioCaptor* Make() {
    CFedCaptor* c = new CFedCaptor();
    Latest().store(c);
    return c;
  }
  ~CFedCaptor() override {
    CFedCaptor* self = this;
    Latest().compare_exchange_strong(self, nullptr);
  }

  int Init(IAudioSink* sink, AudioParam* param) override {
    CAudioCaptor::Init(sink, param);
    param->SampleRate = kRate;
    return 0;
  }

  // Fills chunk data with the next n frames of the tone (16-bit stereo).
  void NextPiece(std::vector<int16_t>& pcm, int n) {
    pcm.resize(static_cast<size_t>(n) * 2);
    for (int i = 0; i < n; ++i) {
      const double v = Amplitude() * std::sin(2 * 3.14159265358979323846 * Frequency() *
                                              double(position_ + i) / kRate);
      pcm[2 * i] = pcm[2 * i + 1] = static_cast<int16_t>(std::lround(v));
    }
    position_ += n;
  }

  // Captures n frames of the tone and hands them to sink in pieces of at
  // most FrameSize frames.
  void Deliver(IAudioSink* sink, int n) {
    NextPiece(pcm_, n);
    const int piece = param_ && param_->FrameSize > 0 ? param_->FrameSize : n;
    for (int at = 0; at < n; at += piece) {
      const int frames = n - at < piece ? n - at : piece;
      chunk_->data = reinterpret_cast<uint8_t*>(pcm_.data() + 2 * at);
      chunk_->size = static_cast<uint32_t>(frames * 4);
      chunk_->timestamp = GetTickCount();
      sink->OnAudioFrame(chunk_);
    }
  }

  int Run() override {
    const DWORD start = GetTickCount();
    while (!StopRequested()) {
      // Paced by the clock: as many chunks as 10 ms periods have passed.
      const long due = static_cast<long>((GetTickCount() - start) / 10) + 1;
      if (chunks_ >= due) {
        Sleep(2);
        continue;
      }
      Deliver(sink_, kChunkFrames);
      ++chunks_;
    }
    return 0;
  }

  long Chunks() const { return chunks_; }
  int64_t Position() const { return position_; }

 private:
  std::vector<int16_t> pcm_;
  std::atomic<long> chunks_{0};
  int64_t position_ = 0;
};
