#include "engine/capture/ColorConvert.h"

#include <cstring>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

bool ValidSize(int width, int height) {
  return width > 0 && height > 0 && (width % 2) == 0 && (height % 2) == 0 && width <= 16384 &&
         height <= 16384;
}

SwsContext* MakeContext(int width, int height) {
  return sws_getContext(width, height, AV_PIX_FMT_BGRA, width, height, AV_PIX_FMT_YUV420P,
                        SWS_POINT, nullptr, nullptr, nullptr);
}

int Scale(SwsContext* ctx, int width, int height, const uint8_t* src, uint8_t* dst) {
  const size_t ySize = static_cast<size_t>(width) * height;
  const uint8_t* srcPlanes[4] = {src, nullptr, nullptr, nullptr};
  const int srcStrides[4] = {width * 4, 0, 0, 0};
  uint8_t* dstPlanes[4] = {dst, dst + ySize, dst + ySize + ySize / 4, nullptr};
  const int dstStrides[4] = {width, width / 2, width / 2, 0};
  sws_scale(ctx, srcPlanes, srcStrides, 0, height, dstPlanes, dstStrides);
  return static_cast<int>(I420Size(width, height));
}

}  // namespace

// A converter per picture: captures change size at any reconfiguration and
// a context costs little next to the conversion (see bench/).
int ConvertBgraToI420(int width, int height, const uint8_t* src, uint8_t* dst) {
  if (!src || !dst || !ValidSize(width, height)) return 0;
  SwsContext* ctx = MakeContext(width, height);
  if (!ctx) return 0;
  memset(dst, 0, I420Size(width, height));
  const int n = Scale(ctx, width, height, src, dst);
  sws_freeContext(ctx);
  return n;
}

CachedBgraToI420::~CachedBgraToI420() {
  if (context_) sws_freeContext(context_);
}

int CachedBgraToI420::Convert(int width, int height, const uint8_t* src, uint8_t* dst) {
  if (!src || !dst || !ValidSize(width, height)) return 0;
  if (!context_ || width != width_ || height != height_) {
    if (context_) sws_freeContext(context_);
    context_ = MakeContext(width, height);
    width_ = width;
    height_ = height;
    if (!context_) return 0;
  }
  return Scale(context_, width, height, src, dst);
}
