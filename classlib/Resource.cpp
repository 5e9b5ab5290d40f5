#include "classlib/Resource.h"

#include <atomic>

namespace cl {

namespace {
std::atomic<HINSTANCE> g_resourceModule{nullptr};
}

HINSTANCE AfxGetResourceHandle() {
  HINSTANCE m = g_resourceModule.load();
  return m ? m : GetModuleHandleW(nullptr);
}

void AfxSetResourceHandle(HINSTANCE module) { g_resourceModule.store(module); }

std::wstring LoadResString(UINT id, HINSTANCE module) {
  // With a zero buffer size LoadStringW hands out a pointer into the
  // resource itself (not terminated) and returns its length.
  const wchar_t* p = nullptr;
  int n = LoadStringW(module ? module : AfxGetResourceHandle(), id, reinterpret_cast<LPWSTR>(&p), 0);
  if (n <= 0 || !p) return std::wstring();
  return std::wstring(p, static_cast<size_t>(n));
}

}  // namespace cl
