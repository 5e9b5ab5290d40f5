// The connection-ID token: as the backend sends it (Base64 cipher text,
// deciphered with the token key, then read), and its JSON text read
// directly, which mutations of a cipher text would rarely reach. The first
// input byte chooses which.
#include "classlib/Str.h"
#include "engine/discovery/LookupToken.h"
#include "foundation/settings/SettingsCipher.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

void CheckRead(LookupTokenResult result, const LookupToken& token) {
  if (result != LookupTokenResult::kOk && result != LookupTokenResult::kBadInterface) {
    FUZZ_CHECK(token.interfaces.empty());
    return;
  }
  const unsigned short port = LookupPortNumber(token.port);
  FUZZ_CHECK(port == 0 || token.port.size() <= 5);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const bool cipherText = (in.Byte() & 1) != 0;
  const std::string text = in.RestText();
  LookupToken token;
  if (cipherText) {
    CheckRead(DecodeLookupTokenText(cl::Utf8ToWide(text), token), token);
    std::string plain;
    if (DecryptSettingUtf8(text, cl::WideToUtf8(LookupTokenKey()), &plain))
      FUZZ_CHECK(plain.size() <= static_cast<size_t>(kCipherRecordBytes));
  } else {
    CheckRead(ParseLookupToken(text, token), token);
  }
  return 0;
}
