#include "bridges/updater/Appcast.h"

#include <gtest/gtest.h>

#include <string>

using updater::AppcastItem;

namespace {

std::string Feed(const std::string& items) {
  return "<?xml version='1.0' encoding='utf-8'?>\n"
         "<rss version='2.0' xmlns:sparkle='http://www.andymatuschak.org/xml-namespaces/sparkle'>"
         "<channel><title>T</title>" + items + "</channel></rss>";
}

std::string Item(const std::string& version, const std::string& url = "https://h/d.exe",
                 const std::string& more = "") {
  return "<item><title>v" + version + "</title><enclosure url='" + url + "' sparkle:version='" + version +
         "' " + more + "/></item>";
}

struct Parsed {
  bool ok;
  AppcastItem item;
  std::string why;
};

Parsed Parse(const std::string& text) {
  Parsed p;
  p.ok = updater::ParseAppcast(text.data(), text.size(), &p.item, &p.why);
  return p;
}

}  // namespace

TEST(Appcast, NewestUsableItemForWindows) {
  const struct {
    const char* name;
    std::string feed;
    const char* version;  // null: no usable item
    const char* url;
    const char* shortVersion;
  } cases[] = {
      {"newest of several, in any order", Feed(Item("1.0.1.9") + Item("1.10.0") + Item("1.9.9")), "1.10.0",
       "https://h/d.exe", ""},
      {"version as an element", Feed("<item><enclosure url='https://h/e.exe'/><sparkle:version> 2.0 </sparkle:version>"
                                     "<sparkle:shortVersionString>2</sparkle:shortVersionString></item>"),
       "2.0", "https://h/e.exe", "2"},
      {"short version shown", Feed(Item("3.0.0.7", "https://h/3.exe", "sparkle:shortVersionString='3.0'")), "3.0.0.7",
       "https://h/3.exe", "3.0"},
      {"other systems skipped",
       Feed(Item("9.0", "https://h/mac.dmg", "sparkle:os='macos'") + Item("2.0", "https://h/w.exe", "sparkle:os='windows-x64'")),
       "2.0", "https://h/w.exe", ""},
      {"items without version or download skipped",
       Feed("<item><enclosure sparkle:version='8.0'/></item><item><enclosure url='https://h/x'/></item>" + Item("1.5")),
       "1.5", "https://h/d.exe", ""},
      {"non-numeric version skipped", Feed(Item("2.0-beta") + Item("1.2")), "1.2", "https://h/d.exe", ""},
      {"entities of a document type stay unexpanded",
       "<!DOCTYPE rss [<!ENTITY v '9.9'>]>" + Feed(Item("&v;")), nullptr, nullptr, nullptr},
      {"no usable item", Feed(Item("")), nullptr, nullptr, nullptr},
      {"empty channel", Feed(""), nullptr, nullptr, nullptr},
      {"not RSS", "<feed><entry/></feed>", nullptr, nullptr, nullptr},
      {"not XML", "<rss><channel><item>", nullptr, nullptr, nullptr},
      {"empty", "", nullptr, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Parsed p = Parse(c.feed);
    EXPECT_EQ(c.version != nullptr, p.ok) << p.why;
    if (!c.version) {
      EXPECT_FALSE(p.why.empty());
      continue;
    }
    EXPECT_EQ(c.version, p.item.version);
    EXPECT_EQ(c.url, p.item.enclosureUrl);
    EXPECT_EQ(c.shortVersion, p.item.shortVersion);
  }
}

TEST(Appcast, SizeBound) {
  std::string big = Feed(Item("1.0") + "<!--" + std::string(updater::kMaxAppcastBytes, 'x') + "-->");
  Parsed p = Parse(big);
  EXPECT_FALSE(p.ok);
  EXPECT_NE(std::string::npos, p.why.find("larger"));
  std::string fits = Feed(Item("1.0") + "<!--" + std::string(updater::kMaxAppcastBytes - 1000, 'x') + "-->");
  EXPECT_TRUE(Parse(fits).ok);
}

TEST(Appcast, VersionOrder) {
  const struct {
    const char* a;
    const char* b;
    bool valid;
    int order;
  } cases[] = {
      {"1.0.1.10", "1.0.1.10", true, 0}, {"1.2.0.5", "1.0.1.10", true, 1}, {"1.0.1.9", "1.0.1.10", true, -1},
      {"1.10", "1.9", true, 1},          {"2", "1.99.99", true, 1},        {"1.0", "1.0.0.0", true, 0},
      {"1.0.0.1", "1.0", true, 1},       {"01.2", "1.2", true, 0},         {"1..2", "1.2", false, 0},
      {"1.2.", "1.2", false, 0},         {"", "1", false, 0},              {"1.2b", "1.2", false, 0},
      {"v1.2", "1.2", false, 0},         {"1.0", "9999999999.0", false, 0},
  };
  for (const auto& c : cases) {
    int order = 42;
    EXPECT_EQ(c.valid, updater::CompareVersions(c.a, c.b, &order)) << c.a << " vs " << c.b;
    if (c.valid) {
      EXPECT_EQ(c.order, order) << c.a << " vs " << c.b;
    }
  }
}

TEST(Appcast, OnlyHttpsAddresses) {
  const struct {
    const char* url;
    bool https;
  } cases[] = {
      {"https://updates.example/appcast.xml", true}, {"HTTPS://H/x", true},  {"https://localhost:8443/a", true},
      {"http://updates.example/appcast.xml", false}, {"https://", false},    {"https:///path", false},
      {"file:///C:/x.exe", false},                   {"ftp://h/x", false},   {"httpsx://h/", false},
      {" https://h/", false},                        {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.https, updater::IsHttpsUrl(c.url)) << c.url;
}
