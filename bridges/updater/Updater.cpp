// The updater library: checks an https feed for a newer version of the host
// program and tells the user in a window of its own.
//
// Threads: the caller's (the exported calls, all quick); at most one window
// thread (the window and its message loop); one check thread per manual
// check, owned by the window thread; the automatic-check thread. One lock
// guards the shared state; the stop event (manual reset) tells every thread
// to end, and cleanup waits for them with a bound.
#include "bridges/updater/winsparkle.h"

#include <windows.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "bridges/updater/Appcast.h"
#include "bridges/updater/Fetch.h"
#include "foundation/browser/Browser.h"

namespace {

using updater::AppcastItem;

constexpr long long kDaySeconds = 24 * 60 * 60;
// The automatic-check thread looks at the clock at least this often, so a
// day that passes while the PC sleeps is noticed.
constexpr DWORD kAutoWakeMs = 60 * 60 * 1000;
constexpr DWORD kCleanupWaitMs = 5000;
constexpr DWORD kCheckThreadWaitMs = 2000;

constexpr UINT WM_CHECK_DONE = WM_APP + 1;   // lParam: CheckResult*, owned by the window thread
constexpr int kHeadingId = 100;
constexpr int kDetailId = 101;
constexpr int kDownloadId = IDOK;
constexpr int kCloseId = IDCANCEL;
const wchar_t kWindowClass[] = L"TessarineUpdater";

// ------------------------------------------------------------------ host

struct HostInfo {
  std::string version;      // "1.0.1.10" of the version resource; "" when it has none
  std::wstring product;     // ProductName, or the program's file name
  std::wstring registryKey; // under HKEY_CURRENT_USER
};

std::wstring VersionString(const std::vector<BYTE>& block, const wchar_t* name) {
  struct Translation {
    WORD language, codePage;
  }* translations = nullptr;
  UINT size = 0;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                      &size) ||
      size < sizeof(Translation)) {
    return L"";
  }
  wchar_t path[128];
  _snwprintf(path, 127, L"\\StringFileInfo\\%04x%04x\\%s", translations[0].language, translations[0].codePage,
             name);
  path[127] = 0;
  wchar_t* text = nullptr;
  if (!VerQueryValueW(block.data(), path, reinterpret_cast<void**>(&text), &size) || !text) return L"";
  return text;
}

HostInfo ReadHostInfo() {
  HostInfo info;
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring company;
  DWORD ignored = 0;
  DWORD bytes = GetFileVersionInfoSizeW(exe, &ignored);
  if (bytes) {
    std::vector<BYTE> block(bytes);
    if (GetFileVersionInfoW(exe, 0, bytes, block.data())) {
      VS_FIXEDFILEINFO* fixed = nullptr;
      UINT size = 0;
      if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size) && fixed &&
          size >= sizeof(VS_FIXEDFILEINFO)) {
        char text[64];
        _snprintf(text, 63, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                  HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
        text[63] = 0;
        info.version = text;
      }
      info.product = VersionString(block, L"ProductName");
      company = VersionString(block, L"CompanyName");
    }
  }
  const wchar_t* base = wcsrchr(exe, L'\\');
  std::wstring file = base ? base + 1 : exe;
  size_t dot = file.rfind(L'.');
  if (dot != std::wstring::npos) file.erase(dot);
  if (info.product.empty()) info.product = file;
  info.registryKey = company.empty() ? L"Software\\" + info.product + L"\\WinSparkle"
                                     : L"Software\\" + company + L"\\" + info.product + L"\\WinSparkle";
  return info;
}

const HostInfo& Host() {
  static const HostInfo info = ReadHostInfo();
  return info;
}

// Seconds since 1970 of the last finished check; 0 when none is stored.
long long ReadLastCheck() {
  wchar_t text[32] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  if (RegGetValueW(HKEY_CURRENT_USER, Host().registryKey.c_str(), L"LastCheckTime", RRF_RT_REG_SZ, nullptr, text,
                   &size) != ERROR_SUCCESS) {
    return 0;
  }
  return _wtoi64(text);
}

