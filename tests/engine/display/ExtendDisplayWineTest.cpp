// The real platform path under Wine, which has one adapter, no spare port,
// no virtual display driver, and a DisplayConfigSetDeviceInfo that ends the
// process when called: the extended display must fail cleanly.
#include "engine/display/ExtendDisplay.h"

#include <gtest/gtest.h>

namespace {

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

DEVMODEW Current() {
  DEVMODEW m{};
  m.dmSize = sizeof(m);
  EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &m);
  return m;
}

}  // namespace

TEST(ExtendDisplayUnderWine, EnableFailsWithoutChangingAnyDisplaySetting) {
  if (!UnderWine()) GTEST_SKIP() << "on Windows this would really add a monitor";
  const DEVMODEW before = Current();
  // Looked up, not linked: the stub is never reached.
  EXPECT_FALSE(DefaultDisplayPlatform().BindDisplayConfig());
  CExtendDisplay ext;
  EXPECT_STREQ(ext.deviceMgr->primary.DeviceName, L"\\\\.\\DISPLAY1");
  EXPECT_EQ(ext.deviceMgr->FindVirtualDevice(), -1);
  EXPECT_EQ(ext.Enable(), 0);
  EXPECT_EQ(ext.deviceMgr->attached, 0);
  EXPECT_EQ(ext.GetMonitorIndex(), 0);
  ext.Disable();
  const DEVMODEW after = Current();
  EXPECT_EQ(after.dmPelsWidth, before.dmPelsWidth);
  EXPECT_EQ(after.dmPelsHeight, before.dmPelsHeight);
  EXPECT_EQ(after.dmPosition.x, before.dmPosition.x);
  EXPECT_EQ(after.dmPosition.y, before.dmPosition.y);
  EXPECT_EQ(after.dmBitsPerPel, before.dmBitsPerPel);
}
