#include "engine/mirror/NtpServer.h"

#include <cstring>

#include "engine/mirror/SessionClock.h"
#include "foundation/log/Logger.h"

namespace {

void PutNtpTime(uint8_t* p, int64_t micros) {
  uint32_t sec, frac;
  MicrosToNtp(micros, &sec, &frac);
  PutNtpTimestamp(p, sec, frac);
}

}  // namespace

CNtpServer::CNtpServer() : socket_(CStreamUDP::kSendUnicast) {
  // Shared, the port would let a second sender on this PC (or any local
  // program) take over the receiver's clock queries.
  socket_.SetExclusive(true);
}

CNtpServer::~CNtpServer() = default;

bool CNtpServer::BuildReply(const uint8_t* request, int length, int64_t receiveMicros,
                            int64_t transmitMicros, uint8_t reply[kNtpPacketBytes]) {
  if (!request || length < kNtpPacketBytes) return false;
  if ((request[0] & 0x07) != 3) return false;  // client mode only
  memset(reply, 0, kNtpPacketBytes);
  reply[0] = 0x24;  // leap 0, version 4, server
  reply[1] = 0x01;  // stratum
  reply[2] = 0x02;  // poll
  reply[3] = 0xE8;  // precision -24
  memcpy(reply + 12, "AIRP", 4);
  memcpy(reply + 24, request + 40, 8);  // originate = the request's transmit time
  PutNtpTime(reply + 32, receiveMicros);
  PutNtpTime(reply + 40, transmitMicros);
  return true;
}

int CNtpServer::Run() {
  if (!socket_.Open(port_)) {
    const int error = socket_.LastBindError();
    if (error == WSAEADDRINUSE || error == WSAEACCES) {
      ZtLogger::Instance().Error(
          "[Ntp]UDP port %d is taken by another program (another sender?): the receiver's "
          "clock queries are not answered by this session",
          static_cast<int>(port_));
    }
    ZtLogger::Instance().Error("[Ntp]create udp server failed");
    return -1;
  }
  // Bounds how long the loop takes to see the stop flag when nobody closes the socket.
  socket_.SetIntOption(SOL_SOCKET, SO_RCVTIMEO, 5000);

  // Requests may carry extensions or a MAC after the 48 bytes: receive them
  // whole so the datagram is not reported as truncated.
  uint8_t request[512];
  uint8_t reply[kNtpPacketBytes];
  while (!StopRequested()) {
    if (!socket_.IsOpen()) {
      Sleep(10);  // closed by the owner; the stop flag follows at once
      continue;
    }
    int n = socket_.Recv(request, sizeof(request));
    if (n < 0) continue;
    const int64_t received = MirrorClockNow() - sessionStart_;
    const int64_t transmit = MirrorClockNow() - sessionStart_;
    if (BuildReply(request, n, received, transmit, reply)) socket_.Send(reply, sizeof(reply));
  }
  socket_.Close(0);
  return 0;
}
