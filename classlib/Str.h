// Text helpers of the class library: printf-style formatting with the
// Microsoft meanings of %s/%S (in wide formats %s is wide, %S narrow), and
// conversions between UTF-16, the ANSI code page and UTF-8.
#pragma once

#include <cstdarg>
#include <string>

namespace cl {

// Format into a std::wstring / std::string. Never truncates.
std::wstring FormatW(const wchar_t* fmt, ...);
std::wstring FormatVW(const wchar_t* fmt, va_list ap);
std::string FormatA(const char* fmt, ...) __attribute__((format(ms_printf, 1, 2)));
std::string FormatVA(const char* fmt, va_list ap);

// Conversions through a Windows code page (CP_ACP, CP_UTF8, ...).
std::string WideToMultiByte(const std::wstring& text, unsigned codePage);
std::wstring MultiByteToWide(const std::string& text, unsigned codePage);

std::string WideToAnsi(const std::wstring& text);
std::wstring AnsiToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

}  // namespace cl
