// The session's video configuration as its threads share it.
//
// Three threads touch it. The owner's thread changes what is captured and how
// it is encoded (CMirror::SelectMonitor, SetCaptureRegion,
// UpdateVideoSettings). The capture thread sets the captor up, which fixes
// the capture geometry (size, origin, where the picture sits on the
// receiver). The session thread sets the encoder up with that geometry and
// stamps it into every packet. The capture and session threads each work on
// a VideoParam of their own; this record is the one they share, and every
// exchange copies whole fields under its lock, at a point each thread picks:
//   - the capture thread at the start of each pass (TakeForCaptor) and after
//     it set the captor up (PublishGeometry, CaptorDone);
//   - the session thread at the start of each pass (EncoderPending, Fps) and
//     when it sets the encoder up again (TakeForEncoder).
// So no thread ever reads a field while another writes it.
#pragma once

#include <cstdint>
#include <mutex>

#include "engine/mirror/VideoParam.h"

// What an owner's change needs (a bit set).
enum VideoChange : unsigned {
  kVideoChangeNone = 0,
  kVideoChangeEncoder = 1,  // the session sets the encoder up again
  kVideoChangeCaptor = 2,   // the capture thread sets the captor up again (the encoder follows)
};

class CVideoHandOver {
 public:
  CVideoHandOver() = default;
  CVideoHandOver(const CVideoHandOver&) = delete;
  CVideoHandOver& operator=(const CVideoHandOver&) = delete;

  // Owner's thread. edit(VideoParam&) runs under the lock on the shared
  // record, changes the owner's fields (the settings) and returns the
  // VideoChange bits it needs; the geometry it reads is the last published.
  template <typename Edit>
  void Change(Edit edit) {
    std::lock_guard<std::mutex> guard(lock_);
    const unsigned change = edit(shared_);
    if (change & kVideoChangeCaptor) {
      shared_.captorReconfigure = 1;
      ++captorRequest_;
    }
    if (change & (kVideoChangeCaptor | kVideoChangeEncoder)) encoderPending_ = true;
  }
  // A copy of the whole record.
  VideoParam Snapshot() const;

  // Capture thread, start of a pass: copies the settings into *mine. True
  // when the captor must be set up again; *request then names the request
  // for CaptorDone.
  bool TakeForCaptor(VideoParam* mine, uint32_t* request);
  // The geometry of *mine (capture size, origin, receiver size, placement)
  // becomes the shared one. The capture thread calls it once its frame buffer
  // has the new size; the session thread before the capture thread starts.
  void PublishGeometry(const VideoParam& mine);
  // Capture thread: request is set up; the pending flag clears unless a
  // newer request arrived meanwhile.
  void CaptorDone(uint32_t request);

  // Session thread.
  bool CaptorPending() const;
  bool EncoderPending() const;
  // The encoder must follow the capture (its size changed under it).
  void RequestEncoder();
  // Copies settings and geometry into *mine and clears the encoder request.
  void TakeForEncoder(VideoParam* mine);
  // The frame rate to pace to (the owner may change it at any time).
  int Fps() const;
  // Handshake: the receiver's screen size.
  void SetReceiverSize(int width, int height);

 private:
  mutable std::mutex lock_;
  VideoParam shared_;
  uint32_t captorRequest_ = 0;
  bool encoderPending_ = false;
};

// The two halves of a VideoParam, copied field by field.
// Settings: what the owner chooses (fps, scale mode, quality, rate, cursor,
// capture method, region mode, capture rectangle, monitor name).
void CopyVideoSettings(const VideoParam& from, VideoParam* to);
// Geometry: what the captor and the handshake fix (receiver size, capture
// size and origin, placement on the receiver, downscaling).
void CopyVideoGeometry(const VideoParam& from, VideoParam* to);
