// GET /stream.xml (with one Digest challenge) and POST /stream.
#include <winsock2.h>

#include <cstdlib>
#include <cstring>

#include "classlib/Str.h"
#include "engine/mirror/Mirror.h"
#include "engine/mirror/StreamReply.h"
#include "engine/plist/Plist.h"
#include "foundation/digest/HttpDigest.h"
#include "foundation/log/Logger.h"
#include "foundation/sys/SysUtil.h"

namespace {

// Receiver screens outside this range are not believed.
constexpr int kMinReceiverSide = 16;
constexpr int kMaxReceiverSide = 8192;

const char* const kDigestUser = "Airplay";
const char* const kDigestUri = "/stream.xml";

class SocketReplySource : public ReplySource {
 public:
  explicit SocketReplySource(socket_stream* socket) : socket_(socket) {}
  int Recv(void* buffer, int length) override { return socket_->Recv(buffer, length); }

 private:
  socket_stream* socket_;
};

}  // namespace

int32_t MakeRandomId() {
  std::string digits;
  AppendRandomHexDigits(digits);
  return static_cast<int32_t>(strtoul(digits.c_str(), nullptr, 16));
}

std::wstring GetDeviceName() {
  WinsockScope winsock;
  char name[1024] = {0};
  if (!winsock.ok() || gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0') {
    return L"Tessarine";
  }
  std::wstring wide = cl::AnsiToWide(name);
  return wide.empty() ? std::wstring(L"Tessarine") : wide;
}

std::string GetDeviceIdText() {
  socket_stream s;
  return s.GetMACAddress();
}

