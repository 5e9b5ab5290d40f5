#include "engine/raop/RtspClient.h"

#include <ws2tcpip.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/raop/RaopUtil.h"
#include "foundation/digest/HttpDigest.h"

namespace {

constexpr int kHeaderBlock = 16;
constexpr const char* kDigestUser = "iTunes";

char* CopyText(const char* text) {
  if (!text) return nullptr;
  const size_t n = strlen(text);
  char* copy = static_cast<char*>(malloc(n + 1));
  if (copy) memcpy(copy, text, n + 1);
  return copy;
}

int HeaderCount(const rtsp_header* list) {
  int n = 0;
  if (list) {
    while (list[n].name) ++n;
  }
  return n;
}

// Appends (name, value), taking both heap strings; they are freed on failure.
int AppendHeader(rtsp_header** list, char* name, char* value, const char* who) {
  const int n = HeaderCount(*list);
  // Room for the new pair and the terminator, in whole blocks.
  const int needed = n + 2;
  const int capacity = (needed + kHeaderBlock - 1) / kHeaderBlock * kHeaderBlock;
  rtsp_header* grown = *list;
  if (!*list || (n + 1) % kHeaderBlock == 0) {
    grown = static_cast<rtsp_header*>(realloc(*list, sizeof(rtsp_header) * capacity));
  }
  if (!grown || !name || !value) {
    raop_print(stderr, "ERR: %s: realloc failed: %d\n", who, static_cast<int>(GetLastError()));
    if (grown) *list = grown;
    free(name);
    free(value);
    return -1;
  }
  grown[n].name = name;
  grown[n].value = value;
  grown[n + 1].name = nullptr;
  grown[n + 1].value = nullptr;
  *list = grown;
  return 0;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix) {
    if (tolower(static_cast<unsigned char>(*text)) != tolower(static_cast<unsigned char>(*prefix)))
      return false;
  }
  return true;
}

// Waits for and receives more reply bytes into the client's input buffer.
// 1 when bytes arrived; -1 (with its message) on error, close or deadline.
int FillInput(rtsp_client* client, uint64_t deadline, const char* who) {
  if (client->inputStart == client->inputEnd) client->inputStart = client->inputEnd = 0;
  const uint64_t now = raopcl_now_ms();
  const uint64_t left = deadline > now ? deadline - now : 0;
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(client->sock, &readable);
  timeval tv{static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
  const int ready = left > 0 ? select(0, &readable, nullptr, nullptr, &tv) : 0;
  if (ready == 0) {
    raop_print(stderr, "ERR: %s:no reply within %u ms\n", who, RTSP_REPLY_TIMEOUT_MS);
    return -1;
  }
  if (ready < 0) {
    raop_print(stderr, "ERR: %s:read error: %d\n", who, WSAGetLastError());
    return -1;
  }
  const int room = static_cast<int>(sizeof(client->input)) - client->inputEnd;
  const int n = recv(client->sock, client->input + client->inputEnd, room, 0);
  if (n < 0) {
    raop_print(stderr, "ERR: %s:read error: %d\n", who, WSAGetLastError());
    return -1;
  }
  if (n == 0) {
    raop_print(stderr, "INFO: %s:disconnected on the other end\n", who);
    return -1;
  }
  client->inputEnd += n;
  return 1;
}

// Reads and drops length body bytes of the current reply.
int SkipBody(rtsp_client* client, long length, uint64_t deadline) {
  while (length > 0) {
    if (client->inputStart == client->inputEnd && FillInput(client, deadline, "exec_request") < 0)
      return -1;
    const long have = client->inputEnd - client->inputStart;
    const long take = have < length ? have : length;
    client->inputStart += static_cast<int>(take);
    length -= take;
  }
  return 0;
}

// Content-Length of a reply: 0 when absent, -1 when malformed or too large.
long ReplyBodyLength(const rtsp_header* list) {
  for (int i = 0; list && list[i].name; ++i) {
    if (_stricmp(list[i].name, "Content-Length") != 0) continue;
    const char* p = list[i].value;
    while (IsBlank(*p)) ++p;
    long n = 0;
    int digits = 0;
    for (; isdigit(static_cast<unsigned char>(*p)); ++p, ++digits) {
      n = n * 10 + (*p - '0');
      if (n > RTSP_MAX_BODY) return -1;
    }
    while (IsBlank(*p)) ++p;
    if (digits == 0 || *p) return -1;
    return n;
  }
  return 0;
}

// A port number of a Transport part; 0 when it is not one.
uint16_t ParsePort(const char* text) {
  if (!isdigit(static_cast<unsigned char>(*text))) return 0;
  char* end = nullptr;
  const unsigned long n = strtoul(text, &end, 10);
  if (*end || n > 65535) return 0;
  return static_cast<uint16_t>(n);
}

void ParseTransportPorts(rtsp_client* client, const char* transport) {
  std::string all(transport);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(';', start);
    if (end == std::string::npos) end = all.size();
    const std::string part = all.substr(start, end - start);
    const size_t eq = part.find('=');
    if (eq != std::string::npos) {
      const std::string name = part.substr(0, eq);
      const uint16_t port = ParsePort(part.c_str() + eq + 1);
      if (name == "server_port") client->serverPort = port;
      else if (name == "timing_port") client->timingPort = port;
      else if (name == "control_port") client->controlPort = port;
    }
    start = end + 1;
  }
}

