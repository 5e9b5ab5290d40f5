// CDragDrop: the full-screen region picker. It freezes its monitor as a
// screenshot, covers it, darkens everything outside the rectangle being
// dragged and draws guide lines; on release it hides and, for a rectangle
// at least 2 pixels each way, posts WM_AREA_SELECTED (0, 0) to its owner,
// which then reads startPoint / endPoint in screen coordinates. A click, a
// flat drag or Escape hides it and posts nothing.
//
//   picker = new CDragDrop(&mainWindow);
//   picker->Create(nullptr);            // modeless, template 102, no parent
//   picker->ShowWindow(SW_SHOWMAXIMIZED);
//   ... move it onto the monitor ..., then picker->ShowPicker();
//
// UI thread only; GDI+ must be started.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>

#include "classlib/Dialog.h"
#include "classlib/Image.h"

class CDragDrop : public cl::CDialog {
 public:
  static constexpr Gdiplus::ARGB kMaskColour = 0x7B000000;
  static constexpr Gdiplus::ARGB kGuideColour = 0xFF8D9CAD;

  explicit CDragDrop(cl::CWnd* owner);
  ~CDragDrop() override;

  // Hides the picker, copies the screen under its window rectangle into
  // `screenshot`, shows it maximised, then puts it back on exactly that
  // rectangle, above other windows, and repaints it.
  void ShowPicker();

  // Enter does nothing; Escape cancels.
  void OnOK() override {}
  void OnCancel() override;

  POINT startPoint{0, 0};  // client coordinates while dragging, screen ones after a release that posted
  POINT endPoint{0, 0};
  cl::CImage screenshot;
  bool dragging = false;

  // Draws one frame for a mouse at `mouse` (client coordinates) onto dc.
  void DrawFrame(HDC dc, POINT mouse);

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnLButtonDown(WPARAM, LPARAM);
  LRESULT OnMouseMove(WPARAM, LPARAM);
  LRESULT OnLButtonUp(WPARAM, LPARAM);
  LRESULT OnPaint(WPARAM, LPARAM);
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
  LRESULT OnKeyDown(WPARAM, LPARAM);
  void Cancel();
  void DrawToWindow(POINT mouse);
  POINT LastMouse() const;

  cl::CWnd* owner_;
  std::unique_ptr<Gdiplus::Bitmap> picture_;  // made from `screenshot` once per ShowPicker
  POINT mouse_{0, 0};
  bool mouseSeen_ = false;
};
