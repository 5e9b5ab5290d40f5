#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ProductStateGuard.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/settings/SettingsCipher.h"

namespace {

::testing::Environment* const kProductState =
    ::testing::AddGlobalTestEnvironment(new ProductStateEnvironment);

struct Stored {
  DWORD type = 0;
  std::vector<BYTE> bytes;
  bool present = false;
};

Stored Raw(const wchar_t* name) {
  Stored s;
  HKEY k;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, &k) != ERROR_SUCCESS) return s;
  BYTE buf[512];
  DWORD size = sizeof(buf);
  if (RegQueryValueExW(k, name, nullptr, &s.type, buf, &size) == ERROR_SUCCESS) {
    s.present = true;
    s.bytes.assign(buf, buf + size);
  }
  RegCloseKey(k);
  return s;
}

void PutRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY k;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kProductKey, 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &k, nullptr));
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(k, name, 0, type, static_cast<const BYTE*>(data), size));
  RegCloseKey(k);
}

bool ProductKeyExists() {
  HKEY k;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

void WriteDefaultIss(const wchar_t* key, const std::wstring& value) {
  ASSERT_TRUE(WritePrivateProfileStringW(L"Nb5", key, value.c_str(),
                                         CFrameUtility::GetDefaultIssPath().c_str()));
}

class ProductKeyTest : public ::testing::Test {
 protected:
  void SetUp() override { ProductStateGuard::Clear(); }
  void TearDown() override { ProductStateGuard::Clear(); }
};

TEST_F(ProductKeyTest, EmptyRegistryGivesTheDefaults) {
  ASSERT_FALSE(ProductKeyExists());
  struct {
    const char* name;
    std::function<int()> get;
    int expected;
  } cases[] = {
      {"txFps", CFrameUtility::GetTxFps, 30},
      {"txQuailty", CFrameUtility::GetTxQuality, 6000},
      {"txVolume", CFrameUtility::GetTxVolume, 100},
      {"txCursor", CFrameUtility::GetTxCursor, 1},
      {"txScale", CFrameUtility::GetTxScale, 1},
      {"txDDI (caller's default)", [] { return CFrameUtility::GetTxDDI(7); }, 7},
      {"txDebug", CFrameUtility::GetTxDebug, 0},
      {"txTestSSU", CFrameUtility::GetTxTestSSU, 0},
      {"txProbe", CFrameUtility::GetTxProbe, 0},
      {"ShowBonjourWarning", CFrameUtility::GetShowBonjourWarning, 0},
      {"ProxyMode", CFrameUtility::GetProxyMode, 0},
  };
  for (auto& c : cases) EXPECT_EQ(c.expected, c.get()) << c.name;
  EXPECT_EQ(L"", CFrameUtility::GetTxSToken());
  EXPECT_EQ(L" ORVANTA", CFrameUtility::GetUserAgentSuffix());

  std::wstring addr = L"x", user = L"x", pwd = L"x";
  int port = 0;
  EXPECT_EQ(1, CFrameUtility::GetProxySetting(addr, port, user, pwd));
  EXPECT_EQ(L"", addr);
  EXPECT_EQ(80, port);
  EXPECT_EQ(L"", user);
  EXPECT_EQ(L"", pwd);
  EXPECT_FALSE(ProductKeyExists()) << "getters must not create the key";
}

TEST_F(ProductKeyTest, SettersStoreTheirEncodings) {
  CFrameUtility::SetTxFps(25);
  CFrameUtility::SetTxQuality(4000);
  CFrameUtility::SetTxVolume(55);
  CFrameUtility::SetTxCursor(0);
  CFrameUtility::SetTxScale(0);
  CFrameUtility::SetTxDDI(1);
  EXPECT_EQ(25, CFrameUtility::GetTxFps());
  EXPECT_EQ(4000, CFrameUtility::GetTxQuality());
  EXPECT_EQ(55, CFrameUtility::GetTxVolume());
  EXPECT_EQ(0, CFrameUtility::GetTxCursor());
  EXPECT_EQ(0, CFrameUtility::GetTxScale());
  EXPECT_EQ(1, CFrameUtility::GetTxDDI(0));
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), Raw(L"txQuailty").type);

  struct {
    std::function<void()> set;
    const wchar_t* name;
    int expected;
  } binaries[] = {
      {[] { CFrameUtility::SetShowBonjourWarning(3); }, L"ShowBonjourWarning", 3},
      {[] { CFrameUtility::SetProxyMode(2); }, L"ProxyMode", 2},
      {[] { CFrameUtility::SetResolution(8); }, L"Resolution", 8},
      {[] { CFrameUtility::SetAutorun(5); }, L"Autorun", 1},
      {[] { CFrameUtility::SetTracking(-7); }, L"Tracking", 1},
      {[] { CFrameUtility::SetEnableMultiConnect(0); }, L"EnableMultiConnect", 0},
      {[] { CFrameUtility::SetAllowScreenSaver(1); }, L"DisableDim", 0},
      {[] { CFrameUtility::SetAllowScreenSaver(0); }, L"DisableDim", 1},
      {[] { CFrameUtility::SetAllowBonjourDiscovery(0); }, L"DisableBroadcast", 1},
      {[] { CFrameUtility::SetAllowChromeDiscovery(9); }, L"DisableChromeDiscover", 0},
  };
  for (auto& c : binaries) {
    c.set();
    Stored s = Raw(c.name);
    ASSERT_TRUE(s.present);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), s.type);
    ASSERT_EQ(4u, s.bytes.size());
    EXPECT_EQ(c.expected, static_cast<int>(s.bytes[0] | (s.bytes[1] << 8) | (s.bytes[2] << 16) |
                                           (s.bytes[3] << 24)));
  }
  EXPECT_EQ(3, CFrameUtility::GetShowBonjourWarning());
  EXPECT_EQ(2, CFrameUtility::GetProxyMode());

  EXPECT_TRUE(CFrameUtility::SetTxSToken(L"123 456 789"));
  EXPECT_EQ(L"123 456 789", CFrameUtility::GetTxSToken());
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), Raw(L"txSToken").type);

  CFrameUtility::SetPassword(L"p\u00e9");
  Stored pw = Raw(L"Drowssap");
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), pw.type);
  EXPECT_EQ((std::vector<BYTE>{'p', 0, 0xe9, 0}), pw.bytes);
  CFrameUtility::SetPassword(L"");
  pw = Raw(L"Drowssap");
  EXPECT_TRUE(pw.present);
  EXPECT_TRUE(pw.bytes.empty());

  const DWORD probe = 1;
  PutRaw(L"txProbe", REG_DWORD, &probe, 4);
  EXPECT_EQ(L"", CFrameUtility::GetUserAgentSuffix());
}

