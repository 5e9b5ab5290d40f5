#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "foundation/digest/Md5.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/settings/IniFile.h"
#include "support/TempDir.h"

namespace {

std::string ReadAll(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  char buf[4096];
  DWORD got = 0;
  ReadFile(h, buf, sizeof(buf), &got, nullptr);
  CloseHandle(h);
  return std::string(buf, got);
}

// Writes bytes with a plain handle, as an editor or another tool would; the
// last-write time is kept when keepTime is set.
void WriteAll(const std::wstring& path, const std::string& bytes, bool keepTime = false) {
  FILETIME before = {};
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  GetFileTime(h, nullptr, nullptr, &before);
  DWORD written = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  SetEndOfFile(h);
  if (keepTime) SetFileTime(h, nullptr, nullptr, &before);
  CloseHandle(h);
}

void ShiftWriteTime(const std::wstring& path, long long seconds) {
  HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  FILETIME t;
  GetFileTime(h, nullptr, nullptr, &t);
  ULARGE_INTEGER u;
  u.LowPart = t.dwLowDateTime;
  u.HighPart = t.dwHighDateTime;
  u.QuadPart += seconds * 10000000LL;
  t.dwLowDateTime = u.LowPart;
  t.dwHighDateTime = u.HighPart;
  SetFileTime(h, nullptr, nullptr, &t);
  CloseHandle(h);
}

class IniStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ini = dir.file(L"config.ini");
    dat = ini + L".dat";
  }
  void TearDown() override {
    CCpyptIniFile::ReleaseFiles(ini);
    IniStoreState::Instance().resignedOverMismatch.clear();
  }
  TempDir dir;
  std::wstring ini, dat;
};

TEST(IniSignature, DigestInputLayout) {
  // Expected digests computed independently: python3 hashlib.md5 of the text.
  const std::string input = CCpyptIniFile::SignatureInput(
      std::string("[OOBE]\r\ndone=1\r\n\0ignored", 24), "2024_01_02_03_04_05", 0x1234abcd, 10240,
      "ABCD1234", 0);
  EXPECT_EQ("[OOBE]\r\ndone=1\r\n2024_01_02_03_04_05+1234abcd_10240ABCD1234", input);
  EXPECT_EQ("f73a69c9baf4df87196ec9918ec7d057", Md5Hex(input.data(), input.size()));
  const std::string old = CCpyptIniFile::SignatureInput("[OOBE]\r\ndone=1\r\n",
                                                        "2024_01_02_03_04_05", 0x1234abcd, 10240,
                                                        "ABCD1234", 1);
  EXPECT_EQ("[OOBE]\r\ndone=1\r\n2024_01_02_03_04_05+1234abcd_10240", old);
}

TEST_F(IniStoreTest, WriteSignsAndReadsBack) {
  std::wstring value = L"untouched";
  EXPECT_EQ(0, IniFile::GetValue(ini, L"OOBE", L"done", value));  // no config.ini yet
  EXPECT_EQ(CCpyptIniFile::CheckLocalMD5(ini, 0), INI_SIG_NO_INI);
  EXPECT_EQ(CONFIG_CHECK_OK, CFrameUtility::CheckConfigAt(ini, 0));

  ASSERT_EQ(1, IniFile::SetValue(ini, L"OOBE", L"done", L"1"));
  ASSERT_EQ(1, IniFile::SetValue(ini, L"SYSTEM", L"duuid", L"0123456789abcdef0123456789abcdef"));

  // The signature file: exactly the 32 lower-case digits, no line end.
  const std::string sig = ReadAll(dat);
  ASSERT_EQ(32u, sig.size());
  EXPECT_EQ(std::string::npos, sig.find_first_not_of("0123456789abcdef"));
  EXPECT_EQ(CCpyptIniFile::MakeLocalMD5(ini, 0), sig);
  EXPECT_NE(CCpyptIniFile::MakeLocalMD5(ini, 1), sig);  // the old method omits the Windows volume

  EXPECT_EQ(1, IniFile::GetValue(ini, L"OOBE", L"done", value));
  EXPECT_EQ(L"1", value);
  EXPECT_EQ(1, IniFile::GetValue(ini, L"OOBE", L"absent", value));
  EXPECT_EQ(L"", value);
  EXPECT_EQ(1, IniFile::FindKey(ini, L"SYSTEM", L"duuid"));
  EXPECT_EQ(0, IniFile::FindKey(ini, L"SYSTEM", L"DUUID"));  // case-sensitive
  EXPECT_EQ(CONFIG_CHECK_OK, CFrameUtility::CheckConfigAt(ini, 0));

  // The text is ANSI (the file was created empty before the first write).
  const std::string text = ReadAll(ini);
  EXPECT_NE(std::string::npos, text.find("[OOBE]"));
  EXPECT_NE(std::string::npos, text.find("done=1"));
}

