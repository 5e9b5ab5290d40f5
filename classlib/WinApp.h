// The application object and its command line: MFC's CWinApp and
// CCommandLineInfo, thin. One CWinApp exists at a time (the program's global
// object); AfxWinMain runs it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "classlib/Wnd.h"

// Command ids the application object answers (the values of MFC's afxres.h,
// which menus and posted commands use).
#ifndef ID_APP_ABOUT
#define ID_APP_ABOUT 57664
#endif
#ifndef ID_APP_EXIT
#define ID_APP_EXIT 57665
#endif

namespace cl {

// Receives the program's arguments one by one (CWinApp::ParseCommandLine).
class CCommandLineInfo {
 public:
  virtual ~CCommandLineInfo() = default;
  // text: the argument without its switch prefix; flag: it began with '-'
  // or '/' (one character removed); last: it is the final argument. The base
  // ignores every argument (no file names, no standard switches).
  virtual void ParseParam(const wchar_t* text, BOOL flag, BOOL last) {}
};

class CWinApp : public CCmdTarget {
 public:
  // Registers itself as AfxGetApp() (the last one made wins).
  explicit CWinApp(const wchar_t* appName = nullptr);
  ~CWinApp() override;
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // Start-up. The base registers with the Restart Manager when
  // m_dwRestartManagerSupportFlags has bit 0 (restart) and returns TRUE.
  // FALSE from an override ends the program through ExitInstance.
  virtual BOOL InitInstance();
  // Shutdown; runs after Run's loop and after a FALSE InitInstance alike,
  // so everything it stops must be safe to stop when never started. The base
  // returns the exit code: WM_QUIT's wParam after Run, else 0.
  virtual int ExitInstance();
  // The message loop of a program whose InitInstance returned TRUE: pumps
  // (with WalkPreTranslateTree) until WM_QUIT, then ExitInstance.
  virtual int Run();

  // Walks the arguments of GetCommandLineW (argv[0] is the program and is
  // skipped) and calls info.ParseParam(text, flag, last) for each.
  void ParseCommandLine(CCommandLineInfo& info);
  // The same walk over a given argument vector (argv[0] skipped).
  static void ParseArguments(CCommandLineInfo& info, const std::vector<std::wstring>& argv);

  // The main window. Setting it also publishes its HWND to
  // cl::SetMainWindow, now and whenever the object gets its window later
  // (a dialog run modally after being set); when that window is destroyed
  // both are cleared, and a program inside Run gets WM_QUIT.
  CWnd* GetMainWnd() const { return mainWnd_; }
  void SetMainWnd(CWnd* wnd);

  // Sent to the main window by the ID_APP_EXIT handler (exactly MFC's:
  // SendMessage WM_CLOSE; a dialog then ends its modal loop by IDCANCEL).
  void OnAppExit();

  // From CWnd when the main window's window goes (WM_NCDESTROY).
  void OnMainWindowGone(CWnd* wnd);

  HINSTANCE m_hInstance;
  std::wstring m_appName;
  // AFX_RESTART_MANAGER_SUPPORT_RESTART is 1; 0 registers nothing.
  DWORD m_dwRestartManagerSupportFlags = 0;

 protected:
  const MessageMap* GetMessageMap() const override;

 private:
  CWnd* mainWnd_ = nullptr;
  bool inRun_ = false;
  int exitCode_ = 0;
};

// The application object, or null.
CWinApp* AfxGetApp();

// The program's wWinMain body, as MFC's: InitInstance; on FALSE destroy a
// main window left behind and return ExitInstance(); on TRUE return Run().
// Returns 1 without an application object. A program's whole entry point:
//   int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return cl::AfxWinMain(); }
int AfxWinMain();

// A modal MessageBox owned by the main window (when there is one) with
// the application's name as caption; returns MessageBox's result.
int AfxMessageBox(const wchar_t* text, UINT type = MB_OK);

}  // namespace cl
