#include "classlib/WinApp.h"

#include <shellapi.h>

#include "classlib/MainWindow.h"

namespace cl {

namespace {
CWinApp* g_app = nullptr;  // set before main() by the program's static object
}

CWinApp* AfxGetApp() { return g_app; }

CWinApp::CWinApp(const wchar_t* appName)
    : m_hInstance(GetModuleHandleW(nullptr)), m_appName(appName ? appName : L"") {
  g_app = this;
}

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

const MessageMap* CWinApp::GetMessageMap() const {
  static const MessageMap map{CCmdTarget::GetMessageMap(),
                              {
                                  OnCommand(ID_APP_EXIT, &CWinApp::OnAppExit),
                              }};
  return &map;
}

BOOL CWinApp::InitInstance() {
  if (m_dwRestartManagerSupportFlags & 1) RegisterApplicationRestart(nullptr, 0);
  return TRUE;
}

int CWinApp::ExitInstance() { return exitCode_; }

int CWinApp::Run() {
  inRun_ = true;
  MSG msg{};
  while (PumpMessage(&msg)) {
  }
  inRun_ = false;
  exitCode_ = static_cast<int>(msg.wParam);
  return ExitInstance();
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return;
  std::vector<std::wstring> args(argv, argv + argc);
  LocalFree(argv);
  ParseArguments(info, args);
}

void CWinApp::ParseArguments(CCommandLineInfo& info, const std::vector<std::wstring>& argv) {
  for (size_t i = 1; i < argv.size(); ++i) {
    const wchar_t* text = argv[i].c_str();
    BOOL flag = FALSE;
    if (text[0] == L'-' || text[0] == L'/') {
      flag = TRUE;
      ++text;
    }
    info.ParseParam(text, flag, i + 1 == argv.size());
  }
}

void CWinApp::SetMainWnd(CWnd* wnd) {
  mainWnd_ = wnd;
  SetMainWindow(SafeHwnd(wnd));
}

void CWinApp::OnMainWindowGone(CWnd* wnd) {
  if (wnd != mainWnd_) return;
  mainWnd_ = nullptr;
  SetMainWindow(nullptr);
  if (inRun_) PostQuitMessage(0);
}

void CWinApp::OnAppExit() {
  if (HWND main = SafeHwnd(mainWnd_)) ::SendMessageW(main, WM_CLOSE, 0, 0);
}

int AfxWinMain() {
  CWinApp* app = AfxGetApp();
  if (!app) return 1;
  if (!app->InitInstance()) {
    if (CWnd* main = app->GetMainWnd()) main->DestroyWindow();
    return app->ExitInstance();
  }
  return app->Run();
}

int AfxMessageBox(const wchar_t* text, UINT type) {
  CWinApp* app = AfxGetApp();
  HWND owner = app ? SafeHwnd(app->GetMainWnd()) : nullptr;
  const wchar_t* caption = app && !app->m_appName.empty() ? app->m_appName.c_str() : nullptr;
  return MessageBoxW(owner, text, caption, type);
}

}  // namespace cl
