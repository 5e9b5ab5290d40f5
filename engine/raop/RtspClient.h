// The RTSP control connection of the RAOP client: one TCP connection to the
// receiver's RAOP port carrying ANNOUNCE, SETUP, RECORD and SET_PARAMETER,
// with Digest authorisation (RFC 2617, no qop) once the receiver asked for it.
//
// C style: a heap record made and freed by rtspcl_create / rtspcl_destroy,
// results 0 / -1 (exec_request also 1 for a 401 answer), diagnostic lines on
// the standard error stream. Not thread-safe: the audio sender's lock
// serialises every use.
//
// Replies are read with bounds: a status or header line of at most
// RTSP_MAX_LINE characters, at most RTSP_MAX_HEADERS header lines, a body of
// at most RTSP_MAX_BODY bytes (read whole by its Content-Length and dropped),
// and the whole reply within RTSP_REPLY_TIMEOUT_MS. A reply that breaks a
// bound, or a connection that fails in the middle of a reply, leaves the
// connection out of step: the request fails and so does every later one.
#pragma once

#include <winsock2.h>

#include <cstdint>

constexpr int RTSP_MAX_LINE = 1023;
constexpr int RTSP_MAX_HEADERS = 64;
constexpr int RTSP_MAX_BODY = 64 * 1024;
constexpr unsigned RTSP_REPLY_TIMEOUT_MS = 5000;
// A request text longer than this is refused before anything is sent.
constexpr int RTSP_MAX_REQUEST = 16 * 1024;

// One header; lists are arrays ended by a pair whose name is null, grown in
// blocks of 16 pairs. Names and values are heap strings.
struct rtsp_header {
  char* name;
  char* value;
};

struct rtsp_client {
  SOCKET sock;                 // INVALID_SOCKET when none
  char url[128];               // "rtsp://" + local IPv4 address + "/" + session id
  char deviceId[32];
  int cseq;                    // last CSeq used
  rtsp_header* replyHeaders;   // headers of the last reply, kept until the next request
  rtsp_header* extraHeaders;   // fixed headers sent with every request
  char* session;               // "Session" of the SETUP reply (with its leading blank)
  char* transport;             // "Transport" of the SETUP reply
  uint16_t serverPort, timingPort, controlPort;
  in_addr peerAddress;
  in_addr localAddress;
  const char* userAgent;
  char realm[128];             // Digest challenge; empty when none
  char nonce[128];
  char* password;              // UTF-8, heap copy; null when none
  int outOfStep;               // a reply was not read whole: the connection is unusable
  // Bytes received but not yet consumed by the reply reader.
  char input[2048];
  int inputStart, inputEnd;
};

rtsp_client* rtspcl_create(const char* password);
int rtspcl_destroy(rtsp_client* client);
int rtspcl_add_exthds(rtsp_client* client, const char* name, const char* value);
int rtspcl_connect_tcp(rtsp_client* client, const char* host, uint16_t port,
                       const char* sessionId, const char* deviceId);

// 0 (status 200), 1 (status 401, headers read) or -1. requestHeaders may be
// null; *reply receives the reply's header list (the previous list there is
// freed first).
int exec_request(rtsp_client* client, const char* method, const char* contentType,
                 const char* body, const rtsp_header* requestHeaders, rtsp_header** reply);

// Reads one line of the current reply (LF ends it, CR dropped) into line
// (size bytes with its NUL) before deadline (raopcl_now_ms). The number of
// characters kept; -1 on a read error, an orderly close or the deadline; -2
// when the line is longer than size - 1 (the line is not consumed further).
int read_line(rtsp_client* client, char* line, int size, uint64_t deadline);

// Value of the first header named exactly name, as a new heap copy (free());
// null when absent.
char* rtspcl_find_header(const rtsp_header* list, const char* name);
void rtspcl_free_headers(rtsp_header* list);

int rtspcl_announce_sdp(rtsp_client* client, const char* sdp);
// On success *reply keeps the SETUP reply's header list for the caller, who
// frees it with rtspcl_free_headers.
int rtspcl_setup(rtsp_client* client, rtsp_header** reply, uint16_t timingPort,
                 uint16_t controlPort);
int rtspcl_record(rtsp_client* client);

