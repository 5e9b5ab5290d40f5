// Blocking IPv4 sockets of the mirroring engine. Windows Sockets must have
// been started (WSAStartup) by the process before use.
//
// socket_stream: TCP with whole-buffer Send/Recv and a send lock, so several
// threads may send whole packets on one connection without interleaving.
// CStreamUDP: datagrams; replies go to the sender of the last datagram
// (unicast) and/or as directed broadcast on every interface.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "foundation/thread/Threads.h"

class socket_stream {
 public:
  socket_stream();
  virtual ~socket_stream();
  socket_stream(const socket_stream&) = delete;
  socket_stream& operator=(const socket_stream&) = delete;

  // A listening TCP socket on every local address (backlog 16).
  virtual bool Open(unsigned short port);
  // Shuts down and closes; sleeps pauseMs afterwards when above 0.
  virtual bool Close(int pauseMs);
  // The whole buffer or -1 (a partial send is a failure, not a count).
  virtual int Send(const void* data, int length);
  // Exactly length bytes, or recv's result (0 peer closed, <0 error).
  virtual int Recv(void* buffer, int length);
  // 4 bytes with MSG_PEEK; recv's result.
  virtual int Peek(void* buffer4);

  // A TCP socket with TCP_NODELAY, a 64 KiB send buffer and 15 s send and
  // receive time-outs. False when it could not be made or an option failed
  // (the socket stays open then).
  bool CreateTcpSocket();
  bool Connect(const char* host, unsigned short port);

  // 12 upper-case hex digits of the adapter that holds the host's first IPv4
  // address; "" when unknown.
  std::string GetMACAddress();

  // An integer socket option (for example SO_RCVTIMEO in ms).
  bool SetIntOption(int level, int name, int value);
  SOCKET Handle() const { return socket_.load(); }
  bool IsOpen() const { return socket_.load() != INVALID_SOCKET; }
  const sockaddr_in& Address() const { return address_; }
  void SetAddress(const sockaddr_in& a) { address_ = a; }
  int SocketType() const { return socketType_; }

  // The library build sends no adapter address; the program looks it up.
  static void SetAdapterLookup(bool enabled);

 protected:
  // Logs "[tag] message: err=..(..), wsErr=..(..)" as an error.
  static void ReportSocketError(const char* tag, const char* message, int err);

  std::atomic<SOCKET> socket_{INVALID_SOCKET};
  int socketType_ = 1;  // 1 TCP, 2 UDP
  CBaseMutex sendLock_;
  sockaddr_in address_{};
  int sendMode_ = 0;  // UDP: bit 0 directed broadcast, bit 1 unicast to address_
};

class CStreamUDP : public socket_stream {
 public:
  enum : int { kSendBroadcast = 1, kSendUnicast = 2 };

  explicit CStreamUDP(int sendMode = kSendUnicast);
  ~CStreamUDP() override;

  bool Open(unsigned short port) override;
  int Send(const void* data, int length) override;
  // One datagram; the sender is remembered as the unicast destination.
  int Recv(void* buffer, int size) override;

  // Open binds with SO_EXCLUSIVEADDRUSE instead of SO_REUSEADDR: no other
  // socket may share the port, nor take it over while it is bound.
  void SetExclusive(bool exclusive) { exclusive_ = exclusive; }
  // The socket error of Open's last failed bind (WSAEADDRINUSE, WSAEACCES:
  // the port is taken); 0 after a successful Open.
  int LastBindError() const { return bindError_; }

 private:
  bool exclusive_ = false;
  int bindError_ = 0;
};

// Keeps Windows Sockets started for the lifetime of the object.
class WinsockScope {
 public:
  WinsockScope();
  ~WinsockScope();
  WinsockScope(const WinsockScope&) = delete;
  WinsockScope& operator=(const WinsockScope&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};
