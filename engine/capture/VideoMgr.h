// The capture side of a mirroring session: a thread that grabs the mirrored
// monitor or rectangle at the session's frame rate through a captor,
// converts each picture to I420 into one shared frame buffer, and counts
// what the session's statistics show. It also owns the session's H.264
// encoder, which the session thread configures and calls.
//
// Threads: the capture thread writes the frame buffer under frameLock; the
// session thread encodes it under the same lock (EncodeNewest). The capture
// thread works on a VideoParam of its own and takes the owner's changes from
// the session's CVideoHandOver at the start of each pass. The counters are
// updated with interlocked operations and read and reset by the session's
// statistics timer.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/capture/CapVideo.h"
#include "engine/encode/EncVideoH264.h"
#include "engine/mirror/VideoHandOver.h"
#include "engine/mirror/VideoParam.h"
#include "foundation/thread/Threads.h"

class CVideoMgr : public CBaseThread {
 public:
  CVideoMgr();
  ~CVideoMgr() override;
  CVideoMgr(const CVideoMgr&) = delete;
  CVideoMgr& operator=(const CVideoMgr&) = delete;

  // Takes the hand-over's record as its own, creates the captor (DXGI when
  // asked for and the probe succeeds, else GDI) and the encoder, sets both up
  // and publishes the geometry the captor fixed; the thread is prepared, not
  // started. Returns the encoder's Config result (CEncVideoH264::kOk, ...);
  // captor failures are only logged. handOver outlives the manager.
  int Config(CVideoHandOver* handOver, int64_t sessionStart);
  int Run() override;
  // After the thread has ended: frees the encoder's handle and unloads the
  // encoder bridge.
  void Stop();

  // Session thread: encodes the newest converted picture under the frame
  // lock. kSizeChanged when the frame buffer no longer has the encoder's
  // size (the capture was set up again): nothing was read, the encoder must
  // be configured again.
  enum EncodeResult { kEncoded = 0, kNoOutput = 1, kNoFrame = 2, kSizeChanged = 3 };
  EncodeResult EncodeNewest(EncodedFrame* frame);

  CEncVideoH264* Encoder() { return encoder_.get(); }
  CCapVideo* Captor() { return captor_.get(); }
  bool UsesDxgi() const { return usesDxgi_; }

  // Statistics. The Take* calls return the count since the last call and reset it.
  long TakeCapturedThisSecond() { return InterlockedExchange(&capturedThisSecond_, 0); }
  long TakeEncodedThisSecond() { return InterlockedExchange(&encodedThisSecond_, 0); }
  long long CaptureTimeSum() const { return InterlockedCompareExchange64(
      const_cast<LONG64*>(&captureTime_), 0, 0); }
  long long ConvertTimeSum() const { return InterlockedCompareExchange64(
      const_cast<LONG64*>(&convertTime_), 0, 0); }
  // Totals, kept by the statistics timer.
  long long capturedTotal = 0;
  long long encodedTotal = 0;

  // Tests: pictures converted into the frame buffer since the thread started.
  long ConvertedCount() const { return converted_; }
  // Tests: a copy of the frame buffer and its size, under the lock.
  std::vector<uint8_t> CopyFrame(int* width, int* height);

 private:
  void ApplyCaptorReconfigure();
  void AllocateFrameBuffer(int width, int height);

  volatile LONG capturedThisSecond_ = 0;
  volatile LONG encodedThisSecond_ = 0;
  volatile LONG64 captureTime_ = 0;  // microseconds in the captor's Capture, summed
  volatile LONG64 convertTime_ = 0;  // microseconds converting to I420, summed
  volatile LONG converted_ = 0;
  std::unique_ptr<CCapVideo> captor_;
  std::unique_ptr<CEncVideoH264> encoder_;
  bool usesDxgi_ = false;
  CVideoHandOver* handOver_ = nullptr;
  VideoParam capture_;  // the capture thread's own record, handed to the captor
  CBaseMutex frameLock_;
  std::vector<uint8_t> frameBuffer_;  // I420, frameWidth_ x frameHeight_
  int frameWidth_ = 0;
  int frameHeight_ = 0;
  int64_t sessionStart_ = 0;
};
