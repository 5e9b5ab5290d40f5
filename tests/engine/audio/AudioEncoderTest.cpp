#include "engine/audio/AudioEncoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "engine/audio/EncAudioAAC.h"
#include "engine/audio/EncAudioALAC.h"
#include <fdk-aac/aacenc_lib.h>
#include "ToneUtil.h"

namespace {

// A codec that hands back the frame it was given, so what the gatherer
// produced can be compared with what went in.
class PassThroughEncoder : public CAudioEncoder {
 public:
  ~PassThroughEncoder() override { Uninit(); }
  int opens = 0;
  bool fail = false;

 protected:
  int OpenCodec() override {
    ++opens;
    codec_ = &frame_;
    return 0;
  }
  void CloseCodec() override {}
  uint8_t* EncodeFrame(const uint8_t* pcm, int* ioBytes) override {
    if (fail) return nullptr;  // leaves *ioBytes as it was, like a failing library
    frame_.assign(pcm, pcm + *ioBytes);
    return frame_.data();
  }

 private:
  std::vector<uint8_t> frame_;
};

AudioParam AacParam() {
  AudioParam p;
  p.SampleRate = 44100;
  p.FrameSize = kAacEldFrameSize;
  return p;
}

std::vector<uint8_t> Bytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    v[i] = static_cast<uint8_t>(seed >> 24);
  }
  return v;
}

}  // namespace

TEST(AudioEncoderGathering, OddChunkSizesMakeWholeFramesWithNothingLost) {
  const std::vector<std::vector<uint32_t>> plans = {
      {1764, 1764, 1764, 1764, 1764},          // 441 frames at 44.1 kHz per capture packet
      {1920, 1920, 1920},                      // exactly one frame each
      {1, 7, 1001, 1919, 1920, 3, 13, 1, 1917, 960, 961},  // sizes that split samples
      {1919, 1919, 1919, 1919, 2, 1},
  };
  for (const auto& plan : plans) {
    AudioParam p = AacParam();
    PassThroughEncoder enc;
    ASSERT_EQ(enc.Init(&p), 0);
    ASSERT_EQ(enc.FrameBytes(), 1920);
    const size_t total = std::accumulate(plan.begin(), plan.end(), size_t(0));
    const std::vector<uint8_t> input = Bytes(total, static_cast<uint32_t>(total));
    std::vector<uint8_t> output;
    size_t offset = 0;
    int frames = 0;
    for (uint32_t size : plan) {
      std::vector<uint8_t> piece(input.begin() + offset, input.begin() + offset + size);
      offset += size;
      AudioChunk chunk;
      chunk.data = piece.data();
      chunk.size = size;
      chunk.timestamp = 1000 + static_cast<uint32_t>(offset);
      const int n = enc.Encode(&chunk);
      if (n > 0) {
        ASSERT_EQ(n, 1920);
        ASSERT_EQ(chunk.outSize, 1920);
        output.insert(output.end(), chunk.outData, chunk.outData + n);
        ++frames;
      } else {
        EXPECT_EQ(chunk.outData, nullptr);
      }
    }
    EXPECT_EQ(frames, static_cast<int>(total / 1920));
    ASSERT_EQ(output.size(), size_t(frames) * 1920);
    EXPECT_TRUE(std::equal(output.begin(), output.end(), input.begin()))
        << "frames are not the input in order";
    EXPECT_EQ(enc.BufferedBytes(), static_cast<int>(total % 1920));
  }
}

