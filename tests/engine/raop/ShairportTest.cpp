// The RAOP client against a real receiver (Debian's shairport-sync), which
// peer.py starts on loopback and names in TESS_RAOP_PEER_PORT and
// TESS_RAOP_PEER_PASSWORD. Skipped when run without it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "FakeRaopReceiver.h"
#include "engine/audio/FedCaptor.h"
#include "engine/audio/MirrorAudio.h"
#include "engine/raop/RaopClient.h"
#include "engine/raop/RaopUtil.h"
#include "foundation/net/SocketStream.h"

namespace {

struct Peer {
  uint16_t port = 0;
  std::string password;
  int useAlac = 0;
};

bool GetPeer(Peer* peer) {
  const char* port = getenv("TESS_RAOP_PEER_PORT");
  if (!port || !*port) return false;
  peer->port = static_cast<uint16_t>(atoi(port));
  const char* password = getenv("TESS_RAOP_PEER_PASSWORD");
  peer->password = password ? password : "";
  const char* alac = getenv("TESS_RAOP_PEER_ALAC");
  peer->useAlac = alac && *alac == '1';
  return peer->port != 0;
}

}  // namespace

TEST(Shairport, CompletesTheStartStreamsAndChangesTheVolume) {
  Peer peer;
  if (!GetPeer(&peer) || peer.useAlac) GTEST_SKIP() << "no peer for AAC-ELD (run through peer.py)";
  WinsockScope winsock;
  RaopMessages messages;
  const long timingBefore = raopcl_timing_requests_seen();

  raop_session* s = nullptr;
  ASSERT_EQ(raopcl_start_session("127.0.0.1", peer.port, "0A1B2C3D4E5F", &s, peer.useAlac,
                                 peer.password.c_str()),
            0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(messages.contains("INFO: exec_request: request auth"), !peer.password.empty());
  EXPECT_NE(s->client->rtsp->serverPort, 0);
  EXPECT_NE(s->client->rtsp->controlPort, 0);
  EXPECT_NE(s->client->rtsp->timingPort, 0);
  printf("peer ports: server %d control %d timing %d\n", s->client->rtsp->serverPort,
         s->client->rtsp->controlPort, s->client->rtsp->timingPort);

  // About three seconds of packets at the pace of the sound (480 samples at
  // 44100 Hz is 10.9 ms). The payload is not a real AAC-ELD frame: the peer
  // cannot decode that codec anyway, and what matters here is the transport.
  std::vector<uint8_t> frame(180, 0x21);
  const int packets = 280;
  for (int i = 0; i < packets; ++i) {
    frame[0] = static_cast<uint8_t>(i);
    EXPECT_EQ(raopcl_send_frame(s, frame.data(), static_cast<int>(frame.size())), 0);
    Sleep(10);
    if (i == packets / 2) {
      EXPECT_EQ(raopcl_update_volume(s->client, 50), 0);
    }
  }
  EXPECT_EQ(s->client->counter, packets + 1);
  EXPECT_EQ(raopcl_update_volume(s->client, 100), 0);
  printf("timing requests answered: %ld\n", raopcl_timing_requests_seen() - timingBefore);
  EXPECT_GT(raopcl_timing_requests_seen(), timingBefore);
  // The peer sends no Apple-Jack-Status; that line is expected, no other error.
  for (const auto& line : messages.lines()) {
    if (line.compare(0, 4, "ERR:") == 0 && line.find("Apple-Jack-Status is missing") == std::string::npos)
      ADD_FAILURE() << line;
  }
  raopcl_end_session(s);

  if (!peer.password.empty()) {
    // The peer refuses a wrong password after one repeated ANNOUNCE.
    messages.clear();
    raop_session* wrong = nullptr;
    EXPECT_EQ(raopcl_start_session("127.0.0.1", peer.port, "0A1B2C3D4E5F", &wrong, peer.useAlac, "not-it"), -1);
    EXPECT_EQ(wrong, nullptr);
  }
}

// ALAC, the one codec the peer decodes: the audio sender with a captor that
// plays a 1 kHz tone at -9 dBFS RMS for four seconds; peer.py measures what
// the peer played (its PCM on standard output).
TEST(Shairport, PlaysTheAlacTone) {
  Peer peer;
  if (!GetPeer(&peer) || !peer.useAlac) GTEST_SKIP() << "no peer for ALAC (run through peer.py)";
  WinsockScope winsock;
  SetAudioCaptorFactory(&CFedCaptor::Make);
  CMirrorAudio audio;
  ASSERT_EQ(audio.Init("127.0.0.1", peer.port, "0A1B2C3D4E5F", 1, peer.password.c_str()), 0);
  ASSERT_EQ(audio.Param()->FrameSize, 352);
  ASSERT_EQ(audio.Captor()->Start(), 0);
  Sleep(4000);
  audio.Captor()->Stop();
  printf("ALAC frames sent: %ld\n", audio.FramesSent());
  EXPECT_GE(audio.FramesSent(), 4 * 44100 / 352 - 20);
  EXPECT_EQ(audio.FramesFailed(), 0);
  Sleep(1500);  // the peer plays what it buffered (its latency is about 2 s)
  audio.Stop();
  SetAudioCaptorFactory(nullptr);
}
