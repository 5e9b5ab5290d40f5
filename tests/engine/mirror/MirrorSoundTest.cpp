// The session's sound: the audio sender started after the handshake, the
// session's volume sent once the capture loop runs, volume changes, the
// stop order, and a session that goes on without sound when the receiver's
// audio service or the sound card is missing.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "FakeReceiver.h"
#include "TestLog.h"
#include "classlib/Str.h"
#include "engine/audio/FedCaptor.h"
#include "engine/mirror/Mirror.h"
#include "engine/raop/FakeRaopReceiver.h"
#include "support/WaitFactor.h"

namespace {

class MirrorSound : public ::testing::Test {
 protected:
  void TearDown() override { SetAudioCaptorFactory(nullptr); }

  CMirror* Make(unsigned short port, int volume = 50) {
    param_.port = port;
    param_.fps = 20;
    param_.volume = static_cast<int16_t>(volume);
    auto* m = new CMirror(&param_);
    m->SetNtpPort(0);
    return m;
  }
  static bool WaitFor(const std::function<bool()>& pred, DWORD ms) {
    return testwait::Until(pred, ms, 20);
  }
  static bool WaitStatus(CMirror* m, const std::wstring& text, DWORD ms) {
    return WaitFor([&] { return m->StatusText() == text; }, ms);
  }
  static void StopAndDelete(CMirror* m) {
    EXPECT_EQ(m->Stop(), 1);
    delete m;
  }
  static std::vector<std::string> Methods(FakeRaopReceiver& rx) {
    std::vector<std::string> m;
    for (const auto& r : rx.requests()) m.push_back(r.method);
    return m;
  }

  WinsockScope winsock_;
  MirrorParam param_;
};

}  // namespace

TEST_F(MirrorSound, StreamsTheCaptorsSoundAndSendsTheVolume) {
  SetAudioCaptorFactory(&CFedCaptor::Make);
  FakeReceiver mirror(FakeReceiver::Mode::kNormal);
  FakeRaopReceiver raop;
  CMirror* m = Make(mirror.port(), 25);
  ASSERT_TRUE(m->Start("127.0.0.1", raop.port()));
  ASSERT_TRUE(WaitStatus(m, L"Mirror to 127.0.0.1", 10000)) << cl::WideToUtf8(m->StatusText());
  // The start's 0 dB, then the session's volume once the capture loop runs.
  ASSERT_TRUE(raop.WaitRequests(5, 5000));
  ASSERT_TRUE(raop.WaitAudio(20, 5000));
  m->SetVolume(50);
  ASSERT_TRUE(raop.WaitRequests(6, 5000));
  auto r = raop.requests();
  ASSERT_EQ(Methods(raop), (std::vector<std::string>{"ANNOUNCE", "SETUP", "RECORD", "SET_PARAMETER",
                                                      "SET_PARAMETER", "SET_PARAMETER"}));
  EXPECT_EQ(r[3].body, "volume: 0.000000\r\n");
  EXPECT_EQ(r[4].body, "volume: -20.000000\r\n");  // 25
  EXPECT_EQ(r[5].body, "volume: -10.000000\r\n");  // 50
  EXPECT_EQ(m->StatusText(), L"Mirror to 127.0.0.1");

  CFedCaptor* captor = CFedCaptor::Latest().load();
  ASSERT_NE(captor, nullptr);
  StopAndDelete(m);
  // The captor's thread ended before the client closed: nothing more arrives.
  // Datagrams sent just before the stop may still wait in the receiver's
  // socket; let those drain before counting.
  Sleep(testwait::Ms(300));
  const size_t packets = raop.audio().size();
  Sleep(300);
  EXPECT_EQ(raop.audio().size(), packets);
  const auto audio = raop.audio();
  for (size_t i = 0; i < packets; ++i) {
    const auto& d = audio[i].bytes;
    EXPECT_EQ((d[2] << 8) | d[3], static_cast<int>(i + 1));
  }
  EXPECT_TRUE(raop.violations().empty());
}

TEST_F(MirrorSound, WithoutTheAudioServiceTheSessionMirrorsWithoutSound) {
  struct Case {
    const char* name;
    bool listening;     // a receiver on the audio port at all
    bool refuse;        // it refuses the ANNOUNCE
    bool fedCaptor;     // false: the sound card's captor (none under Wine)
    size_t requests;    // RTSP requests the receiver sees, volume change included
  } cases[] = {
      {"port closed", false, false, true, 0},
      {"ANNOUNCE refused", true, true, true, 1},
      {"no sound card", true, false, false, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetAudioCaptorFactory(c.fedCaptor ? &CFedCaptor::Make : nullptr);
    FakeReceiver mirror(FakeReceiver::Mode::kNormal);
    uint16_t audioPort;
    std::unique_ptr<FakeRaopReceiver> raop;
    if (c.listening) {
      raop.reset(new FakeRaopReceiver());
      if (c.refuse) {
        raop->SetScript([](const RtspRequest&, RtspReply* reply) {
          reply->text = "RTSP/1.0 403 Forbidden\r\n\r\n";
          return true;
        });
      }
      audioPort = raop->port();
    } else {
      FakeRaopReceiver gone;
      audioPort = gone.port();
    }
    CMirror* m = Make(mirror.port());
    ASSERT_TRUE(m->Start("127.0.0.1", audioPort));
    ASSERT_TRUE(WaitStatus(m, L"Mirror to 127.0.0.1 without the Audio", 15000))
        << cl::WideToUtf8(m->StatusText());
    // The session goes on: the loop runs and heartbeats flow.
    const long long passes = m->LoopPasses();
    ASSERT_TRUE(WaitFor([&] { return m->LoopPasses() > passes + 5; }, 5000));
    EXPECT_TRUE(m->IsRunning());
    EXPECT_EQ(m->LastError(), 0);
    ASSERT_NE(m->Audio(), nullptr);
    if (c.fedCaptor) {
      EXPECT_EQ(m->Audio()->Captor(), nullptr);
    }
    m->SetVolume(30);
    Sleep(testwait::Ms(300));  // the volume request, where there is a receiver to take it
    if (raop) {
      EXPECT_EQ(raop->requests().size(), c.requests);
    }
    StopAndDelete(m);
  }
}

TEST_F(MirrorSound, AudioPortZeroMirrorsWithoutSoundAndConnectsNoAudioService) {
  SetAudioCaptorFactory(&CFedCaptor::Make);
  FakeReceiver mirror(FakeReceiver::Mode::kNormal);
  const size_t mark = TestLog::Get().Mark();
  CMirror* m = Make(mirror.port());
  ASSERT_TRUE(m->Start("127.0.0.1", 0));
  ASSERT_TRUE(WaitStatus(m, L"Mirror to 127.0.0.1 without the Audio", 10000)) << cl::WideToUtf8(m->StatusText());
  const long long passes = m->LoopPasses();
  ASSERT_TRUE(WaitFor([&] { return m->LoopPasses() > passes + 5; }, 5000));
  EXPECT_EQ(m->LastError(), 0);
  ASSERT_NE(m->Audio(), nullptr);
  EXPECT_EQ(m->Audio()->Captor(), nullptr);
  // No RAOP session was tried (its failure would be logged).
  EXPECT_FALSE(TestLog::Get().ContainsSince(mark, "[Audio]Init raop failed"));
  StopAndDelete(m);
}
