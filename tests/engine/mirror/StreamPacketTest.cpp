#include "engine/mirror/StreamPacket.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
float LeFloat(const std::vector<uint8_t>& b, size_t at) {
  uint32_t bits = Le32(b, at);
  float f;
  memcpy(&f, &bits, 4);
  return f;
}
void ExpectZero(const std::vector<uint8_t>& b, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i) EXPECT_EQ(b[i], 0) << "byte " << i;
}

VideoParam Video1280() {
  VideoParam v;
  v.width = 1280;
  v.height = 720;
  v.xOffset = 320.0f;
  v.yOffset = 180.0f;
  v.scaledWidth = 1280.0f;
  v.scaledHeight = 720.0f;
  return v;
}

}  // namespace

TEST(StreamPackets, HeartbeatLayout) {
  CHeartbeatPacket hb;
  EncodedFrame f;
  f.pts = 1500000;
  hb.SetData(f);
  VideoParam v = Video1280();
  std::vector<uint8_t> b;
  ASSERT_EQ(hb.GetPacket(&v, b), 128);
  ASSERT_EQ(b.size(), 128u);
  EXPECT_EQ(Le32(b, 0), 0u);
  EXPECT_EQ(b[4], 0x02);
  EXPECT_EQ(b[5], 0x00);
  EXPECT_EQ(b[6], 0x1E);
  EXPECT_EQ(b[7], 0x00);
  EXPECT_EQ(Le32(b, 8), 2147483648u);
  EXPECT_EQ(Le32(b, 12), 2208988801u);
  ExpectZero(b, 16, 128);
}

