#include "bridges/dnssd/MdnsPacket.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "MdnsTestUtil.h"

using namespace mdns;
using mdnstest::N;

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes Header(uint16_t qd, uint16_t an, uint16_t ns = 0, uint16_t ar = 0) {
  return Bytes{0, 0, 0x84, 0, static_cast<uint8_t>(qd >> 8), static_cast<uint8_t>(qd),
               static_cast<uint8_t>(an >> 8), static_cast<uint8_t>(an),
               static_cast<uint8_t>(ns >> 8), static_cast<uint8_t>(ns),
               static_cast<uint8_t>(ar >> 8), static_cast<uint8_t>(ar)};
}

void Append(Bytes* b, const Bytes& more) { b->insert(b->end(), more.begin(), more.end()); }

void AppendLabel(Bytes* b, const std::string& l) {
  b->push_back(static_cast<uint8_t>(l.size()));
  b->insert(b->end(), l.begin(), l.end());
}

// type, class IN, TTL 4500, rdlength
Bytes Fixed(uint16_t type, uint16_t rdlength, bool flush = false) {
  return Bytes{static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(type),
               static_cast<uint8_t>(flush ? 0x80 : 0), 1, 0, 0, 0x11, 0x94,
               static_cast<uint8_t>(rdlength >> 8), static_cast<uint8_t>(rdlength)};
}

// One PTR answer "_raop._tcp.local." -> "TestRx" + pointer back to offset 12.
Bytes CompressedPtr() {
  Bytes b = Header(0, 1);
  AppendLabel(&b, "_raop");
  AppendLabel(&b, "_tcp");
  AppendLabel(&b, "local");
  b.push_back(0);
  Append(&b, Fixed(kTypePTR, 9));
  AppendLabel(&b, "TestRx");
  Append(&b, Bytes{0xC0, 0x0C});
  return b;
}

// A record whose TXT rdata holds a backwards chain of `pointers` pointers
// ending in the root, and a second record named by the chain's last pointer.
Bytes PointerChain(int pointers) {
  Bytes b = Header(0, 2);
  b.push_back(0);  // first record: root name
  Append(&b, Fixed(kTypeTXT, static_cast<uint16_t>(1 + 2 * pointers)));
  const size_t root = b.size();
  b.push_back(0);
  size_t prev = root;
  for (int i = 0; i < pointers; ++i) {
    const size_t here = b.size();
    b.push_back(static_cast<uint8_t>(0xC0 | (prev >> 8)));
    b.push_back(static_cast<uint8_t>(prev));
    prev = here;
  }
  b.push_back(static_cast<uint8_t>(0xC0 | (prev >> 8)));
  b.push_back(static_cast<uint8_t>(prev));
  Append(&b, Fixed(kTypeA, 4));
  Append(&b, Bytes{127, 0, 0, 2});
  return b;
}

Bytes NameOfLabels(const std::vector<size_t>& sizes) {
  Bytes b = Header(1, 0);
  for (size_t s : sizes) AppendLabel(&b, std::string(s, 'x'));
  b.push_back(0);
  Append(&b, Bytes{0, 1, 0, 1});
  return b;
}

}  // namespace

TEST(MdnsPacket, ReadsCompressedNamesAndEveryRecordType) {
  Message m;
  const Bytes p = CompressedPtr();
  ASSERT_EQ(ParseMessage(p.data(), p.size(), &m), ParseError::kNone);
  ASSERT_EQ(m.records.size(), 1u);
  EXPECT_TRUE(m.IsResponse());
  EXPECT_EQ(m.records[0].ptr.ToDotted(), "TestRx._raop._tcp.local.");
  EXPECT_EQ(m.records[0].ttl, 4500u);

  const Bytes a = mdnstest::TestRxAnnouncement();
  ASSERT_EQ(ParseMessage(a.data(), a.size(), &m), ParseError::kNone);
  ASSERT_EQ(m.records.size(), 4u);
  EXPECT_EQ(m.answerCount, 4u);
  EXPECT_EQ(m.records[1].srv.port, 47000);
  EXPECT_EQ(m.records[1].srv.target.ToDotted(), "rx1.local.");
  EXPECT_TRUE(m.records[1].cacheFlush);
  EXPECT_EQ(m.records[1].cls, kClassIN);
  EXPECT_EQ(m.records[2].rdata, mdnstest::TxtData({"txtvers=1", "am=TestRx"}));
  EXPECT_EQ(Bytes(m.records[3].a, m.records[3].a + 4), (Bytes{127, 0, 0, 2}));
}

