#include "engine/audio/ALACEncoder.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "foundation/net/ByteOrder.h"

namespace {

constexpr uint32_t kIdSingle = 0, kIdPair = 1, kIdLfe = 3, kIdEnd = 7;
constexpr int kCoefShift = 9;     // predictor coefficients are Q9
constexpr int kMixBits = 2;       // mixing weights are r/4
constexpr uint32_t kPbFactor = 4; // history multiplier = pb * 4 / 4
constexpr int kMaxPrefix = 9;     // a unary prefix of 9 ones escapes to a raw value
constexpr uint32_t kMaxZeroRun = 65535;
constexpr uint32_t kFrameHeaderBits = 12 + 4;

// Channel elements for 1..8 channels, 0xFF-terminated.
const uint8_t kElements[kAlacMaxChannels][6] = {
    {kIdSingle, 0xFF},
    {kIdPair, 0xFF},
    {kIdSingle, kIdPair, 0xFF},
    {kIdSingle, kIdPair, kIdSingle, 0xFF},
    {kIdSingle, kIdPair, kIdPair, 0xFF},
    {kIdSingle, kIdPair, kIdPair, kIdSingle, 0xFF},
    {kIdSingle, kIdPair, kIdPair, kIdSingle, kIdSingle, 0xFF},
    {kIdSingle, kIdPair, kIdPair, kIdPair, kIdSingle, 0xFF},
};

inline int32_t SignExtend(uint32_t v, int bits) {
  return static_cast<int32_t>(v << (32 - bits)) >> (32 - bits);
}

inline int SignOf(int32_t v) { return (v > 0) - (v < 0); }

// floor(log2(v)), 0 for 0.
inline int Log2(uint32_t v) { return v ? 31 - __builtin_clz(v) : 0; }

inline uint32_t ContainerBytes(int bitDepth) {
  return bitDepth == 16 ? 2 : bitDepth == 32 ? 4 : 3;
}

// Runs the adaptive FIR predictor over n samples of x, writing residuals
// (wrapped to chanBits) to e and adapting the coefficients in place, exactly
// as a decoder undoes it. Coefficients are in stream order: c[0] weighs the
// newest sample. Arithmetic wraps at 32 bits like the decoder's.
void Predict(const int32_t* x, int32_t* e, uint32_t n, int16_t* c, int order, int chanBits) {
  if (n == 0) return;
  e[0] = x[0];
  uint32_t i = 1;
  for (; i <= static_cast<uint32_t>(order) && i < n; ++i)
    e[i] = SignExtend(static_cast<uint32_t>(x[i]) - static_cast<uint32_t>(x[i - 1]), chanBits);
  for (; i < n; ++i) {
    const int32_t top = x[i - order - 1];
    uint32_t sum = 0;
    for (int t = 0; t < order; ++t)
      sum += static_cast<uint32_t>(x[i - 1 - t] - top) *
             static_cast<uint32_t>(static_cast<int32_t>(c[t]));
    const int32_t p = static_cast<int32_t>(
        (static_cast<int64_t>(static_cast<int32_t>(sum)) + (1 << (kCoefShift - 1))) >> kCoefShift);
    const int32_t del = SignExtend(
        static_cast<uint32_t>(x[i]) - static_cast<uint32_t>(top) - static_cast<uint32_t>(p),
        chanBits);
    e[i] = del;
    const int sgn = SignOf(del);
    if (!sgn) continue;
    // Move the coefficients towards a smaller error, oldest sample first,
    // until the error's sign would flip.
    uint32_t err = static_cast<uint32_t>(del);
    for (int j = 0; j < order && static_cast<int32_t>(err * static_cast<uint32_t>(sgn)) > 0; ++j) {
      const int t = order - 1 - j;
      int32_t val = top - x[i - 1 - t];
      const int s = SignOf(val) * sgn;
      c[t] = static_cast<int16_t>(c[t] - s);
      val = static_cast<int32_t>(static_cast<uint32_t>(val) * static_cast<uint32_t>(s));
      err -= static_cast<uint32_t>(val >> kCoefShift) * static_cast<uint32_t>(j + 1);
    }
  }
}

}  // namespace

