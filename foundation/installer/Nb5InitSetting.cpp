#include "foundation/installer/Nb5InitSetting.h"

#include <windows.h>

#include "foundation/log/Logger.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/settings/SettingsCipher.h"
#include "foundation/sys/SysUtil.h"

namespace {

constexpr DWORD kIssTextChars = 260;  // 259 characters and the NUL
const wchar_t kSection[] = L"Nb5";

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// One import: reads setup.iss, writes default.iss, and remembers whether
// every write into the user's product key went through. A failed copy into
// default.iss is logged and does not count: keeping setup.iss for it would
// import the presets again over the user's own changes at every start.
class Import {
 public:
  Import(const std::wstring& setup, const std::wstring& copy) : setup_(setup), copyPath_(copy) {}

  int Int(const wchar_t* key, int defaultValue) {
    return static_cast<int>(GetPrivateProfileIntW(kSection, key, defaultValue, setup_.c_str()));
  }
  std::wstring Text(const wchar_t* key) {
    wchar_t buffer[kIssTextChars] = {};
    GetPrivateProfileStringW(kSection, key, L"", buffer, kIssTextChars, setup_.c_str());
    return buffer;
  }
  // The result of a product-key setter.
  void Stored(bool written) { ok_ = ok_ && written; }
  void CopyText(const wchar_t* key, const std::wstring& value) {
    if (!copy) return;
    if (WritePrivateProfileStringW(kSection, key, value.c_str(), copyPath_.c_str()) || copyFailed_) return;
    copyFailed_ = true;  // one line is enough: the rest fail alike
    ZtLogger::Instance().Error("CNb5InitSetting::ApplySetting could not copy %S into default.iss: %lu", key,
                               GetLastError());
  }
  void CopyInt(const wchar_t* key, int value) { CopyText(key, std::to_wstring(value)); }
  // Passwords go into default.iss enciphered or not at all: one too long
  // for the cipher is left out rather than copied in plain text.
  void CopySecret(const wchar_t* key, const std::wstring& plain) {
    if (!copy) return;
    std::wstring cipher;
    if (!EncryptSetting(plain, kSettingsKey, cipher)) {
      ZtLogger::Instance().Error("CNb5InitSetting::ApplySetting %S too long to encipher, not copied.",
                                 key);
      return;
    }
    CopyText(key, cipher);
  }
  bool ok() const { return ok_; }

  bool copy = true;

 private:
  std::wstring setup_, copyPath_;
  bool ok_ = true;
  bool copyFailed_ = false;
};

// default.iss emptied for this import: deleted, then made again (empty,
// shared with every user) with a UTF-16 byte-order mark, so the ini
// functions keep texts that the ANSI code page cannot hold. Failures are
// logged.
void EmptyDefaultIss(const std::wstring& path) {
  if (!DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND &&
      GetLastError() != ERROR_PATH_NOT_FOUND) {
    ZtLogger::Instance().Error("CNb5InitSetting::ApplySetting delete default file failed: %lu",
                               GetLastError());
    return;
  }
  if (!CreateFileWithSA(path.c_str())) {
    ZtLogger::Instance().Error("CNb5InitSetting::ApplySetting create default file failed.");
    return;
  }
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  static const BYTE kBom[2] = {0xFF, 0xFE};
  const bool wrote = file != INVALID_HANDLE_VALUE && WriteFile(file, kBom, sizeof(kBom), &written, nullptr) &&
                     written == sizeof(kBom);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!wrote) ZtLogger::Instance().Error("CNb5InitSetting::ApplySetting could not mark default file as UTF-16.");
}

}  // namespace

bool HasInstallerInitSetting() {
  const std::wstring path = CFrameUtility::GetSetupIssPath();
  return !path.empty() && Exists(path);
}

int CNb5InitSetting::ApplySetting() {
  const std::wstring setup = CFrameUtility::GetSetupIssPath();
  if (setup.empty()) return 0;
  return ApplySetting(setup, CFrameUtility::GetDefaultIssPath());
}

int CNb5InitSetting::ApplySetting(const std::wstring& setupIss, const std::wstring& defaultIss) {
  if (!Exists(setupIss)) return 0;
  Import in(setupIss, defaultIss);
  // Emptied on every import, also when nothing is to be copied.
  EmptyDefaultIss(defaultIss);
  in.copy = in.Int(L"Nb5_ApplyToAllUser", 1) != 0;

  const struct {
    const wchar_t* key;
    bool (*set)(int);
  } switches[] = {
      {L"Nb5_AllowBonjourDiscovery", CFrameUtility::SetAllowBonjourDiscovery},
      {L"Nb5_AllowChromeDiscovery", CFrameUtility::SetAllowChromeDiscovery},
      {L"Nb5_AllowScreenSaver", CFrameUtility::SetAllowScreenSaver},
      {L"Nb5_AllowMutiple", CFrameUtility::SetEnableMultiConnect},
      {L"Nb5_AutoRun", CFrameUtility::SetAutorun},
  };
  for (const auto& s : switches) {
    int value = in.Int(s.key, -1);
    if (value < 0) continue;
    in.Stored(s.set(value));
    in.CopyInt(s.key, value);
  }

  const std::wstring password = in.Text(L"Nb5_Password");
  in.Stored(CFrameUtility::SetPassword(password));
  in.CopySecret(L"Nb5_Password", password);

  int proxyType = in.Int(L"Nb5_ProxyType", -1);
  if (static_cast<unsigned>(proxyType) <= 2) {
    in.Stored(CFrameUtility::SetProxyMode(proxyType));
    in.CopyInt(L"Nb5_ProxyType", proxyType);
    const std::wstring server = in.Text(L"Nb5_ProxyServer");
    // The proxy readers take a missing port as 80; so does the import.
    const int port = in.Int(L"Nb5_ProxyPort", 80);
    const std::wstring user = in.Text(L"Nb5_ProxyUser");
    const std::wstring pass = in.Text(L"Nb5_ProxyPass");
    in.CopyText(L"Nb5_ProxyServer", server);
    in.CopyInt(L"Nb5_ProxyPort", port);
    in.CopyText(L"Nb5_ProxyUser", user);
    in.CopySecret(L"Nb5_ProxyPass", pass);
    in.Stored(CFrameUtility::SetProxySetting(server, port, user, pass));
  }

  int resolution = in.Int(L"Nb5_Resolution", -1);
  if (static_cast<unsigned>(resolution) <= 8) {
    in.Stored(CFrameUtility::SetResolution(resolution));
    in.CopyInt(L"Nb5_Resolution", resolution);
  }

  int tracking = in.Int(L"Nb5_Tracking", -1);
  if (tracking != -1) {
    in.Stored(CFrameUtility::SetTracking(tracking));
    in.CopyInt(L"Nb5_Tracking", tracking);
  }

  if (!in.ok()) {
    ZtLogger::Instance().Error(
        "CNb5InitSetting::ApplySetting: not every setting reached the product key; setup.iss kept.");
    return 0;
  }
  if (!DeleteFileW(setupIss.c_str())) {
    ZtLogger::Instance().Error("CNb5InitSetting::ApplySetting delete setup file failed: %lu", GetLastError());
  }
  return 1;
}
