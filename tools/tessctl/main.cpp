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
//   session [MS]           waits for the visible session window; prints its rows
//   wait-rows N [MS]       waits until the session window lists N receivers
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
//   box [MS]               waits for a message box; prints its text
//   box-ok                 presses OK on that message box
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
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "classlib/Str.h"
#include "foundation/settings/FrameUtility.h"

namespace {

constexpr UINT kStatusLine = 1001;
constexpr UINT kFirstRow = 60001;
constexpr UINT kWmConnectByText = 0x7F9;

DWORD Now() { return GetTickCount(); }

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

void Print(const std::wstring& text) { printf("%s\n", cl::WideToUtf8(text).c_str()); }

unsigned long Number(const char* text) { return strtoul(text, nullptr, 0); }

HWND FindSession() { return FindWindowW(nullptr, L"Tessarine Session"); }

struct Rows {
  std::vector<HWND> buttons;
};

BOOL CALLBACK CollectRows(HWND h, LPARAM param) {
  const int id = GetDlgCtrlID(h);
  if (id >= static_cast<int>(kFirstRow) && id < static_cast<int>(kFirstRow) + 32) {
    reinterpret_cast<Rows*>(param)->buttons.push_back(h);
  }
  return TRUE;
}

Rows SessionRows(HWND session) {
  Rows rows;
  EnumChildWindows(session, &CollectRows, reinterpret_cast<LPARAM>(&rows));
  return rows;
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

// A message box: a visible "#32770" window with a message text (static
// 0xFFFF) that is not the main window. The program's are the only ones.
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
      GetDlgItem(h, 0xFFFF)) {
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

int Usage() {
  fprintf(stderr, "usage: tessctl launch|main|wait-main|wait-gone|post|command|send-command|key|token|status|"
                  "wait-status|session|wait-rows|click-row|wait-listed|wait-unlisted|wait-balloon|displays|box|box-ok|"
                  "exit-event|hold ...\n");
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
        Print(Text(GetDlgItem(box, 0xFFFF)));
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
    return PostMessageW(box, WM_COMMAND, IDOK, 0) ? 0 : 1;
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
    HWND row = s ? GetDlgItem(FindWindowExW(s, nullptr, nullptr, nullptr), kFirstRow + Number(arg(1, "0"))) : nullptr;
    if (!row) {
      printf("no such row\n");
      return 1;
    }
    return PostMessageW(row, BM_CLICK, 0, 0) ? 0 : 1;
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
