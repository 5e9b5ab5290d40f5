// Audio encoders: gather the captor's PCM chunks into whole codec frames of
// FrameSize sample frames and hand each one to a codec (AAC-ELD or ALAC).
// No platform headers.
#pragma once

#include <cstdint>

#include "engine/audio/AudioChunk.h"
#include "engine/audio/AudioParam.h"

class CEncoder {
 public:
  virtual ~CEncoder() = default;
  virtual int Init(AudioParam* param) = 0;
  virtual int Uninit() = 0;
  virtual int Encode(AudioChunk* chunk) = 0;
};

// The accumulation buffer: room for two frames so a chunk of up to one frame
// always fits beside a partial frame.
struct CAudioBuffer {
  int capacity = 0;             // bytes of one frame
  int used = 0;                 // bytes held
  uint8_t* data = nullptr;      // 2 x capacity bytes, owned
  uint32_t firstTimestamp = 0;  // timestamp of the frame being gathered; 0 none
};

class CAudioEncoder : public CEncoder {
 public:
  CAudioEncoder();
  ~CAudioEncoder() override;
  CAudioEncoder(const CAudioEncoder&) = delete;
  CAudioEncoder& operator=(const CAudioEncoder&) = delete;

  // Stores param (not owned), sizes the buffer for one frame of FrameSize x
  // BlockAlign bytes and opens the codec. 0, or a negative code (-1 for a
  // frame size the buffer cannot hold, else the codec's).
  int Init(AudioParam* param) override;
  // Closes the codec; 0.
  int Uninit() override;
  // Appends the chunk (at most one frame of PCM: the buffer holds two, so a
  // larger one may be refused); when a whole frame is held, encodes it and
  // returns the encoded size (chunk->outData/outSize: valid until the next
  // call). 0 when no frame is ready, the codec gave nothing, or it failed. An
  // empty chunk drops the partial frame. Called on the capture thread only.
  int Encode(AudioChunk* chunk) override;

  int FrameBytes() const { return frameBytes_; }
  int BufferedBytes() const { return buffer_ ? buffer_->used : 0; }
  uint32_t FirstTimestamp() const { return buffer_ ? buffer_->firstTimestamp : 0; }
  bool CodecOpen() const { return codec_ != nullptr; }

 protected:
  // Opens the codec for m_pAudioParam and sets codec_; 0 or negative.
  virtual int OpenCodec() = 0;
  // Frees what OpenCodec made; codec_ is cleared by the caller.
  virtual void CloseCodec() = 0;
  // Encodes one frame of *ioBytes PCM bytes; returns the encoded frame with
  // *ioBytes set to its size, or null on failure.
  virtual uint8_t* EncodeFrame(const uint8_t* pcm, int* ioBytes) = 0;

  AudioParam* m_pAudioParam = nullptr;
  void* codec_ = nullptr;
  CAudioBuffer* buffer_ = nullptr;
  int frameBytes_ = 0;
};
