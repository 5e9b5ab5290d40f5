// Captors on the test display: GDI copies (plain, region, downscaled), the
// DXGI captor's failure counting and re-initialisation against a fake
// bridge, the DXGI probe under Wine, and the video manager's frame buffer
// across a capture reconfiguration.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/capture/CapVideo.h"
#include "engine/capture/ColorConvert.h"
#include "foundation/sys/SysUtil.h"
#include "engine/capture/VideoMgr.h"
#include "support/TestWindow.h"
#include "support/WaitFactor.h"

namespace {

const RECT kWindow{100, 100, 420, 340};  // 320x240, quadrants of 160x120

struct Bgr {
  int b, g, r;
};

Bgr PixelAt(const uint8_t* picture, int width, int x, int y) {
  const uint8_t* p = picture + (static_cast<size_t>(y) * width + x) * 4;
  return Bgr{p[0], p[1], p[2]};
}

void ExpectColour(const uint8_t* picture, int width, int x, int y, Bgr want) {
  Bgr got = PixelAt(picture, width, x, y);
  EXPECT_NEAR(got.b, want.b, 8) << "at " << x << "," << y;
  EXPECT_NEAR(got.g, want.g, 8) << "at " << x << "," << y;
  EXPECT_NEAR(got.r, want.r, 8) << "at " << x << "," << y;
}

VideoParam RegionParam(const RECT& r) {
  VideoParam v;
  v.receiverWidth = 1280;
  v.receiverHeight = 720;
  v.left = r.left;
  v.top = r.top;
  v.width = r.right - r.left;
  v.height = r.bottom - r.top;
  v.cursor = 0;
  return v;
}

class Capture : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = new TestWindow(kWindow, &TestWindow::Quadrants);
    ASSERT_TRUE(window_->WaitPainted());
    Sleep(testwait::Ms(200));  // let the X server show it
  }
  void TearDown() override { delete window_; }
  TestWindow* window_ = nullptr;
};

}  // namespace

TEST_F(Capture, GdiCopiesTheRegionPixelForPixel) {
  VideoParam v = RegionParam(kWindow);
  CCapVideoGDI captor;
  ASSERT_EQ(captor.Config(&v), 0);
  EXPECT_EQ(captor.PictureWidth(), 320);
  EXPECT_EQ(captor.PictureHeight(), 240);
  uint8_t* pic = nullptr;
  ASSERT_EQ(captor.Capture(&pic), 0);
  ASSERT_NE(pic, nullptr);
  ExpectColour(pic, 320, 80, 60, {0, 0, 255});
  ExpectColour(pic, 320, 240, 60, {0, 255, 0});
  ExpectColour(pic, 320, 80, 180, {255, 0, 0});
  ExpectColour(pic, 320, 240, 180, {255, 255, 255});
  ExpectColour(pic, 320, 0, 0, {0, 0, 255});       // exact edges: no offset
  ExpectColour(pic, 320, 319, 239, {255, 255, 255});
}

TEST_F(Capture, GdiStretchesADownscaledRegion) {
  // 2000x1200 at (100,100) on a 1920x1080 receiver, fit by ratio: the
  // geometry makes the capture 1798x1080 (single-precision truncation, then
  // even) and the captor a picture of that size.
  VideoParam big = RegionParam(RECT{100, 100, 2100, 1300});
  big.receiverWidth = 1920;
  big.receiverHeight = 1080;
  big.scaleMode = 1;
  CCapVideoGDI bigCaptor;
  ASSERT_EQ(bigCaptor.Config(&big), 0);
  EXPECT_EQ(big.downscaled, 1);
  EXPECT_EQ(big.fullWidth, 2000);
  EXPECT_EQ(big.fullHeight, 1200);
  EXPECT_EQ(bigCaptor.PictureWidth(), 1798);
  EXPECT_EQ(bigCaptor.PictureHeight(), 1080);

  // The stretch itself, on an area the test screen has: the window's
  // 320x240 onto 160x120.
  VideoParam v = RegionParam(RECT{100, 100, 260, 220});
  CCapVideoGDI captor;
  ASSERT_EQ(captor.Config(&v), 0);
  v.downscaled = 1;
  v.fullWidth = 320;
  v.fullHeight = 240;
  uint8_t* pic = nullptr;
  ASSERT_EQ(captor.Capture(&pic), 0);
  ExpectColour(pic, 160, 40, 30, {0, 0, 255});
  ExpectColour(pic, 160, 120, 30, {0, 255, 0});
  ExpectColour(pic, 160, 40, 90, {255, 0, 0});
  ExpectColour(pic, 160, 120, 90, {255, 255, 255});
}

