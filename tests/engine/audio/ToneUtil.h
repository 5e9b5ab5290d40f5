// Test signals and their measurement: tones, frequency by interpolated zero
// crossings, level, and how much of a signal is not the tone.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace tone {

constexpr double kPi = 3.14159265358979323846;

// Interleaved 16-bit PCM: channel c carries a sine of freqs[c] Hz, amplitude
// amps[c] (full scale 32768), starting at sample index `first`.
inline std::vector<int16_t> Make(int rate, int frames, const std::vector<double>& freqs,
                                 const std::vector<double>& amps, int64_t first = 0) {
  const int ch = static_cast<int>(freqs.size());
  std::vector<int16_t> pcm(static_cast<size_t>(frames) * ch);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < ch; ++c)
      pcm[static_cast<size_t>(i) * ch + c] = static_cast<int16_t>(
          std::lround(amps[c] * std::sin(2 * kPi * freqs[c] * double(first + i) / rate)));
  return pcm;
}

// One channel of interleaved PCM as doubles.
inline std::vector<double> Channel(const std::vector<int16_t>& pcm, int channels, int c,
                                   size_t skipFrames = 0) {
  std::vector<double> out;
  for (size_t i = skipFrames * channels + c; i < pcm.size(); i += channels) out.push_back(pcm[i]);
  return out;
}

// Frequency from the first and last upward zero crossing (linear
// interpolation between samples): precise to a small fraction of a hertz
// over a second of a clean tone.
inline double Frequency(const std::vector<double>& x, int rate) {
  double first = -1, last = -1;
  int crossings = 0;
  for (size_t i = 1; i < x.size(); ++i) {
    if (x[i - 1] < 0 && x[i] >= 0) {
      const double t = double(i - 1) + (-x[i - 1]) / (x[i] - x[i - 1]);
      if (first < 0) first = t;
      last = t;
      ++crossings;
    }
  }
  if (crossings < 2) return 0;
  return (crossings - 1) * rate / (last - first);
}

inline double Rms(const std::vector<double>& x) {
  double s = 0;
  for (double v : x) s += v * v;
  return x.empty() ? 0 : std::sqrt(s / x.size());
}

inline double Db(double ratio) { return 20 * std::log10(ratio); }

// Energy of what is left after the best-fitting sine of freq Hz is taken out,
// relative to the whole, in dB (more negative: purer tone).
inline double ResidualDb(const std::vector<double>& x, double freq, int rate) {
  double sc = 0, ss = 0, cc = 0, sn = 0, cs = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    const double w = 2 * kPi * freq * double(i) / rate;
    const double s = std::sin(w), c = std::cos(w);
    sn += x[i] * s;
    cs += x[i] * c;
    ss += s * s;
    cc += c * c;
    sc += s * c;
  }
  // Solve the 2x2 least-squares system for a*sin + b*cos.
  const double det = ss * cc - sc * sc;
  const double a = (sn * cc - cs * sc) / det, b = (cs * ss - sn * sc) / det;
  double total = 0, rest = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    const double w = 2 * kPi * freq * double(i) / rate;
    const double r = x[i] - a * std::sin(w) - b * std::cos(w);
    total += x[i] * x[i];
    rest += r * r;
  }
  return 10 * std::log10(rest / total);
}

}  // namespace tone
