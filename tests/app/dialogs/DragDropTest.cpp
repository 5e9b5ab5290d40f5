// The region picker with real mouse input: what a drag reports (and when
// it reports nothing), in screen coordinates of a picker that is not at the
// screen's origin, and what it shows while it waits and while it drags.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "DialogsTest.h"
#include "app/AppMessages.h"
#include "app/dialogs/DragDrop.h"

using namespace dlgtest;

namespace {

constexpr COLORREF kBackdrop = RGB(0x40, 0xC0, 0x80);
// The backdrop under the mask: alpha 0x7B of black over it.
COLORREF Darkened(COLORREF c) {
  auto d = [](int v) { return v * (255 - 0x7B) / 255; };
  return RGB(d(GetRValue(c)), d(GetGValue(c)), d(GetBValue(c)));
}
constexpr COLORREF kGuide = RGB(0x8D, 0x9C, 0xAD);

// A plain window that counts WM_AREA_SELECTED: the picker's owner.
class Owner : public cl::CWnd {
 public:
  int selected = 0;
  LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
    if (m == WM_AREA_SELECTED) ++selected;
    return cl::CWnd::WindowProc(m, w, l);
  }
};

// A solid window in one colour: what the picker freezes.
class Backdrop {
 public:
  explicit Backdrop(const RECT& r) {
    brush_ = CreateSolidBrush(kBackdrop);
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = brush_;
    wc.lpszClassName = L"dragdrop.backdrop";
    RegisterClassW(&wc);
    hwnd_ = CreateWindowExW(0, L"dragdrop.backdrop", L"", WS_POPUP, r.left, r.top, r.right - r.left,
                            r.bottom - r.top, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    UpdateWindow(hwnd_);
  }
  ~Backdrop() {
    DestroyWindow(hwnd_);
    UnregisterClassW(L"dragdrop.backdrop", GetModuleHandleW(nullptr));
    DeleteObject(brush_);
  }

 private:
  HWND hwnd_ = nullptr;
  HBRUSH brush_ = nullptr;
};

// The picker over (100, 50) to (700, 450) of the screen.
constexpr RECT kArea{100, 50, 700, 450};

class RegionPicker : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(owner.CreateEx(0, nullptr, L"owner", WS_POPUP, RECT{0, 0, 10, 10}, nullptr, 0));
    picker = std::make_unique<CDragDrop>(&owner);
    ASSERT_TRUE(picker->Create(nullptr));
    Pump(300);  // the backdrop painted before the picker freezes it
  }
  void TearDown() override {
    picker.reset();
    owner.DestroyWindow();
  }
  void Show() {
    MouseMove(20, 20);  // outside the picker: no move reaches it before the test's own
    picker->ShowWindow(SW_SHOWMAXIMIZED);
    MoveWindow(picker->m_hWnd, kArea.left, kArea.top, kArea.right - kArea.left, kArea.bottom - kArea.top, FALSE);
    picker->ShowPicker();
    Pump(300);
  }
  POINT At(int x, int y) const { return {kArea.left + x, kArea.top + y}; }

  Backdrop backdrop{RECT{0, 0, 800, 600}};
  Owner owner;
  std::unique_ptr<CDragDrop> picker;
};

