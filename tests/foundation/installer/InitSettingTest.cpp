#include "foundation/installer/Nb5InitSetting.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/settings/FrameUtility.h"
#include "foundation/settings/ProductStateGuard.h"
#include "foundation/settings/SettingsCipher.h"

namespace {

::testing::Environment* const kProductState =
    ::testing::AddGlobalTestEnvironment(new ProductStateEnvironment);

using Entries = std::vector<std::pair<std::wstring, std::wstring>>;

std::wstring SetupIss() { return CFrameUtility::GetSetupIssPath(); }
std::wstring DefaultIss() { return CFrameUtility::GetDefaultIssPath(); }

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// setup.iss as an installer may write it: UTF-16LE with its mark, one section.
void WriteSetupIss(const Entries& entries) {
  std::wstring text = L"\xFEFF[Nb5]\r\n";
  for (const auto& e : entries) text += e.first + L"=" + e.second + L"\r\n";
  HANDLE f = CreateFileW(SetupIss().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, f);
  DWORD written = 0;
  WriteFile(f, text.data(), static_cast<DWORD>(text.size() * 2), &written, nullptr);
  CloseHandle(f);
}

// The [Nb5] entries of default.iss.
std::map<std::wstring, std::wstring> DefaultIssEntries() {
  std::map<std::wstring, std::wstring> out;
  std::vector<wchar_t> buf(32768);
  DWORD n = GetPrivateProfileSectionW(L"Nb5", buf.data(), static_cast<DWORD>(buf.size()), DefaultIss().c_str());
  for (const wchar_t* p = buf.data(); p < buf.data() + n && *p; p += wcslen(p) + 1) {
    std::wstring line = p;
    size_t eq = line.find(L'=');
    out[line.substr(0, eq)] = eq == std::wstring::npos ? L"" : line.substr(eq + 1);
  }
  return out;
}

std::optional<std::vector<BYTE>> ProductValue(const wchar_t* name) {
  HKEY k;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, &k) != ERROR_SUCCESS) return std::nullopt;
  BYTE buf[2048];
  DWORD size = sizeof(buf), type = 0;
  LONG r = RegQueryValueExW(k, name, nullptr, &type, buf, &size);
  RegCloseKey(k);
  if (r != ERROR_SUCCESS) return std::nullopt;
  return std::vector<BYTE>(buf, buf + size);
}

std::optional<int> ProductInt(const wchar_t* name) {
  auto v = ProductValue(name);
  if (!v || v->size() != 4) return std::nullopt;
  return static_cast<int>((*v)[0] | ((*v)[1] << 8) | ((*v)[2] << 16) | ((*v)[3] << 24));
}

std::optional<std::wstring> ProductText(const wchar_t* name) {
  auto v = ProductValue(name);
  if (!v) return std::nullopt;
  if (!v->empty() && v->size() >= 2 && (*v)[v->size() - 1] == 0 && (*v)[v->size() - 2] == 0) {
    return std::wstring(reinterpret_cast<const wchar_t*>(v->data()), v->size() / 2 - 1);  // REG_SZ
  }
  return BinaryToString(v->data(), static_cast<DWORD>(v->size()));
}

std::wstring Cipher(const std::wstring& plain) {
  std::wstring out;
  EXPECT_TRUE(EncryptSetting(plain, kSettingsKey, out));
  return out;
}

std::wstring Decipher(const std::wstring& cipher) {
  std::wstring out;
  EXPECT_EQ(1, DecryptSetting(cipher, kSettingsKey, out));
  return out;
}

class InitSetting : public ::testing::Test {
 protected:
  void SetUp() override {
    ProductStateGuard::Clear();
    DeleteFileW(SetupIss().c_str());
  }
  void TearDown() override {
    DeleteFileW(SetupIss().c_str());
    RemoveDirectoryW(DefaultIss().c_str());
    ProductStateGuard::Clear();
  }
};

}  // namespace

TEST_F(InitSetting, NoSetupFileImportsNothing) {
  ASSERT_TRUE(WritePrivateProfileStringW(L"Nb5", L"Nb5_ProxyServer", L"kept", DefaultIss().c_str()));
  EXPECT_FALSE(HasInstallerInitSetting());
  EXPECT_EQ(0, CNb5InitSetting::ApplySetting());
  EXPECT_EQ(L"kept", DefaultIssEntries()[L"Nb5_ProxyServer"]);
  EXPECT_FALSE(ProductValue(L"Drowssap"));
}

