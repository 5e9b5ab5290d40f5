// Dialogs from templates, modal and modeless: MFC's CDialog, thin.
//
// A modal dialog runs this layer's own loop, as MFC's DoModal does, never
// DialogBox's: every message of the thread (other windows' too) first goes
// through WalkPreTranslateTree, so the main window, a modeless window and
// their controls keep seeing their keys and commands while a box is open.
// The dialog's own PreTranslateMessage is where IsDialogMessage runs.
#pragma once

#include <windows.h>

#include "classlib/Wnd.h"

namespace cl {

class CDialog : public CWnd {
 public:
  // templateId names an RT_DIALOG resource of AfxGetResourceHandle(). The
  // parent is read when the window is made (it may not exist yet now).
  explicit CDialog(UINT templateId, CWnd* parent = nullptr);

  // Modal run:
  //  1. the owner is the parent's window or, without a parent, the
  //     application's main window (climbing to its top-level window); a
  //     parent that is this dialog itself or has no window yet gives none;
  //  2. the owner is disabled (when it was enabled), the dialog made from
  //     its template (WM_CREATE and WM_INITDIALOG reach the map/overrides);
  //  3. the loop: GetMessage, WalkPreTranslateTree, Translate/Dispatch, until
  //     EndDialog; a dialog not visible yet is shown (SW_SHOWNORMAL) the first
  //     time the queue is empty, which a hidden-until-asked dialog refuses;
  //  4. the dialog is hidden, the owner enabled and activated again, the
  //     window destroyed.
  // Returns EndDialog's result; -1 when the window could not be made, or
  // when WM_QUIT arrived (which is posted again for the outer loop).
  virtual INT_PTR DoModal();

  // Modeless: made from the template with the constructor's parent (or the
  // given window) as owner, or as parent for a WS_CHILD template; none when
  // null. Shown when the template has WS_VISIBLE. False when the window was
  // not made.
  bool Create() { return Create(SafeHwnd(parent_)); }
  bool Create(HWND parent);

  // Ends the modal loop with result (checked after the current message), or
  // hides a modeless dialog (::EndDialog).
  void EndDialog(int result);

  // WM_INITDIALOG. The base runs DoDataExchange and returns TRUE (the
  // dialog manager then focuses the first tab stop).
  virtual BOOL OnInitDialog();
  // Binds controls to their objects (DDX_Control); the base binds none.
  virtual void DoDataExchange() {}
  // IDOK and IDCANCEL (buttons, Enter/Escape through IsDialogMessage,
  // WM_CLOSE through the dialog manager): EndDialog(IDOK / IDCANCEL).
  virtual void OnOK();
  virtual void OnCancel();

  // IsDialogMessage for keyboard and mouse messages of this dialog and its
  // controls (true eats them: the dialog manager dispatched them itself).
  BOOL PreTranslateMessage(MSG* msg) override;

  // Hidden until asked: while keep is true, every WM_WINDOWPOSCHANGING of
  // the window loses SWP_SHOWWINDOW before the map sees it, so neither a
  // WS_VISIBLE template, the modal loop's first show nor ShowWindow can show
  // it. The window exists meanwhile (FindWindow finds it, messages reach it).
  void SetKeepHidden(bool keep) { keepHidden_ = keep; }
  bool IsKeptHidden() const { return keepHidden_; }

  UINT GetTemplateId() const { return templateId_; }
  bool IsInModalLoop() const { return inModalLoop_; }

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  // Unhandled commands from menus and accelerators (code 0, ids 0x8000 to
  // 0xEFFF) go on to the owner window's object, then to the application,
  // as MFC routes them; control ids stop here.
  bool OnCmdMsg(UINT id, UINT code, HWND control) override;

 protected:
  const MessageMap* GetMessageMap() const override;
  // Subclasses control id with control's object; false when there is no
  // such control or it already has an object.
  bool DDX_Control(int id, CWnd& control) { return control.SubclassDlgItem(id, m_hWnd); }

 private:
  bool CreateFromTemplate(HWND owner);
  HWND ModalOwner() const;
  static INT_PTR CALLBACK StaticDlgProc(HWND, UINT, WPARAM, LPARAM);

  UINT templateId_;
  CWnd* parent_;
  bool keepHidden_ = false;
  bool inModalLoop_ = false;
  bool continueModal_ = false;
  INT_PTR modalResult_ = -1;
};

}  // namespace cl
