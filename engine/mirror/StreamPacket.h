// Stream packets of the mirroring connection: a 128-byte little-endian
// header and a payload. Pure code: no platform headers.
//
// Thread use: the session owns one object per kind; codec and bitstream
// packets are filled on the session thread, heartbeats on the timer thread.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/mirror/VideoParam.h"

constexpr int kStreamHeaderBytes = 128;

enum StreamPacketType : uint16_t {
  STREAM_PACKET_BITSTREAM = 0,
  STREAM_PACKET_CODEC = 1,
  STREAM_PACKET_HEARTBEAT = 2,
};

class CStreamPacket {
 public:
  CStreamPacket() = default;
  virtual ~CStreamPacket() = default;
  CStreamPacket(const CStreamPacket&) = delete;
  CStreamPacket& operator=(const CStreamPacket&) = delete;

  // Resets the payload and takes the packet time from the frame's pts.
  // 0 on success; -1 when the frame cannot make a packet of this kind.
  virtual int SetData(EncodedFrame& frame);
  virtual uint16_t GetType() const = 0;

  // Fills the 128-byte header from the video configuration; returns 128.
  int BuildHeader(const VideoParam& video);
  // Header and payload in one buffer, to be sent in one call. Returns the
  // total length, or -1 without a video configuration.
  int GetPacket(const VideoParam* video, std::vector<uint8_t>& out);

  const uint8_t* Header() const { return header_; }
  const uint8_t* Payload() const { return payload_; }
  int32_t PayloadLength() const { return payloadLength_; }
  uint32_t NtpSeconds() const { return ntpSeconds_; }
  uint32_t NtpFraction() const { return ntpFraction_; }

 protected:
  uint8_t header_[kStreamHeaderBytes] = {};
  const uint8_t* payload_ = nullptr;
  int32_t payloadLength_ = 0;
  uint32_t ntpSeconds_ = 0;
  uint32_t ntpFraction_ = 0;
};

// The H.264 decoder configuration (avcC) built from [len][SPS][len][PPS].
class CCodecPacket : public CStreamPacket {
 public:
  CCodecPacket();
  int SetData(EncodedFrame& frame) override;
  uint16_t GetType() const override { return STREAM_PACKET_CODEC; }

  const int32_t configurationVersion = 1;
  const int32_t profile = 100;
  const int32_t profileCompatibility = 192;
  const int32_t level = 40;
  const int32_t nalLengthSizeMinusOne = 3;
  const int32_t numberOfPps = 1;
  const int32_t numberOfSps = 1;

 private:
  std::vector<uint8_t> record_;
};

// One encoded picture. A leading start code is replaced in the encoder's
// buffer by a 4-byte big-endian length; the payload is not copied.
class CBitstreamPacket : public CStreamPacket {
 public:
  int SetData(EncodedFrame& frame) override;
  uint16_t GetType() const override { return STREAM_PACKET_BITSTREAM; }
};

class CHeartbeatPacket : public CStreamPacket {
 public:
  uint16_t GetType() const override { return STREAM_PACKET_HEARTBEAT; }
};

// Works out where the capture sits on the receiver's screen and the encoded
// size (downscaling captures above 1920x1080). 0; -1 when the receiver size
// is 0; -2 when the capture size is 0 (nothing changed then).
int CalcVideoScale(VideoParam* video);