// Reads realm and nonce from the Digest challenges of a 401 reply into the
// record's fixed fields. False when a value is too long to be answered.
bool TakeDigestChallenge(rtsp_client* client, const rtsp_header* list) {
  for (int i = 0; list && list[i].name; ++i) {
    if (_stricmp(list[i].name, "WWW-Authenticate") != 0) continue;
    const char* v = list[i].value;
    while (IsBlank(*v)) ++v;
    if (!StartsWithNoCase(v, "Digest") || !IsBlank(v[6])) continue;
    static_assert(sizeof(client->realm) == sizeof(client->nonce), "one bound for both values");
    DigestChallenge challenge;
    if (!ReadDigestChallenge(v + 6, DigestUnclosedQuote::kTakeRest, sizeof(client->realm) - 1,
                             &challenge))
      return false;
    if (challenge.hasRealm) {
      memcpy(client->realm, challenge.realm.c_str(), challenge.realm.size() + 1);
    }
    if (challenge.hasNonce) {
      memcpy(client->nonce, challenge.nonce.c_str(), challenge.nonce.size() + 1);
    }
  }
  return true;
}

}  // namespace

rtsp_client* rtspcl_create(const char* password) {
  rtsp_client* client = static_cast<rtsp_client*>(calloc(1, sizeof(rtsp_client)));
  if (!client) return nullptr;
  client->sock = INVALID_SOCKET;
  client->userAgent = "RTSPClient";
  if (password && *password) {
    client->password = CopyText(password);
    if (!client->password) {
      free(client);
      return nullptr;
    }
  }
  return client;
}

int rtspcl_destroy(rtsp_client* client) {
  if (!client) return -1;
  if (client->sock != INVALID_SOCKET) closesocket(client->sock);
  rtspcl_free_headers(client->replyHeaders);
  rtspcl_free_headers(client->extraHeaders);
  free(client->session);
  free(client->transport);
  if (client->password) SecureZeroMemory(client->password, strlen(client->password));
  free(client->password);
  free(client);
  return 0;
}

int rtspcl_add_exthds(rtsp_client* client, const char* name, const char* value) {
  if (!client || !name || !value) return -1;
  return AppendHeader(&client->extraHeaders, CopyText(name), CopyText(value), "rtspcl_add_exthds");
}