TEST(CaptureErrors, CaptureBeforeConfigOrWithoutReceiverSizeHandsOutNothing) {
  CCapVideoGDI captor;
  uint8_t* pic = reinterpret_cast<uint8_t*>(1);
  EXPECT_EQ(captor.Capture(&pic), -5);
  EXPECT_EQ(pic, nullptr);
  EXPECT_EQ(captor.Config(nullptr), -1);
  VideoParam v = RegionParam(RECT{0, 0, 64, 64});
  ASSERT_EQ(captor.Config(&v), 0);
  v.receiverWidth = v.receiverHeight = 0;
  EXPECT_EQ(captor.Capture(&pic), -1);
  EXPECT_EQ(pic, nullptr);
}

// --- DXGI captor against a fake bridge --------------------------------------

namespace {

struct FakeBridge {
  static int inits, frees, frames;
  static int initResult, frameResult;
  static KvDxgiSetup lastSetup;
  static void Reset() {
    inits = frees = frames = 0;
    initResult = 1;
    frameResult = KV_DXGI_NEW_FRAME;
    memset(&lastSetup, 0, sizeof(lastSetup));
  }
  static int Init(const KvDxgiSetup* s) {
    ++inits;
    lastSetup = *s;
    return initResult;
  }
  static int GetFrame(uint8_t* buffer, uint8_t) {
    ++frames;
    if (frameResult == KV_DXGI_NEW_FRAME) memset(buffer, 0x7F, 16);
    return frameResult;
  }
  static int Free() {
    ++frees;
    return 0;
  }
  static DxgiBridgeApi Api() {
    DxgiBridgeApi api;
    api.init = &Init;
    api.getFrame = &GetFrame;
    api.free = &Free;
    return api;
  }
};
int FakeBridge::inits, FakeBridge::frees, FakeBridge::frames, FakeBridge::initResult,
    FakeBridge::frameResult;
KvDxgiSetup FakeBridge::lastSetup;

}  // namespace

TEST(DxgiCaptor, SetupRecordCarriesTheCaptureAndTheMonitorName) {
  VideoParam v = RegionParam(RECT{24, 48, 664, 528});
  v.monitorName = L"\\\\.\\DISPLAY2";
  v.regionMode = 1;
  KvDxgiSetup s = CCapVideoDxgi::MakeSetup(v);
  uint8_t raw[104];
  memcpy(raw, &s, sizeof(raw));
  auto i32 = [&](int at) {
    int32_t x;
    memcpy(&x, raw + at, 4);
    return x;
  };
  EXPECT_EQ(i32(0), 640);
  EXPECT_EQ(i32(4), 480);
  EXPECT_EQ(i32(8), 640);
  EXPECT_EQ(i32(12), 480);
  EXPECT_EQ(i32(16), 0);
  EXPECT_EQ(i32(20), 0);
  EXPECT_EQ(i32(24), 24);
  EXPECT_EQ(i32(28), 48);
  EXPECT_EQ(i32(32), 0);
  EXPECT_EQ(i32(36), 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(raw + 40), "\\\\.\\DISPLAY2");
  for (int i = 40 + 12; i < 104; ++i) ASSERT_EQ(raw[i], 0) << i;
  // A downscaled capture reads the larger area it came from.
  v.downscaled = 1;
  v.fullWidth = 2000;
  v.fullHeight = 1200;
  s = CCapVideoDxgi::MakeSetup(v);
  EXPECT_EQ(s.sourceWidth, 2000);
  EXPECT_EQ(s.sourceHeight, 1200);
  EXPECT_EQ(s.width, 640);
}

