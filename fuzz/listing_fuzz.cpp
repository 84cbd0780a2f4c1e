// Fuzz target: listings read back from a library file (outside data), and
// the text rule that must turn any name into XML that reads back.
//
// Input: the main listing, then parts separated by "\n--part--\n".

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "scan/listing.h"
#include "scan/listing_reader.h"

using namespace tamber;

namespace {

void walk(const std::vector<scan::ListingEntry>& entries, size_t& n) {
  for (const auto& e : entries) {
    ++n;
    for (const auto& f : e.fields) (void)scan::fieldDisplayName(f.first);
    walk(e.children, n);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> pieces;
  const std::string sep = "\n--part--\n";
  size_t pos = 0;
  for (size_t at; (at = input.find(sep, pos)) != std::string::npos; pos = at + sep.size()) {
    pieces.push_back(input.substr(pos, at - pos));
  }
  pieces.push_back(input.substr(pos));
  auto listing = scan::parseListing(pieces[0], [&](int k) -> std::optional<std::string> {
    if (k <= 0 || static_cast<size_t>(k) >= pieces.size()) return std::nullopt;
    return pieces[static_cast<size_t>(k)];
  });
  if (listing) {
    size_t n = 0;
    walk(listing->entries, n);
    bool found = false;
    (void)scan::findEntry(*listing, pieces[0].substr(0, 40), found);
  }

  // Any bytes as a name give a listing that parses, with one file.
  std::string name = input.substr(0, 300);
  std::string doc = scan::listingHeader(13) + "<b>";
  scan::appendTextElement(doc, "c", name);
  doc += "</b>";
  doc += scan::kListingFooter;
  auto back = scan::parseListing(doc, [](int) { return std::nullopt; });
  if (!back || back->entries.size() != 1 || (name.empty() != back->entries[0].name.empty())) {
    std::abort();
  }
  return 0;
}
