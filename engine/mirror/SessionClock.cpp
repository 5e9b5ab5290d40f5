#include "engine/mirror/SessionClock.h"

extern "C" {
#include <libavutil/time.h>
}

int64_t MirrorClockNow() { return av_gettime_relative(); }
