// tessctl COMMAND [ARGS]: drives a running Tessarine.exe from outside, as the
// end-to-end tests and the demo do. Every wait is bounded; the exit code is
// 0 when the command did what it says, 1 otherwise, 2 on bad usage.
//
//   launch EXE [ARGS...]   starts the program, waits for its hidden main
//                          window; prints "main window after N ms" and the pid
//   main                   prints the main window, its pid and visibility
//   wait-main [MS]         waits for the main window (default 20000 ms)
//   wait-gone [MS]         waits until the program that owns the main
//                          window has exited; prints its exit code
//   post MSG [W [L]]       posts a message to the main window (numbers:
//                          decimal or 0x hex)
//   command ID             posts WM_COMMAND ID to the main window
//   send-command ID        sends WM_COMMAND ID and prints how long the main
//                          window took to answer
//   key return|escape      posts WM_KEYDOWN/WM_KEYUP of the key to the main
//                          window and to one of its controls
//   token TEXT             stores TEXT as txSToken and posts WM_CONNECT_BY_TEXT
//   status                 prints the main window's status line (1001)
//   wait-status TEXT [MS]  waits until the status line begins with TEXT
//   session [MS]           waits for the visible session window; prints where
//                          it is, its rows (top to bottom) and its header
//   wait-rows N [MS]       waits until the session window lists N receivers
//   click-row K|NAME       clicks (SendInput) row K from the top, or the row
//                          showing NAME; prints when (ms since 1970)
//   wait-header NAME [MS]  waits until the session header shows and names NAME;
//                          prints how long that took and when (ms since 1970)
//   wait-no-header [MS]    waits until the session header is hidden; prints
//                          how long that took and when
//   panel-click ID         clicks (SendInput) control ID of the session panel
//                          (1146 connect, 1119 menu, 1120 hide, 1123 stop)
//   click-row K            clicks row K of the session window
//   wait-listed NAME [MS]  waits until the session window lists a receiver
//                          named NAME; prints how long that took and the list
//   wait-unlisted NAME [MS]
//                          waits until it no longer lists NAME (the window
//                          still shown)
//   wait-balloon TEXT [MS] waits for a tray balloon that shows TEXT
//   displays               prints every display device with its current and
//                          stored mode and how many modes it offers, and the
//                          number of monitors
//   close-session          closes the session window (as its X button does)
//   tray                   prints the centre of the program's tray icon
//   click X Y [right|double]
//                          clicks (SendInput) at screen coordinates
//   menu [MS]              waits for a popup menu; prints where it is (and
//                          its items, "ID<tab>TEXT<tab>flags", where the
//                          menu can be read from another process)
//   menu-pick K N [MS]     waits for a popup menu of N items of one height
//                          and clicks item K (from 0)
//   type TEXT [enter]      types TEXT (SendInput) into the focused edit
//                          after clearing it, then Enter when asked
//   keys ID left|right|up|down N
//                          posts N presses of the key to control ID of the
//                          main window (a slider), as the keyboard would
//   text ID                prints the text of control ID of the main window
//   window TITLE [MS]      waits for a visible dialog ("#32770") titled TITLE;
//                          prints where it is
//   window-close TITLE     posts WM_CLOSE to that dialog
//   window-click TITLE ID  clicks (SendInput) control ID of that dialog
//   error-dialog KIND MS [MESSAGE]
//                          shows the program's error dialog of that kind in
//                          this process for MS milliseconds (for screenshots)
//   box [MS]               waits for a box (a message box, the about box or
//                          the error dialog); prints its text
//   box-ok                 presses OK on that box (Close on the error dialog)
//   boxes                  prints how many message boxes are open
//   prompt CAPTION [MS]    waits for the input box of that caption; prints
//                          its prompt (1142)
//   prompt-answer CAPTION [TEXT]
//                          types TEXT into the input box and presses OK;
//                          without TEXT presses Cancel
//   exit-event             sets "Global\Nb5TxExitEvent"; prints how long the
//                          program took to exit
//   start-and-wait EXE [ARGS...]
//                          starts EXE (a second start, "-x") while holding the
//                          running program; prints both exit codes and how
//                          long after the start the running program ended
//   hold FILE SECONDS      opens FILE without sharing for SECONDS (prints
//                          "holding" once it is open)
//   windows                prints the program's windows: "windows N
//                          top-level T tooltips P gdi G user U" (every window
//                          of its process, its top-level ones, its top-level
//                          tooltips; GDI and USER objects where Windows
//                          tells them)
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/dialogs/DlgError.h"
#include "app/resources/resource.h"
#include "classlib/GdiPlus.h"
#include "classlib/Resource.h"

#include "classlib/Str.h"
#include "foundation/settings/FrameUtility.h"

namespace {

constexpr UINT kStatusLine = 1001;
constexpr UINT kFirstRow = 60001;
constexpr UINT kWmConnectByText = 0x7F9;

DWORD Now() { return GetTickCount(); }

// Wall-clock milliseconds since 1970, for matching with the test's own clock.
unsigned long long WallMs() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const unsigned long long t = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return t / 10000ULL - 11644473600000ULL;
}

