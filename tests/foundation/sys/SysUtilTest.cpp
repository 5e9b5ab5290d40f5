#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <ctime>
#include <string>
#include <vector>

#include "classlib/Image.h"
#include "foundation/sys/SysUtil.h"
#include "support/TempDir.h"

namespace {

TEST(HexToLittleEndian, Table) {
  struct Case {
    const char* hex;
    std::vector<uint8_t> expected;
  } cases[] = {
      {"0A1b", {0x1B, 0x0A}},
      {"zz", {0x00}},
      {"A", {}},           // one character makes no byte
      {"ABC", {0xAB}},     // the odd last character is ignored
      {"00112233", {0x33, 0x22, 0x11, 0x00}},
      {"fF0g", {0x00, 0xFF}},  // g counts as 0
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(c.expected.size() + 1, 0xEE);
    HexToLittleEndian(out.data(), c.hex, strlen(c.hex));
    EXPECT_EQ(c.expected, std::vector<uint8_t>(out.begin(), out.end() - 1)) << c.hex;
    EXPECT_EQ(0xEE, out.back()) << c.hex << ": wrote past length/2 bytes";
  }
}

TEST(AppendRandomHexDigits, EightUpperHexDigitsSeededBySecond) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    time_t before = time(nullptr);
    std::string a = "x", b;
    AppendRandomHexDigits(a);
    AppendRandomHexDigits(b);
    if (time(nullptr) != before) continue;  // crossed a second: try again
    ASSERT_EQ(9u, a.size());
    EXPECT_EQ(std::string::npos, a.find_first_not_of("0123456789ABCDEF", 1));
    EXPECT_EQ(a.substr(1), b);
    return;
  }
  FAIL() << "never stayed within one second";
}

TEST(OsVersionCode, MappingsFromVersionNumbers) {
  struct Case {
    DWORD major, minor;
    int code, codeEx;
  } cases[] = {
      {5, 1, OSVER_OTHER, OSVER_OTHER}, {6, 0, OSVER_VISTA, OSVER_VISTA},
      {6, 1, OSVER_WIN7, OSVER_WIN7},   {6, 2, OSVER_WIN8, OSVER_WIN8},
      {6, 3, OSVER_WIN81, OSVER_WIN8},  {6, 4, OSVER_OTHER, OSVER_WIN8},
      {10, 0, OSVER_WIN10, OSVER_WIN8},  // Windows 10 and 11 both report 10.0
      {11, 0, OSVER_WIN10, OSVER_WIN8},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.code, OsVersionCodeFromVersion(c.major, c.minor)) << c.major << "." << c.minor;
    EXPECT_EQ(c.codeEx, OsVersionCodeExFromVersion(c.major, c.minor)) << c.major << "." << c.minor;
  }
  OSVERSIONINFOW info = {};
  int ex = GetOSVersionCodeEx(&info);
  EXPECT_EQ(OsVersionCodeExFromVersion(info.dwMajorVersion, info.dwMinorVersion), ex);
  EXPECT_NE(0u, info.dwMajorVersion);
  int code = GetOSVersionCode();
  EXPECT_GE(code, OSVER_VISTA);
  EXPECT_LE(code, OSVER_WIN10);
}

AdapterFacts Adapter(bool up, DWORD type, const wchar_t* ip, const wchar_t* name) {
  AdapterFacts f;
  f.up = up;
  f.ifType = type;
  f.firstIPv4 = ip;
  f.friendlyName = name;
  return f;
}

TEST(LocalIPv4List, AdapterSelection) {
  std::vector<AdapterRecord> list;

  // Only the loopback adapter: it stands in with "localhost".
  EXPECT_TRUE(SelectIPv4Adapters({Adapter(true, 24, L"127.0.0.1", L"Loopback")}, list));
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ(L"localhost\n", list[0].address);
  EXPECT_EQ(L"Loopback\n", list[0].name);
  EXPECT_EQ(L"LAN", list[0].kind);

  // Link-local Wi-Fi is skipped; the Ethernet address is kept; loopback is
  // not added when something else qualifies.
  EXPECT_TRUE(SelectIPv4Adapters({Adapter(true, 71, L"169.254.3.4", L"Wi-Fi"),
                                  Adapter(true, 24, L"127.0.0.1", L"Loopback"),
                                  Adapter(true, 6, L"10.0.0.5", L"Ethernet")},
                                 list));
  ASSERT_EQ(1u, list.size());
  EXPECT_EQ(L"10.0.0.5\n", list[0].address);
  EXPECT_EQ(L"Ethernet\n", list[0].name);
  EXPECT_EQ(L"LAN", list[0].kind);
  EXPECT_EQ(L"", list[0].spare1);

  // Wi-Fi kind, order kept; down adapters and adapters without IPv4 add nothing.
  EXPECT_TRUE(SelectIPv4Adapters({Adapter(true, 71, L"192.168.1.7", L"Wi-Fi"),
                                  Adapter(false, 6, L"10.1.1.1", L"Down"),
                                  Adapter(true, 6, L"", L"NoV4"),
                                  Adapter(true, 6, L"10.2.2.2", L"Wired")},
                                 list));
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ(L"WLAN", list[0].kind);
  EXPECT_EQ(L"Wired\n", list[1].name);

  EXPECT_FALSE(SelectIPv4Adapters({Adapter(true, 6, L"", L"NoV4")}, list));
  EXPECT_TRUE(list.empty());
}

