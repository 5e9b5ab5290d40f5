// GDI+ start-up as a scope, and pictures decoded from resources or memory.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <cstddef>
#include <memory>

namespace cl {

// GDI+ for as long as this object lives, or between Start and Shutdown (an
// application object keeps one as a member: started in InitInstance, shut
// down in ExitInstance even when start-up quit before starting it).
class GdiplusSession {
 public:
  GdiplusSession() = default;  // not started
  ~GdiplusSession() { Shutdown(); }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;

  // GdiplusStartup: version 1, no debug callback, GDI+'s background thread
  // and external codecs not suppressed. Ok when already started.
  Gdiplus::Status Start();
  // GdiplusShutdown with the stored token when started; otherwise nothing.
  void Shutdown();
  bool started() const { return token_ != 0; }
  ULONG_PTR token() const { return token_; }

 private:
  ULONG_PTR token_ = 0;
};

// Decodes a picture file held in memory (PNG, or any format GDI+ reads) into
// a bitmap that keeps its own copy of the bytes. Null when GDI+ cannot
// decode every pixel (a truncated or damaged file); *status then tells GDI+'s
// reason (never Ok). Needs a started GDI+.
std::unique_ptr<Gdiplus::Bitmap> DecodePicture(const void* bytes, size_t size,
                                               Gdiplus::Status* status = nullptr);

// The resource of type "PNG" and this id in module (null:
// AfxGetResourceHandle()), decoded as DecodePicture does. A missing resource
// gives null with status InvalidParameter.
std::unique_ptr<Gdiplus::Bitmap> LoadPngResource(UINT id, HMODULE module = nullptr,
                                                 Gdiplus::Status* status = nullptr);

}  // namespace cl
