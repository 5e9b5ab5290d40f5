#include "classlib/MainWindow.h"

#include <atomic>

namespace cl {

namespace {
std::atomic<HWND> g_mainWindow{nullptr};
}

void SetMainWindow(HWND hwnd) { g_mainWindow.store(hwnd); }

HWND GetMainWindow() { return g_mainWindow.load(); }

bool PostToMainWindow(UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND hwnd = g_mainWindow.load();
  return hwnd != nullptr && PostMessageW(hwnd, msg, wParam, lParam) != FALSE;
}

}  // namespace cl
