// The extended display's steps against a scripted platform: which device
// it picks, the exact display-settings and persistence calls of Enable and
// Disable, the registry values of Detect.
#include "engine/display/ExtendDisplay.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeDisplayPlatform.h"
#include "foundation/log/Logger.h"
#include "support/TempDir.h"

namespace {

typedef std::vector<std::string> Lines;

const char kAttachSpare[] = "change \\\\.\\DISPLAY2 fields=0x1c0020 1024x768 at 1920,0 bpp=32 orient=0 flags=0x10000001";
const char kOrientSpare[] = "change \\\\.\\DISPLAY2 fields=0x180080 1024x768 at 0,0 bpp=0 orient=0 flags=0x40000001";
const char kRestorePrimary[] = "change \\\\.\\DISPLAY1 fields=0x1c0020 1920x1080 at 0,0 bpp=32 orient=0 flags=0x10000011";
const char kDetachSpare[] = "change \\\\.\\DISPLAY2 fields=0x1c0020 0x0 at 1920,0 bpp=32 orient=0 flags=0x10000001";

FakeTarget InUse() {
  FakeTarget t;
  t.id = 0x1001;
  t.status = DISPLAYCONFIG_TARGET_IN_USE;
  t.available = true;
  return t;
}

FakeTarget Spare(bool available, bool forcible) {
  FakeTarget t;
  t.id = 0x1002;
  t.status = forcible ? DISPLAYCONFIG_TARGET_FORCIBLE : 0;
  t.available = available;
  return t;
}

std::string ReadText(const std::wstring& path) {
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return std::string();
  std::string s;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) s.append(buf, n);
  fclose(f);
  return s;
}

}  // namespace

TEST(ExtendDisplay, FreePortIsAttachedBesideThePrimaryAndRemovedAgain) {
  FakeDisplayPlatform p = StandardPc(true, false);
  p.targets = {InUse(), Spare(true, false)};
  p.monitors = {L"\\\\.\\DISPLAY1", L"\\\\.\\display2"};
  CExtendDisplay ext(&p);
  ASSERT_EQ(ext.Enable(), 1);
  EXPECT_EQ(ext.targetId, 0x1002);
  EXPECT_EQ(ext.freePort, 1);
  EXPECT_EQ(ext.deviceMgr->chosenIndex, 0);
  EXPECT_EQ(p.DisplayCalls(), (Lines{kAttachSpare, "apply", kOrientSpare}));
  EXPECT_EQ(ext.GetMonitorIndex(), 1);
  EXPECT_EQ(ext.Enable(), 1);  // attached already: nothing more
  EXPECT_EQ(p.DisplayCalls().size(), 3u);

  p.calls.clear();
  ext.Disable();
  // A free port was never made persistent, so nothing is released.
  EXPECT_EQ(p.DisplayCalls(), (Lines{kOrientSpare, kRestorePrimary, "apply", kDetachSpare, "apply"}));
  EXPECT_EQ(ext.deviceMgr->attached, 0);
}

TEST(ExtendDisplay, ForcibleTargetIsMadePersistentAndReleasedAfterItShows) {
  FakeDisplayPlatform p = StandardPc(true, false);
  FakeTarget forcible = Spare(false, true);
  forcible.forcedFromQuery = 4;  // Detect's and Enable's queries, then the second release attempt
  p.targets = {InUse(), forcible};
  CExtendDisplay ext(&p);
  ASSERT_EQ(ext.Enable(), 1);
  EXPECT_EQ(ext.forciblePort, 1);
  EXPECT_EQ(ext.freePort, 0);
  EXPECT_EQ(ext.targetId, 0x1002);
  EXPECT_EQ(p.DisplayCalls(), (Lines{"persist id=4098 on=1 type=5 size=24", kAttachSpare, "apply", kOrientSpare}));

  p.calls.clear();
  ext.Disable();
  EXPECT_EQ(p.DisplayCalls(), (Lines{kOrientSpare, kRestorePrimary, "apply", kDetachSpare, "apply", "sleep 100",
                                     "sleep 100", "persist id=4098 on=0 type=5 size=24"}));
}

