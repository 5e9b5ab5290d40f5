// Multicast DNS messages: reading a received datagram into questions and
// records, and writing queries. No Windows headers: the reader takes a
// buffer and its length and never looks past them.
//
// What the reader refuses (the whole datagram is then ignored): a name
// longer than 255 bytes on the wire or a label longer than 63, a label type
// other than plain or pointer, a compression pointer that does not point
// backwards or a chain of more than kMaxPointerHops pointers, counts or
// lengths that run past the datagram, rdata whose name runs past its
// rdlength, an A record that is not 4 bytes, an SRV record shorter than its
// fixed fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mdns {

constexpr size_t kMaxNameWireBytes = 255;
constexpr size_t kMaxLabelBytes = 63;
constexpr int kMaxPointerHops = 16;
constexpr size_t kHeaderBytes = 12;
// The largest datagram a responder may send (RFC 6762 section 17).
constexpr size_t kMaxMessageBytes = 9000;
// Our queries stay below one Ethernet frame.
constexpr size_t kMaxQueryBytes = 1400;

constexpr uint16_t kMdnsPort = 5353;
constexpr uint16_t kTypeA = 1;
constexpr uint16_t kTypePTR = 12;
constexpr uint16_t kTypeTXT = 16;
constexpr uint16_t kTypeSRV = 33;
constexpr uint16_t kClassIN = 1;
// Top bit of a record's class: cache flush; of a question's class: unicast reply wanted.
constexpr uint16_t kClassTopBit = 0x8000;
constexpr uint16_t kFlagResponse = 0x8000;

// A domain name as its labels (raw bytes, no escaping), compared without
// regard to ASCII case.
struct Name {
  std::vector<std::string> labels;

  bool empty() const { return labels.empty(); }
  // Bytes on the wire without compression (length bytes and the root).
  size_t WireBytes() const;
  // Presentation form with a trailing dot; '.' and '\' inside a label are
  // escaped with '\', other bytes below 0x20 and 0x7F as \DDD.
  std::string ToDotted() const;
  // Reads the presentation form (escapes as above, a trailing dot optional).
  // False on an empty label, a bad escape, or the limits above.
  static bool FromDotted(const std::string& text, Name* out);
  // The name with more labels appended (e.g. instance + service type).
  Name Plus(const Name& suffix) const;
  // This name ends with suffix and has exactly one label more.
  bool IsChildOf(const Name& parent) const;
};

bool SameName(const Name& a, const Name& b);
// Strict weak order without regard to ASCII case, for maps and sets.
bool NameLess(const Name& a, const Name& b);

struct Question {
  Name name;
  uint16_t type = 0;
  uint16_t cls = kClassIN;  // class without the top bit
  bool unicastResponse = false;
};

struct SrvData {
  uint16_t priority = 0;
  uint16_t weight = 0;
  uint16_t port = 0;  // host order
  Name target;
};

struct Record {
  Name name;
  uint16_t type = 0;
  uint16_t cls = kClassIN;  // class without the top bit
  bool cacheFlush = false;
  uint32_t ttl = 0;  // seconds
  // Type-specific content, filled for the types below.
  Name ptr;                   // PTR
  SrvData srv;                // SRV
  uint8_t a[4] = {0, 0, 0, 0};  // A, network order
  // Raw rdata as received: TXT content, and every other type's.
  std::vector<uint8_t> rdata;

  // Same owner name, type, class and content.
  bool SameData(const Record& other) const;
};

struct Message {
  uint16_t id = 0;
  uint16_t flags = 0;
  std::vector<Question> questions;
  // Answers, authority and additional records in order; `answerCount` of
  // them are answers.
  std::vector<Record> records;
  size_t answerCount = 0;

  bool IsResponse() const { return (flags & kFlagResponse) != 0; }
  int Opcode() const { return (flags >> 11) & 0xF; }
  int Rcode() const { return flags & 0xF; }
};

enum class ParseError {
  kNone = 0,
  kShortHeader,     // fewer than 12 bytes
  kTruncated,       // a count, field or name runs past the datagram
  kLabelTooLong,    // a label of more than 63 bytes
  kBadLabelType,    // label type bits 01 or 10
  kNameTooLong,     // more than 255 bytes on the wire
  kBadPointer,      // a pointer that does not point backwards
  kTooManyHops,     // more than kMaxPointerHops pointers in one name
  kBadRdata,        // rdata of a known type that does not fit its rdlength
};

const char* ParseErrorName(ParseError e);

// Reads one datagram. On error *out is left partly filled and must not be used.
ParseError ParseMessage(const uint8_t* data, size_t len, Message* out);

// Writes a message without name compression: questions, then the records
// (all counted as answers; in a query they are the known answers). Known
// answers that would make the message longer than maxBytes are left out;
// false when even the questions do not fit.
bool BuildMessage(const Message& message, size_t maxBytes, std::vector<uint8_t>* out);

}  // namespace mdns
