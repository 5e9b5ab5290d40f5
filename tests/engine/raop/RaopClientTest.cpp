// The RAOP client against the in-process receiver: the start sequence and
// its SDP, volume, RTP and sync packets, timing answers, failed starts that
// leave nothing open, and a bounded stop.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "engine/raop/RaopClient.h"

#include <gtest/gtest.h>
#include <openssl/rand.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FakeRaopReceiver.h"
#include "engine/raop/RaopUtil.h"
#include "foundation/net/SocketStream.h"
#include "support/WaitFactor.h"

namespace {

class Raop : public ::testing::Test {
 protected:
  WinsockScope winsock_;

  static std::vector<uint8_t> Frame(int n, int size) {
    std::vector<uint8_t> f(static_cast<size_t>(size));
    for (int i = 0; i < size; ++i) f[i] = static_cast<uint8_t>(n * 31 + i);
    return f;
  }

  // Sends count frames of varying size and waits for them at the receiver.
  static void Stream(raop_session* s, FakeRaopReceiver& rx, int first, int count) {
    for (int i = first; i < first + count; ++i) {
      std::vector<uint8_t> f = Frame(i, 100 + (i % 200));
      ASSERT_EQ(raopcl_send_frame(s, f.data(), static_cast<int>(f.size())), 0);
    }
  }

  // Sends a timing request from sock to the client and returns the reply.
  static std::vector<uint8_t> Timing(SOCKET sock, uint16_t clientPort, int size, DWORD waitMs) {
    std::vector<uint8_t> req(static_cast<size_t>(size), 0);
    if (size >= 2) {
      req[0] = 0x80;
      req[1] = 0xD2;
    }
    for (int i = 24; i < 32 && i < size; ++i) req[i] = static_cast<uint8_t>(0xA0 + i);
    sockaddr_in to = FakeRaopReceiver::Loopback(clientPort);
    sendto(sock, reinterpret_cast<const char*>(req.data()), size, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    fd_set set;
    FD_ZERO(&set);
    FD_SET(sock, &set);
    timeval tv{static_cast<long>(waitMs / 1000), static_cast<long>((waitMs % 1000) * 1000)};
    if (select(0, &set, nullptr, nullptr, &tv) != 1) return {};
    std::vector<uint8_t> reply(2048);
    int n = recvfrom(sock, reinterpret_cast<char*>(reply.data()), 2048, 0, nullptr, nullptr);
    reply.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return reply;
  }

  static uint16_t PortOf(const std::string& transport, const std::string& name) {
    size_t at = transport.find(name + "=");
    return at == std::string::npos ? 0 : static_cast<uint16_t>(atoi(transport.c_str() + at + name.size() + 1));
  }
};

bool IsLowerHex(const std::string& s) {
  for (char c : s) {
    if (!isdigit(static_cast<unsigned char>(c)) && !(c >= 'a' && c <= 'f')) return false;
  }
  return true;
}

}  // namespace

TEST_F(Raop, StartAnnouncesSetsUpRecordsAndSetsFullVolume) {
  for (int useAlac : {0, 1}) {
    SCOPED_TRACE(useAlac);
    FakeRaopReceiver rx;
    raop_session* s = nullptr;
    ASSERT_EQ(raopcl_start_session("127.0.0.1", rx.port(), "0A1B2C3D4E5F", &s, useAlac, ""), 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->useAlac, useAlac);
    auto r = rx.requests();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].method, "ANNOUNCE");
    EXPECT_EQ(r[1].method, "SETUP");
    EXPECT_EQ(r[2].method, "RECORD");
    EXPECT_EQ(r[3].method, "SET_PARAMETER");
    for (size_t i = 0; i < r.size(); ++i) EXPECT_EQ(r[i].cseq(), static_cast<int>(i + 1));

    // URL "rtsp://<local address>/<session id>", the id a multiple of 256.
    const std::string line = r[0].head.substr(0, r[0].head.find("\r\n"));
    const std::string prefix = "ANNOUNCE rtsp://127.0.0.1/";
    ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
    const std::string sid = line.substr(prefix.size(), line.find(' ', prefix.size()) - prefix.size());
    EXPECT_EQ(strtoul(sid.c_str(), nullptr, 10) % 256, 0u);