// The main window: a "#32770" top-level window with the status line 1001
// whose caption is the program's name.
HWND FindMain() {
  HWND h = nullptr;
  while ((h = FindWindowExW(nullptr, h, L"#32770", L"Tessarine")) != nullptr) {
    if (GetDlgItem(h, kStatusLine)) return h;
  }
  return nullptr;
}

HWND WaitMain(DWORD ms) {
  for (DWORD t0 = Now();; Sleep(20)) {
    if (HWND h = FindMain()) return h;
    if (Now() - t0 >= ms) return nullptr;
  }
}

DWORD ProgramPid() {
  HWND h = FindMain();
  DWORD pid = 0;
  if (h) GetWindowThreadProcessId(h, &pid);
  return pid;
}

std::wstring Text(HWND h) {
  wchar_t buf[1024] = {};
  DWORD_PTR r = 0;
  SendMessageTimeoutW(h, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000, &r);
  return buf;
}

// What one process holds of windows.
struct WindowCount {
  DWORD pid = 0;
  int all = 0;
  int topLevel = 0;
  int tooltips = 0;
};

BOOL CALLBACK CountChild(HWND, LPARAM param) {
  ++reinterpret_cast<WindowCount*>(param)->all;
  return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND h, LPARAM param) {
  auto* c = reinterpret_cast<WindowCount*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid != c->pid) return TRUE;
  ++c->all;
  ++c->topLevel;
  wchar_t cls[64] = {};
  GetClassNameW(h, cls, 64);
  if (_wcsicmp(cls, TOOLTIPS_CLASSW) == 0) ++c->tooltips;
  EnumChildWindows(h, &CountChild, param);
  return TRUE;
}

void Print(const std::wstring& text) { printf("%s\n", cl::WideToUtf8(text).c_str()); }

unsigned long Number(const char* text) { return strtoul(text, nullptr, 0); }

HWND FindSession() { return FindWindowW(nullptr, L"Tessarine Session"); }

// The session panel's rows (windows of id 61100 with the receiver's name
// as text), top to bottom, and the panel itself.
constexpr int kRowId = 61100;
constexpr int kRowButtonId = 61105;
constexpr int kHeaderLabel = 1131;
constexpr int kStopButton = 1123;

struct Rows {
  std::vector<HWND> buttons;  // the rows themselves
};

BOOL CALLBACK CollectRows(HWND h, LPARAM param) {
  if (GetDlgCtrlID(h) == kRowId && IsWindowVisible(h)) reinterpret_cast<Rows*>(param)->buttons.push_back(h);
  return TRUE;
}

Rows SessionRows(HWND session) {
  Rows rows;
  EnumChildWindows(session, &CollectRows, reinterpret_cast<LPARAM>(&rows));
  std::sort(rows.buttons.begin(), rows.buttons.end(), [](HWND a, HWND b) {
    RECT ra{}, rb{};
    GetWindowRect(a, &ra);
    GetWindowRect(b, &rb);
    return ra.top < rb.top;
  });
  return rows;
}

struct ById {
  int id;
  HWND found = nullptr;
};

BOOL CALLBACK FindById(HWND h, LPARAM param) {
  auto* s = reinterpret_cast<ById*>(param);
  if (GetDlgCtrlID(h) == s->id && !s->found) s->found = h;
  return TRUE;
}

// A control of the session window (any depth) by its id.
HWND SessionControl(int id) {
  HWND s = FindSession();
  if (!s) return nullptr;
  ById find{id};
  EnumChildWindows(s, &FindById, reinterpret_cast<LPARAM>(&find));
  return find.found;
}

void SendMouse(DWORD flags, int x = 0, int y = 0) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dwFlags = flags;
  if (flags & MOUSEEVENTF_ABSOLUTE) {
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    in.mi.dx = MulDiv(x, 65535, w - 1);
    in.mi.dy = MulDiv(y, 65535, h - 1);
  }
  SendInput(1, &in, sizeof(in));
}

// A real click, as a person's: move there, press, release.
void ClickAt(int x, int y, const std::string& how = "") {
  SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, x, y);
  Sleep(60);
  const bool right = how == "right";
  const int times = how == "double" ? 2 : 1;
  for (int i = 0; i < times; ++i) {
    SendMouse(right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN);
    Sleep(30);
    SendMouse(right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP);
    Sleep(30);
  }
}

void Key(WORD vk, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &in, sizeof(in));
}

void Press(WORD vk) {
  Key(vk, false);
  Key(vk, true);
}

// Typed as a person's keyboard would: what the edit holds is selected
// (Home, Shift+End) and replaced.
void TypeText(const std::wstring& text, bool enter) {
  Press(VK_HOME);
  Key(VK_SHIFT, false);
  Press(VK_END);
  Key(VK_SHIFT, true);
  Press(VK_DELETE);
  for (wchar_t ch : text) {
    INPUT in[2]{};
    for (int i = 0; i < 2; ++i) {
      in[i].type = INPUT_KEYBOARD;
      in[i].ki.wScan = ch;
      in[i].ki.dwFlags = KEYEVENTF_UNICODE | (i ? KEYEVENTF_KEYUP : 0);
    }
    SendInput(2, in, sizeof(INPUT));
    Sleep(20);
  }
  if (enter) {
    Sleep(100);
    Press(VK_RETURN);
  }
}

