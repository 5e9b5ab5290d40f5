#include "engine/audio/AudioFilter.h"

#include <cmath>
#include <cstring>

CAudioFilter::CAudioFilter(int width, bool isFloat) : isFloat_(isFloat) {
  if (isFloat) {
    width_ = 4;
    bias_ = 0.0;
    return;
  }
  width_ = (width == 1 || width == 2 || width == 3) ? width : 4;
  static const double kBias[5] = {0.0, 128.0, 32768.0, 8388608.0, 2147483648.0};
  bias_ = kBias[width_];
}

double CAudioFilter::Read(const uint8_t* p) const {
  if (isFloat_) {
    float f;
    memcpy(&f, p, 4);
    return f;
  }
  switch (width_) {
    case 1:
      return static_cast<double>(p[0]) - bias_;
    case 2:
      return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    case 3: {
      uint32_t u = p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16);
      return static_cast<int32_t>(u << 8) >> 8;
    }
    default: {
      uint32_t u = p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16) |
                   (static_cast<uint32_t>(p[3]) << 24);
      return static_cast<int32_t>(u);
    }
  }
}

void CAudioFilter::Write(uint8_t* p, double v) const {
  if (isFloat_) {
    float f = static_cast<float>(v);
    memcpy(p, &f, 4);
    return;
  }
  // Clamp before converting: a double outside the integer's range has no
  // defined conversion.
  const double hi = bias_ - 1.0, lo = -bias_;
  v = std::nearbyint(v);
  if (!(v >= lo)) v = lo;  // also catches NaN
  if (v > hi) v = hi;
  int64_t s = static_cast<int64_t>(v);
  if (width_ == 1) s += 128;
  uint32_t u = static_cast<uint32_t>(s);
  for (int i = 0; i < width_; ++i) p[i] = static_cast<uint8_t>(u >> (8 * i));
}

CAudioFilter* CAudioFilter::Create(int channels, int width, bool isFloat) {
  switch (channels) {
    case 1:
      return new CAudioFilterSourceCh1(width, isFloat);
    case 4:
      return new CAudioFilterSourceCh4(width, isFloat);
    case 6:
      return new CAudioFilterSourceCh5_1(width, isFloat);
    case 8:
      return new CAudioFilterSourceCh8(width, isFloat);
    default:
      return new CAudioFilterSourceCh2(width, isFloat);
  }
}

void CAudioFilterSourceCh1::Process(uint8_t* out, const uint8_t* in, uint32_t frames) {
  const int w = width_;
  for (uint32_t i = 0; i < frames; ++i, in += w, out += 2 * w) {
    memcpy(out, in, w);
    memcpy(out + w, in, w);
  }
}

void CAudioFilterSourceCh2::Process(uint8_t* out, const uint8_t* in, uint32_t frames) {
  memcpy(out, in, static_cast<size_t>(frames) * width_ * 2);
}

void CAudioFilterSourceCh4::Process(uint8_t* out, const uint8_t* in, uint32_t frames) {
  const int w = width_;
  for (uint32_t i = 0; i < frames; ++i, in += 4 * w, out += 2 * w) {
    const double s0 = Read(in), s1 = Read(in + w), s2 = Read(in + 2 * w), s3 = Read(in + 3 * w);
    Write(out, 0.8 * s0 + 0.2 * s2);
    Write(out + w, 0.8 * s1 + 0.2 * s3);
  }
}

void CAudioFilterSourceCh5_1::Process(uint8_t* out, const uint8_t* in, uint32_t frames) {
  const int w = width_;
  for (uint32_t i = 0; i < frames; ++i, in += 6 * w, out += 2 * w) {
    double s[6];
    for (int c = 0; c < 6; ++c) s[c] = Read(in + c * w);
    const double shared = 0.25 * s[2] + 0.05 * s[3];
    Write(out, 0.6 * s[0] + shared + 0.1 * s[4]);
    Write(out + w, 0.6 * s[1] + shared + 0.1 * s[5]);
  }
}

void CAudioFilterSourceCh8::Process(uint8_t* out, const uint8_t* in, uint32_t frames) {
  const int w = width_;
  for (uint32_t i = 0; i < frames; ++i, in += 8 * w, out += 2 * w) {
    double s[8];
    for (int c = 0; c < 8; ++c) s[c] = Read(in + c * w);
    const double shared = 0.25 * s[2] + 0.05 * s[3];
    Write(out, 0.45 * s[0] + shared + 0.1 * s[4] + 0.15 * s[6]);
    Write(out + w, 0.45 * s[1] + shared + 0.1 * s[5] + 0.15 * s[7]);
  }
}
