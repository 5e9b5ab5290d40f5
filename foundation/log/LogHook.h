// The process-wide log hook of low-level and pure modules. Null until the
// logger starts; callers test it before every call. No platform headers, so
// pure code (packets, parsers) can log without depending on the logger.
#pragma once

// Types: 0 info, 1 warning, 2 debug, 3 error.
using SocketLogFn = int (*)(int type, const char* fmt, ...);
extern SocketLogFn g_pfnSocketLog;

#define TESS_HOOK_LOG(type, ...)                               \
  do {                                                         \
    if (g_pfnSocketLog) g_pfnSocketLog((type), __VA_ARGS__);   \
  } while (0)
