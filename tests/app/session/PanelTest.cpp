// The session window's frame and panel: where the frame goes before its
// first show, the panel's layout at the run's scale, the receiver rows the
// listed map makes (ports ignored, names after "@", the mirrored receiver
// in the label, back in the list after Stop), the two menus, the caption
// strip's drag area, and rows that stand for their receivers.
#include <string>
#include <vector>

#include "SessionTest.h"
#include "app/AppMessages.h"
#include "app/SessionMgrMain.h"
#include "app/session/ContentViews.h"
#include "app/session/UserList.h"
#include "classlib/MainWindow.h"

namespace {

using namespace sessiontest;

// The panel with the main window's state given by the test.
class TestPanel : public CDlgSessionMgr {
 public:
  using CDlgSessionMgr::CDlgSessionMgr;
  PanelOwnerState state;
  PanelOwnerState ReadOwnerState() const override { return state; }
};

class TestFrame : public CSessionMgrMain {
 public:
  cl::CDialog* CreateContent() override { return new TestPanel(sessionConfig, owner, this); }
  TestPanel* panel() { return dynamic_cast<TestPanel*>(Panel()); }
  RECT workArea{0, 0, 0, 0};  // empty: the real one
  RECT WorkArea() const override {
    return workArea.right ? workArea : CSessionMgrMain::WorkArea();
  }
};

ReceiverEntry Entry(const char* name, const char* address, int port = 47000) {
  ReceiverEntry e;
  e.name = name;
  e.address = address;
  e.port = port;
  return e;
}

ReceiverMap Map(std::initializer_list<ReceiverEntry> entries) {
  ReceiverMap m;
  for (const ReceiverEntry& e : entries) m[ReceiverKey(e.address)] = e;
  return m;
}

RECT ClientRectOf(HWND child, HWND parent) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// A frame with its panel owned by a recorder that stands for the main
// window; shown at the centre of the screen.
struct Fixture {
  Recorder owner;
  TestFrame frame;
  TestPanel* panel = nullptr;
  CCtrlUserList* list = nullptr;

