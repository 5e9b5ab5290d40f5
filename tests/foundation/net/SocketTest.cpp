#include "foundation/net/SocketStream.h"

#include <gtest/gtest.h>

#include "support/HostAdapter.h"
#include "support/WaitFactor.h"

#include <cctype>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

class Sockets : public ::testing::Test {
 protected:
  WinsockScope winsock_;

  // A listening socket on a free loopback port.
  unsigned short Listen(socket_stream& server) {
    if (!server.Open(0)) return 0;
    sockaddr_in a{};
    int len = sizeof(a);
    getsockname(server.Handle(), reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
  }

  SOCKET Accept(socket_stream& server) {
    return accept(server.Handle(), nullptr, nullptr);
  }
};

}  // namespace

TEST_F(Sockets, ConnectSendRecvWholeBuffers) {
  socket_stream server;
  unsigned short port = Listen(server);
  ASSERT_NE(port, 0);
  socket_stream client;
  ASSERT_TRUE(client.CreateTcpSocket());
  ASSERT_TRUE(client.Connect("127.0.0.1", port));
  SOCKET peer = Accept(server);
  ASSERT_NE(peer, INVALID_SOCKET);

  std::vector<char> big(200000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  std::thread writer([&] {
    size_t at = 0;
    while (at < big.size()) {
      int n = send(peer, big.data() + at, static_cast<int>(std::min<size_t>(1000, big.size() - at)), 0);
      if (n <= 0) break;
      at += n;
    }
  });
  std::vector<char> got(big.size());
  char peek[4];
  EXPECT_EQ(client.Peek(peek), 4);
  EXPECT_EQ(client.Recv(got.data(), static_cast<int>(got.size())), static_cast<int>(got.size()));
  writer.join();
  EXPECT_EQ(memcmp(got.data(), big.data(), big.size()), 0);
  EXPECT_EQ(memcmp(peek, big.data(), 4), 0);

  EXPECT_EQ(client.Send("hello", 5), 5);
  char five[5];
  EXPECT_EQ(recv(peer, five, 5, MSG_WAITALL), 5);
  closesocket(peer);
}

TEST_F(Sockets, RecvReturnsZeroWhenPeerClosesEarly) {
  socket_stream server;
  unsigned short port = Listen(server);
  socket_stream client;
  ASSERT_TRUE(client.CreateTcpSocket());
  ASSERT_TRUE(client.Connect("127.0.0.1", port));
  SOCKET peer = Accept(server);
  std::vector<char> part(400, 'x');
  send(peer, part.data(), 400, 0);
  shutdown(peer, SD_SEND);
  closesocket(peer);
  std::vector<char> buf(1000);
  EXPECT_EQ(client.Recv(buf.data(), 1000), 0);
}

TEST_F(Sockets, SendToResetPeerFailsWithMinusOne) {
  socket_stream server;
  unsigned short port = Listen(server);
  socket_stream client;
  ASSERT_TRUE(client.CreateTcpSocket());
  ASSERT_TRUE(client.Connect("127.0.0.1", port));
  SOCKET peer = Accept(server);
  linger hard{1, 0};  // close with RST
  setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&hard), sizeof(hard));
  closesocket(peer);
  Sleep(testwait::Ms(100));  // the reset has reached the client
  std::vector<char> chunk(65536, 'y');
  int r = 0;
  for (int i = 0; i < 50 && r != -1; ++i) r = client.Send(chunk.data(), static_cast<int>(chunk.size()));
  EXPECT_EQ(r, -1);
}

TEST_F(Sockets, ConnectRefusedAndUnresolvable) {
  socket_stream server;
  unsigned short port = Listen(server);
  server.Close(0);  // nobody listens there now
  socket_stream client;
  ASSERT_TRUE(client.CreateTcpSocket());
  EXPECT_FALSE(client.Connect("127.0.0.1", port));
  socket_stream none;
  EXPECT_FALSE(none.Connect("127.0.0.1", port));  // no socket made
  socket_stream bad;
  ASSERT_TRUE(bad.CreateTcpSocket());
  EXPECT_FALSE(bad.Connect("no-such-host.invalid", 7100));
}

TEST_F(Sockets, CloseIsIdempotentAndOnlySleepsAfterAClose) {
  socket_stream s;
  DWORD t0 = GetTickCount();
  EXPECT_TRUE(s.Close(0));
  EXPECT_TRUE(s.Close(0));
  EXPECT_LT(GetTickCount() - t0, testwait::Ms(100));
  ASSERT_TRUE(s.CreateTcpSocket());
  t0 = GetTickCount();
  EXPECT_TRUE(s.Close(200));
  EXPECT_GE(GetTickCount() - t0, 150u);
  EXPECT_FALSE(s.IsOpen());
  char b[4];
  EXPECT_EQ(s.Send("x", 1), -1);
  EXPECT_LT(s.Recv(b, 4), 0);
}

TEST_F(Sockets, ListenOnTakenPortFails) {
  socket_stream a;
  unsigned short port = Listen(a);
  ASSERT_NE(port, 0);
  // SO_REUSEADDR lets the bind pass on some stacks; then listen must fail.
  socket_stream b;
  bool second = b.Open(port);
  if (second) {
    SUCCEED() << "the stack allowed a second listener with SO_REUSEADDR";
  } else {
    EXPECT_FALSE(b.IsOpen());
  }
}

TEST_F(Sockets, UdpUnicastRepliesToLastSender) {
  CStreamUDP server(CStreamUDP::kSendUnicast);
  ASSERT_TRUE(server.Open(0));
  sockaddr_in bound{};
  int len = sizeof(bound);
  getsockname(server.Handle(), reinterpret_cast<sockaddr*>(&bound), &len);
  const unsigned short port = ntohs(bound.sin_port);
  server.SetIntOption(SOL_SOCKET, SO_RCVTIMEO, static_cast<int>(testwait::Ms(5000)));

  for (int client = 0; client < 2; ++client) {
    SOCKET c = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    DWORD tmo = testwait::Ms(5000);
    setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&tmo), sizeof(tmo));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const char msg[] = "ping";
    ASSERT_EQ(sendto(c, msg, 4, 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)), 4);
    char buf[16];
    ASSERT_EQ(server.Recv(buf, sizeof(buf)), 4);
    ASSERT_EQ(server.Send("pong", 4), 4);
    char reply[16] = {0};
    EXPECT_EQ(recv(c, reply, sizeof(reply), 0), 4);
    EXPECT_STREQ(reply, "pong");
    closesocket(c);
  }
}

TEST_F(Sockets, UdpRecvTimesOut) {
  CStreamUDP server;
  ASSERT_TRUE(server.Open(0));
  server.SetIntOption(SOL_SOCKET, SO_RCVTIMEO, 200);
  char buf[8];
  EXPECT_LT(server.Recv(buf, sizeof(buf)), 0);
}

// The adapter holding the host name's first address, as 12 upper-case hex
// digits; "" when no adapter holds it (a host name that means loopback).
TEST_F(Sockets, MacAddressIsTheHostAddressAdapters) {
  socket_stream s;
  EXPECT_EQ(s.GetMACAddress(), ExpectedHostMac());
  socket_stream::SetAdapterLookup(false);
  EXPECT_EQ(s.GetMACAddress(), "");
  socket_stream::SetAdapterLookup(true);
}