TEST_F(IniStoreTest, TamperingIsDetected) {
  ASSERT_EQ(1, IniFile::SetValue(ini, L"OOBE", L"done", L"1"));
  ASSERT_EQ(CONFIG_CHECK_OK, CFrameUtility::CheckConfigAt(ini, 0));
  const std::string goodSig = ReadAll(dat);
  const std::string goodText = ReadAll(ini);
  std::wstring value;

  struct Tamper {
    const char* what;
    void (*apply)(const std::wstring& ini, const std::wstring& dat, const std::string& text);
  } cases[] = {
      {"content edited, time kept",
       [](const std::wstring& i, const std::wstring&, const std::string& t) {
         std::string edited = t;
         edited[edited.find("done=1") + 5] = '0';
         WriteAll(i, edited, true);
       }},
      {"only the last-write time changed",
       [](const std::wstring& i, const std::wstring&, const std::string&) { ShiftWriteTime(i, 3600); }},
      {"signature replaced by garbage",
       [](const std::wstring&, const std::wstring& d, const std::string&) {
         WriteAll(d, "garbage, not a digest");
       }},
      {"signature with a trailing line end",
       [](const std::wstring&, const std::wstring& d, const std::string&) {
         WriteAll(d, ReadAll(d) + "\r\n");
       }},
      {"signature deleted",
       [](const std::wstring&, const std::wstring& d, const std::string&) { DeleteFileW(d.c_str()); }},
  };
  for (const Tamper& c : cases) {
    SCOPED_TRACE(c.what);
    CCpyptIniFile::ReleaseFiles(ini);  // another program edits while no one holds the files
    WriteAll(ini, goodText);
    WriteAll(dat, goodSig);
    // Re-sign the restored text: its time is new.
    ASSERT_EQ(INI_SIG_MATCH, CCpyptIniFile::WriteNewLocalMD5(ini));
    // A check has matched in this process; the change must still be seen.
    ASSERT_EQ(CONFIG_CHECK_OK, CFrameUtility::CheckConfigAt(ini, 0));
    CCpyptIniFile::ReleaseFiles(ini);
    c.apply(ini, dat, goodText);
    EXPECT_EQ(INI_SIG_MISMATCH, CCpyptIniFile::CheckLocalMD5(ini, 0));
    EXPECT_EQ(CONFIG_CHECK_INVALID, CFrameUtility::CheckConfigAt(ini, 0));
    EXPECT_EQ(-1, IniFile::GetValue(ini, L"OOBE", L"done", value));  // read all the same
    EXPECT_EQ(-1, IniFile::FindKey(ini, L"OOBE", L"done"));
  }

  // An upper-case copy of the digest verifies.
  CCpyptIniFile::ReleaseFiles(ini);
  WriteAll(ini, goodText);
  ASSERT_EQ(INI_SIG_MATCH, CCpyptIniFile::WriteNewLocalMD5(ini));
  std::string upper = ReadAll(dat);
  for (char& ch : upper) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
  WriteAll(dat, upper);
  EXPECT_EQ(CONFIG_CHECK_OK, CFrameUtility::CheckConfigAt(ini, 0));
}

TEST_F(IniStoreTest, RewriteOverMismatchStaysReported) {
  ASSERT_EQ(1, IniFile::SetValue(ini, L"OOBE", L"done", L"1"));
  CCpyptIniFile::ReleaseFiles(ini);
  WriteAll(ini, "[OOBE]\r\ndone=1\r\n[SYSTEM]\r\nduuid=copied-from-elsewhere\r\n");

  // Start-up: both methods mismatch; the failure is logged, start-up goes on.
  EXPECT_EQ(CONFIG_CHECK_INVALID, CFrameUtility::CheckConfigAtStartupAt(ini));
  // The first-run write then re-signs the file...
  ASSERT_EQ(1, IniFile::SetValue(ini, L"OOBE", L"done", L"1"));
  EXPECT_EQ(INI_SIG_MATCH, CCpyptIniFile::CheckLocalMD5(ini, 0));
  // ...but the store does not let the check forget what it found.
  EXPECT_EQ(CONFIG_CHECK_INVALID, CFrameUtility::CheckConfigAt(ini, 0));
  EXPECT_EQ(CONFIG_CHECK_INVALID, CFrameUtility::CheckConfigAtStartupAt(ini));
  // Only a deliberate re-sign clears it.
  CFrameUtility::ResignConfigAt(ini);
  EXPECT_EQ(CONFIG_CHECK_OK, CFrameUtility::CheckConfigAt(ini, 0));
}

