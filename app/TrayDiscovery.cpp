// The main window's tray icon, the DNS-SD discovery it restarts on every
// left click, and the session window it opens.
#include "app/AppMessages.h"
#include "app/DlgPreference.h"
#include "app/SessionMgrMain.h"
#include "app/session/SettingsMenu.h"
#include "classlib/Resource.h"
#include "classlib/UiHandle.h"
#include "engine/discovery/BonjourDiscovery.h"
#include "foundation/log/Logger.h"
#include "foundation/session/SessionConfig.h"

// The session configuration the session window reads; made on first use.
CSessionConfig* g_pSessionConfig = nullptr;

LRESULT CDlgPreference::OnTrayNotify(WPARAM wParam, LPARAM lParam) {
  if (wParam != kTrayIconId || tearingDown_) return 0;
  if (lParam == WM_LBUTTONUP) {
    RestartDiscovery();
    ShowSessionWindow();
  } else if (lParam == WM_RBUTTONUP) {
    ShowTrayMenu();
  }
  return 0;
}

void CDlgPreference::RestartDiscovery() {
  if (discovery_ && discovery_->IsRunning()) return;
  StopDiscovery();
  discovery_ = new CBonjourDiscovery();
  discovery_->Start(this, &CDlgPreference::OnReceiverFound, &CDlgPreference::OnReceiverLost);
}

void CDlgPreference::StopDiscovery() {
  if (discovery_) {
    discovery_->Stop();
    delete discovery_;
    discovery_ = nullptr;
  }
  ScopedMutex found(foundMapMutex_);
  g_mapFoundReceivers.clear();
}

void CDlgPreference::ShowSessionWindow() {
  if (!sessionWindow_) {
    if (!g_pSessionConfig) g_pSessionConfig = new CSessionConfig();
    g_pSessionConfig->LoadAllSettings();
    sessionWindow_ = new CSessionMgrMain();
    if (!sessionWindow_->Create(g_pSessionConfig, this)) {
      // Nothing half made is kept: the next request tries again.
      ZtLogger::Instance().Error("[UI]session window could not be created");
      delete sessionWindow_;
      sessionWindow_ = nullptr;
      return;
    }
    watcher_.SetSessionWindow(sessionWindow_->m_hWnd);
    PublishReceiverList();
  }
  HWND hwnd = sessionWindow_->m_hWnd;
  RECT rc;
  GetWindowRect(hwnd, &rc);
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  MoveWindow(hwnd, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, w, h, TRUE);
  SetForegroundWindow(hwnd);
  ::ShowWindow(hwnd, SW_SHOWNORMAL);
  SetTimer(kTimerPublishReceivers, 5000);
}

bool CDlgPreference::AddTrayIcon() {
  tray_ = NOTIFYICONDATAW{};
  trayIcon_.reset(static_cast<HICON>(LoadImageW(cl::AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_TRAY), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));
  if (!trayIcon_) return false;
  tray_.cbSize = sizeof(NOTIFYICONDATAW);
  tray_.hWnd = m_hWnd;
  tray_.uID = kTrayIconId;
  tray_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  tray_.uCallbackMessage = WM_TRAY_NOTIFY;
  tray_.hIcon = trayIcon_.get();
  tray_.uVersion = 4;
  return ShellNotify(NIM_ADD, &tray_) != FALSE;
}

bool CDlgPreference::SetTrayTip(const std::wstring& text) {
  if (text.size() + 1 > ARRAYSIZE(tray_.szTip)) return false;
  wcscpy(tray_.szTip, text.c_str());
  tray_.uFlags |= NIF_TIP;
  return ShellNotify(NIM_MODIFY, &tray_) != FALSE;
}

bool CDlgPreference::ShowTrayBalloon(const std::wstring& title, const std::wstring& text, DWORD iconFlags) {
  tray_.uFlags |= NIF_INFO;
  tray_.uTimeout = 1000;
  tray_.dwInfoFlags = iconFlags;
  if (title.size() + 1 > ARRAYSIZE(tray_.szInfoTitle) || text.size() + 1 > ARRAYSIZE(tray_.szInfo)) return false;
  wcscpy(tray_.szInfoTitle, title.c_str());
  wcscpy(tray_.szInfo, text.c_str());
  return ShellNotify(NIM_MODIFY, &tray_) != FALSE;
}

void CDlgPreference::ShowTrayMenu() {
  SettingsMenuBitmaps bitmaps;
  TrackSettingsMenu(m_hWnd, bitmaps.preferences, bitmaps.update, bitmaps.about);
}