std::vector<uint8_t> BuildStreamPlist(int32_t sessionId, int64_t deviceId) {
  static const char* const kFpsNames[] = {"SubS", "B4En", "EnDp", "IdEn",
                                          "IdDp", "EQDp", "QueF", "Sent"};
  static const char* const kTimestampNames[] = {"SubSu", "BePxT", "AfPxT", "BefEn",
                                                "EmEnc", "QueFr", "SndFr"};
  Plist::Array fpsInfo;
  for (const char* name : kFpsNames) {
    Plist::Dictionary d;
    d["name"] = std::string(name);
    fpsInfo.push_back(d);
  }
  Plist::Array timestampInfo;
  for (const char* name : kTimestampNames) {
    Plist::Dictionary d;
    d["name"] = std::string(name);
    timestampInfo.push_back(d);
  }
  Plist::Dictionary root;
  root["deviceID"] = static_cast<int64_t>(deviceId);
  root["fpsInfo"] = fpsInfo;
  root["latencyMs"] = static_cast<int32_t>(90);
  root["sessionID"] = sessionId;
  root["timestampInfo"] = timestampInfo;
  root["version"] = std::string("130.16");
  std::vector<char> bytes;
  Plist::SerializeBinary(root, bytes);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

int CMirror::SendGetStream() { return SendGetStreamAttempt(0); }

int CMirror::SendGetStreamAttempt(int attempt) {
  ZtLogger& log = ZtLogger::Instance();
  std::string auth;
  if (!realm_.empty() || !nonce_.empty()) {
    char response[33];
    CalcDigestResponse(kDigestUser, realm_.c_str(), password_.c_str(), nonce_.c_str(), "GET",
                       kDigestUri, response);
    auth = cl::FormatA(
        "Authorization: Digest username=\"%s\", realm=\"%s\", nonce=\"%s\", uri=\"%s\", "
        "response=\"%s\"\r\n",
        kDigestUser, realm_.c_str(), nonce_.c_str(), kDigestUri, response);
  }
  std::string request = cl::FormatA(
      "GET /stream.xml HTTP/1.1\r\nUser-Agent: %s\r\n%sX-Apple-Device-ID: 0x%s\r\n"
      "X-Apple-Client-Name: %s\r\nX-Apple-ProtocolVersion: 1\r\nrmodel: PC1,1\r\n"
      "Content-Length: 0\r\n\r\n",
      userAgent_.c_str(), auth.c_str(), deviceId_.c_str(), clientName_.c_str());
  if (socket_->Send(request.data(), static_cast<int>(request.size())) <
      static_cast<int>(request.size())) {
    log.Error("[Mirror]SendGetStream send Failed");
    return 0;
  }

  SocketReplySource source(socket_);
  StreamReply reply;
  const StreamReplyResult read = ReadStreamReply(source, realm_, nonce_, &reply);
  for (const std::string& line : reply.lines) log.Debug("%s", line.c_str());
  if (reply.challengeOversized) log.Error("[Mirror]SendGetStream : oversized challenge ignored");
  switch (read) {
    case StreamReplyResult::kRead:
      break;
    case StreamReplyResult::kReceiveFailed:
      log.Error("[Mirror]SendGetStream Failed : receive failed");
      return 0;
    case StreamReplyResult::kLineTooLong:
      log.Error("[Mirror]SendGetStream Failed : header line too long");
      return 0;
    case StreamReplyResult::kTooManyLines:
      log.Error("[Mirror]SendGetStream Failed : too many header lines");
      return 0;
    case StreamReplyResult::kBodyRefused:
      log.Error("[Mirror]SendGetStream Failed : body of %ld bytes refused", reply.contentLength);
      ReportStatus(MIRROR_ERR_PARSE_STREAM_PLIST, "Parse GET stream bplist failed");
      return 0;
  }

  if (reply.contentLength != 0) {
    const std::vector<uint8_t>& body = reply.body;
    int width = 0, height = 0;
    std::string version;
    int rc = ParseStreamInfoPlist(body.data(), static_cast<int>(body.size()), &width, &height,
                                  &version);
    if (rc == 0 && (width < kMinReceiverSide || width > kMaxReceiverSide ||
                    height < kMinReceiverSide || height > kMaxReceiverSide)) {
      log.Error("[Mirror]SendGetStream Failed : receiver size %dx%d refused", width, height);
      rc = -5;
    }
    if (rc != 0) {
      log.Error("%.*s", static_cast<int>(body.size()), reinterpret_cast<const char*>(body.data()));
      ReportStatus(MIRROR_ERR_PARSE_STREAM_PLIST, "Parse GET stream bplist failed");
      return 0;
    }
    handOver_.SetReceiverSize(width, height);
    receiverVersion_ = version;
    return 1;
  }

  if (realm_.empty() || nonce_.empty()) {
    log.Error("[Mirror]SendGetStream Failed : parse content length failed");
    return 0;
  }
  if (password_.empty()) {
    PostToOwner(0);
    return 0;
  }
  // One authorised resend: a receiver that refuses it again (with or without
  // a new challenge) has refused the password.
  if (reply.challengeRepeated || attempt >= 1) {
    log.Error("[Mirror]SendGetStream Failed : auth failed");
    PostToOwner(1);
    return 0;
  }
  return SendGetStreamAttempt(attempt + 1);
}

int CMirror::SendPostStream() {
  int64_t deviceId = 0;
  if (!deviceId_.empty()) {
    uint8_t bytes[8] = {0};
    const size_t chars = deviceId_.size() > 16 ? 16 : deviceId_.size();
    HexToLittleEndian(bytes, deviceId_.c_str(), chars);
    memcpy(&deviceId, bytes, sizeof(deviceId));
  }
  const int32_t sessionId = MakeRandomId();
  std::vector<uint8_t> body = BuildStreamPlist(sessionId, deviceId);
  std::string header = cl::FormatA(
      "POST /stream HTTP/1.1\r\nUser-Agent: %s\r\nX-Apple-Device-ID: 0x%s\r\n"
      "X-Apple-Client-Name: %s\r\nX-Apple-ProtocolVersion: 1\r\n"
      "Content-Type: application/x-apple-binary-plist\r\nContent-Length: %d\r\n\r\n",
      userAgent_.c_str(), deviceId_.c_str(), clientName_.c_str(), static_cast<int>(body.size()));
  if (socket_->Send(header.data(), static_cast<int>(header.size())) !=
      static_cast<int>(header.size())) {
    return 0;
  }
  if (socket_->Send(body.data(), static_cast<int>(body.size())) != static_cast<int>(body.size())) {
    return 0;
  }
  return 1;
}