TEST_F(RegionPicker, SitsExactlyOnItsRectangleAboveOtherWindows) {
  Show();
  RECT r{};
  GetWindowRect(picker->m_hWnd, &r);
  EXPECT_EQ(r.left, kArea.left);
  EXPECT_EQ(r.top, kArea.top);
  EXPECT_EQ(r.right, kArea.right);
  EXPECT_EQ(r.bottom, kArea.bottom);
  EXPECT_TRUE(picker->IsWindowVisible());
  EXPECT_TRUE(GetWindowLongPtrW(picker->m_hWnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_EQ(picker->screenshot.GetWidth(), 600);
  EXPECT_EQ(picker->screenshot.GetHeight(), 400);
}

TEST_F(RegionPicker, ItsPaintShowsTheFrozenScreenDarkenedBeforeAnyMouseMove) {
  Show();
  // Covered and uncovered again: only the paint handler can draw it now.
  {
    Backdrop cover(RECT{200, 100, 400, 300});
    SetWindowPos(picker->m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    Pump(200);
  }
  Pump(300);
  Shot("picker-waiting");
  for (POINT p : {At(10, 10), At(150, 120), At(590, 390)})
    EXPECT_TRUE(Near(ScreenPixel(p.x, p.y), Darkened(kBackdrop), 4))
        << p.x << "," << p.y << " shows " << std::hex << ScreenPixel(p.x, p.y);
}

TEST_F(RegionPicker, BeforeAPressEveryMoveDarkensAllAndDrawsOnlyTheCrossHair) {
  Show();
  const POINT m = At(300, 200);
  MouseMove(m.x, m.y);
  Pump(200);
  EXPECT_TRUE(Near(ScreenPixel(m.x, m.y + 50), kGuide)) << "no vertical guide through the mouse";
  EXPECT_TRUE(Near(ScreenPixel(m.x + 80, m.y), kGuide)) << "no horizontal guide through the mouse";
  EXPECT_TRUE(Near(ScreenPixel(m.x + 40, m.y + 40), Darkened(kBackdrop), 4));
  EXPECT_TRUE(Near(ScreenPixel(m.x - 40, m.y - 40), Darkened(kBackdrop), 4));
}

TEST_F(RegionPicker, WhileDraggingOnlyTheSelectionIsLeftClear) {
  Show();
  const POINT from = At(100, 100), to = At(300, 250);
  MouseMove(from.x, from.y);
  MouseDown();
  MouseMove(to.x, to.y);
  Pump(200);
  Shot("picker-dragging");
  EXPECT_TRUE(Near(ScreenPixel(At(200, 170).x, At(200, 170).y), kBackdrop, 4)) << "the selection is darkened";
  for (POINT p : {At(50, 50), At(200, 50), At(50, 170), At(200, 300), At(400, 170), At(400, 300)})
    EXPECT_TRUE(Near(ScreenPixel(p.x, p.y), Darkened(kBackdrop), 4)) << p.x << "," << p.y;
  // Guides through the press point and through the mouse.
  EXPECT_TRUE(Near(ScreenPixel(from.x, At(0, 20).y), kGuide));
  EXPECT_TRUE(Near(ScreenPixel(At(500, 0).x, to.y), kGuide));
  MouseUp();
}

TEST_F(RegionPicker, ADragReportsItsCornersInScreenCoordinatesAndSmallOnesNothing) {
  struct Case {
    const char* name;
    POINT from, to;  // picker client coordinates
    bool reported;
  } const cases[] = {
      {"down-right", {100, 80}, {301, 231}, true},
      {"reversed", {301, 231}, {100, 80}, true},
      {"flat", {100, 80}, {400, 81}, false},
      {"upright", {100, 80}, {101, 300}, false},
      {"click", {100, 80}, {100, 80}, false},
  };
  for (const Case& c : cases) {
    Show();
    owner.selected = 0;
    Drag(At(c.from.x, c.from.y), At(c.to.x, c.to.y));
    ASSERT_TRUE(PumpUntil([&] { return !picker->IsWindowVisible(); }, 2000)) << c.name << ": still shown";
    Pump(200);
    EXPECT_EQ(owner.selected, c.reported ? 1 : 0) << c.name;
    if (!c.reported) continue;
    const POINT a = picker->startPoint, b = picker->endPoint;
    EXPECT_EQ(std::min(a.x, b.x), kArea.left + 100) << c.name;
    EXPECT_EQ(std::min(a.y, b.y), kArea.top + 80) << c.name;
    EXPECT_EQ(std::max(a.x, b.x), kArea.left + 301) << c.name;
    EXPECT_EQ(std::max(a.y, b.y), kArea.top + 231) << c.name;
  }
}

TEST_F(RegionPicker, EscapeCancelsADragAndReportsNothing) {
  Show();
  MouseMove(At(100, 100).x, At(100, 100).y);
  MouseDown();
  MouseMove(At(300, 300).x, At(300, 300).y);
  Key(VK_ESCAPE);
  ASSERT_TRUE(PumpUntil([&] { return !picker->IsWindowVisible(); }, 2000));
  EXPECT_FALSE(picker->dragging);
  MouseUp();
  Pump(200);
  EXPECT_EQ(owner.selected, 0);
  EXPECT_NE(GetCapture(), picker->m_hWnd);
  // Shown again, it works as before.
  Show();
  Drag(At(10, 10), At(50, 60));
  ASSERT_TRUE(PumpUntil([&] { return owner.selected == 1; }, 2000));
}

}  // namespace
