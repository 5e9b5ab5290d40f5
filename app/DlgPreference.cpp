// The main window itself: message map, start-up hook, timers, the hidden
// panel and the teardown. Receiver and session commands: ReceiverCommands.cpp;
// tray and discovery: TrayDiscovery.cpp.
#include "app/DlgPreference.h"

#include <commctrl.h>

#include <vector>

#include "app/AppMessages.h"
#include "app/SessionMgrMain.h"
#include "app/dialogs/DragDrop.h"
#include "app/TundraApp.h"
#include "backend/BEOPMgr.h"
#include "classlib/MainWindow.h"
#include "classlib/Resource.h"
#include "classlib/Str.h"
#include "classlib/WinApp.h"
#include "engine/discovery/BonjourDiscovery.h"
#include "engine/display/ExtendDisplay.h"
#include "engine/mirror/Mirror.h"
#include "foundation/log/Logger.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/sys/SysUtil.h"
#include "foundation/updater/UpdaterSetup.h"

namespace {

// The sliders' background (red 0xEE, green 0xE5, blue 0xD9).
constexpr COLORREF kSliderBackground = 0xD9E5EE;

int DefaultCaptureMethod() { return GetOSVersionCodeEx() == OSVER_WIN8 ? 1 : 0; }

}  // namespace

void PostMirrorErrorPrompt(int stringId) { cl::PostToMainWindow(WM_MIRROR_ERROR_BOX, stringId, 0); }

CDlgPreference::CDlgPreference() : CDlgPreferenceBase(IDD_PREFERENCES, IDP_PREFERENCES_BACKGROUND, nullptr) {
  icon_.reset(static_cast<HICON>(LoadImageW(cl::AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_MAIN), IMAGE_ICON, 0, 0,
                                            LR_DEFAULTSIZE)));
  // The sliders paint their background in the panel's light blue-grey.
  for (CColorSlider* slider : {&qualitySlider, &volumeSlider, &fpsSlider}) {
    slider->backColour = kSliderBackground;
    slider->backBrush.reset(CreateSolidBrush(kSliderBackground));
  }
  foundMapMutex_ = CreateMutexW(nullptr, FALSE, nullptr);
  listedMapMutex_ = CreateMutexW(nullptr, FALSE, nullptr);
  // Nothing may show the window before the first preferences command: not
  // the template's visible style, not the modal loop's first show.
  SetKeepHidden(true);
  StartBackendMonitors();
}

CDlgPreference::~CDlgPreference() {
  // Only what a window that never ran its teardown left; a session whose
  // thread would not end stays (deleting it under its thread would crash).
  watcher_.Stop();
  if (discovery_) StopDiscovery();
  delete sessionWindow_;
  delete regionPicker_;
  if (listedMapMutex_) CloseHandle(listedMapMutex_);
  if (foundMapMutex_) CloseHandle(foundMapMutex_);
}

