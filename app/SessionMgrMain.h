// Stand-in for the session window and its control panel: a plain window
// "Tessarine Session" that shows the receiver list the main window hands it
// (UpdateReceiverMap) as one button per receiver, in the listed map's key
// order, so that row k sends WM_COMMAND 60001 + k: exactly the position
// OnConnectReceiver counts. An address field (written to txSToken, then
// WM_CONNECT_BY_TEXT) and a Stop button stand in for the control panel's.
// Closing it only hides it. Names and calls are the real window's, so
// replacing these two files is all the swap takes.
#pragma once

#include <windows.h>

#include <vector>

#include "app/ReceiverMaps.h"
#include "classlib/Wnd.h"

class CSessionConfig;

class CDlgSessionMgr : public cl::CWnd {
 public:
  bool Create(HWND parent, HWND mainWindow);
  // The main window's copy of the listed map (its mutex held by the caller).
  void UpdateReceiverMap(ReceiverMap map);
  // After a connect: the rows are made again from the last map.
  void RefreshSession();

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  void Layout();
  void OnRowClicked(UINT id);
  void OnConnectClicked();
  void OnStopClicked();
  LRESULT OnSize(WPARAM, LPARAM);

  HWND main_ = nullptr;
  HFONT font_ = nullptr;  // stock, not owned
  HWND header_ = nullptr;
  HWND edit_ = nullptr;
  HWND connect_ = nullptr;
  HWND stop_ = nullptr;
  std::vector<HWND> rows_;
  ReceiverMap map_;
};

class CSessionMgrMain : public cl::CWnd {
 public:
  CSessionMgrMain() = default;
  ~CSessionMgrMain() override;
  // Makes the (hidden) window; false when it could not be made.
  bool Create(CSessionConfig* config, cl::CWnd* mainWindow);
  CDlgSessionMgr* Panel() { return panel_.m_hWnd ? &panel_ : nullptr; }

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  LRESULT OnClose(WPARAM, LPARAM);
  LRESULT OnSize(WPARAM, LPARAM);
  CDlgSessionMgr panel_;
};
