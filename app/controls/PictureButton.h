// CPictureButton: the program's push button. One PNG per visual state with
// an optional GDI+ caption over it, composed over a slice of the parent's
// skin; every state is pre-rendered into its own bitmap and the right one is
// copied when the button is drawn.
//
// Contract for dialogs that use it:
//  - Bind it to a template button (DDX_Control) or Create it; subclassing
//    makes it BS_OWNERDRAW and takes its text as the caption. WM_DRAWITEM
//    comes back to it by reflection: the parent must be a cl::CWnd.
//  - Set states[i].pngId / textColour (kHover, kNormal, kPressed, kDisabled;
//    kFifth is never shown), caption, textRect (usually the client
//    rectangle), font fields, cursor, the background slice and the tooltip
//    fields, then MarkDirty(): the states are rendered again before the next
//    draw. A state with pngId -1 shows only the background (and no caption);
//    a PNG that does not load makes the button draw nothing until rendered
//    again.
//  - checked keeps the pressed image on; BN_CLICKED reaches the parent as
//    for any button.
// UI thread only; GDI+ must be started.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>
#include <string>

#include "app/controls/Kit.h"
#include "classlib/Wnd.h"

class CPictureButton : public cl::CWnd {
 public:
  enum State { kHover = 0, kNormal = 1, kPressed = 2, kDisabled = 3, kFifth = 4, kStateCount = 5 };

  CPictureButton();
  ~CPictureButton() override;

  bool Create(const wchar_t* caption, DWORD style, const RECT& rect, HWND parent, UINT id);

  bool SetFontFamily(const wchar_t* face);
  Gdiplus::FontFamily* GetFontFamily();
  // Width (truncated) of text (the caption when empty) in the button's font.
  int MeasureCaptionWidth(const std::wstring& text = L"");

  // The states must be rendered again; repaints.
  void MarkDirty();
  // The state DrawItem shows for these item flags (ODS_SELECTED,
  // ODS_DISABLED) with the current hover and checked values.
  int ChooseState(UINT itemState) const;

  // Tooltip
  void UpdateTooltip(const std::wstring& text);
  void ClearTooltip();
  HWND tooltipWindow() const { return tooltip_; }
  const std::wstring& shownTip() const { return shownTip_; }

  struct StateLook {
    kit::MemSurface surface;
    Gdiplus::ARGB textColour = 0xFFFFFFFF;
    int pngId = -1;
  };
  StateLook states[kStateCount];

  bool tooltipEnabled = false;
  std::wstring fixedTip;
  bool alwaysTip = false;
  int tipMaxWidth = 120;
  std::wstring tipText;

  float fontSize = 10.0f;
  int fontStyle = Gdiplus::FontStyleRegular;
  int hoverStyle = Gdiplus::FontStyleBold;
  int fontUnit = Gdiplus::UnitPoint;
  int alignment = Gdiplus::StringAlignmentCenter;
  int lineAlignment = Gdiplus::StringAlignmentCenter;
  std::wstring caption = L"OK";
  kit::BackgroundSlice background;
  bool checked = false;
  RECT textRect{};
  HCURSOR cursor = nullptr;

  bool hover() const { return hover_; }
  bool dirty() const { return dirty_; }
  bool renderOk() const { return renderOk_; }

  void PreSubclassWindow() override;
  BOOL PreTranslateMessage(MSG* msg) override;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnDrawItem(WPARAM, LPARAM);
  LRESULT OnMouseMove(WPARAM, LPARAM);
  LRESULT OnMouseHover(WPARAM, LPARAM);
  LRESULT OnMouseLeave(WPARAM, LPARAM);
  LRESULT OnSetFocus(WPARAM, LPARAM);
  LRESULT OnKillFocus(WPARAM, LPARAM);
  LRESULT OnSetCursor(WPARAM, LPARAM);
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
  LRESULT OnDestroy(WPARAM, LPARAM);
  void DestroyTooltip();

  bool RenderStates();
  void PaintBackground(HDC dst, int w, int h);
  bool DrawState(HDC dc, int pngId, const RECT& rect, int state);
  std::unique_ptr<Gdiplus::StringFormat> MakeFormat() const;

  std::unique_ptr<Gdiplus::FontFamily> family_;
  bool hover_ = false;
  bool tracking_ = false;
  bool renderOk_ = false;
  bool dirty_ = true;
  HWND tooltip_ = nullptr;
  std::wstring shownTip_;
};
