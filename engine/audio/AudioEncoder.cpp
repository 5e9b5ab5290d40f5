#include "engine/audio/AudioEncoder.h"

#include <cstring>
#include <new>

#include "foundation/log/Logger.h"

CAudioEncoder::CAudioEncoder() : buffer_(new CAudioBuffer) {}

CAudioEncoder::~CAudioEncoder() {
  // The codec is closed by Uninit, which the owner calls before deleting; a
  // derived destructor closes it when the owner did not.
  delete[] buffer_->data;
  delete buffer_;
}

int CAudioEncoder::Init(AudioParam* param) {
  m_pAudioParam = param;
  ZtLogger::Instance().Info("[Audio]m_pAudioParam.FrameSize=%d, m_pAudioParam.BlockAlign=%d",
                            param->FrameSize, param->BlockAlign);
  const int64_t bytes = static_cast<int64_t>(param->FrameSize) * param->BlockAlign;
  // A frame must be non-empty and two of them must fit an int.
  if (bytes <= 0 || bytes > (1 << 24)) {
    ZtLogger::Instance().Error("[Audio]audio encoder init failed");
    return -1;
  }
  frameBytes_ = static_cast<int>(bytes);
  delete[] buffer_->data;
  buffer_->data = new (std::nothrow) uint8_t[2 * frameBytes_];
  if (!buffer_->data) {
    ZtLogger::Instance().Error("[Audio]set CAudioBuffer buffer size fail, out of memory");
    return -1;
  }
  buffer_->capacity = frameBytes_;
  buffer_->used = 0;
  buffer_->firstTimestamp = 0;
  if (codec_) {
    CloseCodec();
    codec_ = nullptr;
  }
  const int rc = OpenCodec();
  if (rc < 0) {
    codec_ = nullptr;
    ZtLogger::Instance().Error("[Audio]audio encoder init failed");
  }
  return rc;
}

int CAudioEncoder::Uninit() {
  if (codec_) CloseCodec();
  codec_ = nullptr;
  return 0;
}

int CAudioEncoder::Encode(AudioChunk* chunk) {
  chunk->outSize = 0;
  chunk->outData = nullptr;
  if (!codec_ || !buffer_->data) return 0;
  CAudioBuffer& b = *buffer_;
  if (chunk->size == 0) {
    b.used = 0;
    b.firstTimestamp = 0;
    return 0;
  }
  if (b.firstTimestamp == 0) b.firstTimestamp = chunk->timestamp;
  // 64-bit sum: a size near 4 GiB must not wrap past the check.
  if (!chunk->data || static_cast<uint64_t>(b.used) + chunk->size >
                          2 * static_cast<uint64_t>(b.capacity)) {
    ZtLogger::Instance().Error("[Audio]fail to add buffer (%d bytes) into audio buffer!",
                               static_cast<int>(chunk->size));
    return 0;
  }
  memcpy(b.data + b.used, chunk->data, chunk->size);
  b.used += static_cast<int>(chunk->size);
  if (b.used < b.capacity) return 0;

  int outSize = frameBytes_;
  uint8_t* out = EncodeFrame(b.data, &outSize);
  b.used -= frameBytes_;
  memmove(b.data, b.data + frameBytes_, b.used);
  b.firstTimestamp = 0;
  // A codec failure gives no packet: the size it left behind is meaningless.
  if (!out || outSize <= 0) return 0;
  chunk->outData = out;
  chunk->outSize = outSize;
  return outSize;
}