void WriteLastCheck(long long seconds) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, Host().registryKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  wchar_t text[32];
  _snwprintf(text, 31, L"%lld", seconds);
  text[31] = 0;
  RegSetValueExW(key, L"LastCheckTime", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                 static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return L"";
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
  return out;
}

void Trace(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  int n = _vsnprintf(text, sizeof(text) - 2, format, args);
  va_end(args);
  if (n < 0) n = static_cast<int>(sizeof(text) - 2);
  text[n] = '\n';
  text[n + 1] = 0;
  OutputDebugStringA(text);
}

// ----------------------------------------------------------------- check

enum class Outcome { kUpToDate, kUpdateAvailable, kFailed, kCancelled };

struct CheckResult {
  Outcome outcome = Outcome::kFailed;
  std::wstring reason;  // why it failed, in the user's words
  AppcastItem item;
};

CheckResult RunCheck(const std::string& url, HANDLE cancel) {
  CheckResult r;
  if (url.empty()) {
    r.reason = L"No update feed is set.";
    return r;
  }
  if (!updater::IsHttpsUrl(url)) {
    r.reason = L"The update feed's address is not secure (it must start with https).";
    return r;
  }
  if (Host().version.empty()) {
    r.reason = L"This program's own version is unknown.";
    return r;
  }
  updater::FetchResult fetched = updater::FetchHttps(Wide(url), updater::kMaxAppcastBytes, cancel);
  switch (fetched.status) {
    case updater::FetchStatus::kOk: break;
    case updater::FetchStatus::kCancelled: r.outcome = Outcome::kCancelled; return r;
    case updater::FetchStatus::kNotHttps:
      r.reason = L"The update feed's address is not secure (it must start with https).";
      return r;
    case updater::FetchStatus::kUntrusted:
      r.reason = L"The update server's certificate is not trusted.";
      return r;
    case updater::FetchStatus::kHttpError:
      r.reason = L"The update server answered with error " + std::to_wstring(fetched.httpStatus) + L".";
      return r;
    case updater::FetchStatus::kTooLarge:
      r.reason = L"The update information is larger than allowed.";
      return r;
    case updater::FetchStatus::kTimedOut:
      r.reason = L"The update server did not answer in time.";
      return r;
    case updater::FetchStatus::kNetworkError:
      r.reason = L"The update server could not be reached (error " + std::to_wstring(fetched.error) + L").";
      return r;
  }
  std::string why;
  if (!updater::ParseAppcast(fetched.body.data(), fetched.body.size(), &r.item, &why)) {
    Trace("updater: %s", why.c_str());
    r.reason = L"The update information is not valid.";
    return r;
  }
  int order = 0;
  if (!updater::CompareVersions(r.item.version, Host().version, &order)) {
    r.reason = L"The update information is not valid.";
    return r;
  }
  if (order <= 0) {
    r.outcome = Outcome::kUpToDate;
    return r;
  }
  if (!updater::IsHttpsUrl(r.item.enclosureUrl)) {
    r.reason = L"The new version's download address is not secure (it must start with https).";
    return r;
  }
  r.outcome = Outcome::kUpdateAvailable;
  return r;
}

// ----------------------------------------------------------------- state

