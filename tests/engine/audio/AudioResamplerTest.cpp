#include "engine/audio/AudioResampler.h"

#include <gtest/gtest.h>

#include <vector>

#include "ToneUtil.h"

// 48 kHz stereo in 480-frame packets (the device's 10 ms) becomes 44.1 kHz
// with each channel's tone at the same frequency and level.
TEST(AudioResampler, KeepsFrequencyAndLevelFrom48000) {
  AudioResampler r;
  ASSERT_EQ(r.Init(48000, 480), 0);
  EXPECT_EQ(r.dstSamples, 441);
  const int packets = 200;  // 2 s
  const std::vector<int16_t> in = tone::Make(48000, 480 * packets, {1000, 3000}, {16384, 8192});
  std::vector<int16_t> out;
  for (int i = 0; i < packets; ++i) {
    uint8_t* pcm = nullptr;
    int bytes = -1;
    ASSERT_EQ(r.Convert(reinterpret_cast<const uint8_t*>(&in[i * 960]), 480, &pcm, &bytes), 0);
    ASSERT_EQ(bytes % 4, 0);
    // About 441 frames a packet (the filter's delay moves it by a few).
    if (i > 2) {
      EXPECT_NEAR(bytes / 4, 441, 2) << i;
    }
    const int16_t* s = reinterpret_cast<const int16_t*>(pcm);
    out.insert(out.end(), s, s + bytes / 2);
  }
  EXPECT_NEAR(double(out.size() / 2), 480.0 * packets * 44100 / 48000, 64);

  const size_t skip = 2000;  // the filter's start-up
  const std::vector<double> left = tone::Channel(out, 2, 0, skip);
  const std::vector<double> right = tone::Channel(out, 2, 1, skip);
  EXPECT_NEAR(tone::Frequency(left, 44100), 1000.0, 0.5);
  EXPECT_NEAR(tone::Frequency(right, 44100), 3000.0, 1.5);
  EXPECT_NEAR(tone::Db(tone::Rms(left) / (16384 / std::sqrt(2.0))), 0.0, 0.1);
  EXPECT_NEAR(tone::Db(tone::Rms(right) / (8192 / std::sqrt(2.0))), 0.0, 0.1);
  EXPECT_LT(tone::ResidualDb(left, 1000, 44100), -60.0);
  EXPECT_LT(tone::ResidualDb(right, 3000, 44100), -60.0);
}

TEST(AudioResampler, GrowsItsBufferForLargerPackets) {
  AudioResampler r;
  ASSERT_EQ(r.Init(48000, 480), 0);
  const std::vector<int16_t> in = tone::Make(48000, 4800, {1000, 1000}, {1000, 1000});
  uint8_t* pcm = nullptr;
  int bytes = 0;
  ASSERT_EQ(r.Convert(reinterpret_cast<const uint8_t*>(in.data()), 4800, &pcm, &bytes), 0);
  EXPECT_GE(r.dstSamplesAllocated, 4410);
  EXPECT_NEAR(bytes / 4, 4410, 40);
}

TEST(AudioResampler, RefusesWhatItCannotConvert) {
  for (int rate : {0, -44100}) {
    AudioResampler r;
    EXPECT_EQ(r.Init(rate, 480), -2) << rate;
    uint8_t in[4] = {};
    uint8_t* pcm = reinterpret_cast<uint8_t*>(1);
    int bytes = 7;
    EXPECT_EQ(r.Convert(in, 1, &pcm, &bytes), -2);
    EXPECT_EQ(pcm, nullptr);
    EXPECT_EQ(bytes, 0);
  }
}
