#include "foundation/updater/UpdaterSetup.h"

#ifndef TESS_UPDATE_FEED_HOST
#define TESS_UPDATE_FEED_HOST "updates.tessarine.invalid"
#endif

const char kUpdateFeedHost[] = TESS_UPDATE_FEED_HOST;

std::string BuildAppcastUrl(const std::string& host, bool internalFeed, const std::string& language) {
  std::string url = "https://" + host + "/file_system/apt_repository/dists/WZJ01";
  if (internalFeed) url += "_Internal";
  url += "/released/binary-i386/";
  url += language;
  url += ".appcast.xml";
  return url;
}
