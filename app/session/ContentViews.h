// The scrollable panes of the session window's receiver list.
//
// CFormViewEx: a form view that lays its template out again at 96 DPI (as
// the dialog bases do) and keeps its own scroll size.
// CViewContentBase: the generic pane: it knows the session configuration,
// pages with the keyboard (PageUp/PageDown/Home/End), brings a control
// reached by Tab into view, and runs five overridable initialisation steps.
// CViewSubContentUserList: the outer pane the session panel places on its
// list area; it holds the list of receiver rows (CCtrlUserList, UserList.h)
// and is where the panel routes keys and the mouse wheel.
// SortHeader: the sort arrows of a header control over the list. This
// program never makes one; the outer pane still answers a header click.
//
// Views are made with `new` and delete themselves when their window goes.
// UI thread only.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>

#include "app/controls/DialogFont.h"
#include "app/session/ControlsBase.h"
#include "classlib/FormView.h"
#include "classlib/Gdi.h"

class CSessionConfig;
class CCtrlUserList;

class CFormViewEx : public cl::CFormView {
 public:
  explicit CFormViewEx(UINT templateId);
  ~CFormViewEx() override;

  // The view's creation, then its template laid out at 96 DPI.
  bool Create(DWORD style, const RECT& rect, HWND parent, UINT id) override;
  // The template at 96 DPI again, then scroll sizes (scrollWidth,
  // scrollHeight) with default page and line.
  void OnInitialUpdate() override;
  // A value of 0 or less keeps the stored one; then both are applied.
  virtual void SetScrollSize(int cx, int cy);

  CDialogFont templateFont;
  UINT templateId;
  int scrollWidth = 100;
  int scrollHeight = 100;
};

class CViewContentBase : public CFormViewEx, public CControlsBase {
 public:
  static constexpr UINT kTemplateId = 125;
  explicit CViewContentBase(UINT templateId = kTemplateId);
  ~CViewContentBase() override;

  // Stores value and config, runs the five steps in order (all of them),
  // true when every one returned non-zero.
  virtual int Init(CSessionConfig* config, int value);
  virtual int InitStep1() { return 1; }
  virtual int CreateControls() { return 1; }  // step 2
  virtual int InitStep3() { return 1; }
  virtual int InitStep4() { return 1; }
  virtual int ResetState() { return 1; }  // step 5

  // WM_COMMAND (id, 0) to the application's main window; 0 without one.
  int SendCommand(UINT id);
  int PostCommand(UINT id);
  // Scrolls so that the window msg->hwnd (a control reached by Tab) shows.
  virtual void EnsureVisible(const MSG* msg);
  // amount > 0: by amount (up or down) minus lineSize; amount 0: to the top
  // (up) or to scrollHeight (down). Only when scrollHeight > pageSize.
  virtual void Scroll(int amount, bool up);
  void SetSubViewOffsets(int x, int y) {
    subViewOffsetX = x;
    subViewOffsetY = y;
  }
  virtual void OnHidden(bool scrollTop);
  virtual void OnShown() {}
  virtual int GetValue() const { return value; }

  // Page keys page; a Tab release brings the focused control into view.
  BOOL PreTranslateMessage(MSG* msg) override;

  RECT subViewRect{0, 84, 418, 348};
  int subViewOffsetX = 0;
  int subViewOffsetY = 0;
  CSessionConfig* sessionConfig = nullptr;  // not owned
  int statusKinds = 0;
  BYTE statusEnabled = 0;
  int pageSize = 348;
  int lineSize = 30;
  cl::CBrush backgroundBrush;  // RGB(235, 235, 235), made on first use

 protected:
  const cl::MessageMap* GetMessageMap() const override;
  BOOL PreCreateWindow(CREATESTRUCTW& cs) override;
  LRESULT OnCtlColor(WPARAM, LPARAM);
  LRESULT OnShowWindow(WPARAM, LPARAM);
  LRESULT OnDestroy(WPARAM, LPARAM);
};

// Sort arrows drawn by a header control's owner from the values set here.
class SortHeader : public cl::CWnd {
 public:
  SortHeader(int ascendingPngId, int descendingPngId)
      : ascendingPng(ascendingPngId), descendingPng(descendingPngId) {}
  // Loads both arrows; true only when both loaded.
  bool LoadArrowImages();
  // Marks the column owner-drawn with lParam = ascending; false when the
  // arrows cannot be loaded.
  bool SetSortArrow(int column, bool ascending);

  int sortedColumn = -1;
  int ascendingPng;
  int descendingPng;
  bool imagesLoaded = false;
  std::unique_ptr<Gdiplus::Image> ascendingImage;
  std::unique_ptr<Gdiplus::Image> descendingImage;
};

class CViewSubContentUserList : public CViewContentBase {
 public:
  static constexpr UINT kTemplateId = 127;
  static constexpr UINT kHeaderId = 60101;
  CViewSubContentUserList();
  ~CViewSubContentUserList() override;

  // Makes the list of rows over the whole pane.
  int CreateControls() override;
  // No rows, sort state reset, no scroll range (the list's and the pane's).
  void ClearList();
  // The panel's keys and wheel: the wheel goes to the list when the
  // cursor is over it; PageUp/PageDown/End/Home to its key handling.
  void RouteInput(const MSG* msg);
  virtual BOOL PaintBackground(HDC dc);

  SortHeader* header = nullptr;  // never made in this program
  CCtrlUserList* listView = nullptr;
  float scale = 1.0f;

 protected:
  const cl::MessageMap* GetMessageMap() const override;
  BOOL PreCreateWindow(CREATESTRUCTW& cs) override;

 private:
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
  LRESULT OnNotifyMessage(WPARAM, LPARAM);
  LRESULT OnDestroyPane(WPARAM, LPARAM);
};