TEST(AudioEncoderGathering, TimestampEmptyChunkAndOversizeChunks) {
  AudioParam p = AacParam();
  PassThroughEncoder enc;
  ASSERT_EQ(enc.Init(&p), 0);
  std::vector<uint8_t> pcm = Bytes(4000, 7);
  AudioChunk c;
  c.data = pcm.data();
  c.size = 1000;
  c.timestamp = 500;
  EXPECT_EQ(enc.Encode(&c), 0);
  c.timestamp = 520;
  EXPECT_EQ(enc.Encode(&c), 1920);  // 2000 bytes held: one frame, 80 remain
  EXPECT_EQ(enc.BufferedBytes(), 80);
  EXPECT_EQ(enc.FirstTimestamp(), 0u);

  c.timestamp = 540;
  c.size = 100;
  EXPECT_EQ(enc.Encode(&c), 0);
  EXPECT_EQ(enc.FirstTimestamp(), 540u);

  // An empty chunk (a long silence) drops the partial frame.
  AudioChunk empty;
  EXPECT_EQ(enc.Encode(&empty), 0);
  EXPECT_EQ(enc.BufferedBytes(), 0);
  EXPECT_EQ(enc.FirstTimestamp(), 0u);

  // A chunk that would overfill the two-frame buffer is refused whole and
  // gathering goes on; so is one whose size would wrap a 32-bit sum, which
  // must be refused before anything is read from its (small) buffer.
  c.size = 1000;
  EXPECT_EQ(enc.Encode(&c), 0);
  c.size = 2841;  // 1000 + 2841 > 3840
  EXPECT_EQ(enc.Encode(&c), 0);
  EXPECT_EQ(enc.BufferedBytes(), 1000);
  c.size = 0xFFFFFF00u;
  EXPECT_EQ(enc.Encode(&c), 0);
  EXPECT_EQ(enc.BufferedBytes(), 1000);
  c.size = 2840;  // exactly fills two frames: one out, one frame kept
  EXPECT_EQ(enc.Encode(&c), 1920);
  EXPECT_EQ(enc.BufferedBytes(), 1920);
  c.size = 1;
  EXPECT_EQ(enc.Encode(&c), 1920);  // the kept frame goes out with the next call
  EXPECT_EQ(enc.BufferedBytes(), 1);
}

TEST(AudioEncoderGathering, CodecFailureOrNoCodecGivesNoPacket) {
  AudioParam p = AacParam();
  PassThroughEncoder enc;
  std::vector<uint8_t> pcm(1920, 1);
  AudioChunk c;
  c.data = pcm.data();
  c.size = 1920;
  EXPECT_EQ(enc.Encode(&c), 0) << "not initialised";
  ASSERT_EQ(enc.Init(&p), 0);
  enc.fail = true;
  EXPECT_EQ(enc.Encode(&c), 0);
  EXPECT_EQ(c.outSize, 0);
  EXPECT_EQ(c.outData, nullptr);
  enc.fail = false;
  EXPECT_EQ(enc.Encode(&c), 1920);
  enc.Uninit();
  EXPECT_EQ(enc.Encode(&c), 0) << "closed";

  AudioParam bad = AacParam();
  bad.FrameSize = 0;
  PassThroughEncoder none;
  EXPECT_LT(none.Init(&bad), 0);
  EXPECT_EQ(none.opens, 0);
  EXPECT_EQ(none.Encode(&c), 0);
}

// The library refuses the fixed-frame bit rate mode; the encoder must still
// open (at constant bit rate) with AAC-ELD, 480 samples, no SBR.
TEST(EncAudioAAC, OpensWithThisLibraryAndAnnouncesEld480) {
  AudioParam p = AacParam();
  CEncAudioAAC enc;
  ASSERT_EQ(enc.Init(&p), 0);
  ASSERT_NE(enc.State(), nullptr);
  EXPECT_EQ(enc.State()->frameLength, 480);
  uint8_t asc[64];
  const int n = AacEldEncoderConfig(enc.State(), asc, sizeof(asc));
  ASSERT_EQ(n, 4);
  EXPECT_EQ(asc[0], 0xF8);
  EXPECT_EQ(asc[1], 0xE8);
  EXPECT_EQ(asc[2], 0x50);
  EXPECT_EQ(asc[3], 0x00);
  EXPECT_EQ(aacEncoder_GetParam(enc.State()->handle, AACENC_BITRATEMODE), 0u);
  EXPECT_EQ(aacEncoder_GetParam(enc.State()->handle, AACENC_AFTERBURNER), 1u);
  EXPECT_EQ(aacEncoder_GetParam(enc.State()->handle, AACENC_TRANSMUX), static_cast<UINT>(TT_MP4_RAW));
  EXPECT_EQ(aacEncoder_GetParam(enc.State()->handle, AACENC_BITRATE),
            static_cast<UINT>(2 * kAacEldFallbackBitratePerChannel));
}

