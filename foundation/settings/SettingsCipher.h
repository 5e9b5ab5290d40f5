// The settings cipher: short texts (the passwords of default.iss, the
// connection-ID token) as AES-128 ECB with zero padding, carried in Base64.
//
// Texts travel in fixed records of 1024 bytes. Input that does not fit a
// record is rejected, never cut or copied past it: plain texts of more than
// 768 UTF-8 bytes (their Base64 form would pass 1024 characters) and cipher
// texts that decode to more than 1024 bytes.
//
// Each call works on its own schedule and records, so calls may run on
// several threads at once.
#pragma once

#include <cstdint>
#include <string>

constexpr int kCipherRecordBytes = 1024;
// The longest plain text whose cipher text still fits 1024 Base64 characters.
constexpr int kCipherMaxPlainBytes = 768;

// Key of the two passwords that default.iss carries.
extern const wchar_t kSettingsKey[];

struct CipherRecord {
  uint8_t data[kCipherRecordBytes];
  int32_t length;
};

// Enciphers ceil(in.length / 16) blocks of in (zero-padded by the record)
// into out at the same offsets; out.length grows by 16 per block. False, and
// nothing written, when a length is out of the record's range.
bool AesEncryptBuffer(const CipherRecord& key, const CipherRecord& in, CipherRecord& out);
// Deciphers the blocks of in into out; out.length grows by 16 for a block
// whose last byte is not zero, else by the bytes before its first zero.
bool AesDecryptBuffer(const CipherRecord& key, const CipherRecord& in, CipherRecord& out);

// Standard Base64, one line with "=" padding.
std::string Base64Encode(const uint8_t* data, size_t length);
// Skips characters outside the alphabet ("=", blanks, line ends). False for a
// dangling single character (6 bits cannot make a byte).
bool Base64DecodeLenient(const std::string& text, std::string* out);

// The byte-level forms of the two functions below: UTF-8 texts in and out.
bool EncryptSettingUtf8(const std::string& plain, const std::string& key, std::string* cipherText);
bool DecryptSettingUtf8(const std::string& cipherText, const std::string& key, std::string* plain);

// True and out := the Base64 cipher text; false (logged) and out unchanged
// when the plain text's UTF-8 form is longer than 768 bytes.
bool EncryptSetting(const std::wstring& plain, const std::wstring& key, std::wstring& out);
// 1 and out := the plain text; 0 and out unchanged when the cipher text
// decodes to more than a record or to a length that is not whole blocks.
// Characters outside the Base64 alphabet are skipped. A wrong key is not
// detected: it gives a garbled text cut at its first zero byte.
int DecryptSetting(const std::wstring& cipherText, const std::wstring& key, std::wstring& out);
