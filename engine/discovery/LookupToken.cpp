#include "engine/discovery/LookupToken.h"

#include <json/json.h>

#include <algorithm>
#include <cstring>

#include "classlib/Str.h"
#include "foundation/docs/JsonDocument.h"
#include "foundation/settings/SettingsCipher.h"

std::wstring LookupTokenKey() {
  // Only the formatted result is the key; no literal holds it whole.
  static const wchar_t kPattern[] = L"C%s#e%s4%s7s";
  static const wchar_t kFirst[] = L"v9Tq";
  static const wchar_t kSecond[] = L"W3n";
  static const wchar_t kThird[] = L"xPb";
  return cl::FormatW(kPattern, kFirst, kSecond, kThird);
}

namespace {

enum class Member { kText, kMissing, kWrongType };

// Text form of a member: strings as they are, numbers and booleans as text.
Member TextOf(const Json::Value& object, const char* name, std::string& out) {
  const Json::Value* v = object.find(name, name + strlen(name));
  if (!v || v->isNull()) return Member::kMissing;
  if (v->isArray() || v->isObject()) return Member::kWrongType;
  out = v->asString();
  return Member::kText;
}

}  // namespace

LookupTokenResult ParseLookupToken(const std::string& jsonUtf8, LookupToken& out) {
  out = LookupToken();
  JsonDocument doc;
  if (!doc.Parse(jsonUtf8)) return LookupTokenResult::kMalformed;
  const Json::Value root = doc.GetRoot();
  if (!root.isObject()) return LookupTokenResult::kMalformed;

  const Member name = TextOf(root, "name", out.name);
  const Member port = TextOf(root, "port", out.port);
  const Member code = TextOf(root, "code", out.code);
  const Json::Value* list = root.find("interfaces", "interfaces" + strlen("interfaces"));
  if (name == Member::kWrongType || port == Member::kWrongType || code == Member::kWrongType)
    return LookupTokenResult::kMalformed;
  if (name == Member::kMissing || port == Member::kMissing || code == Member::kMissing || !list ||
      list->isNull())
    return LookupTokenResult::kIncomplete;
  if (!list->isArray()) return LookupTokenResult::kMalformed;

  // The interfaces taken are checked for types before anything is kept, so
  // a malformed token never leaves a partial result behind.
  const Json::ArrayIndex taken = std::min<Json::ArrayIndex>(
      list->size(), static_cast<Json::ArrayIndex>(kMaxLookupInterfaces));
  for (Json::ArrayIndex i = 0; i < taken; ++i) {
    const Json::Value& item = (*list)[i];
    if (item.isNull()) break;  // an interface with neither member
    if (!item.isObject()) return LookupTokenResult::kMalformed;
    std::string ignored;
    if (TextOf(item, "ip", ignored) == Member::kWrongType ||
        TextOf(item, "mac", ignored) == Member::kWrongType)
      return LookupTokenResult::kMalformed;
  }
  for (Json::ArrayIndex i = 0; i < taken; ++i) {
    const Json::Value& item = (*list)[i];
    LookupTokenInterface itf;
    if (item.isNull() || TextOf(item, "ip", itf.ip) != Member::kText ||
        TextOf(item, "mac", itf.mac) != Member::kText)
      return LookupTokenResult::kBadInterface;
    out.interfaces.push_back(itf);
  }
  return LookupTokenResult::kOk;
}

LookupTokenResult DecodeLookupTokenText(const std::wstring& token, LookupToken& out) {
  out = LookupToken();
  std::string plain;
  if (!DecryptSettingUtf8(cl::WideToUtf8(token), cl::WideToUtf8(LookupTokenKey()), &plain))
    return LookupTokenResult::kMalformed;
  return ParseLookupToken(plain, out);
}

unsigned short LookupPortNumber(const std::string& portText) {
  if (portText.empty() || portText.size() > 5) return 0;
  unsigned long v = 0;
  for (char c : portText) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + static_cast<unsigned long>(c - '0');
  }
  return (v >= 1 && v <= 65535) ? static_cast<unsigned short>(v) : 0;
}
