#include "foundation/session/SessionConfig.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace {

const wchar_t kCompany[] = L"Software\\Kelvora Inc.";
const wchar_t kProduct[] = L"Software\\Kelvora Inc.\\Kelvora Remote Server";
const wchar_t kBusiness[] = L"Software\\Kelvora Inc.\\Kelvora Remote Server for Business";
const wchar_t kMeeting[] = L"Software\\Kelvora Inc.\\Kelvora Remote Server\\MeetingInfo";
const wchar_t kBackup[] = L"Software\\TessarineTest\\RemoteServerBackup";

// Moves the remote-server keys of both hives aside for the test binary and
// puts them back afterwards.
class RemoteServerKeys : public ::testing::Environment {
 public:
  void SetUp() override {
    for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) Move(hive, kCompany, kBackup);
  }
  void TearDown() override {
    for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      Clear(hive);
      Move(hive, kBackup, kCompany);
      RegDeleteKeyW(hive, L"Software\\TessarineTest");
    }
  }
  static void Clear(HKEY hive) {
    RegDeleteTreeW(hive, kCompany);
    RegDeleteKeyW(hive, kCompany);
  }

 private:
  static void Move(HKEY hive, const wchar_t* from, const wchar_t* to) {
    HKEY source;
    if (RegOpenKeyExW(hive, from, 0, KEY_READ, &source) != ERROR_SUCCESS) return;
    HKEY target;
    if (RegCreateKeyExW(hive, to, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &target, nullptr) == ERROR_SUCCESS) {
      RegCopyTreeW(source, nullptr, target);
      RegCloseKey(target);
    }
    RegCloseKey(source);
    RegDeleteTreeW(hive, from);
    RegDeleteKeyW(hive, from);
  }
};

::testing::Environment* const kKeys = ::testing::AddGlobalTestEnvironment(new RemoteServerKeys);

void PutDword(HKEY hive, const wchar_t* key, const wchar_t* name, DWORD value) {
  HKEY k;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(hive, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
  RegSetValueExW(k, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof(value));
  RegCloseKey(k);
}

void PutString(HKEY hive, const wchar_t* key, const wchar_t* name, const std::wstring& value) {
  HKEY k;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(hive, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
  RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * 2));
  RegCloseKey(k);
}

void PutBinary(HKEY hive, const wchar_t* key, const wchar_t* name, const std::vector<BYTE>& value) {
  HKEY k;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(hive, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr));
  RegSetValueExW(k, name, 0, REG_BINARY, value.data(), static_cast<DWORD>(value.size()));
  RegCloseKey(k);
}

