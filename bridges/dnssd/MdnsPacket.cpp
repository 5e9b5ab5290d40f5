#include "bridges/dnssd/MdnsPacket.h"

#include <cstring>

namespace mdns {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

int CompareLabel(const std::string& a, const std::string& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = static_cast<unsigned char>(Lower(a[i]));
    const unsigned char y = static_cast<unsigned char>(Lower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
uint32_t Get32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

// Reads a name starting at `pos`. Until the first pointer the name must end
// by `limit` (the end of the rdata it sits in, or of the datagram); after a
// pointer, anything before the pointer may be read. *next is where the data
// after the name starts (after the first pointer, if any).
ParseError ReadName(const uint8_t* data, size_t len, size_t pos, size_t limit, Name* out,
                    size_t* next) {
  out->labels.clear();
  size_t wire = 1;  // the root label
  int hops = 0;
  bool jumped = false;
  size_t end = limit;
  for (;;) {
    if (pos >= end) return ParseError::kTruncated;
    const uint8_t b = data[pos];
    const uint8_t kind = b & 0xC0;
    if (kind == 0xC0) {
      if (pos + 1 >= end) return ParseError::kTruncated;
      const size_t target = static_cast<size_t>(((b & 0x3F) << 8) | data[pos + 1]);
      if (target >= pos) return ParseError::kBadPointer;
      if (++hops > kMaxPointerHops) return ParseError::kTooManyHops;
      if (!jumped) *next = pos + 2;
      jumped = true;
      // Everything before the pointer is fair game, nothing at or after it.
      end = pos;
      pos = target;
      continue;
    }
    if (kind != 0) return ParseError::kBadLabelType;
    if (b == 0) {
      if (!jumped) *next = pos + 1;
      return ParseError::kNone;
    }
    if (b > kMaxLabelBytes) return ParseError::kLabelTooLong;
    if (pos + 1 + b > end) return ParseError::kTruncated;
    wire += 1 + b;
    if (wire > kMaxNameWireBytes) return ParseError::kNameTooLong;
    out->labels.emplace_back(reinterpret_cast<const char*>(data + pos + 1), b);
    pos += 1 + b;
  }
}

ParseError ReadQuestion(const uint8_t* data, size_t len, size_t* pos, Question* q) {
  size_t next = 0;
  ParseError e = ReadName(data, len, *pos, len, &q->name, &next);
  if (e != ParseError::kNone) return e;
  if (next + 4 > len) return ParseError::kTruncated;
  q->type = Get16(data + next);
  const uint16_t cls = Get16(data + next + 2);
  q->cls = cls & ~kClassTopBit;
  q->unicastResponse = (cls & kClassTopBit) != 0;
  *pos = next + 4;
  return ParseError::kNone;
}

ParseError ReadRecord(const uint8_t* data, size_t len, size_t* pos, Record* r) {
  size_t next = 0;
  ParseError e = ReadName(data, len, *pos, len, &r->name, &next);
  if (e != ParseError::kNone) return e;
  if (next + 10 > len) return ParseError::kTruncated;
  r->type = Get16(data + next);
  const uint16_t cls = Get16(data + next + 2);
  r->cls = cls & ~kClassTopBit;
  r->cacheFlush = (cls & kClassTopBit) != 0;
  r->ttl = Get32(data + next + 4);
  const size_t rdlen = Get16(data + next + 8);
  const size_t rd = next + 10;
  if (rdlen > len - rd) return ParseError::kTruncated;
  const size_t rdEnd = rd + rdlen;
  r->rdata.assign(data + rd, data + rdEnd);
  size_t after = 0;
  switch (r->type) {
    case kTypeA:
      if (rdlen != 4) return ParseError::kBadRdata;
      std::memcpy(r->a, data + rd, 4);
      break;
    case kTypePTR:
      e = ReadName(data, len, rd, rdEnd, &r->ptr, &after);
      if (e != ParseError::kNone) return e == ParseError::kTruncated ? ParseError::kBadRdata : e;
      if (after != rdEnd) return ParseError::kBadRdata;
      break;
    case kTypeSRV:
      if (rdlen < 7) return ParseError::kBadRdata;
      r->srv.priority = Get16(data + rd);
      r->srv.weight = Get16(data + rd + 2);
      r->srv.port = Get16(data + rd + 4);
      e = ReadName(data, len, rd + 6, rdEnd, &r->srv.target, &after);
      if (e != ParseError::kNone) return e == ParseError::kTruncated ? ParseError::kBadRdata : e;
      if (after != rdEnd) return ParseError::kBadRdata;
      break;
    default:
      break;
  }
  *pos = rdEnd;
  return ParseError::kNone;
}

void Put16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v >> 8));
  out->push_back(static_cast<uint8_t>(v));
}
void Put32(std::vector<uint8_t>* out, uint32_t v) {
  Put16(out, static_cast<uint16_t>(v >> 16));
  Put16(out, static_cast<uint16_t>(v));
}
void PutName(std::vector<uint8_t>* out, const Name& name) {
  for (const std::string& l : name.labels) {
    out->push_back(static_cast<uint8_t>(l.size()));
    out->insert(out->end(), l.begin(), l.end());
  }
  out->push_back(0);
}

