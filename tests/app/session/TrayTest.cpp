// The tray icon as the shell gets it (through the recording seam), its
// limits, and real clicks on Wine's tray icon: the left click shows the
// session window centred, the right click the four-item menu, whose About
// opens one about box however often it is asked for.
#include <atomic>
#include <string>

#include "SessionTest.h"
#include "app/SessionMgrMain.h"
#include "app/TundraApp.h"

namespace {

using namespace sessiontest;

TEST(Tray, TheShellGetsTheIconThenTheTipThenTheStartupBalloon) {
  ClearTuningValues();
  TestMainWindow main;
  ASSERT_TRUE(main.Open());
  ASSERT_TRUE(PumpUntil([&] { return main.shellCalls.size() >= 3; }));

  const NOTIFYICONDATAW& add = main.shellCalls[0].data;
  EXPECT_EQ(main.shellCalls[0].message, static_cast<DWORD>(NIM_ADD));
  // The full structure of the running architecture.
  EXPECT_EQ(add.cbSize, sizeof(void*) == 8 ? 976u : 956u);
  EXPECT_EQ(add.cbSize, sizeof(NOTIFYICONDATAW));
  EXPECT_EQ(add.hWnd, main.m_hWnd);
  EXPECT_EQ(add.uID, 132u);
  EXPECT_EQ(add.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
  EXPECT_EQ(add.uCallbackMessage, 0x7F4u);
  EXPECT_NE(add.hIcon, nullptr);
  EXPECT_STREQ(add.szTip, L"");
  EXPECT_EQ(add.uVersion, 4u);

  const NOTIFYICONDATAW& tip = main.shellCalls[1].data;
  EXPECT_EQ(main.shellCalls[1].message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_TRUE(tip.uFlags & NIF_TIP);
  EXPECT_STREQ(tip.szTip, L"Tessarine");

  const NOTIFYICONDATAW& balloon = main.shellCalls[2].data;
  EXPECT_EQ(main.shellCalls[2].message, static_cast<DWORD>(NIM_MODIFY));
  EXPECT_TRUE(balloon.uFlags & NIF_INFO);
  EXPECT_STREQ(balloon.szInfoTitle, L"Tessarine");
  EXPECT_STREQ(balloon.szInfo, L"Click to start Tessarine");
  EXPECT_EQ(balloon.dwInfoFlags, static_cast<DWORD>(NIIF_INFO));
  EXPECT_EQ(balloon.uTimeout, 1000u);
}

TEST(Tray, ATipOrBalloonThatDoesNotFitLeavesTheIconAlone) {
  TestMainWindow main;
  ASSERT_TRUE(main.Open());
  ASSERT_TRUE(PumpUntil([&] { return main.shellCalls.size() >= 3; }));
  struct Case {
    const char* what;
    size_t tip, title, text;  // lengths; 0: not this call
    bool accepted;
  } const cases[] = {
      {"tip of 127", 127, 0, 0, true},      {"tip of 128", 128, 0, 0, false},
      {"title of 63", 0, 63, 10, true},     {"title of 64", 0, 64, 10, false},
      {"text of 255", 0, 10, 255, true},    {"text of 256", 0, 10, 256, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t before = main.shellCalls.size();
    const NOTIFYICONDATAW was = main.TrayData();
    bool result;
    if (c.tip)
      result = main.SetTrayTip(std::wstring(c.tip, L't'));
    else
      result = main.ShowTrayBalloon(std::wstring(c.title, L'h'), std::wstring(c.text, L'x'), NIIF_WARNING);
    if (c.accepted) {
      EXPECT_TRUE(result);
      ASSERT_EQ(main.shellCalls.size(), before + 1);
      EXPECT_EQ(main.shellCalls.back().message, static_cast<DWORD>(NIM_MODIFY));
      if (c.tip) {
        EXPECT_EQ(wcslen(main.shellCalls.back().data.szTip), c.tip);
      }
      if (c.text) {
        EXPECT_EQ(wcslen(main.shellCalls.back().data.szInfo), c.text);
      }
    } else {
      EXPECT_FALSE(result);
      EXPECT_EQ(main.shellCalls.size(), before);
      EXPECT_STREQ(main.TrayData().szTip, was.szTip);
      EXPECT_STREQ(main.TrayData().szInfo, was.szInfo);
    }
  }
}

HWND FindTrayIcon() {
  HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
  if (!tray) tray = FindWindowW(nullptr, L"__winex11_standalone_tray");
  if (!tray) return nullptr;
  HWND icon = FindWindowExW(tray, nullptr, L"__winex11_tray_icon", nullptr);
  return icon ? icon : FindWindowExW(tray, nullptr, nullptr, L"__winex11_tray_icon");
}

struct AboutBoxes {
  int count = 0;
  HWND first = nullptr;
};

BOOL CALLBACK CountAbout(HWND h, LPARAM p) {
  wchar_t cls[16] = {}, text[64] = {};
  GetClassNameW(h, cls, 16);
  GetWindowTextW(h, text, 64);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid == GetCurrentProcessId() && wcscmp(cls, L"#32770") == 0 && wcscmp(text, L"About Tessarine") == 0 &&
      IsWindowVisible(h)) {
    auto* a = reinterpret_cast<AboutBoxes*>(p);
    if (!a->first) a->first = h;
    ++a->count;
  }
  return TRUE;
}

AboutBoxes FindAboutBoxes() {
  AboutBoxes a;
  EnumWindows(&CountAbout, reinterpret_cast<LPARAM>(&a));
  return a;
}

TEST(Tray, RealClicksShowTheCentredSessionWindowAndTheMenuWhoseAboutOpensOneBox) {
  CTundraApp app;
  TestMainWindow main(true);
  app.SetMainWnd(&main);
  ASSERT_TRUE(main.Open());
  HWND icon = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (icon = FindTrayIcon()) != nullptr; }, 10000)) << "no tray icon";

