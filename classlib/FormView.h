// A child window laid out from a dialog template whose content may be taller
// or wider than the window: MFC's CFormView with the scrolling of its
// CScrollView base, thin. Scroll sizes are in pixels (MM_TEXT only); the
// scroll position moves the children with the picture (ScrollWindowEx with
// SW_SCROLLCHILDREN), as MFC's scroll view does.
//
// Unlike a dialog, a form view never ends itself: IDOK and IDCANCEL do
// nothing, and WM_CLOSE destroys the window. Views made with `new` may set
// autoDelete: the object then deletes itself when its window is gone.
// UI thread only.
#pragma once

#include <windows.h>

#include "classlib/Dialog.h"

namespace cl {

class CFormView : public CDialog {
 public:
  explicit CFormView(UINT templateId);

  // Makes the view from its template as a child of parent: the template's
  // style is replaced by `style` | WS_CHILD (after PreCreateWindow, which may
  // change style, extended style and rectangle), the control id set, the
  // window placed on rect. False when the window was not made.
  virtual bool Create(DWORD style, const RECT& rect, HWND parent, UINT id);
  // MFC's initial update, for the creator to call once the view is placed.
  // The base does nothing.
  virtual void OnInitialUpdate() {}

  // The content's size, a page and a line (0: a tenth of the content, a
  // tenth of a page). Shows or hides the scroll bars and keeps the position
  // within the new range.
  void SetScrollSizes(SIZE total, SIZE page = {0, 0}, SIZE line = {0, 0});
  SIZE GetTotalSize() const { return total_; }
  POINT GetScrollPosition() const { return pos_; }
  // Scrolls to pt, clamped to 0 .. content size - client size each way.
  void ScrollToPosition(POINT pt);

  void OnOK() override {}
  void OnCancel() override {}

  bool autoDelete = false;

 protected:
  const MessageMap* GetMessageMap() const override;
  void PostNcDestroy() override;

 private:
  LRESULT OnVScroll(WPARAM, LPARAM);
  LRESULT OnHScroll(WPARAM, LPARAM);
  LRESULT OnSize(WPARAM, LPARAM);
  LRESULT OnMouseWheel(WPARAM, LPARAM);
  LRESULT OnClose(WPARAM, LPARAM);
  void UpdateBars();
  POINT Clamp(POINT pt) const;
  int NewPosition(int bar, WPARAM code) const;

  SIZE total_{0, 0};
  SIZE page_{0, 0};
  SIZE line_{0, 0};
  POINT pos_{0, 0};
};

}  // namespace cl
