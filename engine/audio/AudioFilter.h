// Sample filters of the audio captor: turn one captured frame layout (1, 2,
// 4, 6 or 8 channels) into interleaved stereo frames of the same sample
// format. No platform headers.
//
// Samples are handled as centred values: 8-bit PCM is offset binary (bias
// 128), 16/24/32-bit PCM is two's complement, floats are used as they are.
// Down-mixed values are rounded and clamped to the format's range on write,
// so a loud mix saturates instead of wrapping around.
#pragma once

#include <cstdint>

class CAudioFilter {
 public:
  // width: bytes per sample (1, 2, 3; anything else means 4). isFloat: 32-bit
  // float samples (width is then 4).
  CAudioFilter(int width, bool isFloat);
  virtual ~CAudioFilter() = default;

  // Writes frames stereo frames (2 x Width() bytes each) to out from frames
  // input frames of InputChannels() x Width() bytes each. Reads and writes
  // exactly that many bytes.
  virtual void Process(uint8_t* out, const uint8_t* in, uint32_t frames) = 0;
  virtual int InputChannels() const = 0;

  int Width() const { return width_; }
  bool IsFloat() const { return isFloat_; }
  // The offset of the unsigned (8-bit) form: 128, 32768, 8388608 or 2147483648.
  double Bias() const { return bias_; }
  // One byte of the format's silence: 0x80 for 8-bit PCM, 0 otherwise.
  uint8_t SilenceByte() const { return (!isFloat_ && width_ == 1) ? 0x80 : 0; }

  // The source for a capture format's channel count: 1, 4, 6, 8 down-mix or
  // duplicate; anything else is taken as stereo. The caller owns the result.
  static CAudioFilter* Create(int channels, int width, bool isFloat);

 protected:
  double Read(const uint8_t* p) const;
  void Write(uint8_t* p, double v) const;

  int width_;
  bool isFloat_;
  double bias_;
};

class CAudioFilterSourceCh1 final : public CAudioFilter {
 public:
  using CAudioFilter::CAudioFilter;
  void Process(uint8_t* out, const uint8_t* in, uint32_t frames) override;
  int InputChannels() const override { return 1; }
};

class CAudioFilterSourceCh2 final : public CAudioFilter {
 public:
  using CAudioFilter::CAudioFilter;
  void Process(uint8_t* out, const uint8_t* in, uint32_t frames) override;
  int InputChannels() const override { return 2; }
};

// Quadraphonic: front pair with a fifth of the rear pair.
class CAudioFilterSourceCh4 final : public CAudioFilter {
 public:
  using CAudioFilter::CAudioFilter;
  void Process(uint8_t* out, const uint8_t* in, uint32_t frames) override;
  int InputChannels() const override { return 4; }
};

// 5.1 in WAVE order (FL FR FC LFE BL BR).
class CAudioFilterSourceCh5_1 final : public CAudioFilter {
 public:
  using CAudioFilter::CAudioFilter;
  void Process(uint8_t* out, const uint8_t* in, uint32_t frames) override;
  int InputChannels() const override { return 6; }
};

// 7.1 in WAVE order (FL FR FC LFE BL BR SL SR).
class CAudioFilterSourceCh8 final : public CAudioFilter {
 public:
  using CAudioFilter::CAudioFilter;
  void Process(uint8_t* out, const uint8_t* in, uint32_t frames) override;
  int InputChannels() const override { return 8; }
};
