#include <cstring>

#include "engine/capture/CapVideo.h"
#include "engine/mirror/StreamPacket.h"
#include "foundation/log/Logger.h"

CCapVideoGDI::~CCapVideoGDI() { Release(); }

void CCapVideoGDI::Release() {
  // The bitmap is selected only inside Capture, so the DC can go first.
  memoryDc_.reset();
  bitmap_.reset();
  desktopDc_.reset();
  bits_ = nullptr;
  pictureWidth_ = pictureHeight_ = 0;
}

int CCapVideoGDI::Config(VideoParam* param) {
  if (!param) {
    ZtLogger::Instance().Error("[Video]Failed to config captor : NULL param");
    return -1;
  }
  Release();
  param_ = param;
  CalcVideoScale(param);
  const int width = param->width;
  const int height = param->height;
  if (width <= 0 || height <= 0) return -2;

  desktopDc_.reset(new cl::CClientDC(GetDesktopWindow()));
  if (!desktopDc_->get()) {
    Release();
    return -3;
  }
  memoryDc_.reset(CreateCompatibleDC(*desktopDc_));
  // A top-down 32-bit DIB section: its bits are the BGRA picture, whatever
  // the display's own format, so no copy or conversion is needed.
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_.reset(CreateDIBSection(*desktopDc_, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!memoryDc_.get() || !bitmap_.get() || !bits) {
    Release();
    return -4;
  }
  bits_ = static_cast<uint8_t*>(bits);
  memset(bits_, 0, static_cast<size_t>(width) * height * 4);
  pictureWidth_ = width;
  pictureHeight_ = height;
  return 0;
}

int CCapVideoGDI::Capture(uint8_t** picture) {
  if (picture) *picture = nullptr;
  if (!param_) {
    ZtLogger::Instance().Error("[Video]capture failed: have to call config before capture");
    return -5;
  }
  if ((param_->receiverWidth == 0 && param_->receiverHeight == 0) || !bits_) {
    ZtLogger::Instance().Error("[Video]capture failed: have to call config before capture");
    return -1;
  }
  const VideoParam& v = *param_;
  BOOL copied;
  {
    cl::ScopedSelect select(memoryDc_, bitmap_);
    if (v.downscaled && v.fullWidth > 0 && v.fullHeight > 0) {
      SetStretchBltMode(memoryDc_, HALFTONE);
      SetBrushOrgEx(memoryDc_, 0, 0, nullptr);
      copied = StretchBlt(memoryDc_, 0, 0, pictureWidth_, pictureHeight_, *desktopDc_, v.left,
                          v.top, v.fullWidth, v.fullHeight, rop_);
    } else {
      copied = BitBlt(memoryDc_, 0, 0, pictureWidth_, pictureHeight_, *desktopDc_, v.left, v.top,
                      rop_);
    }
    if (copied && v.cursor) DrawCursor();
    GdiFlush();
  }
  // A failed copy (a secure desktop, a lost display) hands out nothing: the
  // session keeps the last converted picture.
  if (!copied) return -2;
  if (picture) *picture = bits_;
  return 0;
}

void CCapVideoGDI::DrawCursor() {
  CURSORINFO ci{};
  ci.cbSize = sizeof(ci);
  // A hidden cursor (a video player, a text field while typing) stays hidden.
  if (!GetCursorInfo(&ci) || !(ci.flags & CURSOR_SHOWING) || !ci.hCursor) return;
  const VideoParam& v = *param_;
  int x = ci.ptScreenPos.x - v.left;
  int y = ci.ptScreenPos.y - v.top;
  ICONINFO ii{};
  if (GetIconInfo(ci.hCursor, &ii)) {
    x -= static_cast<int>(ii.xHotspot);
    y -= static_cast<int>(ii.yHotspot);
    if (ii.hbmMask) DeleteObject(ii.hbmMask);
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
  }
  // On a stretched picture the cursor goes where its spot went.
  if (v.downscaled && v.fullWidth > 0 && v.fullHeight > 0) {
    x = static_cast<int>(static_cast<int64_t>(x) * pictureWidth_ / v.fullWidth);
    y = static_cast<int>(static_cast<int64_t>(y) * pictureHeight_ / v.fullHeight);
  }
  DrawIconEx(memoryDc_, x, y, ci.hCursor, 0, 0, 0, nullptr, DI_NORMAL);
}