    const std::string expectedSdp =
        useAlac ? "v=0\r\no=iTunes " + sid + " 0 IN IP4 127.0.0.1\r\ns=iTunes\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                  "m=audio 0 RTP/AVP 96\r\na=rtpmap:96 AppleLossless\r\n"
                  "a=fmtp:96 352 0 16 40 10 14 2 255 0 0 44100\r\n"
                : "v=0\r\no=iTunes " + sid + " 0 IN IP4 127.0.0.1\r\ns=iTunes\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                  "m=audio 0 RTP/AVP 96\r\na=rtpmap:96 mpeg4-generic/44100/2\r\n"
                  "a=fmtp:96 mode=AAC-eld; constantDuration=480\r\na=min-latency:4100\r\n"
                  "m=video 0 RTP/AVP 97\r\na=rtmap:97 H264\r\na=fmtp:97\r\n";
    EXPECT_EQ(r[0].body, expectedSdp);
    EXPECT_EQ(r[0].header("Content-Type"), "application/sdp");
    EXPECT_EQ(r[0].header("User-Agent"), "iTunes/4.6 (Macintosh; U; PPC Mac OS X 10.3)");
    EXPECT_EQ(r[0].header("X-Apple-Device-ID"), "0x0A1B2C3D4E5F");
    const std::string instance = r[0].header("Client-Instance");
    EXPECT_EQ(instance.size(), 16u);
    EXPECT_TRUE(IsLowerHex(instance)) << instance;
    EXPECT_EQ(r[0].header("dacp-id"), "7C2F90E4A1D35B68");
    EXPECT_EQ(r[0].header("active-remote"), "4072539148");
    const std::string challenge = r[0].header("Apple-Challenge");
    EXPECT_EQ(challenge.size(), 22u);
    EXPECT_EQ(challenge.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"),
              std::string::npos);
    // Extra headers follow the user agent in insertion order.
    EXPECT_LT(r[0].head.find("User-Agent"), r[0].head.find("Client-Instance"));
    EXPECT_LT(r[0].head.find("Client-Instance"), r[0].head.find("dacp-id"));
    EXPECT_LT(r[0].head.find("active-remote"), r[0].head.find("Apple-Challenge"));
    EXPECT_EQ(r[1].header("Client-Instance"), instance);  // the same for every request

    // SETUP names the client's own timing and control sockets.
    const std::string transport = r[1].header("Transport");
    EXPECT_EQ(PortOf(transport, "timing_port"), s->client->timingPort);
    EXPECT_EQ(PortOf(transport, "control_port"), s->client->controlPort);
    EXPECT_EQ(r[2].header("Session"), std::string(" ") + FakeRaopReceiver::kSession);
    EXPECT_EQ(r[3].body, "volume: 0.000000\r\n");
    EXPECT_EQ(s->client->volume, 0.0f);

    // The three sockets took consecutive free ports in their order.
    EXPECT_LT(s->client->dataPort, s->client->timingPort);
    EXPECT_LT(s->client->timingPort, s->client->controlPort);
    raopcl_end_session(s);
  }
}

TEST_F(Raop, TwoSessionsDrawDifferentRandomValues) {
  std::string challenges[2], instances[2];
  for (int i = 0; i < 2; ++i) {
    FakeRaopReceiver rx;
    raop_session* s = nullptr;
    ASSERT_EQ(raopcl_start_session("127.0.0.1", rx.port(), "0A1B2C3D4E5F", &s, 0, ""), 0);
    challenges[i] = rx.requests()[0].header("Apple-Challenge");
    instances[i] = rx.requests()[0].header("Client-Instance");
    raopcl_end_session(s);
  }
  EXPECT_NE(challenges[0], challenges[1]);
  EXPECT_NE(instances[0], instances[1]);
}

TEST_F(Raop, VolumeInDecibels) {
  struct {
    int volume;
    const char* body;
  } cases[] = {
      {100, "volume: 0.000000\r\n"},   {50, "volume: -10.000000\r\n"}, {25, "volume: -20.000000\r\n"},
      {1, "volume: -66.438560\r\n"},   {0, "volume: -144.000000\r\n"}, {-3, "volume: -144.000000\r\n"},
      {150, "volume: 0.000000\r\n"},
  };
  FakeRaopReceiver rx;
  raop_session* s = nullptr;
  ASSERT_EQ(raopcl_start_session("127.0.0.1", rx.port(), "0A1B2C3D4E5F", &s, 0, ""), 0);
  for (const auto& c : cases) EXPECT_EQ(raopcl_update_volume(s->client, c.volume), 0);
  auto r = rx.requests();
  ASSERT_EQ(r.size(), 4u + sizeof(cases) / sizeof(cases[0]));
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    EXPECT_EQ(r[4 + i].method, "SET_PARAMETER");
    EXPECT_EQ(r[4 + i].body, cases[i].body) << cases[i].volume;
    EXPECT_EQ(r[4 + i].cseq(), static_cast<int>(5 + i));
  }
  EXPECT_EQ(raopcl_update_volume(nullptr, 50), -1);
  raopcl_end_session(s);
}

