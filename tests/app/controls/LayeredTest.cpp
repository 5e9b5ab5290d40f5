// The layered-window framework: the framework button's state table and
// images, when the dialog renders again (and when not), the composed
// picture's premultiplied alpha, and the button under real input.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "KitTest.h"
#include "app/controls/Layered.h"
#include "app/resources/resource.h"

namespace {

// The error dialog's shape over the test template: a close cross, a push
// button, a check box and its label on PNG 200.
class TestLayered : public CTRSDialog {
 public:
  TestLayered() : CTRSDialog(IDD_T_LAYERED, IDP_ERROR_BACKGROUND) {}
  ~TestLayered() override { DestroyWindow(); }

  CTRSButton cross, close, box;
  CTRSStatic label;
  std::vector<BYTE> frame;  // the last composed picture
  int frameStride = 0;
  int clicks = 0;

  void InitControls() override {
    DDX_Control(IDC_T_CROSS, cross);
    DDX_Control(IDC_T_CLOSE, close);
    DDX_Control(IDC_T_BOX, box);
    DDX_Control(IDC_T_LABEL, label);
    MoveWindow(cross.m_hWnd, 437, 7, 24, 24, FALSE);
    cross.SetImages({IDP_CLOSE_NORMAL, IDP_CLOSE_NORMAL, IDP_CLOSE_HOVER, IDP_CLOSE_PRESSED, 0});
    MoveWindow(close.m_hWnd, 365, 229, 10, 10, FALSE);
    close.SetImages({IDP_BUTTON_NORMAL, IDP_BUTTON_NORMAL, IDP_BUTTON_HOVER, IDP_BUTTON_PRESSED, 0});
    MoveWindow(box.m_hWnd, 34, 241, 13, 13, FALSE);
    box.SetImages({IDP_CHECK_UNCHECKED, 0, IDP_CHECK_UNCHECKED, IDP_CHECK_CHECKED, IDP_CHECK_CHECKED});
    MoveWindow(label.m_hWnd, 52, 240, 248, 26, FALSE);
    label.SetFontFamily(L"Arial");
    label.textColour = 0xFE515151;
    label.fontSize = 9;
    label.text = L"Do not show this again";
    for (CTRSWnd* c : std::initializer_list<CTRSWnd*>{&cross, &close, &box, &label}) AddChild(c);
  }

  // Pixel (x, y) from the top of the last composed picture, as BGRA.
  DWORD Pixel(int x, int y) const {
    const int h = static_cast<int>(frame.size()) / frameStride;
    const BYTE* p = &frame[static_cast<size_t>(h - 1 - y) * frameStride + x * 4];
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<DWORD>(p[3]) << 24);
  }

 protected:
  void OnComposed(const BYTE* bits, int w, int h, int stride) override {
    frame.assign(bits, bits + static_cast<size_t>(stride) * h);
    frameStride = stride;
  }
  LRESULT WindowProc(UINT m, WPARAM wp, LPARAM lp) override {
    if (m == WM_COMMAND && LOWORD(wp) == IDC_T_CLOSE && HIWORD(wp) == BN_CLICKED) ++clicks;
    return CTRSDialog::WindowProc(m, wp, lp);
  }
};

TEST(Layered, ButtonStateTable) {
  TestLayered dlg;
  ASSERT_TRUE(dlg.Create(nullptr));
  CTRSButton& b = dlg.box;  // images in all five slots but "disabled"
  ASSERT_TRUE(b.SetImages({IDP_CLOSE_NORMAL, IDP_T_BUTTON_DISABLED, IDP_CLOSE_HOVER, IDP_CLOSE_PRESSED,
                           IDP_CHECK_CHECKED}));
  b.normalColour = 0xFF000001;
  b.disabledColour = 0xFF000002;
  b.hoverColour = 0xFF000003;
  b.pressedColour = 0xFF000004;
  struct Case {
    bool hover, pressed, checked, disabled;
    int slot;
    Gdiplus::ARGB colour;
  } cases[] = {
      {false, false, false, false, CTRSButton::kNormal, 0xFF000001},
      {true, true, false, false, CTRSButton::kPressed, 0xFF000004},
      {true, false, false, false, CTRSButton::kHover, 0xFF000003},
      {false, false, false, true, CTRSButton::kDisabled, 0xFF000002},
      {false, false, true, false, CTRSButton::kChecked, 0xFF000004},
      {true, false, true, false, CTRSButton::kChecked, 0xFF000004},  // hovering a checked button: no change
      {true, true, true, false, CTRSButton::kPressed, 0xFF000004},
      {true, false, true, false, CTRSButton::kPressed, 0xFF000004},  // still no change
      {false, false, false, false, CTRSButton::kNormal, 0xFF000001},
  };
  for (const Case& c : cases) {
    b.hover = c.hover;
    b.pressed = c.pressed;
    b.checked = c.checked;
    b.disabled = c.disabled;
    b.UpdateState();
    EXPECT_EQ(b.currentSlot(), c.slot) << c.hover << c.pressed << c.checked << c.disabled;
    EXPECT_EQ(b.brushColour(), c.colour) << c.hover << c.pressed << c.checked << c.disabled;
  }

  // Only a normal image: the normal image and colour in every state.
  ASSERT_TRUE(b.SetImages({IDP_CLOSE_NORMAL, 0, 0, 0, 0}));
  for (const Case& c : cases) {
    b.hover = c.hover;
    b.pressed = c.pressed;
    b.checked = c.checked && !c.hover;  // (hover on checked changes nothing at all)
    b.disabled = c.disabled;
    b.UpdateState();
    EXPECT_EQ(b.currentSlot(), CTRSButton::kNormal);
    EXPECT_EQ(b.brushColour(), 0xFF000001u);
  }
}

