// The first-run wizard: its licence text, its answers driven with real
// clicks and keys, the order of the page messages, the wheel, and dragging
// by the title band.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DialogsTest.h"
#include "app/dialogs/DlgOOBE.h"
#include "app/resources/resource.h"
#include "support/PictureMark.h"

using namespace dlgtest;

namespace {

TEST(LicenceText, AByteOrderMarkIsDroppedAndAnythingElseKept) {
  struct Case {
    std::vector<unsigned char> bytes;
    std::wstring text;
  } const cases[] = {
      {{0xFF, 0xFE, 'A', 0, 'B', 0}, L"AB"},  // 0xFEFF, as UTF-16LE files start
      {{0xFE, 0xFF, 'A', 0}, L"A"},           // 0xFFFE, a swapped mark
      {{'A', 0, 'B', 0}, L"AB"},              // no mark: the first character stays
      {{'A', 0, 'B'}, L"A"},                  // an odd last byte is no character
      {{0xFF, 0xFE}, L""},
      {{}, L""},
      {{0x41, 0x04, 0xFF, 0xFE}, std::wstring{0x0441, 0xFEFF}},  // only a leading mark goes
  };
  for (const Case& c : cases)
    EXPECT_EQ(EulaTextFromBytes(c.bytes.data(), c.bytes.size()), c.text) << c.bytes.size() << " bytes";
}

TEST(LicenceText, TheShippedTextSaysItIsAPlaceholderAndWhatIsSent) {
  const std::wstring text = LoadEulaText();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.rfind(L"TESSARINE", 0), 0u) << "a stray character before the text";
  EXPECT_EQ(text.find(wchar_t(0xFEFF)), std::wstring::npos);
  for (const wchar_t* needed : {L"placeholder", L"without warranty", L"host name", L"machine identifier",
                                L"MAC address", L"Windows version", L"connection ID", L"sound",
                                L"no crash reports", L"If you decline"})
    EXPECT_NE(text.find(needed), std::wstring::npos) << "missing: " << needed;
}

TEST(LicenceText, TheWheelMovesOneLinePer25UnitsTowardZero) {
  const int cases[][2] = {{120, 4}, {-120, -4}, {24, 0}, {-24, 0}, {25, 1}, {-49, -1}, {240, 9}};
  for (const auto& c : cases) EXPECT_EQ(EulaWheelLines(c[0]), c[1]) << c[0];
}

// A wizard that records the page messages it receives, in order.
class RecordingWizard : public CDlgOOBE {
 public:
  std::vector<UINT> seen;
  LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
    if (m == WM_WIZARD_NEXT || m == WM_WIZARD_FINISH || m == WM_WIZARD_NO_CONSENT) seen.push_back(m);
    return CDlgOOBE::WindowProc(m, w, l);
  }
};

class Wizard : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(wizard.Create(nullptr));
    wizard.ShowWindow(SW_SHOW);
    SetForegroundWindow(wizard.m_hWnd);
    Pump(300);
    ASSERT_EQ(wizard.pages.size(), 2u);
  }
  void TearDown() override { wizard.DestroyWindow(); }

  bool Closed() { return PumpUntil([&] { return !wizard.IsWindowVisible(); }, 3000); }
  void ClickOn(HWND control) {
    const POINT p = CentreOf(control);
    Click(p.x, p.y);
  }
  void GoToLicence() {
    ClickOn(wizard.welcome->next.m_hWnd);
    ASSERT_TRUE(PumpUntil([&] { return wizard.eula->IsWindowVisible(); }));
  }

  RecordingWizard wizard;
};

