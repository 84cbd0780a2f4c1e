// Fuzz target: the replies of a disc database server (query, read, sites).

#include <cstdint>
#include <string>

#include "disc/cddb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::string_view body(reinterpret_cast<const char*>(data), size);
  std::vector<tamber::disc::CddbMatch> matches;
  (void)tamber::disc::parseQueryReply(body, matches);
  tamber::disc::DiscEntry entry;
  (void)tamber::disc::parseReadReply(body, entry);
  std::vector<tamber::disc::CddbSite> sites;
  if (tamber::disc::parseSitesReply(body, sites) == 0) {
    for (const auto& s : sites) {
      if (s.port <= 0 || s.port > 65535 || s.latitudeMinutes > 999 * 60 + 99) __builtin_trap();
    }
  }
  return 0;
}
