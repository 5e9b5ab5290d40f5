// The process-wide log: numbered-level lines in one rotating text file.
//
// Low-level services do not call the logger: they call g_pfnSocketLog, which
// stays null until ZtLogger::Init points it at SocketLogHook, so code that
// runs before (or without) a logger simply logs nothing.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>

#include "foundation/log/LogHook.h"

#define TESS_LOG_FORMAT(fmtIndex, firstArg) __attribute__((format(ms_printf, fmtIndex, firstArg)))

// Log levels as written into the "<%d>" prefix.
enum ZtLogLevel { ZTLOG_ERROR = 0, ZTLOG_INFO = 1, ZTLOG_WARN = 2, ZTLOG_DEBUG = 3, ZTLOG_TRACE = 4 };

// Entries per file before the file is turned over into its ".bak" backup.
constexpr int kLogEntriesPerFile = 5000;
// One line, prefix and terminator included, is built in this many bytes.
constexpr int kLogLineBytes = 1024;

class CLoggerWrapper {
 public:
  virtual void Init(void* widePath) = 0;
  virtual void Uninit() = 0;
  virtual void Debug(const char* fmt, ...) TESS_LOG_FORMAT(2, 3) = 0;
  virtual void Error(const char* fmt, ...) TESS_LOG_FORMAT(2, 3) = 0;
  virtual void Info(const char* fmt, ...) TESS_LOG_FORMAT(2, 3) = 0;
  virtual void Warn(const char* fmt, ...) TESS_LOG_FORMAT(2, 3) = 0;
  virtual void Log(int level, const char* fmt, ...) TESS_LOG_FORMAT(3, 4) = 0;
};

class CLogBackend {
 public:
  virtual int Open() = 0;
  virtual int Close() = 0;
  virtual int Write(const char* line) = 0;
};

// Owns the log file; counts entries and rotates to the backup name.
class CLogBackendFile final : public CLogBackend {
 public:
  CLogBackendFile();
  ~CLogBackendFile();

  void SetPaths(const wchar_t* path);
  int Open() override;
  int Close() override;
  int Write(const char* line) override;

  int EntryCount() const { return entryCount_; }
  const wchar_t* Path() const { return path_; }
  const wchar_t* BackupPath() const { return backupPath_; }

 private:
  int Rotate();

  FILE* file_ = nullptr;
  int entryCount_ = 0;
  wchar_t path_[MAX_PATH];
  wchar_t backupPath_[MAX_PATH];
};

class ZtLogger : public CLoggerWrapper {
 public:
  static ZtLogger& Instance();

  // Starts the logger on the wide, NUL-terminated log path. Called once, on
  // the main thread, before worker threads exist.
  void Init(void* widePath) override;
  void Uninit() override;
  void Debug(const char* fmt, ...) override TESS_LOG_FORMAT(2, 3);
  void Error(const char* fmt, ...) override TESS_LOG_FORMAT(2, 3);
  void Info(const char* fmt, ...) override TESS_LOG_FORMAT(2, 3);
  void Warn(const char* fmt, ...) override TESS_LOG_FORMAT(2, 3);
  // A level outside 0..4 is written as 0; level 4 uses the trace prefix.
  void Log(int level, const char* fmt, ...) override TESS_LOG_FORMAT(3, 4);

  // Like Log with a ready argument list, without clamping the level.
  int ProcessLog(int level, const char* fmt, va_list ap);

  bool DebugEnabled() const { return debugEnabled_; }
  bool Started() const { return backend_ != nullptr; }

 private:
  ZtLogger() = default;
  virtual ~ZtLogger();
  ZtLogger(const ZtLogger&) = delete;
  ZtLogger& operator=(const ZtLogger&) = delete;

  void WriteLine(int level, const char* fmt, va_list ap);

  CLogBackendFile* backend_ = nullptr;
  bool debugEnabled_ = false;
  CRITICAL_SECTION lock_;
  bool lockMade_ = false;
};


int SocketLogHook(int type, const char* fmt, ...) TESS_LOG_FORMAT(2, 3);

// Builds one log line (levels 0..3 or the level-4 trace form) into buf of
// kLogLineBytes bytes from the given local time, ids and message. Exposed so
// the exact layout can be checked without a clock.
int ZtFormatLogLine(char* buf, int level, const SYSTEMTIME& localTime, long long unixMillis,
                    unsigned processId, unsigned threadId, const char* fmt, va_list ap);
