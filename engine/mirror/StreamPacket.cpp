#include "engine/mirror/StreamPacket.h"

#include <cstring>

#include "foundation/log/LogHook.h"
#include "foundation/net/ByteOrder.h"
#include "foundation/net/NtpTime.h"

namespace {

void PutFloat(uint8_t* p, float f) {
  uint32_t bits;
  memcpy(&bits, &f, sizeof(bits));
  PutLe32(p, bits);
}

}  // namespace

int CStreamPacket::SetData(EncodedFrame& frame) {
  payload_ = nullptr;
  payloadLength_ = 0;
  MicrosToNtp(frame.pts, &ntpSeconds_, &ntpFraction_);
  return 0;
}

int CStreamPacket::BuildHeader(const VideoParam& video) {
  memset(header_, 0, sizeof(header_));
  const uint16_t type = GetType();
  PutLe32(header_ + 0, static_cast<uint32_t>(payloadLength_));
  PutLe16(header_ + 4, type);
  PutLe16(header_ + 6, type == STREAM_PACKET_HEARTBEAT ? 0x001E : 0x0006);
  PutLe32(header_ + 8, ntpFraction_);
  PutLe32(header_ + 12, ntpSeconds_);
  if (type != STREAM_PACKET_HEARTBEAT) {
    const float w = static_cast<float>(video.width);
    const float h = static_cast<float>(video.height);
    if (type == STREAM_PACKET_CODEC) {
      PutFloat(header_ + 16, w);
      PutFloat(header_ + 20, h);
    }
    PutFloat(header_ + 40, w);
    PutFloat(header_ + 44, h);
    PutFloat(header_ + 48, video.xOffset);
    PutFloat(header_ + 52, video.yOffset);
    PutFloat(header_ + 56, video.scaledWidth);
    PutFloat(header_ + 60, video.scaledHeight);
  }
  return kStreamHeaderBytes;
}

int CStreamPacket::GetPacket(const VideoParam* video, std::vector<uint8_t>& out) {
  if (!video) {
    TESS_HOOK_LOG(3, "Failed to get stream packet : NULL param");
    return -1;
  }
  BuildHeader(*video);
  const size_t total = kStreamHeaderBytes + static_cast<size_t>(payloadLength_);
  out.resize(total);
  memcpy(out.data(), header_, kStreamHeaderBytes);
  if (payloadLength_ > 0) memcpy(out.data() + kStreamHeaderBytes, payload_, payloadLength_);
  return static_cast<int>(total);
}

CCodecPacket::CCodecPacket() = default;

int CCodecPacket::SetData(EncodedFrame& frame) {
  CStreamPacket::SetData(frame);
  record_.clear();
  // The encoder output begins [u32 BE SPS length][SPS][u32 BE PPS length][PPS];
  // lengths are checked against the output so a short output makes no packet.
  if (!frame.data || frame.size < 8) return -1;
  const uint8_t* p = frame.data;
  const uint32_t size = static_cast<uint32_t>(frame.size);
  const uint32_t spsLen = GetBe32(p);
  if (spsLen == 0 || spsLen > 0xFFFF || spsLen > size - 8) return -1;
  const uint8_t* sps = p + 4;
  const uint32_t ppsAt = 4 + spsLen;
  const uint32_t ppsLen = GetBe32(p + ppsAt);
  if (ppsLen == 0 || ppsLen > 0xFFFF || ppsLen > size - ppsAt - 4) return -1;
  const uint8_t* pps = p + ppsAt + 4;

  record_.reserve(spsLen + ppsLen + 11);
  record_.push_back(static_cast<uint8_t>(configurationVersion));
  record_.push_back(static_cast<uint8_t>(profile));
  record_.push_back(static_cast<uint8_t>(profileCompatibility));
  record_.push_back(static_cast<uint8_t>(level));
  record_.push_back(static_cast<uint8_t>(0xFC | nalLengthSizeMinusOne));
  record_.push_back(static_cast<uint8_t>(0xE0 | numberOfSps));
  record_.resize(record_.size() + 2);
  PutBe16(&record_[record_.size() - 2], static_cast<uint16_t>(spsLen));
  record_.insert(record_.end(), sps, sps + spsLen);
  record_.push_back(static_cast<uint8_t>(numberOfPps));
  record_.resize(record_.size() + 2);
  PutBe16(&record_[record_.size() - 2], static_cast<uint16_t>(ppsLen));
  record_.insert(record_.end(), pps, pps + ppsLen);
  payload_ = record_.data();
  payloadLength_ = static_cast<int32_t>(record_.size());
  return 0;
}

int CBitstreamPacket::SetData(EncodedFrame& frame) {
  CStreamPacket::SetData(frame);
  if (!frame.data || frame.size <= 0) return -1;
  if (frame.size >= 4 && frame.data[0] == 0 && frame.data[1] == 0 && frame.data[2] == 0 &&
      frame.data[3] == 1) {
    PutBe32(frame.data, static_cast<uint32_t>(frame.size - 4));
  }
  payload_ = frame.data;
  payloadLength_ = frame.size;
  return 0;
}

int CalcVideoScale(VideoParam* v) {
  if (!v || v->receiverWidth == 0 || v->receiverHeight == 0) return -1;
  if (v->width == 0 || v->height == 0) return -2;
  // Encoders and the colour converter work on 2x2 blocks: odd sizes would
  // make later buffers one row or column short.
  const int32_t evenWidth = v->width & ~1;
  const int32_t evenHeight = v->height & ~1;
  if (evenWidth <= 0 || evenHeight <= 0) return -2;
  v->width = evenWidth;
  v->height = evenHeight;

  const float W = static_cast<float>(v->receiverWidth);
  const float H = static_cast<float>(v->receiverHeight);
  const float w = static_cast<float>(v->width);
  const float h = static_cast<float>(v->height);
  const float rx = w / W;
  const float ry = h / H;
  // The factor is the ratio that lies farther from 1.
  float s;
  if (rx >= 1.0f && ry >= 1.0f) {
    s = rx > ry ? rx : ry;
  } else if (rx >= 1.0f) {
    s = static_cast<double>(rx) > 1.0 / static_cast<double>(ry) ? rx : ry;
  } else if (ry >= 1.0f) {
    s = 1.0 / static_cast<double>(rx) > static_cast<double>(ry) ? rx : ry;
  } else {
    s = rx <= ry ? rx : ry;
  }

  if (v->scaleMode == 1) {
    v->scaledWidth = w / s;
    v->scaledHeight = h / s;
  } else if (v->scaleMode == 2) {
    v->scaledWidth = W;
    v->scaledHeight = H;
  } else {
    v->scaledWidth = w;
    v->scaledHeight = h;
  }
  v->xOffset = (W - v->scaledWidth) * 0.5f;
  v->yOffset = (H - v->scaledHeight) * 0.5f;

  if (v->width > 1920 || v->height > 1080) {
    v->fullWidth = v->width;
    v->fullHeight = v->height;
    v->downscaled = 1;
    v->width = static_cast<int32_t>(v->scaledWidth) & ~1;
    v->height = static_cast<int32_t>(v->scaledHeight) & ~1;
    // A very lopsided capture could shrink to nothing on one side.
    if (v->width < 2) v->width = 2;
    if (v->height < 2) v->height = 2;
  }
  TESS_HOOK_LOG(0, "[Video](%dx%d)->(%dx%d) %fx%f (%f,%f) %d", v->width, v->height,
                v->receiverWidth, v->receiverHeight, v->scaledWidth, v->scaledHeight, v->xOffset,
                v->yOffset, v->downscaled);
  return 0;
}
