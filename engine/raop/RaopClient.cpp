#include "engine/raop/RaopClient.h"

#include <openssl/rand.h>
#include <process.h>
#include <ws2tcpip.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/raop/RaopUtil.h"
#include "foundation/net/ByteOrder.h"
#include "foundation/net/NtpTime.h"

namespace {

// Fixed in the program: the remote-control identity the receiver may use.
constexpr const char* kDacpId = "7C2F90E4A1D35B68";
constexpr const char* kActiveRemote = "4072539148";
constexpr const char* kUserAgent = "iTunes/4.6 (Macintosh; U; PPC Mac OS X 10.3)";
constexpr uint8_t kSsrc[4] = {0x93, 0x33, 0xD3, 0x32};
constexpr int kDatagramMax = 1024;
constexpr int kSdpMax = 1024;

const char kSdpAacEld[] =
    "v=0\r\no=iTunes %s 0 IN IP4 %s\r\ns=iTunes\r\nc=IN IP4 %s\r\nt=0 0\r\n"
    "m=audio 0 RTP/AVP 96\r\na=rtpmap:96 mpeg4-generic/44100/2\r\n"
    "a=fmtp:96 mode=AAC-eld; constantDuration=480\r\na=min-latency:4100\r\n"
    "m=video 0 RTP/AVP 97\r\na=rtmap:97 H264\r\na=fmtp:97\r\n";
const char kSdpAlac[] =
    "v=0\r\no=iTunes %s 0 IN IP4 %s\r\ns=iTunes\r\nc=IN IP4 %s\r\nt=0 0\r\n"
    "m=audio 0 RTP/AVP 96\r\na=rtpmap:96 AppleLossless\r\n"
    "a=fmtp:96 352 0 16 40 10 14 2 255 0 0 44100\r\n";

volatile LONG g_timingRequests = 0;


// Wall clock: whole seconds since 1970 and the current millisecond.
void WallClock(int64_t* seconds, unsigned* milliseconds) {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  const uint64_t ms = ticks / 10000;  // since 1601
  *seconds = static_cast<int64_t>(ms / 1000) - 11644473600LL;
  *milliseconds = static_cast<unsigned>(ms % 1000);
}

void CloseIfOpen(SOCKET* sock) {
  if (*sock != INVALID_SOCKET) closesocket(*sock);
  *sock = INVALID_SOCKET;
}

int PollEvents(raop_session* session, unsigned waitMs) {
  fd_set readable, writable;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  int watched = 0;
  for (const raop_slot& slot : session->slots) {
    if (slot.fd == INVALID_SOCKET) continue;
    if ((slot.flags & 1) && readable.fd_count < FD_SETSIZE) FD_SET(slot.fd, &readable);
    if ((slot.flags & 2) && writable.fd_count < FD_SETSIZE) FD_SET(slot.fd, &writable);
    ++watched;
  }
  if (watched == 0) return -1;
  timeval tv{static_cast<long>(waitMs / 1000), static_cast<long>((waitMs % 1000) * 1000)};
  const int ready = select(0, &readable, &writable, nullptr, &tv);
  if (ready < 0) {
    raop_print(stderr, "ERR: %s: select error: %d\n", "raopcl_poll_events", WSAGetLastError());
    return -1;
  }
  if (ready == 0) return 0;
  for (raop_slot& slot : session->slots) {
    if (slot.fd == INVALID_SOCKET || !slot.callback) continue;
    if ((slot.flags & 1) && FD_ISSET(slot.fd, &readable) && slot.callback(session, slot.user, 1) != 0)
      return -1;
    if ((slot.flags & 2) && FD_ISSET(slot.fd, &writable) && slot.callback(session, slot.user, 2) != 0)
      return -1;
  }
  return 0;
}

}  // namespace

long raopcl_timing_requests_seen() { return g_timingRequests; }

void raopcl_ntp_now(const raop_client* client, uint32_t* seconds, uint32_t* fraction) {
  int64_t now;
  unsigned ms;
  WallClock(&now, &ms);
  *seconds = static_cast<uint32_t>(now - client->timingStart + kNtpUnixEpoch);
  *fraction = static_cast<uint32_t>(ms * 4294967.296);
}

raop_client* raopcl_open(raop_session* session, int useAlac) {
  raop_client* client = static_cast<raop_client*>(calloc(1, sizeof(raop_client)));
  if (!client) return nullptr;
  client->counter = 1;
  client->useAlac = useAlac;
  client->session = session;
  client->dataSock = client->timingSock = client->controlSock = INVALID_SOCKET;
  return client;
}