TEST(ExtendDisplay, ForcedVirtualDriverWinsOverASparePort) {
  FakeDisplayPlatform p = StandardPc(true, true);
  p.targets = {InUse(), Spare(true, false)};
  p.hkcu[L"ForceUsingVD"] = 1;
  p.composition = {true, true, true, false};  // Detect asks first (AeroEnable)
  CExtendDisplay ext(&p);
  ASSERT_EQ(ext.Enable(), 1);
  EXPECT_EQ(ext.forceVirtual, 1);
  EXPECT_EQ(ext.targetId, -1);
  EXPECT_EQ(ext.deviceMgr->chosenIndex, 1);
  // The virtual display waits for composition to be off and gets no orientation field.
  EXPECT_EQ(p.DisplayCalls(),
            (Lines{"change \\\\.\\DISPLAY3 fields=0x1c0020 1024x768 at 1920,0 bpp=32 orient=0 flags=0x10000001",
                   "apply", "sleep 100", "sleep 100",
                   "change \\\\.\\DISPLAY3 fields=0x180000 1024x768 at 0,0 bpp=0 orient=0 flags=0x40000001"}));
  p.calls.clear();
  ext.Disable();
  // The chosen device is the virtual one: detached as chosen, and the final
  // detach of the virtual device finds nothing left to do.
  EXPECT_EQ(p.DisplayCalls(),
            (Lines{"change \\\\.\\DISPLAY3 fields=0x180000 1024x768 at 0,0 bpp=0 orient=0 flags=0x40000001",
                   kRestorePrimary, "apply",
                   "change \\\\.\\DISPLAY3 fields=0x1c0020 0x0 at 1920,0 bpp=32 orient=0 flags=0x10000001",
                   "apply"}));
}

TEST(ExtendDisplay, RefusedPortFallsBackToTheVirtualDriverAt1024x768) {
  FakeDisplayPlatform p = StandardPc(true, true);
  p.targets = {InUse(), Spare(true, false)};
  p.devices[2].changeResult = DISP_CHANGE_FAILED;
  CExtendDisplay ext(&p);
  ASSERT_EQ(ext.Enable(), 1);
  EXPECT_EQ(ext.deviceMgr->chosenIndex, 1);
  EXPECT_EQ(p.DisplayCalls(),
            (Lines{kAttachSpare, "apply",
                   "change \\\\.\\DISPLAY3 fields=0x1c0020 1024x768 at 1920,0 bpp=32 orient=0 flags=0x10000001",
                   "apply",
                   "change \\\\.\\DISPLAY3 fields=0x180000 1024x768 at 0,0 bpp=0 orient=0 flags=0x40000001"}));
}

