#include "app/StandInDialogs.h"

#include "app/resources/resource.h"
#include "classlib/Resource.h"
#include "classlib/Str.h"
#include "foundation/log/Logger.h"
#include "foundation/sys/SysUtil.h"

namespace {

std::wstring AboutCaption() { return L"About " + cl::LoadResString(IDS_APP_NAME); }

struct FindBox {
  std::wstring caption;
  HWND found = nullptr;
};

BOOL CALLBACK FindBoxProc(HWND hwnd, LPARAM param) {
  auto* find = reinterpret_cast<FindBox*>(param);
  wchar_t cls[16] = {}, text[128] = {};
  GetClassNameW(hwnd, cls, 16);
  GetWindowTextW(hwnd, text, 128);
  if (wcscmp(cls, L"#32770") == 0 && find->caption == text) {
    find->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

INT_PTR CSimpleAbout::DoModal() {
  const std::wstring text = cl::LoadResString(IDS_APP_NAME) + L"\n" + cl::LoadResString(IDS_VERSION) +
                            L" " + GetVersionString();
  return MessageBoxW(nullptr, text.c_str(), AboutCaption().c_str(), MB_OK | MB_ICONINFORMATION);
}

HWND CSimpleAbout::Window() const {
  FindBox find{AboutCaption()};
  EnumThreadWindows(GetCurrentThreadId(), &FindBoxProc, reinterpret_cast<LPARAM>(&find));
  return find.found;
}

INT_PTR CDlgError::DoModal() {
  return MessageBoxW(cl::SafeHwnd(parent_), cl::LoadResString(stringId_).c_str(),
                     cl::LoadResString(IDS_APP_NAME).c_str(), MB_OK | MB_ICONERROR);
}