TEST_F(Wizard, FramePagesAndButtonsSitWhereThePictureExpectsThem) {
  RECT client{};
  GetClientRect(wizard.m_hWnd, &client);
  EXPECT_EQ(client.right, 646);  // PNG 135 plus one pixel
  EXPECT_EQ(client.bottom, 515);
  wchar_t caption[64] = {};
  GetWindowTextW(wizard.m_hWnd, caption, 64);
  EXPECT_STREQ(caption, L"Tessarine");
  EXPECT_FALSE(wizard.closeCross.IsWindowVisible());
  for (CWizardPage* page : wizard.pages) {
    RECT r{};
    GetWindowRect(page->m_hWnd, &r);
    MapWindowPoints(nullptr, wizard.m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 1);
    EXPECT_EQ(r.top, 40);
    EXPECT_EQ(r.right - r.left, 644);
    EXPECT_EQ(r.bottom - r.top, 471);
  }
  struct {
    HWND button;
    int x, y;
  } const buttons[] = {{wizard.welcome->next.m_hWnd, 315, 422},
                       {wizard.welcome->cancel.m_hWnd, 485, 422},
                       {wizard.eula->accept.m_hWnd, 315, 422},
                       {wizard.eula->decline.m_hWnd, 485, 422}};
  for (const auto& b : buttons) {
    RECT r{};
    GetWindowRect(b.button, &r);
    MapWindowPoints(nullptr, GetParent(b.button), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, b.x);
    EXPECT_EQ(r.top, b.y);
    EXPECT_EQ(r.right - r.left, 150);
    EXPECT_EQ(r.bottom - r.top, 40);
  }
  EXPECT_TRUE(wizard.welcome->IsWindowVisible());
  EXPECT_FALSE(wizard.eula->IsWindowVisible());
  EXPECT_TRUE(wizard.eula->consent.checked);
  Shot("wizard-welcome");
  EXPECT_EQ(wizard.welcome->next.caption, L"Next");
  EXPECT_EQ(wizard.eula->accept.caption, L"Accept");
}

TEST_F(Wizard, NextThenAcceptWithTheBoxCheckedCompletesIt) {
  GoToLicence();
  EXPECT_FALSE(wizard.welcome->IsWindowVisible());
  EXPECT_FALSE(wizard.done);
  ClickOn(wizard.eula->accept.m_hWnd);
  ASSERT_TRUE(Closed());
  EXPECT_TRUE(wizard.done);
  EXPECT_TRUE(wizard.consent);
  EXPECT_EQ(wizard.seen, (std::vector<UINT>{WM_WIZARD_NEXT, WM_WIZARD_NEXT}));
}

TEST_F(Wizard, AcceptWithTheBoxClearSaysSoBeforeNext) {
  GoToLicence();
  ClickOn(wizard.eula->consent.m_hWnd);
  ASSERT_FALSE(wizard.eula->consent.checked);
  ClickOn(wizard.eula->accept.m_hWnd);
  ASSERT_TRUE(Closed());
  EXPECT_TRUE(wizard.done);
  EXPECT_FALSE(wizard.consent);
  EXPECT_EQ(wizard.seen, (std::vector<UINT>{WM_WIZARD_NEXT, WM_WIZARD_NO_CONSENT, WM_WIZARD_NEXT}));
}

TEST_F(Wizard, EnterAndEscapeOnAPageAreNoAnswer) {
  SetFocus(wizard.welcome->next.m_hWnd);
  Key(VK_RETURN);
  Key(VK_ESCAPE);
  Pump(200);
  EXPECT_TRUE(wizard.IsWindowVisible());
  EXPECT_TRUE(wizard.welcome->IsWindowVisible());
  EXPECT_TRUE(wizard.seen.empty());
}

class WizardAborts : public Wizard, public ::testing::WithParamInterface<int> {};

TEST_P(WizardAborts, EndsWithDoneClear) {
  switch (GetParam()) {
    case 0:  // Cancel on the welcome page
      ClickOn(wizard.welcome->cancel.m_hWnd);
      break;
    case 1:  // Decline on the licence page
      GoToLicence();
      ClickOn(wizard.eula->decline.m_hWnd);
      break;
    case 2:  // the window closed (Alt+F4, the hidden cross)
      wizard.PostMessage(WM_CLOSE);
      break;
    case 3:  // the close cross's command
      wizard.PostMessage(WM_COMMAND, IDC_WIZARD_CLOSE);
      break;
  }
  ASSERT_TRUE(Closed());
  EXPECT_FALSE(wizard.done);
}

INSTANTIATE_TEST_SUITE_P(CancelDeclineClose, WizardAborts, ::testing::Values(0, 1, 2, 3));