// What happens under Wine: DisplayConfigSetDeviceInfo cannot be found, and
// there is neither a spare port nor a virtual driver.
TEST(ExtendDisplay, WithoutPortOrDriverNothingChangesAndEnableFails) {
  TempDir dir;
  const std::wstring log = dir.file(L"display.log");
  ZtLogger::Instance().Init(const_cast<wchar_t*>(log.c_str()));
  FakeDisplayPlatform p = StandardPc(false, false);
  p.bindResult = false;
  CExtendDisplay ext(&p);
  EXPECT_EQ(ext.Enable(), 0);
  EXPECT_TRUE(p.DisplayCalls().empty());
  EXPECT_EQ(p.queries, 0);
  EXPECT_EQ(ext.GetMonitorIndex(), 0);
  ext.Disable();
  EXPECT_TRUE(p.DisplayCalls().empty());
  ZtLogger::Instance().Uninit();
  const std::string text = ReadText(log);
  for (const char* line : {"[Display]REJECT No Display Port/Virtual Driver", "[Display]No extra display port can be use.",
                           "[Display]Check RIGHT direction. (1920,0) - (2944,768)", "[Display]Set extend display to RIGHT",
                           "[Display]Try Using Virtual Driver dwDisplayIndex = -1",
                           "[Display]Extend Display Index = -1, Resolution(1024,768)"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

TEST(ExtendDisplay, SidesFromTheRegistryOrTheFreeSpace) {
  {
    // "XDisplayDirection" 2: left of the primary, at (-1024, 0).
    FakeDisplayPlatform p = StandardPc(true, false);
    p.targets = {InUse(), Spare(true, false)};
    p.hkcu[L"XDisplayDirection"] = 2;
    CExtendDisplay ext(&p);
    EXPECT_EQ(ext.deviceMgr->positionX, -1024);
    EXPECT_EQ(ext.deviceMgr->positionY, 0);
    ASSERT_EQ(ext.Enable(), 1);
    EXPECT_EQ(p.DisplayCalls()[0],
              "change \\\\.\\DISPLAY2 fields=0x1c0020 1024x768 at -1024,0 bpp=32 orient=0 flags=0x10000001");
  }
  {
    // Another attached monitor right of the primary: the virtual display goes left.
    FakeDisplayPlatform p = StandardPc(false, true);
    p.bindResult = false;
    FakeDevice other;
    other.name = L"\\\\.\\DISPLAY4";
    other.string = L"Adapter B";
    other.flags = DISPLAY_DEVICE_ATTACHED_TO_DESKTOP;
    other.x = 1920;
    other.width = 1280;
    other.height = 1024;
    p.devices.push_back(other);
    CExtendDisplay ext(&p);
    ASSERT_EQ(ext.Enable(), 1);
    EXPECT_EQ(p.DisplayCalls()[0],
              "change \\\\.\\DISPLAY3 fields=0x1c0020 1024x768 at -1024,0 bpp=32 orient=0 flags=0x10000001");
  }
}

TEST(ExtendDisplay, BeforeWindows7OnlyTheVirtualDriverIsUsed) {
  FakeDisplayPlatform p = StandardPc(true, true);
  p.os = 1;  // Vista
  p.targets = {InUse(), Spare(true, false)};
  CExtendDisplay ext(&p);
  ASSERT_EQ(ext.Enable(), 1);
  EXPECT_EQ(ext.deviceMgr->chosenIndex, 1);
  EXPECT_EQ(p.queries, 0);
  EXPECT_EQ(p.DisplayCalls()[0],
            "change \\\\.\\DISPLAY3 fields=0x1c0020 1024x768 at 1920,0 bpp=32 orient=0 flags=0x10000001");
}

TEST(ExtendDisplay, DetectWritesPortCountsToTheHiveOfTheProduct) {
  const struct {
    const char* what;
    int kvsType;
    bool winlogon;
    Lines writes;
  } cases[] = {
      {"user install", 0, false,
       {"write HKCU NumOfDisplayPort=2", "write HKCU NumOfDisplayPortAvail=1", "write HKCU AeroEnable=1"}},
      {"machine install", 1, false,
       {"write HKLM NumOfDisplayPort=2", "write HKLM NumOfDisplayPortAvail=1", "write HKLM AeroEnable=1"}},
      {"winlogon desktop", 0, true, {}},
  };
  for (const auto& c : cases) {
    FakeDisplayPlatform p = StandardPc(true, true);
    p.kvsType = c.kvsType;
    p.winlogon = c.winlogon;
    p.composition = {true};
    CExtendDisplay ext(&p);
    // Counted afresh at every walk, not added up.
    ext.deviceMgr->Refresh();
    ext.deviceMgr->Refresh();
    ext.Detect();
    Lines writes;
    for (const std::string& line : p.calls)
      if (line.rfind("write", 0) == 0) writes.push_back(line);
    EXPECT_EQ(writes, c.writes) << c.what;
  }
}

TEST(DisplayDeviceMgr, UnreadableSettingsDoNotEndTheWalkAndIndexesAreChecked) {
  FakeDisplayPlatform p = StandardPc(true, true);
  p.devices[2].registryReadable = false;  // the spare port, before the virtual device
  CDisplayDeviceMgr mgr(&p);
  ASSERT_EQ(mgr.otherCount, 2);
  EXPECT_EQ(mgr.otherModes[0].dmFields, 0u);
  EXPECT_EQ(mgr.otherModes[0].dmSize, sizeof(DEVMODEW));
  EXPECT_EQ(mgr.FindVirtualDevice(), 1);
  EXPECT_EQ(mgr.FindDeviceByString(), 0);
  EXPECT_EQ(mgr.mirrorCount, 1);
  EXPECT_EQ(mgr.numDisplayPorts, 2);
  EXPECT_EQ(mgr.numDisplayPortsFree, 1);

  mgr.attached = 1;
  EXPECT_EQ(mgr.Attach(-1, 1024, 768), 0);
  EXPECT_EQ(mgr.Attach(2, 1024, 768), 0);
  EXPECT_EQ(mgr.Detach(-1), 0);
  EXPECT_EQ(mgr.SetDisplayOrientation(-1, 0), 0);
  EXPECT_EQ(mgr.SetDisplayOrientation(2, 0), 0);
  EXPECT_FALSE(mgr.IsVirtualDevice(-1));
  EXPECT_TRUE(p.DisplayCalls().empty());
}

TEST(DisplayDeviceMgr, OrientationTurnsTheModeForNinetyAndTwoSeventy) {
  const struct {
    int type;
    const char* call;
  } cases[] = {
      {0, "change \\\\.\\DISPLAY2 fields=0x180080 1024x768 at 0,0 bpp=0 orient=0 flags=0x40000001"},
      {1, "change \\\\.\\DISPLAY2 fields=0x180080 768x1024 at 0,0 bpp=0 orient=1 flags=0x40000001"},
      {2, "change \\\\.\\DISPLAY2 fields=0x180080 1024x768 at 0,0 bpp=0 orient=2 flags=0x40000001"},
      {3, "change \\\\.\\DISPLAY2 fields=0x180080 768x1024 at 0,0 bpp=0 orient=3 flags=0x40000001"},
  };
  for (const auto& c : cases) {
    FakeDisplayPlatform p = StandardPc(true, false);
    CDisplayDeviceMgr mgr(&p);
    mgr.attached = 1;
    EXPECT_EQ(mgr.SetDisplayOrientation(0, c.type), 1);
    EXPECT_EQ(p.DisplayCalls(), Lines{c.call});
  }
  FakeDisplayPlatform p = StandardPc(true, false);
  p.devices[2].changeResult = DISP_CHANGE_BADMODE;
  CDisplayDeviceMgr mgr(&p);
  mgr.attached = 1;
  EXPECT_EQ(mgr.SetDisplayOrientation(0, 1), 0);
  EXPECT_EQ(mgr.SetDisplayOrientation(0, 4), 0);  // no such orientation: nothing tried
  EXPECT_EQ(p.DisplayCalls().size(), 1u);
}
