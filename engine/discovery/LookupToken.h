// The connection-ID token: the backend's encoded description of a receiver
// (name, port, code and its network interfaces), enciphered with the
// settings cipher under a key that is assembled at run time.
//
// Pure text handling: no Windows headers, no globals. The receiver probe
// (ReceiverProbe.h) turns a decoded token into probe entries.
#pragma once

#include <string>
#include <vector>

// The 16-character key of the token, formatted from a pattern and three
// short pieces each time it is needed, so the key never sits whole in the
// binary.
std::wstring LookupTokenKey();

struct LookupTokenInterface {
  std::string ip;
  std::string mac;
};

// The most interfaces taken from one token; the rest are ignored. Each
// one taken is probed (side by side), so the token cannot set that work.
constexpr size_t kMaxLookupInterfaces = 8;

struct LookupToken {
  std::string name;
  std::string port;
  std::string code;
  // Interfaces in token order, up to (not including) the first one that
  // lacks "ip" or "mac", and at most kMaxLookupInterfaces.
  std::vector<LookupTokenInterface> interfaces;
};

enum class LookupTokenResult {
  kOk,
  kMalformed,         // not decipherable, not a JSON object, or a member of a type that has no text form
  kIncomplete,        // "name", "port", "code" or "interfaces" absent or null
  kBadInterface,      // an interface without "ip" or "mac"; the ones before it are kept
};

// Reads the deciphered UTF-8 JSON text. Values are taken in their text form
// (numbers and booleans as their decimal or "true"/"false" text); an array
// or object where text is expected makes the token malformed, as does an
// "interfaces" member that is not an array or an interface that is not an
// object. Only the first kMaxLookupInterfaces interfaces are looked at.
LookupTokenResult ParseLookupToken(const std::string& jsonUtf8, LookupToken& out);

// Deciphers the token with LookupTokenKey and parses it.
LookupTokenResult DecodeLookupTokenText(const std::wstring& token, LookupToken& out);

// The token's port as a TCP port: decimal digits only, 1..65535; 0 otherwise.
unsigned short LookupPortNumber(const std::string& portText);
