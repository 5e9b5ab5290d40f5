#include "foundation/sys/SysUtil.h"

#include <cstdlib>
#include <ctime>

namespace {
uint8_t HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  return 0;
}
}  // namespace

void HexToLittleEndian(uint8_t* out, const char* hex, size_t lengthChars) {
  const size_t bytes = lengthChars / 2;
  for (size_t i = 0; i < bytes; ++i) {
    out[bytes - 1 - i] =
        static_cast<uint8_t>((HexDigit(hex[2 * i]) << 4) | HexDigit(hex[2 * i + 1]));
  }
}

void AppendRandomHexDigits(std::string& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  srand(static_cast<unsigned>(time(nullptr)));
  for (int i = 0; i < 8; ++i) text.push_back(kDigits[rand() & 0x0F]);
}
