// The audio parameter block shared by the captor and the encoder of one audio
// sender. The captor settles SampleRate (the device mix rate, then 44100 when
// it resamples) before the encoder opens its codec with it. No platform headers.
#pragma once

#include <cstdint>

struct AudioParam {
  int32_t SampleRate = 48000;   // Hz of the PCM that reaches the encoder
  int32_t BitsPerSample = 16;
  int32_t Channels = 2;         // channels of the PCM that reaches the encoder
  int32_t BlockAlign = 4;       // bytes per sample frame, all channels
  int32_t FrameSize = 352;      // sample frames per encoded frame: 480 AAC-ELD, 352 ALAC
  int32_t IntegerSamples = 1;   // 1 integer samples, 0 32-bit floats
};

// Sample frames per codec frame of the two codecs the sender can use.
constexpr int32_t kAacEldFrameSize = 480;
constexpr int32_t kAlacFrameSize = 352;
// The rate the RAOP announcement names; the captor resamples to it.
constexpr int32_t kAudioSendRate = 44100;