void ClickWindow(HWND h) {
  RECT r{};
  GetWindowRect(h, &r);
  ClickAt((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

HWND FindTrayIcon() {
  HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
  if (!tray) tray = FindWindowW(nullptr, L"__winex11_standalone_tray");
  if (!tray) return nullptr;
  HWND icon = FindWindowExW(tray, nullptr, L"__winex11_tray_icon", nullptr);
  return icon ? icon : FindWindowExW(tray, nullptr, nullptr, L"__winex11_tray_icon");
}

HWND WaitMenuWindow(DWORD ms) {
  for (DWORD t0 = Now();; Sleep(20)) {
    HWND m = FindWindowW(L"#32768", nullptr);
    if (m && IsWindowVisible(m)) {
      Sleep(150);  // laid out
      return m;
    }
    if (Now() - t0 >= ms) return nullptr;
  }
}

struct MenuItemRead {
  UINT id;
  std::wstring text;
  std::string flags;
  RECT rect;
};

std::vector<MenuItemRead> ReadMenu(HWND menuWindow) {
  std::vector<MenuItemRead> items;
  DWORD_PTR r = 0;
  SendMessageTimeoutW(menuWindow, MN_GETHMENU, 0, 0, SMTO_ABORTIFHUNG, 2000, &r);
  HMENU menu = reinterpret_cast<HMENU>(r);
  if (!menu) return items;
  for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
    wchar_t text[256] = {};
    MENUITEMINFOW mi{};
    mi.cbSize = sizeof(mi);
    mi.fMask = MIIM_STRING | MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_CHECKMARKS;
    mi.dwTypeData = text;
    mi.cch = 255;
    GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &mi);
    MenuItemRead item{mi.wID, text, "", {}};
    if (mi.fType & MFT_SEPARATOR) item.flags += " separator";
    if (mi.fState & MFS_CHECKED) item.flags += " checked";
    if (mi.fState & MFS_GRAYED) item.flags += " grayed";
    if (mi.hbmpChecked || mi.hbmpUnchecked) item.flags += " bitmap";
    GetMenuItemRect(nullptr, menu, static_cast<UINT>(i), &item.rect);
    items.push_back(item);
  }
  return items;
}

HWND WaitDialog(const wchar_t* title, DWORD ms) {
  for (DWORD t0 = Now();; Sleep(50)) {
    HWND h = FindWindowW(L"#32770", title);
    if (h && IsWindowVisible(h)) return h;
    if (Now() - t0 >= ms) return nullptr;
  }
}

// The receivers the session window lists, top to bottom: the name of each
// row. A row is a child window with a connect id (60001 + k) whose text
// starts with the name, or a row window (61100) whose text is the name.
constexpr int kUserRowId = 61100;

struct ListedRow {
  int y;
  std::wstring name;
};

BOOL CALLBACK CollectListed(HWND h, LPARAM param) {
  const int id = GetDlgCtrlID(h);
  const bool connectRow = id >= static_cast<int>(kFirstRow) && id < static_cast<int>(kFirstRow) + 32;
  if ((connectRow || id == kUserRowId) && IsWindowVisible(h)) {
    std::wstring text = Text(h);
    // The stand-in's rows add "   address:port" after the name.
    const size_t gap = text.find(L"   ");
    if (connectRow && gap != std::wstring::npos) text.resize(gap);
    RECT rc;
    GetWindowRect(h, &rc);
    reinterpret_cast<std::vector<ListedRow>*>(param)->push_back({rc.top, text});
  }
  return TRUE;
}

// Empty when the session window is not shown.
std::vector<std::wstring> ListedReceivers(bool* shown) {
  std::vector<ListedRow> rows;
  HWND s = FindSession();
  *shown = s && IsWindowVisible(s);
  if (*shown) EnumChildWindows(s, &CollectListed, reinterpret_cast<LPARAM>(&rows));
  std::stable_sort(rows.begin(), rows.end(), [](const ListedRow& a, const ListedRow& b) { return a.y < b.y; });
  std::vector<std::wstring> names;
  for (const ListedRow& r : rows) names.push_back(r.name);
  return names;
}

std::wstring Joined(const std::vector<std::wstring>& names) {
  std::wstring text;
  for (const std::wstring& n : names) text += (text.empty() ? L"" : L", ") + n;
  return text.empty() ? L"(none)" : text;
}

// Tray balloons: visible tooltip windows with the balloon style, in
// whichever process draws the tray. Their text lives in that process, so it
// is read through memory lent there.
BOOL CALLBACK FindBalloonsProc(HWND h, LPARAM param) {
  wchar_t cls[64] = {};
  GetClassNameW(h, cls, 64);
  if (_wcsicmp(cls, TOOLTIPS_CLASSW) == 0 && IsWindowVisible(h) && (GetWindowLongW(h, GWL_STYLE) & TTS_BALLOON))
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(h);
  return TRUE;
}

std::vector<HWND> FindBalloons() {
  std::vector<HWND> found;
  EnumWindows(&FindBalloonsProc, reinterpret_cast<LPARAM>(&found));
  return found;
}

// The balloon's text (Wine's tooltips do not give their title back).
bool ReadBalloon(HWND balloon, std::wstring* text) {
  DWORD pid = 0;
  GetWindowThreadProcessId(balloon, &pid);
  HANDLE p = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!p) return false;
  constexpr size_t kChars = 1024;
  struct Remote {
    TTTOOLINFOW info;
    wchar_t text[kChars];
  };
  auto* remote = static_cast<Remote*>(VirtualAllocEx(p, nullptr, sizeof(Remote), MEM_COMMIT, PAGE_READWRITE));
  bool ok = false;
  if (remote) {
    Remote local{};
    local.info.cbSize = sizeof(TTTOOLINFOW);
    local.info.lpszText = remote->text;
    DWORD_PTR r = 0;
    // A balloon tracks its one tool, which is not its "current" one.
    if (WriteProcessMemory(p, remote, &local, sizeof(local), nullptr) &&
        SendMessageTimeoutW(balloon, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&remote->info), SMTO_ABORTIFHUNG,
                            5000, &r) &&
        ReadProcessMemory(p, remote, &local, sizeof(local), nullptr)) {
      local.text[kChars - 1] = 0;
      *text = local.text;
      ok = true;
    }
    VirtualFreeEx(p, remote, 0, MEM_RELEASE);
  }
  CloseHandle(p);
  return ok;
}

