// The engine's clock: monotonic microseconds (FFmpeg's utility clock).
// Pacing and averages convert with 1 ms = 1024 us (a shift by 10).
#pragma once

#include <cstdint>

// Session-relative microseconds go out as NTP time (MicrosToNtp): the session
// start is NTP 2,208,988,800 s, the Unix epoch.
#include "foundation/net/NtpTime.h"

int64_t MirrorClockNow();
