#include "engine/mirror/NtpServer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "TestLog.h"
#include "engine/mirror/SessionClock.h"
#include "support/WaitFactor.h"

namespace {

uint32_t Be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

void ClientRequest(uint8_t req[48], uint8_t fill) {
  memset(req, 0, 48);
  req[0] = 0x23;  // version 4, client
  for (int i = 40; i < 48; ++i) req[i] = static_cast<uint8_t>(fill + i);
}

}  // namespace

TEST(NtpReply, LayoutAndTimes) {
  uint8_t req[48];
  ClientRequest(req, 0x10);
  uint8_t reply[48];
  ASSERT_TRUE(CNtpServer::BuildReply(req, 48, 2250000, 2250000 + 500000, reply));
  const uint8_t fixed[16] = {0x24, 0x01, 0x02, 0xE8, 0, 0, 0, 0, 0, 0, 0, 0, 'A', 'I', 'R', 'P'};
  EXPECT_EQ(memcmp(reply, fixed, 16), 0);
  for (int i = 16; i < 24; ++i) EXPECT_EQ(reply[i], 0);
  EXPECT_EQ(memcmp(reply + 24, req + 40, 8), 0);
  EXPECT_EQ(Be32(reply + 32), 2208988802u);
  EXPECT_EQ(Be32(reply + 36), 1073741824u);
  EXPECT_EQ(Be32(reply + 40), 2208988802u);
  EXPECT_EQ(Be32(reply + 44), 3221225472u);
}

TEST(NtpReply, OnlyWholeClientRequestsAreAnswered) {
  uint8_t req[64];
  ClientRequest(req, 0);
  uint8_t reply[48];
  EXPECT_FALSE(CNtpServer::BuildReply(req, 47, 0, 0, reply));
  EXPECT_FALSE(CNtpServer::BuildReply(req, 0, 0, 0, reply));
  EXPECT_FALSE(CNtpServer::BuildReply(nullptr, 48, 0, 0, reply));
  EXPECT_TRUE(CNtpServer::BuildReply(req, 64, 0, 0, reply));  // extension fields allowed
  for (uint8_t mode : {0, 1, 2, 4, 5, 6, 7}) {
    req[0] = static_cast<uint8_t>(0x20 | mode);
    EXPECT_FALSE(CNtpServer::BuildReply(req, 48, 0, 0, reply)) << int(mode);
  }
}

// The service answers each sender; bad datagrams get no answer and do not
// stop it; closing the socket and the stop flag end it promptly.
TEST(NtpService, AnswersOverUdpAndStops) {
  WinsockScope winsock;
  // Find a free UDP port for the service.
  SOCKET probe = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  int len = sizeof(a);
  getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len);
  closesocket(probe);

  CNtpServer ntp;
  ntp.SetPort(ntohs(a.sin_port));
  ntp.SetSessionStart(MirrorClockNow());
  ASSERT_EQ(ntp.StartThread(), 0);
  Sleep(testwait::Ms(200));  // the service has bound its port

  auto ask = [&](const uint8_t* data, int n, uint8_t* reply) -> int {
    SOCKET c = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    DWORD tmo = testwait::Ms(1500);
    setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<char*>(&tmo), sizeof(tmo));
    sendto(c, reinterpret_cast<const char*>(data), n, 0, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    int r = recv(c, reinterpret_cast<char*>(reply), 48, 0);
    closesocket(c);
    return r;
  };
  uint8_t req[48], reply[48];
  ClientRequest(req, 0x30);
  EXPECT_EQ(ask(req, 20, reply), SOCKET_ERROR);  // short: no answer
  req[0] = 0x24;                                  // a server reply, not a request
  EXPECT_EQ(ask(req, 48, reply), SOCKET_ERROR);
  for (int client = 0; client < 2; ++client) {
    ClientRequest(req, static_cast<uint8_t>(client * 16));
    ASSERT_EQ(ask(req, 48, reply), 48);
    EXPECT_EQ(memcmp(reply + 24, req + 40, 8), 0);
    const uint32_t sec = Be32(reply + 32);
    EXPECT_GE(sec, 2208988800u);
    EXPECT_LT(sec, 2208988800u + 60);
  }

  DWORD t0 = GetTickCount();
  ntp.Socket().Close(0);
  ntp.StopThread();
  EXPECT_LT(GetTickCount() - t0, testwait::Ms(3000));
  EXPECT_FALSE(ntp.IsRunning());
}

namespace {

unsigned short FreeUdpPort() {
  SOCKET probe = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  int len = sizeof(a);
  getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len);
  closesocket(probe);
  return ntohs(a.sin_port);
}

// A socket as another program would open it: SO_REUSEADDR, any address.
SOCKET BindSharing(unsigned short port) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof(one));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(port);
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

bool WaitEnded(CNtpServer& ntp, DWORD ms) {
  return testwait::Until([&] { return !ntp.IsRunning(); }, ms, 20);
}

}  // namespace

// A second sender on this PC, or any program, can neither share the port
// with a running service nor take it over; a service that finds the port
// taken says so and ends.
TEST(NtpService, PortIsBoundExclusively) {
  WinsockScope winsock;
  TestLog::Get();
  const unsigned short port = FreeUdpPort();
  CNtpServer first;
  first.SetPort(port);
  first.SetSessionStart(MirrorClockNow());
  ASSERT_EQ(first.StartThread(), 0);
  Sleep(testwait::Ms(200));  // bound, or ended on a taken port
  ASSERT_TRUE(first.IsRunning());

  CNtpServer second;
  second.SetPort(port);
  ASSERT_EQ(second.StartThread(), 0);
  EXPECT_TRUE(WaitEnded(second, 3000));
  EXPECT_EQ(BindSharing(port), INVALID_SOCKET);
  EXPECT_TRUE(TestLog::Get().Contains(
      "[Ntp]UDP port " + std::to_string(port) + " is taken by another program"));
  second.StopThread();

  first.Socket().Close(0);
  first.StopThread();

  // The other way round: a program bound first keeps its port.
  SOCKET other = BindSharing(port);
  ASSERT_NE(other, INVALID_SOCKET);
  CNtpServer late;
  late.SetPort(port);
  ASSERT_EQ(late.StartThread(), 0);
  EXPECT_TRUE(WaitEnded(late, 3000));
  late.StopThread();
  closesocket(other);
}