TEST_F(InitSetting, KeysAreAppliedAndCopiedByTheirTests) {
  struct Case {
    const char* name;
    Entries setup;
    std::map<std::wstring, int> productInts;   // -999: must be absent
    std::map<std::wstring, std::wstring> copied;  // kGone: must be absent from default.iss
  };
  const int absent = -999;
  const std::wstring kGone = L"<absent>";
  const Case cases[] = {
      {"screen saver only",
       {{L"Nb5_AllowScreenSaver", L"0"}},
       {{L"DisableDim", 1}, {L"ProxyMode", absent}, {L"Tracking", absent}},
       {{L"Nb5_AllowScreenSaver", L"0"}, {L"Nb5_Password", Cipher(L"")}, {L"Nb5_ProxyType", kGone}}},
      {"switches",
       {{L"Nb5_AllowBonjourDiscovery", L"0"}, {L"Nb5_AllowChromeDiscovery", L"1"},
        {L"Nb5_AllowMutiple", L"5"}, {L"Nb5_AutoRun", L"0"}, {L"Nb5_AllowScreenSaver", L"-1"}},
       {{L"DisableBroadcast", 1}, {L"DisableChromeDiscover", 0}, {L"EnableMultiConnect", 1},
        {L"Autorun", 0}, {L"DisableDim", absent}},
       {{L"Nb5_AllowBonjourDiscovery", L"0"}, {L"Nb5_AllowChromeDiscovery", L"1"},
        {L"Nb5_AllowMutiple", L"5"}, {L"Nb5_AutoRun", L"0"}, {L"Nb5_AllowScreenSaver", kGone}}},
      {"proxy type out of range",
       {{L"Nb5_ProxyType", L"3"}, {L"Nb5_ProxyServer", L"p.example"}, {L"Nb5_ProxyPort", L"8080"}},
       {{L"ProxyMode", absent}, {L"ProxyPort", absent}},
       {{L"Nb5_ProxyType", kGone}, {L"Nb5_ProxyServer", kGone}}},
      {"negative proxy type",
       {{L"Nb5_ProxyType", L"-2"}, {L"Nb5_ProxyServer", L"p.example"}},
       {{L"ProxyMode", absent}},
       {{L"Nb5_ProxyServer", kGone}}},
      {"tracking and resolution ranges",
       {{L"Nb5_Tracking", L"7"}, {L"Nb5_Resolution", L"9"}},
       {{L"Tracking", 1}, {L"Resolution", absent}},
       {{L"Nb5_Tracking", L"7"}, {L"Nb5_Resolution", kGone}}},
      {"tracking off, top resolution",
       {{L"Nb5_Tracking", L"0"}, {L"Nb5_Resolution", L"8"}},
       {{L"Tracking", 0}, {L"Resolution", 8}},
       {{L"Nb5_Tracking", L"0"}, {L"Nb5_Resolution", L"8"}}},
      {"negative tracking counts, negative resolution does not",
       {{L"Nb5_Tracking", L"-5"}, {L"Nb5_Resolution", L"-3"}},
       {{L"Tracking", 1}, {L"Resolution", absent}},
       {{L"Nb5_Tracking", L"-5"}}},
      {"proxy without port",
       {{L"Nb5_ProxyType", L"2"}, {L"Nb5_ProxyServer", L"proxy.lan"}, {L"Nb5_ProxyUser", L"ann"},
        {L"Nb5_ProxyPass", L"s3cret"}},
       {{L"ProxyMode", 2}, {L"ProxyPort", 80}},
       {{L"Nb5_ProxyType", L"2"}, {L"Nb5_ProxyServer", L"proxy.lan"}, {L"Nb5_ProxyPort", L"80"},
        {L"Nb5_ProxyUser", L"ann"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProductStateGuard::Clear();
    WriteSetupIss(c.setup);
    ASSERT_TRUE(HasInstallerInitSetting());
    EXPECT_EQ(1, CNb5InitSetting::ApplySetting());
    EXPECT_FALSE(Exists(SetupIss()));
    for (const auto& [name, value] : c.productInts) {
      auto stored = ProductInt(name.c_str());
      if (value == absent) {
        EXPECT_FALSE(stored) << std::string(name.begin(), name.end());
      } else {
        EXPECT_EQ(value, stored.value_or(absent)) << std::string(name.begin(), name.end());
      }
    }
    // The password is always applied, also when empty.
    EXPECT_TRUE(ProductText(L"Drowssap"));
    auto entries = DefaultIssEntries();
    for (const auto& [key, value] : c.copied) {
      if (value == kGone) {
        EXPECT_EQ(0u, entries.count(key)) << std::string(key.begin(), key.end());
      } else {
        EXPECT_EQ(value, entries[key]) << std::string(key.begin(), key.end());
      }
    }
    EXPECT_EQ(0u, entries.count(L"Nb5_ApplyToAllUser"));
  }
}

TEST_F(InitSetting, ProxyValuesGoPlainToTheUserAndEncipheredToDefaultIss) {
  const std::wstring user = L"\u4ee3\u7406\u7528\u6237";  // not in the ANSI code page
  WriteSetupIss({{L"Nb5_Password", L"mirror pw"}, {L"Nb5_ProxyType", L"2"}, {L"Nb5_ProxyServer", L"10.0.0.9"},
                 {L"Nb5_ProxyPort", L"3128"}, {L"Nb5_ProxyUser", user}, {L"Nb5_ProxyPass", L"pp"}});
  ASSERT_EQ(1, CNb5InitSetting::ApplySetting());
  EXPECT_EQ(L"mirror pw", ProductText(L"Drowssap").value_or(L"?"));
  EXPECT_EQ(L"10.0.0.9", ProductText(L"ProxyAddr").value_or(L"?"));
  EXPECT_EQ(3128, ProductInt(L"ProxyPort").value_or(-1));
  EXPECT_EQ(user, ProductText(L"ProxyUser").value_or(L"?"));
  EXPECT_EQ(L"pp", ProductText(L"ProxyPwd").value_or(L"?"));
  auto entries = DefaultIssEntries();
  EXPECT_EQ(L"mirror pw", Decipher(entries[L"Nb5_Password"]));
  EXPECT_EQ(L"pp", Decipher(entries[L"Nb5_ProxyPass"]));
  EXPECT_EQ(user, entries[L"Nb5_ProxyUser"]);

  // A later user without values of their own gets the installer's copy.
  RegDeleteTreeW(HKEY_CURRENT_USER, kProductKey);
  std::wstring addr, gotUser, pwd;
  int port = 0;
  CFrameUtility::GetProxySetting(addr, port, gotUser, pwd);
  EXPECT_EQ(L"10.0.0.9", addr);
  EXPECT_EQ(3128, port);
  EXPECT_EQ(user, gotUser);
  EXPECT_EQ(L"pp", pwd);
}

TEST_F(InitSetting, NotForAllUsersLeavesDefaultIssEmpty) {
  ASSERT_TRUE(WritePrivateProfileStringW(L"Nb5", L"Nb5_ProxyServer", L"stale", DefaultIss().c_str()));
  WriteSetupIss({{L"Nb5_ApplyToAllUser", L"0"}, {L"Nb5_AllowScreenSaver", L"1"}, {L"Nb5_Password", L"pw"}});
  ASSERT_EQ(1, CNb5InitSetting::ApplySetting());
  EXPECT_EQ(0, ProductInt(L"DisableDim").value_or(-1));
  EXPECT_EQ(L"pw", ProductText(L"Drowssap").value_or(L"?"));
  EXPECT_TRUE(Exists(DefaultIss()));
  EXPECT_TRUE(DefaultIssEntries().empty());
}

TEST_F(InitSetting, PasswordsTooLongToEncipherStayOutOfDefaultIss) {
  // 259 CJK characters: 777 UTF-8 bytes, more than the cipher takes.
  const std::wstring longText(259, L'\u4e2d');
  WriteSetupIss({{L"Nb5_Password", longText}, {L"Nb5_ProxyType", L"1"}, {L"Nb5_ProxyPass", longText},
                 {L"Nb5_ProxyUser", L"u"}});
  ASSERT_EQ(1, CNb5InitSetting::ApplySetting());
  EXPECT_FALSE(Exists(SetupIss()));
  EXPECT_EQ(longText, ProductText(L"Drowssap").value_or(L"?"));
  EXPECT_EQ(longText, ProductText(L"ProxyPwd").value_or(L"?"));
  auto entries = DefaultIssEntries();
  EXPECT_EQ(0u, entries.count(L"Nb5_Password"));
  EXPECT_EQ(0u, entries.count(L"Nb5_ProxyPass"));
  EXPECT_EQ(L"u", entries[L"Nb5_ProxyUser"]);
}

// The product key cannot be made while its parent key is volatile (a
// volatile key takes no lasting subkey): every setter then fails. Undone
// by the destructor.
class BlockedProductKey {
 public:
  BlockedProductKey() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kProductKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kProductKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kParent);  // only goes when empty
    HKEY k = nullptr;
    DWORD disposition = 0;
    ok_ = RegCreateKeyExW(HKEY_CURRENT_USER, kParent, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &k,
                          &disposition) == ERROR_SUCCESS &&
          disposition == REG_CREATED_NEW_KEY;
    if (k) RegCloseKey(k);
  }
  ~BlockedProductKey() { RegDeleteKeyW(HKEY_CURRENT_USER, kParent); }
  bool ok() const { return ok_; }

 private:
  static constexpr const wchar_t* kParent = L"Software\\Orvanta";
  bool ok_ = false;
};

// setup.iss stays for the next start only while a preset could not reach
// the user's product key. default.iss (the copy for later users) that
// cannot be emptied or written is logged and does not keep it: otherwise the
// presets would come back over the user's own changes at every start.
TEST_F(InitSetting, SetupIssStaysOnlyWhileTheProductKeyCannotBeWritten) {
  struct Case {
    const char* name;
    bool allUsers, defaultIssBlocked, productKeyBlocked;
    int result;
  } const cases[] = {
      {"nothing to copy, default.iss cannot be emptied", false, true, false, 1},
      {"default.iss cannot be written", true, true, false, 1},
      {"product key cannot be written", true, false, true, 0},
      {"nothing to copy, product key cannot be written", false, false, true, 0},
      {"neither can be written", true, true, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProductStateGuard::Clear();
    if (c.defaultIssBlocked) {
      ASSERT_TRUE(CreateDirectoryW(DefaultIss().c_str(), nullptr));
    }
    WriteSetupIss({{L"Nb5_ApplyToAllUser", c.allUsers ? L"1" : L"0"}, {L"Nb5_AllowScreenSaver", L"0"},
                   {L"Nb5_Tracking", L"1"}});
    int result = -1;
    {
      std::optional<BlockedProductKey> blocked;
      if (c.productKeyBlocked) {
        blocked.emplace();
        ASSERT_TRUE(blocked->ok()) << "the product key's parent could not be made volatile";
      }
      result = CNb5InitSetting::ApplySetting();
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(Exists(SetupIss()), c.result == 0) << "setup.iss kept?";
    if (!c.productKeyBlocked) {
      EXPECT_EQ(1, ProductInt(L"DisableDim").value_or(-1));
      EXPECT_EQ(1, ProductInt(L"Tracking").value_or(-1));
    }
    RemoveDirectoryW(DefaultIss().c_str());
    DeleteFileW(SetupIss().c_str());
  }
  // Once the key can be written, the kept setup.iss goes in and goes away.
  WriteSetupIss({{L"Nb5_AllowScreenSaver", L"0"}, {L"Nb5_Tracking", L"1"}});
  {
    BlockedProductKey blocked;
    ASSERT_TRUE(blocked.ok());
    EXPECT_EQ(0, CNb5InitSetting::ApplySetting());
  }
  EXPECT_EQ(1, CNb5InitSetting::ApplySetting());
  EXPECT_FALSE(Exists(SetupIss()));
  EXPECT_EQ(1, ProductInt(L"DisableDim").value_or(-1));
  EXPECT_EQ(L"1", DefaultIssEntries()[L"Nb5_Tracking"]);
}