TEST(DxgiCaptor, SixtyOneFailuresInARowMakeTheNextCaptureSetTheBridgeUpAgain) {
  FakeBridge::Reset();
  VideoParam v = RegionParam(RECT{0, 0, 64, 32});
  CCapVideoDxgi captor(FakeBridge::Api());
  ASSERT_EQ(captor.Config(&v), 0);
  EXPECT_EQ(FakeBridge::inits, 1);
  uint8_t* pic = nullptr;
  ASSERT_EQ(captor.Capture(&pic), 0);
  ASSERT_NE(pic, nullptr);
  EXPECT_EQ(pic[0], 0x7F);

  FakeBridge::frameResult = KV_DXGI_FAILED;
  for (int i = 1; i <= 60; ++i) {
    pic = nullptr;
    ASSERT_EQ(captor.Capture(&pic), 0);
    EXPECT_EQ(pic[0], 0x7F) << "the last picture is handed out again";
    EXPECT_EQ(captor.failureCount(), i);
  }
  EXPECT_FALSE(captor.reinitPending());
  captor.Capture(&pic);  // the 61st
  EXPECT_EQ(captor.failureCount(), 0);
  EXPECT_TRUE(captor.reinitPending());
  EXPECT_EQ(FakeBridge::inits, 1);

  FakeBridge::frameResult = KV_DXGI_SAME_FRAME;
  const int freesBefore = FakeBridge::frees;
  captor.Capture(&pic);
  EXPECT_EQ(FakeBridge::frees, freesBefore + 1);
  EXPECT_EQ(FakeBridge::inits, 2);
  EXPECT_FALSE(captor.reinitPending());
  EXPECT_FALSE(captor.initFailed());
  EXPECT_EQ(captor.failureCount(), 0);
}

TEST(DxgiCaptor, ABridgeThatCannotStartAgainReportsFailureWithoutBeingAsked) {
  FakeBridge::Reset();
  VideoParam v = RegionParam(RECT{0, 0, 64, 32});
  CCapVideoDxgi captor(FakeBridge::Api());
  ASSERT_EQ(captor.Config(&v), 0);
  ASSERT_EQ(captor.Config(&v), 0);  // a reconfiguration: set up again at the next capture
  EXPECT_TRUE(captor.reinitPending());
  FakeBridge::initResult = 0;
  const int initsBefore = FakeBridge::inits;
  uint8_t* pic = nullptr;
  EXPECT_EQ(captor.Capture(&pic), 0);
  EXPECT_EQ(FakeBridge::inits, initsBefore + 2);  // tried twice
  EXPECT_TRUE(captor.initFailed());
  const int framesBefore = FakeBridge::frames;
  captor.Capture(&pic);
  EXPECT_EQ(FakeBridge::frames, framesBefore) << "no frame asked of a bridge that failed";
  EXPECT_EQ(captor.failureCount(), 2);
  EXPECT_NE(pic, nullptr);
  for (int i = 0; i < 64 * 32 * 4; ++i) ASSERT_EQ(pic[i], 0) << "black, never stale memory";
}

