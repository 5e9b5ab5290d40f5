// The session against an in-process receiver on loopback: connection and
// handshake outcomes, the paced loop, heartbeats and bounded stops.
#include "engine/mirror/Mirror.h"
#include "engine/mirror/SessionClock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "FakeReceiver.h"
#include "TestLog.h"
#include "classlib/Str.h"
#include "support/WaitFactor.h"

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
  // The lParam of the first WM_MIRROR_PASSWORD within waitMs (stretched by
  // the wait factor), or -1.
  long WaitPassword(DWORD waitMs) {
    waitMs = testwait::Ms(waitMs);
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
    return testwait::Until([&] { return !m->IsRunning(); }, ms, 20);
  }
  static bool WaitStatus(CMirror* m, const wchar_t* text, DWORD ms) {
    return testwait::Until([&] { return m->StatusText().find(text) != std::wstring::npos; }, ms, 20);
  }
  // Stops and releases the session within its bound (the session's own,
  // 2000 ms, stretched by the wait factor); its last status.
  static MirrorStatus StopAndDelete(CMirror* m) {
    DWORD t0 = GetTickCount();
    MirrorStatus last;
    EXPECT_TRUE(CMirror::StopAndRelease(m, testwait::Ms(kMirrorReleaseWaitMs), &last));
    EXPECT_EQ(m, nullptr);
    EXPECT_LT(GetTickCount() - t0, testwait::Ms(3000));
    return last;
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
  const MirrorStatus s = m->Status();
  EXPECT_EQ(s.state, MirrorState::kFailed);
  EXPECT_EQ(s.lastError, MIRROR_ERR_CONNECT);
  EXPECT_EQ(s.text, cl::FormatW(L"err -10002 - Connect to 127.0.0.1:[%d] failed", port));
  EXPECT_EQ(StopAndDelete(m).state, MirrorState::kFailed);
}

