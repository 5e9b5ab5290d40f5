// Icon and menu owners destroy what they hold, and a released handle lives on.
#include <gtest/gtest.h>
#include <windows.h>

#include "classlib/UiHandle.h"

namespace {

bool IconAlive(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return false;
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return true;
}

HICON MakeIcon() {
  return static_cast<HICON>(CopyImage(LoadIconW(nullptr, IDI_APPLICATION), IMAGE_ICON, 0, 0, 0));
}

TEST(UiHandle, IconIsDestroyedOnResetNotOnRelease) {
  HICON raw = MakeIcon();
  ASSERT_TRUE(IconAlive(raw));
  { cl::UniqueIcon icon(raw); }
  EXPECT_FALSE(IconAlive(raw));

  raw = MakeIcon();
  cl::UniqueIcon kept(raw);
  EXPECT_EQ(kept.release(), raw);
  EXPECT_TRUE(IconAlive(raw));
  DestroyIcon(raw);
}

TEST(UiHandle, MenuIsDestroyedWithItsSubmenus) {
  HMENU top = CreateMenu();
  HMENU sub = CreatePopupMenu();
  AppendMenuW(sub, MF_STRING, 1, L"item");
  AppendMenuW(top, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), L"sub");
  {
    cl::UniqueMenu menu(top);
    EXPECT_EQ(GetSubMenu(menu.get(), 0), sub);
  }
  EXPECT_FALSE(IsMenu(top));
  EXPECT_FALSE(IsMenu(sub));
}

}  // namespace