TEST_F(Raop, PasswordIsAnsweredAndEveryRequestAuthorised) {
  FakeRaopReceiver rx("pa55");
  raop_session* s = nullptr;
  ASSERT_EQ(raopcl_start_session("127.0.0.1", rx.port(), "0A1B2C3D4E5F", &s, 0, "pa55"), 0);
  EXPECT_EQ(raopcl_update_volume(s->client, 30), 0);
  auto r = rx.requests();
  ASSERT_EQ(r.size(), 6u);
  EXPECT_EQ(r[0].method, "ANNOUNCE");
  EXPECT_EQ(r[1].method, "ANNOUNCE");
  EXPECT_EQ(r[1].cseq(), 2);
  EXPECT_EQ(r[1].body, r[0].body);
  EXPECT_TRUE(rx.violations().empty()) << rx.violations()[0];
  raopcl_end_session(s);
}

TEST_F(Raop, RtpPacketsAndSyncPackets) {
  for (int useAlac : {0, 1}) {
    SCOPED_TRACE(useAlac);
    const uint32_t frames = useAlac ? 352 : 480;
    const int interval = 44100 / static_cast<int>(frames);  // 91 or 125
    FakeRaopReceiver rx;
    raop_session* s = nullptr;
    ASSERT_EQ(raopcl_start_session("127.0.0.1", rx.port(), "0A1B2C3D4E5F", &s, useAlac, ""), 0);
    const int count = 2 * interval + 5;
    Stream(s, rx, 1, count);
    ASSERT_TRUE(rx.WaitAudio(static_cast<size_t>(count), 5000));
    auto audio = rx.audio();
    ASSERT_EQ(audio.size(), static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      const auto& d = audio[i].bytes;
      const int n = i + 1;
      std::vector<uint8_t> f = Frame(n, 100 + (n % 200));
      ASSERT_EQ(d.size(), f.size() + 12);
      EXPECT_EQ(d[0], 0x80);
      EXPECT_EQ(d[1], n == 1 ? 0xE0 : 0x60);
      EXPECT_EQ((d[2] << 8) | d[3], n);
      EXPECT_EQ(Be32(&d[4]), n * frames);
      EXPECT_EQ(Be32(&d[8]), 0x9333D332u);
      EXPECT_EQ(memcmp(&d[12], f.data(), f.size()), 0);
      EXPECT_EQ(audio[i].fromPort, s->client->dataPort);
    }
    // Sync packets before packets 1, 1 + interval, 1 + 2 x interval.
    testwait::Until([&] { return rx.syncs().size() >= 3; }, 2000);
    auto syncs = rx.syncs();
    ASSERT_EQ(syncs.size(), 3u);
    int64_t wall = 0;
    for (int k = 0; k < 3; ++k) {
      const auto& d = syncs[k].bytes;
      ASSERT_EQ(d.size(), 20u);
      const uint32_t rtp = static_cast<uint32_t>(1 + k * interval) * frames;
      EXPECT_EQ(Be32(&d[0]), 0x80D40004u);
      EXPECT_EQ(Be32(&d[4]), rtp - 4100u);
      EXPECT_EQ(Be32(&d[16]), rtp);
      // Seconds since the timing thread started, from the NTP epoch.
      const uint32_t seconds = Be32(&d[8]);
      EXPECT_GE(seconds, 2208988800u);
      EXPECT_LT(seconds, 2208988800u + 60);
      const int64_t t = int64_t(seconds) * 1000 + (int64_t(Be32(&d[12])) * 1000 >> 32);
      EXPECT_GE(t + 1, wall);
      wall = t;
      EXPECT_EQ(syncs[k].fromPort, s->client->controlPort);
    }
    EXPECT_EQ(Be32(&syncs[0].bytes[4]), 0xFFFFF1DCu - (useAlac ? 128u : 0u));  // 480 - 4100 or 352 - 4100
    raopcl_end_session(s);
  }
}

