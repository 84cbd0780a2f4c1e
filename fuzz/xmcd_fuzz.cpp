// Fuzz target: a disc database entry in xmcd form.

#include <cstdint>
#include <string>

#include "disc/disc_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  tamber::disc::DiscEntry entry;
  auto st = tamber::disc::parseDiscEntry(std::string_view(reinterpret_cast<const char*>(data), size), entry);
  if (entry.trackTitles.size() > 99 || entry.extendedTrackData.size() > 99) __builtin_trap();
  if (st && entry.trackTitles.size() != entry.extendedTrackData.size()) __builtin_trap();
  return 0;
}
