// Message maps: which row a message reaches (message, command, command
// range, control notification, WM_NOTIFY), derived rows before base rows,
// the default procedure for the rest, and reflection to a child's object.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "classlib/Wnd.h"

namespace {

std::vector<std::string> g_calls;

class BaseWnd : public cl::CWnd {
 public:
  LRESULT OnApp1(WPARAM, LPARAM) {
    g_calls.push_back("base1");
    return 1;
  }
  LRESULT OnApp2(WPARAM w, LPARAM) {
    g_calls.push_back("base2:" + std::to_string(w));
    return 7;
  }

 protected:
  const cl::MessageMap* GetMessageMap() const override {
    static const cl::MessageMap map{cl::CWnd::GetMessageMap(),
                                    {
                                        cl::OnMessage(WM_APP + 1, &BaseWnd::OnApp1),
                                        cl::OnMessage(WM_APP + 2, &BaseWnd::OnApp2),
                                    }};
    return &map;
  }
};

class TestWnd : public BaseWnd {
 public:
  LRESULT OnApp1Derived(WPARAM, LPARAM) {
    g_calls.push_back("derived1");
    return 42;
  }
  void OnCmd100() { g_calls.push_back("cmd100"); }
  void OnRange(UINT id) { g_calls.push_back("range" + std::to_string(id)); }
  void OnEditChange() { g_calls.push_back("ctl300"); }
  void OnClick400(NMHDR* h, LRESULT* result) {
    g_calls.push_back("notify" + std::to_string(h->idFrom));
    *result = 5;
  }
  LRESULT OnSetText(WPARAM, LPARAM) {
    g_calls.push_back("settext");
    return Default();
  }
  void OnChildCmd() { g_calls.push_back("parent500"); }
  LRESULT OnCtlColorStatic(WPARAM, LPARAM) {
    g_calls.push_back("parentcolor");
    return 0;
  }

 protected:
  const cl::MessageMap* GetMessageMap() const override {
    static const cl::MessageMap map{
        BaseWnd::GetMessageMap(),
        {
            cl::OnMessage(WM_APP + 1, &TestWnd::OnApp1Derived),
            cl::OnCommand(100, &TestWnd::OnCmd100),
            cl::OnCommandRange(200, 210, &TestWnd::OnRange),
            cl::OnControl(EN_CHANGE, 300, &TestWnd::OnEditChange),
            cl::OnNotify(NM_CLICK, 400, &TestWnd::OnClick400),
            cl::OnMessage(WM_SETTEXT, &TestWnd::OnSetText),
            cl::OnCommand(500, &TestWnd::OnChildCmd),
            cl::OnMessage(WM_CTLCOLORSTATIC, &TestWnd::OnCtlColorStatic),
        }};
    return &map;
  }
};

// A control that handles what its parent is told about it (the control
// kit's owner-drawn statics and buttons do this).
class ReflectingChild : public cl::CWnd {
 public:
  HBRUSH brush = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  std::wstring textAtSubclassing;
  void PreSubclassWindow() override {
    wchar_t t[32] = {};
    GetWindowTextW(m_hWnd, t, 32);
    textAtSubclassing = t;
  }
  LRESULT OnReflectedCommand(WPARAM w, LPARAM) {
    g_calls.push_back("reflected" + std::to_string(LOWORD(w)));
    return 0;
  }
  LRESULT OnReflectedColor(WPARAM, LPARAM) {
    g_calls.push_back("reflectedcolor");
    return reinterpret_cast<LRESULT>(brush);
  }

 protected:
  const cl::MessageMap* GetMessageMap() const override {
    static const cl::MessageMap map{
        cl::CWnd::GetMessageMap(),
        {
            cl::OnMessage(cl::WM_REFLECT_BASE + WM_COMMAND, &ReflectingChild::OnReflectedCommand),
            cl::OnMessage(cl::WM_REFLECT_BASE + cl::WM_CTLCOLOR_LEGACY,
                          &ReflectingChild::OnReflectedColor),
        }};
    return &map;
  }
};

class MessageMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls.clear();
    ASSERT_TRUE(wnd.CreateEx(0, nullptr, L"map test", WS_POPUP, RECT{0, 0, 100, 100}, nullptr, 0));
    control = CreateWindowExW(0, L"Edit", L"", WS_CHILD, 0, 0, 10, 10, wnd.m_hWnd,
                              reinterpret_cast<HMENU>(300), nullptr, nullptr);
    ASSERT_NE(control, nullptr);
    g_calls.clear();
  }
  TestWnd wnd;
  HWND control = nullptr;
};