const cl::MessageMap* CDlgPreference::GetMessageMap() const {
  static const cl::MessageMap map{
      CDlgPreferenceBase::GetMessageMap(),
      {
          cl::OnMessage(WM_TRAY_NOTIFY, &CDlgPreference::OnTrayNotify),
          cl::OnMessage(WM_AREA_SELECTED, &CDlgPreference::OnAreaSelected),
          cl::OnMessage(WM_TOGGLE_PREFERENCES, &CDlgPreference::OnTogglePreferencesMessage),
          cl::OnMessage(WM_RESTART_DISCOVERY, &CDlgPreference::OnRestartDiscoveryMessage),
          cl::OnMessage(WM_MIRROR_PASSWORD, &CDlgPreference::OnPasswordRequest),
          cl::OnMessage(WM_CONNECT_BY_TEXT, &CDlgPreference::OnConnectByText),
          cl::OnMessage(WM_LOOKUP_RESULT, &CDlgPreference::OnLookupResult),
          cl::OnMessage(WM_BEOP_STATE_CHANGED, &CDlgPreference::OnStartupBalloon),
          cl::OnMessage(WM_MIRROR_ERROR_BOX, &CDlgPreference::OnMirrorErrorBox),
          cl::OnCommandRange(ID_CONNECT_RECEIVER_FIRST, ID_CONNECT_RECEIVER_LAST, &CDlgPreference::OnConnectReceiver),
          cl::OnCommandRange(ID_SELECT_DISPLAY_FIRST, ID_SELECT_DISPLAY_LAST, &CDlgPreference::OnSelectDisplay),
          cl::OnCommand(ID_EXTEND_DESKTOP, &CDlgPreference::OnExtendDesktop),
          cl::OnCommand(ID_STOP_MIRRORING, &CDlgPreference::StopMirroring),
          cl::OnCommand(ID_TOGGLE_PREFERENCES, &CDlgPreference::OnToggleCommand),
          cl::OnCommand(ID_RESELECT_DISPLAY, &CDlgPreference::OnReselectDisplay),
          cl::OnCommand(ID_PREFERENCES, &CDlgPreference::OnPreferencesCommand),
          cl::OnCommand(ID_CHECK_UPDATE, &CDlgPreference::OnCheckUpdate),
          cl::OnCommand(IDC_CLOSE, &CDlgPreference::OnCloseClicked),
          cl::OnCommand(ID_APP_EXIT, &CDlgPreference::OnAppExitCommand),
          cl::OnCommand(IDC_SAVE, &CDlgPreference::OnSaveClicked),
          cl::OnCommand(IDC_AUTOSCALING_CHECK, &CDlgPreference::OnAutoScalingClicked),
          cl::OnCommand(IDC_CURSOR_CHECK, &CDlgPreference::OnCursorClicked),
          cl::OnCommand(IDC_HWACCEL_CHECK, &CDlgPreference::OnHwAccelerationClicked),
          cl::OnCommand(IDC_RESET, &CDlgPreference::OnResetSettings),
          cl::OnNotify(NM_CUSTOMDRAW, IDC_FPS_SLIDER, &CDlgPreference::OnFpsChanged),
          cl::OnNotify(NM_CUSTOMDRAW, IDC_QUALITY_SLIDER, &CDlgPreference::OnQualityChanged),
          cl::OnNotify(NM_CUSTOMDRAW, IDC_VOLUME_SLIDER, &CDlgPreference::OnVolumeChanged),
          cl::OnMessage(WM_CREATE, &CDlgPreference::OnCreatePanel),
          cl::OnCommand(IDC_SELECT_AREA, &CDlgPreference::OnSelectArea),
          cl::OnCommand(IDC_PROXY, &CDlgPreference::OnProxySettings),
          cl::OnMessage(WM_PAINT, &CDlgPreference::OnPaint),
          cl::OnMessage(WM_QUERYDRAGICON, &CDlgPreference::OnQueryDragIcon),
          cl::OnMessage(WM_TIMER, &CDlgPreference::OnTimer),
          cl::OnMessage(WM_DESTROY, &CDlgPreference::OnDestroy),
          cl::OnMessage(WM_DISPLAYCHANGE, &CDlgPreference::OnAnswerZero),
          cl::OnMessage(WM_DPICHANGED, &CDlgPreference::OnAnswerZero),
          cl::OnMessage(WM_LBUTTONDOWN, &CDlgPreference::OnLButtonDown),
      }};
  return &map;
}

void CDlgPreference::InitDialogHook() {
  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_.get()));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_.get()));

  params_ = MirrorParam();
  params_.owner = m_hWnd;
  params_.port = MIRROR_PORT;
  params_.fps = static_cast<uint16_t>(CFrameUtility::GetTxFps());
  params_.quality = static_cast<uint16_t>(CFrameUtility::GetTxQuality());
  params_.volume = static_cast<int16_t>(CFrameUtility::GetTxVolume());
  params_.scaleMode = CFrameUtility::GetTxScale();
  params_.showCursor = CFrameUtility::GetTxCursor();
  params_.useDxgi = CFrameUtility::GetTxDDI(DefaultCaptureMethod());
  params_.displayIndex = -1;
  params_.area = RECT{0, 0, 0, 0};
  params_.password.clear();

  RestartDiscovery();
  AddTrayIcon();
  SetTrayTip(cl::LoadResString(IDS_APP_NAME));

  tooltip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (tooltip_) {
    const std::wstring tip = cl::LoadResString(IDS_SELECT_AREA);
    TOOLINFOW ti{};
    ti.cbSize = sizeof(ti);
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = m_hWnd;
    ti.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(IDC_SELECT_AREA));
    ti.lpszText = const_cast<wchar_t*>(tip.c_str());
    ::SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    ::SendMessageW(tooltip_, TTM_ACTIVATE, TRUE, 0);
  }

  LayoutControls();
  PostMessage(WM_BEOP_STATE_CHANGED, 0, 0);
  SetMirrorErrorPrompt(&PostMirrorErrorPrompt);
  StartUpdater(cl::LoadResString(IDS_LANGUAGE_TAG));
  watcher_.Start(m_hWnd, TundraInstanceEvent());
  ZtLogger::Instance().Info("[UI]main window ready (hidden)");
}

void CDlgPreference::TogglePreferences() {
  shownOnce_ = true;
  SetKeepHidden(false);
  if (IsWindowVisible()) {
    ShowWindow(SW_HIDE);
    CFrameUtility::SetTxFps(params_.fps);
    CFrameUtility::SetTxQuality(params_.quality);
    CFrameUtility::SetTxVolume(params_.volume);
    CFrameUtility::SetTxCursor(params_.showCursor);
    CFrameUtility::SetTxScale(params_.scaleMode);
    CFrameUtility::SetTxDDI(params_.useDxgi);
  } else {
    ShowWindow(SW_SHOWNORMAL);
    SetForegroundWindow(m_hWnd);
  }
}

