// SHA-1 (FIPS 180-1) with an incremental context. No platform headers.
#pragma once

#include <cstddef>
#include <cstdint>

struct Sha1Context {
  uint32_t count[2];   // bit count, low word first
  uint32_t state[5];
  uint8_t buffer[64];
};

// Sets the FIPS 180-1 initial state and a zero bit count.
void Sha1Init(Sha1Context* ctx);
void Sha1Update(Sha1Context* ctx, const void* data, size_t length);
// Pads and writes the 20-byte digest; the context keeps its final state.
void Sha1Final(uint8_t digest[20], Sha1Context* ctx);
// Compresses one block; converts the block in place to big-endian words.
void Sha1Transform(uint32_t state[5], uint8_t block[64]);
