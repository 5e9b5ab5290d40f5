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

}  // namespace

void Drag(POINT from, POINT to) {
  MouseMove(from.x, from.y);
  MouseDown();
  for (int i = 1; i <= 4; ++i)
    MouseMove(from.x + (to.x - from.x) * i / 4, from.y + (to.y - from.y) * i / 4);
  MouseUp();
}

void Key(WORD vk) {
  uidrive::TapKey(vk);
  Pump(100);
}

void Wheel(int delta) {
  uidrive::SendMouse(MOUSEEVENTF_WHEEL, 0, 0, static_cast<DWORD>(delta));
  Pump(100);
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
