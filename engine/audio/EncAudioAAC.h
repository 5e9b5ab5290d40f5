// AAC-ELD encoder over fdk-aac: 480-sample frames, raw access units (no
// transport header), the framing the RAOP announcement names.
#pragma once

#include <cstdint>

#include "engine/audio/AudioEncoder.h"

struct AACENCODER;

// The codec state: made once when the codec opens, no allocation per frame.
struct AacEldState {
  uint8_t out[20480];        // the last encoded frame
  int frameLength = 0;       // sample frames per encoded frame, as the library says
  AACENCODER* handle = nullptr;
};

// Opens an AAC-ELD encoder for 1 to 6 channels of 16-bit PCM. 0, or a
// negative code with a message on stderr (-1 channels, -2 open, -3 object
// type, -5 rate, -6 channel mode, -7 channel order, -8 bit rate mode,
// -10 transport, -11 afterburner, -14 initialisation, -15 info).
int AacEldEncoderOpen(int sampleRate, int channels, AacEldState** out);
// Encodes *ioBytes bytes of PCM; returns the frame (valid until the next
// call) with *ioBytes = its size, which is 0 while the library fills its
// delay line; null on failure.
uint8_t* AacEldEncoderEncode(AacEldState* state, const uint8_t* pcm, int* ioBytes);
void AacEldEncoderClose(AacEldState* state);
// The AudioSpecificConfig the open encoder announces (up to 64 bytes); its size.
int AacEldEncoderConfig(AacEldState* state, uint8_t* buf, int bufSize);

// The constant bit rate used when the library refuses the fixed-frame bit
// rate mode, per channel (see AacEldEncoderOpen).
constexpr int kAacEldFallbackBitratePerChannel = 64000;

class CEncAudioAAC final : public CAudioEncoder {
 public:
  ~CEncAudioAAC() override;
  AacEldState* State() const { return static_cast<AacEldState*>(codec_); }

 protected:
  int OpenCodec() override;
  void CloseCodec() override;
  uint8_t* EncodeFrame(const uint8_t* pcm, int* ioBytes) override;
};
