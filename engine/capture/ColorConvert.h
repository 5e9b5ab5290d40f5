// BGRA pictures (the captors' output) to planar I420 (the encoder's input),
// through libswscale. Pure code: no platform headers.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes of an I420 picture: Y plane, then U, then V (integer arithmetic).
inline size_t I420Size(int width, int height) {
  return static_cast<size_t>(width) * static_cast<size_t>(height) * 3 / 2;
}

// Converts one width x height BGRA picture (stride width x 4) into dst
// (I420Size bytes: Y stride width, U and V stride width / 2), BT.601 limited
// range, point sampling. Returns width x height x 3 / 2, or 0 (nothing
// written) for a null buffer, a size that is not positive and even, or a
// converter that could not be made.
int ConvertBgraToI420(int width, int height, const uint8_t* src, uint8_t* dst);

// The same with one converter kept between pictures of one size (the
// benchmark's comparison against a converter per picture).
class CachedBgraToI420 {
 public:
  CachedBgraToI420() = default;
  ~CachedBgraToI420();
  CachedBgraToI420(const CachedBgraToI420&) = delete;
  CachedBgraToI420& operator=(const CachedBgraToI420&) = delete;
  int Convert(int width, int height, const uint8_t* src, uint8_t* dst);

 private:
  struct SwsContext* context_ = nullptr;
  int width_ = 0;
  int height_ = 0;
};
