// Fuzz target: the search's listing scanner over any bytes. It must end
// with "end" or "error" after at most one event per byte (plus the closes
// it owes), and never read outside the input.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "search/listing_scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  tamber::search::ListingScanner s(std::string_view(reinterpret_cast<const char*>(data), size));
  size_t events = 0;
  for (;;) {
    auto ev = s.next();
    if (ev == tamber::search::ListingScanner::Event::end ||
        ev == tamber::search::ListingScanner::Event::error) {
      break;
    }
    if (++events > 2 * size + 2) std::abort();  // it must make progress
  }
  return 0;
}