TEST(EncAudioAAC, EncodesAToneIntoOneFramePer480Samples) {
  AudioParam p = AacParam();
  CEncAudioAAC enc;
  ASSERT_EQ(enc.Init(&p), 0);
  const int frames = 100;
  const std::vector<int16_t> pcm = tone::Make(44100, 480 * frames, {1000, 1000}, {16384, 16384});
  int produced = 0, total = 0, largest = 0;
  // Chunks of 441 frames, as the captor cuts 48 kHz audio after resampling.
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
  const size_t all = pcm.size() * 2;
  for (size_t off = 0; off < all; off += 1764) {
    AudioChunk c;
    c.data = const_cast<uint8_t*>(bytes + off);
    c.size = static_cast<uint32_t>(all - off < 1764 ? all - off : 1764);
    const int n = enc.Encode(&c);
    if (n > 0) {
      ++produced;
      total += n;
      if (n > largest) largest = n;
      ASSERT_NE(c.outData, nullptr);
    }
  }
  // Every whole frame in gives one frame out, except a few the library keeps
  // while filling its delay line.
  EXPECT_GE(produced, frames - 3);
  EXPECT_LE(produced, frames);
  // Constant 128 kbit/s: about 174 bytes a frame; the reservoir of ELD is small.
  const double average = double(total) / produced;
  EXPECT_NEAR(average, 128000.0 * 480 / 44100 / 8, 10.0);
  EXPECT_LT(largest, 400);
}

TEST(EncAudioAAC, ChannelCountsAndRefusals) {
  for (int ch = 1; ch <= 6; ++ch) {
    AacEldState* s = nullptr;
    EXPECT_EQ(AacEldEncoderOpen(44100, ch, &s), 0) << ch;
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->frameLength, 480);
    AacEldEncoderClose(s);
  }
  AacEldState* s = reinterpret_cast<AacEldState*>(1);
  EXPECT_EQ(AacEldEncoderOpen(44100, 7, &s), -1);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(AacEldEncoderOpen(44100, 0, &s), -1);
  EXPECT_EQ(AacEldEncoderOpen(12345, 2, &s), -5);
  EXPECT_EQ(s, nullptr);

  // A failed open leaves an encoder that encodes nothing.
  AudioParam p = AacParam();
  p.SampleRate = 12345;
  CEncAudioAAC enc;
  EXPECT_EQ(enc.Init(&p), -5);
  EXPECT_FALSE(enc.CodecOpen());
  std::vector<uint8_t> pcm(1920);
  AudioChunk c;
  c.data = pcm.data();
  c.size = 1920;
  EXPECT_EQ(enc.Encode(&c), 0);
}

TEST(EncAudioALAC, FramesOf352AndRefusedDepths) {
  AudioParam p;
  p.SampleRate = 44100;
  p.FrameSize = kAlacFrameSize;
  CEncAudioALAC enc;
  ASSERT_EQ(enc.Init(&p), 0);
  EXPECT_EQ(enc.FrameBytes(), 1408);
  const std::vector<int16_t> pcm = tone::Make(44100, 352 * 4, {1000, 1500}, {8000, 8000});
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
  int frames = 0;
  for (size_t off = 0; off < pcm.size() * 2; off += 704) {
    AudioChunk c;
    c.data = const_cast<uint8_t*>(bytes + off);
    c.size = 704;
    const int n = enc.Encode(&c);
    if (n > 0) {
      ++frames;
      EXPECT_LT(n, 1408) << "a clean tone compresses";
    }
  }
  EXPECT_EQ(frames, 4);

  for (int bits : {8, 12, 15, 0, 64}) {
    AudioParam q = p;
    q.BitsPerSample = bits;
    CEncAudioALAC bad;
    EXPECT_EQ(bad.Init(&q), -1) << bits;
  }
}
