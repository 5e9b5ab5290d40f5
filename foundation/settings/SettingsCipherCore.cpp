// The pure part of the settings cipher: records, block loops, Base64.
#include <cstring>
#include <memory>

#include "foundation/log/LogHook.h"
#include "foundation/settings/Aes128.h"
#include "foundation/settings/SettingsCipher.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// The AES key: the record's first 16 bytes up to the first zero byte,
// filled with zeros.
void ScheduleFromKey(const CipherRecord& key, Aes128Schedule* schedule) {
  uint8_t k[16] = {};
  int n = key.length < 16 ? (key.length > 0 ? key.length : 0) : 16;
  for (int i = 0; i < n && key.data[i]; ++i) k[i] = key.data[i];
  Aes128ExpandKey(schedule, k);
}

bool BlocksFit(const CipherRecord& in, const CipherRecord& out, int* blocks) {
  if (in.length < 0 || in.length > kCipherRecordBytes) return false;
  if (out.length < 0 || out.length > kCipherRecordBytes) return false;
  *blocks = (in.length + 15) / 16;
  return *blocks * 16 <= kCipherRecordBytes;
}

// Copies bytes into a zeroed record; false when they do not fit.
bool FillRecord(CipherRecord& record, const std::string& bytes) {
  memset(record.data, 0, sizeof(record.data));
  record.length = 0;
  if (bytes.size() > sizeof(record.data)) return false;
  memcpy(record.data, bytes.data(), bytes.size());
  record.length = static_cast<int32_t>(bytes.size());
  return true;
}

// Key texts longer than a record only ever contribute their first 16 bytes.
void FillKeyRecord(CipherRecord& record, const std::string& key) {
  FillRecord(record, key.substr(0, sizeof(record.data)));
}

}  // namespace

bool AesEncryptBuffer(const CipherRecord& key, const CipherRecord& in, CipherRecord& out) {
  int blocks = 0;
  if (!BlocksFit(in, out, &blocks)) return false;
  Aes128Schedule schedule;
  ScheduleFromKey(key, &schedule);
  for (int i = 0; i < blocks; ++i) {
    Aes128EncryptBlock(&schedule, in.data + 16 * i, out.data + 16 * i);
    out.length += 16;
  }
  if (out.length > kCipherRecordBytes) out.length = kCipherRecordBytes;
  memset(&schedule, 0, sizeof(schedule));
  return true;
}

bool AesDecryptBuffer(const CipherRecord& key, const CipherRecord& in, CipherRecord& out) {
  int blocks = 0;
  if (!BlocksFit(in, out, &blocks)) return false;
  Aes128Schedule schedule;
  ScheduleFromKey(key, &schedule);
  for (int i = 0; i < blocks; ++i) {
    uint8_t* plain = out.data + 16 * i;
    Aes128DecryptBlock(&schedule, in.data + 16 * i, plain);
    if (plain[15] != 0) {
      out.length += 16;
    } else {
      int n = 0;
      while (n < 16 && plain[n]) ++n;
      out.length += n;
    }
  }
  if (out.length > kCipherRecordBytes) out.length = kCipherRecordBytes;
  memset(&schedule, 0, sizeof(schedule));
  return true;
}

std::string Base64Encode(const uint8_t* data, size_t length) {
  std::string out;
  out.reserve((length + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= length; i += 3) {
    uint32_t v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (length - i == 1) {
    uint32_t v = data[i] << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (length - i == 2) {
    uint32_t v = (data[i] << 16) | (data[i + 1] << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

bool Base64DecodeLenient(const std::string& text, std::string* out) {
  out->clear();
  uint32_t bits = 0;
  int count = 0;
  for (unsigned char c : text) {
    int v = Base64Value(c);
    if (v < 0) continue;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    if (++count == 4) {
      out->push_back(static_cast<char>(bits >> 16));
      out->push_back(static_cast<char>(bits >> 8));
      out->push_back(static_cast<char>(bits));
      bits = 0;
      count = 0;
    }
  }
  if (count == 1) return false;
  if (count == 2) out->push_back(static_cast<char>(bits >> 4));
  if (count == 3) {
    out->push_back(static_cast<char>(bits >> 10));
    out->push_back(static_cast<char>(bits >> 2));
  }
  return true;
}

bool EncryptSettingUtf8(const std::string& plain, const std::string& key, std::string* cipherText) {
  // The limit comes before any copy: a longer text never enters a record.
  if (plain.size() > static_cast<size_t>(kCipherMaxPlainBytes)) return false;
  auto keyRecord = std::make_unique<CipherRecord>();
  auto plainRecord = std::make_unique<CipherRecord>();
  auto outRecord = std::make_unique<CipherRecord>();
  FillKeyRecord(*keyRecord, key);
  FillRecord(*plainRecord, plain);
  FillRecord(*outRecord, std::string());
  bool ok = AesEncryptBuffer(*keyRecord, *plainRecord, *outRecord);
  if (ok) *cipherText = Base64Encode(outRecord->data, static_cast<size_t>(outRecord->length));
  memset(keyRecord.get(), 0, sizeof(CipherRecord));
  memset(plainRecord.get(), 0, sizeof(CipherRecord));
  return ok;
}

bool DecryptSettingUtf8(const std::string& cipherText, const std::string& key, std::string* plain) {
  std::string decoded;
  if (!Base64DecodeLenient(cipherText, &decoded)) {
    TESS_HOOK_LOG(3, "DecryptSetting: cipher text is not Base64");
    return false;
  }
  if (decoded.size() > static_cast<size_t>(kCipherRecordBytes)) {
    TESS_HOOK_LOG(3, "DecryptSetting: cipher text of %u bytes exceeds the record",
                  static_cast<unsigned>(decoded.size()));
    return false;
  }
  // The cipher only ever produces whole blocks; anything else was cut or
  // altered on the way.
  if (decoded.size() % 16 != 0) {
    TESS_HOOK_LOG(3, "DecryptSetting: cipher text of %u bytes is not whole blocks",
                  static_cast<unsigned>(decoded.size()));
    return false;
  }
  auto keyRecord = std::make_unique<CipherRecord>();
  auto cipherRecord = std::make_unique<CipherRecord>();
  auto outRecord = std::make_unique<CipherRecord>();
  FillKeyRecord(*keyRecord, key);
  FillRecord(*cipherRecord, decoded);
  FillRecord(*outRecord, std::string());
  bool ok = AesDecryptBuffer(*keyRecord, *cipherRecord, *outRecord);
  if (ok) {
    size_t n = 0;
    while (n < sizeof(outRecord->data) && outRecord->data[n]) ++n;
    plain->assign(reinterpret_cast<const char*>(outRecord->data), n);
  }
  memset(keyRecord.get(), 0, sizeof(CipherRecord));
  memset(outRecord.get(), 0, sizeof(CipherRecord));
  return ok;
}
