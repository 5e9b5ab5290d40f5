#include "backend/BEJsonReaders.h"

#include <cstring>

#include "classlib/Str.h"
#include "foundation/log/LogHook.h"

namespace {

// The member, or null when root is no object or the member is absent.
const Json::Value* Find(const Json::Value& object, const char* name) {
  if (!object.isObject()) return nullptr;
  return object.find(name, name + strlen(name));
}

// Absent, null, or an empty array or object.
bool Missing(const Json::Value* v) {
  return !v || v->isNull() || ((v->isArray() || v->isObject()) && v->empty());
}

}  // namespace

bool JsonReplyIsError(const Json::Value& root, std::wstring& errorText) {
  const Json::Value* result = Find(root, "result");
  const Json::Value* messages = Find(root, "messages");
  // A "result" that is not a number says nothing: it counts as absent.
  const bool resultSays = result && result->isNumeric();
  const bool failing = !resultSays || result->asDouble() >= 30000.0;
  const bool hasMessages = messages && messages->isArray() && messages->size() >= 1;
  if (!(failing && hasMessages)) return false;
  const Json::Value& first = (*messages)[0];
  errorText = first.isString() ? cl::Utf8ToWide(first.asString()) : std::wstring();
  return true;
}

bool ParseJsonResponse_GetRelayInfo(const Json::Value& root, RelayInfo& out,
                                    std::wstring& errorText) {
  if (JsonReplyIsError(root, errorText)) return false;
  const Json::Value* data = Find(root, "data");
  if (Missing(data)) return false;
  const Json::Value* relay = Find(*data, "relay_info");
  if (Missing(relay)) return false;
  const Json::Value* ip = Find(*relay, "ip_addr");
  const Json::Value* port = Find(*relay, "port");
  const Json::Value* fqdn = Find(*relay, "fqdn");
  const Json::Value* key = Find(*relay, "relay_key_smc");
  if (Missing(ip) || Missing(port) || Missing(fqdn) || Missing(key) || !ip->isString() ||
      !fqdn->isString() || !key->isString() || !port->isUInt64()) {
    TESS_HOOK_LOG(3, "ParseJsonResponse_GetRelayInfo, incorrect json info.");
    return false;
  }
  out.ip_addr = ip->asString();
  out.port = static_cast<uint16_t>(port->asUInt64() & 0xFFFF);
  out.fqdn = fqdn->asString();
  out.relay_key_smc = key->asString();
  return true;
}

bool ReadServiceTokenInfo(const Json::Value& root, const std::wstring& userAgent,
                          ServiceTokenInfo& out, std::wstring& errorText) {
  if (JsonReplyIsError(root, errorText)) return false;
  const Json::Value* data = Find(root, "data");
  if (Missing(data)) return false;
  const Json::Value* token = Find(*data, "token");
  const Json::Value* info = Find(*data, "info");
  if (Missing(token) || Missing(info)) return false;
  const Json::Value* category = Find(*data, "category");
  const std::string cat = (category && category->isString()) ? category->asString() : "";
  const bool agentWin = userAgent.size() >= 3 && userAgent.compare(userAgent.size() - 3, 3, L"win") == 0;
  if (cat != "601" && !agentWin) return false;
  const Json::Value* desc = Find(*info, "desc");
  out.desc = (desc && desc->isString()) ? desc->asString() : std::string();
  return true;
}
