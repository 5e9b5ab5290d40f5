// Blending as the screen shows it, with a compositing manager running
// (test_app_controls_composited starts xcompmgr on a display of its own):
// the layered dialog's transparent corner shows the window below, its
// half-alpha edge and the busy overlay blend with it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>

#include "KitTest.h"
#include "app/controls/BusyWindow.h"
#include "app/controls/Layered.h"
#include "app/resources/resource.h"

namespace {

using kittest::Rgb;

class Face : public CTRSDialog {
 public:
  Face() : CTRSDialog(IDD_T_LAYERED, IDP_ERROR_BACKGROUND) {}
  ~Face() override { DestroyWindow(); }
  void InitControls() override {}
};

// Channel c of colour `over` at alpha a (of 255) over `under`.
int Blend(int over, int under, int a) { return (over * a + under * (255 - a) + 127) / 255; }

TEST(Composited, LayeredDialogShowsTheWindowBelowThroughItsAlpha) {
  if (!getenv("TESS_COMPOSITOR")) GTEST_SKIP() << "needs a compositing manager (test_app_controls_composited)";
  const RECT area{300, 150, 900, 550};
  kittest::SolidWindow green(area, Rgb(0, 255, 0));
  Face dlg;
  dlg.centred = false;
  ASSERT_TRUE(dlg.Create(nullptr));
  SetWindowPos(dlg.m_hWnd, HWND_TOPMOST, 350, 200, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
  dlg.RenderLayered();
  dlg.ShowWindow(SW_SHOWNOACTIVATE);
  kittest::Pump(500);

  struct Case {
    const char* what;
    int x, y;  // in the dialog
    COLORREF want;
    int tol;
  } cases[] = {
      {"transparent corner", 0, 0, Rgb(0, 255, 0), 2},
      {"alpha 128 edge", 235, 1, Rgb(Blend(0xEE, 0, 128), Blend(0xF2, 255, 128), Blend(0xF8, 0, 128)), 4},
      {"opaque face", 235, 120, Rgb(0xEE, 0xF2, 0xF8), 2},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(kittest::WaitForPixel(350 + c.x, 200 + c.y, c.want, c.tol, 3000))
        << c.what << ": " << std::hex << kittest::ScreenPixel(350 + c.x, 200 + c.y) << " for " << c.want;
  }
}

TEST(Composited, BusyOverlayBlendsItsColourOverTheWindow) {
  if (!getenv("TESS_COMPOSITOR")) GTEST_SKIP() << "needs a compositing manager (test_app_controls_composited)";
  kittest::SolidWindow green({300, 150, 700, 450}, Rgb(0, 255, 0));
  ShowBusyWindow(green.hwnd(), true, 0xFF0000FF);  // blue at alpha 100
  ASSERT_NE(CurrentBusyWindow(), nullptr);
  kittest::Pump(500);
  const COLORREF want = Rgb(0, Blend(0, 255, 100), Blend(255, 0, 100));
  EXPECT_TRUE(kittest::WaitForPixel(300 + 40, 150 + 40, want, 4, 3000))
      << std::hex << kittest::ScreenPixel(340, 190) << " for " << want;
  EXPECT_TRUE(kittest::WaitForPixel(300 + 1, 150 + 1, Rgb(0, 255, 0), 2, 3000))
      << "outside the rounded region the window shows";
  ShowBusyWindow(nullptr, false);
  EXPECT_EQ(CurrentBusyWindow(), nullptr);
}

}  // namespace
