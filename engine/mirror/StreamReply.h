// The receiver's reply to GET /stream.xml: its header lines, its Digest
// challenge, the body its Content-Length announces, and the stream
// information that body carries. No platform headers: the bytes come
// through a ReplySource, so the reader runs on a socket or on any buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Bounds of a reply: a header line with its CR LF and a NUL, the header
// lines, the body, and a realm or nonce (a longer one is not a receiver's
// challenge).
constexpr int kStreamReplyLineBytes = 4096;
constexpr int kStreamReplyMaxLines = 64;
constexpr long kStreamReplyBodyBytes = 8192;
constexpr size_t kStreamReplyMaxChallengeValue = 255;

// Where the reply's bytes come from, with socket_stream::Recv's contract:
// exactly length bytes, else 0 (closed) or less (an error).
class ReplySource {
 public:
  virtual int Recv(void* buffer, int length) = 0;

 protected:
  ~ReplySource() = default;
};

enum class StreamReplyResult {
  kRead,           // the header lines up to the empty one, and the body when announced
  kReceiveFailed,  // the connection closed or failed before that
  kLineTooLong,    // a header line reached kStreamReplyLineBytes
  kTooManyLines,   // no empty line within kStreamReplyMaxLines
  kBodyRefused,    // a Content-Length below 0 or above kStreamReplyBodyBytes
};

struct StreamReply {
  std::vector<std::string> lines;   // the header lines read whole, CR LF kept
  long contentLength = 0;           // 0 when absent
  bool challengeRepeated = false;   // a Digest challenge came while realm or nonce was set
  bool challengeOversized = false;  // a challenge with a longer value was ignored
  std::vector<uint8_t> body;        // contentLength bytes
};

// Reads one reply. realm and nonce hold the challenge answered so far
// (empty when none); the reply's first challenge sets them when both are
// empty, and any challenge after that counts as repeated.
StreamReplyResult ReadStreamReply(ReplySource& source, std::string& realm, std::string& nonce,
                                  StreamReply* reply);

// 0; -1 "width" missing, -2 "height" missing, -3 "version" missing; -4 the
// body is no readable property list or a value has the wrong type.
int ParseStreamInfoPlist(const uint8_t* body, int length, int* width, int* height,
                         std::string* version);
