// Binary property lists ("bplist00"), as a receiver's reply body brings
// them; what parses must write back to the same value.
#include <cstring>

#include "tests/fuzz/PlistCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8 || std::memcmp(data, "bplist00", 8) != 0) return 0;
  plistfuzz::ParseAndCheck(data, size);
  return 0;
}
