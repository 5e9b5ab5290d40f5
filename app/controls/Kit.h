// The shared pieces of the control kit: the PNG loaders every control and
// dialog base uses, the font-family fallback of the GDI+ text controls, and
// the background slice that lets a control look transparent over its
// dialog's picture. UI thread only; GDI+ must be started.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <memory>
#include <string>

#include "app/controls/Surface.h"

// The PNG resource `id` (type "PNG", the module of AfxGetResourceHandle())
// decoded with GDI+ into *image, which the caller then owns. False, with
// *image empty, when the resource is missing or GDI+ cannot decode every
// pixel of it (a damaged picture never reaches a control half-drawn).
// LoadPngResource and LoadPngImage are the same call under the two names the
// kit's users know; LoadPngBitmap gives the Bitmap type.
bool LoadPngResource(UINT id, std::unique_ptr<Gdiplus::Image>* image);
bool LoadPngImage(UINT id, std::unique_ptr<Gdiplus::Image>* image);
bool LoadPngBitmap(UINT id, std::unique_ptr<Gdiplus::Bitmap>* bitmap);

namespace kit {

// Font families of the GDI+ text controls. Each control owns one family.
//
// Set by name: *family becomes the family `face`; when GDI+ has none of
// that name (FontFamilyNotFound), "Arial" instead. True when a family
// object exists afterwards.
bool SetFontFamilyByName(std::unique_ptr<Gdiplus::FontFamily>* family, const wchar_t* face);
// Get (lazy): the family when one is set. Otherwise `preferred` ("Calibri"
// for every control); when GDI+ has no such family and `window` exists, the
// face of the window's font (WM_GETFONT), or "MS Shell Dlg 2" when the
// window has no font; whatever that gives is kept. Never null.
Gdiplus::FontFamily* GetFontFamilyLazy(std::unique_ptr<Gdiplus::FontFamily>* family, HWND window,
                                       const wchar_t* preferred = L"Calibri");
// The family's name (for logs and tests); "" for a family GDI+ could not make.
std::wstring FamilyName(const Gdiplus::FontFamily* family);

// 96 / LOGPIXELSX of the screen: the factor that makes a point size look
// the same number of pixels whatever the system DPI.
float ScreenPointFactor();

// The background slice: where a control takes the picture it paints under
// its own content.
struct BackgroundSlice {
  int pngId = -1;          // own background picture (-1 or 0: none)
  HDC parentDC = nullptr;  // the owner's back buffer, used in place of the picture; not owned
  int offsetX = 0;         // where the control's top-left lies in the source
  int offsetY = 0;
  bool relative = false;   // the offsets are the source's screen origin

  // The picture drawn once at its natural size, kept until Free.
  MemSurface cache;

  bool HasPng() const { return pngId > 0; }
  // The point of the source that lies under the control's top-left:
  // (offsetX, offsetY), or, when relative, the control's screen position
  // minus them.
  POINT SourceOrigin(HWND control) const;
  // Draws the PNG at its natural size into `cache` (compatible with
  // `compatibleWith`) unless it is there already. False when it cannot be
  // loaded.
  bool EnsureCache(HDC compatibleWith);
  // Copies the w x h slice at SourceOrigin from `source` into dst at (0, 0).
  void CopyFrom(HDC source, HDC dst, HWND control, int w, int h) const;
  void Free() { cache.Reset(); }
};

// Copies what the window shows now (its client area) into dst at (0, 0):
// the look of a control that has no background of its own.
void CopyOwnScreen(HWND window, HDC dst, int w, int h);

// The client size of a window.
SIZE ClientSize(HWND window);

// Draws `image` stretched over (x, y, w, h) of a DC with GDI+ (source: the
// whole image, pixel units). False when GDI+ refused.
bool DrawImageOn(HDC dc, Gdiplus::Image* image, int x, int y, int w, int h);

}  // namespace kit
