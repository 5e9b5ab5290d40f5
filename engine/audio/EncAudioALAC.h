// Apple Lossless encoder: 352-sample frames over the program's own ALAC
// encoder. No platform headers.
#pragma once

#include <cstdint>

#include "engine/audio/ALACEncoder.h"
#include "engine/audio/AudioEncoder.h"

// The codec state: made once when the codec opens.
struct AlacCodecState {
  AlacStreamDescription* input = nullptr;
  AlacStreamDescription* output = nullptr;
  ALACEncoder* encoder = nullptr;
  int inputFrameBytes = 0;   // bytes of one full frame of PCM
  int outputBufferSize = 0;  // bytes at outputBuffer: room for any frame the encoder writes
  uint8_t* outputBuffer = nullptr;
};

// 0, or -1 for a bit depth other than 16, 20, 24, 32, a channel count the
// encoder cannot take, or no memory.
int AlacCodecOpen(int sampleRate, int channels, int bitsPerSample, AlacCodecState** out);
// Encodes *ioBytes bytes of PCM; returns the frame (valid until the next
// call) with *ioBytes = its size, or null.
uint8_t* AlacCodecEncode(AlacCodecState* state, const uint8_t* pcm, int* ioBytes);
void AlacCodecClose(AlacCodecState* state);

class CEncAudioALAC final : public CAudioEncoder {
 public:
  ~CEncAudioALAC() override;
  AlacCodecState* State() const { return static_cast<AlacCodecState*>(codec_); }

 protected:
  int OpenCodec() override;
  void CloseCodec() override;
  uint8_t* EncodeFrame(const uint8_t* pcm, int* ioBytes) override;
};
