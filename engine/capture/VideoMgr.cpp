#include "engine/capture/VideoMgr.h"

#include <cstring>
#include <new>

#include "engine/capture/ColorConvert.h"
#include "engine/mirror/SessionClock.h"
#include "foundation/log/Logger.h"

CVideoMgr::CVideoMgr() = default;

CVideoMgr::~CVideoMgr() {
  captor_.reset();
  encoder_.reset();
}

int CVideoMgr::Config(CVideoHandOver* handOver, int64_t sessionStart) {
  sessionStart_ = sessionStart;
  handOver_ = handOver;
  if (!handOver) {
    ZtLogger::Instance().Error("[Video]config captor failed with NULL input param");
    return CEncVideoH264::kNoEncoder;
  }
  // A change the owner made before this point stays pending in the hand-over
  // and is taken at the first pass.
  capture_ = handOver->Snapshot();
  usesDxgi_ = capture_.useDxgi && ProbeDxgiCapture();
  if (usesDxgi_) captor_.reset(new CCapVideoDxgi());
  else captor_.reset(new CCapVideoGDI());
  int r = captor_->Config(&capture_);
  if (r < 0) ZtLogger::Instance().Error("[Video]config captor failed with err = %d", r);
  handOver->PublishGeometry(capture_);

  encoder_.reset(new CEncVideoH264());
  const int e = encoder_->Config(&capture_, sessionStart);
  if (e < 0) ZtLogger::Instance().Error("[Video]init encoder failed with err = %d", e);
  ResetThread();
  return e;
}

void CVideoMgr::Stop() {
  // The thread has ended (or was terminated) before this is called.
  stopRequested_.store(false);
  running_.store(false);
  if (handle_) {
    CloseHandle(handle_);
    handle_ = nullptr;
  }
  if (encoder_) encoder_->Release();
}

void CVideoMgr::AllocateFrameBuffer(int width, int height) {
  // Black (BT.601 limited range) until the first picture is converted, so an
  // encode before it or after a failed capture never reads stale memory.
  frameBuffer_.clear();
  frameWidth_ = frameHeight_ = 0;
  if (width <= 0 || height <= 0) return;
  const size_t ySize = static_cast<size_t>(width) * height;
  try {
    frameBuffer_.assign(I420Size(width, height), 128);
  } catch (const std::bad_alloc&) {
    frameBuffer_.clear();
    return;
  }
  memset(frameBuffer_.data(), 16, ySize);
  frameWidth_ = width;
  frameHeight_ = height;
}

void CVideoMgr::ApplyCaptorReconfigure() {
  VideoParam* v = &capture_;
  const CaptureRect r = v->captureRect;
  if (r.right - r.left >= 2 && r.bottom - r.top >= 2) {
    v->left = r.left;
    v->top = r.top;
    v->width = r.right - r.left;
    v->height = r.bottom - r.top;
    v->downscaled = 0;
    v->fullWidth = 0;
    v->fullHeight = 0;
    int res = captor_->Config(v);
    if (res < 0) ZtLogger::Instance().Error("[Video]config captor failed with err = %d", res);
  } else {
    ZtLogger::Instance().Error("[Video]capture rectangle (%d,%d,%d,%d) ignored", r.left, r.top,
                               r.right, r.bottom);
  }
  v->captorReconfigure = 0;
  ScopedLock<CBaseMutex> guard(frameLock_);
  AllocateFrameBuffer(captor_->PictureWidth(), captor_->PictureHeight());
}

int CVideoMgr::Run() {
  {
    ScopedLock<CBaseMutex> guard(frameLock_);
    AllocateFrameBuffer(captor_ ? captor_->PictureWidth() : 0,
                        captor_ ? captor_->PictureHeight() : 0);
  }
  InterlockedExchange64(&captureTime_, 0);
  InterlockedExchange64(&convertTime_, 0);
  while (!StopRequested()) {
    const int64_t passStart = MirrorClockNow();
    if (captor_ && handOver_) {
      uint32_t request = 0;
      if (handOver_->TakeForCaptor(&capture_, &request)) {
        ApplyCaptorReconfigure();
        // The frame buffer has the new size: the geometry may now be seen.
        handOver_->PublishGeometry(capture_);
        handOver_->CaptorDone(request);
      }
      uint8_t* picture = nullptr;
      const int64_t t0 = MirrorClockNow();
      const int r = captor_->Capture(&picture);
      InterlockedExchangeAdd64(&captureTime_, MirrorClockNow() - t0);
      InterlockedIncrement(&capturedThisSecond_);
      if (r == 0 && picture) {
        ScopedLock<CBaseMutex> guard(frameLock_);
        // The captor and the frame buffer always agree in size; checked so a
        // failed set-up can never make the conversion overrun either buffer.
        if (captor_->PictureWidth() == frameWidth_ && captor_->PictureHeight() == frameHeight_) {
          const int64_t t1 = MirrorClockNow();
          if (ConvertBgraToI420(frameWidth_, frameHeight_, picture, frameBuffer_.data()) > 0)
            InterlockedIncrement(&converted_);
          InterlockedExchangeAdd64(&convertTime_, MirrorClockNow() - t1);
        }
      }
    }
    SleepRestOfFrame(passStart, capture_.fps);
  }
  return 0;
}

CVideoMgr::EncodeResult CVideoMgr::EncodeNewest(EncodedFrame* frame) {
  *frame = EncodedFrame();
  ScopedLock<CBaseMutex> guard(frameLock_);
  if (frameBuffer_.empty() || !encoder_ || !encoder_->Ready()) return kNoFrame;
  if (encoder_->Width() != frameWidth_ || encoder_->Height() != frameHeight_) return kSizeChanged;
  encoder_->Encode(frameBuffer_.data(), frame);
  InterlockedIncrement(&encodedThisSecond_);
  return frame->size > 0 ? kEncoded : kNoOutput;
}

std::vector<uint8_t> CVideoMgr::CopyFrame(int* width, int* height) {
  ScopedLock<CBaseMutex> guard(frameLock_);
  if (width) *width = frameWidth_;
  if (height) *height = frameHeight_;
  return frameBuffer_;
}
