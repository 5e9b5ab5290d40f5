#include <gtest/gtest.h>

#include <windows.h>

#include "classlib/Gdi.h"
#include "support/WaitFactor.h"

namespace {

// A deleted GDI object (or DC) has no type any more.
bool Alive(HGDIOBJ h) { return GetObjectType(h) != 0; }

TEST(GdiTest, ScopedSelectPutsTheOldObjectBackSoTheNewOneCanGo) {
  struct Case {
    const char* name;
    UINT type;
    HGDIOBJ (*make)();
  } cases[] = {
      {"bitmap", OBJ_BITMAP, [] { return HGDIOBJ(CreateBitmap(4, 4, 1, 32, nullptr)); }},
      {"brush", OBJ_BRUSH, [] { return HGDIOBJ(CreateSolidBrush(RGB(1, 2, 3))); }},
      {"pen", OBJ_PEN, [] { return HGDIOBJ(CreatePen(PS_SOLID, 3, RGB(1, 2, 3))); }},
      {"font", OBJ_FONT, [] {
         return HGDIOBJ(CreateFontW(-12, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0,
                                    L"Tahoma"));
       }},
  };
  cl::CMemoryDC dc(nullptr);
  ASSERT_TRUE(dc.get());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const HGDIOBJ before = GetCurrentObject(dc, c.type);
    HGDIOBJ raw;
    {
      cl::CGdiObject<HGDIOBJ> object(c.make());
      raw = object.get();
      ASSERT_TRUE(raw);
      {
        cl::ScopedSelect select(dc, object);
        EXPECT_TRUE(select.ok());
        EXPECT_EQ(raw, GetCurrentObject(dc, c.type));
      }
      EXPECT_EQ(before, GetCurrentObject(dc, c.type));
    }
    // DeleteObject fails on an object still selected into a DC.
    EXPECT_FALSE(Alive(raw));
  }
}

TEST(GdiTest, AFailedSelectionRestoresNothing) {
  cl::CMemoryDC dc(nullptr);
  cl::CBitmap bitmap(CreateBitmap(2, 2, 1, 32, nullptr));
  const HGDIOBJ before = GetCurrentObject(dc, OBJ_BITMAP);
  {
    cl::ScopedSelect none(dc, nullptr);
    EXPECT_FALSE(none.ok());
    cl::ScopedSelect first(dc, bitmap);
    ASSERT_TRUE(first.ok());
  }
  EXPECT_EQ(before, GetCurrentObject(dc, OBJ_BITMAP));
}

TEST(GdiTest, OwnedDcIsDeletedAndBitsReadBack) {
  HDC raw;
  {
    cl::CMemoryDC dc(nullptr);
    raw = dc;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = 8;
    bi.bmiHeader.biHeight = -8;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    cl::CBitmap dib(CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    ASSERT_TRUE(dib.get() && bits);
    cl::ScopedSelect select(dc, dib);
    cl::CBrush red(CreateSolidBrush(RGB(255, 0, 0)));
    RECT all{0, 0, 8, 8};
    FillRect(dc, &all, red);
    GdiFlush();
    EXPECT_EQ(0x00FF0000u, static_cast<const DWORD*>(bits)[63] & 0x00FFFFFFu);
  }
  EXPECT_FALSE(Alive(raw));
}

// A window painted through CPaintDC shows the paint, read back through the
// window's own CClientDC and through the screen's.
LRESULT CALLBACK PaintProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT) {
    cl::CPaintDC dc(hwnd);
    cl::CBrush green(CreateSolidBrush(RGB(0, 255, 0)));
    RECT rc;
    GetClientRect(hwnd, &rc);
    FillRect(dc, &rc, green);
    return 0;
  }
  if (msg == WM_ERASEBKGND) return 1;
  return DefWindowProcW(hwnd, msg, wp, lp);
}

TEST(GdiTest, PaintAndClientDcs) {
  cl::CClientDC screen(nullptr);
  if (!screen.get() || GetDeviceCaps(screen, HORZRES) < 100) GTEST_SKIP() << "no screen";
  WNDCLASSW wc{};
  wc.lpfnWndProc = PaintProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TessGdiTest";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"gdi", WS_POPUP | WS_VISIBLE, 10,
                              10, 60, 40, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_TRUE(hwnd);
  UpdateWindow(hwnd);
  // The same pixel through the window's own DC (client coordinates) and
  // through the screen's.
  COLORREF inWindow = CLR_INVALID, onScreen = CLR_INVALID;
  testwait::Until(
      [&] {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        cl::CClientDC client(hwnd);
        inWindow = GetPixel(client, 30, 20);
        onScreen = GetPixel(screen, 40, 30);
        return inWindow == RGB(0, 255, 0) && onScreen == RGB(0, 255, 0);
      },
      2000, 20);
  EXPECT_EQ(RGB(0, 255, 0), inWindow);
  EXPECT_EQ(RGB(0, 255, 0), onScreen);
  DestroyWindow(hwnd);
}

}  // namespace