void PrintDisplays() {
  for (DWORD i = 0;; ++i) {
    DISPLAY_DEVICEW d{};
    d.cb = sizeof(d);
    if (!EnumDisplayDevicesW(nullptr, i, &d, 0)) break;
    std::wstring line = cl::FormatW(L"%s \"%s\" flags 0x%lx", d.DeviceName, d.DeviceString, d.StateFlags);
    for (DWORD which : {ENUM_CURRENT_SETTINGS, ENUM_REGISTRY_SETTINGS}) {
      DEVMODEW m{};
      m.dmSize = sizeof(m);
      if (EnumDisplaySettingsW(d.DeviceName, which, &m)) {
        line += cl::FormatW(L"; %s %lux%lu at %ld,%ld %lu bpp", which == ENUM_CURRENT_SETTINGS ? L"current" : L"stored",
                            m.dmPelsWidth, m.dmPelsHeight, m.dmPosition.x, m.dmPosition.y, m.dmBitsPerPel);
      } else {
        line += which == ENUM_CURRENT_SETTINGS ? L"; no current mode" : L"; no stored mode";
      }
    }
    DWORD modes = 0;
    for (; modes < 1000; ++modes) {
      DEVMODEW m{};
      m.dmSize = sizeof(m);
      if (!EnumDisplaySettingsW(d.DeviceName, modes, &m)) break;
    }
    Print(line + cl::FormatW(L"; %lu modes", modes));
  }
  printf("monitors %d\n", GetSystemMetrics(SM_CMONITORS));
}

// A box: a visible "#32770" window that is not the main window and is
// either a message box (a message text, static 0xFFFF), the about box
// (its version line 1147) or the error dialog (Close 1054 and the cross
// 1055). The program's are the only ones.
constexpr int kAboutVersion = 1147;
constexpr int kErrorClose = 1054;
constexpr int kErrorCross = 1055;

bool IsErrorDialog(HWND h) { return GetDlgItem(h, kErrorClose) && GetDlgItem(h, kErrorCross); }

struct BoxSearch {
  HWND main;
  HWND found = nullptr;
  int count = 0;
};

BOOL CALLBACK FindBoxProc(HWND h, LPARAM param) {
  auto* s = reinterpret_cast<BoxSearch*>(param);
  wchar_t cls[16] = {};
  GetClassNameW(h, cls, 16);
  if (h != s->main && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(h) &&
      (GetDlgItem(h, 0xFFFF) || GetDlgItem(h, kAboutVersion) || IsErrorDialog(h))) {
    if (!s->found) s->found = h;
    ++s->count;
  }
  return TRUE;
}

HWND FindBox(int* count = nullptr) {
  BoxSearch s{FindMain()};
  EnumWindows(&FindBoxProc, reinterpret_cast<LPARAM>(&s));
  if (count) *count = s.count;
  return s.found;
}

// The error dialog's text lives on its page, a popup it owns.
struct PageSearch {
  HWND owner;
  std::wstring text;
};

BOOL CALLBACK CollectPageText(HWND h, LPARAM param) {
  auto* s = reinterpret_cast<PageSearch*>(param);
  const std::wstring t = Text(h);
  if (!t.empty()) s->text += (s->text.empty() ? L"" : L" | ") + t;
  return TRUE;
}

BOOL CALLBACK FindPageProc(HWND h, LPARAM param) {
  auto* s = reinterpret_cast<PageSearch*>(param);
  if (GetWindow(h, GW_OWNER) == s->owner && IsWindowVisible(h)) EnumChildWindows(h, &CollectPageText, param);
  return TRUE;
}

// What a box says: the message text, the about box's version line, or the
// texts on the error dialog's page.
std::wstring BoxText(HWND box) {
  if (HWND text = GetDlgItem(box, 0xFFFF)) return Text(text);
  if (HWND version = GetDlgItem(box, kAboutVersion)) return Text(box) + L": " + Text(version);
  PageSearch s{box};
  EnumWindows(&FindPageProc, reinterpret_cast<LPARAM>(&s));
  return s.text;
}

