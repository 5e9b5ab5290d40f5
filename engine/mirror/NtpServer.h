// Answers the receiver's NTP requests on UDP 7010 with the session clock,
// shown as NTP time from 2,208,988,800 s on (the stream packets' time base).
#pragma once

#include <cstdint>

#include "foundation/net/SocketStream.h"
#include "foundation/thread/Threads.h"

constexpr unsigned short kNtpServerPort = 7010;
constexpr int kNtpPacketBytes = 48;

class CNtpServer : public CBaseThread {
 public:
  CNtpServer();
  ~CNtpServer() override;

  int Run() override;

  // Written by the session before the thread starts.
  void SetSessionStart(int64_t micros) { sessionStart_ = micros; }
  int64_t SessionStart() const { return sessionStart_; }
  CStreamUDP& Socket() { return socket_; }
  // Port to bind; 7010 unless a test or a second service needs another.
  void SetPort(unsigned short port) { port_ = port; }

  // Builds the 48-byte server reply to a request received at receivedAt.
  // False (no reply) for a request shorter than 48 bytes or not from a
  // client (mode 3): those are not NTP requests of a receiver.
  static bool BuildReply(const uint8_t* request, int length, int64_t receiveMicros,
                         int64_t transmitMicros, uint8_t reply[kNtpPacketBytes]);

 private:
  CStreamUDP socket_;
  int64_t sessionStart_ = 0;
  unsigned short port_ = kNtpServerPort;
};
