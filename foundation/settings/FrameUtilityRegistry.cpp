// Product-key values of the settings model.
#include <vector>

#include "foundation/registry/Registry.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/settings/SettingsCipher.h"

const wchar_t kProductKey[] = L"Software\\Orvanta\\Tessarine Sender";

namespace {

constexpr DWORD kIssTextChars = 260;  // 259 characters and the NUL

int ReadDwordValue(const wchar_t* name, int defaultValue) {
  CRegistry reg;
  reg.OpenKey(kProductKey, FALSE);  // a missing key makes the read give the default
  return static_cast<int>(reg.ReadDword(name, static_cast<DWORD>(defaultValue)));
}

int ReadIntBinaryValue(const wchar_t* name, int defaultValue) {
  CRegistry reg;
  reg.OpenKey(kProductKey, FALSE);
  return reg.ReadIntBinary(name, defaultValue);
}

void WriteDwordValue(const wchar_t* name, int value) {
  CRegistry reg;
  if (reg.OpenKey(kProductKey, TRUE)) reg.WriteDword(name, static_cast<DWORD>(value));
}

bool WriteIntBinaryValue(const wchar_t* name, int value) {
  CRegistry reg;
  return reg.OpenKey(kProductKey, TRUE) && reg.WriteIntBinary(name, value);
}

bool WriteBinaryText(CRegistry& reg, const wchar_t* name, const std::wstring& text) {
  return reg.WriteBinary(name, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)));
}

std::wstring IssText(const wchar_t* key, const std::wstring& path) {
  wchar_t buffer[kIssTextChars] = {};
  GetPrivateProfileStringW(L"Nb5", key, L"", buffer, kIssTextChars, path.c_str());
  return buffer;
}

}  // namespace

