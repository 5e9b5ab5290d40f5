// The capture interface and the threaded base of the audio captor.
#pragma once

#include "engine/audio/AudioChunk.h"
#include "engine/audio/AudioParam.h"
#include "foundation/thread/Threads.h"

class CCaptor {
 public:
  virtual ~CCaptor() = default;
  // All return 0 or a negative code. Called on the owner's (session) thread.
  virtual int Init(IAudioSink* sink, AudioParam* param) = 0;
  virtual int Uninit() = 0;
  virtual int Start() = 0;
  virtual int Stop() = 0;
};

class CAudioCaptor : public CCaptor, public CBaseThread {
 public:
  CAudioCaptor();
  ~CAudioCaptor() override;
  CAudioCaptor(const CAudioCaptor&) = delete;
  CAudioCaptor& operator=(const CAudioCaptor&) = delete;

  // Stores sink and parameters (neither owned); 0.
  int Init(IAudioSink* sink, AudioParam* param) override;
  // Closes the thread handle; 0. Call after Stop.
  int Uninit() override;
  // Starts the capture thread; -1 when it cannot be created.
  int Start() override;
  // Sets the stop flag and waits up to 5000 ms for the thread, then
  // terminates it (exit code -4); 0.
  int Stop() override;

  AudioChunk* Chunk() const { return chunk_; }

 protected:
  AudioChunk* chunk_;             // owned, reused for every piece
  AudioParam* param_ = nullptr;   // the sender's, shared with the encoder
  IAudioSink* sink_ = nullptr;    // the sender
};
