#include "foundation/updater/UpdaterSetup.h"

#include <windows.h>

#include "classlib/Str.h"
#include "foundation/log/Logger.h"
#include "foundation/settings/FrameUtility.h"
#include "foundation/sys/LibraryLoad.h"

namespace {

struct UpdaterCalls {
  void(__cdecl* setAppcastUrl)(const char*) = nullptr;
  void(__cdecl* setAutomatic)(int) = nullptr;
  void(__cdecl* init)() = nullptr;
  void(__cdecl* checkWithUi)() = nullptr;
  void(__cdecl* cleanup)() = nullptr;
  bool loaded = false;
};

template <typename T>
bool Find(HMODULE module, const char* name, T* out) {
  *out = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *out != nullptr;
}

// The library, loaded once (on the UI thread) and kept for the process.
const UpdaterCalls& Calls() {
  static UpdaterCalls calls = [] {
    UpdaterCalls c;
    HMODULE module = LoadOwnLibrary(L"WinSparkle.dll");
    if (!module) {
      ZtLogger::Instance().Error("Updater library not loaded: %lu", GetLastError());
      return c;
    }
    c.loaded = Find(module, "win_sparkle_set_appcast_url", &c.setAppcastUrl) &&
               Find(module, "win_sparkle_set_automatic_check_for_updates", &c.setAutomatic) &&
               Find(module, "win_sparkle_init", &c.init) &&
               Find(module, "win_sparkle_check_update_with_ui", &c.checkWithUi) &&
               Find(module, "win_sparkle_cleanup", &c.cleanup);
    if (!c.loaded) ZtLogger::Instance().Error("Updater library lacks a call.");
    return c;
  }();
  return calls;
}

}  // namespace

void StartUpdater(const std::wstring& language) {
  const UpdaterCalls& calls = Calls();
  if (!calls.loaded) return;
  const std::string url = BuildAppcastUrl(kUpdateFeedHost, CFrameUtility::GetTxTestSSU() != 0,
                                          cl::WideToAnsi(language));
  calls.setAppcastUrl(url.c_str());
  calls.setAutomatic(1);
  calls.init();
}

void CheckForUpdatesWithUi() {
  const UpdaterCalls& calls = Calls();
  if (calls.loaded) calls.checkWithUi();
}

void StopUpdater() {
  const UpdaterCalls& calls = Calls();
  if (calls.loaded) calls.cleanup();
}