// MSB-first bit writer into a bounded buffer; with no buffer it only counts.
// Bits past the capacity are counted but not stored.
class ALACEncoder::BitWriter {
 public:
  BitWriter(uint8_t* buf, uint32_t capBytes) : buf_(buf), capBits_(uint64_t(capBytes) * 8) {}

  void Write(uint32_t v, int n) {
    while (n > 0) {
      const int used = static_cast<int>(pos_ & 7);
      const int room = 8 - used;
      const int take = n < room ? n : room;
      const uint32_t bits = (v >> (n - take)) & ((1u << take) - 1);
      if (buf_ && pos_ + take <= capBits_) {
        uint8_t& b = buf_[pos_ >> 3];
        if (used == 0) b = 0;
        b = static_cast<uint8_t>(b | (bits << (room - take)));
      }
      pos_ += take;
      n -= take;
    }
  }
  void ByteAlign() {
    if (pos_ & 7) Write(0, 8 - static_cast<int>(pos_ & 7));
  }
  uint64_t Bits() const { return pos_; }
  bool Overflowed() const { return buf_ && pos_ > capBits_; }
  void Rewind(uint64_t pos) {
    pos_ = pos;
    if (buf_ && (pos_ & 7) && pos_ < capBits_)
      buf_[pos_ >> 3] &= static_cast<uint8_t>(0xFF00 >> (pos_ & 7));
  }

 private:
  uint8_t* buf_;
  uint64_t capBits_;
  uint64_t pos_ = 0;
};

namespace {

// One Golomb-Rice code with parameter k, or the escape (9 ones and the raw
// value in rawBits bits) when the quotient would need 9 or more ones.
template <typename W>
void WriteScalar(W& bw, uint32_t x, int k, int rawBits) {
  const uint32_t m = (1u << k) - 1;
  const uint32_t q = x / m, r = x % m;
  if (q >= static_cast<uint32_t>(kMaxPrefix)) {
    bw.Write((1u << kMaxPrefix) - 1, kMaxPrefix);
    bw.Write(x, rawBits);
    return;
  }
  bw.Write(((1u << q) - 1) << 1, static_cast<int>(q) + 1);  // q ones and a zero
  if (k > 1) {
    if (r == 0) bw.Write(0, k - 1);
    else bw.Write(r + 1, k);
  }
}

// Adaptive Golomb-Rice coding of n residuals of chanBits bits, with runs of
// zeros coded as counts while the running mean is small.
template <typename W>
void WriteResiduals(W& bw, const int32_t* e, uint32_t n, int chanBits) {
  uint32_t history = kAlacInitialHistory;
  const uint32_t mult = kAlacHistoryMult * kPbFactor / 4;
  uint32_t zmode = 0;
  uint32_t c = 0;
  while (c < n) {
    int k = Log2((history >> 9) + 3);
    if (k > static_cast<int>(kAlacRiceLimit)) k = kAlacRiceLimit;
    const int32_t del = e[c++];
    const uint32_t val = del >= 0 ? static_cast<uint32_t>(del) << 1
                                  : (static_cast<uint32_t>(-static_cast<int64_t>(del)) << 1) - 1;
    WriteScalar(bw, val - zmode, k, chanBits);
    if (val > 0xFFFF) history = 0xFFFF;
    else history += val * mult - ((history * mult) >> 9);
    zmode = 0;
    if (history < 128 && c < n) {
      zmode = 1;
      uint32_t zeros = 0;
      while (c < n && e[c] == 0) {
        ++c;
        if (++zeros >= kMaxZeroRun) {
          zmode = 0;
          break;
        }
      }
      int kz = 7 - Log2(history) + static_cast<int>((history + 16) >> 6);
      if (kz > static_cast<int>(kAlacRiceLimit)) kz = kAlacRiceLimit;
      WriteScalar(bw, zeros, kz, 16);
      history = 0;
    }
  }
}

struct BitCounter {
  uint64_t bits = 0;
  void Write(uint32_t, int n) { bits += n; }
};

uint64_t ResidualBits(const int32_t* e, uint32_t n, int chanBits) {
  BitCounter bc;
  WriteResiduals(bc, e, n, chanBits);
  return bc.bits;
}

}  // namespace

