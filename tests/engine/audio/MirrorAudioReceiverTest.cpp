// End to end against the project's test receivers (tools/test-receiver),
// which run_with_receiver.py starts and names in the environment; skipped
// without them. A 1 kHz tone at -6 dBFS peak (-9 dBFS RMS) is encoded as
// AAC-ELD and sent over RAOP; the receiver checks every request, the RTP
// sequence and times, the sync packets and the timing answers, decodes the
// frames and measures the tone (bounds in tests/engine/audio/CMakeLists.txt).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "FedCaptor.h"
#include "classlib/Str.h"
#include "engine/audio/MirrorAudio.h"
#include "engine/mirror/Mirror.h"
#include "foundation/net/SocketStream.h"
#include "support/WaitFactor.h"

namespace {

uint16_t EnvPort(const char* name) {
  const char* v = getenv(name);
  return v && *v ? static_cast<uint16_t>(atoi(v)) : 0;
}

}  // namespace

// The sender alone: PCM through its sink, at the pace of the sound.
TEST(MirrorAudioReceiver, ToneThroughTheSinkReachesTheReceiver) {
  const uint16_t port = EnvPort("TESS_RECEIVER_PORT");
  if (!port) GTEST_SKIP() << "no receiver (run through run_with_receiver.py --raop)";
  WinsockScope winsock;
  SetAudioCaptorFactory(&CFedCaptor::Make);
  CMirrorAudio audio;
  ASSERT_EQ(audio.Init("127.0.0.1", port, "0A1B2C3D4E5F", 0, ""), 0);
  CFedCaptor* captor = CFedCaptor::Latest().load();
  ASSERT_NE(captor, nullptr);

  // Three seconds, 10 ms at a time cut into pieces of at most one frame,
  // paced by the clock.
  const DWORD start = GetTickCount();
  for (int i = 0; i < 300; ++i) {
    while (GetTickCount() - start < static_cast<DWORD>(i * 10)) Sleep(1);
    captor->Deliver(&audio, CFedCaptor::kChunkFrames);
  }
  EXPECT_EQ(audio.SetVolume(50), 0);  // the receiver expects -10 dB last
  Sleep(1500);                        // a timing exchange or two more
  EXPECT_GE(audio.FramesSent(), 270);
  EXPECT_EQ(audio.FramesFailed(), 0);
  printf("frames sent: %ld\n", audio.FramesSent());
  audio.Stop();
  SetAudioCaptorFactory(nullptr);
}

// The whole session: the mirroring handshake with one receiver, the sound
// to the other, the volume of the session's parameters sent when the
// capture loop starts, then the owner's change.
TEST(MirrorSessionReceivers, SessionStreamsTheCaptorsTone) {
  const uint16_t mirrorPort = EnvPort("TESS_RECEIVER_PORT");
  const uint16_t raopPort = EnvPort("TESS_RAOP_PORT");
  if (!mirrorPort || !raopPort) GTEST_SKIP() << "no receivers (run_with_receiver.py --with-raop)";
  WinsockScope winsock;
  SetAudioCaptorFactory(&CFedCaptor::Make);
  MirrorParam param;
  param.port = mirrorPort;
  param.fps = 20;
  param.volume = 25;
  CMirror* m = new CMirror(&param);
  m->SetNtpPort(0);
  ASSERT_TRUE(m->Start("127.0.0.1", raopPort));
  testwait::Until([&] { return m->StatusText() == L"Mirror to 127.0.0.1"; }, 10000, 20);
  ASSERT_EQ(m->StatusText(), L"Mirror to 127.0.0.1");
  Sleep(3000);
  m->SetVolume(50);
  Sleep(1500);
  ASSERT_NE(m->Audio(), nullptr);
  printf("frames sent: %ld\n", m->Audio()->FramesSent());
  EXPECT_GE(m->Audio()->FramesSent(), 300);
  EXPECT_EQ(m->Stop(), 1);
  EXPECT_EQ(m->StatusText(), L"Mirror quit");
  EXPECT_EQ(m->LastError(), 0);
  delete m;
  SetAudioCaptorFactory(nullptr);
}