TEST_F(Raop, SequenceNumberWrapsWhileTheTimeKeepsGrowing) {
  FakeRaopReceiver rx;
  raop_session* s = nullptr;
  ASSERT_EQ(raopcl_start_session("127.0.0.1", rx.port(), "0A1B2C3D4E5F", &s, 0, ""), 0);
  s->client->counter = 65535;
  Stream(s, rx, 65535, 3);
  ASSERT_TRUE(rx.WaitAudio(3, 3000));
  auto audio = rx.audio();
  const uint16_t seq[] = {65535, 0, 1};
  for (int i = 0; i < 3; ++i) {
    const auto& d = audio[i].bytes;
    EXPECT_EQ((d[2] << 8) | d[3], seq[i]);
    EXPECT_EQ(Be32(&d[4]), static_cast<uint32_t>(65535 + i) * 480u);
    EXPECT_EQ(d[1], 0x60);
  }
  raopcl_end_session(s);
}

TEST_F(Raop, MissingControlPortOrJackStatusDoesNotStopTheStream) {
  RaopMessages messages;
  FakeRaopReceiver rx;
  rx.SetJackStatus(false);
  rx.SetTransport("RTP/AVP/UDP;unicast;mode=record;server_port=" + std::to_string(rx.dataPort()) +
                  ";timing_port=" + std::to_string(rx.timingPort()));
  raop_session* s = nullptr;
  ASSERT_EQ(raopcl_start_session("127.0.0.1", rx.port(), "0A1B2C3D4E5F", &s, 0, ""), 0);
  EXPECT_TRUE(messages.contains("ERR: raopcl_connect: Apple-Jack-Status is missing"));
  Stream(s, rx, 1, 5);
  EXPECT_TRUE(rx.WaitAudio(5, 3000));
  EXPECT_TRUE(messages.contains("ERR: raopcl_send_sync_udp: write timing udp error"));
  EXPECT_TRUE(rx.syncs().empty());
  raopcl_end_session(s);
}