ALACEncoder::ALACEncoder() : frameSize_(352) {
  memset(coefsU_, 0, sizeof(coefsU_));
  memset(coefsV_, 0, sizeof(coefsV_));
}

ALACEncoder::~ALACEncoder() {
  delete[] mixU_;
  delete[] mixV_;
  delete[] predU_;
  delete[] predV_;
  delete[] shiftUV_;
  delete[] work_;
}

int ALACEncoder::Configure(const AlacStreamDescription& output) {
  int depth;
  switch (output.formatFlags) {
    case kAlacFlags16: depth = 16; break;
    case kAlacFlags20: depth = 20; break;
    case kAlacFlags24: depth = 24; break;
    case kAlacFlags32: depth = 32; break;
    default: return kAlacErrParam;
  }
  if (output.channelsPerFrame < 1 || output.channelsPerFrame > kAlacMaxChannels ||
      frameSize_ == 0 || frameSize_ > (1u << 20))
    return kAlacErrParam;
  bitDepth_ = depth;
  channels_ = output.channelsPerFrame;
  sampleRate_ = static_cast<uint32_t>(output.sampleRate);
  maxOutputBytes_ = frameSize_ * channels_ * 5 + 1;

  delete[] mixU_;
  delete[] mixV_;
  delete[] predU_;
  delete[] predV_;
  delete[] shiftUV_;
  delete[] work_;
  mixU_ = new (std::nothrow) int32_t[frameSize_];
  mixV_ = new (std::nothrow) int32_t[frameSize_];
  predU_ = new (std::nothrow) int32_t[frameSize_];
  predV_ = new (std::nothrow) int32_t[frameSize_];
  shiftUV_ = new (std::nothrow) uint16_t[frameSize_ * 2];
  work_ = new (std::nothrow) uint8_t[maxOutputBytes_];
  if (!mixU_ || !mixV_ || !predU_ || !predV_ || !shiftUV_ || !work_) return kAlacErrMemory;

  // The reference start values 38, -29, -2 in Q9.
  for (uint32_t ch = 0; ch < kAlacMaxChannels; ++ch) {
    for (int set = 0; set < 16; ++set) {
      for (int16_t (*coefs)[16][16] : {coefsU_, coefsV_}) {
        int16_t* c = coefs[ch][set];
        memset(c, 0, 16 * sizeof(int16_t));
        c[0] = 1216;
        c[1] = -928;
        c[2] = -64;
      }
    }
  }
  return 0;
}

int ALACEncoder::SourceBitDepth(const AlacStreamDescription& input) {
  int depth = 16;
  if (input.formatId == kAlacFormatLinearPCM && !(input.formatFlags & kAlacFormatFlagIsFloat)) {
    const uint32_t bits = input.bitsPerChannel;
    depth = bits <= 16 ? 16 : bits <= 20 ? 20 : bits <= 24 ? 24 : 32;
  }
  bitDepth_ = depth;
  return depth;
}

int32_t ALACEncoder::ReadSample(const uint8_t* p) const {
  switch (bitDepth_) {
    case 16:
      return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    case 32:
      return static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) |
                                  (static_cast<uint32_t>(p[3]) << 24));
    default: {
      // 24-bit containers; 20-bit samples sit in their top bits.
      const int32_t v = static_cast<int32_t>((static_cast<uint32_t>(p[0]) << 8) |
                                             (static_cast<uint32_t>(p[1]) << 16) |
                                             (static_cast<uint32_t>(p[2]) << 24));
      return bitDepth_ == 20 ? v >> 12 : v >> 8;
    }
  }
}

