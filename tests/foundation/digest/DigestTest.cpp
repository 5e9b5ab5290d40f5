#include <gtest/gtest.h>

#include <string>

#include "foundation/digest/Md5.h"
#include "foundation/digest/Sha1.h"

namespace {

std::string Md5Of(const std::string& s, bool byteByByte) {
  Md5Context ctx;
  Md5Init(&ctx);
  if (byteByByte) {
    for (char c : s) Md5Update(&ctx, &c, 1);
  } else {
    Md5Update(&ctx, s.data(), s.size());
  }
  uint8_t d[16];
  Md5Final(d, &ctx);
  return DigestToHex(d, 16);
}

std::string Sha1Of(const std::string& s, bool byteByByte) {
  Sha1Context ctx;
  Sha1Init(&ctx);
  if (byteByByte) {
    for (char c : s) Sha1Update(&ctx, &c, 1);
  } else {
    Sha1Update(&ctx, s.data(), s.size());
  }
  uint8_t d[20];
  Sha1Final(d, &ctx);
  return DigestToHex(d, 20);
}

}  // namespace

TEST(Md5, Rfc1321Vectors) {
  struct {
    std::string in;
    const char* hex;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Md5Of(c.in, false), c.hex) << c.in;
    EXPECT_EQ(Md5Of(c.in, true), c.hex) << c.in;
  }
}

TEST(Sha1, Fips180Vectors) {
  struct {
    std::string in;
    const char* hex;
  } cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Sha1Of(c.in, false), c.hex) << c.in;
    EXPECT_EQ(Sha1Of(c.in, true), c.hex) << c.in;
  }
  EXPECT_EQ(Sha1Of(std::string(1000000, 'a'), false), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

// Lengths around the padding boundary, fed whole or in pieces, against
// digests computed independently (coreutils md5sum/sha1sum of 'a' repeated).
TEST(Digests, PaddingBoundaries) {
  struct {
    size_t n;
    const char* md5;
    const char* sha1;
  } cases[] = {
      {55, "ef1772b6dff9a122358552954ad0df65", "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
      {56, "3b0c8ac703f828b04c6c197006d17218", "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
      {63, "b06521f39153d618550606be297466d5", "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
      {64, "014842d480b571495a4a0363793f7367", "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {65, "c743a45e0d2e6a95cb859adae0248435", "11655326c708d70319be2610e8a57d9a5b959d3b"},
  };
  for (const auto& c : cases) {
    const std::string s(c.n, 'a');
    EXPECT_EQ(Md5Of(s, false), c.md5) << c.n;
    EXPECT_EQ(Md5Of(s, true), c.md5) << c.n;
    EXPECT_EQ(Sha1Of(s, false), c.sha1) << c.n;
    EXPECT_EQ(Sha1Of(s, true), c.sha1) << c.n;
    // Uneven pieces across a block boundary.
    Md5Context m;
    Md5Init(&m);
    Md5Update(&m, s.data(), 7);
    Md5Update(&m, s.data() + 7, c.n - 7);
    uint8_t d[16];
    Md5Final(d, &m);
    EXPECT_EQ(DigestToHex(d, 16), c.md5);
  }
}

TEST(Digests, ContextAfterFinal) {
  Md5Context m;
  Md5Init(&m);
  Md5Update(&m, "abc", 3);
  uint8_t d[16];
  Md5Final(d, &m);
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&m);
  for (size_t i = 0; i < sizeof(m); ++i) ASSERT_EQ(raw[i], 0) << i;

  Sha1Context s;
  Sha1Init(&s);
  Sha1Update(&s, "abc", 3);
  uint8_t d2[20];
  Sha1Final(d2, &s);
  EXPECT_EQ(s.state[0], 0xa9993e36u);  // the final state stays readable
  EXPECT_EQ(s.count[0], 512u);
}
