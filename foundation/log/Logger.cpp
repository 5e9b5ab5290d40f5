#include "foundation/log/Logger.h"

#include <cctype>
#include <cstring>
#include <string>

#include "classlib/Str.h"

SocketLogFn g_pfnSocketLog = nullptr;

namespace {

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

long long UnixMillisNow() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  ULARGE_INTEGER t;
  t.LowPart = ft.dwLowDateTime;
  t.HighPart = ft.dwHighDateTime;
  // 100 ns ticks since 1601 -> ms since 1970.
  return static_cast<long long>((t.QuadPart - 116444736000000000ULL) / 10000ULL);
}

bool IsEntryStart(const char* line) {
  return line[0] == '<' && isdigit(static_cast<unsigned char>(line[1])) && line[2] == '>';
}

}  // namespace

int ZtFormatLogLine(char* buf, int level, const SYSTEMTIME& st, long long unixMillis,
                    unsigned processId, unsigned threadId, const char* fmt, va_list ap) {
  memset(buf, 0, kLogLineBytes);
  int n;
  if (level == ZTLOG_TRACE) {
    n = _snprintf(buf, kLogLineBytes - 1, "<%d> %010ld.%03d [%s][%d]:", level,
                  static_cast<long>(unixMillis / 1000), static_cast<int>(unixMillis % 1000), "Nb5",
                  static_cast<int>(threadId));
  } else {
    int month = (st.wMonth >= 1 && st.wMonth <= 12) ? st.wMonth - 1 : 0;
    n = _snprintf(buf, kLogLineBytes - 1, "<%d>%s %2d %02d:%02d:%02d [%d:%d]:", level,
                  kMonths[month], st.wDay, st.wHour, st.wMinute, st.wSecond,
                  static_cast<int>(processId), static_cast<int>(threadId));
  }
  if (n < 0 || n > kLogLineBytes - 2) n = static_cast<int>(strlen(buf));
  // The message goes directly behind the prefix; a longer one is cut, and the
  // buffer was cleared, so the cut text stays terminated.
  int room = kLogLineBytes - 2 - n;
  if (room > 0) _vsnprintf(buf + n, static_cast<size_t>(room), fmt, ap);
  size_t len = strlen(buf);
  while (len > 0 && (buf[len - 1] == '\r' || buf[len - 1] == '\n')) buf[--len] = '\0';
  buf[len++] = '\n';
  buf[len] = '\0';
  return static_cast<int>(len);
}

// ---------------------------------------------------------------- back end

CLogBackendFile::CLogBackendFile() {
  wcscpy(path_, L"ZtLog.txt");
  _snwprintf(backupPath_, MAX_PATH, L"%s.bak", path_);
  backupPath_[MAX_PATH - 1] = L'\0';
}

CLogBackendFile::~CLogBackendFile() { Close(); }

void CLogBackendFile::SetPaths(const wchar_t* path) {
  wcsncpy(path_, path, MAX_PATH - 1);
  path_[MAX_PATH - 1] = L'\0';
  _snwprintf(backupPath_, MAX_PATH, L"%s.bak", path_);
  backupPath_[MAX_PATH - 1] = L'\0';
}

int CLogBackendFile::Open() {
  // 'N': the log handle must not leak into child processes.
  file_ = _wfopen(path_, L"a+N");
  if (!file_) return -1;
  entryCount_ = 0;
  rewind(file_);
  char line[kLogLineBytes];
  while (fgets(line, sizeof(line), file_)) {
    if (IsEntryStart(line)) ++entryCount_;
  }
  clearerr(file_);
  fseek(file_, 0, SEEK_END);
  if (entryCount_ > kLogEntriesPerFile - 1) Rotate();
  return 0;
}

int CLogBackendFile::Close() {
  if (file_) {
    fclose(file_);
    file_ = nullptr;
  }
  return 0;
}

int CLogBackendFile::Write(const char* line) {
  if (!file_) return -1;
  fwrite(line, 1, strlen(line), file_);
  fflush(file_);
  ++entryCount_;
  if (entryCount_ > kLogEntriesPerFile - 1) Rotate();
  return 0;
}

int CLogBackendFile::Rotate() {
  if (file_) {
    fflush(file_);
    fclose(file_);
    file_ = nullptr;
  }
  _wremove(backupPath_);
  _wrename(path_, backupPath_);
  file_ = _wfopen(path_, L"a+N");
  if (!file_) return -1;
  entryCount_ = 0;
  return 0;
}

