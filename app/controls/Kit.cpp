#include "app/controls/Kit.h"

#include "classlib/GdiPlus.h"

bool LoadPngBitmap(UINT id, std::unique_ptr<Gdiplus::Bitmap>* bitmap) {
  *bitmap = cl::LoadPngResource(id);
  return *bitmap != nullptr;
}

bool LoadPngResource(UINT id, std::unique_ptr<Gdiplus::Image>* image) {
  std::unique_ptr<Gdiplus::Bitmap> bmp;
  bool ok = LoadPngBitmap(id, &bmp);
  *image = std::move(bmp);
  return ok;
}

bool LoadPngImage(UINT id, std::unique_ptr<Gdiplus::Image>* image) {
  return LoadPngResource(id, image);
}

namespace kit {

namespace {

bool FamilyFound(const Gdiplus::FontFamily& f) {
  return f.GetLastStatus() != Gdiplus::FontFamilyNotFound;
}

}  // namespace

bool SetFontFamilyByName(std::unique_ptr<Gdiplus::FontFamily>* family, const wchar_t* face) {
  family->reset(new Gdiplus::FontFamily(face ? face : L""));
  if (*family && !FamilyFound(**family)) family->reset(new Gdiplus::FontFamily(L"Arial"));
  return *family != nullptr;
}

Gdiplus::FontFamily* GetFontFamilyLazy(std::unique_ptr<Gdiplus::FontFamily>* family, HWND window,
                                       const wchar_t* preferred) {
  if (*family) return family->get();
  family->reset(new Gdiplus::FontFamily(preferred));
  if (!FamilyFound(**family) && window && IsWindow(window)) {
    LOGFONTW lf{};
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    const wchar_t* face = L"MS Shell Dlg 2";
    if (font && GetObjectW(font, sizeof(lf), &lf)) face = lf.lfFaceName;
    family->reset(new Gdiplus::FontFamily(face));
  }
  return family->get();
}

std::wstring FamilyName(const Gdiplus::FontFamily* family) {
  if (!family || family->GetLastStatus() != Gdiplus::Ok) return L"";
  WCHAR name[LF_FACESIZE] = {};
  family->GetFamilyName(name);
  return name;
}

float ScreenPointFactor() {
  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return 96.0f / static_cast<float>(dpi > 0 ? dpi : 96);
}

POINT BackgroundSlice::SourceOrigin(HWND control) const {
  if (!relative) return {offsetX, offsetY};
  RECT r{};
  GetWindowRect(control, &r);
  return {r.left - offsetX, r.top - offsetY};
}

bool BackgroundSlice::EnsureCache(HDC compatibleWith) {
  if (cache.ok()) return true;
  std::unique_ptr<Gdiplus::Image> png;
  if (!HasPng() || !LoadPngImage(static_cast<UINT>(pngId), &png)) return false;
  int w = static_cast<int>(png->GetWidth()), h = static_cast<int>(png->GetHeight());
  if (!cache.Create(compatibleWith, w, h)) return false;
  DrawImageOn(cache.dc(), png.get(), 0, 0, w, h);
  return true;
}

void BackgroundSlice::CopyFrom(HDC source, HDC dst, HWND control, int w, int h) const {
  POINT o = SourceOrigin(control);
  BitBlt(dst, 0, 0, w, h, source, o.x, o.y, SRCCOPY);
}

void CopyOwnScreen(HWND window, HDC dst, int w, int h) {
  cl::CClientDC own(window);
  if (own) BitBlt(dst, 0, 0, w, h, own, 0, 0, SRCCOPY);
}

SIZE ClientSize(HWND window) {
  RECT r{};
  GetClientRect(window, &r);
  return {r.right - r.left, r.bottom - r.top};
}

bool DrawImageOn(HDC dc, Gdiplus::Image* image, int x, int y, int w, int h) {
  if (!dc || !image) return false;
  Gdiplus::Graphics g(dc);
  return g.DrawImage(image, Gdiplus::Rect(x, y, w, h), 0, 0, static_cast<INT>(image->GetWidth()),
                     static_cast<INT>(image->GetHeight()), Gdiplus::UnitPixel) == Gdiplus::Ok;
}

}  // namespace kit
