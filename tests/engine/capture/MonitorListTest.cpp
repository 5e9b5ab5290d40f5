// The monitor list on the test display and its bookkeeping of several
// monitors (fed in directly: Wine has one).
#include "engine/capture/MonitorList.h"

#include <gtest/gtest.h>

#include "support/TestWindow.h"

TEST(MonitorList, TestDisplayIsOnePrimaryMonitorAtOrigin) {
  CMonitorList list;
  ASSERT_TRUE(list.Enumerate());
  ASSERT_EQ(list.Count(), 1);
  MonitorRect r;
  ASSERT_TRUE(list.GetRect(0, &r));
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.width, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(r.height, GetSystemMetrics(SM_CYSCREEN));
  EXPECT_EQ(r.right, r.width);
  EXPECT_EQ(r.bottom, r.height);
  EXPECT_EQ(list.primaryIndex(), 0);
  EXPECT_EQ(list.currentIndex(), 0);
  // The monitor's own device name, never a description such as "Generic
  // Non-PnP Monitor": the DXGI bridge and the display manager match on it.
  EXPECT_EQ(list.GetCurrentName(), L"\\\\.\\DISPLAY1");
  EXPECT_EQ(list.boundingWidth(), r.width);
  EXPECT_EQ(list.boundingHeight(), r.height);
  EXPECT_FALSE(list.GetRect(1, &r));
  EXPECT_EQ(list.GetName(1), L"");
}

TEST(MonitorList, BoundingBoxAndIndicesOfSeveralMonitors) {
  struct Mon {
    RECT rect;
    DWORD flags;
  };
  struct Case {
    const char* name;
    std::vector<Mon> monitors;
    RECT box;
    int width, height, primary, lastSecondary;
  } cases[] = {
      {"secondary left of primary",
       {{{0, 0, 1920, 1080}, MONITORINFOF_PRIMARY}, {{-1280, 0, 0, 1024}, 0}},
       {-1280, 0, 1920, 1080}, 3200, 1080, 0, 1},
      {"primary enumerated second",
       {{{-1280, 0, 0, 1024}, 0}, {{0, 0, 1920, 1080}, MONITORINFOF_PRIMARY}},
       {-1280, 0, 1920, 1080}, 3200, 1080, 1, 0},
      {"all right of and below the origin still start at 0",
       {{{100, 50, 900, 650}, MONITORINFOF_PRIMARY}},
       {0, 0, 900, 650}, 900, 650, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CMonitorList list;
    int i = 0;
    for (const Mon& m : c.monitors) {
      ++i;
      list.AddMonitor(reinterpret_cast<HMONITOR>(static_cast<intptr_t>(i)), m.rect, m.flags,
                      L"\\\\.\\DISPLAY" + std::to_wstring(i));
    }
    const RECT box = list.BoundingBox();
    EXPECT_EQ(box.left, c.box.left);
    EXPECT_EQ(box.top, c.box.top);
    EXPECT_EQ(box.right, c.box.right);
    EXPECT_EQ(box.bottom, c.box.bottom);
    EXPECT_EQ(list.boundingWidth(), c.width);
    EXPECT_EQ(list.boundingHeight(), c.height);
    EXPECT_EQ(list.primaryIndex(), c.primary);
    EXPECT_EQ(list.currentIndex(), c.primary);
    EXPECT_EQ(list.lastSecondaryIndex(), c.lastSecondary);
    MonitorRect r;
    ASSERT_TRUE(list.GetRect(0, &r));
    EXPECT_EQ(r.width, c.monitors[0].rect.right - c.monitors[0].rect.left);
  }
}

TEST(MonitorList, DpiScaleSteps) {
  struct {
    float factor, scale;
  } cases[] = {{0.9f, 1.0f}, {1.0f, 1.0f}, {1.25f, 1.25f}, {1.5f, 1.5f}, {1.75f, 1.5f}};
  for (auto c : cases) EXPECT_EQ(CMonitorList::ScaleStep(c.factor), c.scale) << c.factor;
}

TEST(MonitorList, WindowScaleIsOneOffScreenOnOldWindowsAndWithoutWindow) {
  CMonitorList list;
  ASSERT_TRUE(list.Enumerate());
  EXPECT_EQ(list.GetWindowDpiScale(nullptr), 1.0f);
  {
    TestWindow on(RECT{10, 10, 60, 60}, [](HDC, const RECT&) {});
    // Wine reports Windows 7 unless configured otherwise: no per-monitor DPI.
    EXPECT_EQ(list.GetWindowDpiScale(on.hwnd()), 1.0f);
  }
  TestWindow off(RECT{5000, 5000, 5050, 5050}, [](HDC, const RECT&) {});
  EXPECT_EQ(list.GetWindowDpiScale(off.hwnd()), 1.0f);
  float x = 0, y = 0;
  GetMonitorDpiScale(list.GetHandle(0), &x, &y);
  EXPECT_GT(x, 0.99f);
  EXPECT_GT(y, 0.99f);
}
