// The program's main window: a dialog (template 101) that stays hidden
// until the user first opens the preferences, whose modal loop is the
// program's main loop. It owns everything the program runs: the tray icon,
// discovery, the receiver maps' mutexes and the connect logic, the
// mirroring session and its parameters, the extended display, the session
// window and the exit-event watcher.
//
// Threads: the UI thread only, except OnReceiverFound/OnReceiverLost
// (discovery thread too; they take only the found map's mutex).
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "app/ExitEventWatcher.h"
#include "app/ReceiverMaps.h"
#include "app/controls/CustomCheckBox.h"
#include "app/controls/CustomStatic.h"
#include "app/controls/DialogBases.h"
#include "app/controls/PictureButton.h"
#include "app/controls/Sliders.h"
#include "classlib/UiHandle.h"
#include "engine/mirror/MirrorTypes.h"

class CBonjourDiscovery;
class CDragDrop;
class CExtendDisplay;
class CMirror;
class CSessionMgrMain;

using CDlgPreferenceBase = CDlgMainBase;

class CDlgPreference : public CDlgPreferenceBase {
 public:
  CDlgPreference();
  ~CDlgPreference() override;

  void InitDialogHook() override;
  void DoDataExchange() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  BOOL PreCreateWindow(CREATESTRUCTW& cs) override;

  // Shows the panel, or hides it and writes the six tuning values.
  void TogglePreferences();

  // The settings panel (template 101), its visible face.
  void LayoutControls();
  void OnFpsChanged(NMHDR* nm, LRESULT* result);
  void OnQualityChanged(NMHDR* nm, LRESULT* result);
  void OnVolumeChanged(NMHDR* nm, LRESULT* result);
  void OnAutoScalingClicked();
  void OnCursorClicked();
  void OnHwAccelerationClicked();
  void OnResetSettings();
  // Slider position of a quality value: 1000, 2000, 4000, 8000 at 1 to 4,
  // the default 6000 at 3 (not clamped); and the quality of a position.
  static int QualityPosition(int quality);
  static int QualityOfPosition(int position);

  // Receiver maps and connecting.
  static void OnReceiverFound(ReceiverEntry* entry);
  static void OnReceiverLost(ReceiverEntry* entry);
  void PublishReceiverList();
  void OnConnectReceiver(UINT id);
  void StopMirroring();
  LRESULT OnPasswordRequest(WPARAM wParam, LPARAM lParam);
  LRESULT OnConnectByText(WPARAM wParam, LPARAM lParam);
  LRESULT OnLookupResult(WPARAM wParam, LPARAM lParam);
  void OnSelectDisplay(UINT id);
  void OnExtendDesktop();
  void OnReselectDisplay();
  LRESULT OnAreaSelected(WPARAM wParam, LPARAM lParam);

  // The settings panel's area and Proxy buttons.
  void OnSelectArea();
  void OnProxySettings();
  CDragDrop* RegionPicker() const { return regionPicker_; }

  // Tray icon and discovery.
  LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
  void RestartDiscovery();
  void StopDiscovery();
  void ShowSessionWindow();
  bool AddTrayIcon();
  bool SetTrayTip(const std::wstring& text);
  bool ShowTrayBalloon(const std::wstring& title, const std::wstring& text, DWORD iconFlags);
  void ShowTrayMenu();

  HANDLE FoundMapMutex() const { return foundMapMutex_; }
  HANDLE ListedMapMutex() const { return listedMapMutex_; }

  // What the session panel reads of the main window.
  CMirror* Session() const { return session_; }
  const std::string& SessionHost() const { return sessionHost_; }
  CExtendDisplay* ExtendDisplayManager() const { return extendDisplay_; }
  const MirrorParam& Params() const { return params_; }
  CSessionMgrMain* SessionWindow() const { return sessionWindow_; }
  const NOTIFYICONDATAW& TrayData() const { return tray_; }

