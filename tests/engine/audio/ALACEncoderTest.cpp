#include "engine/audio/ALACEncoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/audio/EncAudioALAC.h"
#include "ToneUtil.h"

namespace {

// MSB-first reader for checking frame headers.
struct Bits {
  const uint8_t* p;
  size_t pos = 0;
  uint32_t Get(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++pos) v = (v << 1) | ((p[pos >> 3] >> (7 - (pos & 7))) & 1);
    return v;
  }
};

struct Codec {
  AlacCodecState* s = nullptr;
  explicit Codec(int channels = 2, int bits = 16) {
    EXPECT_EQ(AlacCodecOpen(44100, channels, bits, &s), 0);
  }
  ~Codec() { AlacCodecClose(s); }
  std::vector<uint8_t> Encode(const void* pcm, int bytes) {
    int n = bytes;
    const uint8_t* out = AlacCodecEncode(s, static_cast<const uint8_t*>(pcm), &n);
    if (!out) return {};
    return std::vector<uint8_t>(out, out + n);
  }
};

std::vector<int16_t> Noise(size_t n, uint32_t seed) {
  std::vector<int16_t> v(n);
  for (auto& x : v) {
    seed = seed * 1664525u + 1013904223u;
    x = static_cast<int16_t>(seed >> 16);
  }
  return v;
}

}  // namespace

TEST(ALACEncoder, FrameShapes) {
  Codec codec;
  // Silence: a compressed pair of a few bytes (header, two order-4
  // predictors, one zero and one run of 351 zeros per channel).
  std::vector<int16_t> silence(352 * 2, 0);
  std::vector<uint8_t> f = codec.Encode(silence.data(), 1408);
  ASSERT_FALSE(f.empty());
  EXPECT_LE(f.size(), 32u);
  Bits b{f.data()};
  EXPECT_EQ(b.Get(3), 1u);   // channel pair
  EXPECT_EQ(b.Get(4), 0u);   // instance 0
  EXPECT_EQ(b.Get(12), 0u);
  EXPECT_EQ(b.Get(4), 0u);   // full frame, nothing shifted, compressed

  // White noise does not compress: the pair is stored uncompressed, 1408
  // bytes of samples behind 23 bits of header and the 3-bit end.
  std::vector<int16_t> noise = Noise(352 * 2, 1);
  f = codec.Encode(noise.data(), 1408);
  ASSERT_EQ(f.size(), 1412u);
  Bits n{f.data()};
  n.Get(3 + 4 + 12);
  EXPECT_EQ(n.Get(4), 1u);  // uncompressed
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(static_cast<int16_t>(n.Get(16)), noise[i]) << i;

  // Fewer than 352 frames: the partial-frame bit and the count.
  const std::vector<int16_t> tone = tone::Make(44100, 100, {440, 440}, {3000, 3000});
  f = codec.Encode(tone.data(), 400);
  ASSERT_FALSE(f.empty());
  Bits p{f.data()};
  p.Get(3 + 4 + 12);
  EXPECT_EQ(p.Get(4) & 8u, 8u);
  EXPECT_EQ(p.Get(32), 100u);
  EXPECT_LT(f.size(), 400u);
}

TEST(ALACEncoder, RefusesInputItCannotTake) {
  Codec codec;
  std::vector<int16_t> pcm(353 * 2, 0);
  int n = 353 * 4;
  EXPECT_EQ(AlacCodecEncode(codec.s, reinterpret_cast<uint8_t*>(pcm.data()), &n), nullptr);
  n = 3;  // less than one sample frame
  EXPECT_EQ(AlacCodecEncode(codec.s, reinterpret_cast<uint8_t*>(pcm.data()), &n), nullptr);

  ALACEncoder enc;
  AlacStreamDescription out;
  out.formatFlags = 9;
  out.channelsPerFrame = 2;
  EXPECT_EQ(enc.Configure(out), kAlacErrParam);
  out.formatFlags = kAlacFlags16;
  out.channelsPerFrame = 9;
  EXPECT_EQ(enc.Configure(out), kAlacErrParam);
  uint8_t buf[1500];
  int bytes = 1408;
  AlacStreamDescription in;
  EXPECT_EQ(enc.Encode(in, out, buf, buf, &bytes), kAlacErrParam) << "not configured";
}

TEST(ALACEncoder, SourceBitDepthAndCookie) {
  ALACEncoder enc;
  AlacStreamDescription in;
  in.formatId = kAlacFormatLinearPCM;
  in.formatFlags = kAlacFormatFlagsSignedPacked;
  const struct {
    uint32_t bits;
    int depth;
  } cases[] = {{8, 16}, {16, 16}, {18, 20}, {20, 20}, {24, 24}, {25, 32}, {32, 32}};
  for (const auto& c : cases) {
    in.bitsPerChannel = c.bits;
    EXPECT_EQ(enc.SourceBitDepth(in), c.depth) << c.bits;
  }
  in.formatFlags |= kAlacFormatFlagIsFloat;
  in.bitsPerChannel = 32;
  EXPECT_EQ(enc.SourceBitDepth(in), 16) << "floats are taken as 16-bit";

  Codec codec;
  uint8_t cookie[kAlacCookieBytes];
  ASSERT_EQ(codec.s->encoder->MagicCookie(cookie, sizeof(cookie)), kAlacCookieBytes);
  // The values the announcement carries: 352 0 16 40 10 14 2 255 0 0 44100.
  const uint8_t expect[kAlacCookieBytes] = {0, 0, 1, 0x60, 0, 16, 40, 10, 14, 2, 0, 255,
                                            0, 0, 0, 0,    0, 0,  0,  0,  0,  0, 0xAC, 0x44};
  EXPECT_EQ(memcmp(cookie, expect, sizeof(expect)), 0);
  EXPECT_EQ(codec.s->outputBufferSize, 352 * 2 * 5 + 1);
}

TEST(ALACEncoder, EveryChannelCountAndDepthStaysWithinItsBuffer) {
  for (int bits : {16, 20, 24, 32}) {
    for (int ch = 1; ch <= 8; ++ch) {
      Codec codec(ch, bits);
      ASSERT_NE(codec.s, nullptr);
      const int bytes = codec.s->inputFrameBytes;
      std::vector<uint8_t> pcm(bytes);
      uint32_t seed = bits * 31 + ch;
      for (auto& b : pcm) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
      }
      const std::vector<uint8_t> f = codec.Encode(pcm.data(), bytes);
      ASSERT_FALSE(f.empty()) << bits << "/" << ch;
      EXPECT_LE(f.size(), static_cast<size_t>(codec.s->outputBufferSize));
      EXPECT_LE(f.size(), static_cast<size_t>(bytes) + 8 * ch) << bits << "/" << ch;
    }
  }
}
