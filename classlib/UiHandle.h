// Owners of the user-interface handles that are not GDI objects: icons and
// menus. Same shape as the owners in Handle.h; the Win32 call that made the
// handle stays the caller's.
#pragma once

#include <windows.h>

#include "classlib/Handle.h"

namespace cl {

// An icon this code made: LoadImage without LR_SHARED, CreateIconIndirect,
// CopyIcon, ExtractIcon. Never one from LoadIcon or LR_SHARED (the system
// owns those).
struct IconTraits {
  using Type = HICON;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { DestroyIcon(h); }
};
using UniqueIcon = UniqueOwner<IconTraits>;

// A menu this code loaded or made (LoadMenu, CreatePopupMenu) and did not
// hand to a window or insert into another menu. Destroying it destroys its
// submenus, so a GetSubMenu result is never owned.
struct MenuTraits {
  using Type = HMENU;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { DestroyMenu(h); }
};
using UniqueMenu = UniqueOwner<MenuTraits>;

}  // namespace cl
