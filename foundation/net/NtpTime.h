// NTP timestamps as the mirroring stream, its NTP answer service and the RAOP
// timing replies write them. Pure code.
#pragma once

#include <cstdint>

#include "foundation/net/ByteOrder.h"

// Seconds from the NTP epoch (1900) to the Unix epoch (1970).
constexpr uint32_t kNtpUnixEpoch = 2208988800u;

// Microseconds as NTP seconds (from kNtpUnixEpoch on) and 2^-32 fractions.
inline void MicrosToNtp(int64_t micros, uint32_t* seconds, uint32_t* fraction) {
  const int64_t whole = micros / 1000000;
  const int64_t rest = micros - whole * 1000000;
  *seconds = static_cast<uint32_t>(whole + kNtpUnixEpoch);
  *fraction = static_cast<uint32_t>((static_cast<uint64_t>(rest) << 32) / 1000000u);
}

// An 8-byte NTP timestamp, network order: seconds, then fraction.
inline void PutNtpTimestamp(uint8_t* p, uint32_t seconds, uint32_t fraction) {
  PutBe32(p, seconds);
  PutBe32(p + 4, fraction);
}
