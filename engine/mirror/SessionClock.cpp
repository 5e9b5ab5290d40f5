#include "engine/mirror/SessionClock.h"

#include <windows.h>

extern "C" {
#include <libavutil/time.h>
}

int64_t MirrorClockNow() { return av_gettime_relative(); }

void SleepRestOfFrame(int64_t passStart, int fps) {
  // 1 ms = 1024 us throughout the engine's pacing (a shift by 10).
  const int64_t budget = static_cast<int64_t>(1000 / ClampFps(fps)) * 1024;
  const int64_t spent = MirrorClockNow() - passStart;
  if (spent < budget) Sleep(static_cast<DWORD>((budget - spent) / 1024));
}
