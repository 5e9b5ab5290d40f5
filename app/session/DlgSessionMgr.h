// The session control panel: the content of the session window.
//
// CDlgBase: a dialog (template 124) whose face is a PNG skin, with a
// rounded window region and a back buffer the skin is painted from.
// CDlgSessionMgrBase: dragging by the caption strip, commands forwarded to
// the main window, showing and hiding the frame that holds it.
// CDlgSessionMgr: the panel itself: a caption strip (connect by ID or
// address, the settings menu, hide), a header while a session runs (logo,
// the mirrored receiver's name, full display again, the display menu,
// stop) and below it the list of the other receivers.
//
// The panel never calls the engine: every action is a command or message
// posted to the main window, which pushes the receiver list
// (UpdateReceiverMap, every 5 s) and session refreshes (RefreshSession)
// back. UI thread only.
#pragma once

#include <windows.h>

#include <string>

#include "app/ReceiverMaps.h"
#include "app/controls/CustomStatic.h"
#include "app/controls/DialogBases.h"
#include "app/controls/PictureButton.h"
#include "app/controls/Statics.h"
#include "app/controls/Surface.h"
#include "app/session/ControlsBase.h"
#include "classlib/Gdi.h"

class CSessionConfig;
class CViewSubContentUserList;

class CDlgBase : public CDialogExt {
 public:
  static constexpr UINT kTemplateId = 124;
  explicit CDlgBase(cl::CWnd* parent = nullptr);
  ~CDlgBase() override;

  // The skin: with naturalSize the window becomes the picture's size + 1 in
  // place; else picture size x scale (truncated) + 1. Then the region, the
  // back buffer, and the window centred. Returns skinResult (unchanged when
  // the picture cannot be loaded).
  virtual int LoadSkin(int pngId, bool naturalSize, float scale);
  virtual int SetRegion(Gdiplus::Image* image);
  virtual int BuildBackBuffer(Gdiplus::Image* image);
  virtual void FreeBackBuffer();
  // child's top-left minus this window's, in screen coordinates; 0 for null.
  virtual int GetChildOffset(HWND child, int& x, int& y);

  HDC backDC() const { return back_.dc(); }

  int skinResult = 0;
  RECT skinRect{0, 0, 0, 0};

 protected:
  const cl::MessageMap* GetMessageMap() const override;
  LRESULT OnEraseBkgnd(WPARAM, LPARAM);
  LRESULT OnCtlColor(WPARAM, LPARAM);
  LRESULT OnDestroy(WPARAM, LPARAM);

  kit::MemSurface back_;
};

class CDlgSessionMgrBase : public CDlgBase, public CControlsBase {
 public:
  CDlgSessionMgrBase(CSessionConfig* config, cl::CWnd* owner, cl::CWnd* parent);
  ~CDlgSessionMgrBase() override;

  BOOL OnInitDialog() override;
  virtual int InitControls() = 0;
  // Takes the keyboard focus when a session configuration was given.
  virtual int FocusIfConfigured();
  // In the caption strip, 5 pixels in from either side, not over the hide
  // button.
  virtual bool HitTestCaption(POINT pt);
  virtual bool IsOverHideButton(POINT) { return false; }
  // WM_COMMAND (id, 0) posted to the owner.
  virtual void ForwardCommand(UINT id);
  // ShowWindow on the frame; 0 without one.
  virtual int ShowFrame(int cmd);
  int SetRegion(Gdiplus::Image* image) override;

  CSessionConfig* sessionConfig;  // not owned
  cl::CWnd* owner;                // the main window
  int skinId = 0;
  RECT captionRect{0, 0, 0, 0};
  RECT listRect{0, 0, 0, 0};
  float scale = 1.0f;

 protected:
  const cl::MessageMap* GetMessageMap() const override;
  LRESULT OnLButtonDown(WPARAM, LPARAM);
  LRESULT OnSysCommand(WPARAM, LPARAM);

  cl::CWnd* frame_;
};

// What the panel reads of the main window that owns it.
struct PanelOwnerState {
  bool isMainWindow = false;  // the owner is the program's main window
  std::string sessionHost;    // the receiver of the running session; empty when none runs
  bool extended = false;      // an extended display is attached
  int extIndex = 255;         // its monitor index (255 when none)
  int current = -1;           // the display the session mirrors
};

class CDlgSessionMgr : public CDlgSessionMgrBase {
 public:
  static constexpr int kSkinPng = 273;
  static constexpr UINT kListViewId = 0xE900;

  CDlgSessionMgr(CSessionConfig* config, cl::CWnd* owner, cl::CWnd* parent);
  ~CDlgSessionMgr() override;

  void DoDataExchange() override;
  int InitControls() override;
  int FocusIfConfigured() override;
  bool IsOverHideButton(POINT pt) override;
  BOOL PreTranslateMessage(MSG* msg) override;

  // The listed receivers (a copy): rebuilds the rows when keys, addresses
  // (ignoring case), names or the session state changed; ports are not
  // compared.
  void UpdateReceiverMap(ReceiverMap map);
  // Rows for the receivers at listed positions 0-31 but host's, whose name
  // goes to the label. A longer list is logged once per publication.
  void RebuildUserList(const std::string& host);
  // The header and the rows made to follow the owner's session now (after a
  // connect, and when the main window sees the session change).
  void RefreshSession();
  // True when the header and the rows stand for a session to host (for no
  // session when host is empty).
  bool ShowsSession(const std::string& host) const;
  // The five header controls shown (the list below them) or hidden.
  void ShowSessionControls(int show);

  // The name a row shows: after the first "@" when there is one, UTF-8.
  static std::wstring DisplayName(const std::string& serviceName);
  // Where key stands in the panel's copy of the listed receivers; -1 when
  // it is not there.
  int KeyPosition(const std::wstring& key) const;

  // The running session, extended display and mirrored display of the
  // owner when it is the main window.
  virtual PanelOwnerState ReadOwnerState() const;

  // Menu builders, exposed so the menus can be read without showing them.
  HMENU BuildDisplayMenu(HMENU menu, const PanelOwnerState& state);

  HBITMAP menuBitmaps[3] = {nullptr, nullptr, nullptr};  // 302, 301, 300: About, Update, Preferences
  CPictureButton connectButton;
  CPictureButton menuButton;
  CPictureButton hideButton;
  CPictureStatic logo;
  CCustomStatic receiverLabel;
  CPictureButton stopButton;
  CPictureButton fullscreenButton;
  CPictureButton displayButton;
  CViewSubContentUserList* listView = nullptr;
  ReceiverMap receivers;
  // The session's receiver the rows were last built without.
  std::string rowsHost;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

 private:
  void OnStop();
  void OnHide();
  void OnFullscreen();
  void OnDisplayMenu();
  void OnSettingsMenu();
  void OnConnect();
  void OnPreferences();
  void OnCheckUpdate();
  void OnDisplayCommand(UINT id);
  LRESULT OnDestroyPanel(WPARAM, LPARAM);
  void CreateListView();
  void PlaceListBelowHeader();
  void StyleSessionButton(CPictureButton& b, const int pngs[4], UINT tipId, int x, int y, int side);
  // source: where the button's background comes from (null: the skin).
  void UseBackBuffer(CPictureButton& b, HDC source = nullptr);
  void BuildHeaderBack();

  // The skin with the header picture drawn where the logo lies.
  kit::MemSurface headerBack_;
};