TEST(LocalIPv4List, ThisMachineHasARecord) {
  std::vector<AdapterRecord> list(3);
  ASSERT_TRUE(GetLocalIPv4List(list));
  ASSERT_FALSE(list.empty());
  for (const AdapterRecord& r : list) {
    ASSERT_FALSE(r.address.empty());
    EXPECT_EQ(L'\n', r.address.back());
    EXPECT_NE(0, r.address.compare(0, 7, L"169.254"));
  }
}

TEST(TextConversions, RoundTrips) {
  const std::wstring wide = L"Gr\u00fc\u00dfe \u2713";
  const std::string utf8 = "Gr\xc3\xbc\xc3\x9f" "e \xe2\x9c\x93";
  EXPECT_EQ(utf8, UnicodeToUtf8(wide));
  EXPECT_EQ(utf8, WideToUtf8(wide));
  EXPECT_EQ(wide, Utf8ToUnicode(utf8));
  EXPECT_EQ(L"plain", AnsiToUnicode("plain"));
  EXPECT_EQ("", UnicodeToUtf8(L""));
  EXPECT_EQ(L"", Utf8ToUnicode(""));
}

TEST(EveryoneAccess, CreatorsRefuseExistingObjects) {
  TempDir dir;
  const std::wstring file = dir.file(L"shared.txt");
  ASSERT_EQ(1, CreateFileWithSA(file.c_str()));
  HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  DWORD written = 0;
  WriteFile(h, "keep", 4, &written, nullptr);
  CloseHandle(h);
  EXPECT_EQ(0, CreateFileWithSA(file.c_str()));  // exists: not touched
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(4u, data.nFileSizeLow);

  const std::wstring folder = dir.file(L"sub");
  EXPECT_EQ(1, CreateFolderWithSA(folder.c_str()));
  EXPECT_EQ(0, CreateFolderWithSA(folder.c_str()));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.c_str()));

  std::wstring name = L"TessarineTestEvent_" + std::to_wstring(GetCurrentProcessId());
  HANDLE first = CreateEventWithSA(name.c_str());
  ASSERT_NE(nullptr, first);
  HANDLE second = CreateEventWithSA(name.c_str());
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  // Auto-reset: one signal wakes one wait.
  SetEvent(first);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second, 0));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(second, 0));
  CloseHandle(second);
  CloseHandle(first);
}

TEST(ProcessFacts, PathHostVersionAndRemoteServerType) {
  std::wstring path = GetModuleFilePath();
  ASSERT_GT(path.size(), 4u);
  EXPECT_EQ(0, _wcsicmp(path.substr(path.size() - 4).c_str(), L".exe"));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));

  EXPECT_FALSE(GetLocalHostName().empty());
  EXPECT_EQ(L"1.0.1.10", GetVersionString());
  // Against an independent reading: an elevated token is an administrator's
  // in full (Wine runs elevated, so this is 1 under the tests).
  EXPECT_EQ(IsProcessElevated(), IsUserAnAdmin() ? 1 : 0);
  EXPECT_FALSE(IsWinlogonDesktop());
  EXPECT_EQ(0, GetKvSBasedType());  // no remote-server product in the build's prefix
}

TEST(CaptureScreenRect, CopiesTheRectangleIntoTheImage) {
  cl::CImage image;
  RECT empty = {10, 10, 10, 20};
  EXPECT_FALSE(CaptureScreenRect(empty, image));
  EXPECT_TRUE(image.IsNull());

  RECT rect = {0, 0, 32, 16};
  if (!CaptureScreenRect(rect, image)) GTEST_SKIP() << "no display to capture";
  ASSERT_FALSE(image.IsNull());
  EXPECT_EQ(32, image.GetWidth());
  EXPECT_EQ(16, image.GetHeight());
  // A second capture replaces the bitmap.
  RECT other = {0, 0, 8, 8};
  ASSERT_TRUE(CaptureScreenRect(other, image));
  EXPECT_EQ(8, image.GetWidth());
}

}  // namespace
