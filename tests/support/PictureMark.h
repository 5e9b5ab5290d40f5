// The placeholder pictures carry their number in one colour (a mark a
// person can read off a screenshot); a window's layout must leave it bare.
// Reads a picture's pixels of that colour and the screen where the picture
// is drawn. GDI+ must be started.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <vector>

namespace picturemark {

// The placeholder art's colour of a picture's number.
constexpr COLORREF kMarkColour = RGB(0x93, 0x91, 0x8F);

// The points of `picture` in `colour` that the screen does not show in
// that colour when the picture is drawn with its top-left at `origin`
// (screen coordinates) at its natural size: what covers the mark. `marked`
// gets how many points of that colour the picture has.
inline std::vector<POINT> CoveredPixels(Gdiplus::Bitmap& picture, POINT origin, int* marked,
                                        COLORREF colour = kMarkColour) {
  std::vector<POINT> covered;
  *marked = 0;
  HDC screen = GetDC(nullptr);
  for (UINT y = 0; y < picture.GetHeight(); ++y) {
    for (UINT x = 0; x < picture.GetWidth(); ++x) {
      Gdiplus::Color c;
      picture.GetPixel(static_cast<INT>(x), static_cast<INT>(y), &c);
      if (c.GetA() != 255 || RGB(c.GetR(), c.GetG(), c.GetB()) != colour) continue;
      ++*marked;
      const POINT p{static_cast<LONG>(x), static_cast<LONG>(y)};
      if (GetPixel(screen, origin.x + p.x, origin.y + p.y) != colour) covered.push_back(p);
    }
  }
  ReleaseDC(nullptr, screen);
  return covered;
}

}  // namespace picturemark
