// CCustomStatic: the program's text label. An owner-drawn static that draws
// its text with GDI+ in its own face, size, style and ARGB colour, over a
// slice of its parent's skin, or a block of text runs some of which are
// links (opened in the browser) or commands (WM_COMMAND to the parent).
//
// Contract for dialogs that use it:
//  - Bind it to a template static (DDX_Control) or Create it. Subclassing
//    makes the static owner-drawn with SS_NOTIFY, so its clicks come back to
//    it as the reflected STN_CLICKED (0xBD11): the parent must be a cl::CWnd.
//  - Style it through the public fields (fontStyle, textColour, alignment,
//    lineAlignment, the background slice, useBackground) and SetFontFamily /
//    SetFontSize, then SetText or SetRuns (which invalidate it).
//  - Rich text: SetRuns with a block whose runs are filled (see
//    CDlgChildBase::SetLinkText). Active runs show the hand cursor over their
//    line rectangles, take clicks on their characters only, and are cycled
//    by Tab while the static has the focus (give it WS_TABSTOP); Enter or
//    Space activates the focused one. OpenLink is virtual so pages can
//    replace what a link does.
// UI thread only; GDI+ must be started before it paints.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>
#include <string>

#include "app/controls/Kit.h"
#include "app/controls/TextRun.h"
#include "classlib/Wnd.h"

class CCustomStatic : public cl::CWnd {
 public:
  CCustomStatic();
  ~CCustomStatic() override;

  // Makes a static child window with this object attached.
  bool Create(const wchar_t* text, DWORD style, const RECT& rect, HWND parent, UINT id);

  // Plain text: leaves run mode, stores text as the window text too,
  // repaints. Returns 1.
  int SetText(const std::wstring& text);
  // Rich text: copies the block, lays its characters out in the current
  // client rectangle and repaints.
  void SetRuns(const TextRunBlock& block);
  // The family of that face, "Arial" when it is not installed. True when a
  // family exists.
  bool SetFontFamily(const wchar_t* face);
  // The family, chosen on first use: "Calibri", else the face of the
  // window's font, else "MS Shell Dlg 2".
  Gdiplus::FontFamily* GetFontFamily();
  // Sizes are points at 96 DPI: size x 96 / LOGPIXELSX of the screen is
  // stored, so text keeps its pixel size whatever the system DPI. Returns 1.
  int SetFontSize(float size, float minimum);
  // Gdiplus::StringAlignment values: 0 near, 1 centre, 2 far.
  void SetLineAlignment(int a) { lineAlignment = a; }
  void SetAlignment(int a) { alignment = a; }

  // The height (truncated) the text needs in a layout `width` wide (the
  // client width for 0) and 1000 high; the display text when text is
  // empty; 0 for no text.
  int MeasureTextHeight(const std::wstring& text = L"", int width = 0);
  // The text's bounding size at font size `size` in a 1000 x 1000 layout;
  // (0, 0) for an empty text.
  Gdiplus::SizeF MeasureText(float size, const std::wstring& text);
  // The runs' whole text in run mode, else the plain text.
  std::wstring GetDisplayText() const;

  // What a click on (or Enter on) a link run does: opens the address in the
  // user's browser.
  virtual void OpenLink(const std::wstring& target);

  // Run mode only: the link target / command id under a client point.
  std::wstring HitTestLink(POINT pt) const;
  int HitTestCommand(POINT pt) const;
  const TextRunBlock& runs() const { return runs_; }
  bool hasFocus() const { return hasFocus_; }

  // Style, set by owners.
  kit::BackgroundSlice background;
  bool useBackground = false;
  float fontSize = 28.0f;
  int fontStyle = Gdiplus::FontStyleRegular;
  int fontUnit = Gdiplus::UnitPoint;
  int alignment = Gdiplus::StringAlignmentNear;
  int lineAlignment = Gdiplus::StringAlignmentNear;
  Gdiplus::ARGB textColour = 0xFFFFFFFF;
  float minimumSize = 14.0f;
  float nominalSize = 28.0f;

  void PreSubclassWindow() override;
  BOOL PreTranslateMessage(MSG* msg) override;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnPaint(WPARAM, LPARAM);
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
  LRESULT OnSize(WPARAM, LPARAM);
  LRESULT OnSetCursor(WPARAM, LPARAM);
  LRESULT OnReflectedCommand(WPARAM, LPARAM);
  LRESULT OnSetFocus(WPARAM, LPARAM);
  LRESULT OnKillFocus(WPARAM, LPARAM);

  void LayoutRuns();
  void Repaint();
  void Refresh();
  void FillCacheBackground(HDC compatible, int w, int h);
  void DrawText(HDC target, int w, int h);
  void Activate(const TextRun& run);
  std::unique_ptr<Gdiplus::StringFormat> MakeFormat() const;

  std::wstring text_;
  TextRunBlock runs_;
  std::unique_ptr<Gdiplus::FontFamily> family_;
  kit::MemSurface cache_;
  bool rendered_ = false;
  bool cacheValid_ = false;
  bool hasFocus_ = false;
};
