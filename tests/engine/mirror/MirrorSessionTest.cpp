// The session against an in-process receiver on loopback: connection and
// handshake outcomes, the paced loop, heartbeats and bounded stops.
#include "engine/mirror/Mirror.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "FakeReceiver.h"
#include "classlib/Str.h"

namespace {

// A message-only window that collects WM_MIRROR_PASSWORD.
class OwnerWindow {
 public:
  OwnerWindow() {
    hwnd_ = CreateWindowExW(0, L"STATIC", L"owner", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            nullptr, nullptr);
  }
  ~OwnerWindow() { DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }
  // The lParam of the first WM_MIRROR_PASSWORD within waitMs, or -1.
  long WaitPassword(DWORD waitMs) {
    DWORD t0 = GetTickCount();
    MSG msg;
    while (GetTickCount() - t0 < waitMs) {
      if (PeekMessageW(&msg, hwnd_, WM_MIRROR_PASSWORD, WM_MIRROR_PASSWORD, PM_REMOVE))
        return static_cast<long>(msg.lParam);
      Sleep(20);
    }
    return -1;
  }

 private:
  HWND hwnd_;
};

class MirrorSession : public ::testing::Test {
 protected:
  WinsockScope winsock_;

  CMirror* Make(unsigned short port, int fps = 30, const std::string& password = "",
                HWND owner = nullptr) {
    param_.port = port;
    param_.fps = static_cast<uint16_t>(fps);
    param_.password = password;
    param_.owner = owner;
    auto* m = new CMirror(&param_);
    m->SetNtpPort(0);  // tests run side by side: no fixed port
    return m;
  }

  static bool WaitEnded(CMirror* m, DWORD ms) {
    for (DWORD t = 0; t < ms && m->IsRunning(); t += 20) Sleep(20);
    return !m->IsRunning();
  }
  static bool WaitStatus(CMirror* m, const wchar_t* text, DWORD ms) {
    for (DWORD t = 0; t < ms; t += 20) {
      if (m->StatusText().find(text) != std::wstring::npos) return true;
      Sleep(20);
    }
    return false;
  }
  static void StopAndDelete(CMirror* m) {
    DWORD t0 = GetTickCount();
    int r = m->Stop();
    EXPECT_EQ(r, 1);
    EXPECT_LT(GetTickCount() - t0, 3000u);  // the session's own bound is 2000 ms
    if (r == 1) delete m;
  }

  MirrorParam param_;
};

}  // namespace

TEST_F(MirrorSession, RefusedConnectionReportsConnectError) {
  unsigned short port;
  { FakeReceiver gone(FakeReceiver::Mode::kCloseAfterAccept); port = gone.port(); }
  CMirror* m = Make(port);
  ASSERT_TRUE(m->Start("127.0.0.1", 0));
  ASSERT_TRUE(WaitEnded(m, 10000));
  EXPECT_EQ(m->LastError(), MIRROR_ERR_CONNECT);
  EXPECT_EQ(m->StatusText(),
            cl::FormatW(L"err -10002 - Connect to 127.0.0.1:[%d] failed", port));
  StopAndDelete(m);
}

