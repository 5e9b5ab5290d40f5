// The kit's two trackbars.
//
// CCustomSliderCtrl: a trackbar drawn as a slice of a background picture
// with a picture thumb (the licence page's scroll bar). Contract: bind it to
// a template trackbar with TBS_FIXEDLENGTH, call SetBackground with its
// place in PNG 135, then InitThumb. It never keeps the keyboard focus: the
// window that had it gets it back.
//
// CColorSlider: an ordinary trackbar whose background colour is the owner's
// (backBrush / backColour, made and set by the owner), through the reflected
// control colour (0xBC19): the parent must be a cl::CWnd.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>

#include "app/controls/Kit.h"
#include "classlib/Gdi.h"
#include "classlib/Wnd.h"

class CCustomSliderCtrl : public cl::CWnd {
 public:
  static constexpr UINT kBackgroundPng = 135;
  static constexpr UINT kThumbPng = 144;

  // The background: the part of PNG 135 from (x, y), at the control's size.
  void SetBackground(int x, int y);
  // Loads the thumb picture and makes the thumb as long as the picture is
  // tall times the thumb rectangle's aspect (ThumbLengthFor).
  void InitThumb();
  // The thumb length InitThumb sets for a thumb rectangle and a thumb
  // picture of imageHeight pixels: (width / height) x imageHeight, integer
  // division; 0 (keep the default length) for a rectangle of no height.
  static int ThumbLengthFor(const RECT& thumb, int imageHeight);

  bool hasThumbImage() const { return thumb_ != nullptr; }

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnPaint(WPARAM, LPARAM);
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
  LRESULT OnSetFocus(WPARAM, LPARAM);

  kit::MemSurface background_;
  std::unique_ptr<Gdiplus::Image> thumb_;
};

class CColorSlider : public cl::CWnd {
 public:
  cl::CBrush backBrush;
  COLORREF backColour = RGB(255, 255, 255);

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnReflectedCtlColor(WPARAM, LPARAM);
};
