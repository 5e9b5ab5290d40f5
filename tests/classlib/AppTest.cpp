// The application object: the argument walk, start-up and shutdown order,
// the main window it publishes, and the commands its main window routes to
// it (ID_APP_ABOUT to its own map, ID_APP_EXIT closing the modal loop).
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "TestDialog.h"
#include "classlib/MainWindow.h"
#include "classlib/WinApp.h"

using testdlg::ModalDlg;

namespace {

struct Param {
  std::wstring text;
  BOOL flag;
  BOOL last;
  bool operator==(const Param& o) const { return text == o.text && flag == o.flag && last == o.last; }
};

class RecordingInfo : public cl::CCommandLineInfo {
 public:
  std::vector<Param> params;
  void ParseParam(const wchar_t* text, BOOL flag, BOOL last) override {
    params.push_back({text, flag, last});
  }
};

TEST(WinApp, ArgumentWalkMarksSwitchesAndTheLastArgument) {
  RecordingInfo info;
  cl::CWinApp::ParseArguments(info, {L"prog.exe", L"-x", L"/X", L"file.txt", L"--two", L"-"});
  std::vector<Param> want{{L"x", TRUE, FALSE},
                          {L"X", TRUE, FALSE},
                          {L"file.txt", FALSE, FALSE},
                          {L"-two", TRUE, FALSE},
                          {L"", TRUE, TRUE}};
  EXPECT_TRUE(info.params == want);

  RecordingInfo none;
  cl::CWinApp::ParseArguments(none, {L"prog.exe"});
  EXPECT_TRUE(none.params.empty());

  // The process's own command line: the test runner's arguments, if any.
  RecordingInfo own;
  cl::CWinApp app;
  app.ParseCommandLine(own);
  int argc = 0;
  LocalFree(CommandLineToArgvW(GetCommandLineW(), &argc));
  EXPECT_EQ(own.params.size(), static_cast<size_t>(argc - 1));
}

class LifecycleApp : public cl::CWinApp {
 public:
  bool initResult = false;
  std::vector<std::string> steps;
  BOOL InitInstance() override {
    steps.push_back("init");
    if (initResult) PostQuitMessage(7);
    return initResult;
  }
  int ExitInstance() override {
    steps.push_back("exit");
    return cl::CWinApp::ExitInstance();
  }
};

TEST(WinApp, ExitInstanceRunsAfterEitherStart) {
  struct Case {
    bool init;
    int code;  // a false start exits 0; Run gives WM_QUIT's code
  } cases[] = {{false, 0}, {true, 7}};
  for (const Case& c : cases) {
    LifecycleApp app;
    app.initResult = c.init;
    EXPECT_EQ(cl::AfxGetApp(), &app);
    EXPECT_EQ(cl::AfxWinMain(), c.code) << "init " << c.init;
    EXPECT_EQ(app.steps, (std::vector<std::string>{"init", "exit"})) << "init " << c.init;
  }
  EXPECT_EQ(cl::AfxGetApp(), nullptr);
  EXPECT_EQ(cl::AfxWinMain(), 1) << "no application object";
}

TEST(WinApp, MainWindowIsPublishedWhenItsWindowExists) {
  cl::CWinApp app;
  cl::CWnd main;
  app.SetMainWnd(&main);  // as a program does before DoModal: no window yet
  EXPECT_EQ(cl::GetMainWindow(), nullptr);
  ASSERT_TRUE(main.CreateEx(0, nullptr, L"main", WS_POPUP, RECT{0, 0, 50, 50}, nullptr, 0));
  EXPECT_EQ(cl::GetMainWindow(), main.m_hWnd);
  EXPECT_TRUE(cl::PostToMainWindow(WM_NULL, 0, 0));
  main.DestroyWindow();
  EXPECT_EQ(cl::GetMainWindow(), nullptr);
  EXPECT_EQ(app.GetMainWnd(), nullptr);
}

// The main window's commands that it leaves alone reach the application.
class RoutingApp : public cl::CWinApp {
 public:
  std::vector<std::string> calls;
  void OnAppAbout() { calls.push_back("about"); }
  void OnControlId() { calls.push_back("control-id"); }

 protected:
  const cl::MessageMap* GetMessageMap() const override {
    static const cl::MessageMap map{cl::CWinApp::GetMessageMap(),
                                    {
                                        cl::OnCommand(ID_APP_ABOUT, &RoutingApp::OnAppAbout),
                                        cl::OnCommand(IDC_TEST_EDIT, &RoutingApp::OnControlId),
                                    }};
    return &map;
  }
};

class ClosingDlg : public ModalDlg {
 public:
  int closes = 0;

 protected:
  LRESULT OnClose(WPARAM, LPARAM) {
    ++closes;
    return Default();  // the dialog manager turns it into IDCANCEL
  }
  const cl::MessageMap* GetMessageMap() const override {
    static const cl::MessageMap map{ModalDlg::GetMessageMap(),
                                    {cl::OnMessage(WM_CLOSE, &ClosingDlg::OnClose)}};
    return &map;
  }
};

TEST(WinApp, MainWindowRoutesAboutAndExitToTheApplication) {
  RoutingApp app;
  ClosingDlg dlg;
  app.SetMainWnd(&dlg);
  HWND published = nullptr;
  dlg.onInit = [&](ModalDlg& d) {
    published = cl::GetMainWindow();
    PostMessageW(d.m_hWnd, WM_COMMAND, ID_APP_ABOUT, 0);
    PostMessageW(d.m_hWnd, WM_COMMAND, IDC_TEST_EDIT, 0);  // a control id is not routed
    PostMessageW(d.m_hWnd, WM_COMMAND, ID_APP_EXIT, 0);
  };
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_NE(published, nullptr);
  EXPECT_EQ(dlg.closes, 1);
  EXPECT_EQ(app.calls, std::vector<std::string>{"about"});
  EXPECT_EQ(app.GetMainWnd(), nullptr) << "the main window's destruction clears it";
  EXPECT_EQ(cl::GetMainWindow(), nullptr);
  EXPECT_FALSE(dlg.timedOut);
}

}  // namespace