bool ValidForWire(const Name& name) {
  for (const std::string& l : name.labels)
    if (l.empty() || l.size() > kMaxLabelBytes) return false;
  return name.WireBytes() <= kMaxNameWireBytes;
}

void PutRecord(std::vector<uint8_t>* out, const Record& r) {
  PutName(out, r.name);
  Put16(out, r.type);
  Put16(out, static_cast<uint16_t>(r.cls | (r.cacheFlush ? kClassTopBit : 0)));
  Put32(out, r.ttl);
  std::vector<uint8_t> rd;
  switch (r.type) {
    case kTypeA:
      rd.assign(r.a, r.a + 4);
      break;
    case kTypePTR:
      PutName(&rd, r.ptr);
      break;
    case kTypeSRV:
      Put16(&rd, r.srv.priority);
      Put16(&rd, r.srv.weight);
      Put16(&rd, r.srv.port);
      PutName(&rd, r.srv.target);
      break;
    default:
      rd = r.rdata;
      break;
  }
  Put16(out, static_cast<uint16_t>(rd.size()));
  out->insert(out->end(), rd.begin(), rd.end());
}

}  // namespace

size_t Name::WireBytes() const {
  size_t n = 1;
  for (const std::string& l : labels) n += 1 + l.size();
  return n;
}

std::string Name::ToDotted() const {
  std::string s;
  for (const std::string& l : labels) {
    for (char ch : l) {
      const unsigned char c = static_cast<unsigned char>(ch);
      if (c == '.' || c == '\\') {
        s += '\\';
        s += ch;
      } else if (c < 0x20 || c == 0x7F) {
        char buf[5];
        buf[0] = '\\';
        buf[1] = static_cast<char>('0' + c / 100);
        buf[2] = static_cast<char>('0' + (c / 10) % 10);
        buf[3] = static_cast<char>('0' + c % 10);
        buf[4] = 0;
        s += buf;
      } else {
        s += ch;
      }
    }
    s += '.';
  }
  if (s.empty()) s = ".";
  return s;
}

bool Name::FromDotted(const std::string& text, Name* out) {
  out->labels.clear();
  if (text.empty() || text == ".") return true;
  std::string label;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      if (i + 1 >= text.size()) return false;
      const char d = text[i + 1];
      if (d >= '0' && d <= '9') {
        if (i + 3 >= text.size()) return false;
        int v = 0;
        for (int k = 1; k <= 3; ++k) {
          const char e = text[i + k];
          if (e < '0' || e > '9') return false;
          v = v * 10 + (e - '0');
        }
        if (v > 255) return false;
        label += static_cast<char>(v);
        i += 3;
      } else {
        label += d;
        i += 1;
      }
    } else if (c == '.') {
      if (label.empty()) return false;
      out->labels.push_back(label);
      label.clear();
    } else {
      label += c;
    }
    if (label.size() > kMaxLabelBytes) return false;
  }
  if (!label.empty()) out->labels.push_back(label);
  return out->WireBytes() <= kMaxNameWireBytes;
}

Name Name::Plus(const Name& suffix) const {
  Name n = *this;
  n.labels.insert(n.labels.end(), suffix.labels.begin(), suffix.labels.end());
  return n;
}

bool Name::IsChildOf(const Name& parent) const {
  if (labels.size() != parent.labels.size() + 1) return false;
  for (size_t i = 0; i < parent.labels.size(); ++i)
    if (CompareLabel(labels[i + 1], parent.labels[i]) != 0) return false;
  return true;
}

