#include "app/session/SettingsMenu.h"

#include <string>

#include "app/resources/resource.h"
#include "classlib/Resource.h"

namespace {

HBITMAP LoadMenuBitmap(UINT id) {
  return static_cast<HBITMAP>(LoadImageW(cl::AfxGetResourceHandle(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, 0));
}

}  // namespace

SettingsMenuBitmaps::SettingsMenuBitmaps()
    : preferences(LoadMenuBitmap(IDB_MENU_PREFERENCES)),
      update(LoadMenuBitmap(IDB_MENU_UPDATE)),
      about(LoadMenuBitmap(IDB_MENU_ABOUT)) {}

SettingsMenuBitmaps::~SettingsMenuBitmaps() {
  for (HBITMAP b : {preferences, update, about}) {
    if (b) DeleteObject(b);
  }
}

void FillSettingsMenu(HMENU popup, HBITMAP preferences, HBITMAP update, HBITMAP about) {
  struct Item {
    UINT id;
    UINT text;
    HBITMAP bitmap;
  } const items[] = {{ID_PREFERENCES, IDS_PREFERENCES, preferences},
                     {ID_CHECK_UPDATE, IDS_UPDATE, update},
                     {ID_APP_ABOUT, IDS_ABOUT, about},
                     {ID_APP_EXIT, IDS_EXIT, nullptr}};
  for (UINT pos = 0; pos < 4; ++pos) {
    const std::wstring text = cl::LoadResString(items[pos].text);
    ModifyMenuW(popup, pos, MF_BYPOSITION | MF_STRING, items[pos].id, text.c_str());
    if (items[pos].bitmap) SetMenuItemBitmaps(popup, pos, MF_BYPOSITION, items[pos].bitmap, items[pos].bitmap);
  }
}

void TrackSettingsMenu(HWND owner, HBITMAP preferences, HBITMAP update, HBITMAP about) {
  POINT pt{};
  GetCursorPos(&pt);
  cl::UniqueMenu menu(LoadMenuW(cl::AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_SETTINGS_MENU)));
  HMENU popup = menu ? GetSubMenu(menu.get(), 0) : nullptr;
  if (!popup) return;
  FillSettingsMenu(popup, preferences, update, about);
  SetForegroundWindow(owner);
  TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, pt.x, pt.y, 0, owner, nullptr);
}
