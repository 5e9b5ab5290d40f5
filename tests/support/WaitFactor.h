// How much longer than on the host a test may wait for something to happen.
// The i686 programs run under an emulated CPU on a shared machine, where the
// same work takes several times as long; TESS_TEST_WAIT_FACTOR (a whole
// number, 1 to 100; anything else counts as 1) stretches every bounded wait
// of the tests by that much. Bounds only: a wait that ends on its condition
// ends as soon as it holds, and checks that nothing happens for a while, or
// that something takes at least so long, keep their own times.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <thread>

namespace testwait {

inline uint32_t Factor() {
  static const uint32_t factor = [] {
    const char* text = std::getenv("TESS_TEST_WAIT_FACTOR");
    if (!text || !*text) return 1u;
    char* end = nullptr;
    const unsigned long n = std::strtoul(text, &end, 10);
    return (*end == '\0' && n >= 1 && n <= 100) ? static_cast<uint32_t>(n) : 1u;
  }();
  return factor;
}

// A bound of ms milliseconds on the host, stretched by the factor. Stays
// below 0xFFFFFFFF, which Windows waits read as "for ever".
inline uint32_t Ms(uint32_t ms) {
  const uint64_t scaled = static_cast<uint64_t>(ms) * Factor();
  return scaled < 0xFFFFFFFEull ? static_cast<uint32_t>(scaled) : 0xFFFFFFFEu;
}

// As Ms, but never past ceilingMs (nor below ms): for a bound that tells the
// right outcome from a fault by time alone (a stop within 1 s rather than
// after its 5 s fallback), stretched only as far as the check still tells
// them apart.
inline uint32_t MsBelow(uint32_t ms, uint32_t ceilingMs) {
  const uint32_t scaled = Ms(ms);
  return scaled < ceilingMs ? scaled : (ms < ceilingMs ? ceilingMs : ms);
}

// Polls done() every pollMs until it holds or ms (stretched) pass; true when
// it held.
inline bool Until(const std::function<bool()>& done, uint32_t ms, uint32_t pollMs = 10) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms(ms));
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
  }
}

}  // namespace testwait
