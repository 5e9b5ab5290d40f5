// The modal loop: every message of the thread passes PreTranslateMessage of
// its window and that window's parents before IsDialogMessage (also the
// messages of other windows, also inside a nested loop); Escape ends the
// dialog unless a PreTranslateMessage eats it; the owner is disabled while
// the dialog runs; WM_QUIT ends the loop and is kept for the outer one.
#include <gtest/gtest.h>
#include <windows.h>

#include "TestDialog.h"
#include "classlib/WinApp.h"

using testdlg::ModalDlg;
using testdlg::Seen;
using testdlg::WM_APP_FINISH;

namespace {

class ModelessDlg : public cl::CDialog {
 public:
  ModelessDlg() : cl::CDialog(IDD_TEST_MODELESS) {}
  BOOL PreTranslateMessage(MSG* m) override {
    testdlg::Record("modeless", m);
    return cl::CDialog::PreTranslateMessage(m);
  }
};

TEST(ModalLoop, EveryWindowOfTheThreadSeesItsMessagesFirst) {
  Seen().clear();
  ModelessDlg other;
  ASSERT_TRUE(other.Create());
  ModalDlg dlg;
  dlg.onInit = [&](ModalDlg& d) {
    PostMessageW(d.edit.m_hWnd, WM_KEYDOWN, 'A', 0);
    PostMessageW(other.GetDlgItem(IDC_TEST_EDIT), WM_KEYDOWN, 'B', 0);
    PostMessageW(d.m_hWnd, WM_APP + 5, 0, 0);
    PostMessageW(d.m_hWnd, WM_APP_FINISH, 0, 0);
  };
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_FALSE(dlg.timedOut);
  // The edit first, then its dialog (whose IsDialogMessage takes it); the
  // other dialog's edit has no object, so its dialog is first there.
  std::vector<std::string> want{"edit:keydown:65", "modal:keydown:65", "modeless:keydown:66",
                                "modal:app5", "modal:app9"};
  EXPECT_EQ(Seen(), want);
  EXPECT_EQ(dlg.m_hWnd, nullptr) << "the window goes when the loop ends";
}

TEST(ModalLoop, NestedLoopStillFeedsTheOuterDialog) {
  Seen().clear();
  ModalDlg outer("outer");
  INT_PTR innerResult = 0;
  BOOL outerEnabledDuringInner = TRUE;
  outer.onInit = [&](ModalDlg& o) {
    ModalDlg inner("inner", &o);
    inner.onInit = [&](ModalDlg& i) {
      outerEnabledDuringInner = IsWindowEnabled(o.m_hWnd);
      PostMessageW(o.edit.m_hWnd, WM_KEYDOWN, 'C', 0);
      PostMessageW(o.m_hWnd, WM_APP + 6, 0, 0);
      PostMessageW(i.m_hWnd, WM_APP_FINISH, 0, 0);
    };
    innerResult = inner.DoModal();
    PostMessageW(o.m_hWnd, WM_APP_FINISH, 0, 0);
  };
  EXPECT_EQ(outer.DoModal(), IDOK);
  EXPECT_EQ(innerResult, IDOK);
  EXPECT_FALSE(outerEnabledDuringInner);
  // The walk goes on from a dialog to its owner (GetParent), as MFC's does:
  // the inner dialog's message also reaches the outer one's PreTranslateMessage.
  std::vector<std::string> want{"edit:keydown:67", "outer:keydown:67", "outer:app6",
                                "inner:app9",      "outer:app9",       "outer:app9"};
  EXPECT_EQ(Seen(), want);
}

TEST(ModalLoop, EscapeEndsTheDialogUnlessPreTranslateEatsIt) {
  struct Case {
    bool swallow;
    INT_PTR result;
  } cases[] = {{false, IDCANCEL}, {true, IDOK}};
  for (const Case& c : cases) {
    ModalDlg dlg;
    dlg.swallowEscape = c.swallow;
    dlg.onInit = [](ModalDlg& d) {
      PostMessageW(d.m_hWnd, WM_KEYDOWN, VK_ESCAPE, 0);
      PostMessageW(d.m_hWnd, WM_APP_FINISH, 0, 0);
    };
    EXPECT_EQ(dlg.DoModal(), c.result) << "swallow " << c.swallow;
  }
}

TEST(ModalLoop, OwnerIsDisabledWhileTheDialogRuns) {
  cl::CWnd parent;
  ASSERT_TRUE(parent.CreateEx(0, nullptr, L"owner", WS_POPUP, RECT{0, 0, 50, 50}, nullptr, 0));

  struct Case {
    const char* what;
    bool viaMainWindow;  // no parent given: the application's main window owns it
  } cases[] = {{"parent", false}, {"main window", true}};
  for (const Case& c : cases) {
    cl::CWinApp app;
    if (c.viaMainWindow) app.SetMainWnd(&parent);
    ModalDlg dlg("modal", c.viaMainWindow ? nullptr : &parent);
    HWND owner = nullptr;
    BOOL ownerEnabled = TRUE;
    dlg.onInit = [&](ModalDlg& d) {
      owner = GetWindow(d.m_hWnd, GW_OWNER);
      ownerEnabled = IsWindowEnabled(parent.m_hWnd);
      PostMessageW(d.m_hWnd, WM_APP_FINISH, 0, 0);
    };
    EXPECT_EQ(dlg.DoModal(), IDOK) << c.what;
    EXPECT_EQ(owner, parent.m_hWnd) << c.what;
    EXPECT_FALSE(ownerEnabled) << c.what;
    EXPECT_TRUE(IsWindowEnabled(parent.m_hWnd)) << c.what;
  }
}

TEST(ModalLoop, QuitEndsTheLoopAndStaysQueued) {
  ModalDlg dlg;
  dlg.onInit = [](ModalDlg&) { PostQuitMessage(3); };
  EXPECT_EQ(dlg.DoModal(), -1);
  EXPECT_FALSE(dlg.timedOut);
  MSG m{};
  ASSERT_TRUE(PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(m.wParam, 3u);
}

TEST(ModalLoop, EndDialogDuringInitSkipsTheLoop) {
  ModalDlg dlg;
  BOOL visible = TRUE;
  dlg.onInit = [&](ModalDlg& d) {
    d.EndDialog(IDABORT);
    visible = d.IsWindowVisible();
  };
  EXPECT_EQ(dlg.DoModal(), IDABORT);
  EXPECT_FALSE(visible);
  EXPECT_FALSE(dlg.timedOut);
}

TEST(ModalLoop, MissingTemplateFailsWithoutALoop) {
  cl::CWnd parent;
  ASSERT_TRUE(parent.CreateEx(0, nullptr, L"owner", WS_POPUP, RECT{0, 0, 50, 50}, nullptr, 0));
  ModalDlg dlg("modal", &parent, 4242);
  EXPECT_EQ(dlg.DoModal(), -1);
  EXPECT_TRUE(IsWindowEnabled(parent.m_hWnd));
}

}  // namespace
