// The about box (size and logo at the run's scale, the link's target) and
// the error dialog: its pages by kind, the "do not show again" bit, both
// ways to close, hiding the owner, and the Bonjour restart with its exit
// code, its failure and its bound.
#include <cstdlib>
#include <functional>

#include "SessionTest.h"
#include "app/dialogs/DlgError.h"
#include "app/dialogs/SimpleAbout.h"
#include "foundation/settings/FrameUtility.h"

namespace {

using namespace sessiontest;

constexpr UINT_PTR kOpenedTimer = 0x7E57;

// A dialog that, once it shows, runs the test's script on the UI thread.
template <class Base>
class Scripted : public Base {
 public:
  template <class... A>
  explicit Scripted(A&&... a) : Base(std::forward<A>(a)...) {}
  std::function<void(Scripted&)> script;
  bool scriptRan = false;
  bool closeSeen = false;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_INITDIALOG) {
      LRESULT r = Base::WindowProc(message, wParam, lParam);
      this->SetTimer(kOpenedTimer, 30);
      return r;
    }
    if (message == WM_CLOSE) closeSeen = true;
    if (message == WM_TIMER && wParam == kOpenedTimer) {
      // The modal loop shows the dialog once its queue is empty.
      if (!this->IsWindowVisible()) return 0;
      this->KillTimer(kOpenedTimer);
      scriptRan = true;
      if (script) script(*this);
      return 0;
    }
    return Base::WindowProc(message, wParam, lParam);
  }
};

RECT ClientRectOf(HWND child, HWND parent) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

TEST(ScaledAbout, SizedToTheScaleWithTheLogoAndALinkToTheAcknowledgements) {
  const float s = RunScale();
  Scripted<CSimpleAbout> box;
  RECT window{}, logo{};
  std::wstring version, target, linkText;
  box.script = [&](Scripted<CSimpleAbout>& b) {
    GetWindowRect(b.m_hWnd, &window);
    logo = ClientRectOf(b.logo.m_hWnd, b.m_hWnd);
    version = b.versionLabel.GetDisplayText();
    for (const TextRun& run : b.linkLabel.runs().runs) {
      if (run.link) {
        target = run.target;
        linkText = run.text;
      }
    }
    b.EndDialog(IDCANCEL);
  };
  box.DoModal();
  ASSERT_TRUE(box.scriptRan);
  EXPECT_EQ(window.right - window.left, static_cast<int>(300 * s));
  EXPECT_EQ(window.bottom - window.top, static_cast<int>(150 * s));
  EXPECT_EQ(logo.left, static_cast<int>(10 * s));
  EXPECT_EQ(logo.top, static_cast<int>(10 * s));
  EXPECT_EQ(logo.right - logo.left, static_cast<int>(64 * s));
  EXPECT_EQ(logo.bottom - logo.top, static_cast<int>(64 * s));
  EXPECT_EQ(version, L"Version : 1.0.1.10");
  EXPECT_EQ(linkText, L"Acknowledgements");
  // Beside this program, whatever the current folder.
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring folder = exe;
  folder.erase(folder.find_last_of(L'\\') + 1);
  EXPECT_EQ(target, folder + L"Acknowledgements.htm");
}

TEST(Dpi125About, Is375By187WithThe80PixelLogoAt12And12) {
  if (RunScale() != 1.25f) GTEST_SKIP() << "runs at 125 %";
  Scripted<CSimpleAbout> box;
  RECT window{}, logo{};
  box.script = [&](Scripted<CSimpleAbout>& b) {
    GetWindowRect(b.m_hWnd, &window);
    logo = ClientRectOf(b.logo.m_hWnd, b.m_hWnd);
    b.EndDialog(IDCANCEL);
  };
  box.DoModal();
  EXPECT_EQ(window.right - window.left, 375);
  EXPECT_EQ(window.bottom - window.top, 187);
  EXPECT_EQ(logo.left, 12);
  EXPECT_EQ(logo.top, 12);
  EXPECT_EQ(logo.right - logo.left, 80);
  EXPECT_EQ(logo.bottom - logo.top, 80);
}

using ErrorBox = Scripted<CDlgError>;

