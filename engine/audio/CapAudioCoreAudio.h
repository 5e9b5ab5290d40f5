// Loopback capture of what the PC plays on its default output device (Core
// Audio), brought to 16-bit stereo at 44100 Hz and handed to the sink in
// pieces of at most one codec frame, on a thread of the highest priority.
#pragma once

#include <windows.h>

#include <cstdint>

#include "classlib/ComPtr.h"
#include "engine/audio/AudioCaptor.h"
#include "engine/audio/AudioFilter.h"
#include "engine/audio/AudioResampler.h"

struct IAudioClient;
struct IAudioCaptureClient;

// Empty polls in a row after which the sink gets an empty chunk.
constexpr int kAudioEmptyPollLimit = 20;

class CCapAudioCoreAudio : public CAudioCaptor {
 public:
  CCapAudioCoreAudio();
  ~CCapAudioCoreAudio() override;

  // Opens the loopback stream and the silent render stream on the calling
  // thread. 0, or -1 (no device, a refused format, a resampler that cannot
  // be set up: the log says which).
  int Init(IAudioSink* sink, AudioParam* param) override;
  // Closes the thread handle, frees the stereo buffer and, on the thread that
  // called Init, closes the streams; 0. Call after Stop.
  int Uninit() override;
  // Starts the capture thread; -1 when Init did not open the stream.
  int Start() override;
  int Run() override;

  // The stream set-up and the per-packet steps of the capture thread. They
  // need no device, so the path from a captured packet to the sink can be
  // driven directly.
  // Settles the rate (resampling to 44100 when needed) and sizes the stereo
  // buffer for bufferFrames frames; 0, or -1 when the rate cannot be brought
  // to 44100 or there is no memory.
  int PrepareStream(int mixRate, uint32_t bufferFrames, int captureChannels);
  // Makes the filter for the capture format (the capture thread does it).
  void MakeFilter();
  // One captured packet: filtered (zeros when flagged silent), resampled,
  // cut into pieces of one codec frame for the sink. Returns whether a
  // non-empty piece reached the sink (which resets the empty-poll count).
  bool DeliverPacket(const uint8_t* data, uint32_t frames, bool silent);
  // One poll that found no packet: after more than kAudioEmptyPollLimit in a
  // row the sink gets an empty chunk. Returns whether it did.
  bool EmptyPoll();

  bool Resampling() const { return resampling_ != 0; }
  bool StreamOpen() const { return captureClient_ && captureService_; }
  int64_t BufferDuration() const { return bufferDuration_; }

 private:
  int InitCoreAudio();
  int OpenCaptureStream();
  void StartSilentRender();
  void CloseCaptureStream();
  void LeaveCom();
  bool CutIntoPieces(uint8_t* pcm, int bytes);

  cl::ComPtr<IAudioClient> captureClient_;
  cl::ComPtr<IAudioClient> renderClient_;
  cl::ComPtr<IAudioCaptureClient> captureService_;
  int64_t bufferDuration_ = 0;   // 100 ns units
  uint16_t channels_ = 0;        // of the capture format
  uint8_t* stereo_ = nullptr;    // filter output, stereoFrames_ frames
  uint32_t stereoFrames_ = 0;
  CAudioFilter* filter_ = nullptr;
  AudioResampler* resampler_ = nullptr;
  int resampling_ = 0;
  int emptyPolls_ = 0;
  // COM is entered once by Init on the owner's thread and left on that
  // thread only (leaving it on another thread would unbalance that thread).
  bool comEntered_ = false;
  DWORD comThread_ = 0;
};