int ALACEncoder::MagicCookie(uint8_t* buf, int size) const {
  if (size < kAlacCookieBytes || !work_) return 0;
  PutBe32(buf, frameSize_);
  buf[4] = 0;  // compatible version
  buf[5] = static_cast<uint8_t>(bitDepth_);
  buf[6] = kAlacHistoryMult;
  buf[7] = kAlacInitialHistory;
  buf[8] = kAlacRiceLimit;
  buf[9] = static_cast<uint8_t>(channels_);
  buf[10] = 0;
  buf[11] = kAlacMaxRun;
  PutBe32(buf + 12, 0);  // largest frame: not announced
  PutBe32(buf + 16, 0);  // average bit rate: not announced
  PutBe32(buf + 20, sampleRate_);
  return kAlacCookieBytes;
}

void ALACEncoder::WriteEscape(BitWriter& bw, const uint8_t* in, uint32_t stride, uint32_t channel,
                              uint32_t elementChannels, uint32_t frames) {
  const bool partial = frames < frameSize_;
  // The shifted-bytes field is kept although the samples go out whole:
  // decoders size their sample reads from it before they look at the
  // uncompressed bit (32-bit stereo would otherwise claim 33-bit residuals).
  const uint32_t bytesShifted = bitDepth_ == 32 ? 2 : bitDepth_ == 24 ? 1 : 0;
  bw.Write(0, 12);
  bw.Write((partial ? 8u : 0u) | (bytesShifted << 1) | 1u, 4);
  if (partial) bw.Write(frames, 32);
  const uint32_t bps = ContainerBytes(bitDepth_);
  const uint32_t mask = bitDepth_ == 32 ? 0xFFFFFFFFu : (1u << bitDepth_) - 1;
  for (uint32_t i = 0; i < frames; ++i)
    for (uint32_t ch = 0; ch < elementChannels; ++ch)
      bw.Write(static_cast<uint32_t>(ReadSample(in + i * stride + (channel + ch) * bps)) & mask,
               bitDepth_);
}

