#include "engine/capture/OsVersionShim.h"

namespace capture_os {

int GetOSVersionCodeEx(OSVERSIONINFOW* info) {
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof(v);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const BOOL ok = GetVersionExW(&v);
#pragma GCC diagnostic pop
  if (info) *info = v;
  if (!ok) return OSVER_OTHER;
  const DWORD n = v.dwMajorVersion * 256 + v.dwMinorVersion;
  if (n >= 0x602) return OSVER_WIN8;
  if (n == 0x601) return OSVER_WIN7;
  if (n == 0x600) return OSVER_VISTA;
  return OSVER_OTHER;
}

int GetOSVersionCode() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto fn = ntdll ? reinterpret_cast<RtlGetVersionFn>(GetProcAddress(ntdll, "RtlGetVersion"))
                  : nullptr;
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof(v);
  if (!fn || fn(&v) != 0) return GetOSVersionCodeEx(nullptr);
  const DWORD n = v.dwMajorVersion * 256 + v.dwMinorVersion;
  if (n >= 0xA00) return OSVER_WIN10;
  if (n == 0x600) return OSVER_VISTA;
  if (n == 0x601) return OSVER_WIN7;
  if (n == 0x602) return OSVER_WIN8;
  if (n == 0x603) return OSVER_WIN81;
  return OSVER_OTHER;
}

}  // namespace capture_os
