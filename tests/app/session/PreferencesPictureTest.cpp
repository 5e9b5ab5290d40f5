// The preferences panel over its picture: the picture's number
// (placeholder art) lies where the panel's layout leaves it bare.
#include <memory>
#include <vector>

#include "SessionTest.h"
#include "app/controls/Kit.h"
#include "app/resources/resource.h"
#include "support/PictureMark.h"

namespace {

using namespace sessiontest;

TEST(PreferencesPanel, NoControlCoversThePicturesNumber) {
  if (RunScale() != 1.0f) GTEST_SKIP() << "the picture is stretched at other scales";
  TestMainWindow main;
  ASSERT_TRUE(main.Open());
  main.TogglePreferences();
  SetForegroundWindow(main.m_hWnd);
  Pump(500);
  ASSERT_TRUE(main.IsWindowVisible());
  std::unique_ptr<Gdiplus::Bitmap> picture;
  ASSERT_TRUE(LoadPngBitmap(IDP_PREFERENCES_BACKGROUND, &picture));
  POINT origin{0, 0};
  ClientToScreen(main.m_hWnd, &origin);
  int marked = 0;
  const std::vector<POINT> covered = picturemark::CoveredPixels(*picture, origin, &marked);
  ASSERT_GT(marked, 0) << "the picture has no number";
  EXPECT_TRUE(covered.empty()) << covered.size() << " of " << marked << " points covered, the first at ("
                               << covered[0].x << ", " << covered[0].y << ")";
}

}  // namespace