int ALACEncoder::EncodeStereo(BitWriter& bw, const uint8_t* in, uint32_t stride, uint32_t channel,
                              uint32_t n) {
  const uint32_t bps = ContainerBytes(bitDepth_);
  const int bytesShifted = bitDepth_ == 32 ? 2 : bitDepth_ == 24 ? 1 : 0;
  const int shift = bytesShifted * 8;
  const uint32_t mask = (1u << shift) - 1;
  const int chanBits = bitDepth_ - shift + 1;
  const bool partial = n < frameSize_;
  const uint32_t n8 = n / 8, n32 = n / 32;

  auto load = [&](uint32_t i, int32_t* l, int32_t* r) {
    *l = ReadSample(in + i * stride + channel * bps);
    *r = ReadSample(in + i * stride + (channel + 1) * bps);
    if (shift) {
      shiftUV_[2 * i] = static_cast<uint16_t>(*l & mask);
      shiftUV_[2 * i + 1] = static_cast<uint16_t>(*r & mask);
      *l >>= shift;
      *r >>= shift;
    }
  };
  auto mix = [&](int res, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      int32_t l, r;
      load(i, &l, &r);
      if (res == 0) {
        mixU_[i] = l;
        mixV_[i] = r;
      } else {
        mixU_[i] = (res * l + ((1 << kMixBits) - res) * r) >> kMixBits;
        mixV_[i] = l - r;
      }
    }
  };

  // Mixing weight: the cheapest on the first eighth with the order-8 predictor.
  int bestRes = 0;
  uint64_t bestBits = ~0ull;
  for (int res = 0; res <= (1 << kMixBits); ++res) {
    mix(res, n8);
    Predict(mixU_, predU_, n8, coefsU_[channel][7], 8, chanBits);
    Predict(mixV_, predV_, n8, coefsV_[channel][7], 8, chanBits);
    const uint64_t bits = ResidualBits(predU_, n8, chanBits) + ResidualBits(predV_, n8, chanBits);
    if (bits < bestBits) {
      bestBits = bits;
      bestRes = res;
    }
  }
  mix(bestRes, n);

  // Predictor order per channel: 4 or 8, after letting each adapt briefly.
  int order[2] = {4, 4};
  uint64_t orderBits[2] = {~0ull, ~0ull};
  int32_t* src[2] = {mixU_, mixV_};
  int32_t* dst[2] = {predU_, predV_};
  int16_t (*sets[2])[16][16] = {coefsU_, coefsV_};
  for (int c = 0; c < 2; ++c) {
    for (int ord = 4; ord <= 8; ord += 4) {
      int16_t* coefs = sets[c][channel][ord - 1];
      for (int pass = 0; pass < 8; ++pass) Predict(src[c], dst[c], n32, coefs, ord, chanBits);
      Predict(src[c], dst[c], n8, coefs, ord, chanBits);
      const uint64_t bits = ResidualBits(dst[c], n8, chanBits) * 8 + 16 * ord;
      if (bits < orderBits[c]) {
        orderBits[c] = bits;
        order[c] = ord;
      }
    }
  }

  const uint64_t escapeBits =
      kFrameHeaderBits + (partial ? 32 : 0) + uint64_t(n) * 2 * bitDepth_;
  const uint64_t estimate = kFrameHeaderBits + (partial ? 32 : 0) + 16 + 2 * 16 +
                            orderBits[0] + orderBits[1] + uint64_t(n) * 2 * shift;
  const uint64_t start = bw.Bits();
  if (estimate < escapeBits) {
    bw.Write(0, 12);
    bw.Write((partial ? 8u : 0u) | (static_cast<uint32_t>(bytesShifted) << 1), 4);
    if (partial) bw.Write(n, 32);
    bw.Write(kMixBits, 8);
    bw.Write(static_cast<uint32_t>(bestRes), 8);
    for (int c = 0; c < 2; ++c) {
      bw.Write((0u << 4) | kCoefShift, 8);
      bw.Write((kPbFactor << 5) | static_cast<uint32_t>(order[c]), 8);
      const int16_t* coefs = sets[c][channel][order[c] - 1];
      for (int t = 0; t < order[c]; ++t) bw.Write(static_cast<uint16_t>(coefs[t]), 16);
    }
    if (shift) {
      for (uint32_t i = 0; i < n; ++i) {
        bw.Write(shiftUV_[2 * i], shift);
        bw.Write(shiftUV_[2 * i + 1], shift);
      }
    }
    // The coefficients were written as they stand before this frame's run;
    // the decoder adapts them along with us.
    for (int c = 0; c < 2; ++c) {
      Predict(src[c], dst[c], n, sets[c][channel][order[c] - 1], order[c], chanBits);
      WriteResiduals(bw, dst[c], n, chanBits);
    }
    const uint64_t written = bw.Bits() - start;
    if (written <= escapeBits && !bw.Overflowed()) return 0;
    printf("compressed frame too big: %u vs. %u \n", static_cast<unsigned>(written),
           static_cast<unsigned>(escapeBits));
    bw.Rewind(start);
  }
  WriteEscape(bw, in, stride, channel, 2, n);
  return 0;
}

