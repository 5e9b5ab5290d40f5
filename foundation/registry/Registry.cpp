#include "foundation/registry/Registry.h"

#include <tlhelp32.h>
#include <wtsapi32.h>

#include <cwchar>
#include <vector>

#include "classlib/Handle.h"
#include "classlib/Str.h"

const wchar_t kRemoteServerBaseKey[] = L"Software\\Kelvora Inc.\\Kelvora Remote Server";
const wchar_t kUniversalPathAlias[] = L"UNIVERSAL_PATH_CONVERT";

namespace {

constexpr DWORD kStringBufferBytes = 2048;  // 1023 characters and the NUL

bool IsPredefinedRoot(HKEY key) {
  return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ||
         key == HKEY_USERS;
}

}  // namespace

// ---------------------------------------------------------------------------
// CRegistry

CRegistry::CRegistry() = default;

CRegistry::~CRegistry() {
  keyPath.clear();
  root = HKEY_CURRENT_USER;
  lazyWrite = 1;
}

HKEY CRegistry::GetRootKey() {
  if (root != HKEY_CURRENT_USER) return root;
  HKEY user = nullptr;
  LONG r;
  {
    CImpersonateUser impersonation;
    r = RegOpenCurrentUser(KEY_ALL_ACCESS, &user);
  }
  return r == ERROR_SUCCESS && user ? user : HKEY_CURRENT_USER;
}

void CRegistry::ReleaseRootKey(HKEY key) {
  if (key && !IsPredefinedRoot(key)) RegCloseKey(key);
}

LONG CRegistry::OpenCurrent(REGSAM access, HKEY* key) {
  *key = nullptr;
  if (!keyOpened_) return ERROR_INVALID_HANDLE;
  HKEY r = GetRootKey();
  LONG result = RegOpenKeyExW(r, keyPath.c_str(), 0, Mask(access), key);
  ReleaseRootKey(r);
  if (result != ERROR_SUCCESS) *key = nullptr;
  return result;
}

