// CDialogFont: lays a dialog out again from its template in a font of our
// own making at a DPI of our choosing, so that pixel-exact skins line up
// whatever the system's scaling. The dialog and each control named by a
// template item get the font and the item's rectangle converted with the
// base units that font gives.
#pragma once

#include <windows.h>

#include "app/controls/DialogTemplate.h"

class CDialogFont {
 public:
  CDialogFont() = default;
  ~CDialogFont();
  CDialogFont(const CDialogFont&) = delete;
  CDialogFont& operator=(const CDialogFont&) = delete;

  // Re-lays `window` from template `templateId` of `instance` at `dpi`:
  //  - the template's font (without DS_SETFONT: "Tahoma" 8 pt, weight 400);
  //    a face GDI+ does not know becomes "Arial", or "MS Shell Dlg" when
  //    there is no "Arial" either; height -trunc(points x dpi / 72 + 0.5);
  //  - base units in that font (y: tmHeight; x: average width of the 52
  //    letters, rounded), the client area sized from the template's cx, cy;
  //  - each template item, in order, matched to the next child window with
  //    its id in Z order, moved and given the font; the walk ends at the
  //    first item with no such child.
  // An earlier Apply is restored first. False (nothing changed) when the
  // template cannot be found or read.
  bool Apply(HINSTANCE instance, HWND window, UINT templateId, int dpi);
  // Gives the dialog and the controls Apply reached their previous font
  // back and deletes the created one. Positions stay. Nothing when idle.
  void Restore();

  bool inUse() const { return font_ != nullptr; }
  HFONT font() const { return font_; }
  int unitX() const { return unitX_; }
  int unitY() const { return unitY_; }

 private:
  bool ReadTemplate(DialogTemplateInfo* info) const;

  UINT templateId_ = 0;
  HWND window_ = nullptr;
  HINSTANCE instance_ = nullptr;
  HFONT font_ = nullptr;      // owned
  HFONT previous_ = nullptr;  // the window's font before Apply; not owned
  int unitX_ = 0, unitY_ = 0;
};