  explicit Fixture(bool show = true) {
    cl::SetMainWindow(owner.m_hWnd);
    if (!frame.Create(nullptr, &owner)) return;
    panel = frame.panel();
    if (panel && panel->listView) list = panel->listView->listView;
    if (show) {
      frame.ShowWindow(SW_SHOWNORMAL);
      SetForegroundWindow(frame.m_hWnd);
    }
    Pump(200);
  }
  ~Fixture() { cl::SetMainWindow(nullptr); }
  std::vector<std::wstring> RowNames() {
    std::vector<std::wstring> names;
    for (const std::wstring& key : list->KeysInRowOrder()) names.push_back(list->RowFor(key)->button.caption);
    return names;
  }
};

TEST(SessionFrame, PlacedOnA1024By768GridOnAWorkAreaLargerThanThatOtherwiseCentred) {
  struct Case {
    RECT work;
    bool fixed;
  } const cases[] = {
      {{0, 0, 1280, 720}, true}, {{0, 0, 1025, 768}, true}, {{0, 0, 1024, 769}, true}, {{0, 0, 1024, 768}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.work.right * 10000 + c.work.bottom);
    Recorder owner;
    TestFrame frame;
    frame.workArea = c.work;
    ASSERT_TRUE(frame.Create(nullptr, &owner));
    RECT r{};
    GetWindowRect(frame.m_hWnd, &r);
    // The frame has its panel's size (303 x 453 at 100 %).
    const int w = r.right - r.left, h = r.bottom - r.top;
    EXPECT_EQ(w, frame.rect.right);
    EXPECT_EQ(h, frame.rect.bottom);
    EXPECT_FALSE(frame.IsWindowVisible()) << "shown before the caller shows it";
    if (c.fixed) {
      EXPECT_EQ(r.left, (1024 - w) / 2);
      EXPECT_EQ(r.top, (768 - h) / 2);
    } else {
      // The framework's centring, on the real (1280 x 720) screen.
      EXPECT_EQ(r.left, (1280 - w) / 2);
      EXPECT_EQ(r.top, (720 - h) / 2);
    }
  }
}

TEST(SessionFrame, CloseOnlyHidesAndTheWholePanelLiesInsideTheFrame) {
  Fixture f;
  ASSERT_NE(f.panel, nullptr);
  f.frame.SendMessage(WM_CLOSE);
  EXPECT_FALSE(f.frame.IsWindowVisible());
  EXPECT_NE(f.frame.m_hWnd, nullptr);
  EXPECT_NE(f.frame.Panel(), nullptr);
  RECT frame{}, panel{};
  GetWindowRect(f.frame.m_hWnd, &frame);
  GetWindowRect(f.panel->m_hWnd, &panel);
  EXPECT_TRUE(panel.left >= frame.left && panel.top >= frame.top && panel.right <= frame.right + 1 &&
              panel.bottom <= frame.bottom + 1);
}

struct Layout {
  float scale;
  SIZE panel;
  RECT caption, hide, menu, connect, logo, label, fullscreen, display, stop, list;
};

// Rectangles as left, top, right, bottom in the panel's client area.
const Layout kLayouts[] = {
    {1.0f, {303, 453}, {1, 1, 301, 50}, {265, 1, 301, 49}, {229, 1, 265, 50}, {193, 1, 229, 50},
     {1, 50, 301, 105}, {51, 62, 181, 87}, {226, 60, 246, 80}, {251, 60, 271, 80}, {276, 60, 296, 80},
     {2, 51, 300, 451}},
    {1.25f, {378, 566}, {1, 1, 376, 62}, {331, 1, 376, 61}, {286, 1, 331, 62}, {241, 1, 286, 62},
     {1, 62, 376, 130}, {63, 77, 225, 108}, {283, 74, 308, 99}, {314, 74, 339, 99}, {345, 74, 370, 99},
     {2, 63, 375, 564}},
    {1.5f, {454, 679}, {1, 1, 452, 75}, {398, 1, 452, 74}, {344, 1, 398, 75}, {290, 1, 344, 75},
     {1, 75, 452, 157}, {76, 93, 271, 130}, {340, 90, 370, 120}, {377, 90, 407, 120}, {415, 90, 445, 120},
     {2, 76, 451, 677}},
};

void ExpectRect(const char* what, HWND control, HWND panel, const RECT& want) {
  SCOPED_TRACE(what);
  const RECT r = ClientRectOf(control, panel);
  EXPECT_EQ(r.left, want.left);
  EXPECT_EQ(r.top, want.top);
  EXPECT_EQ(r.right, want.right);
  EXPECT_EQ(r.bottom, want.bottom);
}

TEST(ScaledPanel, LaysItsControlsOutAtTheMonitorsScale) {
  Fixture f;
  ASSERT_NE(f.panel, nullptr);
  const float s = RunScale();
  const Layout* want = nullptr;
  for (const Layout& l : kLayouts) {
    if (l.scale == s) want = &l;
  }
  ASSERT_NE(want, nullptr) << "no table for scale " << s;
  EXPECT_EQ(f.panel->scale, s);
  RECT w{};
  GetWindowRect(f.panel->m_hWnd, &w);
  EXPECT_EQ(w.right - w.left, want->panel.cx);
  EXPECT_EQ(w.bottom - w.top, want->panel.cy);
  EXPECT_EQ(f.panel->captionRect.left, want->caption.left);
  EXPECT_EQ(f.panel->captionRect.top, want->caption.top);
  EXPECT_EQ(f.panel->captionRect.right, want->caption.right);
  EXPECT_EQ(f.panel->captionRect.bottom, want->caption.bottom);
  HWND p = f.panel->m_hWnd;
  ExpectRect("hide", f.panel->hideButton, p, want->hide);
  ExpectRect("menu", f.panel->menuButton, p, want->menu);
  ExpectRect("connect", f.panel->connectButton, p, want->connect);
  ExpectRect("logo", f.panel->logo, p, want->logo);
  ExpectRect("label", f.panel->receiverLabel, p, want->label);
  ExpectRect("fullscreen", f.panel->fullscreenButton, p, want->fullscreen);
  ExpectRect("display", f.panel->displayButton, p, want->display);
  ExpectRect("stop", f.panel->stopButton, p, want->stop);
  // Idle: the header hidden, the list on the whole list area.
  EXPECT_FALSE(f.panel->stopButton.IsWindowVisible());
  ExpectRect("list", f.panel->listView->m_hWnd, p, want->list);
  // A session: the list moves below the 55-pixel header.
  f.panel->state.isMainWindow = true;
  f.panel->state.sessionHost = "127.0.0.2";
  f.panel->UpdateReceiverMap(Map({Entry("rx", "127.0.0.2")}));
  const int header = static_cast<int>(55 * s);
  RECT below = want->list;
  below.top = want->list.top + header - 1;
  below.bottom = want->list.bottom - 1;
  ExpectRect("list below the header", f.panel->listView->m_hWnd, p, below);
  EXPECT_TRUE(f.panel->stopButton.IsWindowVisible());
}

TEST(ScaledRows, RowsStackAtFortyPixelsTimesTheScale) {
  Fixture f;
  ASSERT_NE(f.list, nullptr);
  f.panel->UpdateReceiverMap(Map({Entry("a", "127.0.0.2"), Entry("b", "127.0.0.3"), Entry("c", "127.0.0.4")}));
  const float s = RunScale();
  const std::vector<std::wstring> keys = f.list->KeysInRowOrder();
  ASSERT_EQ(keys.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const RECT r = ClientRectOf(f.list->RowFor(keys[i])->m_hWnd, f.list->m_hWnd);
    EXPECT_EQ(r.top, static_cast<int>(i * 40 * s));
    EXPECT_EQ(r.bottom - r.top, static_cast<int>(40 * s));
    EXPECT_EQ(r.right - r.left, static_cast<int>(300 * s));
  }
  EXPECT_EQ(f.list->scrollHeight, static_cast<int>(3 * 40 * s));
}

TEST(Panel, RowsFollowTheMapButAChangeOfPortAloneRebuildsNothing) {
  Fixture f;
  ASSERT_NE(f.list, nullptr);
  // The third address has letters, so that its case can change below.
  const ReceiverMap lower =
      Map({Entry("Living Room@TV", "127.0.0.2"), Entry("Kitchen", "127.0.0.3"), Entry("a@b@c", "fd00::ab")});
  f.panel->UpdateReceiverMap(lower);
  // The name after the first "@"; without one the whole name.
  EXPECT_EQ(f.RowNames(), (std::vector<std::wstring>{L"TV", L"Kitchen", L"b@c"}));
  HWND first = f.list->RowFor(ReceiverKey("127.0.0.2"))->m_hWnd;

  ReceiverMap ports = Map({Entry("Living Room@TV", "127.0.0.2", 7000), Entry("Kitchen", "127.0.0.3", 1),
                           Entry("a@b@c", "fd00::ab", -1)});
  f.panel->UpdateReceiverMap(ports);
  EXPECT_EQ(f.list->RowFor(ReceiverKey("127.0.0.2"))->m_hWnd, first) << "rows rebuilt for ports alone";
  EXPECT_EQ(f.panel->receivers.at(ReceiverKey("127.0.0.2")).port, 47000) << "the stored copy was replaced";

  // Upper-case letters in an address are no change either; another address
  // under the same key is, and so is a name.
  ReceiverMap upper = lower;
  upper[ReceiverKey("fd00::ab")].address = "FD00::AB";
  f.panel->UpdateReceiverMap(upper);
  EXPECT_EQ(f.list->RowFor(ReceiverKey("127.0.0.2"))->m_hWnd, first) << "rows rebuilt for the address's case";
  ReceiverMap moved = lower;
  moved[ReceiverKey("fd00::ab")].address = "fd00::ac";
  f.panel->UpdateReceiverMap(moved);
  EXPECT_NE(f.list->RowFor(ReceiverKey("127.0.0.2"))->m_hWnd, first) << "a new address kept the old rows";
  EXPECT_EQ(f.panel->receivers.at(ReceiverKey("fd00::ab")).address, "fd00::ac");
  f.panel->UpdateReceiverMap(Map({Entry("Living Room@Den", "127.0.0.2"), Entry("Kitchen", "127.0.0.3"),
                                  Entry("a@b@c", "fd00::ab")}));
  EXPECT_EQ(f.RowNames(), (std::vector<std::wstring>{L"Den", L"Kitchen", L"b@c"}));
  f.panel->UpdateReceiverMap(Map({Entry("Kitchen", "127.0.0.3")}));
  EXPECT_EQ(f.RowNames(), (std::vector<std::wstring>{L"Kitchen"}));
}

TEST(Panel, TheMirroredReceiverNamesTheHeaderAndStopPutsItBackInTheList) {
  Fixture f;
  ASSERT_NE(f.list, nullptr);
  const ReceiverMap map = Map({Entry("Living Room@TV", "127.0.0.2"), Entry("Kitchen", "127.0.0.3")});
  f.panel->UpdateReceiverMap(map);
  EXPECT_EQ(f.panel->receiverLabel.GetDisplayText(), L"Apple TV");

  // The same map once a session to .2 runs: the header shows, the label
  // names it and its row goes.
  f.panel->state.isMainWindow = true;
  f.panel->state.sessionHost = "127.0.0.2";
  f.panel->UpdateReceiverMap(map);
  EXPECT_TRUE(f.panel->stopButton.IsWindowVisible());
  EXPECT_EQ(f.panel->receiverLabel.GetDisplayText(), L"TV");
  EXPECT_EQ(f.RowNames(), (std::vector<std::wstring>{L"Kitchen"}));

  // A switch to .3 with the same map and the header still shown: .3's row
  // goes and .2's comes back at this publication.
  f.panel->state.sessionHost = "127.0.0.3";
  f.panel->UpdateReceiverMap(map);
  EXPECT_EQ(f.panel->receiverLabel.GetDisplayText(), L"Kitchen");
  EXPECT_EQ(f.RowNames(), (std::vector<std::wstring>{L"TV"}));

  // Stop: the command goes to the main window and the receiver is back at
  // once, before any publication.
  f.owner.got.clear();
  f.panel->SendMessage(WM_COMMAND, MAKEWPARAM(1123, BN_CLICKED),
                       reinterpret_cast<LPARAM>(f.panel->stopButton.m_hWnd));
  Pump(100);
  EXPECT_EQ(f.owner.Commands(), (std::vector<UINT>{ID_STOP_MIRRORING}));
  EXPECT_FALSE(f.panel->stopButton.IsWindowVisible());
  EXPECT_EQ(f.RowNames(), (std::vector<std::wstring>{L"TV", L"Kitchen"}));
}

TEST(Panel, AnOwnerThatIsNotTheMainWindowMeansNoSession) {
  Recorder owner;
  CSessionMgrMain frame;  // the real panel: its owner is no CDlgPreference
  ASSERT_TRUE(frame.Create(nullptr, &owner));
  CDlgSessionMgr* panel = frame.Panel();
  ASSERT_NE(panel, nullptr);
  EXPECT_FALSE(panel->ReadOwnerState().isMainWindow);
  panel->UpdateReceiverMap(Map({Entry("Kitchen", "127.0.0.3")}));
  EXPECT_EQ(panel->listView->listView->RowCount(), 1);
  EXPECT_FALSE(panel->stopButton.GetStyle() & WS_VISIBLE);
}

TEST(Panel, TheCaptionStripDragsExceptOverTheHideButtonAndAtTheSides) {
  Fixture f(false);
  ASSERT_NE(f.panel, nullptr);
  RECT client{};
  GetClientRect(f.panel->m_hWnd, &client);
  const RECT hide = ClientRectOf(f.panel->hideButton.m_hWnd, f.panel->m_hWnd);
  const int bottom = f.panel->captionRect.bottom;
  struct Case {
    POINT pt;
    bool drags;
  } const cases[] = {
      {{5, 10}, true},
      {{4, 10}, false},
      {{client.right - 5, bottom}, true},
      {{client.right - 4, 10}, false},
      {{100, bottom}, true},
      {{100, bottom + 1}, false},
      {{(hide.left + hide.right) / 2, 10}, false},
      {{hide.left - 1, 10}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pt.x * 1000 + c.pt.y);
    EXPECT_EQ(f.panel->HitTestCaption(c.pt), c.drags);
  }
}

TEST(Panel, TheDisplayMenuListsTheMonitorsAndTheSettingsMenuItsFourItems) {
  Fixture f;
  ASSERT_NE(f.panel, nullptr);
  f.panel->state.isMainWindow = true;
  f.panel->state.current = 0;

  // Display menu: the grey title, "Mirror <device>" checked for the mirrored
  // display, "Extend Desktop", a separator. Choosing the monitor forwards
  // its command to the main window. (Never "Extend Desktop" under Wine.)
  UINT mirrorId = 0;
  MenuWatcher display([&](const std::vector<MenuItem>& items, HWND) {
    for (const MenuItem& item : items) {
      if (item.id == ID_SELECT_DISPLAY_FIRST) {
        mirrorId = item.id;
        Click((item.rect.left + item.rect.right) / 2, (item.rect.top + item.rect.bottom) / 2);
      }
    }
  });
  f.panel->SendMessage(WM_COMMAND, MAKEWPARAM(1122, BN_CLICKED), reinterpret_cast<LPARAM>(f.panel->displayButton.m_hWnd));
  display.Join();
  Pump(200);
  ASSERT_TRUE(display.sawMenu());
  const std::vector<MenuItem>& d = display.items();
  ASSERT_EQ(d.size(), 4u);
  EXPECT_EQ(d[0].text, L"Use Tessarine To:");
  EXPECT_TRUE(d[0].grayed);
  EXPECT_EQ(d[1].text, L"Mirror \\\\.\\DISPLAY1");
  EXPECT_EQ(d[1].id, ID_SELECT_DISPLAY_FIRST);
  EXPECT_TRUE(d[1].checked);
  EXPECT_EQ(d[2].text, L"Extend Desktop");
  EXPECT_EQ(d[2].id, ID_EXTEND_DESKTOP);
  EXPECT_FALSE(d[2].checked);
  EXPECT_TRUE(d[3].separator);
  EXPECT_EQ(f.owner.Commands(), (std::vector<UINT>{ID_SELECT_DISPLAY_FIRST}));

  // Settings menu: as the tray's; Preferences asks the main window to
  // toggle the panel.
  f.owner.got.clear();
  MenuWatcher settings([&](const std::vector<MenuItem>& items, HWND) {
    for (const MenuItem& item : items) {
      if (item.id == ID_PREFERENCES)
        Click((item.rect.left + item.rect.right) / 2, (item.rect.top + item.rect.bottom) / 2);
    }
  });
  f.panel->SendMessage(WM_COMMAND, MAKEWPARAM(1119, BN_CLICKED), reinterpret_cast<LPARAM>(f.panel->menuButton.m_hWnd));
  settings.Join();
  Pump(200);
  ASSERT_TRUE(settings.sawMenu());
  const std::vector<MenuItem>& s = settings.items();
  ASSERT_EQ(s.size(), 4u);
  const UINT ids[] = {ID_PREFERENCES, ID_CHECK_UPDATE, ID_APP_ABOUT, ID_APP_EXIT};
  const wchar_t* texts[] = {L"Preferences", L"Update", L"About", L"Exit"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(s[i].id, ids[i]);
    EXPECT_EQ(s[i].text, texts[i]);
    EXPECT_EQ(s[i].checkedBitmap != nullptr, i < 3);
  }
  ASSERT_EQ(f.owner.got.size(), 1u);
  EXPECT_EQ(f.owner.got[0].message, WM_TOGGLE_PREFERENCES);
}

TEST(Panel, WithAnExtendedDisplayItsMonitorLeavesTheMenuAndExtendDesktopIsChecked) {
  Fixture f(false);
  ASSERT_NE(f.panel, nullptr);
  cl::UniqueMenu menu(LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_DISPLAY_MENU)));
  HMENU popup = GetSubMenu(menu.get(), 0);
  PanelOwnerState state;
  state.isMainWindow = true;
  state.extended = true;
  state.extIndex = 0;  // the only monitor here stands for the added one
  state.current = 0;
  f.panel->BuildDisplayMenu(popup, state);
  ASSERT_EQ(GetMenuItemCount(popup), 3);
  EXPECT_EQ(GetMenuItemID(popup, 1), ID_EXTEND_DESKTOP);
  EXPECT_TRUE(GetMenuState(popup, 1, MF_BYPOSITION) & MF_CHECKED);
}

