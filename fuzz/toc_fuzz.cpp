// Fuzz target: a drive's table of contents answer. What decodes must encode
// to the same table, and give ids without failing.

#include <cstdint>
#include <string>

#include "disc/toc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  auto toc = tamber::disc::decodeToc(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!toc) return 0;
  auto again = tamber::disc::decodeToc(tamber::disc::encodeToc(*toc));
  if (!again || again->trackCount() != toc->trackCount() || again->leadout.frames() != toc->leadout.frames()) {
    __builtin_trap();
  }
  tamber::disc::DiscIdentity id;
  (void)tamber::disc::computeDiscIdentity(*toc, id);
  std::string mb = tamber::disc::musicBrainzDiscId(*toc);
  if (!mb.empty() && mb.size() != 28) __builtin_trap();
  return 0;
}
