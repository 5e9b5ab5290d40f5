// RAII owners for GDI: the device-context kinds, GDI objects, and a scoped
// selection that puts the old object back. Each owner is named after the
// Win32 pair it wraps (BeginPaint/EndPaint, GetDC/ReleaseDC,
// CreateCompatibleDC/DeleteDC, DeleteObject, SelectObject), and converts to
// the raw handle so the GDI calls stay the caller's own.
//
// Order of destruction matters in GDI: a selection must end before the DC
// or the object it selected goes. Declare the DC first, then the objects,
// then the selections; C++ destroys them in reverse.
#pragma once

#include <windows.h>

namespace cl {

// The DC of one WM_PAINT: BeginPaint in the constructor, EndPaint in the
// destructor. Only inside the window's WM_PAINT handler.
class CPaintDC {
 public:
  explicit CPaintDC(HWND hwnd) : hwnd_(hwnd), dc_(BeginPaint(hwnd, &ps_)) {}
  ~CPaintDC() { EndPaint(hwnd_, &ps_); }
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;

  HDC get() const { return dc_; }
  operator HDC() const { return dc_; }
  const PAINTSTRUCT& paint() const { return ps_; }

 private:
  HWND hwnd_;
  PAINTSTRUCT ps_{};
  HDC dc_;
};

// A window's client-area DC, or the screen's with a null window: GetDC in
// the constructor, ReleaseDC in the destructor. Null when GetDC failed.
class CClientDC {
 public:
  explicit CClientDC(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
  ~CClientDC() {
    if (dc_) ReleaseDC(hwnd_, dc_);
  }
  CClientDC(const CClientDC&) = delete;
  CClientDC& operator=(const CClientDC&) = delete;

  HDC get() const { return dc_; }
  operator HDC() const { return dc_; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// A DC this code made and frees with DeleteDC: adopts the result of
// CreateCompatibleDC or CreateDC. Null when the call failed.
class CDC {
 public:
  CDC() = default;
  explicit CDC(HDC dc) : dc_(dc) {}
  ~CDC() { reset(); }
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;
  CDC(CDC&& o) noexcept : dc_(o.release()) {}
  CDC& operator=(CDC&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }

  HDC get() const { return dc_; }
  operator HDC() const { return dc_; }
  HDC release() {
    HDC dc = dc_;
    dc_ = nullptr;
    return dc;
  }
  void reset(HDC dc = nullptr) {
    if (dc_) DeleteDC(dc_);
    dc_ = dc;
  }

 private:
  HDC dc_ = nullptr;
};

// A memory DC compatible with another DC (null: with the screen):
// CreateCompatibleDC in the constructor, DeleteDC in the destructor.
class CMemoryDC : public CDC {
 public:
  explicit CMemoryDC(HDC compatibleWith) : CDC(CreateCompatibleDC(compatibleWith)) {}
};

// Owner of one GDI object (bitmap, brush, pen, font, region): adopts the
// result of its Create call and frees it with DeleteObject. Deselect it
// from every DC first (ScopedSelect does).
template <typename T>
class CGdiObject {
 public:
  CGdiObject() = default;
  explicit CGdiObject(T h) : h_(h) {}
  ~CGdiObject() { reset(); }
  CGdiObject(const CGdiObject&) = delete;
  CGdiObject& operator=(const CGdiObject&) = delete;
  CGdiObject(CGdiObject&& o) noexcept : h_(o.release()) {}
  CGdiObject& operator=(CGdiObject&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }

  T get() const { return h_; }
  operator T() const { return h_; }
  T release() {
    T h = h_;
    h_ = nullptr;
    return h;
  }
  void reset(T h = nullptr) {
    if (h_) DeleteObject(h_);
    h_ = h;
  }

 private:
  T h_ = nullptr;
};

using CBitmap = CGdiObject<HBITMAP>;
using CBrush = CGdiObject<HBRUSH>;
using CPen = CGdiObject<HPEN>;
using CFont = CGdiObject<HFONT>;
using CRgn = CGdiObject<HRGN>;

// Selects an object into a DC for one scope and selects the previous one
// back at its end, so the object can be deleted and the DC keeps what it had.
// A failed selection (a null object, a bitmap already selected elsewhere)
// restores nothing; ok() tells.
class ScopedSelect {
 public:
  ScopedSelect(HDC dc, HGDIOBJ object)
      : dc_(dc), old_(dc && object ? SelectObject(dc, object) : nullptr) {}
  ~ScopedSelect() {
    if (ok()) SelectObject(dc_, old_);
  }
  ScopedSelect(const ScopedSelect&) = delete;
  ScopedSelect& operator=(const ScopedSelect&) = delete;

  bool ok() const { return old_ != nullptr && old_ != HGDI_ERROR; }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

}  // namespace cl
