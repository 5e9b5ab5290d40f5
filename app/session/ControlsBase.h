// CControlsBase: what the session panel, its views and its rows share: a
// font face and the two calls that give a text label or a picture button
// the session window's look. A mixin beside a window class.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "app/controls/CustomStatic.h"
#include "app/controls/PictureButton.h"

class CControlsBase {
 public:
  virtual ~CControlsBase() = default;
  virtual void SetValue(int v) { value = v; }

  // Face, size (points at 96 DPI, minimum 14), bold or regular, colour;
  // top-aligned, centred or left. Repaints a label that has a window.
  void StyleStatic(CCustomStatic* label, bool bold, bool centred, float size, Gdiplus::ARGB colour);
  // Face, size (points scaled to the screen's DPI), regular; the text
  // colours of the five states (hover white, normal near black, pressed and
  // disabled greys, the unused fifth black).
  void StyleButton(CPictureButton* button, float size);

  const wchar_t* fontFace = L"Arial";
  int value = 0;
};
