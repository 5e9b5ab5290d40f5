// What the backend's JSON replies carry, and the readers that take it out
// of a parsed reply. No platform headers: the reply comes from the network,
// and the readers run on any parsed root.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>

struct RelayInfo {
  std::string ip_addr;
  uint16_t port = 0;
  std::string fqdn;
  std::string relay_key_smc;
};

struct ServiceTokenInfo {
  std::string info;  // written by no operation
  std::string desc;  // the encoded receiver token of a connection-ID reply
};

// True when the reply reports an error; errorText := its first message.
bool JsonReplyIsError(const Json::Value& root, std::wstring& errorText);
bool ParseJsonResponse_GetRelayInfo(const Json::Value& root, RelayInfo& out, std::wstring& errorText);
bool ReadServiceTokenInfo(const Json::Value& root, const std::wstring& userAgent,
                          ServiceTokenInfo& out, std::wstring& errorText);
