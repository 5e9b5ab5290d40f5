// A fresh folder under the Windows temp folder, removed with its files.
#pragma once

#include <windows.h>

#include <string>

class TempDir {
 public:
  TempDir() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static LONG counter = 0;
    wchar_t name[MAX_PATH];
    _snwprintf(name, MAX_PATH, L"%stess_%lu_%ld", base, GetCurrentProcessId(),
               InterlockedIncrement(&counter));
    name[MAX_PATH - 1] = 0;
    path_ = name;
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempDir() { RemoveTree(path_); }
  const std::wstring& path() const { return path_; }
  std::wstring file(const wchar_t* name) const { return path_ + L"\\" + name; }

 private:
  static void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        std::wstring n = fd.cFileName;
        if (n == L"." || n == L"..") continue;
        std::wstring p = dir + L"\\" + n;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(p);
        else DeleteFileW(p.c_str());
      } while (FindNextFileW(h, &fd));
      FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
  }
  std::wstring path_;
};