TEST(Layered, SetImagesNeedsTheNormalImageAndTakesItsSize) {
  TestLayered dlg;
  ASSERT_TRUE(dlg.Create(nullptr));
  RECT r;
  GetWindowRect(dlg.close.m_hWnd, &r);
  EXPECT_EQ(r.right - r.left, 85) << "sized to PNG 172";
  EXPECT_EQ(r.bottom - r.top, 35);
  EXPECT_FALSE(dlg.close.SetImages({0, IDP_BUTTON_NORMAL, 0, 0, 0}));
  EXPECT_EQ(dlg.close.current, nullptr);
  EXPECT_FALSE(dlg.close.SetImages({4711, 0, 0, 0, 0}));
  EXPECT_EQ(dlg.close.current, nullptr);
  for (const auto& i : dlg.close.images) EXPECT_EQ(i, nullptr);
}

TEST(Layered, RendersAgainOnlyWhenALookChanges) {
  TestLayered dlg;
  ASSERT_TRUE(dlg.Create(nullptr));
  const int start = dlg.renderCount();
  EXPECT_GE(start, 1) << "rendered at initialisation";

  struct Step {
    const char* what;
    void (*act)(TestLayered&);
    int renders;
  } steps[] = {
      {"hover", [](TestLayered& d) { d.cross.hover = true, d.cross.UpdateState(); }, 1},
      {"colour only", [](TestLayered& d) { d.cross.hoverColour = 0xFFFF0000, d.cross.UpdateState(); }, 0},
      {"hide", [](TestLayered& d) { d.label.ShowWindow(SW_HIDE); }, 1},
      {"hide a hidden control", [](TestLayered& d) { d.label.ShowWindow(SW_HIDE); }, 0},
      {"disable", [](TestLayered& d) { EnableWindow(d.close.m_hWnd, FALSE); }, 1},
      {"suspended show", [](TestLayered& d) { d.suspended = true, d.label.ShowWindow(SW_SHOW); }, 0},
      {"suspended leave", [](TestLayered& d) { d.cross.hover = false, d.cross.UpdateState(); }, 0},
      {"explicit render", [](TestLayered& d) { d.suspended = false, d.RenderLayered(); }, 1},
  };
  for (const Step& s : steps) {
    const int before = dlg.renderCount();
    s.act(dlg);
    EXPECT_EQ(dlg.renderCount() - before, s.renders) << s.what;
  }
}

TEST(Layered, ComposedPictureIsPremultiplied) {
  TestLayered dlg;
  ASSERT_TRUE(dlg.Create(nullptr));
  dlg.label.ShowWindow(SW_HIDE);
  dlg.RenderLayered();
  ASSERT_EQ(dlg.frameStride, 471 * 4);
  // PNG 200: transparent corners, a soft top edge (row 1 at alpha 128) in
  // (0xEE, 0xF2, 0xF8), opaque below; the cross at (437, 7) in PNG 137.
  EXPECT_EQ(dlg.Pixel(0, 0), 0u) << "transparent corner";
  const DWORD half = dlg.Pixel(235, 1);
  EXPECT_NEAR(half >> 24, 128, 1);
  EXPECT_NEAR((half >> 16) & 0xFF, 0xEE * 128 / 255, 1) << "red halved";
  EXPECT_NEAR((half >> 8) & 0xFF, 0xF2 * 128 / 255, 1);
  EXPECT_NEAR(half & 0xFF, 0xF8 * 128 / 255, 1);
  EXPECT_EQ(dlg.Pixel(235, 120), 0xFFEEF2F8u) << "opaque face";
  EXPECT_EQ(dlg.Pixel(449, 19), 0xFF5A8CD2u) << "the cross drawn over it";
}

TEST(Layered, ButtonsFollowRealInput) {
  TestLayered dlg;
  ASSERT_TRUE(dlg.Create(nullptr));
  dlg.ShowWindow(SW_SHOW);
  SetForegroundWindow(dlg.m_hWnd);
  kittest::Pump(200);
  RECT wr;
  GetWindowRect(dlg.m_hWnd, &wr);
  EXPECT_EQ(wr.left, (GetSystemMetrics(SM_CXSCREEN) - 471) / 2) << "centred";
  auto at = [&](const CTRSWnd& c) {
    RECT r;
    GetWindowRect(c.m_hWnd, &r);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  };
  const POINT close = at(dlg.close), box = at(dlg.box), away{wr.left + 200, wr.top + 150};

  kittest::MouseMove(away.x, away.y);
  kittest::MouseMove(close.x, close.y);
  EXPECT_TRUE(kittest::PumpUntil([&] { return dlg.close.currentSlot() == CTRSButton::kHover; }, 2000));
  kittest::MouseDown();
  EXPECT_EQ(dlg.close.currentSlot(), CTRSButton::kPressed);
  kittest::MouseMove(away.x, away.y);
  kittest::MouseUp();
  EXPECT_FALSE(dlg.close.hover) << "released outside";
  EXPECT_FALSE(dlg.close.checked);
  EXPECT_EQ(dlg.close.currentSlot(), CTRSButton::kNormal);
  EXPECT_EQ(dlg.clicks, 0);

  kittest::Pump(GetDoubleClickTime() + 100);
  kittest::Click(close.x, close.y);
  EXPECT_FALSE(dlg.close.checked) << "a push button never stays checked";
  EXPECT_EQ(dlg.clicks, 1) << "the template's button told the dialog";

  kittest::Click(box.x, box.y);
  EXPECT_TRUE(dlg.box.checked) << "a check box toggles on release inside";
  kittest::MouseMove(away.x, away.y);
  EXPECT_TRUE(kittest::PumpUntil([&] { return dlg.box.currentSlot() == CTRSButton::kChecked; }, 2000));
}

}  // namespace
