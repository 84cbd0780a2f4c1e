// Fuzz target: the search's listing scanner over any bytes. It must end
// with "end" or "error" after at most one event per byte (plus the closes
// it owes), never read outside the input, and give the same events when
// the bytes are fed in pieces (of a size the first byte chooses).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "scan/listing_scanner.h"

namespace {

using tamber::scan::ListingScanner;

std::string trace(std::string_view doc, size_t piece) {
  ListingScanner whole(doc), fed;
  ListingScanner& s = piece ? fed : whole;
  size_t at = 0, events = 0;
  std::string out;
  for (;;) {
    auto ev = s.next();
    if (ev == ListingScanner::Event::more) {
      size_t take = piece < doc.size() - at ? piece : doc.size() - at;
      fed.feed(doc.substr(at, take), at + take == doc.size());
      at += take;
      continue;
    }
    if (ev == ListingScanner::Event::end) return out + "end";
    if (ev == ListingScanner::Event::error) return out + "error " + s.error();
    if (++events > 2 * doc.size() + 2) std::abort();  // it must make progress
    out += std::to_string(static_cast<int>(ev));
    out += s.name();
    out += '=';
    out += s.text();
    out += '\n';
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  size_t piece = 1 + data[0] % 64;
  std::string_view doc(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (trace(doc, 0) != trace(doc, piece)) std::abort();
  return 0;
}
