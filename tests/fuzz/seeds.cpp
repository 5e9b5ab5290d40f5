// fuzz-seeds OUT: writes each target's seed inputs to OUT/seeds/<target>/
// and the hostile inputs it must get through in bounded time to
// OUT/regress/<target>/. Property lists, mDNS datagrams, JSON and tokens come
// from the project's own writers; the texts are what the test receivers
// and the backend peer send.
#include <json/json.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bridges/dnssd/MdnsPacket.h"
#include "classlib/Str.h"
#include "engine/discovery/LookupToken.h"
#include "engine/plist/Plist.h"
#include "foundation/settings/SettingsCipher.h"
#include "tests/fuzz/QuerierFrames.h"

namespace {

typedef std::vector<uint8_t> Bytes;

std::string g_out;
int g_failures = 0;

void MakeDir(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "fuzz-seeds: cannot make %s: %s\n", path.c_str(), std::strerror(errno));
    ++g_failures;
  }
}

void Write(const char* kind, const char* target, const std::string& name, const Bytes& bytes) {
  const std::string dir = g_out + "/" + kind + "/" + target;
  MakeDir(g_out + "/" + kind);
  MakeDir(dir);
  const std::string path = dir + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    std::fprintf(stderr, "fuzz-seeds: cannot write %s\n", path.c_str());
    ++g_failures;
  }
  if (f) std::fclose(f);
}

