#include "engine/audio/AudioFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Format {
  const char* name;
  int width;
  bool isFloat;
};

const Format kFormats[] = {
    {"u8", 1, false}, {"s16", 2, false}, {"s24", 3, false}, {"s32", 4, false}, {"f32", 4, true}};

// Largest and smallest centred value of a format.
double MaxOf(const Format& f) { return f.isFloat ? 1e30 : std::ldexp(1.0, 8 * f.width - 1) - 1; }
double MinOf(const Format& f) { return f.isFloat ? -1e30 : -std::ldexp(1.0, 8 * f.width - 1); }

// A fraction of full scale as the format's centred value.
double Scale(const Format& f, double v) {
  if (f.isFloat) return v;
  double s = std::nearbyint(v * std::ldexp(1.0, 8 * f.width - 1));
  if (s > MaxOf(f)) s = MaxOf(f);
  if (s < MinOf(f)) s = MinOf(f);
  return s;
}

void Put(const Format& f, uint8_t* p, double centred) {
  if (f.isFloat) {
    float x = static_cast<float>(centred);
    memcpy(p, &x, 4);
    return;
  }
  int64_t s = static_cast<int64_t>(centred) + (f.width == 1 ? 128 : 0);
  for (int i = 0; i < f.width; ++i) p[i] = static_cast<uint8_t>(uint64_t(s) >> (8 * i));
}

double Get(const Format& f, const uint8_t* p) {
  if (f.isFloat) {
    float x;
    memcpy(&x, p, 4);
    return x;
  }
  uint64_t u = 0;
  for (int i = 0; i < f.width; ++i) u |= uint64_t(p[i]) << (8 * i);
  if (f.width == 1) return double(u) - 128;
  const int shift = 64 - 8 * f.width;
  return double(static_cast<int64_t>(u << shift) >> shift);
}

// Left and right weights of each input channel of a down-mix.
struct Mix {
  int channels;
  std::vector<double> left, right;
};

const Mix kMixes[] = {
    {1, {1}, {1}},
    {2, {1, 0}, {0, 1}},
    {4, {0.8, 0, 0.2, 0}, {0, 0.8, 0, 0.2}},
    {6, {0.6, 0, 0.25, 0.05, 0.1, 0}, {0, 0.6, 0.25, 0.05, 0, 0.1}},
    {8, {0.45, 0, 0.25, 0.05, 0.1, 0, 0.15, 0}, {0, 0.45, 0.25, 0.05, 0, 0.1, 0, 0.15}},
};

// Fixture frames as fractions of full scale, one value per channel (first
// `channels` used): mixed signs, full negative, full positive, silence.
const double kFrames[][8] = {
    {0.5, -0.25, 0.125, -0.75, 0.3, -0.6, 0.9, -0.9},
    {-1, -1, -1, -1, -1, -1, -1, -1},
    {1, 1, 1, 1, 1, 1, 1, 1},
    {0, 0, 0, 0, 0, 0, 0, 0},
    {-0.001, 0.002, -0.5, 0.5, -0.9, 0.9, 0.7, -0.7},
};

}  // namespace

TEST(AudioFilter, DownMixTable) {
  for (const Format& f : kFormats) {
    for (const Mix& m : kMixes) {
      SCOPED_TRACE(std::string(f.name) + " x" + std::to_string(m.channels));
      std::unique_ptr<CAudioFilter> filter(CAudioFilter::Create(m.channels, f.width, f.isFloat));
      ASSERT_EQ(filter->InputChannels(), m.channels);
      const int frames = sizeof(kFrames) / sizeof(kFrames[0]);
      std::vector<uint8_t> in(size_t(frames) * m.channels * f.width);
      std::vector<double> centred(size_t(frames) * m.channels);
      for (int i = 0; i < frames; ++i)
        for (int c = 0; c < m.channels; ++c) {
          centred[i * m.channels + c] = Scale(f, kFrames[i][c]);
          Put(f, &in[(i * m.channels + c) * f.width], centred[i * m.channels + c]);
        }
      // Guard bytes after the output catch a filter that writes too much.
      const size_t outBytes = size_t(frames) * 2 * f.width;
      std::vector<uint8_t> out(outBytes + 16, 0xA5);
      filter->Process(out.data(), in.data(), frames);
      for (size_t i = outBytes; i < out.size(); ++i) ASSERT_EQ(out[i], 0xA5) << "wrote past the output";

      for (int i = 0; i < frames; ++i) {
        for (int side = 0; side < 2; ++side) {
          const std::vector<double>& w = side ? m.right : m.left;
          double expect = 0;
          for (int c = 0; c < m.channels; ++c) expect += w[c] * centred[i * m.channels + c];
          if (!f.isFloat) expect = std::fmin(std::fmax(std::nearbyint(expect), MinOf(f)), MaxOf(f));
          const double got = Get(f, &out[(i * 2 + side) * f.width]);
          const double tol = f.isFloat ? 1e-6 : 1.0;
          EXPECT_NEAR(got, expect, tol) << "frame " << i << (side ? " right" : " left");
        }
      }
    }
  }
}

TEST(AudioFilter, MonoAndStereoKeepTheExactBytes) {
  // Copies, not conversions: every bit pattern survives, including the ones
  // a round trip through a double would not.
  for (const Format& f : kFormats) {
    SCOPED_TRACE(f.name);
    std::vector<uint8_t> in(64 * f.width);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 37 + 11);
    std::unique_ptr<CAudioFilter> stereo(CAudioFilter::Create(2, f.width, f.isFloat));
    std::vector<uint8_t> out(in.size());
    stereo->Process(out.data(), in.data(), 32);
    EXPECT_EQ(out, in);

    std::unique_ptr<CAudioFilter> mono(CAudioFilter::Create(1, f.width, f.isFloat));
    std::vector<uint8_t> dup(in.size() * 2);
    mono->Process(dup.data(), in.data(), 64);
    for (int i = 0; i < 64; ++i) {
      ASSERT_EQ(memcmp(&dup[(2 * i) * f.width], &in[i * f.width], f.width), 0);
      ASSERT_EQ(memcmp(&dup[(2 * i + 1) * f.width], &in[i * f.width], f.width), 0);
    }
  }
}

TEST(AudioFilter, FormatsAndSilence) {
  struct {
    int width;
    bool isFloat;
    int effectiveWidth;
    double bias;
    uint8_t silence;
  } cases[] = {
      {1, false, 1, 128, 0x80},        {2, false, 2, 32768, 0},
      {3, false, 3, 8388608, 0},       {4, false, 4, 2147483648.0, 0},
      {0, false, 4, 2147483648.0, 0},  {4, true, 4, 0, 0},
  };
  for (const auto& c : cases) {
    std::unique_ptr<CAudioFilter> f(CAudioFilter::Create(2, c.width, c.isFloat));
    EXPECT_EQ(f->Width(), c.effectiveWidth) << c.width;
    EXPECT_EQ(f->Bias(), c.bias) << c.width;
    EXPECT_EQ(f->SilenceByte(), c.silence) << c.width;
  }
  // Channel counts without a down-mix of their own are taken as stereo.
  for (int ch : {0, 2, 3, 5, 7, 9}) {
    std::unique_ptr<CAudioFilter> f(CAudioFilter::Create(ch, 2, false));
    EXPECT_EQ(f->InputChannels(), 2) << ch;
  }
}