int ALACEncoder::EncodeMono(BitWriter& bw, const uint8_t* in, uint32_t stride, uint32_t channel,
                            uint32_t n) {
  const uint32_t bps = ContainerBytes(bitDepth_);
  const int bytesShifted = bitDepth_ == 32 ? 2 : bitDepth_ == 24 ? 1 : 0;
  const int shift = bytesShifted * 8;
  const uint32_t mask = (1u << shift) - 1;
  const int chanBits = bitDepth_ - shift;
  const bool partial = n < frameSize_;
  const uint32_t n8 = n / 8, n32 = n / 32;

  for (uint32_t i = 0; i < n; ++i) {
    int32_t s = ReadSample(in + i * stride + channel * bps);
    if (shift) {
      shiftUV_[i] = static_cast<uint16_t>(s & mask);
      s >>= shift;
    }
    mixU_[i] = s;
  }

  int order = 4;
  uint64_t orderBits = ~0ull;
  for (int ord = 4; ord <= 8; ord += 4) {
    int16_t* coefs = coefsU_[channel][ord - 1];
    for (int pass = 0; pass < 7; ++pass) Predict(mixU_, predU_, n32, coefs, ord, chanBits);
    Predict(mixU_, predU_, n8, coefs, ord, chanBits);
    const uint64_t bits = ResidualBits(predU_, n8, chanBits) * 8 + 16 * ord;
    if (bits < orderBits) {
      orderBits = bits;
      order = ord;
    }
  }

  const uint64_t escapeBits = kFrameHeaderBits + (partial ? 32 : 0) + uint64_t(n) * bitDepth_;
  const uint64_t estimate =
      kFrameHeaderBits + (partial ? 32 : 0) + 16 + 16 + orderBits + uint64_t(n) * shift;
  const uint64_t start = bw.Bits();
  if (estimate < escapeBits) {
    bw.Write(0, 12);
    bw.Write((partial ? 8u : 0u) | (static_cast<uint32_t>(bytesShifted) << 1), 4);
    if (partial) bw.Write(n, 32);
    bw.Write(0, 8);  // no mixing in a single channel
    bw.Write(0, 8);
    bw.Write((0u << 4) | kCoefShift, 8);
    bw.Write((kPbFactor << 5) | static_cast<uint32_t>(order), 8);
    int16_t* coefs = coefsU_[channel][order - 1];
    for (int t = 0; t < order; ++t) bw.Write(static_cast<uint16_t>(coefs[t]), 16);
    if (shift)
      for (uint32_t i = 0; i < n; ++i) bw.Write(shiftUV_[i], shift);
    Predict(mixU_, predU_, n, coefs, order, chanBits);
    WriteResiduals(bw, predU_, n, chanBits);
    const uint64_t written = bw.Bits() - start;
    if (written <= escapeBits && !bw.Overflowed()) return 0;
    printf("compressed frame too big: %u vs. %u\n", static_cast<unsigned>(written),
           static_cast<unsigned>(escapeBits));
    bw.Rewind(start);
  }
  WriteEscape(bw, in, stride, channel, 1, n);
  return 0;
}

int ALACEncoder::Encode(const AlacStreamDescription& input, const AlacStreamDescription& output,
                        const uint8_t* in, uint8_t* out, int* ioBytes) {
  if (!work_ || !in || !out || !ioBytes || *ioBytes <= 0) return kAlacErrParam;
  const uint32_t channels = input.channelsPerFrame;
  if (channels != channels_ || input.bytesPerFrame != channels * ContainerBytes(bitDepth_))
    return kAlacErrParam;
  const uint32_t frames = static_cast<uint32_t>(*ioBytes) / input.bytesPerFrame;
  if (frames == 0 || frames > frameSize_) return kAlacErrParam;

  BitWriter bw(work_, maxOutputBytes_);
  uint32_t instance[8] = {};
  uint32_t channel = 0;
  for (const uint8_t* id = kElements[channels - 1]; *id != 0xFF; ++id) {
    bw.Write(*id, 3);
    bw.Write(instance[*id]++ & 0xF, 4);
    switch (*id) {
      case kIdSingle:
      case kIdLfe:
        EncodeMono(bw, in, input.bytesPerFrame, channel, frames);
        channel += 1;
        break;
      case kIdPair:
        EncodeStereo(bw, in, input.bytesPerFrame, channel, frames);
        channel += 2;
        break;
      default:
        printf("That ain't right! (%u)\n", static_cast<unsigned>(*id));
        return kAlacErrParam;
    }
  }
  bw.Write(kIdEnd, 3);
  bw.ByteAlign();
  if (bw.Overflowed()) return kAlacErrParam;
  const uint32_t bytes = static_cast<uint32_t>(bw.Bits() / 8);
  memcpy(out, work_, bytes);
  *ioBytes = static_cast<int>(bytes);
  totalBytes_ += bytes;
  if (bytes > maxFrameBytes_) maxFrameBytes_ = bytes;
  return 0;
}
