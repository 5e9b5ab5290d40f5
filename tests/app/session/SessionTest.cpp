#include "SessionTest.h"

#include <commctrl.h>
#include <objbase.h>

#include <cstdlib>
#include <cwchar>

#include "classlib/GdiPlus.h"
#include "classlib/MainWindow.h"
#include "engine/mirror/Mirror.h"
#include <cstring>

namespace sessiontest {

float RunScale() {
  const char* lp = std::getenv("TESS_LOGPIXELS");
  return lp ? static_cast<float>(std::atoi(lp)) / 96.0f : 1.0f;
}

using uidrive::SendMouse;

void Click(int x, int y, bool right) {
  MouseMove(x, y);
  SendMouse(right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN);
  Pump(40);
  SendMouse(right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP);
  Pump(60);
}

void DoubleClick(int x, int y) {
  MouseMove(x, y);
  for (int i = 0; i < 2; ++i) {
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    SendMouse(MOUSEEVENTF_LEFTUP);
  }
  Pump(100);
}

void Key(WORD vk) {
  uidrive::TapKey(vk);
  Pump(60);
}

// ------------------------------------------------------------------ Recorder

Recorder::Recorder() { CreateEx(0, nullptr, L"recorder", WS_POPUP, RECT{0, 0, 10, 10}, nullptr, 0); }

Recorder::~Recorder() { DestroyWindow(); }

std::vector<UINT> Recorder::Commands() const {
  std::vector<UINT> ids;
  for (const Got& g : got) {
    if (g.message == WM_COMMAND) ids.push_back(LOWORD(g.wParam));
  }
  return ids;
}

LRESULT Recorder::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND || message >= WM_APP || (message >= 0x7F4 && message <= 0x7F9)) {
    got.push_back({message, wParam, lParam});
    return 0;
  }
  return cl::CWnd::WindowProc(message, wParam, lParam);
}

// ------------------------------------------------------------------- menus

std::vector<MenuItem> ReadMenu(HWND menuWindow) {
  std::vector<MenuItem> items;
  DWORD_PTR r = 0;
  SendMessageTimeoutW(menuWindow, MN_GETHMENU, 0, 0, SMTO_ABORTIFHUNG, testwait::Ms(2000), &r);
  HMENU menu = reinterpret_cast<HMENU>(r);
  if (!menu) return items;
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    wchar_t text[256] = {};
    MENUITEMINFOW mi{};
    mi.cbSize = sizeof(mi);
    mi.fMask = MIIM_STRING | MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_CHECKMARKS;
    mi.dwTypeData = text;
    mi.cch = 255;
    GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &mi);
    MenuItem item;
    item.text = text;
    item.id = mi.wID;
    item.separator = (mi.fType & MFT_SEPARATOR) != 0;
    item.checked = (mi.fState & MFS_CHECKED) != 0;
    item.grayed = (mi.fState & MFS_GRAYED) != 0;
    item.checkedBitmap = mi.hbmpChecked;
    item.uncheckedBitmap = mi.hbmpUnchecked;
    GetMenuItemRect(nullptr, menu, static_cast<UINT>(i), &item.rect);
    items.push_back(item);
  }
  return items;
}

void DismissMenu(HWND) { uidrive::TapKey(VK_ESCAPE); }

MenuWatcher::MenuWatcher(Then then, DWORD waitMs) {
  thread_ = std::thread([this, then, waitMs] {
    HWND menuWindow = nullptr;
    const DWORD boundMs = testwait::Ms(waitMs);
    for (DWORD t0 = GetTickCount(); GetTickCount() - t0 < boundMs; Sleep(20)) {
      menuWindow = FindWindowW(L"#32768", nullptr);
      if (menuWindow && IsWindowVisible(menuWindow)) break;
      menuWindow = nullptr;
    }
    if (!menuWindow) return;
    Sleep(testwait::Ms(200));  // the menu has laid its items out
    items_ = ReadMenu(menuWindow);
    sawMenu_ = true;
    if (then) then(items_, menuWindow);
  });
}

MenuWatcher::~MenuWatcher() { Join(); }

void MenuWatcher::Join() {
  if (thread_.joinable()) thread_.join();
}

// ------------------------------------------------------------ main window

TestMainWindow::~TestMainWindow() { Close(); }

bool TestMainWindow::Open() {
  if (!Create(nullptr)) return false;
  Pump(200);
  return true;
}

void TestMainWindow::Close() {
  if (m_hWnd) DestroyWindow();
}

void TestMainWindow::GiveSession() {
  if (!session_) session_ = new CMirror(&params_);
}

BOOL TestMainWindow::ShellNotify(DWORD message, NOTIFYICONDATAW* data) {
  shellCalls.push_back({message, *data});
  return passThrough_ ? CDlgPreference::ShellNotify(message, data) : TRUE;
}

void ClearTuningValues() { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Orvanta\\Tessarine Sender"); }

namespace {

// GDI+, the common controls and OLE for every test of the binary.
class SessionEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_EQ(gdiplus_.Start(), Gdiplus::Ok);
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&icc);
    OleInitialize(nullptr);
  }
  void TearDown() override {
    OleUninitialize();
    gdiplus_.Shutdown();
  }

 private:
  cl::GdiplusSession gdiplus_;
};

}  // namespace

}  // namespace sessiontest

// The binary also stands in for the program when the error page restarts
// the Bonjour service: started with "-restartbj", it sleeps
// TESS_TEST_RESTART_SLEEP_MS and exits with TESS_TEST_RESTART_EXIT.
int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-restartbj") == 0) {
      if (const char* ms = std::getenv("TESS_TEST_RESTART_SLEEP_MS")) Sleep(static_cast<DWORD>(std::atoi(ms)));
      const char* code = std::getenv("TESS_TEST_RESTART_EXIT");
      return code ? std::atoi(code) : 0;
    }
  }
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new sessiontest::SessionEnvironment);
  return RUN_ALL_TESTS();
}
