// The picture button and the check box driven by real input (SendInput):
// each step's state read back from the flat placeholder colour the screen
// shows, and the clicks their parent was told about.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include "KitTest.h"
#include "app/controls/CustomCheckBox.h"
#include "app/controls/PictureButton.h"
#include "app/resources/resource.h"

namespace {

using kittest::Rgb;

const COLORREF kHover = Rgb(0x3C, 0xB4, 0x5A);     // PNG 136
const COLORREF kNormal = Rgb(0x5A, 0x8C, 0xD2);    // PNG 137
const COLORREF kPressed = Rgb(0xD2, 0x50, 0x3C);   // PNG 138
const COLORREF kDisabled = Rgb(0x80, 0x80, 0x20);  // fixture
// The check box's six fixture images, by state index.
const COLORREF kBox[6] = {Rgb(0x10, 0x80, 0x10), Rgb(0xF0, 0xF0, 0xF0), Rgb(0x10, 0xD0, 0x10),
                          Rgb(0xC0, 0xC0, 0xF0), Rgb(0x50, 0x70, 0x50), Rgb(0x90, 0x90, 0x90)};

TEST(PictureButton, StatesFollowRealInput) {
  kittest::Host host;
  ASSERT_TRUE(host.Open());
  int clicks = 0;
  host.onCommand = [&](UINT id, UINT code) {
    if (id == 800 && code == BN_CLICKED) ++clicks;
  };
  CPictureButton button;
  ASSERT_TRUE(button.SubclassWindow(host.Child(L"BUTTON", L"", BS_PUSHBUTTON, {20, 20, 80, 60}, 800)));
  button.states[CPictureButton::kHover].pngId = IDP_CLOSE_HOVER;
  button.states[CPictureButton::kNormal].pngId = IDP_CLOSE_NORMAL;
  button.states[CPictureButton::kPressed].pngId = IDP_CLOSE_PRESSED;
  button.states[CPictureButton::kDisabled].pngId = IDP_T_BUTTON_DISABLED;
  button.MarkDirty();
  const POINT in = host.ToScreen(50, 40), out = host.ToScreen(200, 150);
  kittest::MouseMove(out.x, out.y);

  struct Step {
    const char* what;
    void (*act)(POINT in, POINT out);
    COLORREF shows;
  } steps[] = {
      {"at rest", [](POINT, POINT) {}, kNormal},
      {"mouse over", [](POINT i, POINT) { kittest::MouseMove(i.x, i.y); }, kHover},
      {"pressed", [](POINT, POINT) { kittest::MouseDown(); }, kPressed},
      {"dragged out", [](POINT, POINT o) { kittest::MouseMove(o.x, o.y); }, kNormal},
      {"released outside", [](POINT, POINT) { kittest::MouseUp(); }, kNormal},
      {"back over", [](POINT i, POINT) { kittest::MouseMove(i.x, i.y); }, kHover},
      {"clicked", [](POINT, POINT) {
         // Past the double-click time: an owner-drawn button reports a quick
         // second press as a double click.
         kittest::Pump(GetDoubleClickTime() + 100);
         kittest::MouseDown();
         kittest::MouseUp();
       }, kHover},
  };
  for (const Step& s : steps) {
    s.act(in, out);
    EXPECT_TRUE(kittest::WaitForPixel(in.x, in.y, s.shows, 2, 3000))
        << s.what << ": shows " << std::hex << kittest::ScreenPixel(in.x, in.y);
  }
  EXPECT_EQ(clicks, 1) << "only the release inside is a click";

  // Checked: the pressed image, under the mouse or not.
  button.checked = true;
  InvalidateRect(button.m_hWnd, nullptr, FALSE);
  EXPECT_TRUE(kittest::WaitForPixel(in.x, in.y, kPressed, 2, 3000)) << "hovering a checked button";
  kittest::MouseMove(out.x, out.y);
  EXPECT_TRUE(kittest::WaitForPixel(in.x, in.y, kPressed, 2, 3000)) << "a checked button at rest";
  button.checked = false;
  EnableWindow(button.m_hWnd, FALSE);
  EXPECT_TRUE(kittest::WaitForPixel(in.x, in.y, kDisabled, 2, 3000)) << "disabled";
}

TEST(PictureButton, MissingPictureDrawsNothingUntilRenderedAgain) {
  kittest::Host host;
  ASSERT_TRUE(host.Open());
  CPictureButton button;
  ASSERT_TRUE(button.SubclassWindow(host.Child(L"BUTTON", L"", BS_PUSHBUTTON, {20, 20, 80, 60}, 800)));
  for (auto& s : button.states) s.pngId = IDP_CLOSE_NORMAL;
  button.states[CPictureButton::kFifth].pngId = 4711;  // no such picture
  button.MarkDirty();
  kittest::Pump(200);
  EXPECT_FALSE(button.renderOk());
  const POINT in = host.ToScreen(50, 40);
  EXPECT_FALSE(kittest::Near(kittest::ScreenPixel(in.x, in.y), kNormal, 2));
  button.states[CPictureButton::kFifth].pngId = -1;  // background only
  button.MarkDirty();
  EXPECT_TRUE(kittest::WaitForPixel(in.x, in.y, kNormal, 2, 3000));
  EXPECT_TRUE(button.renderOk());
}

TEST(PictureButton, TooltipOnEveryMoveOnlyWhenEnabled) {
  kittest::Host host;
  ASSERT_TRUE(host.Open());
  CPictureButton tipped, plain;
  ASSERT_TRUE(tipped.SubclassWindow(host.Child(L"BUTTON", L"", BS_PUSHBUTTON, {20, 20, 60, 60}, 802)));
  ASSERT_TRUE(plain.SubclassWindow(host.Child(L"BUTTON", L"", BS_PUSHBUTTON, {100, 20, 140, 60}, 803)));
  for (CPictureButton* b : {&tipped, &plain}) {
    for (auto& s : b->states) s.pngId = IDP_CLOSE_NORMAL;
    b->tipText = L"Stop";
    b->MarkDirty();
  }
  tipped.tooltipEnabled = true;
  tipped.alwaysTip = true;
  for (int x : {30, 40, 50}) {
    POINT p = host.ToScreen(x, 40);
    kittest::MouseMove(p.x, p.y);
  }
  EXPECT_NE(tipped.tooltipWindow(), nullptr);
  EXPECT_EQ(tipped.shownTip(), L"Stop");
  wchar_t text[64] = {};
  TOOLINFOW ti{};
  ti.cbSize = sizeof(ti);
  ti.hwnd = tipped.m_hWnd;
  ti.uId = reinterpret_cast<UINT_PTR>(tipped.m_hWnd);
  ti.lpszText = text;
  SendMessageW(tipped.tooltipWindow(), TTM_GETTEXTW, 64, reinterpret_cast<LPARAM>(&ti));
  EXPECT_STREQ(text, L"Stop");
  tipped.fixedTip = L"Fixed";
  POINT p = host.ToScreen(35, 45);
  kittest::MouseMove(p.x, p.y);
  EXPECT_EQ(tipped.shownTip(), L"Fixed") << "a fixed tip wins";

  for (int x : {110, 120, 130}) {
    POINT q = host.ToScreen(x, 40);
    kittest::MouseMove(q.x, q.y);
  }
  EXPECT_TRUE(plain.shownTip().empty()) << "no tooltip without tooltipEnabled";
}

// The tooltip is a top-level popup that the button's frame owns: it must go
// when the button goes, whether its window is destroyed or its object.
TEST(PictureButton, TooltipGoesWithTheButton) {
  kittest::Host host;
  ASSERT_TRUE(host.Open());
  for (bool objectFirst : {false, true}) {
    SCOPED_TRACE(objectFirst ? "object deleted" : "window destroyed");
    auto* button = new CPictureButton();
    ASSERT_TRUE(button->SubclassWindow(host.Child(L"BUTTON", L"", BS_PUSHBUTTON, {20, 20, 60, 60}, 804)));
    for (auto& s : button->states) s.pngId = IDP_CLOSE_NORMAL;
    button->tooltipEnabled = true;
    button->alwaysTip = true;
    button->tipText = L"Stop";
    button->MarkDirty();
    for (int x : {30, 40, 50}) {
      POINT p = host.ToScreen(x, 40);
      kittest::MouseMove(p.x, p.y);
    }
    const HWND tip = button->tooltipWindow();
    ASSERT_NE(tip, nullptr);
    if (!objectFirst) DestroyWindow(button->m_hWnd);
    delete button;
    kittest::Pump(100);
    EXPECT_FALSE(IsWindow(tip));
  }
}

// A check box with the six fixture images, at (20, 80) of a host, 150 x 20.
struct BoxFixture {
  kittest::Host host;
  CCustomCheckBox box;
  int clicks = 0;
  POINT in{}, out{};