TEST_F(IniStoreTest, OldMethodSignatureIsUpgradedAtStartup) {
  ASSERT_EQ(1, IniFile::SetValue(ini, L"OOBE", L"done", L"1"));
  CCpyptIniFile::ReleaseFiles(ini);
  WriteAll(dat, CCpyptIniFile::MakeLocalMD5(ini, 1));

  EXPECT_EQ(CONFIG_CHECK_INVALID, CFrameUtility::CheckConfigAt(ini, 0));
  EXPECT_EQ(CONFIG_CHECK_OK, CFrameUtility::CheckConfigAt(ini, 1));
  EXPECT_EQ(CONFIG_CHECK_INVALID, CFrameUtility::CheckConfigAtStartupAt(ini));
  EXPECT_EQ(CCpyptIniFile::MakeLocalMD5(ini, 0), ReadAll(dat));
  EXPECT_EQ(CONFIG_CHECK_OK, CFrameUtility::CheckConfigAt(ini, 0));
}

TEST_F(IniStoreTest, HeldSignatureFileReportsLocked) {
  ASSERT_EQ(1, IniFile::SetValue(ini, L"OOBE", L"done", L"1"));
  CCpyptIniFile::ReleaseFiles(ini);
  // Another process holding the signature file exclusively.
  HANDLE other = CreateFileW(dat.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, other);
  std::wstring value = L"untouched";
  EXPECT_EQ(INI_SIG_NOT_ACCESSIBLE, CCpyptIniFile::CheckLocalMD5(ini, 0));
  EXPECT_EQ(-2, IniFile::GetValue(ini, L"OOBE", L"done", value));
  EXPECT_EQ(L"untouched", value);
  EXPECT_EQ(-2, IniFile::SetValue(ini, L"OOBE", L"done", L"0"));
  EXPECT_EQ(CONFIG_CHECK_LOCKED, CFrameUtility::CheckConfigAt(ini, 0));
  CloseHandle(other);
  EXPECT_EQ(1, IniFile::GetValue(ini, L"OOBE", L"done", value));
  EXPECT_EQ(L"1", value);  // the refused write did not happen

  // While the store holds the files, another process cannot delete them.
  EXPECT_FALSE(DeleteFileW(dat.c_str()));
  CCpyptIniFile::ReleaseFiles(ini);
  EXPECT_TRUE(DeleteFileW(dat.c_str()));
}

TEST_F(IniStoreTest, ValuesSectionsAndRefusedWrites) {
  const std::wstring longValue(3000, L'v');
  ASSERT_EQ(1, IniFile::SetValue(ini, L"MEETING", L"token", longValue));
  std::wstring value;
  EXPECT_EQ(1, IniFile::GetValue(ini, L"MEETING", L"token", value));
  EXPECT_EQ(longValue, value);  // longer than 1023: the buffer grows

  // A value with a line break would add entries of its own.
  EXPECT_EQ(0, IniFile::SetValue(ini, L"MEETING", L"token", L"x\r\n[OOBE]\r\ndone=1"));
  EXPECT_EQ(0, IniFile::SetValue(ini, L"", L"token", L"x"));
  EXPECT_EQ(0, IniFile::SetValue(ini, L"MEETING", L"", L"x"));
  EXPECT_EQ(1, IniFile::FindKey(ini, L"MEETING", L"token"));
  EXPECT_EQ(0, IniFile::GetValue(ini, L"", L"token", value));
  EXPECT_EQ(0, IniFile::SetValue(L"", L"MEETING", L"token", L"x"));

  CCpyptIniFile::ReleaseFiles(ini);
  WriteAll(ini, "[S]\r\n=x\r\nnoequals\r\na=\r\nb=c=d\r\n");
  std::vector<std::wstring> keys{L"stale"}, values;
  ASSERT_EQ(1, IniFile::ReadSection(ini, L"S", keys, values));
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), keys);
  EXPECT_EQ((std::vector<std::wstring>{L"", L"c=d"}), values);
  EXPECT_EQ(0, IniFile::ReadSection(ini, L"", keys, values));
  EXPECT_EQ(0, IniFile::ReadSection(dir.file(L"none.ini"), L"S", keys, values));

  // A big section still reads whole.
  std::string big = "[B]\r\n";
  for (int i = 0; i < 500; ++i) big += "key" + std::to_string(i) + "=value\r\n";
  WriteAll(ini, big);
  ASSERT_EQ(1, IniFile::ReadKeys(ini, L"B", keys));
  EXPECT_EQ(500u, keys.size());
}

}  // namespace
