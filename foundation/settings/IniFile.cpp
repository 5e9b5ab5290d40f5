#include "foundation/settings/IniFile.h"

#include <cstring>
#include <vector>

#include "classlib/Str.h"
#include "foundation/digest/Md5.h"
#include "foundation/log/Logger.h"
#include "foundation/sys/SysUtil.h"

namespace {

// Bytes of config.ini that enter the signature.
constexpr DWORD kSignedContentBytes = 1024;
// Profile reads grow their buffer up to this many characters; a value that
// still does not fit is reported as unreadable rather than cut.
constexpr DWORD kMaxProfileChars = 1u << 20;

bool FileExists(const std::wstring& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsLockError(DWORD err) {
  return err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION ||
         err == ERROR_LOCK_VIOLATION;
}

std::wstring SignaturePath(const std::wstring& iniPath) { return iniPath + L".dat"; }

std::string Narrow(const std::wstring& text) { return cl::WideToUtf8(text); }

HANDLE OpenForReading(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The signature of config.ini, or false with the open error.
bool ComputeSignature(const std::wstring& iniPath, int oldMethod, std::string* signature,
                      DWORD* openError) {
  signature->clear();
  *openError = 0;
  HANDLE file = OpenForReading(iniPath);
  if (file == INVALID_HANDLE_VALUE) {
    *openError = GetLastError();
    return false;
  }
  // Content: the first bytes up to their first NUL.
  char content[kSignedContentBytes + 1] = {};
  DWORD got = 0;
  if (!ReadFile(file, content, kSignedContentBytes, &got, nullptr)) got = 0;
  content[got] = 0;

  // Time: last write, UTC, to the second.
  std::string timeText;
  FILETIME lastWrite;
  SYSTEMTIME utc;
  if (GetFileTime(file, nullptr, nullptr, &lastWrite) && FileTimeToSystemTime(&lastWrite, &utc)) {
    timeText = cl::FormatA("%04u_%02u_%02u_%02u_%02u_%02u", utc.wYear, utc.wMonth, utc.wDay,
                           utc.wHour, utc.wMinute, utc.wSecond);
  }
  CloseHandle(file);

  // Disk: drive C's serial and size.
  DWORD serial = 0;
  if (!GetVolumeInformationW(L"C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) serial = 0;
  ULARGE_INTEGER total;
  long long mib = 0;
  if (GetDiskFreeSpaceExW(L"C:\\", nullptr, &total, nullptr)) {
    mib = static_cast<long long>(total.QuadPart >> 20);
  }

  std::string input = CCpyptIniFile::SignatureInput(
      content, timeText, serial, mib, oldMethod ? std::string() : GetSystemVolumeSerial(),
      oldMethod);
  *signature = Md5Hex(input.data(), input.size());
  return true;
}

}  // namespace

IniStoreState& IniStoreState::Instance() {
  static IniStoreState state;
  return state;
}

std::string CCpyptIniFile::SignatureInput(const std::string& content, const std::string& timeText,
                                          DWORD driveCSerial, long long driveCMiB,
                                          const std::string& systemVolumeSerial, int oldMethod) {
  std::string input = content.substr(0, strnlen(content.c_str(), content.size()));
  input += timeText;
  input += cl::FormatA("+%x_%lld", static_cast<unsigned>(driveCSerial), driveCMiB);
  if (!oldMethod) input += systemVolumeSerial;
  return input;
}

std::string GetSystemVolumeSerial() {
  ZtLogger& log = ZtLogger::Instance();
  wchar_t directory[MAX_PATH] = {};
  UINT n = GetSystemWindowsDirectoryW(directory, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    log.Error("GetSystemWindowsDirectory failed: 0x%x.", static_cast<unsigned>(GetLastError()));
    return std::string();
  }
  if (!directory[0]) {
    log.Error("Empty system directory!");
    return std::string();
  }
  directory[3] = 0;  // the drive root, "C:\"
  DWORD serial = 0;
  if (!GetVolumeInformationW(directory, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
    log.Error("Get volume information failed: 0x%x!", static_cast<unsigned>(GetLastError()));
    return std::string();
  }
  std::string text = cl::FormatA("%X", static_cast<unsigned>(serial));
  log.Debug("Volume serial number is: %s.", text.c_str());
  return text;
}

std::string CCpyptIniFile::MakeLocalMD5(const std::wstring& iniPath, int oldMethod) {
  std::string signature;
  DWORD err = 0;
  ComputeSignature(iniPath, oldMethod, &signature, &err);
  return signature;
}

int CCpyptIniFile::CheckLocalMD5(const std::wstring& iniPath, int oldMethod) {
  ZtLogger& log = ZtLogger::Instance();
  if (!FileExists(iniPath)) {
    log.Error("CCpyptIniFile::CheckLocalMD5, File does not exist. %s", Narrow(iniPath).c_str());
    return INI_SIG_NO_INI;
  }
  std::string computed;
  DWORD err = 0;
  // config.ini that exists but cannot be read is held by someone else; an
  // empty signature would wrongly read as tampering.
  if (!ComputeSignature(iniPath, oldMethod, &computed, &err)) {
    if (IsLockError(err)) {
      log.Error("CCpyptIniFile::CheckLocalMD5, cannot access file. %s", Narrow(iniPath).c_str());
      return INI_SIG_NOT_ACCESSIBLE;
    }
    log.Error("CCpyptIniFile::CheckLocalMD5, open file failed. %s, (%d/%d)",
              Narrow(iniPath).c_str(), INI_SIG_OPEN_FAILED, static_cast<int>(err));
    return INI_SIG_OPEN_FAILED;
  }

  const std::wstring sigPath = SignaturePath(iniPath);
  if (!FileExists(sigPath)) {
    log.Error("CCpyptIniFile::CheckLocalMD5, File does not exist. %s", Narrow(sigPath).c_str());
    return INI_SIG_MISMATCH;
  }
  HANDLE file = OpenForReading(sigPath);
  if (file == INVALID_HANDLE_VALUE) {
    err = GetLastError();
    if (IsLockError(err)) {
      log.Error("CCpyptIniFile::CheckLocalMD5, cannot access file. %s", Narrow(sigPath).c_str());
      return INI_SIG_NOT_ACCESSIBLE;
    }
    log.Error("CCpyptIniFile::CheckLocalMD5, open file failed. %s, (%d/%d)",
              Narrow(sigPath).c_str(), INI_SIG_OPEN_FAILED, static_cast<int>(err));
    return INI_SIG_OPEN_FAILED;
  }
  char stored[1025] = {};
  DWORD got = 0;
  if (!ReadFile(file, stored, 1024, &got, nullptr)) got = 0;
  stored[got] = 0;
  CloseHandle(file);

  if (_stricmp(stored, computed.c_str()) != 0) {
    log.Error("CCpyptIniFile::CheckLocalMD5, Md5 mismatched, (%s/%s)", stored, computed.c_str());
    return INI_SIG_MISMATCH;
  }
  IniStoreState::Instance().verified = true;
  return INI_SIG_MATCH;
}

int CCpyptIniFile::WriteNewLocalMD5(const std::wstring& iniPath) {
  ZtLogger& log = ZtLogger::Instance();
  if (!FileExists(iniPath)) {
    log.Error("CCpyptIniFile::WriteNewLocalMD5, file not exist: %s", Narrow(iniPath).c_str());
    return INI_SIG_NO_INI;
  }
  std::string signature;
  DWORD err = 0;
  // Never write a signature of nothing: a config.ini we cannot read stays
  // with the signature it has.
  if (!ComputeSignature(iniPath, 0, &signature, &err)) {
    if (IsLockError(err)) {
      log.Error("CCpyptIniFile::WriteNewLocalMD5, cannot access file. %s", Narrow(iniPath).c_str());
      return INI_SIG_NOT_ACCESSIBLE;
    }
    log.Error("CCpyptIniFile::WriteNewLocalMD5, open file failed. %s, (%d/%d)",
              Narrow(iniPath).c_str(), INI_SIG_OPEN_FAILED, static_cast<int>(err));
    return INI_SIG_OPEN_FAILED;
  }

  const std::wstring sigPath = SignaturePath(iniPath);
  // Another process may hold the old file (it shares no deletion); it is
  // then overwritten in place below.
  if (FileExists(sigPath)) DeleteFileW(sigPath.c_str());
  if (!FileExists(sigPath) && !CreateFileWithSA(sigPath.c_str())) {
    log.Error("CCpyptIniFile::WriteNewLocalMD5, CreateFileWithSA faied.");
  }
  HANDLE file = CreateFileW(sigPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    err = GetLastError();
    if (IsLockError(err)) {
      log.Error("CCpyptIniFile::WriteNewLocalMD5, cannot access file. %s", Narrow(sigPath).c_str());
      return INI_SIG_NOT_ACCESSIBLE;
    }
    log.Error("CCpyptIniFile::WriteNewLocalMD5, open file failed. %s, (%d/%d)",
              Narrow(sigPath).c_str(), INI_SIG_OPEN_FAILED, static_cast<int>(err));
    return INI_SIG_OPEN_FAILED;
  }
  DWORD written = 0;
  bool ok = WriteFile(file, signature.data(), static_cast<DWORD>(signature.size()), &written,
                      nullptr) &&
            written == signature.size() && SetEndOfFile(file);
  err = GetLastError();
  CloseHandle(file);
  if (!ok) {
    log.Error("CCpyptIniFile::WriteNewLocalMD5, write file failed. %s, (%d)",
              Narrow(sigPath).c_str(), static_cast<int>(err));
    return INI_SIG_OPEN_FAILED;
  }
  return INI_SIG_MATCH;
}

void CCpyptIniFile::HoldFiles(const std::wstring& iniPath) {
  IniStoreState& state = IniStoreState::Instance();
  state.heldIni.reset();
  state.heldSignature.reset();
  if (FileExists(iniPath)) {
    HANDLE h = OpenForReading(iniPath);
    if (h != INVALID_HANDLE_VALUE) state.heldIni.reset(h);
  }
  const std::wstring sigPath = SignaturePath(iniPath);
  if (FileExists(sigPath)) {
    HANDLE h = OpenForReading(sigPath);
    if (h != INVALID_HANDLE_VALUE) state.heldSignature.reset(h);
  }
}

void CCpyptIniFile::ReleaseFiles(const std::wstring& /*iniPath*/) {
  IniStoreState& state = IniStoreState::Instance();
  state.heldIni.reset();
  state.heldSignature.reset();
}

// ---------------------------------------------------------------------------
// Store

namespace {
bool HasLineBreak(const std::wstring& s) { return s.find_first_of(L"\r\n") != std::wstring::npos; }
}  // namespace

int IniFile::GetValue(const std::wstring& path, const std::wstring& section,
                      const std::wstring& key, std::wstring& value) {
  IniStoreState& state = IniStoreState::Instance();
  ScopedLock<critical_section_lock> guard(state.lock);
  CCpyptIniFile::ReleaseFiles(path);
  const int check = CCpyptIniFile::CheckLocalMD5(path, 0);
  if (check == INI_SIG_NOT_ACCESSIBLE) return -2;
  const int read = ReadValue(path, section, key, value);
  const int result = check == INI_SIG_MISMATCH ? -1 : (read ? 1 : 0);
  CCpyptIniFile::HoldFiles(path);
  return result;
}

int IniFile::SetValue(const std::wstring& path, const std::wstring& section,
                      const std::wstring& key, const std::wstring& value) {
  ZtLogger& log = ZtLogger::Instance();
  if (path.empty() || section.empty() || key.empty()) return 0;
  // A line break would write further entries or sections of its own.
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) {
    log.Error("IniFile::SetValue, refused a line break in [%s] %s", Narrow(section).c_str(),
              Narrow(key).c_str());
    return 0;
  }
  IniStoreState& state = IniStoreState::Instance();
  ScopedLock<critical_section_lock> guard(state.lock);
  CCpyptIniFile::ReleaseFiles(path);
  const int check = CCpyptIniFile::CheckLocalMD5(path, 0);
  if (check == INI_SIG_NOT_ACCESSIBLE) return -2;
  if (!FileExists(path) && !CreateFileWithSA(path.c_str())) {
    log.Error("IniFile::SetValue, CreateFileWithSA faied.");
  }
  int result = 0;
  if (WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), path.c_str())) {
    if (check == INI_SIG_MISMATCH) {
      // The mismatch was logged by the check; the new signature hides it
      // from later checks, so the store remembers it for CheckConfig.
      log.Error("IniFile::SetValue, config.ini did not match its signature; re-signed with [%s] %s",
                Narrow(section).c_str(), Narrow(key).c_str());
      state.resignedOverMismatch = path;
    }
    const int signedResult = CCpyptIniFile::WriteNewLocalMD5(path);
    if (signedResult != INI_SIG_MATCH) {
      log.Error("IniFile::SetValue, re-signing failed: %d", signedResult);
    }
    result = 1;
  }
  CCpyptIniFile::HoldFiles(path);
  return result;
}

int IniFile::FindKey(const std::wstring& path, const std::wstring& section,
                     const std::wstring& key) {
  IniStoreState& state = IniStoreState::Instance();
  ScopedLock<critical_section_lock> guard(state.lock);
  CCpyptIniFile::ReleaseFiles(path);
  const int check = CCpyptIniFile::CheckLocalMD5(path, 0);
  if (check == INI_SIG_NOT_ACCESSIBLE) return -1;
  int result = -1;
  if (check == INI_SIG_MATCH) {
    std::vector<std::wstring> keys;
    if (ReadKeys(path, section, keys)) {
      result = 0;
      for (const std::wstring& k : keys) {
        if (k == key) {
          result = 1;
          break;
        }
      }
    }
  }
  CCpyptIniFile::HoldFiles(path);
  return result;
}

int IniFile::ReadValue(const std::wstring& path, const std::wstring& section,
                       const std::wstring& key, std::wstring& value) {
  if (!FileExists(path) || section.empty() || key.empty()) return 0;
  for (DWORD size = 1024; size <= kMaxProfileChars; size *= 2) {
    std::vector<wchar_t> buffer(size, 0);
    DWORD n = GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buffer.data(), size,
                                       path.c_str());
    if (n < size - 1) {
      value.assign(buffer.data(), n);
      return 1;
    }
  }
  return 0;
}

int IniFile::ReadSection(const std::wstring& path, const std::wstring& section,
                         std::vector<std::wstring>& keys, std::vector<std::wstring>& values) {
  if (!FileExists(path) || section.empty()) return 0;
  std::vector<wchar_t> buffer;
  DWORD n = 0;
  bool fits = false;
  for (DWORD size = 1024; size <= kMaxProfileChars; size *= 2) {
    buffer.assign(size, 0);
    n = GetPrivateProfileSectionW(section.c_str(), buffer.data(), size, path.c_str());
    if (n < size - 2) {
      fits = true;
      break;
    }
  }
  if (!fits) return 0;
  keys.clear();
  values.clear();
  // Entries are NUL-terminated "key=value" texts.
  size_t pos = 0;
  while (pos < n && buffer[pos]) {
    std::wstring entry(buffer.data() + pos);
    pos += entry.size() + 1;
    size_t eq = entry.find(L'=');
    if (eq == std::wstring::npos || eq == 0) continue;
    keys.push_back(entry.substr(0, eq));
    values.push_back(entry.substr(eq + 1));
  }
  return 1;
}

int IniFile::ReadKeys(const std::wstring& path, const std::wstring& section,
                      std::vector<std::wstring>& keys) {
  std::vector<std::wstring> values;
  return ReadSection(path, section, keys, values);
}