TEST_F(Wizard, TheWheelScrollsTheLicenceFourLinesANotchAndASmallTurnNone) {
  GoToLicence();
  CPageEula& page = *wizard.eula;
  const int range = static_cast<int>(page.scroll.SendMessage(TBM_GETRANGEMAX));
  ASSERT_GE(range, 8) << page.text.lineCount << " lines, " << page.text.visibleLineCount << " visible";
  EXPECT_EQ(range, page.text.lineCount - page.text.visibleLineCount);
  Shot("wizard-licence");
  RECT thumbAtStart{};
  page.scroll.SendMessage(TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumbAtStart));
  {
    // The thumb is painted at its full length from the first picture on:
    // its lower half differs from the channel further down.
    RECT sr{};
    GetWindowRect(page.scroll.m_hWnd, &sr);
    const int x = (sr.left + sr.right) / 2;
    const int lowerHalf = sr.top + thumbAtStart.top + (thumbAtStart.bottom - thumbAtStart.top) * 3 / 4;
    EXPECT_FALSE(Near(ScreenPixel(x, lowerHalf), ScreenPixel(x, sr.bottom - 5), 8))
        << "thumb " << thumbAtStart.top << ".." << thumbAtStart.bottom;
  }
  const POINT over = CentreOf(page.text.m_hWnd);
  MouseMove(over.x, over.y);
  SetFocus(page.m_hWnd);

  Wheel(-120);
  ASSERT_TRUE(PumpUntil([&] { return page.text.firstVisibleLine == 4; }, 2000)) << page.text.firstVisibleLine;
  EXPECT_EQ(page.scroll.SendMessage(TBM_GETPOS), 4);
  Shot("wizard-licence-scrolled-4");
  Wheel(-24);
  Pump(200);
  EXPECT_EQ(page.text.firstVisibleLine, 4);
  Wheel(120);
  ASSERT_TRUE(PumpUntil([&] { return page.text.firstVisibleLine == 0; }, 2000));
  // Past the end the slider holds at its range.
  for (int i = 0; i < range / 4 + 3; ++i) Wheel(-120);
  ASSERT_TRUE(PumpUntil([&] { return page.text.firstVisibleLine == range; }, 2000)) << page.text.firstVisibleLine;
}

// The control's picture as the screen shows it, row by row.
std::vector<COLORREF> ScreenPicture(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  std::vector<COLORREF> out;
  HDC screen = GetDC(nullptr);
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) out.push_back(GetPixel(screen, x, y));
  ReleaseDC(nullptr, screen);
  return out;
}

// What a paint of the whole control shows (against what the trackbar's own
// partial invalidations left on the screen).
std::vector<COLORREF> RepaintedPicture(HWND w) {
  InvalidateRect(w, nullptr, TRUE);
  UpdateWindow(w);
  Pump(100);
  return ScreenPicture(w);
}

// "" when the two pictures of one control agree, else where they first differ.
std::string Differs(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b, HWND w) {
  if (a == b) return "";
  RECT r{};
  GetWindowRect(w, &r);
  const size_t width = static_cast<size_t>(r.right - r.left);
  for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    if (a[i] != b[i])
      return "first difference at row " + std::to_string(i / width) + ", column " + std::to_string(i % width);
  return "sizes differ";
}

bool IsInk(COLORREF c) { return GetRValue(c) < 0xB0 && GetGValue(c) < 0xB0 && GetBValue(c) < 0xB0; }

// Scrolled to the end, the licence's last line shows whole (its ink ends
// above the text's bottom edge); the thumb moves without leaving a copy
// behind, and back at the top it sits where it started.
TEST_F(Wizard, AtTheEndTheLastLineIsWholeAndTheThumbLeavesNoTrace) {
  GoToLicence();
  CPageEula& page = *wizard.eula;
  const int range = static_cast<int>(page.scroll.SendMessage(TBM_GETRANGEMAX));
  ASSERT_GT(range, 0);
  Pump(200);
  RECT thumbAtStart{};
  page.scroll.SendMessage(TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumbAtStart));
  const std::vector<COLORREF> barAtStart = ScreenPicture(page.scroll.m_hWnd);
  const HWND bar = page.scroll.m_hWnd;
  EXPECT_EQ(Differs(barAtStart, RepaintedPicture(bar), bar), "") << "the bar's first picture";

  const POINT over = CentreOf(page.text.m_hWnd);
  MouseMove(over.x, over.y);
  SetFocus(page.m_hWnd);
  for (int i = 0; i < range / 4 + 2 && page.text.firstVisibleLine < range; ++i) {
    Wheel(-120);
    Pump(60);
  }
  ASSERT_TRUE(PumpUntil([&] { return page.text.firstVisibleLine == range; }, 2000)) << page.text.firstVisibleLine;
  Pump(200);
  Shot("wizard-licence-end");
  const std::vector<COLORREF> barAtEnd = ScreenPicture(page.scroll.m_hWnd);
  EXPECT_EQ(Differs(barAtEnd, RepaintedPicture(bar), bar), "") << "a stale thumb stays on the bar";
  EXPECT_NE(Differs(barAtEnd, barAtStart, bar), "") << "the thumb did not move on the screen";

  // The text's lowest rows: ink in the last line's band, none in the last row.
  RECT tr{};
  GetWindowRect(page.text.m_hWnd, &tr);
  const int width = tr.right - tr.left, height = tr.bottom - tr.top;
  const std::vector<COLORREF> text = ScreenPicture(page.text.m_hWnd);
  int lowestInk = -1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (IsInk(text[y * width + x])) lowestInk = y;
  ASSERT_GE(lowestInk, 0) << "no text at the end";
  EXPECT_LT(lowestInk, height - 1) << "the last line runs into the bottom edge";

  for (int i = 0; i < range / 4 + 2 && page.text.firstVisibleLine > 0; ++i) {
    Wheel(120);
    Pump(60);
  }
  ASSERT_TRUE(PumpUntil([&] { return page.text.firstVisibleLine == 0; }, 2000));
  Pump(200);
  RECT thumbBack{};
  page.scroll.SendMessage(TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumbBack));
  EXPECT_EQ(thumbBack.top, thumbAtStart.top) << "back at the top the thumb sits lower";
  EXPECT_EQ(thumbBack.bottom, thumbAtStart.bottom);
  const std::vector<COLORREF> barBack = ScreenPicture(page.scroll.m_hWnd);
  EXPECT_EQ(Differs(barBack, RepaintedPicture(bar), bar), "") << "a stale thumb stays on the bar";
  EXPECT_EQ(Differs(barBack, barAtStart, bar), "") << "the bar looks different at the top than when it opened";
}

