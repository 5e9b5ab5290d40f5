// The engine's clock: monotonic microseconds (FFmpeg's utility clock).
// Pacing and averages convert with 1 ms = 1024 us (a shift by 10).
#pragma once

#include <cstdint>

int64_t MirrorClockNow();

// Session-relative microseconds as NTP time: the session start is NTP
// 2,208,988,800 s (the Unix epoch).
constexpr uint32_t kNtpUnixEpoch = 2208988800u;
inline void MicrosToNtp(int64_t micros, uint32_t* seconds, uint32_t* fraction) {
  int64_t whole = micros / 1000000;
  int64_t rest = micros - whole * 1000000;
  *seconds = static_cast<uint32_t>(whole + kNtpUnixEpoch);
  *fraction = static_cast<uint32_t>((static_cast<uint64_t>(rest) << 32) / 1000000u);
}
