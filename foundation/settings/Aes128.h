// AES-128 (FIPS-197) on single 16-byte blocks. No platform headers. Every
// caller keeps its own schedule, so concurrent uses share nothing.
#pragma once

#include <cstdint>

struct Aes128Schedule {
  uint8_t roundKeys[176];  // 11 round keys of 16 bytes
};

void Aes128ExpandKey(Aes128Schedule* schedule, const uint8_t key[16]);
void Aes128EncryptBlock(const Aes128Schedule* schedule, const uint8_t in[16], uint8_t out[16]);
void Aes128DecryptBlock(const Aes128Schedule* schedule, const uint8_t in[16], uint8_t out[16]);
