// The update feed as the updater fetches it; the newest item's version and
// address go on to the comparison and the address check.
#include "bridges/updater/Appcast.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > updater::kMaxAppcastBytes) return 0;
  updater::AppcastItem newest;
  std::string why;
  if (!updater::ParseAppcast(reinterpret_cast<const char*>(data), size, &newest, &why)) {
    FUZZ_CHECK(!why.empty());
    return 0;
  }
  FUZZ_CHECK(!newest.version.empty());
  int order = 0;
  if (updater::CompareVersions(newest.version, newest.version, &order)) FUZZ_CHECK(order == 0);
  updater::CompareVersions(newest.version, "1.2.10", &order);
  updater::IsHttpsUrl(newest.enclosureUrl);
  return 0;
}
