// Fuzz target: the search's name index. With a first byte of 0 the rest is
// an index stream as a damaged or hostile file may hold it: opening it and
// every lookup must end with an answer or an error, never read outside it.
// Otherwise the rest is listing text: an index made of it must read back
// whole, and every block it names must lie inside the listing.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "search/name_index.h"

using tamber::search::ItemIndex;

namespace {

void lookUp(const ItemIndex& index, std::string_view data, bool mustHold) {
  std::vector<uint32_t> trigrams;
  for (size_t i = 0; i + 2 < data.size() && trigrams.size() < 8; i += 7) {
    trigrams = tamber::search::literalTrigrams(data.substr(i, 3 + i % 5));
  }
  (void)index.blocksWith(trigrams);
  for (const auto& u : index.units()) {
    // Read ahead, the states must read as they do one at a time.
    std::vector<uint32_t> every;
    for (uint32_t b = 0; b < u.blocks() && b < 4096; ++b) every.push_back(b);
    auto ahead = index.readStates(u, every);
    if (mustHold && !ahead) std::abort();
    for (uint32_t b = 0; b < u.blocks() && b < 4096; ++b) {
      auto st = index.state(u, b);
      auto parts = index.partsClosed(u, b);
      if (mustHold && ((b > 0 && u.part >= 0 && !st) || !parts)) std::abort();
      if (!ahead) continue;
      auto st2 = index.state(u, b, &*ahead);
      auto parts2 = index.partsClosed(u, b, &*ahead);
      if (bool(st) != bool(st2) || bool(parts) != bool(parts2)) std::abort();
      if (parts && *parts != *parts2) std::abort();
      if (st && (st->open != st2->open || st->folders != st2->folders || st->folderParts != st2->folderParts ||
                 st->base != st2->base || st->partsClosed != st2->partsClosed)) {
        std::abort();
      }
    }
  }
  if (!index.verify() && mustHold) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] == 0) {
    auto index = ItemIndex::fromBytes(std::string(rest));
    if (index) lookUp(*index, rest, false);
    return 0;
  }
  auto made = tamber::search::indexListingBytes(rest, 0, data[0] == 1);
  if (!made) return 0;
  auto index = ItemIndex::fromBytes(*made);
  if (!index || index->units().size() != 1 || index->units()[0].blockStart.back() != rest.size()) std::abort();
  lookUp(*index, rest, true);
  return 0;
}