bool SameName(const Name& a, const Name& b) {
  if (a.labels.size() != b.labels.size()) return false;
  for (size_t i = 0; i < a.labels.size(); ++i)
    if (CompareLabel(a.labels[i], b.labels[i]) != 0) return false;
  return true;
}

bool NameLess(const Name& a, const Name& b) {
  const size_t n = a.labels.size() < b.labels.size() ? a.labels.size() : b.labels.size();
  for (size_t i = 0; i < n; ++i) {
    const int c = CompareLabel(a.labels[i], b.labels[i]);
    if (c != 0) return c < 0;
  }
  return a.labels.size() < b.labels.size();
}

bool Record::SameData(const Record& o) const {
  if (type != o.type || cls != o.cls || !SameName(name, o.name)) return false;
  switch (type) {
    case kTypeA:
      return std::memcmp(a, o.a, 4) == 0;
    case kTypePTR:
      return SameName(ptr, o.ptr);
    case kTypeSRV:
      return srv.priority == o.srv.priority && srv.weight == o.srv.weight &&
             srv.port == o.srv.port && SameName(srv.target, o.srv.target);
    default:
      return rdata == o.rdata;
  }
}

const char* ParseErrorName(ParseError e) {
  switch (e) {
    case ParseError::kNone: return "none";
    case ParseError::kShortHeader: return "short header";
    case ParseError::kTruncated: return "truncated";
    case ParseError::kLabelTooLong: return "label too long";
    case ParseError::kBadLabelType: return "bad label type";
    case ParseError::kNameTooLong: return "name too long";
    case ParseError::kBadPointer: return "bad pointer";
    case ParseError::kTooManyHops: return "too many hops";
    case ParseError::kBadRdata: return "bad rdata";
  }
  return "?";
}

ParseError ParseMessage(const uint8_t* data, size_t len, Message* out) {
  *out = Message();
  if (data == nullptr || len < kHeaderBytes) return ParseError::kShortHeader;
  out->id = Get16(data);
  out->flags = Get16(data + 2);
  const size_t qd = Get16(data + 4);
  const size_t an = Get16(data + 6);
  const size_t ns = Get16(data + 8);
  const size_t ar = Get16(data + 10);
  // Each question takes at least 5 bytes and each record 11: counts that
  // cannot fit are refused before anything is allocated for them.
  if (qd * 5 + (an + ns + ar) * 11 > len - kHeaderBytes) return ParseError::kTruncated;
  size_t pos = kHeaderBytes;
  out->questions.reserve(qd);
  for (size_t i = 0; i < qd; ++i) {
    Question q;
    const ParseError e = ReadQuestion(data, len, &pos, &q);
    if (e != ParseError::kNone) return e;
    out->questions.push_back(std::move(q));
  }
  out->records.reserve(an + ns + ar);
  for (size_t i = 0; i < an + ns + ar; ++i) {
    Record r;
    const ParseError e = ReadRecord(data, len, &pos, &r);
    if (e != ParseError::kNone) return e;
    out->records.push_back(std::move(r));
  }
  out->answerCount = an;
  return ParseError::kNone;
}

bool BuildMessage(const Message& m, size_t maxBytes, std::vector<uint8_t>* out) {
  out->clear();
  Put16(out, m.id);
  Put16(out, m.flags);
  Put16(out, static_cast<uint16_t>(m.questions.size()));
  Put16(out, 0);  // answers, patched below
  Put16(out, 0);
  Put16(out, 0);
  for (const Question& q : m.questions) {
    if (!ValidForWire(q.name)) return false;
    PutName(out, q.name);
    Put16(out, q.type);
    Put16(out, static_cast<uint16_t>(q.cls | (q.unicastResponse ? kClassTopBit : 0)));
  }
  if (out->size() > maxBytes) return false;
  uint16_t written = 0;
  for (const Record& r : m.records) {
    if (!ValidForWire(r.name)) continue;
    const size_t mark = out->size();
    PutRecord(out, r);
    if (out->size() > maxBytes) {
      out->resize(mark);
      break;
    }
    ++written;
  }
  (*out)[6] = static_cast<uint8_t>(written >> 8);
  (*out)[7] = static_cast<uint8_t>(written);
  return true;
}

}  // namespace mdns
