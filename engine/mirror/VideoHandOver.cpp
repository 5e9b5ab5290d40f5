#include "engine/mirror/VideoHandOver.h"

void CopyVideoSettings(const VideoParam& from, VideoParam* to) {
  to->fps = from.fps;
  to->scaleMode = from.scaleMode;
  to->quality = from.quality;
  to->rate = from.rate;
  to->cursor = from.cursor;
  to->useDxgi = from.useDxgi;
  to->regionMode = from.regionMode;
  to->captureRect = from.captureRect;
  to->monitorName = from.monitorName;
}

void CopyVideoGeometry(const VideoParam& from, VideoParam* to) {
  to->receiverWidth = from.receiverWidth;
  to->receiverHeight = from.receiverHeight;
  to->width = from.width;
  to->height = from.height;
  to->top = from.top;
  to->left = from.left;
  to->xOffset = from.xOffset;
  to->yOffset = from.yOffset;
  to->scaledWidth = from.scaledWidth;
  to->scaledHeight = from.scaledHeight;
  to->fullWidth = from.fullWidth;
  to->fullHeight = from.fullHeight;
  to->downscaled = from.downscaled;
}

VideoParam CVideoHandOver::Snapshot() const {
  std::lock_guard<std::mutex> guard(lock_);
  return shared_;
}

bool CVideoHandOver::TakeForCaptor(VideoParam* mine, uint32_t* request) {
  std::lock_guard<std::mutex> guard(lock_);
  CopyVideoSettings(shared_, mine);
  mine->captorReconfigure = shared_.captorReconfigure;
  if (request) *request = captorRequest_;
  return shared_.captorReconfigure != 0;
}

void CVideoHandOver::PublishGeometry(const VideoParam& mine) {
  std::lock_guard<std::mutex> guard(lock_);
  CopyVideoGeometry(mine, &shared_);
}

void CVideoHandOver::CaptorDone(uint32_t request) {
  std::lock_guard<std::mutex> guard(lock_);
  if (request == captorRequest_) shared_.captorReconfigure = 0;
}

bool CVideoHandOver::CaptorPending() const {
  std::lock_guard<std::mutex> guard(lock_);
  return shared_.captorReconfigure != 0;
}

bool CVideoHandOver::EncoderPending() const {
  std::lock_guard<std::mutex> guard(lock_);
  return encoderPending_;
}

void CVideoHandOver::RequestEncoder() {
  std::lock_guard<std::mutex> guard(lock_);
  encoderPending_ = true;
}

void CVideoHandOver::TakeForEncoder(VideoParam* mine) {
  std::lock_guard<std::mutex> guard(lock_);
  CopyVideoSettings(shared_, mine);
  CopyVideoGeometry(shared_, mine);
  encoderPending_ = false;
}

int CVideoHandOver::Fps() const {
  std::lock_guard<std::mutex> guard(lock_);
  return shared_.fps;
}

void CVideoHandOver::SetReceiverSize(int width, int height) {
  std::lock_guard<std::mutex> guard(lock_);
  shared_.receiverWidth = width;
  shared_.receiverHeight = height;
}
