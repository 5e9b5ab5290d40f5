#include "KitTest.h"

#include <commctrl.h>
#include <objbase.h>

#include "classlib/GdiPlus.h"

namespace kittest {

namespace {

// GDI+, the common controls and OLE for every test of the binary.
class KitEnvironment : public ::testing::Environment {
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

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new KitEnvironment);

}  // namespace

void Key(WORD vk, bool down) {
  uidrive::SendKey(vk, down);
  Pump(60);
}

bool WaitForPixel(int x, int y, COLORREF want, int tol, DWORD ms) {
  return PumpUntil([&] { return Near(ScreenPixel(x, y), want, tol); }, ms);
}

SolidWindow::SolidWindow(const RECT& r, COLORREF colour) {
  brush_ = CreateSolidBrush(colour);
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"kittest.solid";
  RegisterClassW(&wc);  // once; later calls fail harmlessly
  hwnd_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"kittest.solid", L"", WS_POPUP, r.left, r.top,
                          r.right - r.left, r.bottom - r.top, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  SetClassLongPtrW(hwnd_, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(brush_));
  ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
  UpdateWindow(hwnd_);
  Pump(100);
}

SolidWindow::~SolidWindow() {
  if (hwnd_) DestroyWindow(hwnd_);
  if (brush_) DeleteObject(brush_);
}

bool Host::Open(int x, int y) {
  if (!Create(nullptr)) return false;
  SetWindowPos(m_hWnd, HWND_TOPMOST, x, y, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  SetForegroundWindow(m_hWnd);
  Pump(100);
  return true;
}

HWND Host::Child(const wchar_t* cls, const wchar_t* text, DWORD style, RECT r, UINT id) {
  return CreateWindowExW(0, cls, text, style | WS_CHILD | WS_VISIBLE, r.left, r.top, r.right - r.left,
                         r.bottom - r.top, m_hWnd, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                         GetModuleHandleW(nullptr), nullptr);
}

POINT Host::ToScreen(int x, int y) const {
  POINT p{x, y};
  ClientToScreen(m_hWnd, &p);
  return p;
}

LRESULT Host::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && onCommand) {
    // Reflection first: a control that handles its own notification keeps it.
    LRESULT r = cl::CDialog::WindowProc(message, wParam, lParam);
    onCommand(LOWORD(wParam), HIWORD(wParam));
    return r;
  }
  return cl::CDialog::WindowProc(message, wParam, lParam);
}

}  // namespace kittest
