// The registry accessor: a root key and a current key path, with typed reads
// and writes under that path. Every operation opens the keys it needs and
// closes them again, so an object holds no handle between calls; objects
// live on the stack of the function that uses them and are not shared.
//
// HKEY_CURRENT_USER always means the hive of the interactively logged-on
// user (reached by impersonation), not the hive of the process's own token,
// so an elevated or installer-started process still reads and writes the
// interactive user's settings.
#pragma once

#include <windows.h>

#include <string>

// The base key of the remote-server product family, and the alias key that
// resolves to its product key.
extern const wchar_t kRemoteServerBaseKey[];      // "Software\Kelvora Inc.\Kelvora Remote Server"
extern const wchar_t kUniversalPathAlias[];       // "UNIVERSAL_PATH_CONVERT"

class CRegistry {
 public:
  CRegistry();
  virtual ~CRegistry();
  CRegistry(const CRegistry&) = delete;
  CRegistry& operator=(const CRegistry&) = delete;

  // root unless it is HKEY_CURRENT_USER; for HKEY_CURRENT_USER the
  // interactive user's hive opened under impersonation, or the
  // HKEY_CURRENT_USER constant when that fails. Close it with ReleaseRootKey.
  HKEY GetRootKey();
  // Closes a root from GetRootKey unless it is one of the predefined roots.
  static void ReleaseRootKey(HKEY key);

  // The sub key can be opened for reading under root.
  bool KeyExists(const wchar_t* subKey);
  // Makes subKey the current key. create: RegCreateKeyExW with full access;
  // otherwise opened for reading. An empty sub key selects the root itself.
  // A failure leaves the accessor without a current key: reads then give
  // their defaults and writes fail, they never land in the root.
  bool OpenKey(const wchar_t* subKey, BOOL create);
  bool ValueExists(const wchar_t* name);
  // REG_* type of the value; 0 on failure.
  DWORD GetValueType(const wchar_t* name);
  // True when the sub key is gone afterwards (also when it never existed).
  bool DeleteKey(const wchar_t* subKey);
  bool DeleteValue(const wchar_t* name);

  // data := new[] buffer of *size bytes (caller delete[]s); null and 0 on
  // failure. Fails when no key (or the root) is current.
  bool ReadBinary(const wchar_t* name, BYTE** data, DWORD* size);
  // REG_SZ / REG_EXPAND_SZ (not expanded) of at most 1023 characters;
  // otherwise the default.
  std::wstring ReadString(const wchar_t* name, const wchar_t* defaultValue);
  std::string ReadStringUtf8(const wchar_t* name);
  // At most 4 bytes of the value, whatever its type (a shorter value fills
  // the low bytes); the default when the key or value is missing or longer.
  DWORD ReadDword(const wchar_t* name, DWORD defaultValue);
  int ReadIntBinary(const wchar_t* name, int defaultValue);

  bool WriteBinary(const wchar_t* name, const void* data, DWORD size);
  bool WriteDword(const wchar_t* name, DWORD value);
  bool WriteString(const wchar_t* name, const wchar_t* text);
  // REG_BINARY of the 4 little-endian bytes of value.
  bool WriteIntBinary(const wchar_t* name, int value);

  // The alias "UNIVERSAL_PATH_CONVERT" (any case) resolves to the remote-
  // server product key; any other text is returned unchanged. mode 0 picks
  // the hive automatically; a predefined root reads KvServerMode there.
  static std::wstring ResolveUniversalPath(const wchar_t* text, HKEY mode);
  // Opens the resolved alias key for reading under root.
  bool OpenUniversalKey();

  LONG lastError = 0;
  HKEY root = HKEY_CURRENT_USER;
  std::wstring keyPath;
  int lazyWrite = 1;
  int view64 = 0;

 private:
  REGSAM Mask(REGSAM access) const { return view64 ? (access | KEY_WOW64_64KEY) : access; }
  // Opens keyPath under the root; ERROR_INVALID_HANDLE when no key is current.
  LONG OpenCurrent(REGSAM access, HKEY* key);
  bool Selected(const std::wstring& path);

  bool keyOpened_ = false;
};

// Scoped impersonation of the interactively logged-on user on the calling
// thread; reverted on destruction.
class CImpersonateUser {
 public:
  CImpersonateUser();
  virtual ~CImpersonateUser();
  CImpersonateUser(const CImpersonateUser&) = delete;
  CImpersonateUser& operator=(const CImpersonateUser&) = delete;

  bool impersonating = false;
  DWORD ownSessionId = 0;
  HANDLE userToken = nullptr;
};

// A primary token duplicated from the shell (explorer.exe) of the current
// process's session. The caller closes *token.
bool GetExplorerToken(HANDLE* token);
