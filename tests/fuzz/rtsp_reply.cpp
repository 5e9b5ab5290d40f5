// The RTSP client's reply reader behind a socket stand-in (standin/
// winsock2.h): ANNOUNCE (answered with a Digest challenge or not, then
// resent), SETUP, RECORD and one request whose reply is kept, all reading
// one stream of reply bytes. The first input byte chooses the size of the
// pieces the bytes arrive in, and whether the client has a password.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/raop/RaopUtil.h"
#include "engine/raop/RtspClient.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

constexpr SOCKET kSocket = 5;

struct Peer {
  std::vector<uint8_t> replies;
  size_t pos = 0;
  size_t piece = 0;  // bytes per recv; 0: as many as asked for
} g_peer;

}  // namespace

int StandInRecv(SOCKET s, char* buffer, int length, int) {
  FUZZ_CHECK(s == kSocket && length > 0);
  size_t n = g_peer.replies.size() - g_peer.pos;
  if (n > static_cast<size_t>(length)) n = static_cast<size_t>(length);
  if (g_peer.piece != 0 && n > g_peer.piece) n = g_peer.piece;
  if (n == 0) return 0;  // the receiver closed
  std::memcpy(buffer, g_peer.replies.data() + g_peer.pos, n);
  g_peer.pos += n;
  return static_cast<int>(n);
}

int StandInSend(SOCKET s, const char*, int length, int) {
  FUZZ_CHECK(s == kSocket && length > 0 && length <= RTSP_MAX_REQUEST);
  return length;
}

// Always readable: the stand-in's recv answers at once (0 once the replies
// are used up).
int StandInSelect(int, fd_set*, fd_set*, fd_set*, timeval*) { return 1; }

int StandInSockName(SOCKET, sockaddr*, int*) { return -1; }

// RaopUtil's calls the client makes, without sockets or a clock: the lines
// are formatted (so their arguments are checked) and dropped.
void raop_print(FILE*, const char* fmt, ...) {
  char line[4096];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
}
uint64_t raopcl_now_ms() { return 0; }
int bind_local_port(SOCKET, uint16_t*) { return -1; }
int tcp_connect_host(SOCKET, const char*, uint16_t) { return -1; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t mode = in.Byte();
  g_peer.piece = mode & 0x3F;
  g_peer.replies = in.Rest();
  g_peer.pos = 0;

  rtsp_client* client = rtspcl_create((mode & 0x40) ? "secret" : nullptr);
  FUZZ_CHECK(client != nullptr);
  client->sock = kSocket;
  std::strcpy(client->url, "rtsp://127.0.0.1/3412591011");
  std::strcpy(client->deviceId, "001C42ABCDEF");
  rtspcl_add_exthds(client, "Client-Instance", "001C42ABCDEF0001");

  rtspcl_announce_sdp(client, "v=0\r\no=iTunes 3412591011 0 IN IP4 127.0.0.1\r\n");
  rtsp_header* setup = nullptr;
  if (rtspcl_setup(client, &setup, 6002, 6001) == 0) {
    FUZZ_CHECK(client->serverPort != 0);
    char* session = rtspcl_find_header(setup, "Session");
    FUZZ_CHECK(session != nullptr);
    free(session);
  }
  rtspcl_free_headers(setup);
  rtspcl_record(client);
  rtsp_header* reply = nullptr;
  if (exec_request(client, "SET_PARAMETER", "text/parameters", "volume: -15.000000\r\n", nullptr,
                   &reply) >= 0) {
    free(rtspcl_find_header(reply, "Audio-Latency"));
  }
  rtspcl_free_headers(reply);
  rtspcl_destroy(client);
  return 0;
}