// The error dialog of one kind, shown here for ms milliseconds.
int ShowErrorDialogFor(int kind, DWORD ms, const wchar_t* message) {
  cl::GdiplusSession gdiplus;
  if (gdiplus.Start() != Gdiplus::Ok) return 1;
  class Timed : public CDlgError {
   public:
    using CDlgError::CDlgError;
    DWORD ms = 0;
    BOOL OnInitDialog() override {
      CDlgError::OnInitDialog();
      SetTimer(1, ms);
      return TRUE;
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
      if (message == WM_TIMER && wParam == 1) {
        KillTimer(1);
        PostMessage(WM_CLOSE);
        return 0;
      }
      return CDlgError::WindowProc(message, wParam, lParam);
    }
  } box(message, kind, nullptr, false);
  box.ms = ms;
  printf("showing kind %d\n", kind);
  fflush(stdout);
  box.DoModal();
  gdiplus.Shutdown();
  return 0;
}

int Usage() {
  fprintf(stderr, "usage: tessctl launch|main|wait-main|wait-gone|post|command|send-command|key|token|status|"
                  "wait-status|session|wait-rows|click-row|wait-header|wait-no-header|panel-click|wait-listed|wait-unlisted|"
                  "wait-balloon|displays|tray|click|menu|menu-pick|type|keys|text|window|window-close|window-click|"
                  "error-dialog|box|box-ok|boxes|prompt|prompt-answer|exit-event|start-and-wait|hold ...\n");
  return 2;
}