struct State {
  State() {
    InitializeCriticalSection(&lock);
    stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  CRITICAL_SECTION lock;
  std::string url;
  bool automatic = false;
  HANDLE stop;                  // set by cleanup; reset when it is done
  HANDLE autoThread = nullptr;
  HANDLE uiThread = nullptr;
  HWND window = nullptr;        // the open window, null when none
};

State& S() {
  static State* state = new State;  // never destroyed: threads may outlive a late cleanup
  return *state;
}

class Locked {
 public:
  Locked() { EnterCriticalSection(&S().lock); }
  ~Locked() { LeaveCriticalSection(&S().lock); }
};

std::string Url() {
  Locked l;
  return S().url;
}

bool Stopping() { return WaitForSingleObject(S().stop, 0) == WAIT_OBJECT_0; }

// --------------------------------------------------------------- window

// One manual check, shared by the window thread and the check thread; the
// last of the two to let go frees it.
struct CheckJob {
  std::string url;
  HWND window;
  HANDLE cancel;  // manual reset; set when the window closes (also at cleanup)
  LONG refs = 2;
};

void Release(CheckJob* job) {
  if (InterlockedDecrement(&job->refs) == 0) {
    CloseHandle(job->cancel);
    delete job;
  }
}

DWORD WINAPI CheckThread(void* param) {
  CheckJob* job = static_cast<CheckJob*>(param);
  CheckResult* result = new CheckResult(RunCheck(job->url, job->cancel));
  if (result->outcome != Outcome::kCancelled) WriteLastCheck(static_cast<long long>(time(nullptr)));
  const bool closed = WaitForSingleObject(job->cancel, 0) == WAIT_OBJECT_0;
  if (closed || result->outcome == Outcome::kCancelled ||
      !PostMessageW(job->window, WM_CHECK_DONE, 0, reinterpret_cast<LPARAM>(result))) {
    delete result;
  }
  Release(job);
  return 0;
}

struct WindowData {
  HFONT font = nullptr;
  HFONT bold = nullptr;
  std::string downloadUrl;
  CheckJob* job = nullptr;  // the running manual check, or null
  HANDLE checkThread = nullptr;
  int dpi = 96;
};

int Scaled(const WindowData& d, int pixels) { return MulDiv(pixels, d.dpi, 96); }

void ShowState(HWND window, const std::wstring& heading, const std::wstring& detail, bool download,
               const wchar_t* closeText) {
  SetDlgItemTextW(window, kHeadingId, heading.c_str());
  SetDlgItemTextW(window, kDetailId, detail.c_str());
  ShowWindow(GetDlgItem(window, kDownloadId), download ? SW_SHOW : SW_HIDE);
  SetDlgItemTextW(window, kCloseId, closeText);
  SendMessageW(window, DM_SETDEFID, download ? kDownloadId : kCloseId, 0);
  SetFocus(GetDlgItem(window, download ? kDownloadId : kCloseId));
}

void ShowResult(HWND window, WindowData* d, const CheckResult& r) {
  const std::wstring product = Host().product;
  const std::wstring own = Wide(Host().version);
  switch (r.outcome) {
    case Outcome::kUpToDate:
      ShowState(window, L"You're up to date.", product + L" " + own + L" is the newest version available.",
                false, L"Close");
      break;
    case Outcome::kUpdateAvailable: {
      d->downloadUrl = r.item.enclosureUrl;
      const std::wstring shown = Wide(r.item.shortVersion.empty() ? r.item.version : r.item.shortVersion);
      ShowState(window, L"A new version of " + product + L" is available.",
                L"Version " + shown + L" is available; you have " + own +
                    L".\r\nDownload opens the download page in your browser.",
                true, L"Close");
      break;
    }
    default:
      ShowState(window, L"Could not check for updates.", r.reason, false, L"Close");
      break;
  }
}

void StartCheck(HWND window, WindowData* d) {
  ShowState(window, L"Checking for updates\x2026", L"Asking the update server for the newest version.", false,
            L"Cancel");
  d->job = new CheckJob{Url(), window, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  d->checkThread = CreateThread(nullptr, 0, CheckThread, d->job, 0, nullptr);
  if (!d->checkThread) {
    Release(d->job);  // the thread's share
    Release(d->job);
    d->job = nullptr;
    CheckResult failed;
    failed.reason = L"The check could not be started.";
    ShowResult(window, d, failed);
  }
}

// Tells the running check to stop; it sees it between network steps.
void CancelCheck(WindowData* d) {
  if (d->job) SetEvent(d->job->cancel);
}

// Cancels the running check and waits for its thread a short while; a
// thread still in the network after that ends on its own time-out and then
// frees the job.
void EndCheck(WindowData* d) {
  if (!d->job) return;
  SetEvent(d->job->cancel);
  if (d->checkThread) {
    WaitForSingleObject(d->checkThread, kCheckThreadWaitMs);
    CloseHandle(d->checkThread);
  }
  Release(d->job);
  d->job = nullptr;
  d->checkThread = nullptr;
}

HWND CreateChild(HWND parent, const wchar_t* cls, DWORD style, int id, int x, int y, int w, int h, HFONT font,
                 const WindowData& d) {
  HWND child = CreateWindowExW(0, cls, L"", WS_CHILD | WS_VISIBLE | style, Scaled(d, x), Scaled(d, y),
                               Scaled(d, w), Scaled(d, h), parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               nullptr, nullptr);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  return child;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowData* d = reinterpret_cast<WindowData*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE: {
      d = static_cast<WindowData*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(d));
      CreateChild(window, L"STATIC", SS_LEFT | SS_NOPREFIX, kHeadingId, 20, 16, 400, 24, d->bold, *d);
      CreateChild(window, L"STATIC", SS_LEFT | SS_NOPREFIX, kDetailId, 20, 46, 400, 44, d->font, *d);
      CreateChild(window, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, kDownloadId, 234, 100, 90, 28, d->font, *d);
      CreateChild(window, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, kCloseId, 330, 100, 90, 28, d->font, *d);
      SetDlgItemTextW(window, kDownloadId, L"Download");
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_CHECK_DONE: {
      CheckResult* r = reinterpret_cast<CheckResult*>(lParam);
      EndCheck(d);
      ShowResult(window, d, *r);
      delete r;
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == kDownloadId && !d->downloadUrl.empty()) {
        // The download page opens in the browser; nothing is run here.
        if (updater::IsHttpsUrl(d->downloadUrl)) OpenUrlInBrowser(Wide(d->downloadUrl));
        DestroyWindow(window);
      } else if (LOWORD(wParam) == kCloseId) {
        DestroyWindow(window);
      }
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      // The window goes at once; the thread waits for the check once it
      // has gone (a stalled server holds the check until its time-out).
      CancelCheck(d);
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

HINSTANCE ModuleHandle() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&WindowProc), &module);
  return module;
}

