// The wide-text face of the settings cipher.
#include "foundation/settings/SettingsCipher.h"

#include "foundation/log/Logger.h"
#include "foundation/sys/SysUtil.h"

const wchar_t kSettingsKey[] = L"qT7wRb3nZk9pLm2h";

bool EncryptSetting(const std::wstring& plain, const std::wstring& key, std::wstring& out) {
  std::string cipherText;
  if (!EncryptSettingUtf8(UnicodeToUtf8(plain), UnicodeToUtf8(key), &cipherText)) {
    ZtLogger::Instance().Error("CNb5InitSetting::ApplySetting faield to call Base64Encode");
    return false;
  }
  out = Utf8ToUnicode(cipherText);
  return true;
}

int DecryptSetting(const std::wstring& cipherText, const std::wstring& key, std::wstring& out) {
  std::string plain;
  if (!DecryptSettingUtf8(UnicodeToUtf8(cipherText), UnicodeToUtf8(key), &plain)) return 0;
  out = Utf8ToUnicode(plain);
  return 1;
}
