// MD5 (RFC 1321) with an incremental context. No platform headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Md5Context {
  uint32_t state[4];   // A, B, C, D
  uint32_t count[2];   // bit count, low word first
  uint8_t buffer[64];
};

// Sets the RFC 1321 initial state and a zero bit count.
void Md5Init(Md5Context* ctx);
void Md5Update(Md5Context* ctx, const void* data, size_t length);
// Pads, writes the 16-byte digest, then clears the whole context.
void Md5Final(uint8_t digest[16], Md5Context* ctx);
void Md5Transform(Md5Context* ctx, const uint8_t block[64]);
void Md5Decode(uint32_t out[16], const uint8_t in[64]);

// Lower-case hexadecimal, high nibble first.
std::string DigestToHex(const uint8_t* digest, size_t length);
// MD5 of a byte string as 32 lower-case hexadecimal digits.
std::string Md5Hex(const void* data, size_t length);