int rtspcl_connect_tcp(rtsp_client* client, const char* host, uint16_t port,
                       const char* sessionId, const char* deviceId) {
  if (!client) return -1;
  if (!deviceId || strlen(deviceId) >= sizeof(client->deviceId)) {
    raop_print(stderr, "ERR: rtspcl_connect_tcp: device id too long\n");
    return -1;
  }
  SOCKET sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (sock == INVALID_SOCKET) {
    raop_print(stderr, "ERR: cannot create tcp socket\n");
    return -1;
  }
  uint16_t any = 0;
  if (bind_local_port(sock, &any) != 0 || tcp_connect_host(sock, host, port) != 0) {
    closesocket(sock);
    return -1;
  }
  // Replies are read with select and their own deadline; these bound a
  // blocked send and any read as a second line of defence.
  DWORD timeoutMs = RTSP_REPLY_TIMEOUT_MS;
  setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof(timeoutMs));
  setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof(timeoutMs));
  int noDelay = 1;
  setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));

  sockaddr_in a{};
  int length = sizeof(a);
  if (getsockname(sock, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
    closesocket(sock);
    return -1;
  }
  client->localAddress = a.sin_addr;
  char local[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &a.sin_addr, local, sizeof(local));
  const int n = snprintf(client->url, sizeof(client->url), "rtsp://%s/%s", local, sessionId ? sessionId : "");
  if (n < 0 || n >= static_cast<int>(sizeof(client->url))) {
    raop_print(stderr, "ERR: rtspcl_connect_tcp: url too long\n");
    closesocket(sock);
    return -1;
  }
  length = sizeof(a);
  if (getpeername(sock, reinterpret_cast<sockaddr*>(&a), &length) == 0) client->peerAddress = a.sin_addr;
  memcpy(client->deviceId, deviceId, strlen(deviceId) + 1);
  if (client->sock != INVALID_SOCKET) closesocket(client->sock);
  client->sock = sock;
  client->inputStart = client->inputEnd = 0;
  client->outOfStep = 0;
  return 0;
}

int read_line(rtsp_client* client, char* line, int size, uint64_t deadline) {
  int kept = 0;
  for (;;) {
    if (client->inputStart == client->inputEnd && FillInput(client, deadline, "read_line") < 0) {
      line[kept] = 0;
      return -1;
    }
    while (client->inputStart < client->inputEnd) {
      const char c = client->input[client->inputStart++];
      if (c == '\n') {
        line[kept] = 0;
        return kept;
      }
      if (c == '\r') continue;
      if (kept >= size - 1) {
        line[kept] = 0;
        raop_print(stderr, "ERR: read_line:line longer than %d characters\n", size - 1);
        return -2;
      }
      line[kept++] = c;
    }
  }
}

char* rtspcl_find_header(const rtsp_header* list, const char* name) {
  for (int i = 0; list && list[i].name; ++i) {
    if (strcmp(list[i].name, name) == 0) return CopyText(list[i].value);
  }
  return nullptr;
}

void rtspcl_free_headers(rtsp_header* list) {
  if (!list) return;
  for (int i = 0; list[i].name; ++i) {
    free(list[i].name);
    free(list[i].value);
  }
  free(list);
}

