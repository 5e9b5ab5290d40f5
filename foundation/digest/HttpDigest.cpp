#include "foundation/digest/HttpDigest.h"

#include <cstring>

#include "foundation/digest/Md5.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

const char* OrEmpty(const char* text) { return text ? text : ""; }

}  // namespace

bool ReadDigestChallenge(const std::string& params, DigestUnclosedQuote unclosed,
                         size_t maxValue, DigestChallenge* out) {
  *out = DigestChallenge();
  size_t start = 0;
  while (start <= params.size()) {
    size_t end = params.find(',', start);
    if (end == std::string::npos) end = params.size();
    size_t a = start, b = end;
    start = end + 1;
    while (a < b && IsBlank(params[a])) ++a;
    while (b > a && IsBlank(params[b - 1])) --b;
    std::string piece = params.substr(a, b - a);
    if (!piece.empty() && piece.back() == '"') {
      piece.pop_back();
    } else if (unclosed == DigestUnclosedQuote::kIgnorePiece) {
      continue;
    }
    if (piece.compare(0, 7, "realm=\"") == 0) {
      out->realm = piece.substr(7);
      out->hasRealm = true;
    } else if (piece.compare(0, 7, "nonce=\"") == 0) {
      out->nonce = piece.substr(7);
      out->hasNonce = true;
    }
  }
  return out->realm.size() <= maxValue && out->nonce.size() <= maxValue;
}

void CalcDigestResponse(const char* user, const char* realm, const char* password,
                        const char* nonce, const char* method, const char* uri, char out[33]) {
  const std::string a1 =
      std::string(OrEmpty(user)) + ":" + OrEmpty(realm) + ":" + OrEmpty(password);
  const std::string a2 = std::string(OrEmpty(method)) + ":" + OrEmpty(uri);
  const std::string r = Md5Hex(a1.data(), a1.size()) + ":" + OrEmpty(nonce) + ":" +
                        Md5Hex(a2.data(), a2.size());
  const std::string response = Md5Hex(r.data(), r.size());
  memcpy(out, response.c_str(), 33);
}