// What the window thread starts with: a manual check, or the result of an
// automatic one.
struct WindowStart {
  CheckResult* result = nullptr;
};

DWORD WINAPI WindowThread(void* param) {
  WindowStart* start = static_cast<WindowStart*>(param);
  WindowData data;
  HDC screen = GetDC(nullptr);
  data.dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  data.font = CreateFontIndirectW(&metrics.lfMessageFont);
  LOGFONTW bold = metrics.lfMessageFont;
  bold.lfWeight = FW_BOLD;
  bold.lfHeight = bold.lfHeight * 5 / 4;
  data.bold = CreateFontIndirectW(&bold);

  WNDCLASSEXW cls{};
  cls.cbSize = sizeof(cls);
  cls.lpfnWndProc = WindowProc;
  cls.hInstance = ModuleHandle();
  cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  cls.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  cls.lpszClassName = kWindowClass;
  cls.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  RegisterClassExW(&cls);  // fails harmlessly when already registered

  RECT frame = {0, 0, Scaled(data, 440), Scaled(data, 144)};
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  AdjustWindowRectEx(&frame, style, FALSE, WS_EX_CONTROLPARENT);
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  const std::wstring title = Host().product + L" Update";
  // A cleanup that came while this thread was starting (and may have given
  // up waiting for it) wants no window.
  HWND window = Stopping() ? nullptr
                           : CreateWindowExW(WS_EX_CONTROLPARENT, kWindowClass, title.c_str(), style,
                                             work.left + (work.right - work.left - width) / 2,
                                             work.top + (work.bottom - work.top - height) / 2, width, height,
                                             nullptr, nullptr, cls.hInstance, &data);
  if (window) {
    {
      Locked l;
      S().window = window;
    }
    if (start->result) ShowResult(window, &data, *start->result);
    else StartCheck(window, &data);
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);

    bool running = true;
    while (running) {
      DWORD woke = MsgWaitForMultipleObjects(1, &S().stop, FALSE, INFINITE, QS_ALLINPUT);
      if (woke == WAIT_OBJECT_0) {
        DestroyWindow(window);  // cancels the check and posts the quit
      }
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
          running = false;
          break;
        }
        if (!IsDialogMessageW(window, &msg)) {
          TranslateMessage(&msg);
          DispatchMessageW(&msg);
        }
      }
    }
    {
      Locked l;
      S().window = nullptr;
    }
    EndCheck(&data);
  }
  DeleteObject(data.font);
  DeleteObject(data.bold);
  delete start->result;
  delete start;
  return 0;
}

