// A screen image held as a GDI bitmap: the owner of one HBITMAP, nothing more.
// Drawing and saving stay with the GDI calls of the user.
#pragma once

#include <windows.h>

namespace cl {

class CImage {
 public:
  CImage() = default;
  ~CImage() { Destroy(); }
  CImage(const CImage&) = delete;
  CImage& operator=(const CImage&) = delete;

  bool IsNull() const { return bitmap_ == nullptr; }
  HBITMAP GetHBITMAP() const { return bitmap_; }
  operator HBITMAP() const { return bitmap_; }

  // Takes ownership of bitmap; a bitmap already held is destroyed first.
  void Attach(HBITMAP bitmap) {
    Destroy();
    bitmap_ = bitmap;
  }
  // Gives up ownership without destroying.
  HBITMAP Detach() {
    HBITMAP b = bitmap_;
    bitmap_ = nullptr;
    return b;
  }
  void Destroy() {
    if (bitmap_) DeleteObject(bitmap_);
    bitmap_ = nullptr;
  }

  // Size in pixels; 0 when empty.
  int GetWidth() const {
    BITMAP bm;
    return bitmap_ && GetObjectW(bitmap_, sizeof(bm), &bm) ? bm.bmWidth : 0;
  }
  int GetHeight() const {
    BITMAP bm;
    return bitmap_ && GetObjectW(bitmap_, sizeof(bm), &bm) ? bm.bmHeight : 0;
  }

 private:
  HBITMAP bitmap_ = nullptr;
};

}  // namespace cl
