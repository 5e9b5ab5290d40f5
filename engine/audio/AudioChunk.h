// The captor's hand-over record and the interface of whoever takes it.
// No platform headers.
#pragma once

#include <cstdint>

// One piece of 16-bit little-endian interleaved PCM, at most one codec frame
// long, reused by the captor for every piece. The encoder fills outSize and
// outData when the piece completed a frame.
struct AudioChunk {
  uint32_t size = 0;           // bytes of PCM in data; 0 marks an empty chunk
  int32_t outSize = 0;         // bytes of the encoded frame (set by the encoder)
  uint32_t timestamp = 0;      // timeGetTime milliseconds when the chunk was cut
  uint8_t* data = nullptr;     // not owned
  uint8_t* outData = nullptr;  // not owned; valid until the encoder's next call
};

// The captor's sink: called on the capture thread for every non-empty piece
// in order, and with an empty chunk after a long silence (the encoder then
// drops any partial frame). The chunk and its data belong to the captor and
// are valid only during the call. The audio sender implements it: it encodes
// the chunk and sends the frame under its own lock.
class IAudioSink {
 public:
  virtual void OnAudioFrame(AudioChunk* chunk) = 0;

 protected:
  ~IAudioSink() = default;
};
