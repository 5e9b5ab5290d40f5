#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "foundation/settings/Aes128.h"
#include "foundation/settings/SettingsCipher.h"

namespace {

TEST(Aes128, Fips197AppendixC1) {
  uint8_t key[16], plain[16], out[16], back[16];
  for (int i = 0; i < 16; ++i) {
    key[i] = static_cast<uint8_t>(i);
    plain[i] = static_cast<uint8_t>(i * 0x11);
  }
  const uint8_t expected[16] = {0x69, 0xc4, 0xe0, 0xd8, 0x6a, 0x7b, 0x04, 0x30,
                                0xd8, 0xcd, 0xb7, 0x80, 0x70, 0xb4, 0xc5, 0x5a};
  Aes128Schedule schedule;
  Aes128ExpandKey(&schedule, key);
  Aes128EncryptBlock(&schedule, plain, out);
  EXPECT_EQ(0, memcmp(expected, out, 16));
  Aes128DecryptBlock(&schedule, out, back);
  EXPECT_EQ(0, memcmp(plain, back, 16));
}

// Computed when this test was written, independently of this code, with
// OpenSSL on Linux: the UTF-8 text zero-padded to whole 16-byte blocks, the
// key's UTF-8 bytes cut or zero-filled to 16, then
//   openssl enc -aes-128-ecb -nopad -K <key hex> | base64
struct Vector {
  const wchar_t* plain;
  const wchar_t* key;
  const wchar_t* cipher;
};
const Vector kVectors[] = {
    {L"hello", L"qT7wRb3nZk9pLm2h", L"Ss+MgUTNVLOr8ZspWCALSQ=="},
    {L"0123456789abcdef", L"qT7wRb3nZk9pLm2h", L"1rgtKm73RuwmB16UD82zLA=="},
    {L"0123456789abcdef0", L"qT7wRb3nZk9pLm2h",
     L"1rgtKm73RuwmB16UD82zLP9xnuZ42cWUE/HRNB2kL/8="},
    {L"Gr\u00fc\u00dfe, na\u00efve caf\u00e9", L"qT7wRb3nZk9pLm2h",
     L"+mhD5wHw6lLNxIAQ7smlOq6QdF8iANjDyNVi0k+QDZc="},
    {L"proxy-secret", L"short key!", L"UpjIP7v05EG0H0hvzDeJ7A=="},             // 10-byte key
    {L"proxy-secret", L"qT7wRb3nZk9pLm2hEXTRA", L"sK8I248nlkQS+3Af9S8MDw=="},  // first 16 bytes
    {L"", L"qT7wRb3nZk9pLm2h", L""},
};

TEST(SettingsCipher, KnownVectorsBothWays) {
  for (const Vector& v : kVectors) {
    std::wstring cipher = L"unchanged";
    ASSERT_TRUE(EncryptSetting(v.plain, v.key, cipher)) << v.plain;
    EXPECT_EQ(std::wstring(v.cipher), cipher) << v.plain;
    std::wstring plain = L"unchanged";
    ASSERT_EQ(1, DecryptSetting(v.cipher, v.key, plain)) << v.cipher;
    EXPECT_EQ(std::wstring(v.plain), plain) << v.cipher;
  }
  EXPECT_EQ(std::wstring(kSettingsKey), L"qT7wRb3nZk9pLm2h");
}

TEST(SettingsCipher, SkipsCharactersOutsideTheAlphabet) {
  std::wstring plain;
  ASSERT_EQ(1, DecryptSetting(L"+mhD5wHw6lLNx IAQ7smlOq6Q\r\ndF8iANjDy\tNVi0k+QDZc", L"qT7wRb3nZk9pLm2h",
                              plain));
  EXPECT_EQ(L"Gr\u00fc\u00dfe, na\u00efve caf\u00e9", plain);
}

TEST(SettingsCipher, RecordLimits) {
  // 768 bytes fill the 1024 Base64 characters exactly; one more byte is refused.
  std::wstring fits(768, L'a');
  std::wstring cipher;
  ASSERT_TRUE(EncryptSetting(fits, kSettingsKey, cipher));
  EXPECT_EQ(1024u, cipher.size());
  std::wstring back;
  ASSERT_EQ(1, DecryptSetting(cipher, kSettingsKey, back));
  EXPECT_EQ(fits, back);

  std::wstring out = L"unchanged";
  EXPECT_FALSE(EncryptSetting(std::wstring(769, L'a'), kSettingsKey, out));
  EXPECT_FALSE(EncryptSetting(std::wstring(5000, L'\u00e9'), kSettingsKey, out));
  EXPECT_EQ(L"unchanged", out);

  // 384 two-byte characters are 768 UTF-8 bytes: the limit counts bytes.
  EXPECT_TRUE(EncryptSetting(std::wstring(384, L'\u00e9'), kSettingsKey, out));
  EXPECT_FALSE(EncryptSetting(std::wstring(385, L'\u00e9'), kSettingsKey, out));
}

std::wstring Base64Of(size_t bytes) {
  std::string data(bytes, '\x5a');
  std::string b64 = Base64Encode(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  return std::wstring(b64.begin(), b64.end());
}

TEST(SettingsCipher, OversizedAndMalformedCipherTextRejected) {
  struct Case {
    std::wstring cipher;
    const char* why;
  } cases[] = {
      {Base64Of(1040), "decodes past the 1024-byte record"},
      {Base64Of(64 * 1024), "far past the record"},
      {Base64Of(15), "not whole blocks"},
      {Base64Of(17), "not whole blocks"},
      {L"1rgtKm73RuwmB16UD82zLA==A", "a dangling Base64 character"},
  };
  for (const Case& c : cases) {
    std::wstring out = L"unchanged";
    EXPECT_EQ(0, DecryptSetting(c.cipher, kSettingsKey, out)) << c.why;
    EXPECT_EQ(L"unchanged", out) << c.why;
  }
  // Exactly a full record is accepted.
  std::wstring out;
  EXPECT_EQ(1, DecryptSetting(Base64Of(1024), kSettingsKey, out));
}

TEST(SettingsCipher, WrongKeyGivesSomethingElse) {
  std::wstring cipher, plain;
  ASSERT_TRUE(EncryptSetting(L"the proxy password", L"qT7wRb3nZk9pLm2h", cipher));
  ASSERT_EQ(1, DecryptSetting(cipher, L"qT7wRb3nZk9pLm2X", plain));
  EXPECT_NE(L"the proxy password", plain);
}

TEST(SettingsCipher, DecryptLengthCountsBytesBeforeTheFirstZero) {
  CipherRecord key = {}, plain = {}, cipher = {}, out = {};
  memcpy(key.data, "0123456789abcdef", 16);
  key.length = 16;
  memcpy(plain.data, "0123456789abcdefxyz", 19);  // a full block, then 3 bytes
  plain.length = 19;
  ASSERT_TRUE(AesEncryptBuffer(key, plain, cipher));
  EXPECT_EQ(32, cipher.length);
  ASSERT_TRUE(AesDecryptBuffer(key, cipher, out));
  EXPECT_EQ(19, out.length);
  EXPECT_EQ(0, memcmp(plain.data, out.data, 32));

  CipherRecord bad = {};
  bad.length = kCipherRecordBytes + 1;
  CipherRecord sink = {};
  EXPECT_FALSE(AesEncryptBuffer(key, bad, sink));
  EXPECT_FALSE(AesDecryptBuffer(key, bad, sink));
  EXPECT_EQ(0, sink.length);
}

TEST(SettingsCipher, ConcurrentCallsShareNothing) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      const std::wstring key = L"key-of-thread-" + std::to_wstring(t);
      for (int i = 0; i < 200; ++i) {
        const std::wstring text = L"text " + std::to_wstring(t) + L"/" + std::to_wstring(i);
        std::wstring cipher, back;
        if (!EncryptSetting(text, key, cipher) || DecryptSetting(cipher, key, back) != 1 ||
            back != text) {
          ++failures[t];
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(0, failures[t]) << "thread " << t;
}

}  // namespace