TEST(DxgiProbe, OldWindowsMissingBridgeAndWineAllGiveGdi) {
  // Windows 7: not even loaded (an existing DLL would otherwise be loaded).
  EXPECT_FALSE(ProbeDxgiCaptureWith(OSVER_WIN7, L"kernel32.dll"));
  EXPECT_FALSE(ProbeDxgiCaptureWith(OSVER_WIN8, L"libScapBridgeMissing.dll"));
  // The real bridge under Wine: DuplicateOutput is not implemented, so the
  // probe fails cleanly and unloads the bridge.
  EXPECT_FALSE(ProbeDxgiCaptureWith(OSVER_WIN8, kScapBridgeLibrary));
  EXPECT_EQ(GetModuleHandleW(kScapBridgeLibrary), nullptr);
}

// --- Video manager ------------------------------------------------------------

TEST_F(Capture, VideoManagerConvertsTheScreenAndSkipsEncodesAcrossASizeChange) {
  VideoParam v = RegionParam(kWindow);
  v.useDxgi = 1;  // Wine: the probe fails and GDI is used
  CVideoHandOver handOver;
  handOver.Change([&](VideoParam& shared) {
    shared = v;
    return kVideoChangeNone;
  });
  CVideoMgr mgr;
  ASSERT_EQ(mgr.Config(&handOver, 0), CEncVideoH264::kOk);
  EXPECT_FALSE(mgr.UsesDxgi());
  ASSERT_EQ(mgr.StartThread(), 0);
  testwait::Until([&] { return mgr.ConvertedCount() != 0; }, 5000, 20);
  ASSERT_GT(mgr.ConvertedCount(), 0);

  int w = 0, h = 0;
  std::vector<uint8_t> frame = mgr.CopyFrame(&w, &h);
  ASSERT_EQ(w, 320);
  ASSERT_EQ(h, 240);
  ASSERT_EQ(frame.size(), I420Size(320, 240));
  EXPECT_NEAR(frame[60 * 320 + 80], 81, 4);     // red quadrant's luma
  EXPECT_NEAR(frame[180 * 320 + 240], 235, 4);  // white quadrant's luma

  EncodedFrame out;
  EXPECT_EQ(mgr.EncodeNewest(&out), CVideoMgr::kEncoded);
  EXPECT_EQ(out.keyFrame, 1);

  // The capture is set up again at a smaller size while the encoder keeps
  // the old one: the encode must be refused, not read past the new buffer.
  handOver.Change([](VideoParam& shared) {
    shared.captureRect = CaptureRect{100, 100, 260, 220};
    return kVideoChangeCaptor;
  });
  testwait::Until([&] { return !handOver.CaptorPending(); }, 5000, 20);
  ASSERT_FALSE(handOver.CaptorPending());
  mgr.CopyFrame(&w, &h);
  EXPECT_EQ(w, 160);
  EXPECT_EQ(h, 120);
  EXPECT_EQ(mgr.EncodeNewest(&out), CVideoMgr::kSizeChanged);
  EXPECT_EQ(out.size, 0);
  handOver.TakeForEncoder(&v);
  EXPECT_EQ(v.width, 160);  // the geometry the capture thread published
  EXPECT_EQ(v.left, 100);
  ASSERT_EQ(mgr.Encoder()->Config(&v, 0), CEncVideoH264::kOk);
  EXPECT_EQ(mgr.EncodeNewest(&out), CVideoMgr::kEncoded);
  EXPECT_EQ(out.keyFrame, 1);

  mgr.StopThread(5000, true);
  mgr.Stop();
  EXPECT_FALSE(mgr.Encoder()->BridgeLoaded());
}

TEST(VideoManager, CountersStartAtZeroAndResetWhenTaken) {
  CVideoMgr mgr;
  EXPECT_EQ(mgr.TakeCapturedThisSecond(), 0);
  EXPECT_EQ(mgr.TakeEncodedThisSecond(), 0);
  EXPECT_EQ(mgr.CaptureTimeSum(), 0);
  EXPECT_EQ(mgr.ConvertTimeSum(), 0);
  EncodedFrame out;
  EXPECT_EQ(mgr.EncodeNewest(&out), CVideoMgr::kNoFrame);
  EXPECT_EQ(out.keyFrame, -1);
}
