// The reply to GET /stream.xml, read as the handshake reads it from the
// connection: once, and once more after a Digest challenge (the resend's
// reply follows in the same bytes), each body read as the stream
// information.
#include <algorithm>

#include "engine/mirror/StreamReply.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

// socket_stream's contract: exactly the bytes asked for, or 0 once the
// receiver closed before they all came.
class Replies : public ReplySource {
 public:
  explicit Replies(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  int Recv(void* buffer, int length) override {
    FUZZ_CHECK(length > 0);
    if (bytes_.size() - pos_ < static_cast<size_t>(length)) {
      pos_ = bytes_.size();
      return 0;
    }
    std::copy(bytes_.begin() + pos_, bytes_.begin() + pos_ + length, static_cast<uint8_t*>(buffer));
    pos_ += length;
    return length;
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Replies replies(std::vector<uint8_t>(data, data + size));
  std::string realm, nonce;
  for (int attempt = 0; attempt < 2; ++attempt) {
    StreamReply reply;
    const StreamReplyResult read = ReadStreamReply(replies, realm, nonce, &reply);
    FUZZ_CHECK(reply.lines.size() <= static_cast<size_t>(kStreamReplyMaxLines));
    FUZZ_CHECK(realm.size() <= kStreamReplyMaxChallengeValue);
    FUZZ_CHECK(nonce.size() <= kStreamReplyMaxChallengeValue);
    if (read != StreamReplyResult::kRead) return 0;
    FUZZ_CHECK(reply.body.size() == static_cast<size_t>(reply.contentLength));
    if (reply.contentLength != 0) {
      int width = 0, height = 0;
      std::string version;
      ParseStreamInfoPlist(reply.body.data(), static_cast<int>(reply.body.size()), &width, &height,
                           &version);
      return 0;
    }
    if (realm.empty() || nonce.empty() || reply.challengeRepeated) return 0;
  }
  return 0;
}
