// What the pure modules take from Windows-side files, for the fuzz targets
// on Linux: the class library's text helpers they call (UTF-8 and wide text
// as code points; the Microsoft meaning of %s and %S in wide formats) and
// the log hook, left unset as before the logger starts.
#include <cstdarg>
#include <cwchar>
#include <string>
#include <vector>

#include "classlib/Str.h"
#include "foundation/log/LogHook.h"

SocketLogFn g_pfnSocketLog = nullptr;

namespace cl {

std::wstring FormatVW(const wchar_t* fmt, va_list ap) {
  std::wstring linuxFmt;
  for (const wchar_t* p = fmt; *p; ++p) {
    linuxFmt += *p;
    if (*p != L'%') continue;
    // Flags, width and precision, then the conversion.
    while (p[1] && std::wcschr(L"-+ #0123456789.*", p[1])) linuxFmt += *++p;
    if (p[1] == L's') {
      linuxFmt += L"ls";
      ++p;
    } else if (p[1] == L'S') {
      linuxFmt += L's';
      ++p;
    }
  }
  std::vector<wchar_t> buf(256);
  for (;;) {
    va_list copy;
    va_copy(copy, ap);
    const int n = std::vswprintf(buf.data(), buf.size(), linuxFmt.c_str(), copy);
    va_end(copy);
    if (n >= 0) return std::wstring(buf.data(), static_cast<size_t>(n));
    buf.resize(buf.size() * 2);
  }
}

std::wstring FormatW(const wchar_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::wstring s = FormatVW(fmt, ap);
  va_end(ap);
  return s;
}

std::string WideToUtf8(const std::wstring& text) {
  std::string out;
  for (wchar_t wc : text) {
    const uint32_t c = static_cast<uint32_t>(wc);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | ((c >> 18) & 0x07));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Invalid sequences become U+FFFD, as the system's conversion makes them.
std::wstring Utf8ToWide(const std::string& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    const int more = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    uint32_t c = more == 0 ? b : more == 1 ? (b & 0x1F) : more == 2 ? (b & 0x0F) : (b & 0x07);
    bool ok = more >= 0;
    for (int k = 1; ok && k <= more; ++k) {
      if (i + k >= text.size()) {
        ok = false;
        break;
      }
      const unsigned char t = static_cast<unsigned char>(text[i + k]);
      if ((t & 0xC0) != 0x80) ok = false;
      c = (c << 6) | (t & 0x3F);
    }
    if (!ok) {
      out += static_cast<wchar_t>(0xFFFD);
      ++i;
      continue;
    }
    out += static_cast<wchar_t>(c);
    i += static_cast<size_t>(more) + 1;
  }
  return out;
}

}  // namespace cl
