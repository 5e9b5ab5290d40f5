// The log of the backend tests: one file with debug lines on, read back by
// the tests that check a message.
#pragma once

#include <windows.h>

#include <string>

#include "classlib/Str.h"
#include "foundation/log/Logger.h"
#include "support/TempDir.h"

class TestLog {
 public:
  static TestLog& Instance() {
    static TestLog log;
    return log;
  }
  // Bytes written so far; LogSince(mark) gives what came after.
  size_t Mark() const { return Read().size(); }
  std::string Since(size_t mark) const {
    const std::string all = Read();
    return mark < all.size() ? all.substr(mark) : std::string();
  }

 private:
  TestLog() {
    HANDLE f = CreateFileW(dir_.file(L"debug.dvm").c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    path_ = dir_.file(L"backend-test.log");
    ZtLogger::Instance().Init(const_cast<wchar_t*>(path_.c_str()));
  }
  std::string Read() const {
    HANDLE f = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return std::string();
    std::string text;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof(buf), &got, nullptr) && got > 0) text.append(buf, got);
    CloseHandle(f);
    return text;
  }
  TempDir dir_;
  std::wstring path_;
};

// Runs body and returns what it logged.
template <typename Body>
std::string LoggedBy(Body body) {
  const size_t mark = TestLog::Instance().Mark();
  body();
  return TestLog::Instance().Since(mark);
}
