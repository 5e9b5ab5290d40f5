// What both property-list targets check of a value that parsed: the binary
// writer takes it, and its bytes read back to the same value.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/plist/Plist.h"
#include "tests/fuzz/FuzzInput.h"

namespace plistfuzz {

// Type and value; dates beyond what a double holds to the second are left
// out (the writer goes through a double of seconds since 2001).
inline std::string Describe(const boost::any& value) {
  using namespace Plist;
  char buf[64];
  if (const Dictionary* d = boost::any_cast<Dictionary>(&value)) {
    std::string out = "{";
    for (const auto& entry : *d) out += entry.first + "=" + Describe(entry.second) + ",";
    return out + "}";
  }
  if (const Array* a = boost::any_cast<Array>(&value)) {
    std::string out = "[";
    for (const auto& element : *a) out += Describe(element) + ",";
    return out + "]";
  }
  if (const std::string* s = boost::any_cast<std::string>(&value)) return "s:" + *s;
  if (const Data* data = boost::any_cast<Data>(&value)) return "d:" + std::string(data->begin(), data->end());
  if (const int64_t* i = boost::any_cast<int64_t>(&value)) return "i:" + std::to_string(*i);
  if (const double* r = boost::any_cast<double>(&value)) {
    std::snprintf(buf, sizeof buf, "r:%a", *r);
    return buf;
  }
  if (const bool* b = boost::any_cast<bool>(&value)) return *b ? "true" : "false";
  if (const Date* date = boost::any_cast<Date>(&value)) {
    const int64_t s = date->secondsSince1970();
    return (s > -(int64_t(1) << 52) && s < (int64_t(1) << 52)) ? "t:" + std::to_string(s) : "t:far";
  }
  return std::string("other:") + value.type().name();
}

inline void CheckWritesBack(const boost::any& value) {
  std::vector<char> bytes;
  Plist::SerializeBinary(value, bytes);
  boost::any again;
  Plist::Parse(bytes.data(), bytes.size(), again);
  FUZZ_CHECK(Describe(again) == Describe(value));
}

// Parses; a refusal (Plist::Error, or the bad cast of a key that is no
// string) is a fine outcome, anything else escapes and is reported.
inline void ParseAndCheck(const uint8_t* data, size_t size) {
  boost::any value;
  try {
    Plist::Parse(reinterpret_cast<const char*>(data), size, value);
  } catch (const Plist::Error&) {
    return;
  } catch (const boost::bad_any_cast&) {
    return;
  }
  CheckWritesBack(value);
}

}  // namespace plistfuzz