  // The controls of template 101.
  CCustomStatic title;
  CPictureButton closeButton;
  CCustomStatic qualityLabel;
  CColorSlider qualitySlider;
  CCustomStatic qualityLow;
  CCustomStatic qualityHigh;
  CCustomStatic volumeLabel;
  CColorSlider volumeSlider;
  CCustomStatic volumeValue;
  CCustomStatic fpsLabel;
  CColorSlider fpsSlider;
  CCustomStatic fpsValue;
  CCustomCheckBox cursorBox;
  CCustomCheckBox autoScalingBox;
  CCustomCheckBox hwAccelerationBox;
  CCustomStatic cursorLabel;
  CCustomStatic autoScalingLabel;
  CCustomStatic hwAccelerationLabel;
  CPictureButton areaButton;
  CPictureButton proxyButton;
  CPictureButton resetButton;
  CPictureButton saveButton;
  cl::CWnd statusLine;
  cl::CWnd statsLine;

 protected:
  const cl::MessageMap* GetMessageMap() const override;

  // The shell's notification-area call (Shell_NotifyIconW); a seam for
  // tests that record what reaches the shell.
  virtual BOOL ShellNotify(DWORD message, NOTIFYICONDATAW* data);
  // A running session's new video settings and volume (from params).
  virtual void SessionUpdateVideoSettings();
  virtual void SessionSetVolume();

  MirrorParam params_;
  CMirror* session_ = nullptr;

 private:
  LRESULT OnTimer(WPARAM wParam, LPARAM lParam);
  LRESULT OnDestroy(WPARAM wParam, LPARAM lParam);
  LRESULT OnCreatePanel(WPARAM wParam, LPARAM lParam);
  LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
  LRESULT OnQueryDragIcon(WPARAM wParam, LPARAM lParam);
  LRESULT OnAnswerZero(WPARAM wParam, LPARAM lParam);
  LRESULT OnLButtonDown(WPARAM wParam, LPARAM lParam);
  LRESULT OnTogglePreferencesMessage(WPARAM wParam, LPARAM lParam);
  LRESULT OnRestartDiscoveryMessage(WPARAM wParam, LPARAM lParam);
  LRESULT OnStartupBalloon(WPARAM wParam, LPARAM lParam);
  LRESULT OnMirrorErrorBox(WPARAM wParam, LPARAM lParam);
  void OnPreferencesCommand();
  void OnToggleCommand();
  void OnCheckUpdate();
  void OnCloseClicked();
  void OnSaveClicked();
  void OnAppExitCommand();
  void UpdateStatusLines();
  // The session window's header and rows brought in line with the session
  // when they differ (timer 2).
  void FollowSessionInHeader();
  void SetStatusLine(const std::wstring& text);
  void ShowTuningValues();
  void PlaceLabel(CCustomStatic& label, int x, int y, int height);

  cl::UniqueIcon icon_;
  cl::UniqueIcon trayIcon_;
  NOTIFYICONDATAW tray_{};
  CDragDrop* regionPicker_ = nullptr;
  CBonjourDiscovery* discovery_ = nullptr;
  bool shownOnce_ = false;
  HWND tooltip_ = nullptr;
  std::wstring lastStatus_;
  CExtendDisplay* extendDisplay_ = nullptr;
  CSessionMgrMain* sessionWindow_ = nullptr;
  CExitEventWatcher watcher_;
  HANDLE foundMapMutex_ = nullptr;
  HANDLE listedMapMutex_ = nullptr;

  // The receiver the running session was started for (the password
  // reconnect goes there again).
  std::string sessionHost_;
  uint16_t sessionPort_ = 0;
  // Set when the teardown starts: a bring-forward that arrives meanwhile
  // must not make a new session window or discovery.
  bool tearingDown_ = false;
};

// The session thread's connection-failure prompt: posted to the main
// window, which shows the box on the UI thread.
void PostMirrorErrorPrompt(int stringId);

// The password prompt: string 316, after string 317 with nothing between
// them when the receiver refused the last password (lParam 1).
std::wstring PasswordPrompt(LPARAM refused);
