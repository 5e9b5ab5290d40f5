// The update feed ("appcast"): an RSS document whose items each describe one
// release, with the version in sparkle:version (an attribute of the
// enclosure or an element of the item) and the download in the enclosure's
// url. Pure text handling, no platform calls: the bytes come from the
// network and are bounded by the caller.
#pragma once

#include <cstddef>
#include <string>

namespace updater {

// The longest feed that is read; more is refused as oversized.
constexpr size_t kMaxAppcastBytes = 1024 * 1024;

struct AppcastItem {
  std::string version;       // sparkle:version, compared with the program's
  std::string shortVersion;  // sparkle:shortVersionString, shown when present
  std::string title;
  std::string enclosureUrl;
};

// The newest item meant for Windows (items whose sparkle:os names another
// system are skipped). False, with why set, for a document that is not a
// feed or has no item with a usable version and download address.
bool ParseAppcast(const char* data, size_t size, AppcastItem* newest, std::string* why);

// Dotted versions compared part by part as numbers ("1.10" > "1.9"; missing
// parts count as 0). False when either text holds a part that is no number.
bool CompareVersions(const std::string& a, const std::string& b, int* order);

// "https://" (any case) followed by a host: the only addresses the updater
// fetches or hands to the browser.
bool IsHttpsUrl(const std::string& url);

}  // namespace updater
