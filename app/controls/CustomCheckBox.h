// CCustomCheckBox: an owner-drawn check box with one picture per state image
// and a GDI+ label, composed over a slice of the parent's skin.
//
// Contract for dialogs that use it:
//  - Bind it to a template check box (DDX_Control); subclassing makes it
//    owner-drawn, reads BS_LEFTTEXT / WS_EX_RIGHT (box on the right),
//    BS_MULTILINE and the text, and starts disabled when the window is.
//    WM_DRAWITEM comes back to it by reflection: the parent must be a
//    cl::CWnd.
//  - Set boxPng[kCheckedNormal..kUncheckedDisabled], boxSize, the font
//    fields, textColour and the background slice (backgroundOn) before it
//    is first drawn (CDlgChildBase::SetupCheckBox does). After a change,
//    set rebuild and invalidate.
//  - checked is the box's value; BN_CLICKED reaches the parent for every
//    toggle by the mouse. The space bar toggles it on release.
//  - showFocusCues (process-wide, off until a page turns it on) makes the
//    focused box draw a focus rectangle around its label.
// UI thread only; GDI+ must be started.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>
#include <string>

#include "app/controls/Kit.h"
#include "classlib/Wnd.h"

class CCustomCheckBox : public cl::CWnd {
 public:
  enum Image {
    kCheckedNormal = 0,
    kUncheckedNormal = 1,
    kCheckedHot = 2,  // hover or pressed
    kUncheckedHot = 3,
    kCheckedDisabled = 4,
    kUncheckedDisabled = 5,
    kImageCount = 6,
  };

  // Shared by every check box of the process (UI thread only).
  static bool showFocusCues;
  static bool focusCueDrawn;

  CCustomCheckBox();
  ~CCustomCheckBox() override;

  // Shows state image `index` at once (nothing when it is already shown).
  void SetState(int index);

  bool SetFontFamily(const wchar_t* face);
  Gdiplus::FontFamily* GetFontFamily();

  bool textOnLeft = false;
  bool disabled = false;
  bool checked = false;
  int imageIndex = kUncheckedNormal;
  int boxSize = 24;
  int boxPng[kImageCount] = {0, 0, 0, 0, 0, 0};
  std::wstring text;
  kit::BackgroundSlice background;
  bool backgroundOn = false;
  float fontSize = 10.0f;
  int fontStyle = Gdiplus::FontStyleRegular;
  int fontUnit = Gdiplus::UnitPoint;
  bool multiLine = false;
  bool rebuild = false;
  Gdiplus::ARGB textColour = 0xFFFFFFFF;

  bool imagesBuilt() const { return imagesBuilt_; }
  bool hasFocusCue() const { return hasFocusCue_; }
  const RECT& focusRect() const { return focusRect_; }
  bool spaceDown() const { return spaceDown_; }
  bool mouseDown() const { return mouseDown_; }

  void PreSubclassWindow() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnDrawItem(WPARAM, LPARAM);
  LRESULT OnLButtonDown(WPARAM, LPARAM);
  LRESULT OnMouseMove(WPARAM, LPARAM);
  LRESULT OnMouseHover(WPARAM, LPARAM);
  LRESULT OnMouseLeave(WPARAM, LPARAM);
  LRESULT OnLButtonUp(WPARAM, LPARAM);
  LRESULT OnKeyDown(WPARAM, LPARAM);
  LRESULT OnKeyUp(WPARAM, LPARAM);
  LRESULT OnEnable(WPARAM, LPARAM);
  LRESULT OnSetFocus(WPARAM, LPARAM);
  LRESULT OnKillFocus(WPARAM, LPARAM);
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);

  int Unchecked() const { return checked ? 0 : 1; }  // c of the state table
  bool BuildImages();
  void PaintBackground(HDC dst, int w, int h);
  void Show(HDC dc, int index);
  void DrawFocusCue(HDC dc);
  bool InsideClient(LPARAM lParam) const;

  std::unique_ptr<Gdiplus::FontFamily> family_;
  kit::MemSurface images_[kImageCount];
  bool boxDrawn_[kImageCount] = {};
  bool imagesBuilt_ = false;
  bool pressedInside_ = false;
  bool mouseDown_ = false;
  bool spaceDown_ = false;
  bool spaceConsumed_ = false;  // the mouse toggled the box while space was held
  bool hasFocusCue_ = false;
  RECT focusRect_{};
  int boxSide_ = 24;
};
