// CCustomEdit: a long read-only text (the licence agreement) drawn with
// GDI+ in its own font and colour over a slice of the wizard's picture,
// scrolled by whole lines from outside. It is an edit control only to be
// placed from a template: the system edit is never drawn.
//
// Contract: bind it to a template edit and disable it (it takes no input);
// SetBackgroundOffset with its place in PNG 135, SetTextColour, SetText.
// SetText measures the text: lineCount lines in all, visibleLineCount of
// them fit, so a scroll range is 0 to lineCount - visibleLineCount. To
// scroll, set firstVisibleLine and invalidate; fontSize / fontStyle may be
// changed the same way (call SetText again to measure).
// UI thread only; GDI+ must be started.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>
#include <string>

#include "app/controls/Kit.h"
#include "classlib/Wnd.h"

class CCustomEdit : public cl::CWnd {
 public:
  static constexpr int kBackgroundPng = 135;

  CCustomEdit();
  ~CCustomEdit() override;

  int SetText(const std::wstring& text);
  int SetTextColour(Gdiplus::ARGB colour);
  int SetBackgroundOffset(int x, int y);

  float fontSize = 28.0f;
  int fontStyle = Gdiplus::FontStyleRegular;
  int fontUnit = Gdiplus::UnitPixel;
  std::wstring text;
  int visibleLineCount = 0;
  int lineCount = 0;
  int firstVisibleLine = 0;

  bool drawn() const { return drawn_; }

  void PreSubclassWindow() override;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
  LRESULT OnSize(WPARAM, LPARAM);
  LRESULT OnPaint(WPARAM, LPARAM);
  Gdiplus::FontFamily* Family();
  int CountLines(Gdiplus::Graphics& g, const Gdiplus::Font& font, float w, float h);

  bool drawn_ = false;
  std::unique_ptr<Gdiplus::FontFamily> family_;
  std::unique_ptr<Gdiplus::Font> font_;
  float fontMadeSize_ = 0;
  int fontMadeStyle_ = 0;
  std::unique_ptr<Gdiplus::SolidBrush> brush_;
  int backgroundMode_ = 0;
  bool backgroundOn_ = false;
  int offsetX_ = 0, offsetY_ = 0;
  kit::MemSurface image_;
  kit::MemSurface back_;
};
