// The session's encoder over the real bridge: a missing or incomplete
// bridge, the configuration record, plane addresses, the output layout the
// packets rely on, reconfiguration and forced key frames.
#include "engine/encode/EncVideoH264.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/capture/ColorConvert.h"
#include "engine/mirror/SessionClock.h"
#include "foundation/log/Logger.h"
#include "support/TempDir.h"

namespace {

uint32_t Be32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// NAL unit types of a length-prefixed output; empty when the lengths do not
// add up to the size exactly.
std::vector<int> NalTypes(const EncodedFrame& f) {
  std::vector<int> types;
  size_t at = 0;
  const size_t size = static_cast<size_t>(f.size);
  while (at + 4 <= size) {
    const uint32_t n = Be32(f.data + at);
    if (n == 0 || n > size - at - 4) return {};
    types.push_back(f.data[at + 4] & 0x1F);
    at += 4 + n;
  }
  if (at != size) return {};
  return types;
}

std::vector<uint8_t> Picture(int w, int h, int seed) {
  std::vector<uint8_t> p(I420Size(w, h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p[y * w + x] = static_cast<uint8_t>((x + y + seed * 3) & 0xFF);
  memset(p.data() + w * h, 100 + seed % 20, w * h / 2);
  return p;
}

VideoParam Sized(int w, int h) {
  VideoParam v;
  v.width = w;
  v.height = h;
  return v;
}

// The log of this test binary, read back for the error lines.
class LogFile : public ::testing::Environment {
 public:
  void SetUp() override {
    path_ = dir_.file(L"encode.log");
    ZtLogger::Instance().Init(const_cast<wchar_t*>(path_.c_str()));
  }
  static std::string Text() {
    std::string text;
    FILE* f = _wfopen(path_.c_str(), L"rb");
    if (!f) return text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) text.append(buf, n);
    fclose(f);
    return text;
  }

 private:
  TempDir dir_;
  static std::wstring path_;
};
std::wstring LogFile::path_;
::testing::Environment* const g_log = ::testing::AddGlobalTestEnvironment(new LogFile);

}  // namespace

TEST(EncVideoH264, MissingOrIncompleteBridgeIsRefusedAndNeverCalled) {
  struct Case {
    const wchar_t* library;
    const char* logged;
  } cases[] = {
      // ERROR_MOD_NOT_FOUND, in decimal and in hexadecimal.
      {L"libVencBridgeMissing.dll", "[Video]LoadLibrary fail:libVencBridgeMissing.dll, dwErr:126(7e)"},
      // A DLL beside the program without the eight entry points.
      {L"libScapBridge.dll", "[Video]GetProcAddress fail:libScapBridge.dll, Kvx264Init"},
  };
  for (const Case& c : cases) {
    CEncVideoH264 enc(c.library);
    VideoParam v = Sized(320, 240);
    EXPECT_EQ(enc.Config(&v, 0), CEncVideoH264::kNoBridge);
    EXPECT_FALSE(enc.BridgeLoaded());
    EXPECT_FALSE(enc.Ready());
    auto pic = Picture(320, 240, 0);
    EncodedFrame f;
    EXPECT_EQ(enc.Encode(pic.data(), &f), 0);
    EXPECT_EQ(f.keyFrame, -1);
    EXPECT_EQ(f.data, nullptr);
    EXPECT_NE(LogFile::Text().find(c.logged), std::string::npos) << c.logged;
  }
}

TEST(EncVideoH264, ConfigWithoutParamsOrSizeMakesNoEncoder) {
  CEncVideoH264 enc;
  EXPECT_EQ(enc.Config(nullptr, 0), CEncVideoH264::kNoEncoder);
  EXPECT_NE(LogFile::Text().find("[Video]config encoder failed with NULL input param"),
            std::string::npos);
  VideoParam odd = Sized(321, 240);
  EXPECT_EQ(enc.Config(&odd, 0), CEncVideoH264::kNoEncoder);
  EXPECT_NE(LogFile::Text().find("[Video]Alloc kvx264 handler fail!"), std::string::npos);
  EXPECT_FALSE(enc.Ready());
}

TEST(EncVideoH264, ConfigurationRecordHoldsTheSessionValues) {
  VideoParam v = Sized(1280, 720);
  v.rate = 800;
  v.quality = 1000;
  KvEncConfig c = CEncVideoH264::MakeConfig(v);
  uint8_t raw[48];
  memcpy(raw, &c, sizeof(raw));
  int32_t f[12];
  memcpy(f, raw, sizeof(f));
  float rf;
  memcpy(&rf, raw + 12, 4);
  EXPECT_EQ(f[0], 1280);
  EXPECT_EQ(f[1], 720);
  EXPECT_EQ(f[2], 0);
  EXPECT_EQ(rf, 27.0f);
  EXPECT_EQ(f[4], 800);
  EXPECT_EQ(f[5], 1000);
  EXPECT_EQ(f[6], 0);
  EXPECT_EQ(f[7], 0);
  EXPECT_EQ(f[8], 0);
  EXPECT_EQ(f[9], 1);
  EXPECT_EQ(f[10], 10000);
  EXPECT_EQ(f[11], 0);
}

TEST(EncVideoH264, PlanesOfA1080pPictureSitWhereI420PutsThem) {
  CEncVideoH264 enc;
  VideoParam v = Sized(1920, 1080);
  ASSERT_EQ(enc.Config(&v, 0), CEncVideoH264::kOk);
  auto pic = Picture(1920, 1080, 1);
  EncodedFrame f;
  enc.Encode(pic.data(), &f);
  auto getPlane = reinterpret_cast<PFN_Kvx264GetPlaneAddr>(
      GetProcAddress(GetModuleHandleW(kVencBridgeLibrary), "Kvx264GetPlaneAddr"));
  ASSERT_NE(getPlane, nullptr);
  EXPECT_EQ(getPlane(enc.Handle(), 0) - pic.data(), 0);
  EXPECT_EQ(getPlane(enc.Handle(), 1) - pic.data(), 2073600);
  EXPECT_EQ(getPlane(enc.Handle(), 2) - pic.data(), 2592000);
}

TEST(EncVideoH264, KeyFrameCarriesSpsAndPpsFirstThenPFramesFollow) {
  CEncVideoH264 enc;
  VideoParam v = Sized(640, 360);
  const int64_t start = MirrorClockNow();
  ASSERT_EQ(enc.Config(&v, start), CEncVideoH264::kOk);
  EXPECT_EQ(enc.Handle()->forceIdr, 0);
  EncodedFrame f;
  auto pic = Picture(640, 360, 0);
  ASSERT_GT(enc.Encode(pic.data(), &f), 0);
  EXPECT_EQ(f.keyFrame, 1);
  std::vector<int> types = NalTypes(f);
  ASSERT_GE(types.size(), 3u);
  EXPECT_EQ(types[0], 7);  // SPS
  EXPECT_EQ(types[1], 8);  // PPS
  for (size_t i = 2; i < types.size(); ++i) EXPECT_EQ(types[i], 5) << "IDR slices only";
  const int64_t now = MirrorClockNow() - start;
  EXPECT_GE(f.pts, 0);
  EXPECT_LE(f.pts, now);

  int64_t lastPts = f.pts;
  for (int i = 1; i < 5; ++i) {
    pic = Picture(640, 360, i);
    Sleep(2);
    ASSERT_GT(enc.Encode(pic.data(), &f), 0) << "one picture in, one picture out";
    EXPECT_EQ(f.keyFrame, 0);
    types = NalTypes(f);
    ASSERT_FALSE(types.empty());
    for (int t : types) EXPECT_EQ(t, 1);
    EXPECT_GT(f.pts, lastPts);
    lastPts = f.pts;
  }
  enc.RequestKeyFrame();
  ASSERT_GT(enc.Encode(pic.data(), &f), 0);
  EXPECT_EQ(f.keyFrame, 1);
  EXPECT_EQ(NalTypes(f)[0], 7);
}

TEST(EncVideoH264, ReconfigurationMakesANewEncoderOfTheNewSize) {
  CEncVideoH264 enc;
  VideoParam v = Sized(640, 360);
  ASSERT_EQ(enc.Config(&v, 0), CEncVideoH264::kOk);
  EncodedFrame f;
  auto big = Picture(640, 360, 0);
  enc.Encode(big.data(), &f);
  enc.Encode(big.data(), &f);
  EXPECT_EQ(f.keyFrame, 0);
  v = Sized(320, 180);
  ASSERT_EQ(enc.Config(&v, 0), CEncVideoH264::kOk);
  EXPECT_EQ(enc.Width(), 320);
  EXPECT_EQ(enc.Height(), 180);
  auto small = Picture(320, 180, 0);
  ASSERT_GT(enc.Encode(small.data(), &f), 0);
  EXPECT_EQ(f.keyFrame, 1) << "a new encoder starts with a key frame";
  EXPECT_EQ(NalTypes(f)[0], 7);
  enc.Release();
  EXPECT_FALSE(enc.Ready());
  EXPECT_EQ(enc.Encode(small.data(), &f), 0);
}