// Every row ends with the same report; the bound rows must also show, by
// their log line, that the bound refused the reply (without it the reply
// would fail later, by a receive error or a time-out, with the same text).
TEST_F(MirrorSession, HandshakeFailuresTable) {
  TestLog& log = TestLog::Get();
  struct Case {
    FakeReceiver::Mode mode;
    const char* logLine;  // the line only this row's own check writes
  } cases[] = {
      {FakeReceiver::Mode::kCloseAfterAccept, "[Mirror]SendGetStream Failed : receive failed"},
      {FakeReceiver::Mode::kNoBodyNoChallenge,
       "[Mirror]SendGetStream Failed : parse content length failed"},
      {FakeReceiver::Mode::kBadPlist, nullptr},
      {FakeReceiver::Mode::kOversizedBody,
       "[Mirror]SendGetStream Failed : body of 1000000 bytes refused"},
      {FakeReceiver::Mode::kLongHeaderLine, "[Mirror]SendGetStream Failed : header line too long"},
      {FakeReceiver::Mode::kTinyScreen, "[Mirror]SendGetStream Failed : receiver size 8x8 refused"},
      {FakeReceiver::Mode::kMissingVersion, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    FakeReceiver rx(c.mode);
    CMirror* m = Make(rx.port());
    const size_t mark = log.Mark();
    const DWORD t0 = GetTickCount();
    ASSERT_TRUE(m->Start("127.0.0.1", 0));
    ASSERT_TRUE(WaitEnded(m, 20000));
    // Refused at once, not after the socket's 15 s receive time-out.
    EXPECT_LT(GetTickCount() - t0, testwait::MsBelow(10000, 14000));
    const MirrorStatus s = m->Status();
    EXPECT_EQ(s.state, MirrorState::kFailed);
    EXPECT_EQ(s.lastError, MIRROR_ERR_GET_STREAM);
    EXPECT_EQ(s.text, L"err -10010 - send GET /stream.xml failed");
    if (c.logLine) {
      EXPECT_TRUE(log.ContainsSince(mark, c.logLine)) << c.logLine;
    }
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
  EXPECT_EQ(m->Status().state, MirrorState::kStreaming);
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
  // A busy machine can only slow the loop down, never speed it up: the
  // upper bound is tight (no pacing runs far faster), the lower one leaves
  // room for a loaded shared machine.
  EXPECT_LE(double(p1 - p0), expected * 1.10);
  EXPECT_GE(double(p1 - p0), expected * 0.60);

  const long long sentBefore = m->FramesSent();
  const MirrorStatus last = StopAndDelete(m);
  EXPECT_EQ(last.state, MirrorState::kEnded);
  EXPECT_EQ(last.lastError, 0);
  EXPECT_EQ(last.text, L"Mirror quit");
  Sleep(testwait::Ms(200));  // the receiver has read what was sent
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
  // queued: nearly all pictures counted before the stop arrived.
  EXPECT_GE(pictures, sentBefore - 5);
}

TEST_F(MirrorSession, PasswordWantedWithoutPasswordTellsOwner) {
  OwnerWindow owner;
  FakeReceiver rx(FakeReceiver::Mode::kChallenge, "s3cret");
  CMirror* m = Make(rx.port(), 30, "", owner.hwnd());
  ASSERT_TRUE(m->Start("127.0.0.1", 0));
  EXPECT_EQ(owner.WaitPassword(10000), 0);
  ASSERT_TRUE(WaitEnded(m, 10000));
  const MirrorStatus s = m->Status();
  EXPECT_EQ(s.state, MirrorState::kFailed);
  EXPECT_EQ(s.lastError, 0);
  EXPECT_EQ(s.text, L"connect server done");
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

namespace {

// A stand-in for the program's modal error box: counts its calls and holds
// the session thread until released.
HANDLE g_promptRelease = nullptr;
volatile LONG g_prompts = 0;
void BlockingPrompt(int) {
  InterlockedIncrement(&g_prompts);
  if (g_promptRelease) WaitForSingleObject(g_promptRelease, testwait::Ms(30000));
}

}  // namespace

// A stop during the handshake is the owner's, not the receiver's doing: no
// error report, no message box, and the session ends as stopped.
TEST_F(MirrorSession, StopDuringStalledHandshakeIsBoundedAndQuiet) {
  g_prompts = 0;
  SetMirrorErrorPrompt(&BlockingPrompt);
  FakeReceiver rx(FakeReceiver::Mode::kStall);
  CMirror* m = Make(rx.port());
  ASSERT_TRUE(m->Start("127.0.0.1", 0));
  testwait::Until([&] { return rx.gets() != 0; }, 5000, 50);
  ASSERT_EQ(rx.gets(), 1);
  const MirrorStatus last = StopAndDelete(m);  // closing the socket ends the blocked receive
  SetMirrorErrorPrompt(nullptr);
  EXPECT_EQ(last.state, MirrorState::kEnded);
  EXPECT_EQ(last.lastError, 0);
  EXPECT_EQ(last.text, L"connect server done");
  EXPECT_EQ(g_prompts, 0);
}

// A session thread held by the error box outlives StopAndRelease's bound:
// the session is kept, not freed under its thread, and released later.
TEST_F(MirrorSession, StopAndReleaseKeepsASessionItsBoundCannotEnd) {
  g_prompts = 0;
  g_promptRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetMirrorErrorPrompt(&BlockingPrompt);
  unsigned short port;
  { FakeReceiver gone(FakeReceiver::Mode::kCloseAfterAccept); port = gone.port(); }
  CMirror* m = Make(port);
  ASSERT_TRUE(m->Start("127.0.0.1", 0));
  testwait::Until([] { return g_prompts != 0; }, 10000, 50);
  ASSERT_EQ(g_prompts, 1);

  CMirror* const held = m;
  DWORD t0 = GetTickCount();
  EXPECT_FALSE(CMirror::StopAndRelease(m, 2500));
  const DWORD waited = GetTickCount() - t0;
  EXPECT_EQ(m, held);
  EXPECT_GE(waited, 2400u);
  EXPECT_LT(waited, 2500 + testwait::Ms(5500));
  EXPECT_TRUE(m->IsRunning());

  SetEvent(g_promptRelease);
  MirrorStatus last;
  EXPECT_TRUE(CMirror::StopAndRelease(m, testwait::Ms(5000), &last));
  EXPECT_EQ(m, nullptr);
  EXPECT_EQ(last.state, MirrorState::kFailed);
  EXPECT_EQ(last.lastError, MIRROR_ERR_CONNECT);
  SetMirrorErrorPrompt(nullptr);
  CloseHandle(g_promptRelease);
  g_promptRelease = nullptr;
}

TEST(MirrorParams, FpsClampAndQualityRates) {
  EXPECT_EQ(ClampFps(0), 1);
  EXPECT_EQ(ClampFps(61), 60);
  EXPECT_EQ(ClampFps(30), 30);
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
  EXPECT_EQ(m.Video().captorReconfigure, 0);  // quality and fps leave the captor alone

  // A scale change sets the captor up again on the area captured now, which
  // for a downscaled capture is its full size, not the scaled one.
  VideoParam g = m.Video();
  g.left = 100;
  g.top = 50;
  g.width = 1920;
  g.height = 1080;
  g.fullWidth = 2560;
  g.fullHeight = 1440;
  g.downscaled = 1;
  m.VideoHandOver().PublishGeometry(g);
  p.scaleMode = 1;
  m.UpdateVideoSettings(p);
  const VideoParam v = m.Video();
  EXPECT_EQ(v.captorReconfigure, 1);
  EXPECT_EQ(v.captureRect.left, 100);
  EXPECT_EQ(v.captureRect.top, 50);
  EXPECT_EQ(v.captureRect.right, 2660);
  EXPECT_EQ(v.captureRect.bottom, 1490);
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
