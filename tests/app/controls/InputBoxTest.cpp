// The input box: OK hands back what was typed, Cancel keeps the old text,
// typing at once replaces the old text (a password masked), a
// long prompt makes it taller (and nothing covers it), and on a
// monitor at 150 % it opens 1.5 times as large (Dpi*: run in a prefix set to
// LogPixels 144).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "KitTest.h"
#include "app/dialogs/DlgInputBox.h"
#include "app/resources/resource.h"

namespace {

constexpr UINT WM_APP_STEP = WM_APP + 31;

// Runs the step once the dialog is made, `shown` once the modal loop has
// shown it, and gives up after 20 s.
class TestInputBox : public CDlgInputBox {
 public:
  using CDlgInputBox::CDlgInputBox;
  std::function<void(TestInputBox&)> step;
  std::function<void(TestInputBox&)> shown;
  BOOL OnInitDialog() override {
    BOOL r = CDlgInputBox::OnInitDialog();
    SetTimer(1, testwait::Ms(20000));
    SetTimer(2, 30);
    PostMessage(WM_APP_STEP);
    return r;
  }
  LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
    if (m == WM_APP_STEP && step) step(*this);
    if (m == WM_TIMER && w == 1) EndDialog(-2);
    if (m == WM_TIMER && w == 2 && IsWindowVisible()) {
      KillTimer(2);
      if (shown) shown(*this);
    }
    return CDlgInputBox::WindowProc(m, w, l);
  }
  std::wstring EditText() const {
    wchar_t t[256] = {};
    GetWindowTextW(edit.m_hWnd, t, 256);
    return t;
  }
  RECT ClientRectOf(HWND c) const {
    RECT r{};
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
};

TEST(InputBox, OkReturnsTheTextCancelKeepsTheOld) {
  struct Case {
    int button;
    INT_PTR result;
    const wchar_t* after;
  } cases[] = {{IDOK, IDOK, L"typed text"}, {IDCANCEL, IDCANCEL, L"old text"}};
  for (const Case& c : cases) {
    TestInputBox box(L"Tessarine Password", L"Please enter the password");
    box.result = L"old text";
    std::wstring shown, caption, ok, cancel;
    box.step = [&](TestInputBox& b) {
      shown = b.EditText();
      wchar_t t[128];
      GetWindowTextW(b.m_hWnd, t, 128);
      caption = t;
      GetWindowTextW(b.okButton.m_hWnd, t, 128);
      ok = t;
      GetWindowTextW(b.cancelButton.m_hWnd, t, 128);
      cancel = t;
      SetWindowTextW(b.edit.m_hWnd, L"typed text");
      PostMessageW(GetDlgItem(b.m_hWnd, c.button), BM_CLICK, 0, 0);
    };
    EXPECT_EQ(box.DoModal(), c.result);
    EXPECT_EQ(shown, L"old text") << "the edit starts with the old result";
    EXPECT_EQ(caption, L"Tessarine Password");
    EXPECT_EQ(ok, L"OK");
    EXPECT_EQ(cancel, L"Cancel");
    EXPECT_EQ(box.result, c.after);
  }
}

// A person types at once: the box opens with the focus in the field and its
// text selected, so the keys replace the old text and Enter confirms what
// was typed. A password box masks the field; the other one shows the text.
TEST(InputBox, TypingAtOnceReplacesTheOldTextAndOnlyAPasswordIsMasked) {
  for (bool password : {false, true}) {
    SCOPED_TRACE(password ? "password" : "address");
    TestInputBox box(L"Enter a Connection ID / IP Address", L"Enter the ID or the address.");
    box.result = L"10.0.0.1";
    box.password = password;
    HWND focus = nullptr, edit = nullptr, ok = nullptr;
    DWORD selStart = 1, selEnd = 0;
    bool masked = !password;
    box.shown = [&](TestInputBox& b) {
      SetForegroundWindow(b.m_hWnd);
      kittest::Pump(100);
      focus = GetFocus();
      edit = b.edit.m_hWnd;
      ok = b.okButton.m_hWnd;
      SendMessageW(b.edit.m_hWnd, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart), reinterpret_cast<LPARAM>(&selEnd));
      masked = (GetWindowLongW(b.edit.m_hWnd, GWL_STYLE) & ES_PASSWORD) &&
               SendMessageW(b.edit.m_hWnd, EM_GETPASSWORDCHAR, 0, 0) != 0;
      for (WORD vk : {WORD('4'), WORD('2'), WORD(VK_RETURN)}) {
        kittest::Key(vk, true);
        kittest::Key(vk, false);
      }
    };
    EXPECT_EQ(box.DoModal(), IDOK);
    EXPECT_EQ(focus, edit) << "the focus is elsewhere (OK is " << ok << ")";
    EXPECT_EQ(selStart, 0u);
    EXPECT_EQ(selEnd, 8u) << "the old text is not selected";
    EXPECT_EQ(box.result, L"42");
    EXPECT_EQ(masked, password);
  }
}

