// A Digest challenge's parameters as both callers read them (the text of a
// WWW-Authenticate value after "Digest"), and the response computed from
// what was read. The first input byte chooses the value bound.
#include <cctype>
#include <cstring>

#include "foundation/digest/HttpDigest.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const size_t maxValue = in.Byte() & 0x7F ? 127 : 255;
  const std::string params = in.RestText();
  for (DigestUnclosedQuote unclosed : {DigestUnclosedQuote::kIgnorePiece, DigestUnclosedQuote::kTakeRest}) {
    DigestChallenge challenge;
    if (!ReadDigestChallenge(params, unclosed, maxValue, &challenge)) continue;
    FUZZ_CHECK(challenge.realm.size() <= maxValue && challenge.nonce.size() <= maxValue);
    FUZZ_CHECK(challenge.hasRealm || challenge.realm.empty());
    FUZZ_CHECK(challenge.hasNonce || challenge.nonce.empty());
    char response[33];
    std::memset(response, 'x', sizeof response);
    CalcDigestResponse("iTunes", challenge.realm.c_str(), "secret", challenge.nonce.c_str(), "ANNOUNCE",
                       "rtsp://127.0.0.1/3412591011", response);
    FUZZ_CHECK(response[32] == '\0');
    for (int i = 0; i < 32; ++i)
      FUZZ_CHECK(std::isdigit(static_cast<unsigned char>(response[i])) || (response[i] >= 'a' && response[i] <= 'f'));
  }
  return 0;
}