TEST_F(MessageMapTest, EachKindOfRowGetsItsMessages) {
  NMHDR click{control, 400, static_cast<UINT>(NM_CLICK)};
  NMHDR dblclk{control, 400, static_cast<UINT>(NM_DBLCLK)};
  NMHDR otherId{control, 401, static_cast<UINT>(NM_CLICK)};
  const LPARAM ctl = reinterpret_cast<LPARAM>(control);
  struct Case {
    const char* what;
    UINT msg;
    WPARAM w;
    LPARAM l;
    const char* call;  // "" = no row ran
    LRESULT result;
  } cases[] = {
      {"derived row wins", WM_APP + 1, 0, 0, "derived1", 42},
      {"base row still reached", WM_APP + 2, 9, 0, "base2:9", 7},
      {"menu command", WM_COMMAND, MAKEWPARAM(100, 0), 0, "cmd100", 0},
      {"accelerator command", WM_COMMAND, MAKEWPARAM(100, 1), 0, "cmd100", 0},
      {"button click is a command", WM_COMMAND, MAKEWPARAM(100, BN_CLICKED), ctl, "cmd100", 0},
      {"range low end", WM_COMMAND, MAKEWPARAM(200, 0), 0, "range200", 0},
      {"range inside", WM_COMMAND, MAKEWPARAM(205, 0), 0, "range205", 0},
      {"range high end", WM_COMMAND, MAKEWPARAM(210, 0), 0, "range210", 0},
      {"below range", WM_COMMAND, MAKEWPARAM(199, 0), 0, "", 0},
      {"above range", WM_COMMAND, MAKEWPARAM(211, 0), 0, "", 0},
      {"control code", WM_COMMAND, MAKEWPARAM(300, EN_CHANGE), ctl, "ctl300", 0},
      {"other control code", WM_COMMAND, MAKEWPARAM(300, EN_KILLFOCUS), ctl, "", 0},
      {"notify", WM_NOTIFY, 400, reinterpret_cast<LPARAM>(&click), "notify400", 5},
      {"notify other code", WM_NOTIFY, 400, reinterpret_cast<LPARAM>(&dblclk), "", 0},
      {"notify other id", WM_NOTIFY, 401, reinterpret_cast<LPARAM>(&otherId), "", 0},
      {"no row: default procedure", WM_APP + 9, 0, 0, "", 0},
  };
  for (const Case& c : cases) {
    g_calls.clear();
    LRESULT r = SendMessageW(wnd.m_hWnd, c.msg, c.w, c.l);
    std::vector<std::string> want;
    if (*c.call) want.push_back(c.call);
    EXPECT_EQ(g_calls, want) << c.what;
    EXPECT_EQ(r, c.result) << c.what;
  }
}

TEST_F(MessageMapTest, DefaultRunsTheOldProcedureForTheCurrentMessage) {
  SetWindowTextW(wnd.m_hWnd, L"changed");
  wchar_t text[32] = {};
  GetWindowTextW(wnd.m_hWnd, text, 32);
  EXPECT_STREQ(text, L"changed");
  EXPECT_EQ(g_calls, std::vector<std::string>{"settext"});
}

TEST_F(MessageMapTest, ChildObjectGetsItsNotificationsFirst) {
  HWND childHwnd = CreateWindowExW(0, L"Static", L"label", WS_CHILD, 0, 0, 10, 10, wnd.m_hWnd,
                                   reinterpret_cast<HMENU>(500), nullptr, nullptr);
  ReflectingChild child;
  ASSERT_TRUE(child.SubclassWindow(childHwnd));
  EXPECT_EQ(child.textAtSubclassing, L"label");
  const LPARAM l = reinterpret_cast<LPARAM>(childHwnd);

  LRESULT r = SendMessageW(wnd.m_hWnd, WM_COMMAND, MAKEWPARAM(500, STN_CLICKED), l);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(g_calls, std::vector<std::string>{"reflected500"});

  g_calls.clear();
  HDC dc = GetDC(childHwnd);
  r = SendMessageW(wnd.m_hWnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), l);
  ReleaseDC(childHwnd, dc);
  EXPECT_EQ(r, reinterpret_cast<LRESULT>(child.brush));
  EXPECT_EQ(g_calls, std::vector<std::string>{"reflectedcolor"});

  // Without an object of its own the control's notification is the parent's.
  g_calls.clear();
  EXPECT_EQ(child.UnsubclassWindow(), childHwnd);
  SendMessageW(wnd.m_hWnd, WM_COMMAND, MAKEWPARAM(500, BN_CLICKED), l);
  EXPECT_EQ(g_calls, std::vector<std::string>{"parent500"});
  DestroyWindow(childHwnd);
}

TEST_F(MessageMapTest, ObjectLetsGoOfItsWindow) {
  HWND hwnd = wnd.m_hWnd;
  EXPECT_EQ(cl::CWnd::FromHandlePermanent(hwnd), &wnd);
  ASSERT_TRUE(wnd.DestroyWindow());
  EXPECT_EQ(wnd.m_hWnd, nullptr);
  EXPECT_EQ(cl::CWnd::FromHandlePermanent(hwnd), nullptr);

  // A subclassed window outlives its object and gets its own procedure back.
  HWND edit = CreateWindowExW(0, L"Edit", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                              nullptr);
  auto proc = GetWindowLongPtrW(edit, GWLP_WNDPROC);
  {
    cl::CWnd temp;
    ASSERT_TRUE(temp.SubclassWindow(edit));
    EXPECT_NE(GetWindowLongPtrW(edit, GWLP_WNDPROC), proc);
    EXPECT_FALSE(cl::CWnd().SubclassWindow(edit)) << "one object per window";
  }
  EXPECT_TRUE(IsWindow(edit));
  EXPECT_EQ(GetWindowLongPtrW(edit, GWLP_WNDPROC), proc);
  SetWindowTextW(edit, L"still an edit");
  EXPECT_EQ(GetWindowTextLengthW(edit), 13);
  DestroyWindow(edit);
}

}  // namespace