TEST_F(MirrorSession, HandshakeFailuresTable) {
  struct Case {
    FakeReceiver::Mode mode;
    int lastError;
    const wchar_t* status;
  } cases[] = {
      {FakeReceiver::Mode::kCloseAfterAccept, MIRROR_ERR_GET_STREAM,
       L"err -10010 - send GET /stream.xml failed"},
      {FakeReceiver::Mode::kNoBodyNoChallenge, MIRROR_ERR_GET_STREAM,
       L"err -10010 - send GET /stream.xml failed"},
      {FakeReceiver::Mode::kBadPlist, MIRROR_ERR_GET_STREAM,
       L"err -10010 - send GET /stream.xml failed"},
      {FakeReceiver::Mode::kOversizedBody, MIRROR_ERR_GET_STREAM,
       L"err -10010 - send GET /stream.xml failed"},
      {FakeReceiver::Mode::kLongHeaderLine, MIRROR_ERR_GET_STREAM,
       L"err -10010 - send GET /stream.xml failed"},
      {FakeReceiver::Mode::kTinyScreen, MIRROR_ERR_GET_STREAM,
       L"err -10010 - send GET /stream.xml failed"},
      {FakeReceiver::Mode::kMissingVersion, MIRROR_ERR_GET_STREAM,
       L"err -10010 - send GET /stream.xml failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    FakeReceiver rx(c.mode);
    CMirror* m = Make(rx.port());
    ASSERT_TRUE(m->Start("127.0.0.1", 0));
    ASSERT_TRUE(WaitEnded(m, 20000));
    EXPECT_EQ(m->LastError(), c.lastError);
    EXPECT_EQ(m->StatusText(), c.status);
    EXPECT_FALSE(rx.posted());
    StopAndDelete(m);
  }
}

TEST_F(MirrorSession, StreamsHeartbeatsAtPacedRateAndStopsInBounds) {
  FakeReceiver rx(FakeReceiver::Mode::kNormal);
  const int fps = 20;
  CMirror* m = Make(rx.port(), fps);
  ASSERT_TRUE(m->Start("127.0.0.1", 0));
  ASSERT_TRUE(WaitStatus(m, L"Mirror to 127.0.0.1", 10000)) << cl::WideToUtf8(m->StatusText());
  EXPECT_EQ(m->Video().receiverWidth, 1280);
  EXPECT_EQ(m->Video().receiverHeight, 720);
  EXPECT_EQ(m->ReceiverVersion(), "150.33");
  EXPECT_EQ(m->LastError(), 0);

  // Pace: passes over 3 s against the budget of (1000/fps) x 1024 us a pass.
  Sleep(300);
  LARGE_INTEGER f, a, b;
  QueryPerformanceFrequency(&f);
  long long p0 = m->LoopPasses();
  QueryPerformanceCounter(&a);
  Sleep(3000);
  long long p1 = m->LoopPasses();
  QueryPerformanceCounter(&b);
  const double seconds = double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
  const double expected = seconds * 1e6 / ((1000 / fps) * 1024.0);
  EXPECT_NEAR(double(p1 - p0), expected, expected * 0.10);

  const DWORD t0 = GetTickCount();
  ASSERT_EQ(m->Stop(), 1);
  EXPECT_LT(GetTickCount() - t0, 3000u);
  const long long sent = m->FramesSent();
  delete m;
  Sleep(200);
  EXPECT_TRUE(rx.posted());
  EXPECT_TRUE(rx.violations().empty());
  // One codec packet before the first picture, then a picture per pass, and
  // about one heartbeat a second in between.
  auto packets = rx.packets();
  int codec = 0, pictures = 0, heartbeats = 0;
  for (const auto& p : packets) {
    if (p.type == STREAM_PACKET_HEARTBEAT) {
      ++heartbeats;
      EXPECT_EQ(p.length, 0u);
    } else if (p.type == STREAM_PACKET_CODEC) {
      EXPECT_EQ(pictures, 0) << "codec packet after a picture";
      ++codec;
    } else {
      EXPECT_EQ(codec, 1) << "picture before the codec packet";
      EXPECT_GT(p.length, 0u) << "a pass without a picture sends nothing";
      ++pictures;
      float w, h;
      memcpy(&w, &p.header[40], 4);
      memcpy(&h, &p.header[44], 4);
      EXPECT_EQ(w, static_cast<float>(GetSystemMetrics(SM_CXSCREEN)));
      EXPECT_EQ(h, static_cast<float>(GetSystemMetrics(SM_CYSCREEN)));
    }
  }
  EXPECT_EQ(codec, 1);
  EXPECT_GE(heartbeats, 2);
  EXPECT_LE(heartbeats, 6);
  EXPECT_GE(pictures, 40);  // over 3 s at 20 fps, allowing a slow start
  // Stop closes the socket without lingering, which may drop what was still
  // queued: never more pictures than were sent, and nearly all of them.
  EXPECT_LE(pictures, sent);
  EXPECT_GE(pictures, sent - 5);
}

TEST_F(MirrorSession, PasswordWantedWithoutPasswordTellsOwner) {
  OwnerWindow owner;
  FakeReceiver rx(FakeReceiver::Mode::kChallenge, "s3cret");
  CMirror* m = Make(rx.port(), 30, "", owner.hwnd());
  ASSERT_TRUE(m->Start("127.0.0.1", 0));
  EXPECT_EQ(owner.WaitPassword(10000), 0);
  ASSERT_TRUE(WaitEnded(m, 10000));
  EXPECT_EQ(m->LastError(), 0);
  EXPECT_EQ(m->StatusText(), L"connect server done");
  EXPECT_EQ(rx.gets(), 1);
  StopAndDelete(m);
}

TEST_F(MirrorSession, RightPasswordAnswersOneChallenge) {
  FakeReceiver rx(FakeReceiver::Mode::kChallenge, "s3cret");
  CMirror* m = Make(rx.port(), 30, "s3cret");
  ASSERT_TRUE(m->Start("127.0.0.1", 0));
  ASSERT_TRUE(WaitStatus(m, L"Mirror to", 10000)) << cl::WideToUtf8(m->StatusText());
  EXPECT_EQ(rx.gets(), 2);
  EXPECT_EQ(m->Realm(), FakeReceiver::kRealm);
  EXPECT_EQ(m->Nonce(), FakeReceiver::kNonce);
  StopAndDelete(m);
}

TEST_F(MirrorSession, RefusedPasswordTellsOwnerAfterOneResend) {
  for (auto mode : {FakeReceiver::Mode::kChallenge, FakeReceiver::Mode::kNoBodyAfterAuth}) {
    OwnerWindow owner;
    FakeReceiver rx(mode, "right");
    CMirror* m = Make(rx.port(), 30, "wrong", owner.hwnd());
    ASSERT_TRUE(m->Start("127.0.0.1", 0));
    EXPECT_EQ(owner.WaitPassword(10000), 1);
    ASSERT_TRUE(WaitEnded(m, 10000));
    EXPECT_EQ(rx.gets(), 2);
    EXPECT_EQ(m->LastError(), 0);
    StopAndDelete(m);
  }
}

TEST_F(MirrorSession, StopDuringStalledHandshakeIsBounded) {
  FakeReceiver rx(FakeReceiver::Mode::kStall);
  CMirror* m = Make(rx.port());
  ASSERT_TRUE(m->Start("127.0.0.1", 0));
  for (int i = 0; i < 100 && rx.gets() == 0; ++i) Sleep(50);
  ASSERT_EQ(rx.gets(), 1);
  StopAndDelete(m);  // closing the socket ends the blocked receive
}

TEST(MirrorParams, FpsClampAndQualityRates) {
  EXPECT_EQ(CMirror::ClampFps(0), 1);
  EXPECT_EQ(CMirror::ClampFps(61), 60);
  EXPECT_EQ(CMirror::ClampFps(30), 30);
  struct {
    int quality, rate;
  } cases[] = {{1000, 800}, {1001, 1000}, {2000, 1000}, {4000, 4000}, {4001, 0}};
  for (auto c : cases) EXPECT_EQ(CMirror::RateForQuality(c.quality), c.rate) << c.quality;

  WinsockScope ws;
  MirrorParam p;
  p.fps = 0;
  p.quality = 6000;
  CMirror m(&p);
  EXPECT_EQ(m.Video().fps, 1);
  EXPECT_EQ(m.Video().rate, 0);  // kept until the quality changes
  p.quality = 1000;
  p.fps = 200;
  m.UpdateVideoSettings(p);
  EXPECT_EQ(m.Video().rate, 800);
  EXPECT_EQ(m.Video().fps, 60);
  EXPECT_EQ(m.Stop(), 1);  // never started
}

TEST(MirrorMonitors, ConstructorPicksThePrimaryAndSelectMonitorChecksTheIndex) {
  WinsockScope ws;
  MirrorParam p;
  p.displayIndex = 5;
  CMirror m(&p);
  EXPECT_EQ(p.displayIndex, 0);  // the test display's only monitor is primary
  const VideoParam before = m.Video();
  EXPECT_FALSE(m.SelectMonitor(1));  // = the monitor count
  EXPECT_FALSE(m.SelectMonitor(0xFFFFFFFFu));
  EXPECT_EQ(m.Video().captorReconfigure, 0);
  EXPECT_EQ(m.Video().monitorName, before.monitorName);

  m.SetCaptureRegion(10, 20, 330, 260);
  EXPECT_EQ(m.Video().regionMode, 1);
  ASSERT_TRUE(m.SelectMonitor(0));
  const VideoParam& v = m.Video();
  EXPECT_EQ(v.monitorName, L"\\\\.\\DISPLAY1");
  EXPECT_EQ(v.captureRect.left, 0);
  EXPECT_EQ(v.captureRect.top, 0);
  EXPECT_EQ(v.captureRect.right, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(v.captureRect.bottom, GetSystemMetrics(SM_CYSCREEN));
  EXPECT_EQ(v.regionMode, 0);
  EXPECT_EQ(v.captorReconfigure, 1);
  EXPECT_EQ(m.CurrentMonitor(), 0);
  EXPECT_EQ(m.Stop(), 1);
}