int exec_request(rtsp_client* client, const char* method, const char* contentType,
                 const char* body, const rtsp_header* requestHeaders, rtsp_header** reply) {
  static const char kWho[] = "exec_request";
  if (!client || client->sock == INVALID_SOCKET) {
    raop_print(stderr, "ERR: %s: not connected\n", kWho);
    return -1;
  }
  if (client->outOfStep) {
    raop_print(stderr, "ERR: %s: connection out of step after an unread reply\n", kWho);
    return -1;
  }
  ++client->cseq;
  std::string request;
  request.reserve(1024);
  char piece[512];
  snprintf(piece, sizeof(piece), " RTSP/1.0\r\nCSeq: %d\r\nX-Apple-Device-ID: 0x", client->cseq);
  request.append(method).append(" ").append(client->url).append(piece).append(client->deviceId).append("\r\n");
  if (client->session) request.append("Session: ").append(client->session).append("\r\n");
  for (int i = 0; requestHeaders && requestHeaders[i].name; ++i) {
    request.append(requestHeaders[i].name).append(": ").append(requestHeaders[i].value).append("\r\n");
  }
  const bool withBody = contentType && body;
  if (withBody) {
    snprintf(piece, sizeof(piece), "\r\nContent-Length: %d\r\n", static_cast<int>(strlen(body)));
    request.append("Content-Type: ").append(contentType).append(piece);
  }
  if (client->realm[0] && client->nonce[0]) {
    char response[33];
    CalcDigestResponse(kDigestUser, client->realm, client->password, client->nonce, method,
                       client->url, response);
    request.append("Authorization: Digest username=\"").append(kDigestUser)
        .append("\", realm=\"").append(client->realm)
        .append("\", nonce=\"").append(client->nonce)
        .append("\", uri=\"").append(client->url)
        .append("\", response=\"").append(response).append("\"\r\n");
  }
  request.append("User-Agent: ").append(client->userAgent ? client->userAgent : "").append("\r\n");
  for (int i = 0; client->extraHeaders && client->extraHeaders[i].name; ++i) {
    request.append(client->extraHeaders[i].name).append(": ").append(client->extraHeaders[i].value).append("\r\n");
  }
  request.append("\r\n");
  if (withBody) request.append(body);
  if (request.size() > static_cast<size_t>(RTSP_MAX_REQUEST)) {
    raop_print(stderr, "ERR: %s: request of %d bytes is too long\n", kWho, static_cast<int>(request.size()));
    return -1;
  }

  size_t sent = 0;
  while (sent < request.size()) {
    const int n = send(client->sock, request.data() + sent, static_cast<int>(request.size() - sent), 0);
    if (n <= 0) {
      raop_print(stderr, "ERR: %s: send error: %d\n", kWho, WSAGetLastError());
      client->outOfStep = 1;
      return -1;
    }
    sent += static_cast<size_t>(n);
  }

  // The reply is read whole, whatever its status, so the next request starts
  // at the next reply.
  const uint64_t deadline = raopcl_now_ms() + RTSP_REPLY_TIMEOUT_MS;
  char line[RTSP_MAX_LINE + 1];
  if (read_line(client, line, sizeof(line), deadline) < 0) {
    raop_print(stderr, "ERR: %s: request failed\n", kWho);
    client->outOfStep = 1;
    return -1;
  }
  int result = -1;
  const char* status = strchr(line, ' ');
  std::string word;
  if (status) {
    while (*status == ' ') ++status;
    const char* end = status;
    while (*end && *end != ' ') ++end;
    word.assign(status, end);
  }
  if (word == "200") {
    result = 0;
  } else if (word == "401") {
    raop_print(stderr, "INFO: %s: request auth\n", kWho);
    result = 1;
  } else {
    raop_print(stderr, "ERR: %s: request failed, error %s\n", kWho, word.c_str());
  }

  if (reply) {
    rtspcl_free_headers(*reply);
    *reply = nullptr;
  }
  rtsp_header* list = nullptr;
  bool badHeader = false;
  int lines = 0;
  for (;;) {
    const int n = read_line(client, line, sizeof(line), deadline);
    if (n < 0) {
      raop_print(stderr, "ERR: %s: Request failed, reply not read whole\n", kWho);
      client->outOfStep = 1;
      rtspcl_free_headers(list);
      return -1;
    }
    if (n == 0) break;
    if (++lines > RTSP_MAX_HEADERS) {
      raop_print(stderr, "ERR: %s: Request failed, more than %d header lines\n", kWho, RTSP_MAX_HEADERS);
      client->outOfStep = 1;
      rtspcl_free_headers(list);
      return -1;
    }
    raop_print(stderr, "DBG: %s\n", line);
    if (badHeader) continue;
    const int count = HeaderCount(list);
    if (IsBlank(line[0]) && count > 0) {
      const char* more = line;
      while (IsBlank(*more)) ++more;
      char*& value = list[count - 1].value;
      const size_t have = strlen(value);
      const size_t add = strlen(more);
      char* joined = static_cast<char*>(realloc(value, have + add + 1));
      if (!joined) {
        raop_print(stderr, "ERR: %s: realloc failed: %d\n", kWho, static_cast<int>(GetLastError()));
        badHeader = true;
        continue;
      }
      memcpy(joined + have, more, add + 1);
      value = joined;
      continue;
    }
    char* colon = strchr(line, ':');
    if (!colon) {
      raop_print(stderr, "ERR: %s: Request failed, bad header\n", kWho);
      badHeader = true;
      continue;
    }
    *colon = 0;
    if (AppendHeader(&list, CopyText(line), CopyText(colon + 1), kWho) != 0) badHeader = true;
  }
  const long bodyLength = ReplyBodyLength(list);
  if (bodyLength < 0) {
    raop_print(stderr, "ERR: %s: Request failed, reply body length refused\n", kWho);
    client->outOfStep = 1;
    rtspcl_free_headers(list);
    return -1;
  }
  if (SkipBody(client, bodyLength, deadline) != 0) {
    raop_print(stderr, "ERR: %s: Request failed, reply body not read whole\n", kWho);
    client->outOfStep = 1;
    rtspcl_free_headers(list);
    return -1;
  }
  if (badHeader) {
    rtspcl_free_headers(list);
    return -1;
  }
  if (result < 0 || !reply) {
    rtspcl_free_headers(list);
    return result;
  }
  *reply = list;
  return result;
}

