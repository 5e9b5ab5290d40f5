// The engine's clock: monotonic microseconds (FFmpeg's utility clock).
// Pacing and averages convert with 1 ms = 1024 us (a shift by 10).
#pragma once

#include <cstdint>

// Session-relative microseconds go out as NTP time (MicrosToNtp): the session
// start is NTP 2,208,988,800 s, the Unix epoch.
#include "foundation/net/NtpTime.h"

int64_t MirrorClockNow();

// The frame rate the session and the video manager pace to: 1..60.
inline int ClampFps(int fps) { return fps < 1 ? 1 : (fps > 60 ? 60 : fps); }

// Pacing of one pass of the session loop or the capture loop: sleeps out the
// rest of the frame budget of (1000 / fps) x 1024 microseconds after the pass
// that started at passStart (session clock); a longer pass does not sleep.
void SleepRestOfFrame(int64_t passStart, int fps);