int WaitGone(DWORD pid, DWORD ms, DWORD* tookMs) {
  HANDLE p = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (!p) {
    printf("program not found\n");
    return 1;
  }
  const DWORD t0 = Now();
  const DWORD r = WaitForSingleObject(p, ms);
  if (tookMs) *tookMs = Now() - t0;
  DWORD code = 0;
  GetExitCodeProcess(p, &code);
  CloseHandle(p);
  if (r != WAIT_OBJECT_0) {
    printf("still running after %lu ms\n", ms);
    return 1;
  }
  printf("exited with %lu\n", code);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** wargv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(cl::WideToUtf8(wargv[i]));
  if (args.empty()) return Usage();
  const std::string cmd = args[0];
  auto arg = [&](size_t i, const char* fallback) { return i < args.size() ? args[i].c_str() : fallback; };

  if (cmd == "launch") {
    if (args.size() < 2) return Usage();
    std::wstring line = L"\"" + std::wstring(wargv[2]) + L"\"";
    for (int i = 3; i < argc; ++i) line += std::wstring(L" ") + wargv[i];
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    const DWORD t0 = Now();
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      printf("could not start: %lu\n", GetLastError());
      return 1;
    }
    CloseHandle(pi.hThread);
    for (;; Sleep(10)) {
      HWND h = FindMain();
      DWORD pid = 0;
      if (h) GetWindowThreadProcessId(h, &pid);
      if (h && pid == pi.dwProcessId) {
        printf("main window after %lu ms; pid %lu; visible %d\n", Now() - t0, pi.dwProcessId, IsWindowVisible(h) ? 1 : 0);
        CloseHandle(pi.hProcess);
        return 0;
      }
      if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        printf("exited with %lu after %lu ms\n", code, Now() - t0);
        CloseHandle(pi.hProcess);
        return 1;
      }
      if (Now() - t0 > 30000) {
        printf("no main window after 30000 ms\n");
        CloseHandle(pi.hProcess);
        return 1;
      }
    }
  }
  if (cmd == "hold") {
    if (args.size() < 3) return Usage();
    HANDLE f = CreateFileW(wargv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
      printf("could not open: %lu\n", GetLastError());
      return 1;
    }
    printf("holding\n");
    fflush(stdout);
    Sleep(static_cast<DWORD>(Number(arg(2, "0"))) * 1000);
    CloseHandle(f);
    return 0;
  }
  if (cmd == "wait-main") {
    HWND h = WaitMain(Number(arg(1, "20000")));
    if (!h) {
      printf("no main window\n");
      return 1;
    }
    printf("visible %d\n", IsWindowVisible(h) ? 1 : 0);
    return 0;
  }

  if (cmd == "box") {
    const DWORD ms = Number(arg(1, "20000"));
    for (DWORD t0 = Now();; Sleep(50)) {
      if (HWND box = FindBox()) {
        Print(BoxText(box));
        return 0;
      }
      if (Now() - t0 >= ms) {
        printf("no message box within %lu ms\n", ms);
        return 1;
      }
    }
  }
  if (cmd == "prompt" || cmd == "prompt-answer") {
    if (args.size() < 2) return Usage();
    const DWORD ms = cmd == "prompt" ? Number(arg(2, "20000")) : 0;
    HWND box = nullptr;
    for (DWORD t0 = Now();; Sleep(50)) {
      box = FindWindowW(L"#32770", wargv[2]);
      if ((box && IsWindowVisible(box)) || Now() - t0 >= ms) break;
    }
    if (!box) {
      printf("no input box\n");
      return 1;
    }
    if (cmd == "prompt") {
      Print(Text(GetDlgItem(box, 1142)));
      return 0;
    }
    if (args.size() >= 3) {
      DWORD_PTR r = 0;
      SendMessageTimeoutW(GetDlgItem(box, 1143), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wargv[3]), 0, 5000, &r);
      return PostMessageW(box, WM_COMMAND, IDOK, 0) ? 0 : 1;
    }
    return PostMessageW(box, WM_COMMAND, IDCANCEL, 0) ? 0 : 1;
  }
  if (cmd == "boxes") {
    int count = 0;
    FindBox(&count);
    printf("%d\n", count);
    return 0;
  }
  if (cmd == "wait-listed" || cmd == "wait-unlisted") {
    if (args.size() < 2) return Usage();
    const bool want = cmd == "wait-listed";
    const std::wstring name = wargv[2];
    const DWORD ms = Number(arg(2, "20000"));
    std::vector<std::wstring> names;
    bool shown = false;
    for (DWORD t0 = Now();; Sleep(50)) {
      names = ListedReceivers(&shown);
      const bool listed = std::find(names.begin(), names.end(), name) != names.end();
      if (shown && listed == want) {
        printf("%s after %lu ms: ", want ? "listed" : "unlisted", Now() - t0);
        Print(Joined(names));
        return 0;
      }
      if (Now() - t0 >= ms) break;
    }
    printf("%s within %lu ms: ", shown ? (want ? "not listed" : "still listed") : "no session window shown", ms);
    Print(Joined(names));
    return 1;
  }
  if (cmd == "wait-balloon") {
    if (args.size() < 2) return Usage();
    const std::wstring want = wargv[2];
    const DWORD ms = Number(arg(2, "20000"));
    std::wstring seen;
    for (DWORD t0 = Now();; Sleep(50)) {
      for (HWND b : FindBalloons()) {
        std::wstring text;
        if (!ReadBalloon(b, &text)) continue;
        seen = text;
        if (text == want) {
          printf("shown after %lu ms: ", Now() - t0);
          Print(seen);
          return 0;
        }
      }
      if (Now() - t0 >= ms) {
        printf("no such balloon within %lu ms; last seen: ", ms);
        Print(seen.empty() ? L"none" : seen);
        return 1;
      }
    }
  }
  if (cmd == "displays") {
    PrintDisplays();
    return 0;
  }
  if (cmd == "box-ok") {
    HWND box = FindBox();
    if (!box) {
      printf("no message box\n");
      return 1;
    }
    // The error dialog's Close button; OK for the others.
    return PostMessageW(box, WM_COMMAND, IsErrorDialog(box) ? kErrorClose : IDOK, 0) ? 0 : 1;
  }
  if (cmd == "tray") {
    HWND icon = nullptr;
    for (DWORD t0 = Now(); !(icon = FindTrayIcon()) && Now() - t0 < 10000;) Sleep(100);
    if (!icon) {
      printf("no tray icon\n");
      return 1;
    }
    RECT r{};
    GetWindowRect(icon, &r);
    printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    return 0;
  }
  if (cmd == "type") {
    if (args.size() < 2) return Usage();
    TypeText(wargv[2], std::string(arg(2, "")) == "enter");
    return 0;
  }
  if (cmd == "click") {
    if (args.size() < 3) return Usage();
    ClickAt(static_cast<int>(Number(arg(1, "0"))), static_cast<int>(Number(arg(2, "0"))), arg(3, ""));
    return 0;
  }
  if (cmd == "menu" || cmd == "menu-pick") {
    const bool pick = cmd == "menu-pick";
    if (pick && args.size() < 3) return Usage();
    HWND m = WaitMenuWindow(Number(arg(pick ? 3 : 1, "10000")));
    if (!m) {
      printf("no menu\n");
      return 1;
    }
    RECT r{};
    GetWindowRect(m, &r);
    if (!pick) {
      // A menu's items are the owning process's: another process reads
      // only the window (the items are checked in-process by the tests).
      printf("menu at %ld,%ld %ldx%ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
      for (const MenuItemRead& i : ReadMenu(m))
        printf("%u\t%s\t%s\n", i.id, cl::WideToUtf8(i.text).c_str(), i.flags.c_str());
      return 0;
    }
    // Item K of N rows of one height (a menu without separators), inside
    // the menu's 3-pixel frame.
    const long k = static_cast<long>(Number(arg(1, "0"))), n = static_cast<long>(Number(arg(2, "1")));
    const long inner = r.bottom - r.top - 6;
    ClickAt((r.left + r.right) / 2, r.top + 3 + inner * (2 * k + 1) / (2 * n));
    return 0;
  }
  if (cmd == "window-click") {
    if (args.size() < 3) return Usage();
    HWND w = WaitDialog(wargv[2], 5000);
    HWND c = w ? GetDlgItem(w, static_cast<int>(Number(arg(2, "0")))) : nullptr;
    if (!c) {
      printf("no such control\n");
      return 1;
    }
    SetForegroundWindow(w);
    ClickWindow(c);
    return 0;
  }
  if (cmd == "window" || cmd == "window-close") {
    if (args.size() < 2) return Usage();
    HWND w = WaitDialog(wargv[2], cmd == "window" ? Number(arg(2, "10000")) : 0);
    if (!w) {
      printf("no window\n");
      return 1;
    }
    if (cmd == "window-close") return PostMessageW(w, WM_CLOSE, 0, 0) ? 0 : 1;
    RECT r{};
    GetWindowRect(w, &r);
    printf("at %ld,%ld %ldx%ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
  }
  if (cmd == "error-dialog") {
    if (args.size() < 3) return Usage();
    const std::wstring message = argc > 4 ? std::wstring(wargv[4]) : cl::LoadResString(IDS_OTHER_SESSION);
    return ShowErrorDialogFor(static_cast<int>(Number(arg(1, "3"))), Number(arg(2, "3000")), message.c_str());
  }
  HWND main = FindMain();
  if (cmd == "wait-gone") {
    const DWORD pid = ProgramPid();
    if (!pid) {
      printf("exited\n");
      return 0;
    }
    return WaitGone(pid, Number(arg(1, "20000")), nullptr);
  }
  if (!main) {
    printf("no main window\n");
    return 1;
  }
  if (cmd == "main") {
    DWORD pid = 0;
    GetWindowThreadProcessId(main, &pid);
    printf("pid %lu; visible %d\n", pid, IsWindowVisible(main) ? 1 : 0);
    return 0;
  }
  if (cmd == "windows") {
    WindowCount c;
    GetWindowThreadProcessId(main, &c.pid);
    EnumWindows(&CountTopLevel, reinterpret_cast<LPARAM>(&c));
    DWORD gdi = 0, user = 0;
    if (HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, c.pid)) {
      gdi = GetGuiResources(p, GR_GDIOBJECTS);
      user = GetGuiResources(p, GR_USEROBJECTS);
      CloseHandle(p);
    }
    printf("windows %d top-level %d tooltips %d gdi %lu user %lu\n", c.all, c.topLevel, c.tooltips, gdi, user);
    return 0;
  }
  if (cmd == "post") {
    if (args.size() < 2) return Usage();
    return PostMessageW(main, Number(arg(1, "0")), Number(arg(2, "0")), Number(arg(3, "0"))) ? 0 : 1;
  }
  if (cmd == "command") {
    if (args.size() < 2) return Usage();
    return PostMessageW(main, WM_COMMAND, Number(arg(1, "0")), 0) ? 0 : 1;
  }
  if (cmd == "send-command") {
    if (args.size() < 2) return Usage();
    DWORD_PTR r = 0;
    const DWORD t0 = Now();
    if (!SendMessageTimeoutW(main, WM_COMMAND, Number(arg(1, "0")), 0, 0, 30000, &r)) {
      printf("no answer within 30000 ms\n");
      return 1;
    }
    printf("answered in %lu ms\n", Now() - t0);
    return 0;
  }
  if (cmd == "key") {
    const WPARAM vk = std::string(arg(1, "")) == "escape" ? VK_ESCAPE : VK_RETURN;
    HWND control = GetDlgItem(main, 1007);  // the fps slider
    for (HWND h : {main, control}) {
      if (!h) continue;
      PostMessageW(h, WM_KEYDOWN, vk, 1);
      PostMessageW(h, WM_KEYUP, vk, 0xC0000001);
    }
    return 0;
  }
  if (cmd == "token") {
    if (args.size() < 2) return Usage();
    CFrameUtility::SetTxSToken(wargv[2]);
    return PostMessageW(main, kWmConnectByText, 0, 0) ? 0 : 1;
  }
  if (cmd == "status") {
    Print(Text(GetDlgItem(main, kStatusLine)));
    return 0;
  }
  if (cmd == "wait-status") {
    if (args.size() < 2) return Usage();
    const std::wstring want = wargv[2];
    const DWORD ms = Number(arg(2, "20000"));
    std::wstring text;
    for (DWORD t0 = Now(); Now() - t0 < ms; Sleep(100)) {
      text = Text(GetDlgItem(main, kStatusLine));
      if (text.compare(0, want.size(), want) == 0) {
        Print(text);
        return 0;
      }
    }
    printf("status is \"%s\"\n", cl::WideToUtf8(text).c_str());
    return 1;
  }
  if (cmd == "session" || cmd == "wait-rows") {
    const bool rows = cmd == "wait-rows";
    const size_t want = rows ? Number(arg(1, "1")) : 0;
    const DWORD ms = Number(arg(rows ? 2 : 1, "20000"));
    for (DWORD t0 = Now();; Sleep(100)) {
      HWND s = FindSession();
      if (s && IsWindowVisible(s)) {
        Rows r = SessionRows(s);
        if (!rows || r.buttons.size() == want) {
          RECT rc;
          GetWindowRect(s, &rc);
          printf("session window at %ld,%ld %ldx%ld; %u rows\n", rc.left, rc.top, rc.right - rc.left,
                 rc.bottom - rc.top, static_cast<unsigned>(r.buttons.size()));
          HWND stop = SessionControl(kStopButton);
          printf("header %s: %s\n", stop && IsWindowVisible(stop) ? "shown" : "hidden",
                 cl::WideToUtf8(Text(SessionControl(kHeaderLabel))).c_str());
          for (HWND b : r.buttons) Print(Text(b));
          return 0;
        }
      }
      if (Now() - t0 >= ms) {
        printf("no %s within %lu ms\n", rows ? "such rows" : "visible session window", ms);
        return 1;
      }
    }
  }
  if (cmd == "close-session") {
    HWND s = FindSession();
    return s && PostMessageW(s, WM_CLOSE, 0, 0) ? 0 : 1;
  }
  if (cmd == "click-row") {
    HWND s = FindSession();
    const std::string which = arg(1, "0");
    HWND row = nullptr;
    if (s) {
      Rows rows = SessionRows(s);
      if (which.find('.') != std::string::npos) {
        for (HWND r : rows.buttons) {
          if (cl::WideToUtf8(Text(r)) == which) row = r;
        }
      } else if (Number(which.c_str()) < rows.buttons.size()) {
        row = rows.buttons[Number(which.c_str())];
      }
    }
    HWND button = row ? GetDlgItem(row, kRowButtonId) : nullptr;
    if (!button) {
      printf("no such row\n");
      return 1;
    }
    SetForegroundWindow(s);
    ClickWindow(button);
    printf("clicked at %llu\n", WallMs());
    return 0;
  }
  if (cmd == "wait-header") {
    if (args.size() < 2) return Usage();
    const std::string want = args[1];
    const DWORD ms = Number(arg(2, "20000"));
    std::string label;
    for (DWORD t0 = Now(); Now() - t0 < ms; Sleep(50)) {
      HWND stop = SessionControl(kStopButton);
      label = cl::WideToUtf8(Text(SessionControl(kHeaderLabel)));
      if (stop && IsWindowVisible(stop) && label == want) {
        printf("header names %s after %lu ms, at %llu\n", label.c_str(), Now() - t0, WallMs());
        return 0;
      }
    }
    printf("header shows \"%s\"\n", label.c_str());
    return 1;
  }
  if (cmd == "wait-no-header") {
    const DWORD ms = Number(arg(1, "20000"));
    for (DWORD t0 = Now(); Now() - t0 < ms; Sleep(50)) {
      HWND stop = SessionControl(kStopButton);
      if (stop && !(GetWindowLongPtrW(stop, GWL_STYLE) & WS_VISIBLE)) {
        printf("header hidden after %lu ms, at %llu\n", Now() - t0, WallMs());
        return 0;
      }
    }
    printf("header still shown\n");
    return 1;
  }
  if (cmd == "panel-click") {
    if (args.size() < 2) return Usage();
    HWND c = SessionControl(static_cast<int>(Number(arg(1, "0"))));
    if (!c || !IsWindowVisible(c)) {
      printf("no such control\n");
      return 1;
    }
    SetForegroundWindow(FindSession());
    ClickWindow(c);
    return 0;
  }
  if (cmd == "keys") {
    if (args.size() < 4) return Usage();
    HWND c = GetDlgItem(main, static_cast<int>(Number(arg(1, "0"))));
    const std::string k = arg(2, "");
    const WPARAM vk = k == "left" ? VK_LEFT : k == "right" ? VK_RIGHT : k == "up" ? VK_UP : VK_DOWN;
    if (!c) {
      printf("no such control\n");
      return 1;
    }
    for (unsigned long i = 0, n = Number(arg(3, "1")); i < n; ++i) {
      PostMessageW(c, WM_KEYDOWN, vk, 1);
      PostMessageW(c, WM_KEYUP, vk, 0xC0000001);
    }
    return 0;
  }
  if (cmd == "text") {
    if (args.size() < 2) return Usage();
    Print(Text(GetDlgItem(main, static_cast<int>(Number(arg(1, "0"))))));
    return 0;
  }
  if (cmd == "start-and-wait") {
    if (args.size() < 2) return Usage();
    DWORD pid = 0;
    GetWindowThreadProcessId(main, &pid);
    HANDLE running = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    std::wstring line = L"\"" + std::wstring(wargv[2]) + L"\"";
    for (int i = 3; i < argc; ++i) line += std::wstring(L" ") + wargv[i];
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    const DWORD t0 = Now();
    if (!running || !CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      printf("could not start or hold: %lu\n", GetLastError());
      return 1;
    }
    CloseHandle(pi.hThread);
    DWORD started = 0, ended = 0;
    WaitForSingleObject(pi.hProcess, 20000);
    GetExitCodeProcess(pi.hProcess, &started);
    CloseHandle(pi.hProcess);
    const DWORD r = WaitForSingleObject(running, 20000);
    const DWORD took = Now() - t0;
    GetExitCodeProcess(running, &ended);
    CloseHandle(running);
    printf("started program exited with %lu; running program %s %lu after %lu ms\n", started,
           r == WAIT_OBJECT_0 ? "exited with" : "still runs, code", ended, took);
    return 0;
  }
  if (cmd == "exit-event") {
    DWORD pid = 0;
    GetWindowThreadProcessId(main, &pid);
    HANDLE p = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    HANDLE e = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Global\\Nb5TxExitEvent");
    if (!p || !e) {
      printf("no program or no exit event\n");
      return 1;
    }
    const DWORD t0 = Now();
    SetEvent(e);
    CloseHandle(e);
    const DWORD r = WaitForSingleObject(p, 20000);
    const DWORD took = Now() - t0;
    DWORD code = 0;
    GetExitCodeProcess(p, &code);
    CloseHandle(p);
    if (r != WAIT_OBJECT_0) {
      printf("still running after 20000 ms\n");
      return 1;
    }
    printf("exited with %lu after %lu ms\n", code, took);
    return 0;
  }
  return Usage();
}