TEST(ErrorDialog, EachKindShowsItsPageAndOnlyKindZeroTheBox) {
  struct Case {
    int kind;
    UINT pageTemplate;
    bool box;
  } const cases[] = {{0, 112, true}, {1, 114, false}, {2, 113, false}, {3, 115, false}, {7, 115, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    ErrorBox box(L"Something went wrong.", c.kind, nullptr, false);
    UINT pageTemplate = 0;
    bool boxShown = true, labelShown = true, pageVisible = false, pageOverDialog = false;
    std::wstring message;
    box.script = [&](ErrorBox& b) {
      pageTemplate = b.page ? b.page->GetTemplateId() : 0;
      boxShown = b.dontShowBox.visible;
      labelShown = b.dontShowLabel.visible;
      if (b.page) {
        pageVisible = b.page->IsWindowVisible() != FALSE;
        RECT d{}, pg{};
        GetWindowRect(b.m_hWnd, &d);
        GetWindowRect(b.page->m_hWnd, &pg);
        pageOverDialog = pg.left == d.left + 10 && pg.top == d.top + 40 && pg.right == d.right - 10 &&
                         pg.bottom == d.bottom - 65;
      }
      if (auto* general = dynamic_cast<CPageErrGeneral*>(b.page.get()))
        message = general->message.GetDisplayText();
      b.PostMessage(WM_CLOSE);
    };
    box.DoModal();
    ASSERT_TRUE(box.scriptRan);
    EXPECT_EQ(pageTemplate, c.pageTemplate);
    EXPECT_EQ(boxShown, c.box);
    EXPECT_EQ(labelShown, c.box);
    EXPECT_TRUE(pageVisible);
    EXPECT_TRUE(pageOverDialog);
    if (c.pageTemplate == 115) {
      EXPECT_EQ(message, L"Something went wrong.");
    }
  }
}

TEST(ErrorDialog, ThePageFollowsTheDialogWhenItMoves) {
  ErrorBox box(L"x", 3, nullptr, false);
  POINT page{0, 0};
  box.script = [&](ErrorBox& b) {
    SetWindowPos(b.m_hWnd, nullptr, 100, 50, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    RECT pg{};
    GetWindowRect(b.page->m_hWnd, &pg);
    page = {pg.left, pg.top};
    b.PostMessage(WM_CLOSE);
  };
  box.DoModal();
  EXPECT_EQ(page.x, 110);
  EXPECT_EQ(page.y, 90);
}

TEST(ErrorDialog, TheBoxSetsBitZeroOfShowBonjourWarningOnlyForKindZeroAndBothClosesEndIt) {
  struct Case {
    int kind;
    bool checked;
    UINT closeWith;  // 1055 the cross, 1054 Close
    int expected;
  } const cases[] = {
      {0, true, 1054, 0b1011}, {0, false, 1055, 0b1010}, {1, true, 1054, 0b1010}, {3, true, 1055, 0b1010},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind * 10 + c.checked);
    CFrameUtility::SetShowBonjourWarning(0b1010);
    ErrorBox box(L"x", c.kind, nullptr, false);
    box.script = [&](ErrorBox& b) {
      b.dontShowBox.checked = c.checked;  // kinds 1 to 3: checked, but hidden
      b.SendMessage(WM_COMMAND, c.closeWith);
    };
    EXPECT_EQ(box.DoModal(), IDCANCEL);
    EXPECT_EQ(CFrameUtility::GetShowBonjourWarning(), c.expected);
  }
  // A real click on the box of kind 0 checks it.
  CFrameUtility::SetShowBonjourWarning(0);
  ErrorBox box(L"x", 0, nullptr, false);
  box.script = [&](ErrorBox& b) {
    SetForegroundWindow(b.m_hWnd);
    const POINT p = CentreOf(b.dontShowBox.m_hWnd);
    Click(p.x, p.y);
    b.SendMessage(WM_COMMAND, 1055);
  };
  box.DoModal();
  EXPECT_EQ(CFrameUtility::GetShowBonjourWarning(), 1);
}

TEST(ErrorDialog, HideOwnerHidesTheOwnerWhileTheDialogIsUp) {
  Recorder owner;
  owner.ShowWindow(SW_SHOWNA);
  ErrorBox box(L"x", 3, &owner, true);
  bool ownerShownMeanwhile = true;
  box.script = [&](ErrorBox& b) {
    ownerShownMeanwhile = owner.IsWindowVisible() != FALSE;
    b.PostMessage(WM_CLOSE);
  };
  box.DoModal();
  EXPECT_FALSE(ownerShownMeanwhile);
  EXPECT_TRUE(owner.IsWindowVisible());
}

TEST(ErrorDialog, ShowErrorDialogWithoutAnOwnerShowsNothing) {
  ShowErrorDialog(L"x", 3, nullptr, false);  // would block in its modal loop otherwise
  SUCCEED();
}

struct RestartCase {
  const char* what;
  const char* exitCode;  // of the stand-in program; null: missing program
  DWORD sleepMs;
  DWORD boundMs;
  bool closes;
};

class Restart : public ::testing::TestWithParam<RestartCase> {};

TEST_P(Restart, ZeroClosesTheDialogAnythingElseShowsTheFailureText) {
  const RestartCase& c = GetParam();
  _putenv_s("TESS_TEST_RESTART_EXIT", c.exitCode ? c.exitCode : "0");
  _putenv_s("TESS_TEST_RESTART_SLEEP_MS", std::to_string(c.sleepMs).c_str());
  ErrorBox box(L"x", 1, nullptr, false);
  bool failShown = false, closedItself = false, failHiddenAtFirst = false;
  DWORD took = 0;
  box.script = [&](ErrorBox& b) {
    auto* page = dynamic_cast<CPageErrBonjourStop*>(b.page.get());
    ASSERT_NE(page, nullptr);
    failHiddenAtFirst = !page->failText.IsWindowVisible();
    if (!c.exitCode) page->programPath = L"C:\\no\\such\\Tessarine.exe";
    page->restartWaitMs = c.boundMs;
    const DWORD t0 = GetTickCount();
    page->OnRestart();  // returns: no message box of the shell's waits for anyone
    took = GetTickCount() - t0;
    failShown = page->failText.IsWindowVisible() != FALSE;
    // A success closes the dialog through its queue; give it the chance.
    closedItself = PumpUntil([&] { return b.closeSeen; }, 1000);
    if (!closedItself) b.PostMessage(WM_CLOSE);
  };
  box.DoModal();
  _putenv_s("TESS_TEST_RESTART_SLEEP_MS", "0");
  EXPECT_TRUE(failHiddenAtFirst);
  EXPECT_EQ(closedItself, c.closes);
  EXPECT_EQ(failShown, !c.closes);
  EXPECT_LT(took, c.boundMs + 5000);
}

INSTANTIATE_TEST_SUITE_P(
    ErrorDialog, Restart,
    ::testing::Values(RestartCase{"exit 0", "0", 0, 30000, true}, RestartCase{"exit 3", "3", 0, 30000, false},
                      RestartCase{"missing program", nullptr, 0, 30000, false},
                      RestartCase{"past the bound", "0", 6000, 1500, false}));

}  // namespace
