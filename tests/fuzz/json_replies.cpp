// JSON as the backend's replies bring it: the strict reader, then each
// reply reader on what it read.
#include "backend/BEJsonReaders.h"
#include "foundation/docs/JsonDocument.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  JsonDocument doc;
  const bool parsed = doc.Parse(std::string(reinterpret_cast<const char*>(data), size));
  const Json::Value root = doc.GetRoot();
  FUZZ_CHECK(!parsed || root.isArray() || root.isObject());
  std::wstring error;
  JsonReplyIsError(root, error);
  RelayInfo relay;
  ParseJsonResponse_GetRelayInfo(root, relay, error);
  ServiceTokenInfo token;
  ReadServiceTokenInfo(root, L"Nb5Sender/1.0 win", token, error);
  ReadServiceTokenInfo(root, L"Nb5Sender/1.0", token, error);
  return 0;
}