TEST(MdnsPacket, RefusesWhatRunsPastItsBounds) {
  struct Case {
    const char* what;
    Bytes bytes;
    ParseError expected;
  };
  std::vector<Case> cases;
  cases.push_back({"11-byte header", Bytes(11, 0), ParseError::kShortHeader});
  cases.push_back({"answer counted but absent", Header(0, 1), ParseError::kTruncated});
  cases.push_back({"65535 of each count", Header(0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF), ParseError::kTruncated});
  {
    Bytes b = Header(1, 0);
    Append(&b, Bytes{0xC0, 0x0C, 0, 1, 0, 1});
    cases.push_back({"pointer to itself", b, ParseError::kBadPointer});
  }
  {
    Bytes b = Header(1, 0);
    Append(&b, Bytes{0xC0, 0x20, 0, 1, 0, 1});
    cases.push_back({"pointer forwards", b, ParseError::kBadPointer});
  }
  {
    Bytes b = Header(1, 0);
    AppendLabel(&b, "a");
    Append(&b, Bytes{0xC0, 0x0C, 0, 1, 0, 1});
    cases.push_back({"pointer back into its own name", b, ParseError::kTruncated});
  }
  cases.push_back({"chain of 20 pointers", PointerChain(20), ParseError::kTooManyHops});
  {
    Bytes b = Header(1, 0);
    Append(&b, Bytes{0x40, 0, 0, 1, 0, 1});
    cases.push_back({"label type 01", b, ParseError::kBadLabelType});
  }
  {
    Bytes b = Header(1, 0);
    Append(&b, Bytes{0x80, 0, 0, 1, 0, 1});
    cases.push_back({"label type 10", b, ParseError::kBadLabelType});
  }
  cases.push_back({"name of 257 bytes", NameOfLabels({63, 63, 63, 63}), ParseError::kNameTooLong});
  {
    Bytes b = Header(1, 0);
    AppendLabel(&b, "abc");
    cases.push_back({"name without its end", b, ParseError::kTruncated});
  }
  {
    Bytes b = Header(0, 1);
    b.push_back(0);
    Append(&b, Fixed(kTypeTXT, 200));
    Append(&b, Bytes(10, 'x'));
    cases.push_back({"rdlength past the datagram", b, ParseError::kTruncated});
  }
  for (uint16_t len : {3, 5}) {
    Bytes b = Header(0, 1);
    b.push_back(0);
    Append(&b, Fixed(kTypeA, len));
    Append(&b, Bytes(len, 1));
    cases.push_back({"A record not of 4 bytes", b, ParseError::kBadRdata});
  }
  {
    Bytes b = Header(0, 1);
    b.push_back(0);
    Append(&b, Fixed(kTypeSRV, 6));
    Append(&b, Bytes{0, 0, 0, 0, 0xB7, 0x98});
    cases.push_back({"SRV without target", b, ParseError::kBadRdata});
  }
  {
    // The target's label runs past rdlength into bytes that follow.
    Bytes b = Header(0, 1);
    b.push_back(0);
    Append(&b, Fixed(kTypeSRV, 9));
    Append(&b, Bytes{0, 0, 0, 0, 0xB7, 0x98});
    AppendLabel(&b, "rx1");
    b.push_back(0);
    cases.push_back({"SRV target past rdlength", b, ParseError::kBadRdata});
  }
  {
    Bytes b = Header(0, 1);
    b.push_back(0);
    Append(&b, Fixed(kTypePTR, 3));
    AppendLabel(&b, "TestRx");
    b.push_back(0);
    cases.push_back({"PTR name past rdlength", b, ParseError::kBadRdata});
  }
  {
    Bytes b = Header(0, 1);
    b.push_back(0);
    Append(&b, Fixed(kTypePTR, 4));
    Append(&b, Bytes{1, 'a', 0, 0});
    cases.push_back({"PTR name shorter than rdlength", b, ParseError::kBadRdata});
  }
  for (const Case& c : cases) {
    Message m;
    EXPECT_EQ(ParseMessage(c.bytes.data(), c.bytes.size(), &m), c.expected)
        << c.what << ": got " << ParseErrorName(ParseMessage(c.bytes.data(), c.bytes.size(), &m));
  }
  Message m;
  EXPECT_EQ(ParseMessage(nullptr, 0, &m), ParseError::kShortHeader);
}

TEST(MdnsPacket, AcceptsTheLimitsThemselves) {
  Message m;
  Bytes b = NameOfLabels({63, 63, 63, 61});  // exactly 255 bytes on the wire
  ASSERT_EQ(ParseMessage(b.data(), b.size(), &m), ParseError::kNone);
  EXPECT_EQ(m.questions[0].name.WireBytes(), 255u);
  b = PointerChain(15);  // 16 hops with the second record's own pointer
  ASSERT_EQ(ParseMessage(b.data(), b.size(), &m), ParseError::kNone);
  EXPECT_TRUE(m.records[1].name.empty());
  // TXT of length 0 is read as it is: its meaning is the caller's business.
  b = mdnstest::Response({mdnstest::Txt("TestRx._raop._tcp.local.", {}, 4500)});
  ASSERT_EQ(ParseMessage(b.data(), b.size(), &m), ParseError::kNone);
  EXPECT_TRUE(m.records[0].rdata.empty());
}