TEST_F(ProductKeyTest, IntegerEncodingsReadAlike) {
  const DWORD asDword = 2;
  const BYTE asBinary[4] = {2, 0, 0, 0};
  PutRaw(L"ProxyMode", REG_DWORD, &asDword, 4);
  EXPECT_EQ(2, CFrameUtility::GetProxyMode());
  PutRaw(L"ProxyMode", REG_BINARY, asBinary, 4);
  EXPECT_EQ(2, CFrameUtility::GetProxyMode());
  PutRaw(L"txFps", REG_BINARY, asBinary, 4);
  EXPECT_EQ(2, CFrameUtility::GetTxFps());

  // A longer value reads as the getter's default; default.iss is used only
  // when the value is absent altogether.
  WriteDefaultIss(L"Nb5_ProxyType", L"1");
  PutRaw(L"ProxyMode", REG_SZ, L"ab", 6);
  EXPECT_EQ(0, CFrameUtility::GetProxyMode());
  PutRaw(L"txFps", REG_SZ, L"ab", 6);
  EXPECT_EQ(30, CFrameUtility::GetTxFps());
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kProductKey, L"ProxyMode");
  EXPECT_EQ(1, CFrameUtility::GetProxyMode());
}

TEST_F(ProductKeyTest, ProxySettingsFromRegistryOrInstallerCopy) {
  std::wstring cipher;
  ASSERT_TRUE(EncryptSetting(L"s3cret", kSettingsKey, cipher));
  WriteDefaultIss(L"Nb5_ProxyServer", L"proxy.example");
  WriteDefaultIss(L"Nb5_ProxyPort", L"3128");
  WriteDefaultIss(L"Nb5_ProxyUser", L"bob");
  WriteDefaultIss(L"Nb5_ProxyPass", cipher);

  std::wstring addr, user, pwd;
  int port = 0;
  CFrameUtility::GetProxySetting(addr, port, user, pwd);
  EXPECT_EQ(L"proxy.example", addr);
  EXPECT_EQ(3128, port);
  EXPECT_EQ(L"bob", user);
  EXPECT_EQ(L"s3cret", pwd);

  // A password that does not decipher is taken as written.
  WriteDefaultIss(L"Nb5_ProxyPass", L"plain!");
  CFrameUtility::GetProxySetting(addr, port, user, pwd);
  EXPECT_EQ(L"plain!", pwd);

  // An existing but empty "ProxyAddr" keeps the registry path, port included.
  PutRaw(L"ProxyAddr", REG_SZ, L"", 2);
  CFrameUtility::GetProxySetting(addr, port, user, pwd);
  EXPECT_EQ(L"", addr);
  EXPECT_EQ(80, port);
  EXPECT_EQ(L"", user);
  EXPECT_EQ(L"", pwd);

  // Binary-text passwords: odd byte counts drop the last byte, a NUL ends the text.
  const BYTE seven[7] = {'a', 0, 'b', 0, 'c', 0, 'd'};
  PutRaw(L"ProxyPwd", REG_BINARY, seven, 7);
  CFrameUtility::GetProxySetting(addr, port, user, pwd);
  EXPECT_EQ(L"abc", pwd);
  const BYTE embedded[6] = {'a', 0, 0, 0, 'c', 0};
  PutRaw(L"ProxyPwd", REG_BINARY, embedded, 6);
  CFrameUtility::GetProxySetting(addr, port, user, pwd);
  EXPECT_EQ(L"a", pwd);

  CFrameUtility::SetProxySetting(L"10.1.2.3", 8080, L"alice", L"pa\u00dfword");
  CFrameUtility::GetProxySetting(addr, port, user, pwd);
  EXPECT_EQ(L"10.1.2.3", addr);
  EXPECT_EQ(8080, port);
  EXPECT_EQ(L"alice", user);
  EXPECT_EQ(L"pa\u00dfword", pwd);
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), Raw(L"ProxyPort").type);
  EXPECT_EQ(14u, Raw(L"ProxyPwd").bytes.size());  // plain UTF-16, no terminator
}

TEST(BinaryToString, CodeUnitsUpToTheFirstNul) {
  const BYTE text[] = {'h', 0, 'i', 0, 0, 0, 'x', 0};
  EXPECT_EQ(L"hi", BinaryToString(text, sizeof(text)));
  EXPECT_EQ(L"h", BinaryToString(text, 3));
  EXPECT_EQ(L"", BinaryToString(text, 1));
  EXPECT_EQ(L"", BinaryToString(nullptr, 8));
}

}  // namespace