  // Left click: the session window (its panel's 303 x 453 at 100 %),
  // centred on the 1280 x 720 screen.
  const POINT at = CentreOf(icon);
  Click(at.x, at.y);
  ASSERT_TRUE(PumpUntil([&] {
    return main.SessionWindow() && main.SessionWindow()->m_hWnd && IsWindowVisible(main.SessionWindow()->m_hWnd);
  }, 10000));
  RECT r{};
  GetWindowRect(main.SessionWindow()->m_hWnd, &r);
  EXPECT_EQ(r.left, (1280 - 303) / 2);
  EXPECT_EQ(r.top, (720 - 453) / 2);
  EXPECT_EQ(r.right - r.left, 303);
  EXPECT_EQ(r.bottom - r.top, 453);

  // Right click: the menu; About is chosen, asked for once more while its
  // box is open, and the box closed.
  std::atomic<int> boxesFirst{-1}, boxesSecond{-1};
  std::atomic<bool> aboutForeground{false};
  HWND mainHwnd = main.m_hWnd;
  MenuWatcher watcher([&](const std::vector<MenuItem>& items, HWND) {
    for (const MenuItem& item : items) {
      if (item.id != ID_APP_ABOUT) continue;
      Click((item.rect.left + item.rect.right) / 2, (item.rect.top + item.rect.bottom) / 2);
    }
    AboutBoxes a;
    testwait::Until([&] { return (a = FindAboutBoxes()).count != 0; }, 10000, 50);
    boxesFirst = a.count;
    if (!a.first) return;
    PostMessageW(mainHwnd, WM_COMMAND, ID_APP_ABOUT, 0);
    Sleep(testwait::Ms(800));  // the second request has been handled
    a = FindAboutBoxes();
    boxesSecond = a.count;
    aboutForeground = GetForegroundWindow() == a.first;
    PostMessageW(a.first, WM_CLOSE, 0, 0);
  });
  Click(at.x, at.y, true);
  EXPECT_TRUE(PumpUntil([&] { return boxesSecond.load() >= 0 && FindAboutBoxes().count == 0; }, 20000));
  watcher.Join();
  ASSERT_TRUE(watcher.sawMenu());

  const std::vector<MenuItem>& items = watcher.items();
  ASSERT_EQ(items.size(), 4u);
  struct Want {
    const wchar_t* text;
    UINT id;
    bool bitmap;
  } const want[] = {{L"Preferences", 32789, true}, {L"Update", 32790, true}, {L"About", 57664, true},
                    {L"Exit", 57665, false}};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(items[i].text, want[i].text);
    EXPECT_EQ(items[i].id, want[i].id);
    EXPECT_EQ(items[i].checkedBitmap != nullptr, want[i].bitmap);
    EXPECT_EQ(items[i].checkedBitmap, items[i].uncheckedBitmap);
  }
  EXPECT_EQ(boxesFirst.load(), 1);
  EXPECT_EQ(boxesSecond.load(), 1);
  EXPECT_TRUE(aboutForeground.load());
  main.Close();
}

}  // namespace
