// The audio sender over its RAOP client and an in-process receiver: codec
// choice, PCM through the sink to RTP packets, volume under the lock while
// the capture thread sends, a refused receiver, the sound card's failure
// under Wine, and the stop order.
#include "engine/audio/MirrorAudio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "FedCaptor.h"
#include "engine/audio/CapAudioCoreAudio.h"
#include "engine/audio/EncAudioAAC.h"
#include "engine/audio/EncAudioALAC.h"
#include "engine/raop/FakeRaopReceiver.h"
#include "foundation/net/SocketStream.h"
#include "support/WaitFactor.h"

namespace {

class MirrorAudioTest : public ::testing::Test {
 protected:
  void SetUp() override { SetAudioCaptorFactory(&CFedCaptor::Make); }
  void TearDown() override { SetAudioCaptorFactory(nullptr); }

  // Feeds seconds of the fed captor's tone through the sink, 10 ms at a time
  // cut into pieces of at most one codec frame, without pacing.
  static void Feed(CMirrorAudio& audio, CFedCaptor* captor, double seconds) {
    const int chunks = static_cast<int>(seconds * 100);
    for (int i = 0; i < chunks; ++i) captor->Deliver(&audio, CFedCaptor::kChunkFrames);
  }

  static size_t Count(const std::vector<RtspRequest>& r, const char* method) {
    size_t n = 0;
    for (const auto& q : r) n += q.method == method;
    return n;
  }

  WinsockScope winsock_;
};

}  // namespace

TEST_F(MirrorAudioTest, CodecFlagPicksEncoderAndFrameSize) {
  struct {
    int useAlac;
    int frameSize;
  } cases[] = {{0, 480}, {1, 352}};
  for (const auto& c : cases) {
    FakeRaopReceiver rx;
    CMirrorAudio audio;
    EXPECT_EQ(audio.Param()->FrameSize, 352);  // the constructor's value
    ASSERT_EQ(audio.Init("127.0.0.1", rx.port(), "0A1B2C3D4E5F", c.useAlac, ""), 0);
    EXPECT_TRUE(audio.HasRaop());
    EXPECT_EQ(audio.Param()->FrameSize, c.frameSize);
    EXPECT_EQ(audio.Encoder()->FrameBytes(), c.frameSize * 4);  // 1920 or 1408 bytes
    if (c.useAlac) {
      EXPECT_NE(dynamic_cast<CEncAudioALAC*>(audio.Encoder()), nullptr);
    } else {
      EXPECT_NE(dynamic_cast<CEncAudioAAC*>(audio.Encoder()), nullptr);
    }
    EXPECT_TRUE(audio.Encoder()->CodecOpen());
    // The captor settled the rate before the encoder opened with it.
    EXPECT_EQ(audio.Param()->SampleRate, 44100);
    EXPECT_NE(rx.requests()[0].body.find(c.useAlac ? "AppleLossless" : "mode=AAC-eld"), std::string::npos);
    EXPECT_EQ(audio.Stop(), 0);
    EXPECT_FALSE(audio.HasRaop());
  }
}

TEST_F(MirrorAudioTest, PcmThroughTheSinkBecomesContiguousRtpPackets) {
 for (int useAlac : {0, 1}) {
  SCOPED_TRACE(useAlac);
  const uint32_t samples = useAlac ? 352 : 480;
  const size_t interval = 44100 / samples;
  FakeRaopReceiver rx;
  CMirrorAudio audio;
  ASSERT_EQ(audio.Init("127.0.0.1", rx.port(), "0A1B2C3D4E5F", useAlac, ""), 0);
  CFedCaptor* captor = CFedCaptor::Latest().load();
  ASSERT_NE(captor, nullptr);
  Feed(audio, captor, 2.0);  // 88200 frames: 183 whole frames of 480, 250 of 352
  const long frames = static_cast<long>(captor->Position() / samples);
  // The encoder may hold back its first frames while it fills its delay line.
  ASSERT_TRUE(rx.WaitAudio(static_cast<size_t>(audio.FramesSent()), 5000));
  EXPECT_GE(audio.FramesSent(), frames - 4);
  EXPECT_LE(audio.FramesSent(), frames);
  EXPECT_EQ(audio.FramesFailed(), 0);
  auto packets = rx.audio();
  ASSERT_EQ(packets.size(), static_cast<size_t>(audio.FramesSent()));
  for (size_t i = 0; i < packets.size(); ++i) {
    const auto& d = packets[i].bytes;
    ASSERT_GT(d.size(), 12u);
    EXPECT_EQ((d[2] << 8) | d[3], static_cast<int>(i + 1));
    EXPECT_EQ(Be32(&d[4]), static_cast<uint32_t>(i + 1) * samples);
  }
  // Sync packets before packets 1, 1 + interval, 1 + 2 x interval.
  const size_t syncs = (packets.size() - 1) / interval + 1;
  testwait::Until([&] { return rx.syncs().size() >= syncs; }, 2000);
  EXPECT_EQ(rx.syncs().size(), syncs);

  // An empty chunk (a long silence) drops the partial frame; nothing is sent for it.
  AudioChunk empty;
  const long before = audio.FramesSent();
  audio.OnAudioFrame(&empty);
  EXPECT_EQ(audio.Encoder()->BufferedBytes(), 0);
  EXPECT_EQ(audio.FramesSent(), before);
  audio.Stop();
 }
}

