// A dialog kept hidden until asked: its WS_VISIBLE template, the modal
// loop's first show and ShowWindow all leave it hidden, yet another process
// finds it by class and caption, reads its edit and posts it a command.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "TestDialog.h"
#include "support/WaitFactor.h"

using testdlg::ModalDlg;

namespace {

const char kCaptionVar[] = "TESS_HIDDEN_DIALOG_CAPTION";

// The other process: this test program started again with only this test.
TEST(HiddenDialogPeer, FindsReadsAndCommands) {
  const char* caption = std::getenv(kCaptionVar);
  if (!caption) GTEST_SKIP() << "run by HiddenDialog.StaysHiddenButReachable";
  std::wstring wcaption(caption, caption + strlen(caption));
  HWND dlg = FindWindowW(L"#32770", wcaption.c_str());
  ASSERT_NE(dlg, nullptr);
  EXPECT_FALSE(IsWindowVisible(dlg));
  wchar_t text[64] = {};
  GetDlgItemTextW(dlg, IDC_TEST_EDIT, text, 64);
  EXPECT_STREQ(text, L"peer reads this");
  ASSERT_TRUE(PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0));
}

class ShowWatch : public ModalDlg {
 public:
  using ModalDlg::ModalDlg;
  int okFromPeer = 0;
  bool everVisible = false;
  void OnOK() override {
    ++okFromPeer;
    ModalDlg::OnOK();
  }

 protected:
  LRESULT OnShowing(WPARAM, LPARAM) {
    everVisible = everVisible || IsWindowVisible();
    return Default();
  }
  const cl::MessageMap* GetMessageMap() const override {
    static const cl::MessageMap map{ModalDlg::GetMessageMap(),
                                    {cl::OnMessage(WM_WINDOWPOSCHANGED, &ShowWatch::OnShowing)}};
    return &map;
  }
};

TEST(HiddenDialog, StaysHiddenButReachable) {
  ShowWatch dlg("hidden", nullptr, IDD_TEST_VISIBLE);
  dlg.SetKeepHidden(true);
  std::string caption = "Hidden Test " + std::to_string(GetCurrentProcessId());
  PROCESS_INFORMATION peer{};
  dlg.onInit = [&](ModalDlg& d) {
    SetWindowTextA(d.m_hWnd, caption.c_str());
    SetDlgItemTextW(d.m_hWnd, IDC_TEST_EDIT, L"peer reads this");
    d.ShowWindow(SW_SHOWNORMAL);
    EXPECT_FALSE(d.IsWindowVisible()) << "ShowWindow while kept hidden";
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring cmd = L"\"" + std::wstring(exe) + L"\" --gtest_filter=HiddenDialogPeer.*";
    SetEnvironmentVariableA(kCaptionVar, caption.c_str());
    STARTUPINFOW si{sizeof(si)};
    ASSERT_TRUE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                               &peer));
    SetEnvironmentVariableA(kCaptionVar, nullptr);
  };
  INT_PTR result = dlg.DoModal();
  EXPECT_EQ(result, IDOK) << "the peer's command ended the dialog";
  EXPECT_EQ(dlg.okFromPeer, 1);
  EXPECT_FALSE(dlg.everVisible);
  if (peer.hProcess) {
    ASSERT_EQ(WaitForSingleObject(peer.hProcess, testwait::Ms(60000)), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(peer.hProcess, &code);
    EXPECT_EQ(code, 0u) << "the peer's own checks";
    CloseHandle(peer.hProcess);
    CloseHandle(peer.hThread);
  }
}

TEST(HiddenDialog, ShowsWhenReleased) {
  ModalDlg dlg("shown", nullptr, IDD_TEST_VISIBLE);
  dlg.SetKeepHidden(true);
  BOOL visibleAfterRelease = FALSE;
  dlg.onInit = [&](ModalDlg& d) {
    d.SetKeepHidden(false);
    d.ShowWindow(SW_SHOWNORMAL);
    visibleAfterRelease = d.IsWindowVisible();
    PostMessageW(d.m_hWnd, testdlg::WM_APP_FINISH, 0, 0);
  };
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_TRUE(visibleAfterRelease);
}

}  // namespace