bool CRegistry::KeyExists(const wchar_t* subKey) {
  HKEY r = GetRootKey();
  HKEY key = nullptr;
  LONG result = RegOpenKeyExW(r, subKey ? subKey : L"", 0, Mask(KEY_READ), &key);
  ReleaseRootKey(r);
  if (result != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool CRegistry::Selected(const std::wstring& path) {
  keyPath = path;
  keyOpened_ = true;
  return true;
}

bool CRegistry::OpenKey(const wchar_t* subKey, BOOL create) {
  if (!subKey || !*subKey) return Selected(L"");
  HKEY r = GetRootKey();
  cl::UniqueHKey key;
  LONG result;
  if (create) {
    result = RegCreateKeyExW(r, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, Mask(KEY_ALL_ACCESS),
                             nullptr, key.put(), nullptr);
  } else {
    result = RegOpenKeyExW(r, subKey, 0, Mask(KEY_READ), key.put());
  }
  ReleaseRootKey(r);
  lastError = result;
  if (result != ERROR_SUCCESS) {
    key.release();  // a failed call leaves nothing to close
    keyOpened_ = false;
    return false;
  }
  if (!lazyWrite) RegFlushKey(key.get());
  return Selected(subKey);
}

bool CRegistry::ValueExists(const wchar_t* name) {
  cl::UniqueHKey key;
  if (OpenCurrent(KEY_READ, key.put()) != ERROR_SUCCESS) return false;
  return RegQueryValueExW(key.get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

DWORD CRegistry::GetValueType(const wchar_t* name) {
  cl::UniqueHKey key;
  lastError = OpenCurrent(KEY_QUERY_VALUE, key.put());
  if (lastError != ERROR_SUCCESS) return 0;
  DWORD type = 0;
  lastError = RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, nullptr);
  return lastError == ERROR_SUCCESS ? type : 0;
}

bool CRegistry::DeleteKey(const wchar_t* subKey) {
  // An empty sub key would name the root itself.
  if (!subKey || !*subKey) return false;
  HKEY r = GetRootKey();
  LONG result;
  if (view64) {
    using DeleteKeyExFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
    HMODULE advapi = GetModuleHandleW(L"Advapi32.dll");
    auto deleteEx = advapi ? reinterpret_cast<DeleteKeyExFn>(
                                 reinterpret_cast<void*>(GetProcAddress(advapi, "RegDeleteKeyExW")))
                           : nullptr;
    result = deleteEx ? deleteEx(r, subKey, KEY_WOW64_64KEY, 0) : ERROR_PROC_NOT_FOUND;
  } else {
    result = RegDeleteKeyW(r, subKey);
  }
  ReleaseRootKey(r);
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool CRegistry::DeleteValue(const wchar_t* name) {
  cl::UniqueHKey key;
  if (OpenCurrent(KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return false;
  return RegDeleteValueW(key.get(), name) == ERROR_SUCCESS;
}

bool CRegistry::ReadBinary(const wchar_t* name, BYTE** data, DWORD* size) {
  *data = nullptr;
  *size = 0;
  if (!keyOpened_ || keyPath.empty()) return false;
  cl::UniqueHKey key;
  if (OpenCurrent(KEY_READ, key.put()) != ERROR_SUCCESS) return false;
  DWORD needed = 0;
  if (RegQueryValueExW(key.get(), name, nullptr, nullptr, nullptr, &needed) != ERROR_SUCCESS) {
    return false;
  }
  BYTE* buffer = new BYTE[needed ? needed : 1];
  DWORD got = needed;
  if (RegQueryValueExW(key.get(), name, nullptr, nullptr, buffer, &got) != ERROR_SUCCESS) {
    delete[] buffer;
    return false;
  }
  *data = buffer;
  *size = got;
  return true;
}

std::wstring CRegistry::ReadString(const wchar_t* name, const wchar_t* defaultValue) {
  const std::wstring fallback = defaultValue ? defaultValue : L"";
  DWORD type = GetValueType(name);
  if (type != REG_SZ && type != REG_EXPAND_SZ) return fallback;
  cl::UniqueHKey key;
  lastError = OpenCurrent(KEY_READ, key.put());
  if (lastError != ERROR_SUCCESS) return fallback;
  // Two spare zero characters: a value stored without its terminator still
  // ends inside the buffer.
  wchar_t buffer[kStringBufferBytes / sizeof(wchar_t) + 2] = {};
  DWORD bytes = kStringBufferBytes;
  lastError = RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                               &bytes);
  if (lastError != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return fallback;
  size_t chars = bytes / sizeof(wchar_t);
  size_t n = 0;
  while (n < chars && buffer[n]) ++n;
  return std::wstring(buffer, n);
}

std::string CRegistry::ReadStringUtf8(const wchar_t* name) {
  return cl::WideToUtf8(ReadString(name, L""));
}

DWORD CRegistry::ReadDword(const wchar_t* name, DWORD defaultValue) {
  cl::UniqueHKey key;
  if (OpenCurrent(KEY_READ, key.put()) != ERROR_SUCCESS) return defaultValue;
  DWORD value = 0;
  DWORD bytes = sizeof(value);
  if (RegQueryValueExW(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &bytes) !=
      ERROR_SUCCESS) {
    return defaultValue;
  }
  return value;
}

int CRegistry::ReadIntBinary(const wchar_t* name, int defaultValue) {
  return static_cast<int>(ReadDword(name, static_cast<DWORD>(defaultValue)));
}

namespace {
bool SetValue(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD bytes,
              int lazyWrite) {
  if (RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes) != ERROR_SUCCESS) {
    return false;
  }
  if (!lazyWrite) RegFlushKey(key);
  return true;
}
}  // namespace

bool CRegistry::WriteBinary(const wchar_t* name, const void* data, DWORD size) {
  if (!name || (!data && size)) return false;
  cl::UniqueHKey key;
  if (OpenCurrent(KEY_WRITE, key.put()) != ERROR_SUCCESS) return false;
  return SetValue(key.get(), name, REG_BINARY, data, size, lazyWrite);
}

bool CRegistry::WriteDword(const wchar_t* name, DWORD value) {
  cl::UniqueHKey key;
  if (OpenCurrent(KEY_WRITE, key.put()) != ERROR_SUCCESS) return false;
  return SetValue(key.get(), name, REG_DWORD, &value, sizeof(value), lazyWrite);
}

bool CRegistry::WriteString(const wchar_t* name, const wchar_t* text) {
  if (!text) text = L"";
  cl::UniqueHKey key;
  if (OpenCurrent(KEY_WRITE, key.put()) != ERROR_SUCCESS) return false;
  DWORD bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
  return SetValue(key.get(), name, REG_SZ, text, bytes, lazyWrite);
}

bool CRegistry::WriteIntBinary(const wchar_t* name, int value) {
  cl::UniqueHKey key;
  if (OpenCurrent(KEY_WRITE, key.put()) != ERROR_SUCCESS) return false;
  // Little-endian whatever the host: the stored form is fixed.
  BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                   static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
  return SetValue(key.get(), name, REG_BINARY, bytes, sizeof(bytes), lazyWrite);
}

std::wstring CRegistry::ResolveUniversalPath(const wchar_t* text, HKEY mode) {
  if (!text) return std::wstring();
  if (_wcsicmp(text, kUniversalPathAlias) != 0) return text;
  const std::wstring base = kRemoteServerBaseKey;
  const std::wstring business = base + L" for Business";

  if (mode == nullptr) {
    CRegistry machine;
    machine.root = HKEY_LOCAL_MACHINE;
    machine.OpenKey(base.c_str(), FALSE);
    // A machine-wide installation keeps its mode in the machine hive only.
    if (machine.ReadDword(L"KvSBasedType", 0) == 1) {
      return ResolveUniversalPath(text, HKEY_LOCAL_MACHINE);
    }
    CRegistry user;
    if (!user.KeyExists(base.c_str())) return ResolveUniversalPath(text, HKEY_LOCAL_MACHINE);
    if (!user.OpenKey(base.c_str(), FALSE)) return base;
    if (!user.ValueExists(L"KvServerMode")) return ResolveUniversalPath(text, HKEY_LOCAL_MACHINE);
    return user.ReadDword(L"KvServerMode", 0) == 1 ? business : base;
  }
  if (IsPredefinedRoot(mode)) {
    CRegistry reg;
    reg.root = mode;
    if (reg.OpenKey(base.c_str(), FALSE) && reg.ReadDword(L"KvServerMode", 0) == 1) {
      return business;
    }
    return base;
  }
  return base;
}

bool CRegistry::OpenUniversalKey() {
  const std::wstring path = ResolveUniversalPath(kUniversalPathAlias, nullptr);
  HKEY r = GetRootKey();
  cl::UniqueHKey key;
  lastError = RegOpenKeyExW(r, path.c_str(), 0, Mask(KEY_READ), key.put());
  ReleaseRootKey(r);
  if (lastError != ERROR_SUCCESS) {
    key.release();  // a failed call leaves nothing to close
    keyOpened_ = false;
    return false;
  }
  if (!lazyWrite) RegFlushKey(key.get());
  return Selected(path);
}

// ---------------------------------------------------------------------------
// CImpersonateUser

CImpersonateUser::CImpersonateUser() {
  ProcessIdToSessionId(GetCurrentProcessId(), &ownSessionId);
  HANDLE token = nullptr;
  // Session tokens are only handed to the local system; an ordinary process
  // ends up with the shell's token of its own session.
  if (!WTSQueryUserToken(ownSessionId, &token)) {
    token = nullptr;
    DWORD console = WTSGetActiveConsoleSessionId();
    if (console == 0xFFFFFFFF || !WTSQueryUserToken(console, &token)) {
      token = nullptr;
      if (!GetExplorerToken(&token)) token = nullptr;
    }
  }
  userToken = token;
  if (userToken && ImpersonateLoggedOnUser(userToken)) impersonating = true;
}

CImpersonateUser::~CImpersonateUser() {
  if (impersonating) RevertToSelf();
  impersonating = false;
  if (userToken) CloseHandle(userToken);
  userToken = nullptr;
}

bool GetExplorerToken(HANDLE* token) {
  *token = nullptr;
  DWORD ownSession = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &ownSession)) return false;

  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  std::vector<DWORD> shells;
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    DWORD session = 0;
    if (_wcsicmp(entry.szExeFile, L"explorer.exe") == 0 &&
        ProcessIdToSessionId(entry.th32ProcessID, &session) && session == ownSession) {
      shells.push_back(entry.th32ProcessID);
    }
  }
  CloseHandle(snapshot);

  // The first shell whose token can be taken; query access is all it needs.
  for (DWORD pid : shells) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!process) process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) continue;
    HANDLE shellToken = nullptr;
    BOOL opened = OpenProcessToken(process, TOKEN_DUPLICATE | TOKEN_QUERY, &shellToken);
    CloseHandle(process);
    if (!opened) continue;
    BOOL duplicated = DuplicateTokenEx(shellToken, MAXIMUM_ALLOWED, nullptr,
                                       SecurityIdentification, TokenPrimary, token);
    CloseHandle(shellToken);
    if (duplicated) return true;
    *token = nullptr;
  }
  return false;
}