int raopcl_start_session(const char* host, uint16_t port, const char* deviceId, raop_session** out,
                         int useAlac, const char* password) {
  if (!out) return -1;
  raop_session* session = static_cast<raop_session*>(calloc(1, sizeof(raop_session)));
  if (!session) return -1;
  for (raop_slot& slot : session->slots) slot.fd = INVALID_SOCKET;
  session->client = raopcl_open(session, useAlac);
  if (!session->client ||
      raopcl_connect(session->client, host, port, deviceId ? deviceId : "", password) != 0 ||
      raopcl_update_volume(session->client, 100) != 0) {
    // Nothing of a failed start stays open: thread, sockets, connection.
    raopcl_end_session(session);
    return -1;
  }
  fputs("connected\n", stdout);
  fflush(stdout);
  session->useAlac = useAlac;
  *out = session;
  return 0;
}

void raopcl_end_session(raop_session* session) {
  if (!session) return;
  if (session->client) {
    raopcl_stop_timing(session->client);
    raopcl_close_sockets(session->client);
    session->client = nullptr;
  }
  free(session);
}

int raopcl_connect(raop_client* client, const char* host, uint16_t port, const char* deviceId,
                   const char* password) {
  static const char kWho[] = "raopcl_connect";
  if (!client || !host) return -1;
  uint8_t random[28];
  if (RAND_bytes(random, sizeof(random)) != 1) {
    raop_print(stderr, "ERR: %s: no random bytes from the cryptographic source\n", kWho);
    return -1;
  }
  random[0] = 0;
  char sessionId[16];
  snprintf(sessionId, sizeof(sessionId), "%u", GetLe32(random));
  char instance[20];
  snprintf(instance, sizeof(instance), "%08x%08x", GetLe32(random + 4), GetLe32(random + 8));
  char* challenge = nullptr;
  if (base64_encode(random + 12, 16, &challenge) < 0) {
    SecureZeroMemory(random, sizeof(random));
    return -1;
  }
  SecureZeroMemory(random, sizeof(random));
  strip_base64_padding(challenge);

  int result = -1;
  rtsp_header* setupReply = nullptr;
  char* jackStatus = nullptr;
  char sdp[kSdpMax];
  char local[INET_ADDRSTRLEN] = "";
  int n = 0;

  client->rtsp = rtspcl_create(password);
  if (!client->rtsp) goto done;
  client->rtsp->userAgent = kUserAgent;
  if (rtspcl_add_exthds(client->rtsp, "Client-Instance", instance) != 0 ||
      rtspcl_add_exthds(client->rtsp, "dacp-id", kDacpId) != 0 ||
      rtspcl_add_exthds(client->rtsp, "active-remote", kActiveRemote) != 0)
    goto done;
  if (rtspcl_connect_tcp(client->rtsp, host, port, sessionId, deviceId) != 0) goto done;

  inet_ntop(AF_INET, &client->rtsp->localAddress, local, sizeof(local));
  n = snprintf(sdp, sizeof(sdp), client->useAlac ? kSdpAlac : kSdpAacEld, sessionId, local, host);
  if (n < 0 || n >= static_cast<int>(sizeof(sdp))) {
    raop_print(stderr, "ERR: %s: SDP longer than %d characters\n", kWho, kSdpMax - 1);
    goto done;
  }
  if (rtspcl_add_exthds(client->rtsp, "Apple-Challenge", challenge) != 0) goto done;
  if (rtspcl_announce_sdp(client->rtsp, sdp) != 0) goto done;

  // Without any of the three sockets the stream cannot work: the start fails.
  client->dataSock = raopcl_bind_udp_port(&client->dataPort);
  client->timingSock = raopcl_bind_udp_port(&client->timingPort);
  client->controlSock = raopcl_bind_udp_port(&client->controlPort);
  if (client->dataSock == INVALID_SOCKET || client->timingSock == INVALID_SOCKET ||
      client->controlSock == INVALID_SOCKET) {
    raop_print(stderr, "ERR: %s: no free local UDP port: %d\n", kWho, WSAGetLastError());
    goto done;
  }

  if (raopcl_grow_buffer(&client->host, static_cast<int>(strlen(host)) + 1, kWho) != 0) goto done;
  memcpy(client->host, host, strlen(host) + 1);
  client->port = port;
  if (raopcl_set_peer_addresses(client, 1) != 0) goto done;

  client->stop = 0;
  {
    int64_t now;
    unsigned ms;
    WallClock(&now, &ms);
    client->timingStart = now;
  }
  client->timingThread = reinterpret_cast<HANDLE>(
      _beginthreadex(nullptr, 0, &timethingthreadfun, client, 0, nullptr));
  if (!client->timingThread) {
    raop_print(stderr, "ERR: %s: cannot start the timing thread\n", kWho);
    goto done;
  }

  if (rtspcl_setup(client->rtsp, &setupReply, client->timingPort, client->controlPort) != 0) goto done;
  jackStatus = rtspcl_find_header(setupReply, "Apple-Jack-Status");
  if (!jackStatus) raop_print(stderr, "ERR: %s: Apple-Jack-Status is missing\n", kWho);
  if (raopcl_set_peer_addresses(client, 6) != 0) goto done;
  if (rtspcl_record(client->rtsp) != 0) goto done;
  result = 0;

done:
  free(challenge);
  free(jackStatus);
  rtspcl_free_headers(setupReply);
  return result;
}

