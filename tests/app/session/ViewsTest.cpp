// The receiver list's panes: keyboard paging of the generic pane (a page of
// 348 less or more a line of 30) and of the rows' list (400 both ways),
// clamped to the content; keys and the wheel routed from the panel.

#include "SessionTest.h"
#include "app/SessionMgrMain.h"
#include "app/session/ContentViews.h"
#include "app/session/UserList.h"
#include "classlib/MainWindow.h"

namespace {

using namespace sessiontest;

struct Panes {
  Recorder owner;
  CSessionMgrMain frame;
  CViewSubContentUserList* pane = nullptr;
  CCtrlUserList* list = nullptr;
  Panes() {
    cl::SetMainWindow(owner.m_hWnd);
    if (!frame.Create(nullptr, &owner) || !frame.Panel()) return;
    pane = frame.Panel()->listView;
    list = pane ? pane->listView : nullptr;
    frame.ShowWindow(SW_SHOWNORMAL);
    SetForegroundWindow(frame.m_hWnd);
    Pump(200);
  }
  ~Panes() { cl::SetMainWindow(nullptr); }
};

int ClientHeight(HWND h) {
  RECT r{};
  GetClientRect(h, &r);
  return r.bottom;
}

TEST(Views, PagingMovesByAPageLessOrMoreALineAndStopsAtTheEnds) {
  Panes p;
  ASSERT_NE(p.pane, nullptr);
  CViewContentBase& pane = *p.pane;  // page 348, line 30
  pane.SetScrollSize(100, 2000);
  const int bottom = 2000 - ClientHeight(pane.m_hWnd);
  struct Step {
    const char* what;
    int amount;
    bool up;
    int y;
  } const steps[] = {
      {"PageDown", 348, false, 318}, {"PageDown", 348, false, 636}, {"PageUp", 348, true, 258},
      {"PageUp", 348, true, 0},      {"End", 0, false, bottom},     {"Home", 0, true, 0},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    pane.Scroll(s.amount, s.up);
    EXPECT_EQ(pane.GetScrollPosition().y, s.y);
  }
  // Content no taller than a page: no key moves it.
  pane.SetScrollSize(100, 340);
  for (const Step& s : steps) {
    pane.Scroll(s.amount, s.up);
    EXPECT_EQ(pane.GetScrollPosition().y, 0);
  }
}

TEST(Views, TheRowsListPagesByFourHundredBothWays) {
  Panes p;
  ASSERT_NE(p.list, nullptr);
  CCtrlUserList& list = *p.list;
  EXPECT_EQ(list.pageSize, 400);
  EXPECT_EQ(list.lineSize, 0);
  list.SetScrollSize(100, 2000);
  list.HandleKey(VK_NEXT);
  EXPECT_EQ(list.GetScrollPosition().y, 400);
  list.HandleKey(VK_NEXT);
  EXPECT_EQ(list.GetScrollPosition().y, 800);
  list.HandleKey(VK_PRIOR);
  EXPECT_EQ(list.GetScrollPosition().y, 400);
  list.HandleKey(VK_HOME);
  EXPECT_EQ(list.GetScrollPosition().y, 0);
  list.HandleKey(VK_END);
  EXPECT_EQ(list.GetScrollPosition().y, 2000 - ClientHeight(list.m_hWnd));
}

TEST(Views, ThePanelRoutesPageKeysAndTheWheelOverTheListToTheRows) {
  Panes p;
  ASSERT_NE(p.list, nullptr);
  ReceiverMap map;
  for (int i = 2; i < 32; ++i) {
    ReceiverEntry e;
    e.address = "127.0.0." + std::to_string(i);
    e.name = "rx" + std::to_string(i);
    e.port = 47000;
    map[ReceiverKey(e.address)] = e;
  }
  p.frame.Panel()->UpdateReceiverMap(map);
  ASSERT_EQ(p.list->RowCount(), 30);
  ASSERT_GT(p.list->scrollHeight, p.list->pageSize);

  // A real PageDown with the focus on the panel pages the rows once.
  SetFocus(p.frame.Panel()->m_hWnd);
  Key(VK_NEXT);
  Pump(100);
  EXPECT_EQ(p.list->GetScrollPosition().y, 400);
  Key(VK_HOME);
  Pump(100);
  EXPECT_EQ(p.list->GetScrollPosition().y, 0);

  // The wheel: only while the cursor is over the list.
  RECT lr{};
  GetWindowRect(p.list->m_hWnd, &lr);
  RECT fr{};
  GetWindowRect(p.frame.Panel()->m_hWnd, &fr);
  const LPARAM outside = MAKELPARAM(fr.left + 10, fr.top + 10);  // the caption strip
  const LPARAM inside = MAKELPARAM((lr.left + lr.right) / 2, (lr.top + lr.bottom) / 2);
  const WPARAM down = MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA));
  PostMessageW(p.frame.Panel()->m_hWnd, WM_MOUSEWHEEL, down, outside);
  Pump(100);
  EXPECT_EQ(p.list->GetScrollPosition().y, 0);
  PostMessageW(p.frame.Panel()->m_hWnd, WM_MOUSEWHEEL, down, inside);
  Pump(100);
  EXPECT_GT(p.list->GetScrollPosition().y, 0);
}

}  // namespace
