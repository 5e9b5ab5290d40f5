#include "classlib/GdiPlus.h"

#include <cstring>

#include "classlib/ComPtr.h"
#include "classlib/Resource.h"

namespace cl {

Gdiplus::Status GdiplusSession::Start() {
  if (token_) return Gdiplus::Ok;
  Gdiplus::GdiplusStartupInput input;  // version 1, no callback, thread on, codecs on
  ULONG_PTR token = 0;
  Gdiplus::Status s = Gdiplus::GdiplusStartup(&token, &input, nullptr);
  if (s == Gdiplus::Ok) token_ = token;
  return s;
}

void GdiplusSession::Shutdown() {
  if (!token_) return;
  Gdiplus::GdiplusShutdown(token_);
  token_ = 0;
}

std::unique_ptr<Gdiplus::Bitmap> DecodePicture(const void* bytes, size_t size,
                                               Gdiplus::Status* status) {
  Gdiplus::Status dummy;
  Gdiplus::Status& st = status ? *status : dummy;
  st = Gdiplus::InvalidParameter;
  if (!bytes || size == 0) return nullptr;

  // The stream owns a movable copy (released with the stream), and the
  // bitmap holds the stream: the caller's bytes may go at once.
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!copy) {
    st = Gdiplus::OutOfMemory;
    return nullptr;
  }
  void* dst = GlobalLock(copy);
  std::memcpy(dst, bytes, size);
  GlobalUnlock(copy);
  ComPtr<IStream> stream;
  if (FAILED(CreateStreamOnHGlobal(copy, TRUE, stream.put()))) {
    GlobalFree(copy);
    st = Gdiplus::OutOfMemory;
    return nullptr;
  }

  std::unique_ptr<Gdiplus::Bitmap> bmp(Gdiplus::Bitmap::FromStream(stream.get(), FALSE));
  if (!bmp) {
    st = Gdiplus::OutOfMemory;
    return nullptr;
  }
  st = bmp->GetLastStatus();
  if (st != Gdiplus::Ok) return nullptr;
  // GDI+ may decode lazily: reading every pixel once makes a damaged file
  // fail here, not at the first paint.
  Gdiplus::Rect all(0, 0, static_cast<INT>(bmp->GetWidth()), static_cast<INT>(bmp->GetHeight()));
  if (all.Width <= 0 || all.Height <= 0) {
    st = Gdiplus::InvalidParameter;
    return nullptr;
  }
  Gdiplus::BitmapData data;
  st = bmp->LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data);
  if (st != Gdiplus::Ok) return nullptr;
  bmp->UnlockBits(&data);
  return bmp;
}

std::unique_ptr<Gdiplus::Bitmap> LoadPngResource(UINT id, HMODULE module, Gdiplus::Status* status) {
  if (!module) module = AfxGetResourceHandle();
  HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
  HGLOBAL data = res ? LoadResource(module, res) : nullptr;
  const void* bytes = data ? LockResource(data) : nullptr;
  if (!bytes) {
    if (status) *status = Gdiplus::InvalidParameter;
    return nullptr;
  }
  return DecodePicture(bytes, SizeofResource(module, res), status);
}

}  // namespace cl