int raopcl_set_peer_addresses(raop_client* client, int which) {
  if (!client || !client->host || !client->rtsp) return -1;
  in_addr address;
  if (!raopcl_resolve_host(client->host, &address)) return -1;
  auto set = [&](sockaddr_in* a, uint16_t port) {
    memset(a, 0, sizeof(*a));
    a->sin_family = AF_INET;
    a->sin_addr = address;
    a->sin_port = htons(port);
  };
  if (which & 4) set(&client->serverAddr, client->rtsp->serverPort);
  if (which & 2) set(&client->controlAddr, client->rtsp->controlPort);
  if (which & 1) set(&client->timingAddr, client->rtsp->timingPort);
  return 0;
}

float raopcl_volume_db(int volume) {
  if (volume <= 0) return -144.0f;
  const float db = 10.0f * log2f(static_cast<float>(volume) / 100.0f);
  if (!(db >= -144.0f)) return -144.0f;
  if (db > 0.0f) return 0.0f;
  return db;
}

int raopcl_update_volume(raop_client* client, int volume) {
  if (!client || !client->rtsp) return -1;
  client->volume = raopcl_volume_db(volume);
  char body[64];
  snprintf(body, sizeof(body), "volume: %f\r\n", static_cast<double>(client->volume));
  return exec_request(client->rtsp, "SET_PARAMETER", "text/parameters", body, nullptr,
                      &client->rtsp->replyHeaders);
}

int raopcl_send_sync_udp(raop_client* client, int counter) {
  static const char kWho[] = "raopcl_send_sync_udp";
  const uint32_t rtpTime = static_cast<uint32_t>(counter) * static_cast<uint32_t>(raopcl_frames(client));
  uint8_t sync[RAOP_SYNC_SIZE] = {0x80, 0xD4, 0x00, 0x04};
  uint32_t seconds, fraction;
  raopcl_ntp_now(client, &seconds, &fraction);
  PutBe32(sync + 4, rtpTime - RAOP_LATENCY);
  PutNtpTimestamp(sync + 8, seconds, fraction);
  PutBe32(sync + 16, rtpTime);
  raop_print(stderr, "INFO: Send Sync package\n");
  const int n = sendto(client->controlSock, reinterpret_cast<const char*>(sync), sizeof(sync), 0,
                       reinterpret_cast<const sockaddr*>(&client->controlAddr), sizeof(client->controlAddr));
  if (n < 0) {
    raop_print(stderr, "ERR: %s: write timing udp error: %d\n", kWho, WSAGetLastError());
    return -1;
  }
  if (n == 0) {
    raop_print(stderr, "INFO: %s: write timeing udp, disconnected on the other end\n", kWho);
    return -1;
  }
  return 0;
}