TEST_F(MirrorAudioTest, VolumeChangesInterleaveWithTheCaptureThread) {
  FakeRaopReceiver rx;
  CMirrorAudio audio;
  ASSERT_EQ(audio.Init("127.0.0.1", rx.port(), "0A1B2C3D4E5F", 0, ""), 0);
  ASSERT_EQ(audio.Captor()->Start(), 0);
  const int volumes[] = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  for (int v : volumes) {
    Sleep(60);
    EXPECT_EQ(audio.SetVolume(v), 0);
  }
  EXPECT_EQ(audio.Captor()->Stop(), 0);
  const long sent = audio.FramesSent();
  EXPECT_GT(sent, 40);  // about 0.6 s of sound
  audio.Stop();
  ASSERT_TRUE(rx.WaitAudio(static_cast<size_t>(sent), 3000));
  auto r = rx.requests();
  ASSERT_EQ(Count(r, "SET_PARAMETER"), 1u + 10u);
  for (size_t i = 0; i < r.size(); ++i) EXPECT_EQ(r[i].cseq(), static_cast<int>(i + 1));
  EXPECT_EQ(r.back().body, "volume: 0.000000\r\n");
  EXPECT_EQ(r[r.size() - 6].body, "volume: -10.000000\r\n");  // 50
  auto packets = rx.audio();
  for (size_t i = 0; i < packets.size(); ++i) EXPECT_EQ((packets[i].bytes[2] << 8) | packets[i].bytes[3], static_cast<int>(i + 1));
}

TEST_F(MirrorAudioTest, RefusedReceiverLeavesNoCaptorAndVolumeSendsNothing) {
  uint16_t closedPort;
  {
    FakeRaopReceiver gone;
    closedPort = gone.port();
  }
  CMirrorAudio audio;
  EXPECT_LT(audio.Init("127.0.0.1", closedPort, "0A1B2C3D4E5F", 0, ""), 0);
  EXPECT_EQ(audio.Captor(), nullptr);
  EXPECT_EQ(audio.Encoder(), nullptr);
  EXPECT_FALSE(audio.HasRaop());
  EXPECT_EQ(audio.SetVolume(40), 0);
  AudioChunk chunk;  // a sink call without an encoder is harmless
  audio.OnAudioFrame(&chunk);
  EXPECT_EQ(audio.Stop(), 0);

  // A receiver that refuses the ANNOUNCE: after the start nothing more reaches it.
  FakeRaopReceiver rx;
  rx.SetScript([](const RtspRequest&, RtspReply* reply) {
    reply->text = "RTSP/1.0 403 Forbidden\r\n\r\n";
    return true;
  });
  CMirrorAudio refused;
  EXPECT_LT(refused.Init("127.0.0.1", rx.port(), "0A1B2C3D4E5F", 0, ""), 0);
  EXPECT_EQ(refused.SetVolume(40), 0);
  Sleep(200);
  EXPECT_EQ(rx.requests().size(), 1u);
  refused.Stop();
}

TEST_F(MirrorAudioTest, NothingIsSentOnceTheCaptorStops) {
  FakeRaopReceiver rx;
  CMirrorAudio audio;
  ASSERT_EQ(audio.Init("127.0.0.1", rx.port(), "0A1B2C3D4E5F", 0, ""), 0);
  CFedCaptor* captor = CFedCaptor::Latest().load();
  Feed(audio, captor, 0.5);
  const long sent = audio.FramesSent();
  EXPECT_GT(sent, 0);
  captor->RequestStop();
  Feed(audio, captor, 0.5);
  EXPECT_EQ(audio.FramesSent(), sent);
  audio.Stop();
}

TEST_F(MirrorAudioTest, StopEndsTheRaopSessionInBounds) {
  FakeRaopReceiver rx;
  CMirrorAudio audio;
  ASSERT_EQ(audio.Init("127.0.0.1", rx.port(), "0A1B2C3D4E5F", 0, ""), 0);
  ASSERT_EQ(audio.Captor()->Start(), 0);
  Sleep(300);
  audio.Captor()->Stop();
  const DWORD t0 = GetTickCount();
  EXPECT_EQ(audio.Stop(), 0);
  EXPECT_LT(GetTickCount() - t0, testwait::Ms(1500));
  EXPECT_FALSE(audio.HasRaop());
  // No TEARDOWN: the connection is simply closed.
  for (const auto& r : rx.requests()) EXPECT_NE(r.method, "TEARDOWN");
}

TEST(MirrorAudioSoundCard, WithoutALoopbackDeviceTheCaptorFailsCleanly) {
  // The default captor: under Wine there is no loopback capture (no device,
  // or no capture service); the sender keeps the RAOP session, the captor
  // exists but refuses to start.
  WinsockScope winsock;
  SetAudioCaptorFactory(nullptr);
  FakeRaopReceiver rx;
  CMirrorAudio audio;
  const DWORD t0 = GetTickCount();
  const int rc = audio.Init("127.0.0.1", rx.port(), "0A1B2C3D4E5F", 0, "");
  EXPECT_LT(GetTickCount() - t0, testwait::Ms(10000));
  ASSERT_NE(audio.Captor(), nullptr);
  ASSERT_NE(dynamic_cast<CCapAudioCoreAudio*>(audio.Captor()), nullptr);
  if (rc == 0) {
    audio.Stop();
    GTEST_SKIP() << "a loopback device exists here; the failure path cannot be shown";
  }
  EXPECT_LT(audio.Captor()->Start(), 0);
  EXPECT_TRUE(audio.HasRaop());
  EXPECT_EQ(audio.Stop(), 0);
}
