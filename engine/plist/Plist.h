// Property lists: a dynamic value model, the binary form ("bplist00", written
// and read) and the XML form (read only).
//
// A value is a boost::any holding one of:
//   Plist::Dictionary, Plist::Array, std::string (narrow bytes), Plist::Data,
//   int64_t (what the readers produce for integers), int32_t, int16_t, long,
//   double (what the readers produce for reals), float, bool, Plist::Date.
//
// Every parse or write failure is thrown as Plist::Error. The one other
// exception is boost::bad_any_cast, for a dictionary key that is not a string
// and for a root that is not a dictionary in ParseDictionary. Input is
// untrusted: the readers never read outside the given bytes and bound their
// recursion and output, so a hostile reply costs an exception, nothing more.
#pragma once

#include <boost/any.hpp>

#include <cstddef>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace Plist {

typedef std::map<std::string, boost::any> Dictionary;  // ordered by the keys' bytes
typedef std::vector<boost::any> Array;
typedef std::vector<char> Data;

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// A point in time as whole seconds since 1970-01-01 00:00 UTC (negative before).
class Date {
public:
    Date() = default;
    explicit Date(int64_t secondsSince1970) : seconds_(secondsSince1970) {}

    // Calendar fields taken as UTC. Fields out of their usual range carry over
    // (month 13 is January of the next year, second 60 the next minute); the
    // resulting year must lie in 1..9999, else Plist::Error.
    void set(int month, int day, int year, int hour, int minute, int second);

    int64_t secondsSince1970() const { return seconds_; }
    void setSecondsSince1970(int64_t seconds) { seconds_ = seconds; }

    bool operator==(const Date& other) const { return seconds_ == other.seconds_; }
    bool operator!=(const Date& other) const { return seconds_ != other.seconds_; }

private:
    int64_t seconds_ = 0;
};

// Replaces `out` with the binary property list of `value`.
// Receivers depend on the exact bytes: objects in reference order (root,
// then a dictionary's keys, then its values, each followed by its own objects),
// no sharing of equal objects, smallest integer and reference sizes.
void SerializeBinary(const boost::any& value, std::vector<char>& out);

// Reads `length` bytes at `bytes`: a binary property list when they begin
// with "bplist00", otherwise an XML property list.
void Parse(const char* bytes, std::size_t length, boost::any& out);

// Parse, then the root taken as a dictionary (boost::bad_any_cast otherwise).
void ParseDictionary(const char* bytes, Dictionary& out, std::size_t length);

}  // namespace Plist