// The picture's number (placeholder art) shows whole on both pages: no
// page control covers it.
TEST_F(Wizard, NoControlCoversThePicturesNumber) {
  std::unique_ptr<Gdiplus::Bitmap> picture;
  ASSERT_TRUE(LoadPngBitmap(IDP_WIZARD_BACKGROUND, &picture));
  POINT origin{0, 0};
  ClientToScreen(wizard.m_hWnd, &origin);
  for (int page = 0; page < 2; ++page) {
    SCOPED_TRACE(page == 0 ? "welcome" : "licence");
    if (page == 1) GoToLicence();
    Pump(200);
    int marked = 0;
    const std::vector<POINT> covered = picturemark::CoveredPixels(*picture, origin, &marked);
    ASSERT_GT(marked, 0) << "the picture has no number";
    EXPECT_TRUE(covered.empty()) << covered.size() << " of " << marked << " points covered, the first at ("
                                 << covered[0].x << ", " << covered[0].y << ")";
  }
}

TEST_F(Wizard, DraggingTheTitleBandMovesItAndAPressBelowDoesNot) {
  // Windows' move loop runs inside the press: the input comes from a thread
  // of its own while this one pumps.
  auto dragFromThread = [&](POINT from, POINT to) {
    std::atomic<bool> finished{false};
    std::thread input([&] {
      auto send = [](DWORD flags, int x, int y) {
        INPUT in{};
        in.type = INPUT_MOUSE;
        in.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
        in.mi.dx = MulDiv(x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
        in.mi.dy = MulDiv(y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
        SendInput(1, &in, sizeof(in));
        Sleep(testwait::Ms(80));  // the move loop has taken the event
      };
      send(0, from.x, from.y);
      send(MOUSEEVENTF_LEFTDOWN, from.x, from.y);
      for (int i = 1; i <= 5; ++i)
        send(0, from.x + (to.x - from.x) * i / 5, from.y + (to.y - from.y) * i / 5);
      send(MOUSEEVENTF_LEFTUP, to.x, to.y);
      finished = true;
    });
    PumpUntil([&] { return finished.load(); }, 10000);
    input.join();
    Pump(300);
  };
  RECT before{};
  GetWindowRect(wizard.m_hWnd, &before);
  dragFromThread({before.left + 200, before.top + 20}, {before.left + 260, before.top + 50});
  RECT after{};
  GetWindowRect(wizard.m_hWnd, &after);
  EXPECT_NEAR(after.left - before.left, 60, 2);
  EXPECT_NEAR(after.top - before.top, 30, 2);

  dragFromThread({after.left + 200, after.top + 120}, {after.left + 260, after.top + 150});
  RECT still{};
  GetWindowRect(wizard.m_hWnd, &still);
  EXPECT_EQ(still.left, after.left);
  EXPECT_EQ(still.top, after.top);
}

}  // namespace
