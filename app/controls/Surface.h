// A memory DC with its own bitmap selected, the kit's back buffers and
// cached pictures. Freed in the right order (the bitmap is deselected before
// either goes), re-made by Create.
#pragma once

#include <windows.h>

#include "classlib/Gdi.h"

namespace kit {

class MemSurface {
 public:
  MemSurface() = default;
  ~MemSurface() { Reset(); }
  MemSurface(const MemSurface&) = delete;
  MemSurface& operator=(const MemSurface&) = delete;

  // A memory DC compatible with `compatibleWith` (null: the screen) holding
  // a compatible bitmap of w x h pixels; what was held before is freed
  // first. False (and empty) when either cannot be made or a side is not
  // positive.
  bool Create(HDC compatibleWith, int w, int h) {
    Reset();
    if (w <= 0 || h <= 0) return false;
    cl::CDC dc(CreateCompatibleDC(compatibleWith));
    // A bitmap compatible with a memory DC would be monochrome: take the
    // depth of the DC the caller named (or the screen's).
    HDC screen = compatibleWith ? nullptr : GetDC(nullptr);
    cl::CBitmap bmp(CreateCompatibleBitmap(compatibleWith ? compatibleWith : screen, w, h));
    if (screen) ReleaseDC(nullptr, screen);
    if (!dc || !bmp) return false;
    old_ = SelectObject(dc, bmp);
    if (!old_ || old_ == HGDI_ERROR) return false;
    dc_ = std::move(dc);
    bmp_ = std::move(bmp);
    w_ = w;
    h_ = h;
    return true;
  }

  void Reset() {
    if (dc_ && old_) SelectObject(dc_, old_);
    old_ = nullptr;
    dc_.reset();
    bmp_.reset();
    w_ = h_ = 0;
  }

  bool ok() const { return dc_.get() != nullptr; }
  HDC dc() const { return dc_.get(); }
  HBITMAP bitmap() const { return bmp_.get(); }
  int width() const { return w_; }
  int height() const { return h_; }

 private:
  cl::CDC dc_;
  cl::CBitmap bmp_;
  HGDIOBJ old_ = nullptr;
  int w_ = 0, h_ = 0;
};

}  // namespace kit
