// The settings menu (menu 133, first submenu) that the tray icon and the
// session panel open: its four items replaced by position with
// Preferences, Update, About and Exit, the first three with a picture.
#pragma once

#include <windows.h>

#include "classlib/UiHandle.h"

// The three item pictures (bitmaps 300, 301, 302), owned.
struct SettingsMenuBitmaps {
  SettingsMenuBitmaps();
  ~SettingsMenuBitmaps();
  SettingsMenuBitmaps(const SettingsMenuBitmaps&) = delete;
  SettingsMenuBitmaps& operator=(const SettingsMenuBitmaps&) = delete;
  HBITMAP preferences = nullptr;
  HBITMAP update = nullptr;
  HBITMAP about = nullptr;
};

// Replaces the four items of popup by position: Preferences (32789,
// string 342), Update (32790, 343), About (57664, 346), Exit (57665, 344);
// each of the first three shows its bitmap for both check states.
void FillSettingsMenu(HMENU popup, HBITMAP preferences, HBITMAP update, HBITMAP about);

// Loads menu 133, fills its first submenu, tracks it at the cursor position
// read before loading (left and top aligned), with `owner` as the window
// that gets the command, then destroys it. owner is brought to the
// foreground first, as a tray menu needs.
void TrackSettingsMenu(HWND owner, HBITMAP preferences, HBITMAP update, HBITMAP about);