int rtspcl_announce_sdp(rtsp_client* client, const char* sdp) {
  if (!client) return -1;
  int r = exec_request(client, "ANNOUNCE", "application/sdp", sdp, nullptr, &client->replyHeaders);
  if (r != 1) return r;
  if (!TakeDigestChallenge(client, client->replyHeaders)) {
    raop_print(stderr, "ERR: rtspcl_announce_sdp: challenge value too long\n");
    return -1;
  }
  return exec_request(client, "ANNOUNCE", "application/sdp", sdp, nullptr, &client->replyHeaders);
}

int rtspcl_setup(rtsp_client* client, rtsp_header** reply, uint16_t timingPort, uint16_t controlPort) {
  static const char kWho[] = "rtspcl_setup";
  if (!client || !reply) return -1;
  char transport[160];
  snprintf(transport, sizeof(transport),
           "RTP/AVP/UDP;unicast;interleaved=0-1;mode=record;control_port=%d;timing_port=%d",
           controlPort, timingPort);
  char name[] = "Transport";
  rtsp_header headers[2] = {{name, transport}, {nullptr, nullptr}};
  rtsp_header* list = nullptr;
  if (exec_request(client, "SETUP", nullptr, nullptr, headers, &list) != 0) {
    rtspcl_free_headers(list);
    return -1;
  }
  char* session = rtspcl_find_header(list, "Session");
  if (!session) {
    raop_print(stderr, "ERR: %s: no session in responce\n", kWho);
    rtspcl_free_headers(list);
    return -1;
  }
  char* transportValue = rtspcl_find_header(list, "Transport");
  if (!transportValue) {
    raop_print(stderr, "ERR: %s: no transport in responce\n", kWho);
    free(session);
    rtspcl_free_headers(list);
    return -1;
  }
  free(client->session);
  free(client->transport);
  client->session = session;
  client->transport = transportValue;
  client->serverPort = client->timingPort = client->controlPort = 0;
  ParseTransportPorts(client, transportValue);
  if (client->serverPort == 0) {
    raop_print(stderr, "ERR: %s: no server_port in responce\n", kWho);
    rtspcl_free_headers(list);
    return -1;
  }
  *reply = list;
  return 0;
}

int rtspcl_record(rtsp_client* client) {
  if (!client) return -1;
  if (!client->session) {
    raop_print(stderr, "ERR: %s: no session in progress\n", "rtspcl_record");
    return -1;
  }
  char range[] = "Range", rangeValue[] = "npt=0-", info[] = "RTP-Info", infoValue[] = "seq=0;rtptime=0";
  rtsp_header headers[3] = {{range, rangeValue}, {info, infoValue}, {nullptr, nullptr}};
  return exec_request(client, "RECORD", nullptr, nullptr, headers, &client->replyHeaders);
}
