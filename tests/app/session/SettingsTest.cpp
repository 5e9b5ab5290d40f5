// The preferences panel: the quality mapping, what painting and moving the
// sliders do to the stored values and a running session, the volume's one
// update after a burst, and Reset, Save and the close cross.
#include <windows.h>
#include <commctrl.h>

#include "SessionTest.h"
#include "app/resources/resource.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/sys/SysUtil.h"

namespace {

using namespace sessiontest;

TEST(Settings, StoredQualityShowsAtOneOfFourSliderPositions) {
  struct Case {
    int quality, position;
  } const cases[] = {{1000, 1}, {2000, 2}, {4000, 3}, {6000, 3}, {8000, 4}, {0, 1}, {1500, 2}, {5000, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.quality);
    EXPECT_EQ(CDlgPreference::QualityPosition(c.quality), c.position);
  }
}

int Pos(cl::CWnd& slider) { return static_cast<int>(slider.SendMessage(TBM_GETPOS)); }

// The panel opened the way the user opens it, with a session that never
// runs, so session updates are counted.
struct ShownPanel {
  TestMainWindow main;
  explicit ShownPanel(bool session = true) {
    if (!main.Open()) return;
    if (session) main.GiveSession();
    main.TogglePreferences();
    SetForegroundWindow(main.m_hWnd);
    Pump(300);
  }
  // A key pressed on a slider, as the keyboard would.
  void KeyOn(cl::CWnd& slider, WORD vk) {
    SetFocus(slider.m_hWnd);
    Key(vk);
    Pump(50);
  }
};

TEST(Settings, OpeningThePanelChangesNoStoredValueAndSaveWritesThemAsTheyWere) {
  ClearTuningValues();
  CFrameUtility::SetTxQuality(6000);
  CFrameUtility::SetTxFps(90);
  CFrameUtility::SetTxVolume(150);
  ShownPanel p;
  ASSERT_TRUE(p.main.IsWindowVisible());
  EXPECT_EQ(Pos(p.main.qualitySlider), 3);
  EXPECT_EQ(Pos(p.main.fpsSlider), 60);
  EXPECT_EQ(Pos(p.main.volumeSlider), 100);
  // Painting again and again changes nothing.
  for (int i = 0; i < 3; ++i) {
    RedrawWindow(p.main.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump(100);
  }
  EXPECT_EQ(p.main.params().quality, 6000);
  EXPECT_EQ(p.main.params().fps, 90);
  EXPECT_EQ(p.main.params().volume, 150);
  EXPECT_EQ(p.main.videoUpdates, 0);
  EXPECT_EQ(p.main.volumeUpdates, 0);
  p.main.SendMessage(WM_COMMAND, IDC_SAVE);
  EXPECT_FALSE(p.main.IsWindowVisible());
  EXPECT_EQ(CFrameUtility::GetTxQuality(), 6000);
  EXPECT_EQ(CFrameUtility::GetTxFps(), 90);
}

TEST(Settings, MovingTheSlidersReachesTheSessionAndTheVolumeGoesOnceAfterABurst) {
  ClearTuningValues();
  ShownPanel p;
  ASSERT_TRUE(p.main.IsWindowVisible());
  const int fps = p.main.params().fps;
  p.KeyOn(p.main.fpsSlider, VK_RIGHT);
  EXPECT_EQ(p.main.params().fps, fps + 1);
  EXPECT_EQ(p.main.videoUpdates, 1);
  EXPECT_EQ(p.main.fpsValue.GetDisplayText(), std::to_wstring(fps + 1));

  // The stored 6000 shows at 3; one step right is 8000.
  p.KeyOn(p.main.qualitySlider, VK_RIGHT);
  EXPECT_EQ(p.main.params().quality, 8000);
  EXPECT_EQ(p.main.videoUpdates, 2);

  // Ten steps down within far less than 100 ms of each other: one update,
  // with the last value.
  SetFocus(p.main.volumeSlider.m_hWnd);
  for (int i = 0; i < 10; ++i) p.main.volumeSlider.PostMessage(WM_KEYDOWN, VK_LEFT, 0);
  Pump(50);
  EXPECT_EQ(p.main.params().volume, 90);
  Pump(400);
  EXPECT_EQ(p.main.volumeUpdates, 1);
  EXPECT_EQ(p.main.volumeValue.GetDisplayText(), L"90");

  // The boxes reach the session at once, too.
  const int scale = p.main.params().scaleMode;
  const POINT c = CentreOf(p.main.autoScalingBox.m_hWnd);
  Click(c.x, c.y);
  EXPECT_EQ(p.main.params().scaleMode, scale ? 0 : 1);
  EXPECT_EQ(p.main.videoUpdates, 3);
}

TEST(Settings, EachQualityPositionGivesItsQualityOnceAndItStaysThroughRepaints) {
  ClearTuningValues();
  ShownPanel p;
  ASSERT_TRUE(p.main.IsWindowVisible());
  // Low(Fast) to High, one keyboard step at a time from the left end.
  const int want[] = {1000, 2000, 4000, 8000};
  for (int position = 1; position <= 4; ++position) {
    SCOPED_TRACE(position);
    const int updates = p.main.videoUpdates;
    p.KeyOn(p.main.qualitySlider, position == 1 ? VK_HOME : VK_RIGHT);
    ASSERT_EQ(Pos(p.main.qualitySlider), position);
    EXPECT_EQ(p.main.params().quality, want[position - 1]);
    EXPECT_EQ(p.main.videoUpdates, updates + 1);
    // Every paint runs the handler again: a quality that does not map back
    // to its own position would move again, and again reach the session.
    for (int i = 0; i < 3; ++i) {
      RedrawWindow(p.main.qualitySlider.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
      Pump(50);
    }
    EXPECT_EQ(p.main.params().quality, want[position - 1]);
    EXPECT_EQ(p.main.videoUpdates, updates + 1);
  }
  p.main.SendMessage(WM_COMMAND, IDC_SAVE);
  EXPECT_EQ(CFrameUtility::GetTxQuality(), 8000);
}

TEST(Settings, WithoutASessionMovesOnlyChangeTheValues) {
  ClearTuningValues();
  ShownPanel p(false);
  p.KeyOn(p.main.fpsSlider, VK_LEFT);
  p.KeyOn(p.main.volumeSlider, VK_LEFT);
  Pump(300);
  EXPECT_EQ(p.main.params().fps, 29);
  EXPECT_EQ(p.main.params().volume, 99);
  EXPECT_EQ(p.main.videoUpdates, 0);
  EXPECT_EQ(p.main.volumeUpdates, 0);
}

TEST(Settings, TheCloseCrossHidesWithoutWritingSaveWritesResetRestoresTheDefaults) {
  ClearTuningValues();
  CFrameUtility::SetTxFps(25);
  {
    ShownPanel p;
    p.KeyOn(p.main.fpsSlider, VK_RIGHT);
    ASSERT_EQ(p.main.params().fps, 26);
    p.main.SendMessage(WM_COMMAND, IDC_CLOSE);
    EXPECT_FALSE(p.main.IsWindowVisible());
    EXPECT_EQ(CFrameUtility::GetTxFps(), 25) << "the cross wrote the value";
    EXPECT_EQ(p.main.params().fps, 26) << "the session keeps the new value";

    p.main.TogglePreferences();
    Pump(200);
    p.main.SendMessage(WM_COMMAND, IDC_SAVE);
    EXPECT_EQ(CFrameUtility::GetTxFps(), 26);
  }
  {
    CFrameUtility::SetTxQuality(2000);
    CFrameUtility::SetTxVolume(10);
    CFrameUtility::SetTxCursor(0);
    CFrameUtility::SetTxScale(0);
    ShownPanel p;
    const int updates = p.main.videoUpdates;
    p.main.SendMessage(WM_COMMAND, IDC_RESET);
    Pump(200);
    const int method = GetOSVersionCodeEx() == OSVER_WIN8 ? 1 : 0;
    EXPECT_EQ(CFrameUtility::GetTxFps(), 30);
    EXPECT_EQ(CFrameUtility::GetTxQuality(), 6000);
    EXPECT_EQ(CFrameUtility::GetTxVolume(), 100);
    EXPECT_EQ(CFrameUtility::GetTxCursor(), 1);
    EXPECT_EQ(CFrameUtility::GetTxScale(), 1);
    EXPECT_EQ(CFrameUtility::GetTxDDI(-1), method);
    EXPECT_EQ(p.main.params().fps, 30);
    EXPECT_EQ(p.main.params().quality, 6000);
    EXPECT_EQ(p.main.params().volume, 100);
    EXPECT_EQ(Pos(p.main.fpsSlider), 30);
    EXPECT_EQ(Pos(p.main.qualitySlider), 3);
    EXPECT_EQ(Pos(p.main.volumeSlider), 100);
    EXPECT_TRUE(p.main.cursorBox.checked);
    EXPECT_TRUE(p.main.autoScalingBox.checked);
    EXPECT_EQ(p.main.hwAccelerationBox.checked, method == 1);
    EXPECT_EQ(p.main.fpsValue.GetDisplayText(), L"30");
    EXPECT_EQ(p.main.volumeValue.GetDisplayText(), L"100");
    EXPECT_EQ(p.main.videoUpdates, updates + 1);
    // The sliders' new positions were painted: no further update.
    EXPECT_EQ(p.main.params().quality, 6000);
  }
}

TEST(ScaledSettings, TheHardwareBoxShowsOnlyOnWindows8AndLater) {
  ShownPanel p(false);
  const bool win8 = GetOSVersionCodeEx() == OSVER_WIN8;
  EXPECT_EQ(p.main.hwAccelerationBox.IsWindowVisible() != FALSE, win8);
  EXPECT_EQ(p.main.hwAccelerationLabel.IsWindowVisible() != FALSE, win8);
  // The panel is its picture (300 x 380) at the scale, plus one pixel.
  RECT r{};
  GetWindowRect(p.main.m_hWnd, &r);
  const float s = RunScale();
  EXPECT_EQ(r.right - r.left, static_cast<int>(300 * s) + 1);
  EXPECT_EQ(r.bottom - r.top, static_cast<int>(380 * s) + 1);
}

}  // namespace