TEST(Rows, AClickSendsThePositionOfItsReceiverInTheListedMapDuringASessionAndAfterSorting) {
  Fixture f;
  ASSERT_NE(f.list, nullptr);
  // Keys in map order: .2, .3, .4 (positions 0, 1, 2). Names sort the
  // other way round.
  const ReceiverMap map = Map({Entry("Zulu", "127.0.0.2"), Entry("Yankee", "127.0.0.3"), Entry("Xray", "127.0.0.4")});
  f.panel->state.isMainWindow = true;
  f.panel->state.sessionHost = "127.0.0.2";
  f.panel->UpdateReceiverMap(map);
  ASSERT_EQ(f.RowNames(), (std::vector<std::wstring>{L"Yankee", L"Xray"}));

  auto clickRow = [&](const char* address) {
    CCtrlOneUser* row = f.list->RowFor(ReceiverKey(address));
    const POINT c = CentreOf(row->button.m_hWnd);
    Click(c.x, c.y);
    Pump(100);
    // The row's one-second lock is not what this test is about.
    row->clickLocked = false;
  };
  f.owner.got.clear();
  clickRow("127.0.0.4");  // first row place 1, map position 2
  clickRow("127.0.0.3");
  EXPECT_EQ(f.owner.Commands(), (std::vector<UINT>{60003, 60002}));

  // Sorted by name: Xray first now; the positions stay the map's.
  f.list->SortBy(1, true);
  ASSERT_EQ(f.RowNames(), (std::vector<std::wstring>{L"Xray", L"Yankee"}));
  f.owner.got.clear();
  clickRow("127.0.0.4");
  clickRow("127.0.0.3");
  EXPECT_EQ(f.owner.Commands(), (std::vector<UINT>{60003, 60002}));
  f.list->SortBy(1, true);
  EXPECT_EQ(f.RowNames(), (std::vector<std::wstring>{L"Yankee", L"Xray"}));
}

