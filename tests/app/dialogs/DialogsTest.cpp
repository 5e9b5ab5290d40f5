#include "DialogsTest.h"

#include <commctrl.h>
#include <objbase.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "classlib/GdiPlus.h"
#include "classlib/Wnd.h"

namespace dlgtest {

namespace {

// GDI+, the common controls and OLE for every test of the binary.
class DialogsEnvironment : public ::testing::Environment {
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

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new DialogsEnvironment);

void SendMouse(DWORD flags, int x = 0, int y = 0, DWORD data = 0) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dwFlags = flags;
  in.mi.mouseData = data;
  if (flags & MOUSEEVENTF_ABSOLUTE) {
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    in.mi.dx = MulDiv(x, 65535, w - 1);
    in.mi.dy = MulDiv(y, 65535, h - 1);
  }
  SendInput(1, &in, sizeof(in));
}

}  // namespace

bool PumpUntil(const std::function<bool()>& pred, DWORD ms) {
  const DWORD start = GetTickCount();
  MSG msg;
  for (;;) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return pred();
      if (!cl::WalkPreTranslateTree(&msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    if (pred()) return true;
    if (GetTickCount() - start >= ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

void Pump(DWORD ms) {
  PumpUntil([] { return false; }, ms);
}

void MouseMove(int x, int y) {
  SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, x, y);
  Pump(60);
}

void MouseDown() {
  SendMouse(MOUSEEVENTF_LEFTDOWN);
  Pump(60);
}

void MouseUp() {
  SendMouse(MOUSEEVENTF_LEFTUP);
  Pump(60);
}

void Click(int x, int y) {
  MouseMove(x, y);
  MouseDown();
  MouseUp();
}

void Drag(POINT from, POINT to) {
  MouseMove(from.x, from.y);
  MouseDown();
  for (int i = 1; i <= 4; ++i)
    MouseMove(from.x + (to.x - from.x) * i / 4, from.y + (to.y - from.y) * i / 4);
  MouseUp();
}

void Key(WORD vk) {
  INPUT in[2] = {};
  in[0].type = in[1].type = INPUT_KEYBOARD;
  in[0].ki.wVk = in[1].ki.wVk = vk;
  in[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, in, sizeof(INPUT));
  Pump(100);
}

void Wheel(int delta) {
  SendMouse(MOUSEEVENTF_WHEEL, 0, 0, static_cast<DWORD>(delta));
  Pump(100);
}

POINT CentreOf(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

COLORREF ScreenPixel(int x, int y) {
  HDC screen = GetDC(nullptr);
  COLORREF c = GetPixel(screen, x, y);
  ReleaseDC(nullptr, screen);
  return c;
}

bool Near(COLORREF a, COLORREF b, int tol) {
  return std::abs(GetRValue(a) - GetRValue(b)) <= tol && std::abs(GetGValue(a) - GetGValue(b)) <= tol &&
         std::abs(GetBValue(a) - GetBValue(b)) <= tol;
}

void Shot(const char* name) {
  const char* folder = std::getenv("TESS_DIALOG_SHOTS");
  if (!folder || !*folder) return;
  Pump(200);
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY | CAPTUREBLT);
  SelectObject(mem, old);
  UINT count = 0, size = 0;
  Gdiplus::GetImageEncodersSize(&count, &size);
  std::vector<BYTE> buffer(size ? size : 1);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  Gdiplus::GetImageEncoders(count, size, codecs);
  for (UINT i = 0; i < count; ++i) {
    if (wcscmp(codecs[i].MimeType, L"image/png") != 0) continue;
    const std::string path = std::string(folder) + "\\" + name + ".png";
    const std::wstring wpath(path.begin(), path.end());
    Gdiplus::Bitmap out(bmp, nullptr);
    out.Save(wpath.c_str(), &codecs[i].Clsid, nullptr);
    break;
  }
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
}

}  // namespace dlgtest
