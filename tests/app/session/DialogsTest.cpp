// The about box (size and logo at the run's scale, the link's target) and
// the error dialog: its pages by kind, the "do not show again" bit and its
// picture, every way to close, hiding the owner, the call without an owner,
// and the Bonjour restart with its exit code, its failure and its bound.
#include <cstdlib>
#include <functional>

#include "SessionTest.h"
#include "app/AppMessages.h"
#include "app/dialogs/DlgError.h"
#include "app/dialogs/SimpleAbout.h"
#include "app/resources/resource.h"
#include "foundation/log/Logger.h"
#include "foundation/settings/FrameUtility.h"
#include "support/TempDir.h"

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

// Every way out of the dialog takes the same path: "Do not show this
// again" (checked from the keyboard here) is kept and the hidden owner
// comes back. The box is focused as Tab would focus it.
TEST(ErrorDialog, EveryWayOutKeepsTheBoxAndShowsTheHiddenOwnerAgain) {
  struct Case {
    const char* way;
    WORD key;      // or 0: a click on `button`
    UINT button;
  } const cases[] = {{"Escape", VK_ESCAPE, 0}, {"Enter", VK_RETURN, 0}, {"Close", 0, 1054}, {"cross", 0, 1055}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.way);
    CFrameUtility::SetShowBonjourWarning(0b100);
    Recorder owner;
    owner.ShowWindow(SW_SHOWNA);
    ErrorBox box(L"x", 0, &owner, true);
    bool ownerHidden = false, checkedBySpace = false;
    box.script = [&](ErrorBox& b) {
      ownerHidden = !owner.IsWindowVisible();
      SetForegroundWindow(b.m_hWnd);
      b.SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(b.dontShowBox.m_hWnd), TRUE);
      Pump(50);
      Key(VK_SPACE);
      checkedBySpace = PumpUntil([&] { return b.dontShowBox.checked; }, 2000);
      if (c.key) {
        Key(c.key);
      } else {
        const POINT p = CentreOf(GetDlgItem(b.m_hWnd, c.button));
        Click(p.x, p.y);
      }
      // Still open after the key: ended by the test, which then fails.
      if (!PumpUntil([&] { return !b.IsWindowVisible() || !b.IsInModalLoop(); }, 2000)) b.EndDialog(-5);
    };
    EXPECT_EQ(box.DoModal(), IDCANCEL);
    EXPECT_TRUE(ownerHidden);
    EXPECT_TRUE(checkedBySpace);
    EXPECT_EQ(CFrameUtility::GetShowBonjourWarning(), 0b101);
    EXPECT_TRUE(owner.IsWindowVisible()) << "the owner stays hidden";
  }
}

// The layered box follows its control's state, whoever changes it: the
// Space bar toggles the picture (under the compositor the screen shows it).
TEST(ErrorDialog, SpaceOnTheBoxChangesItsPicture) {
  ErrorBox box(L"x", 0, nullptr, false);
  int slots[3] = {-1, -1, -1};
  bool checked[3] = {};
  COLORREF pixels[3] = {};
  int renders[3] = {};
  box.script = [&](ErrorBox& b) {
    SetForegroundWindow(b.m_hWnd);
    b.SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(b.dontShowBox.m_hWnd), TRUE);
    Pump(100);
    RECT r{};
    GetWindowRect(b.dontShowBox.m_hWnd, &r);
    const int x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
    for (int i = 0; i < 3; ++i) {
      if (i > 0) {
        Key(VK_SPACE);
        Pump(150);
      }
      slots[i] = b.dontShowBox.currentSlot();
      checked[i] = b.dontShowBox.checked;
      renders[i] = b.renderCount();
      pixels[i] = uidrive::ScreenPixel(x, y);
    }
    b.PostMessage(WM_CLOSE);
  };
  box.DoModal();
  ASSERT_TRUE(box.scriptRan);
  EXPECT_EQ(slots[0], CTRSButton::kNormal);
  EXPECT_FALSE(checked[0]);
  EXPECT_EQ(slots[1], CTRSButton::kChecked);
  EXPECT_TRUE(checked[1]);
  EXPECT_GT(renders[1], renders[0]) << "the dialog's picture was not made again";
  EXPECT_EQ(slots[2], CTRSButton::kNormal);
  EXPECT_FALSE(checked[2]);
  if (std::getenv("TESS_COMPOSITOR")) {
    EXPECT_NE(pixels[1], pixels[0]) << "the screen still shows the clear box";
    EXPECT_EQ(pixels[2], pixels[0]);
  }
}