// More receivers than connect ids: rows stand for the listed positions
// 0-31 only, the last of them (scrolled to, as a person does) connects to
// position 31, and no row reaches the display or extend commands. With a
// session, its receiver's position gives no row and no other takes it.
TEST(Rows, FortyReceiversGiveRowsForTheFirstThirtyTwoPositionsOnly) {
  Fixture f;
  ASSERT_NE(f.list, nullptr);
  ReceiverMap map;
  for (int i = 10; i < 50; ++i) {
    const std::string a = "127.0.1." + std::to_string(i);
    map[ReceiverKey(a)] = Entry(("Rx" + std::to_string(i)).c_str(), a.c_str());
  }
  f.panel->UpdateReceiverMap(map);
  std::vector<std::wstring> names = f.RowNames();
  ASSERT_EQ(names.size(), 32u);
  EXPECT_EQ(names.front(), L"Rx10");
  EXPECT_EQ(names.back(), L"Rx41");

  f.list->HandleKey(VK_END);
  Pump(200);
  CCtrlOneUser* last = f.list->RowFor(ReceiverKey("127.0.1.41"));
  ASSERT_NE(last, nullptr);
  const POINT c = CentreOf(last->button.m_hWnd);
  f.owner.got.clear();
  Click(c.x, c.y);
  Pump(300);
  EXPECT_EQ(f.owner.Commands(), (std::vector<UINT>{60032}));

  f.panel->state.isMainWindow = true;
  f.panel->state.sessionHost = "127.0.1.15";
  f.panel->UpdateReceiverMap(map);
  names = f.RowNames();
  EXPECT_EQ(names.size(), 31u);
  EXPECT_EQ(names.back(), L"Rx41");
  EXPECT_EQ(f.list->RowFor(ReceiverKey("127.0.1.42")), nullptr);
}

TEST(Rows, ADoubleClickSendsOneCommandAndAClickASecondLaterAnother) {
  Fixture f;
  ASSERT_NE(f.list, nullptr);
  f.panel->UpdateReceiverMap(Map({Entry("Kitchen", "127.0.0.3")}));
  CCtrlOneUser* row = f.list->RowFor(ReceiverKey("127.0.0.3"));
  ASSERT_NE(row, nullptr);
  const POINT c = CentreOf(row->button.m_hWnd);
  f.owner.got.clear();
  DoubleClick(c.x, c.y);
  Pump(300);
  EXPECT_EQ(f.owner.Commands(), (std::vector<UINT>{60001}));
  Pump(1000);
  Click(c.x, c.y);
  Pump(100);
  EXPECT_EQ(f.owner.Commands(), (std::vector<UINT>{60001, 60001}));
}

}  // namespace
