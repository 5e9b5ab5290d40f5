// A host program of the updater library for its tests: version 1.0.1.10 in
// its version resource, the library linked by its import library (so every
// export it uses must be there), and steps taken in command-line order:
//
//   --trust PEM             add a certificate to the user's trusted roots
//   --set-last-check none|SECONDS_AGO
//   --print-last-check
//   --url URL  --automatic  --init  --check-ui  --cleanup
//   --wait-window SECONDS   print the window's state once it has a result
//   --wait-open SECONDS     wait until the window shows (whatever its state)
//   --hold                  print "hold", wait for a line on stdin (a screenshot)
//   --click download|close  press a button of the window, wait for it to go
//   --sleep SECONDS
//
// Output lines: "window: <heading> | <detail> | download=<0|1>", "window: none",
// "with_ui returned in N ms", "cleanup took N ms", "last-check: N|none";
// when a window is open at cleanup, "window gone after N ms" (into the
// cleanup) or "window stayed".
#include <windows.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "bridges/updater/winsparkle.h"

namespace {

const wchar_t kKey[] = L"Software\\Tessarine Test\\Updater Host\\WinSparkle";

std::string Utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

void Say(const std::string& line) {
  printf("%s\n", line.c_str());
  fflush(stdout);
}

bool Trust(const std::wstring& path) {
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return false;
  std::string pem;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) pem.append(buf, n);
  fclose(f);
  DWORD size = 0;
  if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) return false;
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) return false;
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (!store) return false;
  BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(store, 0);
  return added != FALSE;
}

HWND Window() { return FindWindowW(L"TessarineUpdater", nullptr); }

std::wstring Text(HWND window, int id) {
  wchar_t text[1024] = {};
  GetDlgItemTextW(window, id, text, 1024);
  return text;
}

// Waits until the window shows a result (not the check in progress).
void WaitWindow(double seconds) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < static_cast<DWORD>(seconds * 1000)) {
    HWND w = Window();
    if (w && IsWindowVisible(w)) {
      std::wstring heading = Text(w, 100);
      if (!heading.empty() && heading.rfind(L"Checking", 0) != 0) {
        Sleep(300);  // let it paint before anyone looks
        Say("window: " + Utf8(heading) + " | " + Utf8(Text(w, 101)) + " | download=" +
            (IsWindowVisible(GetDlgItem(w, IDOK)) ? "1" : "0"));
        return;
      }
    }
    Sleep(50);
  }
  HWND w = Window();
  Say(w ? "window: still " + Utf8(Text(w, 100)) : "window: none");
}

// Watches, from cleanup's start, for the open window to go.
struct GoneWatch {
  DWORD start = 0;
  volatile LONG done = 0;
  DWORD goneMs = 0;
  bool gone = false;
};

DWORD WINAPI WatchWindowGo(void* param) {
  GoneWatch* watch = static_cast<GoneWatch*>(param);
  while (!watch->done) {
    if (!Window()) {
      watch->goneMs = GetTickCount() - watch->start;
      watch->gone = true;
      return 0;
    }
    Sleep(10);
  }
  return 0;
}

void Cleanup() {
  GoneWatch watch;
  watch.start = GetTickCount();
  HANDLE watcher = Window() ? CreateThread(nullptr, 0, WatchWindowGo, &watch, 0, nullptr) : nullptr;
  win_sparkle_cleanup();
  const DWORD took = GetTickCount() - watch.start;
  if (watcher) {
    // A last look for a window that went just now.
    WaitForSingleObject(watcher, 100);
    InterlockedExchange(&watch.done, 1);
    WaitForSingleObject(watcher, 5000);
    CloseHandle(watcher);
  }
  Say("cleanup took " + std::to_string(took) + " ms");
  if (watcher) Say(watch.gone ? "window gone after " + std::to_string(watch.goneMs) + " ms" : "window stayed");
}

void Click(const std::wstring& which) {
  HWND w = Window();
  if (!w) {
    Say("click: no window");
    return;
  }
  PostMessageW(w, WM_COMMAND, which == L"download" ? IDOK : IDCANCEL, 0);
  const DWORD start = GetTickCount();
  while (Window() && GetTickCount() - start < 5000) Sleep(50);
  Say(Window() ? "click: window stayed" : "click: window closed");
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::string url;
  for (int i = 1; i < argc; ++i) {
    std::wstring a = argv[i];
    std::wstring next = i + 1 < argc ? argv[i + 1] : L"";
    if (a == L"--trust") {
      Say(Trust(next) ? "trusted" : "trust failed");
      ++i;
    } else if (a == L"--set-last-check") {
      if (next == L"none") {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"LastCheckTime");
      } else {
        std::wstring value = std::to_wstring(static_cast<long long>(time(nullptr)) - _wtoi64(next.c_str()));
        RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"LastCheckTime", REG_SZ, value.c_str(),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
      }
      ++i;
    } else if (a == L"--print-last-check") {
      wchar_t text[32] = {};
      DWORD size = sizeof(text) - 2;
      if (RegGetValueW(HKEY_CURRENT_USER, kKey, L"LastCheckTime", RRF_RT_REG_SZ, nullptr, text, &size) == ERROR_SUCCESS) {
        Say("last-check: " + std::to_string(static_cast<long long>(time(nullptr)) - _wtoi64(text)) + " s ago");
      } else {
        Say("last-check: none");
      }
    } else if (a == L"--url") {
      url = Utf8(next);
      win_sparkle_set_appcast_url(url.c_str());
      ++i;
    } else if (a == L"--automatic") {
      win_sparkle_set_automatic_check_for_updates(1);
    } else if (a == L"--init") {
      win_sparkle_init();
    } else if (a == L"--check-ui") {
      const DWORD start = GetTickCount();
      win_sparkle_check_update_with_ui();
      Say("with_ui returned in " + std::to_string(GetTickCount() - start) + " ms");
    } else if (a == L"--wait-window") {
      WaitWindow(_wtof(next.c_str()));
      ++i;
    } else if (a == L"--wait-open") {
      const DWORD start = GetTickCount();
      while (!(Window() && IsWindowVisible(Window())) &&
             GetTickCount() - start < static_cast<DWORD>(_wtof(next.c_str()) * 1000)) {
        Sleep(50);
      }
      ++i;
    } else if (a == L"--hold") {
      Say("hold");
      HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
      char c = 0;
      DWORD read = 0;
      while (ReadFile(in, &c, 1, &read, nullptr) && read == 1 && c != '\n') {
      }
    } else if (a == L"--click") {
      Click(next);
      ++i;
    } else if (a == L"--cleanup") {
      Cleanup();
    } else if (a == L"--sleep") {
      Sleep(static_cast<DWORD>(_wtof(next.c_str()) * 1000));
      ++i;
    }
  }
  LocalFree(argv);
  return 0;
}