BOOL CDlgPreference::PreTranslateMessage(MSG* msg) {
  if (tooltip_) ::SendMessageW(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg));
  // Neither key may end the main loop.
  if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE)) return TRUE;
  return CDlgPreferenceBase::PreTranslateMessage(msg);
}

BOOL CDlgPreference::PreCreateWindow(CREATESTRUCTW& cs) {
  // Only windows made by CreateEx pass here; the modal template dialog keeps
  // the standard dialog class.
  static const std::wstring name = cl::FormatW(L"%s Window", cl::LoadResString(IDS_APP_NAME).c_str());
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  if (!GetClassInfoExW(GetModuleHandleW(nullptr), name.c_str(), &wc)) {
    const wchar_t* base = RegisterWndClass(CS_DBLCLKS, LoadCursor(nullptr, IDC_ARROW),
                                           reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    GetClassInfoExW(GetModuleHandleW(nullptr), base, &wc);
    wc.cbSize = sizeof(wc);
    wc.style &= ~CS_SAVEBITS;
    wc.lpszClassName = name.c_str();
    wc.hInstance = GetModuleHandleW(nullptr);
    RegisterClassExW(&wc);
  }
  cs.lpszClass = name.c_str();
  return CDlgPreferenceBase::PreCreateWindow(cs);
}

LRESULT CDlgPreference::OnCreatePanel(WPARAM wParam, LPARAM lParam) {
  // The template names the window "Tessarine" (which gives it a caption
  // bar); the panel's picture is its whole face.
  SetWindowLongPtrW(m_hWnd, GWL_STYLE, GetStyle() & ~(WS_CAPTION | WS_THICKFRAME));
  SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  return CDlgPreferenceBase::OnCreate(wParam, lParam);
}

LRESULT CDlgPreference::OnPaint(WPARAM, LPARAM) {
  if (!IsIconic(m_hWnd)) return Default();
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hWnd, &ps);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT rc;
  GetClientRect(m_hWnd, &rc);
  const int x = (rc.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (rc.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, icon_.get());
  EndPaint(m_hWnd, &ps);
  return 0;
}

LRESULT CDlgPreference::OnQueryDragIcon(WPARAM, LPARAM) { return reinterpret_cast<LRESULT>(icon_.get()); }

LRESULT CDlgPreference::OnAnswerZero(WPARAM, LPARAM) { return 0; }

LRESULT CDlgPreference::OnLButtonDown(WPARAM, LPARAM) {
  // The panel moves when dragged by any free spot.
  SendMessage(WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
  return 0;
}

LRESULT CDlgPreference::OnTogglePreferencesMessage(WPARAM, LPARAM) {
  TogglePreferences();
  return 0;
}

LRESULT CDlgPreference::OnRestartDiscoveryMessage(WPARAM, LPARAM) {
  StopDiscovery();
  RestartDiscovery();
  return 0;
}

LRESULT CDlgPreference::OnStartupBalloon(WPARAM, LPARAM) {
  ShowTrayBalloon(cl::LoadResString(IDS_APP_NAME), cl::LoadResString(IDS_CLICK_TO_START), NIIF_INFO);
  return 0;
}

LRESULT CDlgPreference::OnMirrorErrorBox(WPARAM wParam, LPARAM) {
  cl::AfxMessageBox(cl::LoadResString(static_cast<UINT>(wParam)).c_str(), MB_OK);
  return 0;
}

void CDlgPreference::OnPreferencesCommand() {
  cl::CWinApp* app = cl::AfxGetApp();
  cl::CWnd* main = app ? app->GetMainWnd() : nullptr;
  if (!main) return;
  if (!main->m_hWnd) {
    ZtLogger::Instance().Error("Mainframe hwnd is NULL.");
    return;
  }
  main->PostMessage(WM_TOGGLE_PREFERENCES, 0, 0);
}

void CDlgPreference::OnToggleCommand() { TogglePreferences(); }

void CDlgPreference::OnCheckUpdate() { CheckForUpdatesWithUi(); }

void CDlgPreference::OnCloseClicked() { ShowWindow(SW_HIDE); }

void CDlgPreference::OnSaveClicked() { TogglePreferences(); }

namespace {

struct OpenDialogs {
  HWND main;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectOpenDialogs(HWND h, LPARAM param) {
  auto* s = reinterpret_cast<OpenDialogs*>(param);
  wchar_t cls[16] = {};
  GetClassNameW(h, cls, 16);
  if (h != s->main && wcscmp(cls, L"#32770") == 0) s->found.push_back(h);
  return TRUE;
}

}  // namespace

// The main window's modal loop is the program's: while an about box, an
// error dialog, a message box, the input box or a menu runs its own loop on top of
// it, ending the main window alone would wait for the user to close them.
// So every other dialog of this thread is asked to close first (posted, so
// each ends in its own loop), then the main window as before.
void CDlgPreference::OnAppExitCommand() {
  OpenDialogs open{m_hWnd};
  EnumThreadWindows(GetCurrentThreadId(), &CollectOpenDialogs, reinterpret_cast<LPARAM>(&open));
  for (HWND h : open.found) ::PostMessageW(h, WM_CLOSE, 0, 0);
  // The tray or settings menu runs a loop of its own too.
  EndMenu();
  if (cl::CWinApp* app = cl::AfxGetApp()) app->OnAppExit();
}

void CDlgPreference::SetStatusLine(const std::wstring& text) {
  SetDlgItemTextW(m_hWnd, IDC_STATUS_LINE, text.c_str());
}

void CDlgPreference::UpdateStatusLines() {
  if (!IsWindowVisible()) return;
  if (!session_) {
    if (!lastStatus_.empty()) SetStatusLine(lastStatus_);
    return;
  }
  HWND status = GetDlgItem(IDC_STATUS_LINE);
  HWND stats = GetDlgItem(IDC_STATS_LINE);
  if (CFrameUtility::GetTxDebug() != 0) {
    ::ShowWindow(status, SW_SHOW);
    ::ShowWindow(stats, SW_SHOW);
    RECT win, line;
    GetWindowRect(m_hWnd, &win);
    GetWindowRect(stats, &line);
    const POINT corner{line.left, line.top};
    if (!PtInRect(&win, corner)) {
      const int w = win.right - win.left, h = win.bottom - win.top;
      MoveWindow(stats, 5, h - 25, w - 10, 20, TRUE);
      MoveWindow(status, 5, h - 50, w - 10, 20, TRUE);
    }
  } else {
    ::ShowWindow(status, SW_HIDE);
    ::ShowWindow(stats, SW_HIDE);
  }
  SetStatusLine(session_->StatusText());
  if (session_->IsRunning()) SetDlgItemTextW(m_hWnd, IDC_STATS_LINE, session_->StatisticsText().c_str());
}

void CDlgPreference::FollowSessionInHeader() {
  // Once a second, so that a session that ends by itself (the receiver
  // went away, the connection failed) takes the header with it at once
  // rather than at the next publication of the list.
  CDlgSessionMgr* panel = sessionWindow_ ? sessionWindow_->Panel() : nullptr;
  if (!panel) return;
  const std::string host = session_ && session_->IsRunning() ? sessionHost_ : std::string();
  if (panel->ShowsSession(host)) return;
  ScopedMutex lock(listedMapMutex_);
  panel->RefreshSession();
}

LRESULT CDlgPreference::OnTimer(WPARAM wParam, LPARAM) {
  switch (wParam) {
    case kTimerPublishReceivers:
      PublishReceiverList();
      break;
    case kTimerStatusLines:
      FollowSessionInHeader();
      UpdateStatusLines();
      break;
    case kTimerVolume:
      KillTimer(kTimerVolume);
      if (session_) SessionSetVolume();
      break;
    case kTimerRefreshSession:
      KillTimer(kTimerRefreshSession);
      if (sessionWindow_) {
        ScopedMutex lock(listedMapMutex_);
        if (CDlgSessionMgr* panel = sessionWindow_->Panel()) panel->RefreshSession();
      }
      break;
    default:
      ZtLogger::Instance().Error("[UI]unknown timer id: %d", static_cast<int>(wParam));
      break;
  }
  return Default();
}

LRESULT CDlgPreference::OnDestroy(WPARAM, LPARAM) {
  ZtLogger::Instance().Info("[UI]main window teardown");
  tearingDown_ = true;
  KillTimer(kTimerPublishReceivers);
  KillTimer(kTimerStatusLines);
  watcher_.Stop();
  SetMirrorErrorPrompt(nullptr);
  if (session_) CMirror::StopAndRelease(session_);
  if (extendDisplay_) {
    extendDisplay_->Disable();
    delete extendDisplay_;
    extendDisplay_ = nullptr;
  }
  delete sessionWindow_;
  sessionWindow_ = nullptr;
  StopDiscovery();
  ShellNotify(NIM_DELETE, &tray_);
  StopUpdater();
  g_mapListedReceivers.clear();
  g_mapFoundReceivers.clear();
  CloseHandle(listedMapMutex_);
  listedMapMutex_ = nullptr;
  CloseHandle(foundMapMutex_);
  foundMapMutex_ = nullptr;
  ZtLogger::Instance().Info("[UI]main window teardown done");
  return Default();
}
