// Taking a fuzz input apart: leading bytes that choose how a target drives
// its parser, then the bytes the parser reads. Past the end every read gives
// zeros, so a short input is still a valid one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t Left() const { return size_ - pos_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t U16() {
    const uint16_t hi = Byte();
    return static_cast<uint16_t>((hi << 8) | Byte());
  }
  // Up to n bytes (fewer at the end).
  std::vector<uint8_t> Take(size_t n) {
    if (n > Left()) n = Left();
    std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return out;
  }
  std::vector<uint8_t> Rest() { return Take(Left()); }
  std::string RestText() {
    const std::vector<uint8_t> rest = Rest();
    return std::string(rest.begin(), rest.end());
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A broken promise of the code under test: reported like a crash, so the
// fuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                      \
  do {                                                                             \
    if (!(condition)) {                                                            \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                \
    }                                                                              \
  } while (0)
