// The test binary's log: started on first use in a folder of its own, read
// back by tests that must see that a particular bound or failure was met
// (the outcome alone would look the same without it).
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

#include "classlib/Str.h"
#include "foundation/log/Logger.h"
#include "support/TempDir.h"

class TestLog {
 public:
  static TestLog& Get() {
    static TestLog log;
    return log;
  }
  // Where the log ends now, for ContainsSince.
  size_t Mark() const { return Read().size(); }
  // Whether a line written after mark holds text.
  bool ContainsSince(size_t mark, const std::string& text) const {
    const std::string all = Read();
    return mark <= all.size() && all.find(text, mark) != std::string::npos;
  }
  bool Contains(const std::string& text) const { return ContainsSince(0, text); }

 private:
  TestLog() : path_(dir_.file(L"test.log")) {
    ZtLogger::Instance().Init(const_cast<wchar_t*>(path_.c_str()));
  }
  ~TestLog() { ZtLogger::Instance().Uninit(); }
  std::string Read() const {
    std::string all;
    if (FILE* f = _wfopen(path_.c_str(), L"rb")) {
      char buf[4096];
      size_t n;
      while ((n = fread(buf, 1, sizeof(buf), f)) > 0) all.append(buf, n);
      fclose(f);
    }
    return all;
  }

  TempDir dir_;
  std::wstring path_;
};