void Seed(const char* target, const std::string& name, const Bytes& bytes) { Write("seeds", target, name, bytes); }
void Seed(const char* target, const std::string& name, const std::string& text) {
  Seed(target, name, Bytes(text.begin(), text.end()));
}
void Regress(const char* target, const std::string& name, const Bytes& bytes) {
  Write("regress", target, name, bytes);
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// ---------------------------------------------------------------- mDNS

mdns::Name N(const std::string& dotted) {
  mdns::Name n;
  mdns::Name::FromDotted(dotted, &n);
  return n;
}

mdns::Record Rec(const std::string& owner, uint16_t type, uint32_t ttl, bool flush) {
  mdns::Record r;
  r.name = N(owner);
  r.type = type;
  r.ttl = ttl;
  r.cacheFlush = flush;
  return r;
}

Bytes Datagram(const std::vector<mdns::Record>& records, uint16_t flags = 0x8400) {
  mdns::Message m;
  m.flags = flags;
  m.records = records;
  Bytes out;
  mdns::BuildMessage(m, mdns::kMaxMessageBytes, &out);
  return out;
}

// The test receiver's announcement: PTR, SRV, TXT and A of one instance.
std::vector<mdns::Record> Announcement(const std::string& instance, const std::string& type,
                                       const std::string& host, uint32_t ttl) {
  mdns::Record ptr = Rec(type, mdns::kTypePTR, ttl ? 4500 : 0, false);
  ptr.ptr = N(instance + "." + type);
  mdns::Record srv = Rec(instance + "." + type, mdns::kTypeSRV, ttl, true);
  srv.srv.port = 7000;
  srv.srv.target = N(host);
  mdns::Record txt = Rec(instance + "." + type, mdns::kTypeTXT, ttl ? 4500 : 0, true);
  const std::string kv[] = {"txtvers=1", "ch=2", "cn=0,1,2,3", "et=0,3,5", "sr=44100", "ss=16", "pw=false",
                            "vn=65537", "tp=UDP", "am=AppleTV3,2", "features=0x5A7FFFF7"};
  for (const std::string& s : kv) {
    txt.rdata.push_back(static_cast<uint8_t>(s.size()));
    txt.rdata.insert(txt.rdata.end(), s.begin(), s.end());
  }
  mdns::Record a = Rec(host, mdns::kTypeA, ttl, true);
  a.a[0] = 127;
  a.a[3] = 2;
  return {ptr, srv, txt, a};
}

// Names compressed against earlier ones, as responders write them.
class Compressed {
 public:
  explicit Compressed(uint16_t flags) {
    const uint8_t head[] = {0, 0, static_cast<uint8_t>(flags >> 8), static_cast<uint8_t>(flags), 0, 0, 0, 0, 0, 0, 0, 0};
    out_.assign(head, head + sizeof head);
  }
  void Record(const mdns::Record& r) {
    Name(r.name, &out_, out_.size());
    const uint16_t cls = r.cacheFlush ? 0x8001 : 1;
    const uint8_t fixed[] = {static_cast<uint8_t>(r.type >> 8), static_cast<uint8_t>(r.type),
                             static_cast<uint8_t>(cls >> 8), static_cast<uint8_t>(cls),
                             static_cast<uint8_t>(r.ttl >> 24), static_cast<uint8_t>(r.ttl >> 16),
                             static_cast<uint8_t>(r.ttl >> 8), static_cast<uint8_t>(r.ttl)};
    out_.insert(out_.end(), fixed, fixed + sizeof fixed);
    const size_t lengthAt = out_.size();
    out_.push_back(0);
    out_.push_back(0);
    if (r.type == mdns::kTypePTR) {
      Name(r.ptr, &out_, out_.size());
    } else if (r.type == mdns::kTypeSRV) {
      const uint8_t srv[] = {0, 0, 0, 0, static_cast<uint8_t>(r.srv.port >> 8), static_cast<uint8_t>(r.srv.port)};
      out_.insert(out_.end(), srv, srv + sizeof srv);
      Name(r.srv.target, &out_, out_.size());
    } else if (r.type == mdns::kTypeA) {
      out_.insert(out_.end(), r.a, r.a + 4);
    } else {
      out_.insert(out_.end(), r.rdata.begin(), r.rdata.end());
    }
    const size_t length = out_.size() - lengthAt - 2;
    out_[lengthAt] = static_cast<uint8_t>(length >> 8);
    out_[lengthAt + 1] = static_cast<uint8_t>(length);
    ++count_;
    out_[6] = static_cast<uint8_t>(count_ >> 8);
    out_[7] = static_cast<uint8_t>(count_);
  }
  const Bytes& bytes() const { return out_; }

 private:
  void Name(const mdns::Name& name, Bytes* out, size_t at) {
    for (size_t i = 0; i < name.labels.size(); ++i) {
      mdns::Name suffix;
      suffix.labels.assign(name.labels.begin() + i, name.labels.end());
      const std::string key = suffix.ToDotted();
      auto seen = offsets_.find(key);
      if (seen != offsets_.end()) {
        out->push_back(static_cast<uint8_t>(0xC0 | (seen->second >> 8)));
        out->push_back(static_cast<uint8_t>(seen->second));
        return;
      }
      if (at < 0x3FFF) offsets_[key] = at;
      out->push_back(static_cast<uint8_t>(name.labels[i].size()));
      out->insert(out->end(), name.labels[i].begin(), name.labels[i].end());
      at += 1 + name.labels[i].size();
    }
    out->push_back(0);
  }

  Bytes out_;
  unsigned count_ = 0;
  std::map<std::string, size_t> offsets_;
};

Bytes CompressedDatagram(const std::vector<mdns::Record>& records) {
  Compressed c(0x8400);
  for (const mdns::Record& r : records) c.Record(r);
  return c.bytes();
}

void MdnsSeeds() {
  mdns::Message query;
  for (const char* type : {"_raop._tcp.local.", "_airplay._tcp.local."}) {
    mdns::Question q;
    q.name = N(type);
    q.type = mdns::kTypePTR;
    query.questions.push_back(q);
  }
  mdns::Record known = Rec("_raop._tcp.local.", mdns::kTypePTR, 4500, false);
  known.ptr = N("Known._raop._tcp.local.");
  query.records.push_back(known);
  Bytes queryBytes;
  mdns::BuildMessage(query, mdns::kMaxQueryBytes, &queryBytes);

  const auto raop = Announcement("001C42ABCDEF@TestRx", "_raop._tcp.local.", "rx1.local.", 120);
  const auto airplay = Announcement("TestRx", "_airplay._tcp.local.", "rx1.local.", 120);
  const auto goodbye = Announcement("001C42ABCDEF@TestRx", "_raop._tcp.local.", "rx1.local.", 0);
  Seed("mdns_packet", "query", queryBytes);
  Seed("mdns_packet", "announcement", Datagram(raop));
  Seed("mdns_packet", "announcement-compressed", CompressedDatagram(raop));
  Seed("mdns_packet", "goodbye", Datagram(goodbye));

  Bytes frames;
  AppendQuerierFrame(&frames, 0, Datagram(raop));
  Seed("mdns_querier", "announcement", frames);
  AppendQuerierFrame(&frames, 50, CompressedDatagram(airplay));
  AppendQuerierFrame(&frames, 200, Datagram(goodbye));
  Seed("mdns_querier", "two-types-then-goodbye", frames);
  // Pointers first, the instance's records a little later, then its address.
  frames.clear();
  AppendQuerierFrame(&frames, 0, Datagram({raop[0], airplay[0]}));
  AppendQuerierFrame(&frames, 30, Datagram({raop[1], raop[2]}));
  AppendQuerierFrame(&frames, 30, Datagram({raop[3]}));
  AppendQuerierFrame(&frames, 255, Datagram({}, 0x0000));
  Seed("mdns_querier", "answers-in-pieces", frames);
}

// count TXT records of one name (cache flush or not), the owner written
// once and pointed at after, each with its own 2-byte content.
Bytes TxtFlood(const std::string& owner, int first, int count, bool flush) {
  Compressed c(0x8400);
  for (int i = 0; i < count; ++i) {
    mdns::Record r = Rec(owner, mdns::kTypeTXT, 4500, flush);
    const int v = first + i;
    r.rdata = {2, static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    c.Record(r);
  }
  return c.bytes();
}

void MdnsRegressions() {
  // Three times: the cache filled with TXT records of one name (as many as
  // seven datagrams of a responder bring), then one datagram of cache-flush
  // records of that name. Each must cost work bounded by the cache's
  // limits, not by their product.
  const std::string owner = "Flood._raop._tcp.local.";
  Bytes frames;
  int next = 0;
  for (int round = 0; round < 3; ++round) {
    for (int d = 0; d < 7; ++d) {
      AppendQuerierFrame(&frames, 1, TxtFlood(owner, next, 600, false));
      next += 600;
    }
    AppendQuerierFrame(&frames, 1, TxtFlood(owner, next, 641, true));
    next += 641;
  }
  Regress("mdns_querier", "cache-flush-flood", frames);

  // 30 datagrams of 150 distinct pointers each, every one resolved as the
  // discovery does: live resolves and their queries must stay bounded.
  frames.clear();
  for (int d = 0; d < 30; ++d) {
    std::vector<mdns::Record> ptrs;
    for (int i = 0; i < 150; ++i) {
      mdns::Record r = Rec("_raop._tcp.local.", mdns::kTypePTR, 4500, false);
      r.ptr = N("S" + std::to_string(d * 150 + i) + "._raop._tcp.local.");
      ptrs.push_back(r);
    }
    AppendQuerierFrame(&frames, 1, CompressedDatagram(ptrs));
  }
  Regress("mdns_querier", "spoofed-pointer-flood", frames);
}

// ---------------------------------------------------------------- property lists

Bytes Serialize(const boost::any& value) {
  std::vector<char> out;
  Plist::SerializeBinary(value, out);
  return Bytes(out.begin(), out.end());
}

// A binary list of hand-made objects (object k is reference k).
Bytes BuildBinary(const std::vector<Bytes>& objects, unsigned refSize, unsigned offsetSize) {
  Bytes file = Text("bplist00");
  std::vector<uint64_t> offsets;
  for (const Bytes& object : objects) {
    offsets.push_back(file.size());
    file.insert(file.end(), object.begin(), object.end());
  }
  const uint64_t table = file.size();
  auto put = [&](uint64_t v, unsigned n) {
    for (unsigned i = n; i-- > 0;) file.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  for (uint64_t offset : offsets) put(offset, offsetSize);
  file.insert(file.end(), 6, 0);
  file.push_back(static_cast<uint8_t>(offsetSize));
  file.push_back(static_cast<uint8_t>(refSize));
  put(objects.size(), 8);
  put(0, 8);
  put(table, 8);
  return file;
}

// 8 KiB naming one string of unpaired surrogates 390000 times: refused
// within the reader's budget, not converted 390000 times.
Bytes SharedSurrogates() {
  Bytes root{0xAF, 0x11, 0x07, 0xD0};
  root.insert(root.end(), 2000, 1);
  Bytes middle{0xAF, 0x10, 195};
  middle.insert(middle.end(), 195, 2);
  Bytes surrogates{0x6F, 0x11, 0x0B, 0x99};
  for (int i = 0; i < 2969; ++i) {
    surrogates.push_back(0xDC);
    surrogates.push_back(0x00);
  }
  return BuildBinary({root, middle, surrogates}, 1, 2);
}

Plist::Dictionary StreamInfo() {
  Plist::Dictionary reply;
  reply["height"] = int64_t(1080);
  reply["version"] = std::string("150.33");
  reply["width"] = int64_t(1920);
  return reply;
}

void PlistSeeds() {
  Plist::Dictionary announcement;
  Plist::Array fps;
  for (const char* name : {"SubS", "B4En", "EnDp", "IdEn", "IdDp", "EQDp", "QueF", "Sent"})
    fps.push_back(Plist::Dictionary{{"name", std::string(name)}});
  announcement["deviceID"] = int64_t(0x001C42ABCDEF);
  announcement["fpsInfo"] = fps;
  announcement["latencyMs"] = int32_t(90);
  announcement["sessionID"] = int32_t(-1698898192);
  announcement["version"] = std::string("130.16");
  Seed("plist_binary", "stream-announcement", Serialize(announcement));
  Seed("plist_binary", "stream-info", Serialize(StreamInfo()));

  Plist::Dictionary rich;
  rich["data"] = Plist::Data(20, '\x5A');
  rich["date"] = Plist::Date(1700000000);
  rich["list"] = Plist::Array{0.0, -1.5, 0.25f, true, false, int64_t(-1), std::string(16, 's')};
  rich["nested"] = Plist::Array{Plist::Array{Plist::Dictionary{{"deep", std::string("yes")}}}};
  Seed("plist_binary", "every-type", Serialize(rich));
  Plist::Array wide;
  for (int i = 0; i < 270; ++i) wide.push_back(int32_t(i * 7919));
  Seed("plist_binary", "wide-references", Serialize(wide));
  // What other writers make: shared key strings, UTF-16 text, a 4-byte real.
  Seed("plist_binary", "other-writers",
       BuildBinary({{0xD3, 1, 2, 3, 4, 5, 6},
                    {0x55, 'w', 'i', 'd', 't', 'h'},
                    {0x66, 0x00, 'h', 0x00, 'e', 0x00, 'i', 0x00, 'g', 0x00, 'h', 0x00, 't'},
                    {0x67, 0x00, 'v', 0x00, 'e', 0x00, 'r', 0x00, 's', 0x00, 'i', 0x00, 'o', 0x00, 'n'},
                    {0x11, 0x07, 0x80},
                    {0x22, 0x3F, 0xC0, 0x00, 0x00},
                    {0xA3, 1, 1, 7},
                    {0x63, 0x00, 0xE9, 0xD8, 0x3D, 0xDE, 0x00}},
                   1, 1));

  Regress("plist_binary", "utf16-surrogates-shared", SharedSurrogates());
  // A double whose upper half is zero: written back, it must read the same.
  Regress("plist_binary", "subnormal-real", BuildBinary({{0x23, 0, 0, 0, 0, 0, 0, 0x07, 0xE8}}, 1, 1));

  Seed("plist_xml", "stream-info",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<dict>\n"
       "\t<key>height</key>\n\t<integer>1080</integer>\n\t<key>overscanned</key>\n\t<false/>\n"
       "\t<key>refreshRate</key>\n\t<real>0.016666666666666666</real>\n\t<key>version</key>\n"
       "\t<string>150.33</string>\n\t<key>width</key>\n\t<integer>1920</integer>\n</dict>\n</plist>\n");
  Seed("plist_xml", "every-kind",
       "<plist><dict><key>a</key><array><real>1.5</real><true/><false/><data>QUJD\nREVG</data>"
       "<date>2024-02-29T12:34:56Z</date><dict><key>n</key><string>x&amp;y</string></dict></array>"
       "<key>b</key><integer>-9</integer></dict></plist>");
}

// ---------------------------------------------------------------- replies

void ReplySeeds() {
  const std::string challenge =
      "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\nServer: AirTunes/220.68\r\n"
      "WWW-Authenticate: Digest realm=\"raop\", nonce=\"1b1a6b0ac57e4f1a8f3e0bdc6a1a2a5d\"\r\n\r\n";
  const std::string ok = "RTSP/1.0 200 OK\r\nCSeq: 2\r\nServer: AirTunes/220.68\r\n\r\n";
  const std::string setup =
      "RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 1\r\nAudio-Jack-Status: connected; type=analog\r\n"
      "Transport: RTP/AVP/UDP;unicast;mode=record;server_port=6000;control_port=6001;timing_port=6002\r\n\r\n";
  const std::string record = "RTSP/1.0 200 OK\r\nCSeq: 4\r\nAudio-Latency: 11025\r\n\r\n";
  const std::string volume = "RTSP/1.0 200 OK\r\nCSeq: 5\r\nContent-Length: 4\r\n\r\nbody";
  const std::string folded = "RTSP/1.0 200 OK\r\nCSeq: 5\r\nX-Long: one\r\n  two\r\n\tthree\r\n\r\n";
  Seed("rtsp_reply", "password-session", Text("\x40" + challenge + ok + setup + record + volume));
  Seed("rtsp_reply", "open-session-in-pieces", Text("\x07" + ok + setup + record + folded));
  Seed("rtsp_reply", "refused", Text(std::string("\x00", 1) + "RTSP/1.0 453 Not Enough Bandwidth\r\nCSeq: 1\r\n\r\n"));

  const Bytes body = Serialize(StreamInfo());
  const Bytes okReply = Concat(Text("HTTP/1.1 200 OK\r\nContent-Type: application/x-apple-binary-plist\r\n"
                                    "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n"),
                               body);
  Seed("handshake_reply", "stream-info", okReply);
  Seed("handshake_reply", "challenge-then-stream-info",
       Concat(Text("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"AirPlay\", "
                   "nonce=\"MTMzNjU2MzE4NDM1NzEzNDkwOB==\"\r\nContent-Length: 0\r\n\r\n"),
              okReply));
  const std::string xml =
      "<plist><dict><key>height</key><integer>720</integer><key>version</key><string>1</string>"
      "<key>width</key><integer>1280</integer></dict></plist>";
  Seed("handshake_reply", "xml-body",
       "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(xml.size()) + "\r\n\r\n" + xml);

  // The same list as a receiver's reply: it fits the handshake's body bound.
  const Bytes bomb = SharedSurrogates();
  Regress("handshake_reply", "utf16-surrogates-shared",
          Concat(Text("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(bomb.size()) + "\r\n\r\n"), bomb));

  Seed("digest", "receiver", std::string("\x00", 1) + " realm=\"raop\", nonce=\"1b1a6b0ac57e4f1a8f3e0bdc6a1a2a5d\"");
  Seed("digest", "unclosed-and-others", "\x01" "username=\"u\", realm=\"AirPlay, nonce=\"n\", uri=\"/\", response=\"r\"");
}

// ---------------------------------------------------------------- JSON, token

std::string JsonText(const Json::Value& v) {
  Json::StreamWriterBuilder writer;
  writer["indentation"] = "";
  return Json::writeString(writer, v);
}

void JsonSeeds() {
  Json::Value relay;
  relay["result"] = 0;
  relay["data"]["relay_info"]["ip_addr"] = "203.0.113.7";
  relay["data"]["relay_info"]["port"] = 443;
  relay["data"]["relay_info"]["fqdn"] = "relay.tessarine.invalid";
  relay["data"]["relay_info"]["relay_key_smc"] = "k3y";
  Seed("json_replies", "relay-info", JsonText(relay));
  Json::Value token;
  token["result"] = 0;
  token["data"]["token"] = "t0k";
  token["data"]["category"] = "601";
  token["data"]["info"]["desc"] = "AbCd==";
  Seed("json_replies", "service-token", JsonText(token));
  Json::Value error;
  error["result"] = 30001;
  error["messages"].append("device not registered");
  Seed("json_replies", "error", JsonText(error));

  Json::Value receiver;
  receiver["name"] = "Meeting Room";
  receiver["port"] = "7000";
  receiver["code"] = 1234;
  Json::Value itf;
  itf["ip"] = "127.0.0.2";
  itf["mac"] = "00:1C:42:AB:CD:EF";
  receiver["interfaces"].append(itf);
  itf["ip"] = "192.0.2.5";
  receiver["interfaces"].append(itf);
  const std::string text = JsonText(receiver);
  Seed("lookup_token", "json", "\x00" + text);
  std::string cipher;
  if (!EncryptSettingUtf8(text, cl::WideToUtf8(LookupTokenKey()), &cipher)) {
    std::fprintf(stderr, "fuzz-seeds: the token writer refused the receiver\n");
    ++g_failures;
  }
  Seed("lookup_token", "token", "\x01" + cipher);
}

// ---------------------------------------------------------------- appcast, GIF, dialog

void AppcastSeeds() {
  Seed("appcast", "two-items",
       "<?xml version='1.0' encoding='utf-8'?>\n"
       "<rss version='2.0' xmlns:sparkle='http://www.andymatuschak.org/xml-namespaces/sparkle'><channel>"
       "<title>Tessarine</title>"
       "<item><title>1.10.0</title><enclosure url='https://updates.tessarine.invalid/1.10.0.exe' "
       "sparkle:version='1.10.0' sparkle:shortVersionString='1.10' sparkle:os='windows'/></item>"
       "<item><title>9.0</title><enclosure url='https://updates.tessarine.invalid/mac.dmg' sparkle:version='9.0' "
       "sparkle:os='macos'/></item>"
       "<item><enclosure url='https://updates.tessarine.invalid/e.exe'/><sparkle:version> 2.0 </sparkle:version>"
       "<sparkle:shortVersionString>2</sparkle:shortVersionString></item>"
       "</channel></rss>");
}

void GifSeeds() {
  const Bytes header = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 2, 0, 0x80, 0, 0,  // 4x2, 2-colour table
                        0, 0, 0, 255, 255, 255};
  const Bytes loop = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0};
  const Bytes comment = {0x21, 0xFE, 3, 'h', 'i', '!', 0};
  auto control = [](uint8_t delay, uint8_t disposal) {
    return Bytes{0x21, 0xF9, 4, static_cast<uint8_t>(disposal << 2), delay, 0, 0, 0};
  };
  const Bytes image = {0x2C, 0, 0, 0, 0, 4, 0, 2, 0, 0, 2, 2, 0x84, 0x51, 0};
  const Bytes localTable = {0x2C, 1, 0, 0, 0, 2, 0, 1, 0, 0x80, 9, 9, 9, 200, 200, 200, 2, 2, 0x44, 0x01, 0};
  Bytes animated = Concat(Concat(header, loop), control(10, 2));
  animated = Concat(Concat(Concat(animated, image), comment), control(3, 1));
  animated = Concat(Concat(animated, localTable), Bytes{0x3B});
  Seed("gif", "animated", animated);
  Seed("gif", "one-frame", Concat(Concat(header, image), Bytes{0x3B}));
}

void PutU16(Bytes* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}
void PutU32(Bytes* out, uint32_t v) {
  PutU16(out, static_cast<uint16_t>(v));
  PutU16(out, static_cast<uint16_t>(v >> 16));
}
void PutText(Bytes* out, const std::string& text) {
  for (char c : text) PutU16(out, static_cast<uint8_t>(c));
  PutU16(out, 0);
}
void Align(Bytes* out) {
  while (out->size() % 4) out->push_back(0);
}

// The input box's layout: an edit field, OK and Cancel, in both forms.
Bytes DialogTemplate(bool extended) {
  Bytes t;
  const uint32_t style = 0x80C800C0;  // DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
  if (extended) {
    PutU16(&t, 1);
    PutU16(&t, 0xFFFF);
    PutU32(&t, 0);
    PutU32(&t, 0);
    PutU32(&t, style);
  } else {
    PutU32(&t, style);
    PutU32(&t, 0);
  }
  PutU16(&t, 3);
  for (uint16_t v : {0, 0, 186, 63}) PutU16(&t, v);
  PutU16(&t, 0);                 // no menu
  PutU16(&t, 0);                 // the dialog class
  PutText(&t, "Connection ID");  // title
  PutU16(&t, 8);
  if (extended) {
    PutU16(&t, 400);
    t.push_back(0);
    t.push_back(1);
  }
  PutText(&t, "MS Shell Dlg");
  const struct {
    uint16_t x, y, cx, cy, id, cls;
  } items[] = {{7, 7, 172, 14, 1000, 0x81}, {75, 42, 50, 14, 1, 0x80}, {129, 42, 50, 14, 2, 0x80}};
  for (const auto& item : items) {
    Align(&t);
    if (extended) PutU32(&t, 0);
    PutU32(&t, extended ? 0 : 0x50010000);
    PutU32(&t, extended ? 0x50010000 : 0);
    for (uint16_t v : {item.x, item.y, item.cx, item.cy}) PutU16(&t, v);
    if (extended) PutU32(&t, item.id);
    else PutU16(&t, item.id);
    PutU16(&t, 0xFFFF);
    PutU16(&t, item.cls);
    PutText(&t, item.id == 1 ? "OK" : item.id == 2 ? "Cancel" : "");
    PutU16(&t, 0);
  }
  return t;
}

void DialogSeeds() {
  Seed("dialog_template", "classic", DialogTemplate(false));
  Seed("dialog_template", "extended", DialogTemplate(true));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz-seeds OUT\n");
    return 2;
  }
  g_out = argv[1];
  MakeDir(g_out);
  MdnsSeeds();
  MdnsRegressions();
  PlistSeeds();
  ReplySeeds();
  JsonSeeds();
  AppcastSeeds();
  GifSeeds();
  DialogSeeds();
  return g_failures == 0 ? 0 : 1;
}
