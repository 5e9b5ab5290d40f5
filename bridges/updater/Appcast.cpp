#include "bridges/updater/Appcast.h"

#include <cctype>
#include <vector>

#include <pugixml.hpp>

namespace updater {

namespace {

bool SplitVersion(const std::string& text, std::vector<unsigned long>* parts) {
  parts->clear();
  if (text.empty()) return false;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t dot = text.find('.', pos);
    if (dot == std::string::npos) dot = text.size();
    if (dot == pos || dot - pos > 9) return false;  // empty or absurdly long part
    unsigned long value = 0;
    for (size_t i = pos; i < dot; ++i) {
      if (!isdigit(static_cast<unsigned char>(text[i]))) return false;
      value = value * 10 + static_cast<unsigned long>(text[i] - '0');
    }
    parts->push_back(value);
    pos = dot + 1;
    if (dot == text.size()) break;
  }
  return true;
}

std::string Trimmed(const char* text) {
  std::string s = text ? text : "";
  size_t begin = s.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  size_t end = s.find_last_not_of(" \t\r\n");
  return s.substr(begin, end - begin + 1);
}

bool ForWindows(const pugi::xml_node& item, const pugi::xml_node& enclosure) {
  std::string os = enclosure.attribute("sparkle:os").value();
  if (os.empty()) os = Trimmed(item.child_value("sparkle:os"));
  if (os.empty()) return true;
  for (char& c : os) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return os.compare(0, 7, "windows") == 0;
}

}  // namespace

bool CompareVersions(const std::string& a, const std::string& b, int* order) {
  std::vector<unsigned long> x, y;
  if (!SplitVersion(a, &x) || !SplitVersion(b, &y)) return false;
  size_t n = x.size() > y.size() ? x.size() : y.size();
  x.resize(n, 0);
  y.resize(n, 0);
  *order = 0;
  for (size_t i = 0; i < n; ++i) {
    if (x[i] != y[i]) {
      *order = x[i] < y[i] ? -1 : 1;
      break;
    }
  }
  return true;
}

bool IsHttpsUrl(const std::string& url) {
  static const char kScheme[] = "https://";
  const size_t n = sizeof(kScheme) - 1;
  if (url.size() <= n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (tolower(static_cast<unsigned char>(url[i])) != kScheme[i]) return false;
  }
  char first = url[n];
  return first != '/' && first != '?' && first != '#' && first != ':';
}

bool ParseAppcast(const char* data, size_t size, AppcastItem* newest, std::string* why) {
  if (size > kMaxAppcastBytes) {
    *why = "the feed is larger than allowed";
    return false;
  }
  pugi::xml_document doc;
  // pugixml never expands entities that a document type defines, so a feed
  // cannot make the parse grow beyond its own size.
  pugi::xml_parse_result parsed = doc.load_buffer(data, size, pugi::parse_default, pugi::encoding_utf8);
  if (!parsed) {
    *why = std::string("the feed is not well-formed XML (") + parsed.description() + ")";
    return false;
  }
  pugi::xml_node channel = doc.child("rss").child("channel");
  if (channel.empty()) {
    *why = "the document is not an RSS feed with a channel";
    return false;
  }
  bool found = false;
  for (pugi::xml_node item = channel.child("item"); item; item = item.next_sibling("item")) {
    pugi::xml_node enclosure = item.child("enclosure");
    if (enclosure.empty() || !ForWindows(item, enclosure)) continue;
    AppcastItem candidate;
    candidate.version = Trimmed(enclosure.attribute("sparkle:version").value());
    if (candidate.version.empty()) candidate.version = Trimmed(item.child_value("sparkle:version"));
    candidate.shortVersion = Trimmed(enclosure.attribute("sparkle:shortVersionString").value());
    if (candidate.shortVersion.empty()) {
      candidate.shortVersion = Trimmed(item.child_value("sparkle:shortVersionString"));
    }
    candidate.title = Trimmed(item.child_value("title"));
    candidate.enclosureUrl = Trimmed(enclosure.attribute("url").value());
    int order = 0;
    if (candidate.enclosureUrl.empty() || !CompareVersions(candidate.version, candidate.version, &order)) {
      continue;
    }
    if (found && CompareVersions(candidate.version, newest->version, &order) && order <= 0) continue;
    *newest = candidate;
    found = true;
  }
  if (!found) *why = "the feed has no item with a version and a download address";
  return found;
}

}  // namespace updater
