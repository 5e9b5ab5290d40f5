// libVencBridge.dll called directly, as any loader would: null and bad
// arguments never crash, and the rate fields steer x264's rate control.
#include "bridges/VencBridge/VencBridge.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Bridge {
  HMODULE lib = LoadLibraryW(L"libVencBridge.dll");
  template <class F>
  F Get(const char* name) {
    return reinterpret_cast<F>(GetProcAddress(lib, name));
  }
  PFN_Kvx264Init init = Get<PFN_Kvx264Init>("Kvx264Init");
  PFN_Kvx264Alloc alloc = Get<PFN_Kvx264Alloc>("Kvx264Alloc");
  PFN_Kvx264Free free = Get<PFN_Kvx264Free>("Kvx264Free");
  PFN_Kvx264SetPlaneBuffer setPlane = Get<PFN_Kvx264SetPlaneBuffer>("Kvx264SetPlaneBuffer");
  PFN_Kvx264GetPlaneAddr getPlane = Get<PFN_Kvx264GetPlaneAddr>("Kvx264GetPlaneAddr");
  PFN_Kvx264EncodeFrame encode = Get<PFN_Kvx264EncodeFrame>("Kvx264EncodeFrame");
  PFN_Kvx264MemMalloc memMalloc = Get<PFN_Kvx264MemMalloc>("Kvx264MemMalloc");
  PFN_Kvx264MemFree memFree = Get<PFN_Kvx264MemFree>("Kvx264MemFree");
  ~Bridge() {
    if (lib) FreeLibrary(lib);
  }
  bool Complete() const {
    return lib && init && alloc && free && setPlane && getPlane && encode && memMalloc && memFree;
  }
};

KvEncConfig Config(int w, int h, int rate, int quality) {
  KvEncConfig c{};
  c.width = w;
  c.height = h;
  c.rateFactor = 27.0f;
  c.rateKbps = rate;
  c.qualityKbps = quality;
  c.refFrames = 1;
  c.keyintMax = 10000;
  return c;
}

// Moving noise-like content that costs bits at any quality.
void Fill(uint8_t* pic, int w, int h, int frame) {
  uint32_t s = 12345u + frame * 7919u;
  for (int i = 0; i < w * h; ++i) {
    s = s * 1103515245u + 12345u;
    pic[i] = static_cast<uint8_t>(((i % w) * 2 + frame * 5) ^ (s >> 24));
  }
  memset(pic + w * h, 128, w * h / 2);
}

}  // namespace

TEST(VencBridge, ExportsAllEightEntryPoints) {
  Bridge b;
  ASSERT_TRUE(b.Complete());
}

TEST(VencBridge, NullAndBadArgumentsNeverCrash) {
  Bridge b;
  ASSERT_TRUE(b.Complete());
  EXPECT_EQ(b.init(nullptr), -1);
  EXPECT_EQ(b.encode(nullptr), 0);
  EXPECT_EQ(b.setPlane(nullptr, 0, nullptr), -1);
  EXPECT_EQ(b.getPlane(nullptr, 0), nullptr);
  b.free(nullptr);
  b.memFree(nullptr);
  EXPECT_EQ(b.memMalloc(0), nullptr);

  struct {
    int w, h;
  } bad[] = {{0, 0}, {-2, 64}, {63, 64}, {64, 63}, {8, 8}, {16384, 64}};
  KvEncConfig c = Config(64, 64, 0, 6000);
  ASSERT_EQ(b.init(&c), 0);
  for (auto s : bad) EXPECT_EQ(b.alloc(s.w, s.h), nullptr) << s.w << "x" << s.h;

  KvEncHandle* h = b.alloc(64, 64);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(b.setPlane(h, 3, nullptr), -1);
  EXPECT_EQ(b.setPlane(h, -1, nullptr), -1);
  EXPECT_EQ(b.getPlane(h, 3), nullptr);
  // Planes not given yet: no output, no read through a null pointer.
  h->outSize = 77;
  EXPECT_EQ(b.encode(h), 0);
  EXPECT_EQ(h->outSize, 0);
  EXPECT_EQ(h->outData, nullptr);
  EXPECT_EQ(h->frameType, KV_FRAME_NONE);

  uint8_t* pic = static_cast<uint8_t*>(b.memMalloc(64 * 64 * 3 / 2));
  ASSERT_NE(pic, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(pic) % 64, 0u);
  for (int i = 0; i < 64 * 64 * 3 / 2; ++i) ASSERT_EQ(pic[i], 0);
  b.setPlane(h, 0, pic);
  b.setPlane(h, 1, pic + 4096);
  EXPECT_EQ(b.encode(h), 0) << "plane 2 still missing";
  b.setPlane(h, 2, pic + 4096 + 1024);
  EXPECT_EQ(b.getPlane(h, 2), pic + 5120);
  h->pts = 123456;
  EXPECT_GT(b.encode(h), 0);
  EXPECT_EQ(h->frameType, KV_FRAME_IDR);
  EXPECT_EQ(h->pts, 123456);
  b.free(h);
  b.memFree(pic);
}

TEST(VencBridge, RateValueLimitsTheBitRateAndQualityRaisesIt) {
  Bridge b;
  ASSERT_TRUE(b.Complete());
  const int w = 320, h = 240, frames = 60;
  std::vector<uint8_t> pic(w * h * 3 / 2);
  auto bytesFor = [&](int rate, int quality) {
    KvEncConfig c = Config(w, h, rate, quality);
    b.init(&c);
    KvEncHandle* e = b.alloc(w, h);
    EXPECT_NE(e, nullptr);
    if (!e) return 0LL;
    e->forceIdr = 0;
    b.setPlane(e, 0, pic.data());
    b.setPlane(e, 1, pic.data() + w * h);
    b.setPlane(e, 2, pic.data() + w * h * 5 / 4);
    long long total = 0;
    for (int i = 0; i < frames; ++i) {
      Fill(pic.data(), w, h, i);
      e->pts = i * 33333LL;
      total += b.encode(e);
    }
    b.free(e);
    return total;
  };
  const long long limited = bytesFor(800, 1000);  // 800 kbit/s at a nominal 30 fps
  const long long crfLow = bytesFor(0, 1000);     // CRF 27
  const long long crfHigh = bytesFor(0, 6000);    // CRF 22
  // Two seconds at 800 kbit/s, with the one-second buffer's slack.
  EXPECT_LT(limited, 2 * 800 * 1000 / 8 * 3 / 2) << limited;
  EXPECT_GT(crfHigh, crfLow);
  EXPECT_GT(crfLow, limited);
}
