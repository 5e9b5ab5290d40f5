#include "engine/raop/RaopUtil.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<RaopMessageHook> g_messageHook{nullptr};
std::atomic<uint16_t> g_udpPortCounter{7000};

constexpr uint16_t kFirstUdpPort = 7000;
constexpr uint16_t kLastUdpPort = 8000;
// The session's NTP answer service owns this port (kNtpServerPort); audio
// never takes it, so the service finds it free whenever it (re)binds.
constexpr uint16_t kNtpServicePort = 7010;
constexpr int kLargestStepSize = 2048;
// One connect attempt waits at most this long for the receiver's answer.
constexpr DWORD kConnectAttemptMs = 3000;

const char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int GrowTo(void** buffer, int needed, const char* who) {
  const int size = raopcl_buffer_size_for(needed);
  void* grown = realloc(*buffer, static_cast<size_t>(size));
  if (!grown) {
    raop_print(stderr, "ERR: %s: realloc failed: %d\n", who, static_cast<int>(GetLastError()));
    return -1;
  }
  *buffer = grown;
  return 0;
}

// One connect attempt, bounded by kConnectAttemptMs. The socket is left
// blocking whatever the outcome.
bool ConnectOnce(SOCKET sock, const sockaddr_in* address) {
  u_long nonBlocking = 1;
  if (ioctlsocket(sock, FIONBIO, &nonBlocking) != 0) {
    return connect(sock, reinterpret_cast<const sockaddr*>(address), sizeof(*address)) == 0;
  }
  bool ok = false;
  if (connect(sock, reinterpret_cast<const sockaddr*>(address), sizeof(*address)) == 0) {
    ok = true;
  } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(sock, &writable);
    FD_SET(sock, &failed);
    timeval tv{static_cast<long>(kConnectAttemptMs / 1000),
               static_cast<long>((kConnectAttemptMs % 1000) * 1000)};
    if (select(0, nullptr, &writable, &failed, &tv) > 0 && FD_ISSET(sock, &writable)) {
      int error = 0;
      int length = sizeof(error);
      ok = getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 &&
           error == 0;
    }
  }
  u_long blocking = 0;
  ioctlsocket(sock, FIONBIO, &blocking);
  return ok;
}

}  // namespace

void raopcl_set_message_hook(RaopMessageHook hook) { g_messageHook.store(hook); }

void raop_print(FILE* stream, const char* fmt, ...) {
  char line[1024];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(line, sizeof(line), fmt, ap);
  va_end(ap);
  if (n < 0) return;
  fputs(line, stream);
  fflush(stream);
  RaopMessageHook hook = g_messageHook.load();
  if (hook) {
    size_t length = strlen(line);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = 0;
    hook(line);
  }
}

int raopcl_buffer_size_for(int needed) {
  if (needed > kLargestStepSize) return needed;
  int size = 16;
  while (size < needed) size *= 2;
  return size;
}

int raopcl_grow_buffer(uint8_t** buffer, int needed, const char* who) {
  return GrowTo(reinterpret_cast<void**>(buffer), needed, who);
}

int raopcl_grow_buffer(char** buffer, int needed, const char* who) {
  return GrowTo(reinterpret_cast<void**>(buffer), needed, who);
}

uint16_t raopcl_udp_port_counter() { return g_udpPortCounter.load(); }
void raopcl_set_udp_port_counter(uint16_t port) { g_udpPortCounter.store(port); }

int bind_local_port(SOCKET sock, uint16_t* port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(*port);
  if (bind(sock, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    raop_print(stderr, "ERR: bind error: %d\n", WSAGetLastError());
    return -1;
  }
  if (*port == 0) {
    int length = sizeof(a);
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&a), &length) == 0) *port = ntohs(a.sin_port);
  }
  return 0;
}

SOCKET raopcl_bind_udp_port(uint16_t* port) {
  SOCKET sock = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (sock == INVALID_SOCKET) return INVALID_SOCKET;
  uint16_t start = g_udpPortCounter.load();
  if (start < kFirstUdpPort || start > kLastUdpPort) start = kFirstUdpPort;
  for (unsigned p = start; p <= kLastUdpPort; ++p) {
    if (p == kNtpServicePort) continue;
    *port = static_cast<uint16_t>(p);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons(*port);
    if (bind(sock, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) continue;
    int length = sizeof(a);
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&a), &length) != 0) break;
    *port = ntohs(a.sin_port);
    g_udpPortCounter.store(static_cast<uint16_t>(*port + 1));
    return sock;
  }
  const int error = WSAGetLastError();
  closesocket(sock);
  WSASetLastError(error);
  return INVALID_SOCKET;
}

bool raopcl_resolve_host(const char* host, in_addr* out) {
  if (!host || !*host) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &result) == 0 && result) {
    *out = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr;
    freeaddrinfo(result);
    return true;
  }
  return inet_pton(AF_INET, host, out) == 1;
}

int tcp_connect_host(SOCKET sock, const char* host, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (!raopcl_resolve_host(host, &a.sin_addr)) {
    raop_print(stderr, "ERR: gethostbyname: '%s' \n", host ? host : "");
    return -1;
  }
  return tcp_connect_retry(sock, &a);
}

int tcp_connect_retry(SOCKET sock, const sockaddr_in* address) {
  if (ConnectOnce(sock, address)) return 0;
  Sleep(100);
  if (ConnectOnce(sock, address)) return 0;
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &address->sin_addr, text, sizeof(text));
  raop_print(stderr, "ERR: error:get_tcp_nconnect addr=%s, port=%d\n", text,
             ntohs(address->sin_port));
  return -1;
}

int base64_encode(const uint8_t* data, int length, char** out) {
  if (length < 0 || (length > 0 && !data)) return -1;
  char* text = static_cast<char*>(malloc(static_cast<size_t>(4 * length / 3 + 4)));
  if (!text) return -1;
  int at = 0;
  for (int i = 0; i < length; i += 3) {
    const uint32_t b0 = data[i];
    const uint32_t b1 = i + 1 < length ? data[i + 1] : 0;
    const uint32_t b2 = i + 2 < length ? data[i + 2] : 0;
    const uint32_t triple = (b0 << 16) | (b1 << 8) | b2;
    text[at++] = kBase64Alphabet[(triple >> 18) & 0x3F];
    text[at++] = kBase64Alphabet[(triple >> 12) & 0x3F];
    text[at++] = i + 1 < length ? kBase64Alphabet[(triple >> 6) & 0x3F] : '=';
    text[at++] = i + 2 < length ? kBase64Alphabet[triple & 0x3F] : '=';
  }
  text[at] = 0;
  *out = text;
  return at;
}

int strip_base64_padding(char* text) {
  int removed = 0;
  char* to = text;
  for (char* from = text; *from; ++from) {
    if (*from == '=') {
      ++removed;
    } else {
      *to++ = *from;
    }
  }
  *to = 0;
  return removed;
}

uint64_t raopcl_now_ms() { return GetTickCount64(); }
