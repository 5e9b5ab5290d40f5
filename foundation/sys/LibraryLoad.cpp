#include "foundation/sys/LibraryLoad.h"

namespace {

#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// The LOAD_LIBRARY_SEARCH_* flags exist where AddDllDirectory does (Windows
// 8, and Windows 7 with its loader update); elsewhere they fail the call.
// Without them a full path with the altered search order still keeps the
// DLL's imports to its own folder first, then the system folders.
DWORD LoadFlags() {
  static const DWORD flags = [] {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const bool searchFlags = kernel && GetProcAddress(kernel, "AddDllDirectory") != nullptr;
    return searchFlags ? DWORD{LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32}
                       : DWORD{LOAD_WITH_ALTERED_SEARCH_PATH};
  }();
  return flags;
}

bool IsFullPath(const wchar_t* name) {
  const bool drive = ((name[0] >= L'A' && name[0] <= L'Z') || (name[0] >= L'a' && name[0] <= L'z')) &&
                     name[1] == L':' && (name[2] == L'\\' || name[2] == L'/');
  const bool unc = (name[0] == L'\\' || name[0] == L'/') && (name[1] == L'\\' || name[1] == L'/');
  return drive || unc;
}

HMODULE LoadFullPath(const std::wstring& path) {
  return LoadLibraryExW(path.c_str(), nullptr, LoadFlags());
}

}  // namespace

std::wstring OwnModuleFolder() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&OwnModuleFolder), &self)) {
    return std::wstring();
  }
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(self, &path[0], static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= 32768) return std::wstring();
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

HMODULE LoadOwnLibrary(const wchar_t* name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (IsFullPath(name)) return LoadFullPath(name);
  const std::wstring folder = OwnModuleFolder();
  if (folder.empty()) {
    // No folder to anchor a bare name to: searching the usual places is
    // what this exists to avoid.
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return LoadFullPath(folder + name);
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  std::wstring path(system, n);
  if (path.back() != L'\\') path += L'\\';
  return LoadFullPath(path + name);
}
