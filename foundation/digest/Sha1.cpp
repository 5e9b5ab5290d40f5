#include "foundation/digest/Sha1.h"

#include <cstring>

namespace {
inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
}  // namespace

void Sha1Init(Sha1Context* ctx) {
  ctx->count[0] = ctx->count[1] = 0;
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xEFCDAB89;
  ctx->state[2] = 0x98BADCFE;
  ctx->state[3] = 0x10325476;
  ctx->state[4] = 0xC3D2E1F0;
  memset(ctx->buffer, 0, sizeof(ctx->buffer));
}

void Sha1Transform(uint32_t state[5], uint8_t block[64]) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i) {
    w[i] = (static_cast<uint32_t>(block[4 * i]) << 24) |
           (static_cast<uint32_t>(block[4 * i + 1]) << 16) |
           (static_cast<uint32_t>(block[4 * i + 2]) << 8) | static_cast<uint32_t>(block[4 * i + 3]);
  }
  // The block buffer ends up holding its words in big-endian order.
  memcpy(block, w, 64);
  for (int i = 16; i < 80; ++i) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);

  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    uint32_t t = Rotl(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = Rotl(b, 30);
    b = a;
    a = t;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

void Sha1Update(Sha1Context* ctx, const void* data, size_t length) {
  const uint8_t* input = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < length; ++i) {
    size_t index = (ctx->count[0] >> 3) & 0x3F;
    ctx->buffer[index] = input[i];
    ctx->count[0] += 8;
    if (ctx->count[0] < 8) ++ctx->count[1];
    if (index == 63) Sha1Transform(ctx->state, ctx->buffer);
  }
}

void Sha1Final(uint8_t digest[20], Sha1Context* ctx) {
  uint8_t length[8];
  for (int i = 0; i < 4; ++i) {
    length[i] = static_cast<uint8_t>(ctx->count[1] >> (24 - 8 * i));
    length[4 + i] = static_cast<uint8_t>(ctx->count[0] >> (24 - 8 * i));
  }
  const uint8_t pad = 0x80, zero = 0;
  Sha1Update(ctx, &pad, 1);
  while (((ctx->count[0] >> 3) & 0x3F) != 56) Sha1Update(ctx, &zero, 1);
  Sha1Update(ctx, length, 8);
  for (int i = 0; i < 20; ++i) {
    digest[i] = static_cast<uint8_t>(ctx->state[i / 4] >> (24 - 8 * (i % 4)));
  }
}