// Names of the values directly in a key; empty when it is missing.
std::set<std::wstring> ValueNames(HKEY hive, const wchar_t* key) {
  std::set<std::wstring> names;
  HKEY k;
  if (RegOpenKeyExW(hive, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return names;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (RegEnumValueW(k, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.insert(name);
  }
  RegCloseKey(k);
  return names;
}

// A DWORD value, or -99 when it is missing.
long Dword(HKEY hive, const wchar_t* key, const wchar_t* name) {
  DWORD value = 0, size = sizeof(value);
  if (RegGetValueW(hive, key, name, RRF_RT_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) return -99;
  return static_cast<long>(value);
}

std::wstring String(HKEY hive, const wchar_t* key, const wchar_t* name) {
  wchar_t value[512] = {};
  DWORD size = sizeof(value);
  if (RegGetValueW(hive, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return L"<missing>";
  return value;
}

std::vector<BYTE> Binary(HKEY hive, const wchar_t* key, const wchar_t* name) {
  BYTE value[512];
  DWORD size = sizeof(value);
  if (RegGetValueW(hive, key, name, RRF_RT_REG_BINARY, nullptr, value, &size) != ERROR_SUCCESS) return {};
  return std::vector<BYTE>(value, value + size);
}

std::vector<int> SetBits(const CSessionConfig& config) {
  std::vector<int> bits;
  for (int bit = 0; bit < 29; ++bit) {
    if (config.IsOptionSet(bit)) bits.push_back(bit);
  }
  return bits;
}

class SessionConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoteServerKeys::Clear(HKEY_CURRENT_USER);
    RemoteServerKeys::Clear(HKEY_LOCAL_MACHINE);
  }
  void TearDown() override { SetUp(); }
};

using Names = std::set<std::wstring>;

}  // namespace

TEST_F(SessionConfigTest, EmptyRegistryGetsItsDefaultsWritten) {
  CSessionConfig config;
  EXPECT_EQ(1, config.LoadAllSettings());
  EXPECT_EQ(0, config.basedType);
  EXPECT_EQ(kProduct, config.productKey);
  EXPECT_EQ(kMeeting, config.meetingKey);
  EXPECT_EQ(6783, config.general.port);
  EXPECT_EQ(1, config.general.autoMute);  // Windows above version 5
  EXPECT_EQ(2, config.general.ignoreCertCheck);
  EXPECT_EQ(0, config.general.statusTextMask & (1 << 5));
  EXPECT_EQ(1, config.general.cloudProxyEnable);
  EXPECT_FALSE(config.general.computerName.empty());
  EXPECT_EQ(1, config.meeting.resolution);
  EXPECT_EQ(1, config.meeting.multiControl);
  EXPECT_EQ(3, config.meeting.quality);
  EXPECT_EQ((std::vector<int>{OPT_FIRST_ZT_LOGIN, OPT_AUTO_START, OPT_REQ_PASSWORD_SAME, OPT_AUTO_MUTE_MISSING,
                              OPT_SHOW_POWER_TIP, OPT_FIRST_TIME_MINIMIZE, OPT_FIRST_SESSION_ITP,
                              OPT_DEVICE_LOGIN_OPEN}),
            SetBits(config));

  EXPECT_EQ((Names{L"KvServerMode", L"AutoMute", L"AutoStart", L"IgnoreCertCheck", L"ReqPassword",
                   L"BlankScreen", L"ScreenLock", L"LockKBMS", L"EnableSharePUC", L"ITPSwitchMode", L"Port"}),
            ValueNames(HKEY_CURRENT_USER, kProduct));
  EXPECT_EQ((Names{L"Duration", L"CodeType", L"Resolution"}), ValueNames(HKEY_CURRENT_USER, kMeeting));
  EXPECT_EQ(1, Dword(HKEY_CURRENT_USER, kMeeting, L"Resolution"));
  EXPECT_EQ(2, Dword(HKEY_CURRENT_USER, kProduct, L"IgnoreCertCheck"));
  EXPECT_EQ(6783, Dword(HKEY_CURRENT_USER, kProduct, L"Port"));
  // Wine runs elevated: the machine hive takes its share.
  EXPECT_EQ((Names{L"ReqPassword", L"LockKBMS", L"Port", L"CloudProxyEnable"}),
            ValueNames(HKEY_LOCAL_MACHINE, kProduct));
  EXPECT_EQ(1, Dword(HKEY_LOCAL_MACHINE, kProduct, L"CloudProxyEnable"));

  // Option numbers outside the set, and the notification bit, read 0.
  for (int bit : {-1, 29, 31, 1000, static_cast<int>(OPT_SHOW_NOTIFICATION)}) EXPECT_EQ(0, config.IsOptionSet(bit)) << bit;
}

TEST_F(SessionConfigTest, PresetValuesAndTheirEffects) {
  struct Case {
    const char* name;
    void (*arrange)();
    void (*check)(const CSessionConfig&);
  };
  const Case cases[] = {
      {"InitSetting forces the certificate check off",
       [] { PutDword(HKEY_LOCAL_MACHINE, kProduct, L"InitSetting", 1); },
       [](const CSessionConfig& c) {
         EXPECT_EQ(1 << 5, c.general.statusTextMask);
         EXPECT_EQ(1, c.general.ignoreCertCheck);
         EXPECT_EQ(1, Dword(HKEY_CURRENT_USER, kProduct, L"IgnoreCertCheck"));
         EXPECT_EQ(1, Dword(HKEY_LOCAL_MACHINE, kProduct, L"IgnoreCertCheck"));
         EXPECT_EQ(1, Dword(HKEY_LOCAL_MACHINE, kProduct, L"InitSetting"));
       }},
      {"IgnoreCertCheck 1 of the user",
       [] { PutDword(HKEY_CURRENT_USER, kProduct, L"IgnoreCertCheck", 1); },
       [](const CSessionConfig& c) { EXPECT_EQ(1 << 5, c.general.statusTextMask); }},
      {"business server mode",
       [] { PutDword(HKEY_CURRENT_USER, kProduct, L"KvServerMode", 1); },
       [](const CSessionConfig& c) {
         EXPECT_EQ(kBusiness, c.productKey);
         EXPECT_EQ(6783, Dword(HKEY_CURRENT_USER, kBusiness, L"Port"));
       }},
      {"a machine-only integer is copied to the user",
       [] { PutDword(HKEY_LOCAL_MACHINE, kProduct, L"EnableFeedback", 1); },
       [](const CSessionConfig& c) {
         EXPECT_TRUE(c.IsOptionSet(OPT_ENABLE_FEEDBACK));
         EXPECT_EQ(1, Dword(HKEY_CURRENT_USER, kProduct, L"EnableFeedback"));
       }},
      {"ConsumerUpgrade cleared removes nothing else, set keeps 1",
       [] { PutDword(HKEY_LOCAL_MACHINE, kProduct, L"ConsumerUpgrade", 3); },
       [](const CSessionConfig& c) {
         EXPECT_TRUE(c.IsOptionSet(OPT_CONSUMER_UPGRADE));
         EXPECT_EQ(1, Dword(HKEY_LOCAL_MACHINE, kProduct, L"ConsumerUpgrade"));
       }},
      {"no FirstZtLogin clears FTUE",
       [] {
         PutDword(HKEY_CURRENT_USER, kProduct, L"FirstZtLogin", 0);
         PutDword(HKEY_CURRENT_USER, kProduct, L"FTUE", 1);
       },
       [](const CSessionConfig& c) {
         EXPECT_FALSE(c.IsOptionSet(OPT_FTUE));
         EXPECT_EQ(0, Dword(HKEY_CURRENT_USER, kProduct, L"FTUE"));
       }},
      {"passwords are copied into the machine hive",
       [] {
         PutBinary(HKEY_CURRENT_USER, kProduct, L"PW", {1, 2, 3});
         PutString(HKEY_CURRENT_USER, kProduct, L"CloudUserAccount", L"ann@example.com");
         PutBinary(HKEY_CURRENT_USER, kProduct, L"CloudUserPWD", {9, 8});
       },
       [](const CSessionConfig& c) {
         EXPECT_TRUE(c.IsOptionSet(OPT_HAS_PW));
         EXPECT_EQ((std::vector<BYTE>{1, 2, 3}), Binary(HKEY_LOCAL_MACHINE, kProduct, L"PW"));
         EXPECT_EQ(L"ann@example.com", c.general.cloudAccount.text);
         EXPECT_EQ(L"ann@example.com", String(HKEY_LOCAL_MACHINE, kProduct, L"CloudUserAccount"));
         EXPECT_EQ((std::vector<BYTE>{9, 8}), Binary(HKEY_LOCAL_MACHINE, kProduct, L"CloudUserPWD"));
         EXPECT_EQ(2u, c.general.cloudAccount.size);
       }},
      {"a preset account comes from the machine hive",
       [] {
         PutDword(HKEY_LOCAL_MACHINE, kProduct, L"PresetZtID", 1);
         PutString(HKEY_LOCAL_MACHINE, kProduct, L"CloudUserAccount", L"preset@example.com");
         PutBinary(HKEY_LOCAL_MACHINE, kProduct, L"CloudUserPWD", {7});
       },
       [](const CSessionConfig& c) {
         EXPECT_EQ(L"preset@example.com", c.general.cloudAccount.text);
         EXPECT_EQ(L"preset@example.com", String(HKEY_CURRENT_USER, kProduct, L"CloudUserAccount"));
         EXPECT_EQ((std::vector<BYTE>{7}), Binary(HKEY_CURRENT_USER, kProduct, L"CloudUserPWD"));
       }},
      {"SkipOOBE takes name and port from the machine hive",
       [] {
         PutDword(HKEY_CURRENT_USER, kProduct, L"SkipOOBE", 1);
         PutString(HKEY_LOCAL_MACHINE, kProduct, L"CloudComputerName", L"MEETING-PC");
         PutDword(HKEY_LOCAL_MACHINE, kProduct, L"Port", 7000);
       },
       [](const CSessionConfig& c) {
         EXPECT_EQ(L"MEETING-PC", c.general.computerName);
         EXPECT_EQ(L"MEETING-PC", String(HKEY_CURRENT_USER, kProduct, L"CloudComputerName"));
         EXPECT_EQ(7000, c.general.port);
         EXPECT_EQ(7000, Dword(HKEY_CURRENT_USER, kProduct, L"Port"));
       }},
      {"cloud proxy and the XF account",
       [] {
         PutString(HKEY_LOCAL_MACHINE, kProduct, L"CloudProxyManual", L"proxy.lan:8080");
         PutDword(HKEY_LOCAL_MACHINE, kProduct, L"CloudProxyEnable", 0);
         PutString(HKEY_CURRENT_USER, kProduct, L"XFMail", L"xf@example.com");
         PutBinary(HKEY_CURRENT_USER, kProduct, L"XFPW", {5, 5});
         PutBinary(HKEY_CURRENT_USER, kProduct, L"XFPWAdv", {6, 6, 6});
       },
       [](const CSessionConfig& c) {
         EXPECT_EQ(L"proxy.lan", c.general.cloudProxyHost);
         EXPECT_EQ(8080, c.general.cloudProxyPort);
         EXPECT_EQ(0, c.general.cloudProxyEnable);
         EXPECT_EQ(L"xf@example.com", c.general.xfAccount.text);
         EXPECT_EQ((std::vector<BYTE>{6, 6, 6}), c.general.xfAccount.data);
         EXPECT_EQ(1, Dword(HKEY_CURRENT_USER, kProduct, L"XFEnable"));
       }},
      {"proxy without a port, meeting values",
       [] {
         PutString(HKEY_LOCAL_MACHINE, kProduct, L"CloudProxyManual", L"proxy.lan");
         PutString(HKEY_CURRENT_USER, kMeeting, L"MeetingName", L"Weekly");
         PutDword(HKEY_CURRENT_USER, kMeeting, L"Quality", 5);
         PutDword(HKEY_CURRENT_USER, kMeeting, L"FirstSessionITP", 0);
       },
       [](const CSessionConfig& c) {
         EXPECT_EQ(L"proxy.lan", c.general.cloudProxyHost);
         EXPECT_EQ(0, c.general.cloudProxyPort);
         EXPECT_EQ(L"Weekly", c.meeting.meetingName);
         EXPECT_EQ(5, c.meeting.quality);
         EXPECT_FALSE(c.IsOptionSet(OPT_FIRST_SESSION_ITP));
       }},
      {"device login closed by CKvSLogin",
       [] {
         PutDword(HKEY_LOCAL_MACHINE, kProduct, L"CKvSMode", 1);
         PutDword(HKEY_CURRENT_USER, kProduct, L"CKvSLogin", 3);
         PutString(HKEY_LOCAL_MACHINE, kProduct, L"DCode", L"D-42");
       },
       [](const CSessionConfig& c) {
         EXPECT_TRUE(c.IsOptionSet(OPT_CKVS_MODE));
         EXPECT_FALSE(c.IsOptionSet(OPT_DEVICE_LOGIN_OPEN));
         EXPECT_EQ(0, Dword(HKEY_CURRENT_USER, kProduct, L"Confirm_d"));
         EXPECT_EQ(L"D-42", c.general.deviceCode);  // both hives: the machine's, copied
         EXPECT_EQ(L"D-42", String(HKEY_CURRENT_USER, kProduct, L"DCode"));
       }},
      {"device login open with CKvSLogin -1",
       [] {
         PutDword(HKEY_LOCAL_MACHINE, kProduct, L"CKvSMode", 1);
         PutDword(HKEY_CURRENT_USER, kProduct, L"CKvSLogin", 0xFFFFFFFF);
         PutString(HKEY_CURRENT_USER, kProduct, L"DCode", L"U-7");
       },
       [](const CSessionConfig& c) {
         EXPECT_TRUE(c.IsOptionSet(OPT_DEVICE_LOGIN_OPEN));
         EXPECT_EQ(L"U-7", c.general.deviceCode);
       }},
      {"machine-based: everything in the machine hive",
       [] { PutDword(HKEY_LOCAL_MACHINE, kProduct, L"KvSBasedType", 1); },
       [](const CSessionConfig& c) {
         EXPECT_EQ(1, c.basedType);
         EXPECT_TRUE(c.IsOptionSet(OPT_REQ_PASSWORD_SAME));
         EXPECT_EQ(Names{}, ValueNames(HKEY_CURRENT_USER, kProduct));
         EXPECT_EQ(Names{}, ValueNames(HKEY_CURRENT_USER, kMeeting));
         EXPECT_EQ(6783, Dword(HKEY_LOCAL_MACHINE, kProduct, L"Port"));
         EXPECT_EQ(1, Dword(HKEY_LOCAL_MACHINE, kProduct, L"AutoStart"));
         EXPECT_EQ(1, Dword(HKEY_LOCAL_MACHINE, kMeeting, L"Resolution"));
         EXPECT_EQ(c.general.computerName, String(HKEY_LOCAL_MACHINE, kProduct, L"CloudComputerName"));
         EXPECT_FALSE(c.general.computerName.empty());
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    c.arrange();
    CSessionConfig config;
    ASSERT_EQ(1, config.LoadAllSettings());
    c.check(config);
  }
}

TEST_F(SessionConfigTest, ReqPasswordBits) {
  const struct {
    DWORD stored;
    std::vector<int> bits;
  } cases[] = {{0, {}},
               {1, {OPT_REQ_PASSWORD_1}},
               {2, {OPT_REQ_PASSWORD_2}},
               {4, {OPT_REQ_PASSWORD_4}},
               {7, {OPT_REQ_PASSWORD_1, OPT_REQ_PASSWORD_4, OPT_REQ_PASSWORD_2}}};
  for (const auto& c : cases) {
    SetUp();
    PutDword(HKEY_CURRENT_USER, kProduct, L"ReqPassword", c.stored);
    CSessionConfig config;
    config.LoadAllSettings();
    std::vector<int> bits;
    for (int bit : {OPT_REQ_PASSWORD_1, OPT_REQ_PASSWORD_4, OPT_REQ_PASSWORD_2}) {
      if (config.IsOptionSet(bit)) bits.push_back(bit);
    }
    EXPECT_EQ(c.bits, bits) << c.stored;
    EXPECT_EQ(static_cast<long>(c.stored), Dword(HKEY_CURRENT_USER, kProduct, L"ReqPassword"));
    EXPECT_EQ(static_cast<long>(c.stored), Dword(HKEY_LOCAL_MACHINE, kProduct, L"ReqPassword"));
    // The user's value was read before the load made both hives agree.
    EXPECT_EQ(c.stored == 0, config.IsOptionSet(OPT_REQ_PASSWORD_SAME) == 1) << c.stored;
  }
}

TEST_F(SessionConfigTest, BothHiveReadsCopyTheValueAcross) {
  namespace reg = session_registry;
  const std::wstring key = kProduct;
  PutDword(HKEY_LOCAL_MACHINE, kProduct, L"OnlyMachine", 5);
  EXPECT_EQ(5u, reg::ReadDword(nullptr, key, L"OnlyMachine", 0, false));
  EXPECT_EQ(5, Dword(HKEY_CURRENT_USER, kProduct, L"OnlyMachine"));

  EXPECT_EQ(9u, reg::ReadDword(nullptr, key, L"Nowhere", 9, false));
  EXPECT_EQ(-99, Dword(HKEY_CURRENT_USER, kProduct, L"Nowhere"));
  EXPECT_EQ(9u, reg::ReadDword(nullptr, key, L"Nowhere", 9, false, true));
  EXPECT_EQ(9, Dword(HKEY_CURRENT_USER, kProduct, L"Nowhere"));
  EXPECT_EQ(-99, Dword(HKEY_LOCAL_MACHINE, kProduct, L"Nowhere"));

  PutString(HKEY_CURRENT_USER, kProduct, L"OnlyUser", L"u");
  EXPECT_EQ(L"u", reg::ReadString(nullptr, key, L"OnlyUser", L"d", false));
  EXPECT_EQ(L"u", String(HKEY_LOCAL_MACHINE, kProduct, L"OnlyUser"));
  PutString(HKEY_LOCAL_MACHINE, kProduct, L"OnlyMachineText", L"m");
  EXPECT_EQ(L"m", reg::ReadString(nullptr, key, L"OnlyMachineText", L"d", false));
  EXPECT_EQ(L"m", String(HKEY_CURRENT_USER, kProduct, L"OnlyMachineText"));
  EXPECT_EQ(L"d", reg::ReadString(nullptr, key, L"NoText", L"d", false));
  EXPECT_EQ(L"d", String(HKEY_CURRENT_USER, kProduct, L"NoText"));
  EXPECT_EQ(L"<missing>", String(HKEY_LOCAL_MACHINE, kProduct, L"NoText"));
}