// The log of this binary, started on first use (the program's start-up
// starts it; these tests run without).
std::string LogText() {
  static TempDir dir;
  static const std::wstring path = dir.file(L"session-test.log");
  if (!ZtLogger::Instance().Started()) ZtLogger::Instance().Init(const_cast<wchar_t*>(path.c_str()));
  std::string text;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (f == INVALID_HANDLE_VALUE) return text;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(f, buf, sizeof(buf), &got, nullptr) && got > 0) text.append(buf, got);
  CloseHandle(f);
  return text;
}

// Closes (and counts) any dialog that shows while a call runs.
int g_dialogsShown = 0;
BOOL CALLBACK CloseShownDialog(HWND h, LPARAM) {
  wchar_t cls[32] = {};
  GetClassNameW(h, cls, 32);
  if (wcscmp(cls, L"#32770") == 0 && IsWindowVisible(h)) {
    ++g_dialogsShown;
    PostMessageW(h, WM_CLOSE, 0, 0);
  }
  return TRUE;
}
void CALLBACK WatchForDialogs(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), CloseShownDialog, 0);
}

TEST(ErrorDialog, ShowErrorDialogWithoutAnOwnerWindowLogsItAndShowsNothing) {
  cl::CWnd windowless;  // an owner object that has no window
  for (cl::CWnd* owner : {static_cast<cl::CWnd*>(nullptr), &windowless}) {
    SCOPED_TRACE(owner ? "owner without a window" : "no owner");
    const size_t before = LogText().size();
    g_dialogsShown = 0;
    const UINT_PTR watch = SetTimer(nullptr, 0, 100, WatchForDialogs);
    const DWORD t0 = GetTickCount();
    ShowErrorDialog(L"x", 3, owner, false);
    const DWORD took = GetTickCount() - t0;
    KillTimer(nullptr, watch);
    EXPECT_EQ(g_dialogsShown, 0);
    EXPECT_LT(took, testwait::Ms(1000)) << "it ran a modal loop";
    const std::string logged = LogText().substr(before);
    EXPECT_NE(logged.find("Invalid parent window!"), std::string::npos) << logged;
  }
}

// What the input box that the main window opened showed, read while its
// own loop runs; then it is cancelled.
struct SeenBox {
  bool seen = false;
  bool masked = false;
  std::wstring caption, prompt;
} g_box;
BOOL CALLBACK ReadAndCancelInputBox(HWND h, LPARAM) {
  wchar_t caption[128] = {};
  GetWindowTextW(h, caption, 128);
  HWND edit = GetDlgItem(h, IDC_INPUT_EDIT);
  if (!IsWindowVisible(h) || !edit) return TRUE;
  g_box.seen = true;
  g_box.caption = caption;
  g_box.masked = (GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD) && SendMessageW(edit, EM_GETPASSWORDCHAR, 0, 0);
  PostMessageW(h, WM_COMMAND, IDCANCEL, 0);
  return FALSE;
}
void CALLBACK WatchForInputBox(HWND, UINT, UINT_PTR, DWORD) {
  if (!g_box.seen) EnumThreadWindows(GetCurrentThreadId(), ReadAndCancelInputBox, 0);
}

TEST(PasswordPrompt, TheReceiversPasswordIsMaskedAsItIsTyped) {
  TestMainWindow main;
  ASSERT_TRUE(main.Open());
  g_box = SeenBox{};
  const UINT_PTR watch = SetTimer(nullptr, 0, 100, WatchForInputBox);
  main.PostMessage(WM_MIRROR_PASSWORD, 0, 1);
  EXPECT_TRUE(PumpUntil([] { return g_box.seen; }, 10000));
  Pump(200);  // the box's loop ends
  KillTimer(nullptr, watch);
  EXPECT_EQ(g_box.caption, L"Tessarine Password");
  EXPECT_TRUE(g_box.masked) << "the password shows in clear text";
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
