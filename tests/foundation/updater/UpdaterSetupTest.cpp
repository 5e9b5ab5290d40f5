#include "foundation/updater/UpdaterSetup.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <ctime>
#include <string>

#include "support/WaitFactor.h"

TEST(UpdaterSetup, FeedAddressParts) {
  const struct {
    const char* host;
    bool internal;
    const char* language;
    const char* url;
  } cases[] = {
      {"updates.example", false, "en",
       "https://updates.example/file_system/apt_repository/dists/WZJ01/released/binary-i386/en.appcast.xml"},
      {"updates.example", true, "en",
       "https://updates.example/file_system/apt_repository/dists/WZJ01_Internal/released/binary-i386/en.appcast.xml"},
      {"h", false, "zh-TW", "https://h/file_system/apt_repository/dists/WZJ01/released/binary-i386/zh-TW.appcast.xml"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.url, BuildAppcastUrl(c.host, c.internal, c.language));
  // Until a feed server exists, the build points at a name that never resolves.
  const std::string host = kUpdateFeedHost;
  EXPECT_EQ(".invalid", host.substr(host.size() - 8));
}

// The real library, loaded by name: the first start with automatic checks
// only records the time (the placeholder feed is never asked), and the stop
// returns within its bound.
TEST(UpdaterSetup, StartAndStopTheLibrary) {
  const wchar_t key[] = L"Software\\test_foundation_updater";
  RegDeleteTreeW(HKEY_CURRENT_USER, key);
  StartUpdater(L"en");
  const std::wstring path = std::wstring(key) + L"\\WinSparkle";
  wchar_t text[32] = {};
  ASSERT_TRUE(testwait::Until(
      [&] {
        DWORD size = sizeof(text) - 2;
        return RegGetValueW(HKEY_CURRENT_USER, path.c_str(), L"LastCheckTime", RRF_RT_REG_SZ, nullptr, text,
                            &size) == ERROR_SUCCESS;
      },
      5000, 50));
  EXPECT_LT(static_cast<long long>(time(nullptr)) - _wtoi64(text), 60);
  const DWORD start = GetTickCount();
  StopUpdater();
  EXPECT_LT(GetTickCount() - start, testwait::Ms(6000));
  RegDeleteTreeW(HKEY_CURRENT_USER, key);
  RegDeleteKeyW(HKEY_CURRENT_USER, key);
}
