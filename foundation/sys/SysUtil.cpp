#include "foundation/sys/SysUtil.h"

#include <winsock2.h>

#include <cstdlib>
#include <ctime>
#include <cwchar>

#include "classlib/Gdi.h"
#include "classlib/Image.h"
#include "classlib/Str.h"
#include "foundation/registry/Registry.h"

namespace {
uint8_t HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  return 0;
}

// GetVersionExW as the compatibility layer answers it.
bool QueryReportedVersion(OSVERSIONINFOW* info) {
  ZeroMemory(info, sizeof(*info));
  info->dwOSVersionInfoSize = sizeof(*info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return GetVersionExW(info) != FALSE;
#pragma GCC diagnostic pop
}
}  // namespace

void HexToLittleEndian(uint8_t* out, const char* hex, size_t lengthChars) {
  const size_t bytes = lengthChars / 2;
  for (size_t i = 0; i < bytes; ++i) {
    out[bytes - 1 - i] =
        static_cast<uint8_t>((HexDigit(hex[2 * i]) << 4) | HexDigit(hex[2 * i + 1]));
  }
}

void AppendRandomHexDigits(std::string& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  srand(static_cast<unsigned>(time(nullptr)));
  for (int i = 0; i < 8; ++i) text.push_back(kDigits[rand() & 0x0F]);
}

std::wstring GetModuleFilePath() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  // A full buffer means the path was cut: no usable path then.
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  return std::wstring(path, n);
}

bool IsWinlogonDesktop() {
  HDESK desktop = OpenInputDesktop(0, FALSE, GENERIC_ALL);
  if (!desktop) return false;
  wchar_t name[256] = {};
  DWORD needed = 0;
  bool winlogon = false;
  if (GetUserObjectInformationW(desktop, UOI_NAME, name, sizeof(name) - sizeof(wchar_t), &needed)) {
    winlogon = wcscmp(name, L"Winlogon") == 0;
  }
  CloseDesktop(desktop);
  return winlogon;
}

int OsVersionCodeFromVersion(DWORD major, DWORD minor) {
  const DWORD v = major * 256 + minor;
  if (v >= 0xA00) return OSVER_WIN10;
  switch (v) {
    case 0x600: return OSVER_VISTA;
    case 0x601: return OSVER_WIN7;
    case 0x602: return OSVER_WIN8;
    case 0x603: return OSVER_WIN81;
    default: return OSVER_OTHER;
  }
}

int OsVersionCodeExFromVersion(DWORD major, DWORD minor) {
  const DWORD v = major * 256 + minor;
  if (v >= 0x602) return OSVER_WIN8;
  if (v == 0x601) return OSVER_WIN7;
  if (v == 0x600) return OSVER_VISTA;
  return OSVER_OTHER;
}

int GetOSVersionCode() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto rtlGetVersion = ntdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(
                                   GetProcAddress(ntdll, "RtlGetVersion")))
                             : nullptr;
  if (rtlGetVersion) {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (rtlGetVersion(&info) == 0) {
      return OsVersionCodeFromVersion(info.dwMajorVersion, info.dwMinorVersion);
    }
  }
  return GetOSVersionCodeEx(nullptr);
}

int GetOSVersionCodeEx(OSVERSIONINFOW* out) {
  OSVERSIONINFOW info;
  if (!QueryReportedVersion(&info)) return OSVER_OTHER;
  if (out) *out = info;
  return OsVersionCodeExFromVersion(info.dwMajorVersion, info.dwMinorVersion);
}

int IsProcessElevated() {
  OSVERSIONINFOW info;
  if (!QueryReportedVersion(&info) || info.dwMajorVersion < 6) return 0;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  BOOL ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
  CloseHandle(token);
  if (!ok || size != sizeof(elevation)) return 0;
  return elevation.TokenIsElevated ? 1 : 0;
}

std::string UnicodeToUtf8(const std::wstring& text) { return cl::WideToUtf8(text); }
std::wstring Utf8ToUnicode(const std::string& text) { return cl::Utf8ToWide(text); }
std::wstring AnsiToUnicode(const std::string& text) { return cl::AnsiToWide(text); }
std::string WideToUtf8(const std::wstring& text) { return cl::WideToUtf8(text); }

std::wstring GetLocalHostName() {
  std::string name;
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) == 0) {
    char buffer[1024] = {};
    if (gethostname(buffer, 1023) == 0) name = buffer;
    WSACleanup();
  }
  std::wstring wide = cl::AnsiToWide(name);
  return wide.empty() ? L"quillmere" : wide;
}

std::wstring GetVersionString() { return L"1.0.1.10"; }

int GetKvSBasedType() {
  CRegistry reg;
  reg.root = HKEY_LOCAL_MACHINE;
  if (!reg.OpenKey(kRemoteServerBaseKey, FALSE)) return 0;
  return static_cast<int>(reg.ReadDword(L"KvSBasedType", 0));
}

bool CaptureScreenRect(const RECT& rect, cl::CImage& image) {
  image.Destroy();
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0) return false;
  cl::CDC screen(CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
  if (!screen.get()) return false;
  cl::CMemoryDC memory(screen);
  cl::CBitmap bitmap(memory.get() ? CreateCompatibleBitmap(screen, width, height) : nullptr);
  if (!bitmap.get()) return false;
  {
    cl::ScopedSelect select(memory, bitmap);
    if (!select.ok() || !BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top,
                                SRCCOPY | CAPTUREBLT))
      return false;
  }
  image.Attach(bitmap.release());
  return true;
}
