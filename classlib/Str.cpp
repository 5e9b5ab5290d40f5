#include "classlib/Str.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace cl {

std::wstring FormatVW(const wchar_t* fmt, va_list ap) {
  va_list probe;
  va_copy(probe, ap);
  int n = _vscwprintf(fmt, probe);
  va_end(probe);
  if (n <= 0) return std::wstring();
  std::vector<wchar_t> buf(static_cast<size_t>(n) + 1);
  _vsnwprintf(buf.data(), buf.size(), fmt, ap);
  return std::wstring(buf.data(), static_cast<size_t>(n));
}

std::wstring FormatW(const wchar_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::wstring s = FormatVW(fmt, ap);
  va_end(ap);
  return s;
}

std::string FormatVA(const char* fmt, va_list ap) {
  va_list probe;
  va_copy(probe, ap);
  int n = _vscprintf(fmt, probe);
  va_end(probe);
  if (n <= 0) return std::string();
  std::vector<char> buf(static_cast<size_t>(n) + 1);
  _vsnprintf(buf.data(), buf.size(), fmt, ap);
  return std::string(buf.data(), static_cast<size_t>(n));
}

std::string FormatA(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = FormatVA(fmt, ap);
  va_end(ap);
  return s;
}

std::string WideToMultiByte(const std::wstring& text, unsigned codePage) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                              nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n,
                      nullptr, nullptr);
  return out;
}

std::wstring MultiByteToWide(const std::string& text, unsigned codePage) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::string WideToAnsi(const std::wstring& text) { return WideToMultiByte(text, CP_ACP); }
std::wstring AnsiToWide(const std::string& text) { return MultiByteToWide(text, CP_ACP); }
std::string WideToUtf8(const std::wstring& text) { return WideToMultiByte(text, CP_UTF8); }
std::wstring Utf8ToWide(const std::string& text) { return MultiByteToWide(text, CP_UTF8); }

}  // namespace cl
