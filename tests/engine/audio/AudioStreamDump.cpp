// Writes encoded streams for the Linux-side decode check: AAC-ELD frames of
// a two-tone signal, and ALAC frames of several layouts with the PCM they
// came from. Usage: audio_stream_dump <output folder>
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/audio/EncAudioAAC.h"
#include "engine/audio/EncAudioALAC.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Stream {
  std::vector<uint8_t> frames;
  std::vector<int> sizes;
  void Add(const uint8_t* p, int n) {
    frames.insert(frames.end(), p, p + n);
    sizes.push_back(n);
  }
};

bool WriteFile(const std::string& path, const void* data, size_t n) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = fwrite(data, 1, n, f) == n;
  return fclose(f) == 0 && ok;
}

bool WriteStream(const std::string& base, const Stream& s, const uint8_t* config, int configBytes) {
  std::string sizes;
  for (int n : s.sizes) sizes += std::to_string(n) + "\n";
  return WriteFile(base + ".bin", s.frames.data(), s.frames.size()) &&
         WriteFile(base + ".sizes", sizes.data(), sizes.size()) &&
         WriteFile(base + ".config", config, configBytes);
}

uint32_t g_seed = 12345;
int32_t Noise(int bits) {
  g_seed = g_seed * 1664525u + 1013904223u;
  return static_cast<int32_t>(g_seed) >> (32 - bits);
}

// AAC-ELD through the whole encoder class, fed in 441-frame chunks as the
// captor feeds it after resampling: left 1000 Hz at -6 dBFS, right 2000 Hz at
// -12 dBFS, 3 s.
bool DumpAac(const std::string& dir) {
  AudioParam p;
  p.SampleRate = 44100;
  p.FrameSize = kAacEldFrameSize;
  CEncAudioAAC enc;
  if (enc.Init(&p) != 0) return false;
  const int frames = 44100 * 3;
  std::vector<int16_t> pcm(frames * 2);
  for (int i = 0; i < frames; ++i) {
    pcm[2 * i] = static_cast<int16_t>(std::lround(16384 * std::sin(2 * kPi * 1000 * i / 44100.0)));
    pcm[2 * i + 1] = static_cast<int16_t>(std::lround(8192 * std::sin(2 * kPi * 2000 * i / 44100.0)));
  }
  Stream s;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
  for (size_t off = 0; off < pcm.size() * 2; off += 1764) {
    AudioChunk c;
    c.data = const_cast<uint8_t*>(bytes + off);
    c.size = static_cast<uint32_t>(pcm.size() * 2 - off < 1764 ? pcm.size() * 2 - off : 1764);
    const int n = enc.Encode(&c);
    if (n > 0) s.Add(c.outData, n);
  }
  uint8_t asc[64];
  const int ascBytes = AacEldEncoderConfig(enc.State(), asc, sizeof(asc));
  enc.Uninit();
  return ascBytes > 0 && WriteStream(dir + "\\aac_eld", s, asc, ascBytes);
}

// ALAC of `frames` sample frames: whole frames through the encoder class,
// a last partial frame straight through the codec. Writes the PCM too.
bool DumpAlac(const std::string& dir, const char* name, int channels, int bits, int frames) {
  const int sampleBytes = (bits + 7) / 8;
  std::vector<uint8_t> pcm(static_cast<size_t>(frames) * channels * sampleBytes);
  for (int i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      const double t = double(i) / 44100;
      const double full = std::ldexp(1.0, bits - 1) - 1;
      int64_t v;
      const int part = (i * 6) / frames;  // six kinds of content in turn
      switch (part) {
        case 0: v = std::llround(0.5 * full * std::sin(2 * kPi * (440 + 110 * c) * t)); break;
        case 1: v = Noise(bits); break;  // does not compress: stored uncompressed
        case 2: v = 0; break;            // silence: runs of zeros
        case 3: v = (i / 50) % 2 ? static_cast<int64_t>(full) : -static_cast<int64_t>(full) - 1; break;
        case 4: v = std::llround(0.3 * full * std::sin(2 * kPi * 1000 * t)) + (Noise(bits) >> (bits - 6)); break;
        default: v = std::llround(0.9 * full * std::sin(2 * kPi * 60 * (c + 1) * t)); break;
      }
      uint8_t* p = &pcm[(static_cast<size_t>(i) * channels + c) * sampleBytes];
      for (int b = 0; b < sampleBytes; ++b) p[b] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * b));
    }
  }
  AudioParam p;
  p.SampleRate = 44100;
  p.Channels = channels;
  p.BitsPerSample = bits;
  p.BlockAlign = channels * sampleBytes;
  p.FrameSize = kAlacFrameSize;
  CEncAudioALAC enc;
  if (enc.Init(&p) != 0) return false;
  Stream s;
  const int frameBytes = enc.FrameBytes();
  const int whole = static_cast<int>(pcm.size()) / frameBytes * frameBytes;
  // Odd-sized chunks shorter than a frame, as the captor hands them over:
  // frames are gathered across them.
  const int chunk = (frameBytes * 5 / 7) | 1;
  for (int off = 0; off < whole; off += chunk) {
    AudioChunk c;
    c.data = &pcm[off];
    c.size = static_cast<uint32_t>(whole - off < chunk ? whole - off : chunk);
    const int n = enc.Encode(&c);
    if (n > 0) s.Add(c.outData, n);
  }
  if (whole < static_cast<int>(pcm.size())) {
    int n = static_cast<int>(pcm.size()) - whole;
    const uint8_t* out = AlacCodecEncode(enc.State(), &pcm[whole], &n);
    if (!out) return false;
    s.Add(out, n);
  }
  uint8_t cookie[kAlacCookieBytes];
  if (enc.State()->encoder->MagicCookie(cookie, sizeof(cookie)) != kAlacCookieBytes) return false;
  const std::string base = dir + "\\alac_" + name;
  enc.Uninit();
  return WriteStream(base, s, cookie, sizeof(cookie)) && WriteFile(base + ".pcm", pcm.data(), pcm.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: audio_stream_dump <output folder>\n");
    return 2;
  }
  const std::string dir = argv[1];
  bool ok = DumpAac(dir);
  if (!ok) fprintf(stderr, "AAC-ELD stream failed\n");
  const struct {
    const char* name;
    int channels, bits, frames;
  } alac[] = {
      {"stereo16", 2, 16, 44100 * 2 + 100}, {"mono16", 1, 16, 30000 + 7},
      {"stereo24", 2, 24, 20000 + 55},      {"stereo32", 2, 32, 12000 + 1},
      {"six16", 6, 16, 15000 + 200},
  };
  for (const auto& a : alac) {
    if (!DumpAlac(dir, a.name, a.channels, a.bits, a.frames)) {
      fprintf(stderr, "ALAC %s failed\n", a.name);
      ok = false;
    }
  }
  return ok ? 0 : 1;
}
