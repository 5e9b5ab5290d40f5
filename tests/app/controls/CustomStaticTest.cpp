// The rich-text static: where clicks and the hand cursor count, the keyboard
// walk over its links, the overflow "...", measuring more than 32
// characters, and going back to plain text.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "KitTest.h"
#include "app/controls/CustomStatic.h"
#include "app/controls/DialogBases.h"

namespace {

using kittest::Host;

class RecordingStatic : public CCustomStatic {
 public:
  std::vector<std::wstring> opened;
  void OpenLink(const std::wstring& target) override { opened.push_back(target); }
};

// A black-on-dialog static in Arial 12 pt at (10, 10) of a host.
struct StaticFixture {
  Host host;
  RecordingStatic label;
  HWND other = nullptr;  // a tab stop after the static
  std::vector<UINT> commands;

  bool Open(RECT r, DWORD extraStyle = WS_TABSTOP) {
    if (!host.Open()) return false;
    host.onCommand = [this](UINT id, UINT code) {
      if (code == 0 && id != 700) commands.push_back(id);
    };
    HWND h = host.Child(L"STATIC", L"", SS_LEFT | extraStyle, r, 700);
    other = host.Child(L"BUTTON", L"Other", BS_PUSHBUTTON | WS_TABSTOP, {10, 200, 90, 225}, 701);
    if (!label.SubclassWindow(h)) return false;
    label.SetFontFamily(L"Arial");
    label.SetFontSize(12, 12);
    label.textColour = 0xFF000000;
    return true;
  }
  POINT Screen(POINT client) const {
    ClientToScreen(label.m_hWnd, &client);
    return client;
  }
};

POINT Centre(const Gdiplus::RectF& r) {
  return {static_cast<LONG>(r.X + r.Width / 2), static_cast<LONG>(r.Y + r.Height / 2)};
}

TEST(RichText, ClicksCountOnCharactersOnlyWhileTheHandFollowsTheLines) {
  StaticFixture f;
  ASSERT_TRUE(f.Open({10, 10, 410, 70}));
  f.label.SetRuns(kit::BuildLinkText(L"Read the %s before you start.", L"licence terms", L"https://example.invalid/t",
                                     0xFF000000, false, 0));
  kittest::Pump(100);
  const TextRun& link = f.label.runs().runs[1];
  ASSERT_FALSE(link.lineRects.empty());
  ASSERT_EQ(link.hitRects.size(), link.text.size());

  // The strip the last line rectangle adds past the link's last character.
  const RECT& last = link.lineRects.back();
  const POINT strip{last.right - 2, (last.top + last.bottom) / 2};
  EXPECT_TRUE(f.label.HitTestLink(strip).empty()) << "the strip holds no character";
  const POINT onLink = Centre(link.hitRects[3]);
  EXPECT_EQ(f.label.HitTestLink(onLink), L"https://example.invalid/t");
  const POINT onPlain = Centre(f.label.runs().runs[0].hitRects[1]);
  EXPECT_TRUE(f.label.HitTestLink(onPlain).empty());

  HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
  struct Case {
    POINT at;
    bool hand;
    size_t opened;  // links opened after clicking there
  } cases[] = {{onPlain, false, 0}, {strip, true, 0}, {onLink, true, 1}};
  for (const Case& c : cases) {
    POINT s = f.Screen(c.at);
    kittest::MouseMove(s.x, s.y);
    EXPECT_TRUE(kittest::PumpUntil([&] { return (GetCursor() == hand) == c.hand; }, 2000))
        << "hand cursor at " << c.at.x << "," << c.at.y;
    kittest::MouseDown();
    kittest::MouseUp();
    EXPECT_EQ(f.label.opened.size(), c.opened) << "after a click at " << c.at.x << "," << c.at.y;
  }
  ASSERT_EQ(f.label.opened.size(), 1u);
  EXPECT_EQ(f.label.opened[0], L"https://example.invalid/t");
}

TEST(RichText, CommandRunSendsItsIdToTheParent) {
  StaticFixture f;
  ASSERT_TRUE(f.Open({10, 10, 410, 70}));
  f.label.SetRuns(kit::BuildLinkText(L"%s to start", L"Click here", L"", 0xFF000000, true, 4242));
  kittest::Pump(100);
  POINT s = f.Screen(Centre(f.label.runs().runs[1].hitRects[2]));
  kittest::Click(s.x, s.y);
  EXPECT_EQ(f.commands, std::vector<UINT>{4242});
  EXPECT_TRUE(f.label.opened.empty());
}

TEST(RichText, TabWalksTheLinksAndWrapsEnterActivates) {
  StaticFixture f;
  ASSERT_TRUE(f.Open({10, 10, 410, 70}));
  f.label.SetRuns(kit::BuildLinkText2(L"Get %s or %s.", L"one", L"https://one.invalid/", L"two",
                                      L"https://two.invalid/", false, 0, 0));
  ASSERT_EQ(f.label.runs().focusedRun, 1) << "the first link has the focus at first";
  SetFocus(f.label.m_hWnd);
  kittest::Pump(50);
  ASSERT_TRUE(f.label.hasFocus());

  kittest::Key(VK_RETURN, true);
  kittest::Key(VK_RETURN, false);
  EXPECT_EQ(f.label.opened, std::vector<std::wstring>{L"https://one.invalid/"});

  kittest::Key(VK_TAB, true);
  kittest::Key(VK_TAB, false);
  EXPECT_EQ(f.label.runs().focusedRun, 3);
  EXPECT_EQ(GetFocus(), f.label.m_hWnd) << "Tab between links keeps the focus";

  kittest::Key(VK_SPACE, true);
  kittest::Key(VK_SPACE, false);
  EXPECT_EQ(f.label.opened.back(), L"https://two.invalid/");

  kittest::Key(VK_TAB, true);
  kittest::Key(VK_TAB, false);
  EXPECT_EQ(f.label.runs().focusedRun, 1) << "past the last link the first one is focused again";
  EXPECT_EQ(GetFocus(), f.other) << "and the dialog moves the focus on";
}

TEST(RichText, OverflowEndsWithDotsAndNothingAfterThem) {
  StaticFixture f;
  ASSERT_TRUE(f.Open({10, 10, 170, 50}, 0));  // 160 x 40: two lines of 12 pt
  std::wstring words;
  for (int i = 0; i < 12; ++i) words += L"overflowing words ";
  TextRunBlock block = kit::BuildLinkText(words + L"%s", L"never shown", L"https://late.invalid/", 0xFF000000,
                                          false, 0);
  f.label.SetRuns(block);
  kittest::Pump(200);
  UpdateWindow(f.host.m_hWnd);
  kittest::Pump(200);
  const TextRunBlock& runs = f.label.runs();
  ASSERT_GT(runs.overflowIndex, 0);
  const int anchor = kit::EllipsisAnchor(runs, 160);
  ASSERT_GE(anchor, 0);
  ASSERT_LT(anchor, static_cast<int>(runs.runs[0].text.size())) << "the link lies past the overflow";
  const Gdiplus::RectF& a = runs.boxes[anchor];
  EXPECT_LE(a.Y + a.Height, 40.5f) << "the dots sit on a line that fits";

  // The screen: ink on the first line, the dots after the anchor, nothing
  // right of them or below their line.
  HDC screen = GetDC(nullptr);
  RECT wr;
  GetWindowRect(f.label.m_hWnd, &wr);
  const COLORREF face = GetPixel(screen, wr.right + 5, wr.top + 5);
  auto inkIn = [&](int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        if (!kittest::Near(GetPixel(screen, wr.left + x, wr.top + y), face, 40)) ++n;
    return n;
  };
  const int lineTop = static_cast<int>(a.Y), lineBottom = static_cast<int>(a.Y + a.Height);
  const int dotsLeft = static_cast<int>(a.X + a.Width);
  const int dotsRight = dotsLeft + kit::kEllipsisWidth + 2;
  EXPECT_GT(inkIn(0, 0, 160, 10), 0) << "text on the first line";
  EXPECT_GT(inkIn(dotsLeft, lineTop, dotsRight, lineBottom), 0) << "the dots";
  EXPECT_EQ(inkIn(dotsRight + 2, lineTop, 160, lineBottom), 0) << "nothing right of the dots";
  EXPECT_EQ(inkIn(0, lineBottom + 1, 160, 40), 0) << "nothing below their line";
  ReleaseDC(nullptr, screen);
}

TEST(RichText, EveryCharacterOfALongTextGetsABox) {
  StaticFixture f;
  ASSERT_TRUE(f.Open({10, 10, 440, 110}, 0));
  std::wstring text;
  for (int i = 0; i < 8; ++i) text += L"abcdefghi ";  // 80 characters, more than two batches of 32
  f.label.SetRuns(kit::BuildLinkText(text + L"%s", L"end", L"https://end.invalid/", 0xFF000000, false, 0));
  const TextRunBlock& runs = f.label.runs();
  ASSERT_EQ(runs.boxes.size(), runs.text.size());
  float lastX = -1, lastY = -1;
  for (size_t i = 0; i < runs.text.size(); ++i) {
    const Gdiplus::RectF& b = runs.boxes[i];
    if (runs.text[i] == L' ') continue;
    EXPECT_GT(b.Width, 0.0f) << "character " << i;
    if (b.Y == lastY) {
      EXPECT_GT(b.X, lastX) << "character " << i << " follows its neighbour";
    }
    lastX = b.X;
    lastY = b.Y;
  }
  EXPECT_EQ(runs.overflowIndex, 0);
}

TEST(RichText, SetTextAfterSetRunsIsPlainTextAgain) {
  StaticFixture f;
  ASSERT_TRUE(f.Open({10, 10, 410, 70}));
  f.label.SetRuns(kit::BuildLinkText(L"%s", L"link", L"https://x.invalid/", 0xFF000000, false, 0));
  const POINT onLink = Centre(f.label.runs().runs[1].hitRects[1]);
  f.label.SetText(L"Plain words");
  EXPECT_FALSE(f.label.runs().inUse);
  EXPECT_EQ(f.label.runs().overflowIndex, 0);
  EXPECT_EQ(f.label.GetDisplayText(), L"Plain words");
  wchar_t shown[64] = {};
  GetWindowTextW(f.label.m_hWnd, shown, 64);
  EXPECT_STREQ(shown, L"Plain words");
  EXPECT_TRUE(f.label.HitTestLink(onLink).empty());
  POINT s = f.Screen(onLink);
  kittest::Click(s.x, s.y);
  EXPECT_TRUE(f.label.opened.empty());
}

}  // namespace