std::wstring BinaryToString(const BYTE* bytes, DWORD size) {
  std::wstring text;
  if (!bytes) return text;
  const DWORD units = size / 2;
  for (DWORD i = 0; i < units; ++i) {
    wchar_t c = static_cast<wchar_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

int CFrameUtility::GetTxFps() { return ReadDwordValue(L"txFps", 30); }
int CFrameUtility::GetTxQuality() { return ReadDwordValue(L"txQuailty", 6000); }
int CFrameUtility::GetTxVolume() { return ReadDwordValue(L"txVolume", 100); }
int CFrameUtility::GetTxCursor() { return ReadDwordValue(L"txCursor", 1); }
int CFrameUtility::GetTxScale() { return ReadDwordValue(L"txScale", 1); }
int CFrameUtility::GetTxDDI(int defaultValue) { return ReadDwordValue(L"txDDI", defaultValue); }
int CFrameUtility::GetTxDebug() { return ReadDwordValue(L"txDebug", 0); }
int CFrameUtility::GetTxTestSSU() { return ReadDwordValue(L"txTestSSU", 0); }
int CFrameUtility::GetTxProbe() { return ReadDwordValue(L"txProbe", 0); }
int CFrameUtility::GetShowBonjourWarning() { return ReadIntBinaryValue(L"ShowBonjourWarning", 0); }

int CFrameUtility::GetProxyMode() {
  CRegistry reg;
  if (reg.OpenKey(kProductKey, FALSE) && reg.ValueExists(L"ProxyMode")) {
    return reg.ReadIntBinary(L"ProxyMode", 0);
  }
  const std::wstring iss = GetDefaultIssPath();
  if (iss.empty()) return 0;
  return static_cast<int>(GetPrivateProfileIntW(L"Nb5", L"Nb5_ProxyType", 0, iss.c_str()));
}

void CFrameUtility::SetTxFps(int value) { WriteDwordValue(L"txFps", value); }
void CFrameUtility::SetTxQuality(int value) { WriteDwordValue(L"txQuailty", value); }
void CFrameUtility::SetTxVolume(int value) { WriteDwordValue(L"txVolume", value); }
void CFrameUtility::SetTxCursor(int value) { WriteDwordValue(L"txCursor", value); }
void CFrameUtility::SetTxScale(int value) { WriteDwordValue(L"txScale", value); }
void CFrameUtility::SetTxDDI(int value) { WriteDwordValue(L"txDDI", value); }
void CFrameUtility::SetShowBonjourWarning(int value) {
  WriteIntBinaryValue(L"ShowBonjourWarning", value);
}
bool CFrameUtility::SetProxyMode(int value) { return WriteIntBinaryValue(L"ProxyMode", value); }
bool CFrameUtility::SetResolution(int value) { return WriteIntBinaryValue(L"Resolution", value); }
bool CFrameUtility::SetAutorun(int flag) { return WriteIntBinaryValue(L"Autorun", flag != 0); }
bool CFrameUtility::SetTracking(int flag) { return WriteIntBinaryValue(L"Tracking", flag != 0); }
bool CFrameUtility::SetEnableMultiConnect(int flag) {
  return WriteIntBinaryValue(L"EnableMultiConnect", flag != 0);
}
bool CFrameUtility::SetAllowScreenSaver(int allow) { return WriteIntBinaryValue(L"DisableDim", allow == 0); }
bool CFrameUtility::SetAllowBonjourDiscovery(int allow) {
  return WriteIntBinaryValue(L"DisableBroadcast", allow == 0);
}
bool CFrameUtility::SetAllowChromeDiscovery(int allow) {
  return WriteIntBinaryValue(L"DisableChromeDiscover", allow == 0);
}

std::wstring CFrameUtility::GetTxSToken() {
  CRegistry reg;
  reg.OpenKey(kProductKey, FALSE);
  return reg.ReadString(L"txSToken", L"");
}

bool CFrameUtility::SetTxSToken(const std::wstring& text) {
  CRegistry reg;
  return reg.OpenKey(kProductKey, TRUE) && reg.WriteString(L"txSToken", text.c_str());
}

bool CFrameUtility::SetPassword(const std::wstring& text) {
  CRegistry reg;
  return reg.OpenKey(kProductKey, TRUE) && WriteBinaryText(reg, L"Drowssap", text);
}

int CFrameUtility::GetProxySetting(std::wstring& addr, int& port, std::wstring& user,
                                   std::wstring& pwd) {
  CRegistry reg;
  if (reg.OpenKey(kProductKey, FALSE) && reg.ValueExists(L"ProxyAddr")) {
    // The user's own values, even an empty address: default.iss is then
    // not consulted, not even for the port.
    addr = reg.ReadString(L"ProxyAddr", L"");
    port = reg.ReadIntBinary(L"ProxyPort", 80);
    user = reg.ReadString(L"ProxyUser", L"");
    pwd.clear();
    BYTE* data = nullptr;
    DWORD size = 0;
    if (reg.ReadBinary(L"ProxyPwd", &data, &size)) {
      pwd = BinaryToString(data, size);
      delete[] data;
    }
    return 1;
  }
  const std::wstring iss = GetDefaultIssPath();
  if (iss.empty()) {
    addr.clear();
    port = 80;
    user.clear();
    pwd.clear();
    return 1;
  }
  addr = IssText(L"Nb5_ProxyServer", iss);
  port = static_cast<int>(GetPrivateProfileIntW(L"Nb5", L"Nb5_ProxyPort", 80, iss.c_str()));
  user = IssText(L"Nb5_ProxyUser", iss);
  // The installer enciphers the password; a text that does not decipher is
  // taken as it stands.
  pwd = IssText(L"Nb5_ProxyPass", iss);
  std::wstring plain;
  if (DecryptSetting(pwd, kSettingsKey, plain)) pwd = plain;
  return 1;
}

bool CFrameUtility::SetProxySetting(const std::wstring& addr, int port, const std::wstring& user,
                                    const std::wstring& pwd) {
  CRegistry reg;
  if (!reg.OpenKey(kProductKey, TRUE)) return false;
  bool ok = reg.WriteString(L"ProxyAddr", addr.c_str());
  ok = reg.WriteIntBinary(L"ProxyPort", port) && ok;
  ok = reg.WriteString(L"ProxyUser", user.c_str()) && ok;
  return WriteBinaryText(reg, L"ProxyPwd", pwd) && ok;
}

std::wstring CFrameUtility::GetUserAgentSuffix() {
  return GetTxProbe() == 0 ? L" ORVANTA" : L"";
}