// ---------------------------------------------------------------- logger

ZtLogger& ZtLogger::Instance() {
  static ZtLogger instance;
  return instance;
}

ZtLogger::~ZtLogger() {
  delete backend_;
  backend_ = nullptr;
  if (lockMade_) {
    DeleteCriticalSection(&lock_);
    lockMade_ = false;
  }
}

void ZtLogger::Init(void* widePath) {
  // High bit: allocate the wait event at once, so entering never fails later.
  if (!lockMade_) {
    if (!InitializeCriticalSectionAndSpinCount(&lock_, 0x80000400)) return;
    lockMade_ = true;
  }
  const wchar_t* path = static_cast<const wchar_t*>(widePath);
  if (!path) return;

  EnterCriticalSection(&lock_);
  delete backend_;
  backend_ = nullptr;

  std::string ansi = cl::WideToAnsi(path);
  size_t slash = ansi.rfind('\\');
  if (slash != std::string::npos) {
    std::string marker = ansi.substr(0, slash) + "\\debug.dvm";
    if (FILE* f = fopen(marker.c_str(), "r")) {
      debugEnabled_ = true;
      fclose(f);
    }
  }

  auto* backend = new CLogBackendFile();
  backend->SetPaths(path);
  backend->Open();  // a file that cannot be opened only makes later writes fail quietly
  backend_ = backend;
  LeaveCriticalSection(&lock_);

  g_pfnSocketLog = &SocketLogHook;
}

void ZtLogger::Uninit() {
  if (!lockMade_) return;
  EnterCriticalSection(&lock_);
  if (backend_) backend_->Close();
  LeaveCriticalSection(&lock_);
}

void ZtLogger::WriteLine(int level, const char* fmt, va_list ap) {
  if (!backend_ || !lockMade_) return;
  SYSTEMTIME st;
  GetLocalTime(&st);
  char line[kLogLineBytes];
  EnterCriticalSection(&lock_);
  ZtFormatLogLine(line, level, st, UnixMillisNow(), GetCurrentProcessId(), GetCurrentThreadId(),
                  fmt, ap);
  if (backend_) backend_->Write(line);
  LeaveCriticalSection(&lock_);
}

void ZtLogger::Debug(const char* fmt, ...) {
  if (!backend_ || !debugEnabled_) return;
  va_list ap;
  va_start(ap, fmt);
  WriteLine(ZTLOG_DEBUG, fmt, ap);
  va_end(ap);
}

void ZtLogger::Error(const char* fmt, ...) {
  if (!backend_) return;
  va_list ap;
  va_start(ap, fmt);
  WriteLine(ZTLOG_ERROR, fmt, ap);
  va_end(ap);
}

void ZtLogger::Info(const char* fmt, ...) {
  if (!backend_) return;
  va_list ap;
  va_start(ap, fmt);
  WriteLine(ZTLOG_INFO, fmt, ap);
  va_end(ap);
}

void ZtLogger::Warn(const char* fmt, ...) {
  if (!backend_) return;
  va_list ap;
  va_start(ap, fmt);
  WriteLine(ZTLOG_WARN, fmt, ap);
  va_end(ap);
}

void ZtLogger::Log(int level, const char* fmt, ...) {
  if (level < ZTLOG_ERROR || level > ZTLOG_TRACE) level = ZTLOG_ERROR;
  if (!backend_) return;
  if (level == ZTLOG_DEBUG && !debugEnabled_) return;
  va_list ap;
  va_start(ap, fmt);
  WriteLine(level, fmt, ap);
  va_end(ap);
}

int ZtLogger::ProcessLog(int level, const char* fmt, va_list ap) {
  if (!backend_) return 0;
  if (level == ZTLOG_DEBUG && !debugEnabled_) return 0;
  WriteLine(level, fmt, ap);
  return 0;
}

int SocketLogHook(int type, const char* fmt, ...) {
  char text[kLogLineBytes];
  memset(text, 0, sizeof(text));
  va_list ap;
  va_start(ap, fmt);
  _vsnprintf(text, sizeof(text) - 1, fmt, ap);
  va_end(ap);
  ZtLogger& log = ZtLogger::Instance();
  // The text is already formatted: pass it as an argument so a '%' in it stays.
  switch (type) {
    case 0: log.Info("%s", text); break;
    case 1: log.Warn("%s", text); break;
    case 2: log.Debug("%s", text); break;
    case 3: log.Error("%s", text); break;
    default: break;
  }
  return 0;
}