  bool Open() {
    if (!host.Open()) return false;
    host.onCommand = [this](UINT id, UINT code) {
      if (id == 801 && code == BN_CLICKED) ++clicks;
    };
    if (!box.SubclassWindow(host.Child(L"BUTTON", L"Box label", BS_AUTOCHECKBOX | WS_TABSTOP, {20, 80, 170, 100}, 801)))
      return false;
    for (int i = 0; i < 6; ++i) box.boxPng[i] = IDP_T_BOX0 + i;
    box.boxSize = 13;
    box.fontSize = 9;
    box.textColour = 0xFF000000;
    InvalidateRect(box.m_hWnd, nullptr, FALSE);
    in = host.ToScreen(20 + 6, 80 + 2 + 6);  // the box's middle
    out = host.ToScreen(300, 200);
    kittest::MouseMove(out.x, out.y);
    return true;
  }
  // The state index shown and the screen agree on `state`.
  ::testing::AssertionResult Shows(int state) {
    if (box.imageIndex != state) return ::testing::AssertionFailure() << "state " << box.imageIndex;
    if (!kittest::WaitForPixel(in.x, in.y, kBox[state], 2, 3000))
      return ::testing::AssertionFailure() << "screen " << std::hex << kittest::ScreenPixel(in.x, in.y);
    return ::testing::AssertionSuccess();
  }
};

TEST(CheckBox, MouseStates) {
  BoxFixture f;
  ASSERT_TRUE(f.Open());
  EXPECT_TRUE(f.Shows(CCustomCheckBox::kUncheckedNormal));
  kittest::MouseMove(f.in.x, f.in.y);
  EXPECT_TRUE(f.Shows(CCustomCheckBox::kUncheckedHot)) << "hover";
  kittest::MouseDown();
  EXPECT_TRUE(f.Shows(CCustomCheckBox::kUncheckedHot)) << "pressed";
  kittest::MouseMove(f.out.x, f.out.y);
  EXPECT_TRUE(f.Shows(CCustomCheckBox::kUncheckedNormal)) << "pressed and dragged out";
  kittest::MouseUp();
  EXPECT_FALSE(f.box.checked) << "released outside";
  EXPECT_EQ(f.clicks, 0);
  EXPECT_TRUE(f.Shows(CCustomCheckBox::kUncheckedNormal));

  kittest::Click(f.in.x, f.in.y);
  EXPECT_TRUE(f.box.checked);
  EXPECT_EQ(f.clicks, 1);
  EXPECT_TRUE(f.box.imageIndex == CCustomCheckBox::kCheckedNormal || f.box.imageIndex == CCustomCheckBox::kCheckedHot);

  // A double click is two clicks.
  kittest::MouseDown();
  kittest::MouseUp();
  kittest::MouseDown();
  kittest::MouseUp();
  EXPECT_TRUE(f.box.checked) << "toggled twice";
  EXPECT_EQ(f.clicks, 3);

  kittest::MouseMove(f.out.x, f.out.y);
  EXPECT_TRUE(f.Shows(CCustomCheckBox::kCheckedNormal)) << "mouse gone";
  EnableWindow(f.box.m_hWnd, FALSE);
  EXPECT_TRUE(f.Shows(CCustomCheckBox::kCheckedDisabled));
  EnableWindow(f.box.m_hWnd, TRUE);
  EXPECT_TRUE(f.Shows(CCustomCheckBox::kCheckedNormal));
}

TEST(CheckBox, SpaceBarAndSpaceHeldWhileClicking) {
  BoxFixture f;
  ASSERT_TRUE(f.Open());
  SetFocus(f.box.m_hWnd);
  kittest::Pump(50);
  kittest::Key(VK_SPACE, true);
  EXPECT_TRUE(f.Shows(CCustomCheckBox::kUncheckedHot)) << "space down";
  kittest::Key(VK_SPACE, false);
  EXPECT_TRUE(f.box.checked) << "space released";
  EXPECT_TRUE(f.Shows(CCustomCheckBox::kCheckedNormal));
  EXPECT_EQ(f.clicks, 1);

  // Space held, then a click: the release toggles and keeps the hot image;
  // letting go of space shows the normal image and toggles nothing more,
  // so the box and the clicks its parent saw agree.
  kittest::Key(VK_SPACE, true);
  EXPECT_TRUE(f.Shows(CCustomCheckBox::kCheckedHot));
  kittest::MouseMove(f.in.x, f.in.y);
  kittest::MouseDown();
  kittest::MouseUp();
  EXPECT_FALSE(f.box.checked);
  EXPECT_TRUE(f.Shows(CCustomCheckBox::kUncheckedHot)) << "space still held";
  kittest::MouseMove(f.out.x, f.out.y);
  kittest::Key(VK_SPACE, false);
  EXPECT_FALSE(f.box.checked) << "one toggle for one press";
  EXPECT_TRUE(f.Shows(CCustomCheckBox::kUncheckedNormal));
  EXPECT_EQ(f.clicks, 2);
}

}  // namespace
