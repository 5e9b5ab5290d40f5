// Rate conversion of the captured 16-bit stereo PCM to the 44100 Hz that the
// RAOP announcement names, over libswresample. No platform headers.
#pragma once

#include <cstdint>

struct SwrContext;

struct AudioResampler {
  AudioResampler() = default;
  ~AudioResampler();
  AudioResampler(const AudioResampler&) = delete;
  AudioResampler& operator=(const AudioResampler&) = delete;

  // Prepares srcRate -> 44100 conversion with room for the output of frames
  // input frames. 0; -1 no context; -2 the library refused the settings;
  // -3 no memory for the output.
  int Init(int srcRate, int frames);
  // Converts frames 16-bit stereo frames. *out points at the converted PCM
  // (owned here, valid until the next call) of *outBytes bytes. 0; -1 no
  // memory for a larger output; -2 conversion error (or not initialised).
  int Convert(const uint8_t* in, int frames, uint8_t** out, int* outBytes);

  int srcRate = 0;
  int dstRate = 44100;
  int outChannels = 2;
  int lineSize = 0;
  int dstSamples = 0;           // destination samples asked for by Init
  int dstSamplesAllocated = 0;  // destination samples the buffer holds
  uint8_t** dstData = nullptr;  // as libavutil allocates it (one plane: interleaved)
  SwrContext* ctx = nullptr;
};