TEST(StreamPackets, CodecPacketFromSpsAndPps) {
  std::vector<uint8_t> out;
  auto put = [&](const std::vector<uint8_t>& nal) {
    uint32_t n = static_cast<uint32_t>(nal.size());
    out.insert(out.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
    out.insert(out.end(), nal.begin(), nal.end());
  };
  std::vector<uint8_t> sps(25), pps(4);
  for (size_t i = 0; i < sps.size(); ++i) sps[i] = static_cast<uint8_t>(0x67 + i);
  for (size_t i = 0; i < pps.size(); ++i) pps[i] = static_cast<uint8_t>(0x68 + i);
  put(sps);
  put(pps);
  out.insert(out.end(), {0, 0, 0, 2, 0x65, 0x88});  // the IDR that follows is not copied
  EncodedFrame f;
  f.data = out.data();
  f.size = static_cast<int32_t>(out.size());
  f.keyFrame = 1;
  f.pts = 0;
  CCodecPacket cp;
  ASSERT_EQ(cp.SetData(f), 0);
  ASSERT_EQ(cp.PayloadLength(), 40);
  VideoParam v = Video1280();
  std::vector<uint8_t> b;
  ASSERT_EQ(cp.GetPacket(&v, b), 168);
  EXPECT_EQ(Le32(b, 0), 40u);
  EXPECT_EQ(b[4], 1);
  EXPECT_EQ(b[6], 0x06);
  EXPECT_EQ(Le32(b, 12), 2208988800u);
  EXPECT_EQ(LeFloat(b, 16), 1280.0f);
  EXPECT_EQ(LeFloat(b, 20), 720.0f);
  ExpectZero(b, 24, 40);
  EXPECT_EQ(LeFloat(b, 40), 1280.0f);
  EXPECT_EQ(LeFloat(b, 44), 720.0f);
  EXPECT_EQ(LeFloat(b, 48), 320.0f);
  EXPECT_EQ(LeFloat(b, 52), 180.0f);
  EXPECT_EQ(LeFloat(b, 56), 1280.0f);
  EXPECT_EQ(LeFloat(b, 60), 720.0f);
  ExpectZero(b, 64, 128);
  const uint8_t* p = b.data() + 128;
  const uint8_t head[] = {0x01, 0x64, 0xC0, 0x28, 0xFF, 0xE1, 0x00, 0x19};
  EXPECT_EQ(memcmp(p, head, 8), 0);
  EXPECT_EQ(memcmp(p + 8, sps.data(), 25), 0);
  EXPECT_EQ(p[33], 0x01);
  EXPECT_EQ(p[34], 0x00);
  EXPECT_EQ(p[35], 0x04);
  EXPECT_EQ(memcmp(p + 36, pps.data(), 4), 0);
}

TEST(StreamPackets, CodecPacketRejectsOutputsThatLie) {
  struct {
    std::vector<uint8_t> bytes;
  } cases[] = {
      {{}},
      {{0, 0, 0, 9, 1, 2}},                          // SPS runs past the output
      {{0, 0, 0, 1, 0x67, 0, 0, 0, 5, 0x68}},        // PPS runs past the output
      {{0, 0, 0, 1, 0x67, 0, 0, 0}},                 // no room for the PPS length
      {{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0}},     // absurd length, no wrap-around
      {{0, 0, 0, 0, 0, 0, 0, 1, 0x68}},              // empty SPS
  };
  for (auto& c : cases) {
    EncodedFrame f;
    f.data = c.bytes.empty() ? nullptr : c.bytes.data();
    f.size = static_cast<int32_t>(c.bytes.size());
    CCodecPacket cp;
    EXPECT_EQ(cp.SetData(f), -1);
    EXPECT_EQ(cp.PayloadLength(), 0);
  }
}

TEST(StreamPackets, BitstreamStartCodeBecomesLengthPrefix) {
  std::vector<uint8_t> au(1000, 0xAB);
  au[0] = 0;
  au[1] = 0;
  au[2] = 0;
  au[3] = 1;
  au[4] = 0x65;
  EncodedFrame f;
  f.data = au.data();
  f.size = 1000;
  f.keyFrame = 1;
  f.pts = 2250000;
  CBitstreamPacket bp;
  ASSERT_EQ(bp.SetData(f), 0);
  EXPECT_EQ(bp.Payload(), au.data());  // not copied
  const uint8_t prefix[] = {0x00, 0x00, 0x03, 0xE4};
  EXPECT_EQ(memcmp(au.data(), prefix, 4), 0);
  VideoParam v = Video1280();
  std::vector<uint8_t> b;
  ASSERT_EQ(bp.GetPacket(&v, b), 1128);
  EXPECT_EQ(Le32(b, 0), 1000u);
  EXPECT_EQ(b[4], 0);
  EXPECT_EQ(b[6], 0x06);
  EXPECT_EQ(Le32(b, 8), 1073741824u);
  EXPECT_EQ(Le32(b, 12), 2208988802u);
  ExpectZero(b, 16, 40);
  EXPECT_EQ(LeFloat(b, 40), 1280.0f);

  std::vector<uint8_t> prefixed = {0, 0, 0, 5, 0x41, 1, 2, 3, 4};
  f.data = prefixed.data();
  f.size = 9;
  ASSERT_EQ(bp.SetData(f), 0);
  EXPECT_EQ(prefixed[3], 5);  // already length-prefixed: unchanged
  VideoParam* none = nullptr;
  EXPECT_EQ(bp.GetPacket(none, b), -1);
}

TEST(VideoGeometry, ScaleModesTable) {
  struct Case {
    int W, H, w, h, mode;
    int outW, outH;
    float sw, sh, xo, yo;
    int downscaled, fullW;
  } cases[] = {
      {1920, 1080, 2560, 1440, 1, 1920, 1080, 1920.0f, 1080.0f, 0.0f, 0.0f, 1, 2560},
      {1920, 1080, 1280, 1024, 1, 1280, 1024, 1920.0f, 1536.0f, 0.0f, -228.0f, 0, 0},
      {1920, 1080, 2560, 1440, 0, 2560, 1440, 2560.0f, 1440.0f, -320.0f, -180.0f, 1, 2560},
      {1920, 1080, 1920, 1200, 1, 1726, 1080, 1727.9999f, 1080.0f, 96.00006f, 0.0f, 1, 1920},
      {1920, 1080, 1280, 720, 2, 1280, 720, 1920.0f, 1080.0f, 0.0f, 0.0f, 0, 0},
      {1920, 1080, 3840, 2160, 2, 1920, 1080, 1920.0f, 1080.0f, 0.0f, 0.0f, 1, 3840},
      {1280, 720, 1280, 720, 0, 1280, 720, 1280.0f, 720.0f, 0.0f, 0.0f, 0, 0},
      {1920, 1080, 1281, 721, 0, 1280, 720, 1280.0f, 720.0f, 320.0f, 180.0f, 0, 0},
  };
  for (const Case& c : cases) {
    VideoParam v;
    v.receiverWidth = c.W;
    v.receiverHeight = c.H;
    v.width = c.w;
    v.height = c.h;
    v.scaleMode = c.mode;
    ASSERT_EQ(CalcVideoScale(&v), 0);
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " mode " << c.mode);
    EXPECT_EQ(v.width, c.outW);
    EXPECT_EQ(v.height, c.outH);
    EXPECT_NEAR(v.scaledWidth, c.sw, 0.01f);
    EXPECT_NEAR(v.scaledHeight, c.sh, 0.01f);
    EXPECT_NEAR(v.xOffset, c.xo, 0.01f);
    EXPECT_NEAR(v.yOffset, c.yo, 0.01f);
    EXPECT_EQ(v.downscaled, c.downscaled);
    EXPECT_EQ(v.fullWidth, c.fullW);
    EXPECT_EQ(v.width % 2, 0);
    EXPECT_EQ(v.height % 2, 0);
  }
}

TEST(VideoGeometry, ZeroSizesChangeNothing) {
  VideoParam v;
  v.width = 1280;
  v.height = 720;
  EXPECT_EQ(CalcVideoScale(&v), -1);
  EXPECT_EQ(v.scaledWidth, 0.0f);
  v.receiverWidth = 1920;
  v.receiverHeight = 1080;
  v.width = 0;
  EXPECT_EQ(CalcVideoScale(&v), -2);
  v.width = 1;  // rounds down to nothing
  EXPECT_EQ(CalcVideoScale(&v), -2);
  EXPECT_EQ(CalcVideoScale(nullptr), -1);
}
