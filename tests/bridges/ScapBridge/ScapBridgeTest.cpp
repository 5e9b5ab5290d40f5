// libScapBridge.dll under Wine: desktop duplication is not implemented
// there, so every path must fail cleanly (on Windows the same calls capture).
#include "bridges/ScapBridge/ScapBridge.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(ScapBridge, FailsCleanlyWithoutDuplication) {
  HMODULE lib = LoadLibraryW(L"libScapBridge.dll");
  ASSERT_NE(lib, nullptr);
  auto init = reinterpret_cast<PFN_KvDxgiCaptorInit>(GetProcAddress(lib, "KvDxgiCaptorInit"));
  auto get = reinterpret_cast<PFN_KvDxgiCaptorGetFrame>(GetProcAddress(lib, "KvDxgiCaptorGetFrame"));
  auto fre = reinterpret_cast<PFN_KvDxgiCaptorFree>(GetProcAddress(lib, "KvDxgiCaptorFree"));
  ASSERT_TRUE(init && get && fre);

  std::vector<uint8_t> buffer(64 * 64 * 4, 0x33);
  EXPECT_EQ(get(buffer.data(), 1), KV_DXGI_FAILED) << "nothing set up yet";
  EXPECT_EQ(get(nullptr, 0), KV_DXGI_FAILED);
  EXPECT_EQ(init(nullptr), 0);

  KvDxgiSetup bad;
  memset(&bad, 0, sizeof(bad));
  bad.width = 64;
  bad.height = 64;  // no source area
  EXPECT_EQ(init(&bad), 0);

  KvDxgiSetup probe;
  memset(&probe, 0, sizeof(probe));
  probe.sourceWidth = 1024;
  probe.sourceHeight = 768;
  const int probed = init(&probe);

  KvDxgiSetup setup;
  memset(&setup, 0, sizeof(setup));
  setup.width = setup.sourceWidth = 64;
  setup.height = setup.sourceHeight = 64;
  strcpy(setup.deviceName, "\\\\.\\DISPLAY1");
  const int started = init(&setup);
  if (started) {
    // Real duplication (Windows): a picture or "unchanged".
    const int r = get(buffer.data(), 1);
    EXPECT_TRUE(r == KV_DXGI_NEW_FRAME || r == KV_DXGI_SAME_FRAME) << r;
  } else {
    EXPECT_EQ(probed, 0);
    EXPECT_EQ(get(buffer.data(), 1), KV_DXGI_FAILED);
    for (uint8_t b : buffer) ASSERT_EQ(b, 0x33) << "a failed capture writes nothing";
  }
  EXPECT_EQ(fre(), 0);
  EXPECT_EQ(fre(), 0);
  EXPECT_EQ(get(buffer.data(), 0), KV_DXGI_FAILED);
  FreeLibrary(lib);
}
