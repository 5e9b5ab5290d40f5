// HTTP Digest (RFC 2617, without quality of protection) as the mirroring
// handshake and the RTSP client speak it: reading the realm and nonce of a
// receiver's challenge, and computing the response. No platform headers.
#pragma once

#include <cstddef>
#include <string>

struct DigestChallenge {
  std::string realm;
  std::string nonce;
  bool hasRealm = false;  // a realm="..." piece was read (its value may be empty)
  bool hasNonce = false;
};

// What a piece that opens a quote and never closes it means. The two
// callers have always read it differently; each keeps its reading.
enum class DigestUnclosedQuote {
  kIgnorePiece,  // the piece is dropped (the mirroring handshake)
  kTakeRest,     // the value runs to the end of the piece (the RTSP client)
};

// Reads the parameter list of a Digest challenge (the text of a
// WWW-Authenticate value after "Digest"). The text is split at commas; each
// piece is trimmed of blanks (spaces, tabs) and loses one closing double
// quote; a piece beginning realm=" or nonce=" sets that value, a later piece
// replacing an earlier one; every other piece is ignored. Returns false when
// a realm or nonce longer than maxValue characters was read: *out then holds
// what was read and the caller applies its own rule.
bool ReadDigestChallenge(const std::string& params, DigestUnclosedQuote unclosed,
                         size_t maxValue, DigestChallenge* out);

// The response for user, realm, password, nonce, method and uri: 32
// lower-case hexadecimal digits and a terminating NUL. A null text counts as
// empty.
void CalcDigestResponse(const char* user, const char* realm, const char* password,
                        const char* nonce, const char* method, const char* uri, char out[33]);