TEST(MdnsPacket, EveryTruncationOfAValidDatagramIsRefused) {
  for (const Bytes& full : {CompressedPtr(), mdnstest::TestRxAnnouncement()}) {
    for (size_t len = 0; len < full.size(); ++len) {
      Message m;
      EXPECT_NE(ParseMessage(full.data(), len, &m), ParseError::kNone) << "length " << len;
    }
  }
}

// Random damage to valid datagrams: never a crash, and whatever parses keeps
// the limits.
TEST(MdnsPacket, FuzzedDatagramsKeepTheLimits) {
  std::mt19937 rng(20240611);
  const std::vector<Bytes> seeds = {CompressedPtr(), mdnstest::TestRxAnnouncement(), PointerChain(8)};
  int parsed = 0;
  for (int round = 0; round < 30000; ++round) {
    Bytes b = seeds[rng() % seeds.size()];
    const int edits = 1 + static_cast<int>(rng() % 6);
    for (int e = 0; e < edits; ++e) {
      const size_t at = rng() % b.size();
      switch (rng() % 4) {
        case 0: b[at] = static_cast<uint8_t>(rng()); break;
        case 1: b[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
        case 2: b.resize(at + 1); break;
        case 3: b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint8_t>(rng())); break;
      }
      if (b.empty()) b.push_back(0);
    }
    Message m;
    if (ParseMessage(b.data(), b.size(), &m) != ParseError::kNone) continue;
    ++parsed;
    for (const Record& r : m.records) {
      ASSERT_LE(r.name.WireBytes(), kMaxNameWireBytes);
      for (const std::string& l : r.name.labels) ASSERT_LE(l.size(), kMaxLabelBytes);
      ASSERT_LE(r.rdata.size(), b.size());
    }
  }
  // The damage left enough datagrams readable for the invariants to matter.
  EXPECT_GT(parsed, 1000);
}

TEST(MdnsPacket, WrittenMessagesReadBackAndKnownAnswersStopAtTheLimit) {
  Message q;
  Question question;
  question.name = N("_raop._tcp.local.");
  question.type = kTypePTR;
  q.questions.push_back(question);
  for (int i = 0; i < 200; ++i)
    q.records.push_back(mdnstest::Ptr("_raop._tcp.local.", "Rx" + std::to_string(i) + "._raop._tcp.local.", 4500));
  Bytes out;
  ASSERT_TRUE(BuildMessage(q, kMaxQueryBytes, &out));
  EXPECT_LE(out.size(), kMaxQueryBytes);
  Message back;
  ASSERT_EQ(ParseMessage(out.data(), out.size(), &back), ParseError::kNone);
  ASSERT_EQ(back.questions.size(), 1u);
  EXPECT_TRUE(SameName(back.questions[0].name, question.name));
  ASSERT_GT(back.records.size(), 10u);
  ASSERT_LT(back.records.size(), 200u);
  for (size_t i = 0; i < back.records.size(); ++i) EXPECT_TRUE(back.records[i].SameData(q.records[i]));
}

TEST(MdnsPacket, NamesInPresentationForm) {
  Name n;
  ASSERT_TRUE(Name::FromDotted("My\\.Rx\\\\1._raop._tcp.local", &n));
  ASSERT_EQ(n.labels.size(), 4u);
  EXPECT_EQ(n.labels[0], "My.Rx\\1");
  EXPECT_EQ(n.ToDotted(), "My\\.Rx\\\\1._raop._tcp.local.");
  ASSERT_TRUE(Name::FromDotted("\\065\\009b.local.", &n));
  EXPECT_EQ(n.labels[0], "A\tb");
  EXPECT_EQ(n.ToDotted(), "A\\009b.local.");
  for (const char* bad : {"abc\\", "a\\25", "\\256.local", "a..b", "x.\\1"})
    EXPECT_FALSE(Name::FromDotted(bad, &n)) << bad;
  EXPECT_FALSE(Name::FromDotted(std::string(64, 'x') + ".local", &n));
  EXPECT_TRUE(SameName(N("RX1.Local."), N("rx1.local")));
  EXPECT_TRUE(N("TestRx._raop._tcp.local.").IsChildOf(N("_RAOP._tcp.local.")));
  EXPECT_FALSE(N("a.TestRx._raop._tcp.local.").IsChildOf(N("_raop._tcp.local.")));
}
