// Buffer growth, UDP port allocation, connection set-up and base64 of the
// RAOP module.
#include "engine/raop/RaopUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "FakeRaopReceiver.h"
#include "foundation/net/SocketStream.h"
#include "support/WaitFactor.h"

namespace {

class RaopUtil : public ::testing::Test {
 protected:
  WinsockScope winsock_;
};

bool CanBindUdp(uint16_t port, SOCKET* keep = nullptr) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  const bool ok = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
  if (ok && keep) {
    *keep = s;
  } else {
    closesocket(s);
  }
  return ok;
}

}  // namespace

TEST_F(RaopUtil, GrowBufferSteps) {
  struct {
    int needed, size;
  } cases[] = {{0, 16}, {12, 16}, {16, 16}, {17, 32}, {300, 512}, {2048, 2048}, {2049, 2049}, {70000, 70000}};
  for (const auto& c : cases) EXPECT_EQ(raopcl_buffer_size_for(c.needed), c.size) << c.needed;

  uint8_t* buffer = nullptr;
  ASSERT_EQ(raopcl_grow_buffer(&buffer, 12, "test"), 0);
  memcpy(buffer, "0123456789ab", 12);
  ASSERT_EQ(raopcl_grow_buffer(&buffer, 3000, "test"), 0);
  EXPECT_EQ(memcmp(buffer, "0123456789ab", 12), 0);  // content kept
  free(buffer);
}

TEST_F(RaopUtil, Base64) {
  struct {
    std::string in, out, stripped;
  } cases[] = {
      {"", "", ""},
      {"f", "Zg==", "Zg"},
      {"fo", "Zm8=", "Zm8"},
      {"foo", "Zm9v", "Zm9v"},
      {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
      {std::string("\xfb\xff\x00", 3), "+/8A", "+/8A"},
  };
  for (const auto& c : cases) {
    char* text = nullptr;
    ASSERT_EQ(base64_encode(reinterpret_cast<const uint8_t*>(c.in.data()), static_cast<int>(c.in.size()), &text),
              static_cast<int>(c.out.size()));
    EXPECT_EQ(std::string(text), c.out);
    strip_base64_padding(text);
    EXPECT_EQ(std::string(text), c.stripped);
    free(text);
  }
  // The RTSP challenge: 16 bytes, 24 characters ending in "==", 22 after stripping.
  uint8_t sixteen[16];
  for (int i = 0; i < 16; ++i) sixteen[i] = static_cast<uint8_t>(i * 17);
  char* text = nullptr;
  ASSERT_EQ(base64_encode(sixteen, 16, &text), 24);
  EXPECT_EQ(std::string(text).substr(22), "==");
  EXPECT_EQ(strip_base64_padding(text), 2);
  EXPECT_EQ(strlen(text), 22u);
  free(text);
}

TEST_F(RaopUtil, UdpPortsFollowTheCounterSkipBusyPortsAndWrap) {
  raopcl_set_udp_port_counter(7000);
  uint16_t p1 = 0, p2 = 0, p3 = 0;
  SOCKET s1 = raopcl_bind_udp_port(&p1);
  SOCKET s2 = raopcl_bind_udp_port(&p2);
  ASSERT_NE(s1, INVALID_SOCKET);
  ASSERT_NE(s2, INVALID_SOCKET);
  EXPECT_GE(p1, 7000);
  EXPECT_GT(p2, p1);
  EXPECT_EQ(raopcl_udp_port_counter(), p2 + 1);
  // The next port is busy: it is skipped.
  SOCKET busy = INVALID_SOCKET;
  const bool heldByUs = CanBindUdp(static_cast<uint16_t>(p2 + 1), &busy);
  SOCKET s3 = raopcl_bind_udp_port(&p3);
  ASSERT_NE(s3, INVALID_SOCKET);
  EXPECT_GT(p3, p2 + 1);
  (void)heldByUs;
  closesocket(busy);
  closesocket(s1);
  closesocket(s2);
  closesocket(s3);

  // Port 8000 is the last one; past it the search starts again at 7000.
  raopcl_set_udp_port_counter(8000);
  uint16_t last = 0;
  SOCKET s = raopcl_bind_udp_port(&last);
  if (s != INVALID_SOCKET) {
    EXPECT_EQ(last, 8000);
    closesocket(s);
  }
  // The NTP service's 7010 is never taken, even when free.
  raopcl_set_udp_port_counter(7010);
  uint16_t notNtp = 0;
  s = raopcl_bind_udp_port(&notNtp);
  ASSERT_NE(s, INVALID_SOCKET);
  EXPECT_GT(notNtp, 7010);
  closesocket(s);

  raopcl_set_udp_port_counter(8001);
  uint16_t wrapped = 0;
  s = raopcl_bind_udp_port(&wrapped);
  ASSERT_NE(s, INVALID_SOCKET);
  EXPECT_GE(wrapped, 7000);
  EXPECT_LT(wrapped, 7100);
  closesocket(s);
}

TEST_F(RaopUtil, ConnectFailures) {
  RaopMessages messages;
  // A host that is neither a name nor a dotted address fails before any connect.
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  EXPECT_EQ(tcp_connect_host(s, "no-such-host.invalid", 5000), -1);
  EXPECT_TRUE(messages.contains("ERR: gethostbyname: 'no-such-host.invalid' "));
  closesocket(s);

  // A refused port is tried twice, 100 ms apart.
  SOCKET l = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a = FakeRaopReceiver::Loopback(0);
  bind(l, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  const uint16_t port = FakeRaopReceiver::LocalPort(l);
  closesocket(l);
  s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const DWORD t0 = GetTickCount();
  EXPECT_EQ(tcp_connect_host(s, "127.0.0.1", port), -1);
  const DWORD took = GetTickCount() - t0;
  EXPECT_GE(took, 90u);
  EXPECT_LT(took, testwait::Ms(8000));
  EXPECT_TRUE(messages.contains("ERR: error:get_tcp_nconnect addr=127.0.0.1, port=" + std::to_string(port)));
  closesocket(s);
}

TEST_F(RaopUtil, ConnectByNameAndAddress) {
  for (const char* host : {"127.0.0.1", "localhost"}) {
    SOCKET l = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = FakeRaopReceiver::Loopback(0);
    bind(l, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    listen(l, 1);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_EQ(tcp_connect_host(s, host, FakeRaopReceiver::LocalPort(l)), 0) << host;
    closesocket(s);
    closesocket(l);
  }
}
