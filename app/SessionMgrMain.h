// The session window: a borderless popup, "Tessarine Session", that holds
// one content panel (the session control panel) and nothing else. It is
// made 453 x 678 and then takes its panel's size, which follows the
// monitor's scale (303 x 453 at 100 %), so nothing of the frame shows.
//
// CSessionMgrBase: a popup owner of one content dialog: creation,
// placement before its first show, keys and the wheel passed on to the
// content, hidden (not destroyed) on WM_CLOSE. CSessionMgrMain fixes size,
// title and template and makes the concrete panel, CDlgSessionMgr.
//
// The main window owns the one instance: it makes it on first use
// (ShowSessionWindow), reaches the panel through Panel(), and deletes it at
// its teardown. UI thread only.
#pragma once

#include <windows.h>

#include <string>

#include "app/session/DlgSessionMgr.h"
#include "classlib/Wnd.h"

class CSessionConfig;

class CSessionMgrBase : public cl::CWnd {
 public:
  CSessionMgrBase() = default;
  ~CSessionMgrBase() override;

  // The content dialog object, not yet a window.
  virtual cl::CDialog* CreateContent() = 0;
  // Sends msg's message on to the content window (when there is one).
  virtual void ForwardMessage(const MSG* msg);
  // Before the first show: on a work area wider than 1024 or taller than
  // 768, at ((1024 - w) / 2, (768 - h) / 2); otherwise centred.
  virtual void PlaceWindow();
  // Makes the (hidden) window, its icons and its content, and sizes it to
  // the content; 1, or 0 with nothing made (also when the content dialog
  // could not be made).
  virtual int Create(CSessionConfig* config, cl::CWnd* owner);
  // Hands the keyboard focus to the content (the panel's choice).
  virtual void FocusContent() {}
  // The primary monitor's work area (a seam for the placement's tests).
  virtual RECT WorkArea() const;

  // Keys and the wheel also go to the content; nothing is eaten here.
  BOOL PreTranslateMessage(MSG* msg) override;

  std::wstring title;
  RECT rect{0, 0, 0, 0};
  cl::CWnd* owner = nullptr;
  UINT contentTemplateId = 0;
  CSessionConfig* sessionConfig = nullptr;  // not owned
  cl::CDialog* content = nullptr;           // owned
  HICON icon = nullptr;                     // shared resource icon

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  // rect becomes the content window's size (its monitor's scale), the
  // window takes that size and the content's region, and is placed again.
  void FitToContent();
  LRESULT OnClose(WPARAM, LPARAM);
  LRESULT OnDestroy(WPARAM, LPARAM);
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
};

class CSessionMgrMain : public CSessionMgrBase {
 public:
  static constexpr int kWidth = 453;
  static constexpr int kHeight = 678;
  static constexpr UINT kContentTemplate = 124;

  CSessionMgrMain();
  cl::CDialog* CreateContent() override;
  void FocusContent() override;
  // The control panel once it is a window; null before.
  CDlgSessionMgr* Panel() const;
};
