#include "engine/mirror/StreamReply.h"

#include <cstdlib>
#include <cstring>

#include "engine/plist/Plist.h"
#include "foundation/digest/HttpDigest.h"

namespace {

void RemoveAll(std::string& s, const char* what) {
  const size_t n = strlen(what);
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at)) s.erase(at, n);
}

std::string Trim(const std::string& s) {
  const char* ws = " \t\r\n";
  size_t b = s.find_first_not_of(ws);
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(ws);
  return s.substr(b, e - b + 1);
}

// One line up to and including its CR LF, a byte at a time so nothing of
// the body is taken.
StreamReplyResult ReadHeaderLine(ReplySource& source, std::string& line) {
  line.clear();
  char c;
  while (true) {
    if (source.Recv(&c, 1) <= 0) return StreamReplyResult::kReceiveFailed;
    if (line.size() >= kStreamReplyLineBytes - 1) return StreamReplyResult::kLineTooLong;
    line.push_back(c);
    if (line.size() >= 2 && line[line.size() - 2] == '\r' && line.back() == '\n')
      return StreamReplyResult::kRead;
  }
}

}  // namespace

StreamReplyResult ReadStreamReply(ReplySource& source, std::string& realm, std::string& nonce,
                                  StreamReply* reply) {
  *reply = StreamReply();
  std::string line;
  for (int lines = 0;; ++lines) {
    if (lines >= kStreamReplyMaxLines) return StreamReplyResult::kTooManyLines;
    const StreamReplyResult read = ReadHeaderLine(source, line);
    if (read != StreamReplyResult::kRead) return read;
    if (line.compare(0, 14, "Content-Length") == 0) {
      std::string value = line;
      RemoveAll(value, "Content-Length: ");
      value = Trim(value);
      reply->contentLength = strtol(value.c_str(), nullptr, 10);
    } else if (line.compare(0, 16, "WWW-Authenticate") == 0) {
      std::string value = line;
      RemoveAll(value, "WWW-Authenticate: ");
      value = Trim(value);
      if (value.compare(0, 6, "Digest") == 0) {
        RemoveAll(value, "Digest");
        DigestChallenge challenge;
        const bool fits = ReadDigestChallenge(value, DigestUnclosedQuote::kIgnorePiece,
                                              kStreamReplyMaxChallengeValue, &challenge);
        if (!realm.empty() || !nonce.empty()) {
          reply->challengeRepeated = true;
        } else if (!fits) {
          reply->challengeOversized = true;
        } else {
          realm = challenge.realm;
          nonce = challenge.nonce;
        }
      }
    }
    reply->lines.push_back(line);
    if (line == "\r\n") break;
  }

  if (reply->contentLength == 0) return StreamReplyResult::kRead;
  if (reply->contentLength < 0 || reply->contentLength > kStreamReplyBodyBytes)
    return StreamReplyResult::kBodyRefused;
  reply->body.resize(static_cast<size_t>(reply->contentLength));
  if (source.Recv(reply->body.data(), static_cast<int>(reply->body.size())) <= 0)
    return StreamReplyResult::kReceiveFailed;
  return StreamReplyResult::kRead;
}

int ParseStreamInfoPlist(const uint8_t* body, int length, int* width, int* height,
                         std::string* version) {
  try {
    Plist::Dictionary dict;
    Plist::ParseDictionary(reinterpret_cast<const char*>(body), dict, length);
    auto w = dict.find("width");
    if (w == dict.end()) return -1;
    auto h = dict.find("height");
    if (h == dict.end()) return -2;
    auto ver = dict.find("version");
    if (ver == dict.end()) return -3;
    *width = static_cast<int32_t>(boost::any_cast<int64_t>(w->second));
    *height = static_cast<int32_t>(boost::any_cast<int64_t>(h->second));
    *version = boost::any_cast<std::string>(ver->second);
    return 0;
  } catch (const Plist::Error&) {
    return -4;
  } catch (const boost::bad_any_cast&) {
    return -4;
  }
}
