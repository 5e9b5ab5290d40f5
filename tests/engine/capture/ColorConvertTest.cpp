// BGRA to I420 through libswscale: known colours, plane layout, and inputs
// that must not be converted.
#include "engine/capture/ColorConvert.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

std::vector<uint8_t> Solid(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
  std::vector<uint8_t> p(static_cast<size_t>(w) * h * 4);
  for (size_t i = 0; i < p.size(); i += 4) {
    p[i] = b;
    p[i + 1] = g;
    p[i + 2] = r;
    p[i + 3] = 255;
  }
  return p;
}

}  // namespace

TEST(ColorConvert, KnownColoursGiveBt601LimitedRangeValues) {
  struct Case {
    const char* name;
    uint8_t b, g, r;
    int y, u, v;
  } cases[] = {
      {"black", 0, 0, 0, 16, 128, 128},     {"white", 255, 255, 255, 235, 128, 128},
      {"red", 0, 0, 255, 81, 90, 240},      {"green", 0, 255, 0, 145, 54, 34},
      {"blue", 255, 0, 0, 41, 240, 110},
  };
  const int w = 64, h = 32;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto src = Solid(w, h, c.b, c.g, c.r);
    std::vector<uint8_t> dst(I420Size(w, h), 0xAA);
    ASSERT_EQ(ConvertBgraToI420(w, h, src.data(), dst.data()), w * h * 3 / 2);
    const uint8_t* Y = dst.data();
    const uint8_t* U = Y + w * h;
    const uint8_t* V = U + w * h / 4;
    for (int i : {0, w * h / 2, w * h - 1}) EXPECT_NEAR(Y[i], c.y, 2) << i;
    for (int i : {0, w * h / 8, w * h / 4 - 1}) {
      EXPECT_NEAR(U[i], c.u, 2) << i;
      EXPECT_NEAR(V[i], c.v, 2) << i;
    }
  }
}

TEST(ColorConvert, PlanesFollowTheLayoutTheEncoderReads) {
  // Left half red, right half blue: the U plane (w/2 per row) splits likewise.
  const int w = 32, h = 8;
  auto src = Solid(w, h, 0, 0, 255);
  for (int y = 0; y < h; ++y)
    for (int x = w / 2; x < w; ++x) {
      uint8_t* p = &src[(y * w + x) * 4];
      p[0] = 255;
      p[2] = 0;
    }
  std::vector<uint8_t> dst(I420Size(w, h));
  ASSERT_GT(ConvertBgraToI420(w, h, src.data(), dst.data()), 0);
  const uint8_t* U = dst.data() + w * h;
  for (int row = 0; row < h / 2; ++row) {
    EXPECT_NEAR(U[row * (w / 2) + 0], 90, 2);
    EXPECT_NEAR(U[row * (w / 2) + w / 2 - 1], 240, 2);
  }
  CachedBgraToI420 cached;
  std::vector<uint8_t> again(dst.size());
  ASSERT_GT(cached.Convert(w, h, src.data(), again.data()), 0);
  EXPECT_EQ(again, dst);
}

TEST(ColorConvert, RefusesWhatItCannotConvertAndWritesNothing) {
  std::vector<uint8_t> src(64 * 64 * 4, 0), dst(I420Size(64, 64), 0x5A);
  struct {
    int w, h;
    bool srcNull, dstNull;
  } cases[] = {{0, 64, false, false}, {64, -2, false, false}, {63, 64, false, false},
               {64, 63, false, false}, {64, 64, true, false}, {64, 64, false, true}};
  for (auto c : cases) {
    EXPECT_EQ(ConvertBgraToI420(c.w, c.h, c.srcNull ? nullptr : src.data(),
                                c.dstNull ? nullptr : dst.data()),
              0)
        << c.w << "x" << c.h;
  }
  for (uint8_t b : dst) ASSERT_EQ(b, 0x5A);
}
