// Apple Lossless (ALAC) frame encoder: weighted stereo mixing, an adaptive
// FIR predictor per channel and adaptive Golomb-Rice coding of the residuals,
// with an uncompressed fallback. No platform headers.
#pragma once

#include <cstdint>

// A stream description (the layout of a Core Audio basic description).
struct AlacStreamDescription {
  double sampleRate = 0;
  uint32_t formatId = 0;
  uint32_t formatFlags = 0;
  uint32_t bytesPerPacket = 0;
  uint32_t framesPerPacket = 0;
  uint32_t bytesPerFrame = 0;
  uint32_t channelsPerFrame = 0;
  uint32_t bitsPerChannel = 0;
  uint32_t reserved = 0;
};

constexpr uint32_t kAlacFormatLinearPCM = 0x6C70636D;     // "lpcm"
constexpr uint32_t kAlacFormatAppleLossless = 0x616C6163;  // "alac"
constexpr uint32_t kAlacFormatFlagIsFloat = 1;
constexpr uint32_t kAlacFormatFlagsSignedPacked = 12;      // signed integer | packed
// Output format flags by bit depth: 1 16-bit, 2 20-bit, 3 24-bit, 4 32-bit.
constexpr uint32_t kAlacFlags16 = 1, kAlacFlags20 = 2, kAlacFlags24 = 3, kAlacFlags32 = 4;

// The coding parameters every frame uses; the announcement carries them.
constexpr uint32_t kAlacMaxChannels = 8;
constexpr uint32_t kAlacHistoryMult = 40;     // pb
constexpr uint32_t kAlacInitialHistory = 10;  // mb
constexpr uint32_t kAlacRiceLimit = 14;       // kb
constexpr uint32_t kAlacMaxRun = 255;
constexpr int kAlacCookieBytes = 24;

constexpr int kAlacErrParam = -50;
constexpr int kAlacErrMemory = -108;

class ALACEncoder {
 public:
  ALACEncoder();
  virtual ~ALACEncoder();
  ALACEncoder(const ALACEncoder&) = delete;
  ALACEncoder& operator=(const ALACEncoder&) = delete;

  // Encodes *ioBytes bytes of interleaved PCM (whole frames of the input
  // description, at most the frame size) into one ALAC frame at out; on
  // return *ioBytes is the frame's size, never above OutputSizeLimit(). 0, or
  // kAlacErrParam for input the encoder cannot take.
  virtual int Encode(const AlacStreamDescription& input, const AlacStreamDescription& output,
                     const uint8_t* in, uint8_t* out, int* ioBytes);
  virtual int Close() { return 0; }
  // Takes rate, channels (1..8) and bit depth from the output description and
  // makes the work buffers. 0, kAlacErrParam or kAlacErrMemory.
  virtual int Configure(const AlacStreamDescription& output);
  // The depth used for integer PCM of this description (16, 20, 24, 32); 16
  // for anything else. Also kept as the encoder's bit depth.
  virtual int SourceBitDepth(const AlacStreamDescription& input);

  // Sample frames of a full frame; set before Configure.
  void SetFrameSize(uint32_t frames) { frameSize_ = frames; }
  uint32_t FrameSize() const { return frameSize_; }
  uint32_t OutputSizeLimit() const { return maxOutputBytes_; }
  int BitDepth() const { return bitDepth_; }
  uint64_t TotalBytes() const { return totalBytes_; }
  uint32_t LargestFrame() const { return maxFrameBytes_; }
  // The ALACSpecificConfig ("magic cookie") of the configured stream: 24
  // bytes into buf, or 0 when it does not fit or nothing is configured.
  int MagicCookie(uint8_t* buf, int size) const;

 private:
  class BitWriter;
  int EncodeStereo(BitWriter& bw, const uint8_t* in, uint32_t stride, uint32_t channel,
                   uint32_t frames);
  int EncodeMono(BitWriter& bw, const uint8_t* in, uint32_t stride, uint32_t channel,
                 uint32_t frames);
  void WriteEscape(BitWriter& bw, const uint8_t* in, uint32_t stride, uint32_t channel,
                   uint32_t elementChannels, uint32_t frames);
  int32_t ReadSample(const uint8_t* p) const;

  int bitDepth_ = 0;
  int32_t* mixU_ = nullptr;
  int32_t* mixV_ = nullptr;
  int32_t* predU_ = nullptr;
  int32_t* predV_ = nullptr;
  uint16_t* shiftUV_ = nullptr;
  uint8_t* work_ = nullptr;
  int16_t coefsU_[kAlacMaxChannels][16][16];
  int16_t coefsV_[kAlacMaxChannels][16][16];
  uint32_t frameSize_ = 0;
  uint32_t maxOutputBytes_ = 0;
  uint32_t channels_ = 0;
  uint32_t sampleRate_ = 0;
  uint64_t totalBytes_ = 0;
  uint32_t maxFrameBytes_ = 0;
};