int raopcl_send_sample_udp(raop_client* client, const uint8_t* frame, int size) {
  static const char kWho[] = "raopcl_send_sample_udp";
  if (!client || !frame || size <= 0) return -1;
  if (client->counter % raopcl_sync_interval(client) == 1) raopcl_send_sync_udp(client, client->counter);
  if (raopcl_grow_buffer(&client->packet, size + RAOP_RTP_HEADER, kWho) != 0) return -1;
  uint8_t* p = client->packet;
  p[0] = 0x80;
  p[1] = client->counter == 1 ? 0xE0 : 0x60;
  PutBe16(p + 2, static_cast<uint16_t>(client->counter));
  PutBe32(p + 4, static_cast<uint32_t>(client->counter) * static_cast<uint32_t>(raopcl_frames(client)));
  memcpy(p + 8, kSsrc, sizeof(kSsrc));
  ++client->counter;
  memcpy(p + RAOP_RTP_HEADER, frame, static_cast<size_t>(size));
  client->pending = size + RAOP_RTP_HEADER;
  client->sent = 0;
  if (raopcl_register_fd(client->session, client->dataSock, 2, &fd_event_callback_udp, client) != 0) {
    raop_print(stderr, "INFO: handle udpdatafd failed.\n");
    return -1;
  }
  if (raopcl_register_fd(client->session, client->controlSock, 1, &fd_event_callback_udp, client) != 0) {
    raop_print(stderr, "INFO: handle udpcontrolfd failed.\n");
    return -1;
  }
  return 0;
}

int raopcl_send_frame(raop_session* session, const uint8_t* frame, int size) {
  if (!session || !session->client) return 1;
  raop_client* client = session->client;
  if (raopcl_send_sample_udp(client, frame, size) != 0) return 1;
  // The datagram's wait for its socket is bounded: the caller holds the
  // audio sender's lock, which the session's volume change also needs.
  const uint64_t deadline = raopcl_now_ms() + RAOP_SEND_WAIT_MS;
  while (client->pending > 0) {
    const uint64_t now = raopcl_now_ms();
    if (now >= deadline) {
      raop_print(stderr, "ERR: %s: packet not sent within %u ms\n", "raopcl_send_frame", RAOP_SEND_WAIT_MS);
      break;
    }
    if (PollEvents(session, static_cast<unsigned>(deadline - now)) != 0) break;
  }
  client->pending = 0;
  return 0;
}

int raopcl_poll_events(raop_session* session) {
  if (!session) return -1;
  return PollEvents(session, 3000);
}

int raopcl_register_fd(raop_session* session, SOCKET fd, int flags, raop_fd_callback callback,
                       raop_client* user) {
  if (!session || fd == INVALID_SOCKET) return -1;
  raop_slot* target = nullptr;
  for (raop_slot& slot : session->slots) {
    if (slot.fd == fd) {
      target = &slot;
      break;
    }
  }
  if (!target) {
    for (raop_slot& slot : session->slots) {
      if (slot.fd == INVALID_SOCKET) {
        target = &slot;
        break;
      }
    }
  }
  if (!target) return -1;
  target->fd = fd;
  target->flags = flags;
  target->callback = callback;
  target->user = user;
  return 0;
}

int fd_event_callback_udp(raop_session* session, raop_client* client, int flags) {
  static const char kWho[] = "fd_event_callback_udp";
  if (!client) return -1;
  if (flags & 1) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(client->controlSock, &readable);
    timeval zero{0, 0};
    const int ready = select(0, &readable, nullptr, nullptr, &zero);
    if (ready < 0) {
      raop_print(stderr, "ERR: %s: read error: %d\n", kWho, WSAGetLastError());
      return -1;
    }
    if (ready == 0) {
      raop_print(stderr, "INFO: %s: read, disconnected on the other end\n", kWho);
      return -1;
    }
    raop_print(stderr, "INFO: Handle Control package\n");
    char datagram[kDatagramMax];
    if (recvfrom(client->controlSock, datagram, sizeof(datagram), 0, nullptr, nullptr) < 0) {
      raop_print(stderr, "ERR: %s: read udpcontrolfd error: %d\n", kWho, WSAGetLastError());
    }
    return 0;
  }
  if (flags & 2) {
    if (client->pending <= 0) {
      raop_print(stderr, "ERR: %s: write is called with remsize=0\n", kWho);
      return -1;
    }
    const int n = sendto(client->dataSock, reinterpret_cast<const char*>(client->packet + client->sent),
                         client->pending, 0, reinterpret_cast<const sockaddr*>(&client->serverAddr),
                         sizeof(client->serverAddr));
    if (n < 0) {
      raop_print(stderr, "ERR: %s: write error: %d\n", kWho, WSAGetLastError());
      return -1;
    }
    if (n == 0) {
      raop_print(stderr, "INFO: %s: write, disconnected on the other end\n", kWho);
      return -1;
    }
    client->sent += n;
    client->pending -= n;
    return 0;
  }
  return 0;
}