TEST_F(Raop, TimingRequestsAreAnsweredAtTheirPortAndShortOnesIgnored) {
  FakeRaopReceiver rx;
  raop_session* s = nullptr;
  ASSERT_EQ(raopcl_start_session("127.0.0.1", rx.port(), "0A1B2C3D4E5F", &s, 0, ""), 0);
  // From a port other than the announced timing port.
  uint16_t otherPort = 0;
  SOCKET other = FakeRaopReceiver::OpenUdp(&otherPort);
  ASSERT_NE(otherPort, rx.timingPort());
  const uint16_t clientTiming = s->client->timingPort;

  std::vector<uint8_t> reply = Timing(other, clientTiming, 32, testwait::Ms(3000));
  ASSERT_EQ(reply.size(), 32u);
  EXPECT_EQ(Be32(&reply[0]), 0x80D30007u);
  EXPECT_EQ(Be32(&reply[4]), 0u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(reply[8 + i], 0xA0 + 24 + i);  // the request's transmit time
  EXPECT_GE(Be32(&reply[16]), 2208988800u);
  EXPECT_LT(Be32(&reply[16]), 2208988800u + 60);
  EXPECT_EQ(Be32(&reply[16]), Be32(&reply[24]));
  EXPECT_EQ(Be32(&reply[20]), Be32(&reply[28]));

  // Shorter than the fixed size: no answer, and the service goes on.
  RaopMessages messages;
  for (int size : {0, 1, 24, 31}) {
    EXPECT_TRUE(Timing(other, clientTiming, size, 1200).empty()) << size;
  }
  EXPECT_TRUE(messages.contains("timing request of 31 bytes ignored"));
  EXPECT_EQ(Timing(other, clientTiming, 40, testwait::Ms(3000)).size(), 32u);  // longer is fine
  closesocket(other);
  raopcl_end_session(s);
}

TEST_F(Raop, StopWaitsForTheTimingThreadWithinItsBound) {
  FakeRaopReceiver rx;
  raop_session* s = nullptr;
  ASSERT_EQ(raopcl_start_session("127.0.0.1", rx.port(), "0A1B2C3D4E5F", &s, 0, ""), 0);
  // Keep the timing thread busy while it is stopped.
  uint16_t port = 0;
  SOCKET flood = FakeRaopReceiver::OpenUdp(&port);
  std::atomic<bool> flooding{true};
  const uint16_t clientTiming = s->client->timingPort;
  std::thread t([&] {
    std::vector<char> req(32, 0);
    sockaddr_in to = FakeRaopReceiver::Loopback(clientTiming);
    while (flooding) {
      sendto(flood, req.data(), 32, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
      Sleep(1);
    }
  });
  Sleep(testwait::Ms(300));  // the flood keeps the timing thread busy
  HANDLE thread = nullptr;
  DuplicateHandle(GetCurrentProcess(), s->client->timingThread, GetCurrentProcess(), &thread, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  const DWORD t0 = GetTickCount();
  EXPECT_EQ(raopcl_stop_timing(s->client), 0);  // ended by itself
  EXPECT_LT(GetTickCount() - t0, 1000 + testwait::Ms(500));  // its receive wait is 1 s
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  CloseHandle(thread);
  flooding = false;
  t.join();
  closesocket(flood);
  raopcl_end_session(s);
}

TEST_F(Raop, FailedStartsLeaveNothingOpen) {
  struct Case {
    const char* name;
    std::string failMethod;  // this request gets the reply below
    std::string reply;
    const char* password;
  } cases[] = {
      {"second challenge", "", "", "wrong"},
      {"ANNOUNCE refused", "ANNOUNCE", "RTSP/1.0 403 Forbidden\r\n\r\n", ""},
      {"SETUP without session", "SETUP", "RTSP/1.0 200 OK\r\nTransport: x;server_port=5\r\n\r\n", ""},
      {"RECORD refused", "RECORD", "RTSP/1.0 500 Internal\r\n\r\n", ""},
      {"volume refused", "SET_PARAMETER", "RTSP/1.0 451 Bad\r\n\r\n", ""},
      {"volume silent", "SET_PARAMETER", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeRaopReceiver rx(*c.password ? "right" : "");
    if (!c.failMethod.empty()) {
      rx.SetScript([&](const RtspRequest& r, RtspReply* reply) {
        if (r.method != c.failMethod) return false;
        reply->text = c.reply;
        reply->stall = c.reply.empty();
        return true;
      });
    }
    raop_session* s = nullptr;
    const DWORD t0 = GetTickCount();
    EXPECT_EQ(raopcl_start_session("127.0.0.1", rx.port(), "0A1B2C3D4E5F", &s, 0, c.password), -1);
    EXPECT_LT(GetTickCount() - t0, RTSP_REPLY_TIMEOUT_MS + testwait::Ms(3000));
    EXPECT_EQ(s, nullptr);
    // The local UDP ports named in SETUP are free again.
    for (const auto& r : rx.requests()) {
      if (r.method != "SETUP") continue;
      const std::string transport = r.header("Transport");
      for (const char* name : {"timing_port", "control_port"}) {
        SOCKET u = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(PortOf(transport, name));
        EXPECT_EQ(bind(u, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0) << name;
        closesocket(u);
      }
    }
  }
}

TEST_F(Raop, RefusedOrUnknownReceiverFailsTheStart) {
  uint16_t port;
  {
    FakeRaopReceiver gone;
    port = gone.port();
  }
  raop_session* s = nullptr;
  EXPECT_EQ(raopcl_start_session("127.0.0.1", port, "0A1B2C3D4E5F", &s, 0, ""), -1);
  EXPECT_EQ(raopcl_start_session("no-such-host.invalid", 5000, "0A1B2C3D4E5F", &s, 0, ""), -1);
  EXPECT_EQ(s, nullptr);
}

namespace {
int FailingBytes(unsigned char*, int) { return 0; }
int FailingStatus() { return 0; }
}  // namespace

TEST_F(Raop, RandomSourceFailureIsAnError) {
  RaopMessages messages;
  FakeRaopReceiver rx;
  RAND_METHOD failing{};
  failing.bytes = &FailingBytes;
  failing.pseudorand = &FailingBytes;
  failing.status = &FailingStatus;
  const RAND_METHOD* saved = RAND_get_rand_method();
  ASSERT_EQ(RAND_set_rand_method(&failing), 1);
  raop_session* s = nullptr;
  const int r = raopcl_start_session("127.0.0.1", rx.port(), "0A1B2C3D4E5F", &s, 0, "");
  RAND_set_rand_method(saved);
  EXPECT_EQ(r, -1);
  EXPECT_EQ(s, nullptr);
  EXPECT_TRUE(messages.contains("ERR: raopcl_connect: no random bytes"));
  Sleep(100);
  EXPECT_FALSE(rx.accepted());  // nothing went out
}
