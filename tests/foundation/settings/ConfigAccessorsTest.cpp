#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "ProductStateGuard.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/settings/HardwareId.h"
#include "foundation/settings/IniFile.h"
#include "foundation/sys/SysUtil.h"

namespace {

bool EndsWith(const std::wstring& s, const std::wstring& tail) {
  return s.size() >= tail.size() &&
         _wcsicmp(s.c_str() + s.size() - tail.size(), tail.c_str()) == 0;
}

bool IsLowerHex32(const std::wstring& s) {
  return s.size() == 32 && s.find_first_not_of(L"0123456789abcdef") == std::wstring::npos;
}

class ConfigAccessorsTest : public ::testing::Test {
 protected:
  void SetUp() override { ProductStateGuard::Clear(); }
  void TearDown() override { ProductStateGuard::Clear(); }
};

TEST_F(ConfigAccessorsTest, Paths) {
  const std::wstring folder = CFrameUtility::GetCommonAppDataPath();
  ASSERT_TRUE(EndsWith(folder, L"\\Tessarine"));
  DWORD attributes = GetFileAttributesW(folder.c_str());
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(folder + L"\\config.ini", CFrameUtility::GetConfigIniPath());
  EXPECT_EQ(folder + L"\\setup.iss", CFrameUtility::GetSetupIssPath());
  EXPECT_EQ(folder + L"\\default.iss", CFrameUtility::GetDefaultIssPath());

  const std::wstring program = CFrameUtility::GetProgramFolder();
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(L'\\', program.back());
  EXPECT_EQ(0u, GetModuleFilePath().find(program));
}

TEST_F(ConfigAccessorsTest, FirstRunFlagAndStartupOrder) {
  // No config.ini: the start-up check passes, the flag reads as not done.
  EXPECT_EQ(CONFIG_CHECK_OK, CFrameUtility::CheckConfigAtStartup());
  EXPECT_EQ(OOBE_NOT_DONE, CFrameUtility::GetOOBEDone());
  CFrameUtility::SetOOBEDone();
  EXPECT_EQ(OOBE_DONE, CFrameUtility::GetOOBEDone());
  EXPECT_EQ(CONFIG_CHECK_OK, CFrameUtility::CheckConfig(0));

  // Held by another session's process: the read reports the lock.
  const std::wstring dat = CFrameUtility::GetConfigIniPath() + L".dat";
  CCpyptIniFile::ReleaseFiles(CFrameUtility::GetConfigIniPath());
  HANDLE other = CreateFileW(dat.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, other);
  EXPECT_EQ(OOBE_LOCKED, CFrameUtility::GetOOBEDone());
  EXPECT_EQ(CONFIG_CHECK_LOCKED, CFrameUtility::CheckConfig(0));
  CloseHandle(other);
  EXPECT_EQ(OOBE_DONE, CFrameUtility::GetOOBEDone());
}

TEST_F(ConfigAccessorsTest, MachineIdIsStoredOnceAndKept) {
  const std::wstring id = CFrameUtility::GetPrimaryMachineID();
  EXPECT_TRUE(IsLowerHex32(id)) << std::string(id.begin(), id.end());
  EXPECT_EQ(id, CFrameUtility::GetPrimaryMachineID());
  std::wstring copy;
  CFrameUtility::GetMachineID(copy);
  EXPECT_EQ(id, copy);
  // Stored, so a later process reads the same value.
  std::wstring stored;
  EXPECT_EQ(1, IniFile::GetValue(CFrameUtility::GetConfigIniPath(), L"SYSTEM", L"duuid", stored));
  EXPECT_EQ(id, stored);

  std::wstring fresh;
  const bool fromAdapter = GetHardwareID(fresh);
  EXPECT_EQ(fromAdapter ? false : true, IsHardwareIDChanged());
  if (fromAdapter) {
    // The comparison is exact: the same digits in upper case are a change.
    std::wstring upper = id;
    for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
    CFrameUtility::SetPrimaryMachineID(upper);
    EXPECT_TRUE(IsHardwareIDChanged());
  }
}

TEST_F(ConfigAccessorsTest, MeetingTokenAndDuration) {
  EXPECT_EQ(L"", CFrameUtility::GetMeetingToken());
  CFrameUtility::SetMeetingToken(L"tok-123");
  CFrameUtility::SetMeetingTokenDuration(L"3600");
  EXPECT_EQ(L"tok-123", CFrameUtility::GetMeetingToken());
  std::wstring duration;
  EXPECT_EQ(1, IniFile::GetValue(CFrameUtility::GetConfigIniPath(), L"LICENSE", L"duration",
                                 duration));
  EXPECT_EQ(L"3600", duration);
  // A token with a line break from the backend is refused, not split into entries.
  CFrameUtility::SetMeetingToken(L"evil\r\n[OOBE]\r\ndone=0");
  EXPECT_EQ(L"tok-123", CFrameUtility::GetMeetingToken());
}

TEST(HardwareId, DerivationVectors) {
  // Expected digests computed independently: python3 hashlib.sha1 of the input.
  const std::string macInput = HardwareIdInputFromMac("001A2B3C4D5E");
  EXPECT_EQ("001A2B3C4D5E30303141324233433444354500000000", macInput);
  EXPECT_EQ("c327b4d62690c09d44a2dcc58bf44c38", HardwareIdFromInput(macInput));
  const uint8_t fixed[16] = {'1', '2', '3', '4', '5', '6', '7', '8', '9', '0'};
  const std::string seedInput = HardwareIdInputFromSeed(fixed);
  EXPECT_EQ("31323334353637383930000000000000", seedInput);
  EXPECT_EQ("c7dd1666447a1a96398c6263d0d97c97", HardwareIdFromInput(seedInput));
}

TEST(HardwareId, ThirtyTwoLowerHexDigitsStableWhenFromAnAdapter) {
  std::wstring first, second;
  const bool a = GetHardwareID(first);
  const bool b = GetHardwareID(second);
  EXPECT_TRUE(IsLowerHex32(first));
  EXPECT_TRUE(IsLowerHex32(second));
  EXPECT_EQ(a, b);
  if (a) {
    EXPECT_EQ(first, second);
  } else {
    EXPECT_NE(first, second) << "a GUID seed is new on every call";
  }
}

}  // namespace