unsigned __stdcall timethingthreadfun(void* arg) {
  static const char kWho[] = "timethingthreadfun";
  raop_client* client = static_cast<raop_client*>(arg);
  {
    int64_t now;
    unsigned ms;
    WallClock(&now, &ms);
    client->timingStart = now;
  }
  while (!client->stop) {
    // Only the timing socket is watched: a control datagram waiting for the
    // capture thread must not turn this wait into a busy loop.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(client->timingSock, &readable);
    timeval second{1, 0};
    const int ready = select(0, &readable, nullptr, nullptr, &second);
    if (ready < 0) return 0;
    if (ready == 0 || client->stop) continue;
    const long count = InterlockedIncrement(&g_timingRequests);
    raop_print(stderr, "INFO: Handle Timing package %ld\n", count);
    uint8_t request[kDatagramMax];
    sockaddr_in from{};
    int fromLength = sizeof(from);
    const int n = recvfrom(client->timingSock, reinterpret_cast<char*>(request), sizeof(request), 0,
                           reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) {
      const int error = WSAGetLastError();
      // An ICMP report about an earlier datagram, or a datagram too large to
      // be a timing request: neither ends the service.
      if (error == WSAECONNRESET || error == WSAEMSGSIZE) continue;
      raop_print(stderr, "ERR: %s: read udptimingfd error: %d\n", kWho, error);
      return 0;
    }
    if (n < RAOP_TIMING_SIZE) {
      raop_print(stderr, "INFO: %s: timing request of %d bytes ignored\n", kWho, n);
      continue;
    }
    client->timingAddr.sin_port = from.sin_port;
    uint8_t reply[RAOP_TIMING_SIZE] = {0x80, 0xD3, 0x00, 0x07};
    memcpy(reply + 8, request + 24, 8);
    uint32_t seconds, fraction;
    raopcl_ntp_now(client, &seconds, &fraction);
    PutNtpTimestamp(reply + 16, seconds, fraction);
    PutNtpTimestamp(reply + 24, seconds, fraction);
    const int sent = sendto(client->timingSock, reinterpret_cast<const char*>(reply), sizeof(reply), 0,
                            reinterpret_cast<const sockaddr*>(&client->timingAddr), sizeof(client->timingAddr));
    if (sent < 0) {
      raop_print(stderr, "ERR: %s: write timing udp error: %d\n", kWho, WSAGetLastError());
      return static_cast<unsigned>(-1);
    }
    if (sent == 0) {
      raop_print(stderr, "INFO: %s: write timeing udp, disconnected on the other end\n", kWho);
      return static_cast<unsigned>(-1);
    }
  }
  return 0;
}

int raopcl_stop_timing(raop_client* client) {
  if (!client || !client->timingThread) return 0;
  InterlockedExchange(&client->stop, 1);
  // One byte to the thread's own socket ends its receive wait now rather
  // than after up to a second; it sees the flag before reading anything.
  if (client->timingSock != INVALID_SOCKET) {
    sockaddr_in self{};
    int length = sizeof(self);
    if (getsockname(client->timingSock, reinterpret_cast<sockaddr*>(&self), &length) == 0) {
      self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const char wake = 0;
      sendto(client->timingSock, &wake, 1, 0, reinterpret_cast<const sockaddr*>(&self), sizeof(self));
    }
  }
  int result = 0;
  if (WaitForSingleObject(client->timingThread, RAOP_TIMING_STOP_WAIT_MS) != WAIT_OBJECT_0) {
    result = -1;
    raop_print(stderr, "ERR: %s: timing thread still running, closing its socket\n", "raopcl_stop_timing");
    CloseIfOpen(&client->timingSock);
    if (WaitForSingleObject(client->timingThread, 2000) != WAIT_OBJECT_0) {
      raop_print(stderr, "ERR: %s: timing thread terminated\n", "raopcl_stop_timing");
      TerminateThread(client->timingThread, static_cast<DWORD>(-4));
      WaitForSingleObject(client->timingThread, 1000);
    }
  }
  CloseHandle(client->timingThread);
  client->timingThread = nullptr;
  return result;
}

int raopcl_close_sockets(raop_client* client) {
  if (!client) return -1;
  // The timing thread uses the timing socket: it must have ended first.
  raopcl_stop_timing(client);
  rtspcl_destroy(client->rtsp);
  client->rtsp = nullptr;
  CloseIfOpen(&client->controlSock);
  CloseIfOpen(&client->dataSock);
  CloseIfOpen(&client->timingSock);
  free(client->packet);
  free(client->host);
  free(client);
  return 0;
}