struct Layout {
  RECT client{}, prompt{}, ok{}, cancel{}, edit{};
  int needed = 0;
};

Layout LayoutFor(const std::wstring& prompt) {
  TestInputBox box(L"Title", prompt);
  Layout out;
  box.step = [&](TestInputBox& b) {
    GetClientRect(b.m_hWnd, &out.client);
    out.prompt = b.ClientRectOf(b.prompt.m_hWnd);
    out.ok = b.ClientRectOf(b.okButton.m_hWnd);
    out.cancel = b.ClientRectOf(b.cancelButton.m_hWnd);
    out.edit = b.ClientRectOf(b.edit.m_hWnd);
    out.needed = b.prompt.MeasureTextHeight();
    b.EndDialog(IDCANCEL);
  };
  box.DoModal();
  return out;
}

const wchar_t kShort[] = L"Enter the ID.";
const wchar_t kLong[] =
    L"Enter the ID displayed on your Tessarine device screen to start mirroring. The ID is printed "
    L"in large digits below the picture, and it changes every time the receiver starts again.";

TEST(InputBox, ShortPromptKeepsTheTemplateSizeLongPromptGrows) {
  Layout small = LayoutFor(kShort), big = LayoutFor(kLong);
  EXPECT_EQ(small.client.right, 465);
  EXPECT_EQ(small.client.bottom, 158);
  EXPECT_EQ(small.prompt.bottom - small.prompt.top, 41) << "25 units";

  ASSERT_GT(big.needed, 41) << "the long prompt needs more than the static's height";
  EXPECT_EQ(big.prompt.bottom - big.prompt.top, big.needed + 5);
  EXPECT_EQ(big.client.bottom - small.client.bottom, big.needed + 5 - 41);
  EXPECT_EQ(big.client.right, small.client.right);
  // The edit, OK and Cancel move down by as much, so the edit never covers
  // the prompt's last lines.
  const int grow = big.client.bottom - small.client.bottom;
  EXPECT_EQ(big.edit.top, small.edit.top + grow);
  EXPECT_EQ(big.ok.top, small.ok.top + grow);
  EXPECT_EQ(big.cancel.top, small.cancel.top + grow);
  EXPECT_LE(big.prompt.bottom, big.edit.top) << "the prompt ends above the edit";
  EXPECT_EQ(big.client.bottom - big.ok.bottom, small.client.bottom - small.ok.bottom);
}

TEST(Dpi, InputBoxOpensHalfAgainAsLargeAt150Percent) {
  if (!getenv("TESS_LOGPIXELS")) GTEST_SKIP() << "needs a prefix at LogPixels 144 (test_app_controls_dpi)";
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  ASSERT_EQ(dpi, 144);
  Layout l = LayoutFor(kShort);
  printf("input box at LogPixels 144: client %ld x %ld, OK at %ld,%ld\n", l.client.right, l.client.bottom,
         l.ok.left, l.ok.top);
  // 465 x 158 at 100 %; the font's own rounding allows a few pixels.
  EXPECT_NEAR(l.client.right, 465 * 1.5, 465 * 1.5 * 0.04) << "width";
  EXPECT_NEAR(l.client.bottom, 158 * 1.5, 158 * 1.5 * 0.04) << "height";
  EXPECT_NEAR(l.ok.left, 140 * 1.5, 140 * 1.5 * 0.04) << "OK's place";
}

}  // namespace
