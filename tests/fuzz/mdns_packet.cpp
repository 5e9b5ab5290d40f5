// One received mDNS datagram: read, written back without compression, and
// read again to the same questions and records; every name survives its
// presentation form.
#include "bridges/dnssd/MdnsPacket.h"
#include "tests/fuzz/FuzzInput.h"

using namespace mdns;

namespace {

void CheckDotted(const Name& name) {
  Name again;
  FUZZ_CHECK(Name::FromDotted(name.ToDotted(), &again));
  FUZZ_CHECK(SameName(name, again));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Message m;
  if (ParseMessage(data, size, &m) != ParseError::kNone) return 0;
  FUZZ_CHECK(m.answerCount <= m.records.size());
  for (const Question& q : m.questions) CheckDotted(q.name);
  for (const Record& r : m.records) {
    CheckDotted(r.name);
    if (r.type == kTypePTR) CheckDotted(r.ptr);
    if (r.type == kTypeSRV) CheckDotted(r.srv.target);
  }

  std::vector<uint8_t> written;
  FUZZ_CHECK(BuildMessage(m, SIZE_MAX, &written));
  Message again;
  FUZZ_CHECK(ParseMessage(written.data(), written.size(), &again) == ParseError::kNone);
  FUZZ_CHECK(again.questions.size() == m.questions.size());
  FUZZ_CHECK(again.records.size() == m.records.size());
  for (size_t i = 0; i < m.questions.size(); ++i) {
    FUZZ_CHECK(SameName(again.questions[i].name, m.questions[i].name));
    FUZZ_CHECK(again.questions[i].type == m.questions[i].type);
  }
  for (size_t i = 0; i < m.records.size(); ++i) {
    FUZZ_CHECK(again.records[i].SameData(m.records[i]));
    FUZZ_CHECK(again.records[i].ttl == m.records[i].ttl);
    FUZZ_CHECK(again.records[i].cacheFlush == m.records[i].cacheFlush);
  }
  return 0;
}