// Opens the window unless one is open (then it comes to the front). Takes
// ownership of result.
void OpenWindow(CheckResult* result) {
  Locked l;
  if (S().uiThread && WaitForSingleObject(S().uiThread, 0) == WAIT_TIMEOUT) {
    if (S().window) {
      ShowWindow(S().window, SW_SHOWNORMAL);
      SetForegroundWindow(S().window);
    }
    delete result;
    return;
  }
  if (S().uiThread) CloseHandle(S().uiThread);
  WindowStart* start = new WindowStart{result};
  S().uiThread = CreateThread(nullptr, 0, WindowThread, start, 0, nullptr);
  if (!S().uiThread) {
    delete start->result;
    delete start;
  }
}

// -------------------------------------------------------- automatic checks

DWORD WINAPI AutoThread(void*) {
  for (;;) {
    const long long now = static_cast<long long>(time(nullptr));
    long long last = ReadLastCheck();
    if (last <= 0 || last > now) {
      // The first start (or a clock set back) only records the time.
      WriteLastCheck(now);
      last = now;
    }
    const long long due = last + kDaySeconds;
    if (due > now) {
      long long waitMs = (due - now) * 1000;
      if (waitMs > kAutoWakeMs) waitMs = kAutoWakeMs;
      if (WaitForSingleObject(S().stop, static_cast<DWORD>(waitMs)) == WAIT_OBJECT_0) return 0;
      continue;
    }
    CheckResult result = RunCheck(Url(), S().stop);
    if (Stopping() || result.outcome == Outcome::kCancelled) return 0;
    WriteLastCheck(static_cast<long long>(time(nullptr)));
    Trace("updater: automatic check finished (%d)", static_cast<int>(result.outcome));
    // Only news is shown; a failed automatic check waits for the next day.
    if (result.outcome == Outcome::kUpdateAvailable) OpenWindow(new CheckResult(result));
  }
}

}  // namespace

extern "C" {

void __cdecl win_sparkle_set_appcast_url(const char* url) {
  Locked l;
  S().url = url ? url : "";
}

void __cdecl win_sparkle_set_automatic_check_for_updates(int state) {
  Locked l;
  S().automatic = state != 0;
}

void __cdecl win_sparkle_init(void) {
  Locked l;
  ResetEvent(S().stop);
  if (S().automatic && !S().autoThread) S().autoThread = CreateThread(nullptr, 0, AutoThread, nullptr, 0, nullptr);
}

void __cdecl win_sparkle_check_update_with_ui(void) {
  ResetEvent(S().stop);
  OpenWindow(nullptr);
}

void __cdecl win_sparkle_cleanup(void) {
  SetEvent(S().stop);
  std::vector<HANDLE> threads;
  {
    Locked l;
    if (S().autoThread) threads.push_back(S().autoThread);
    if (S().uiThread) threads.push_back(S().uiThread);
  }
  if (!threads.empty() &&
      WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, kCleanupWaitMs) != WAIT_OBJECT_0) {
    Trace("updater: cleanup left a thread still ending");
  }
  Locked l;
  for (HANDLE* h : {&S().autoThread, &S().uiThread}) {
    if (*h) CloseHandle(*h);
    *h = nullptr;
  }
}

}  // extern "C"
