// The busy overlay's holder: one overlay at a time, over its window.
#include <gtest/gtest.h>
#include <windows.h>

#include "KitTest.h"
#include "app/controls/BusyWindow.h"

namespace {

TEST(BusyWindow, ShowingTwiceReplacesTheOverlayHidingTakesItAway) {
  kittest::SolidWindow under({200, 100, 600, 400}, RGB(0, 255, 0));
  ShowBusyWindow(nullptr, false);  // nothing to hide: nothing happens
  EXPECT_EQ(CurrentBusyWindow(), nullptr);

  ShowBusyWindow(under.hwnd(), true);
  DlgRefreshInfo* first = CurrentBusyWindow();
  ASSERT_NE(first, nullptr);
  HWND firstWindow = first->m_hWnd;
  RECT r;
  GetWindowRect(firstWindow, &r);
  EXPECT_EQ(r.left, 200);
  EXPECT_EQ(r.top, 100);
  EXPECT_EQ(r.right - r.left, 400) << "laid over the whole window";
  EXPECT_TRUE(IsWindowVisible(firstWindow));
  EXPECT_EQ(GetWindow(firstWindow, GW_OWNER), under.hwnd());
  EXPECT_TRUE(GetWindowLongPtrW(firstWindow, GWL_EXSTYLE) & WS_EX_LAYERED);
  EXPECT_TRUE(first->picture.hasThread()) << "GIF 131 plays";

  ShowBusyWindow(under.hwnd(), true);
  EXPECT_FALSE(IsWindow(firstWindow)) << "the first overlay is gone";
  ASSERT_NE(CurrentBusyWindow(), nullptr);
  EXPECT_TRUE(IsWindowVisible(CurrentBusyWindow()->m_hWnd));

  ShowBusyWindow(under.hwnd(), false);
  EXPECT_EQ(CurrentBusyWindow(), nullptr);
  ShowBusyWindow(nullptr, true);  // no window to lay it over: none shown
  EXPECT_EQ(CurrentBusyWindow(), nullptr);
}

}  // namespace
