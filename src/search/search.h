// The search over a library: the disc and folder records below the scope,
// their fields (without date and size ranges), and every listing stream
// (the main listing and its parts) read by worker threads, each with its
// own scanner and matcher. Results come in one order (by item, then by
// path, or in the listing's order when handed over as found), the same for
// any number of workers.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "catalog/library.h"
#include "platform/result.h"
#include "search/search_criteria.h"

namespace tamber::search {

// A disc or folder that was searched.
struct SearchItem {
  catalog::ItemPath category;  // the disc's or folder's category
  long long itemNumber = 0;    // as stored
  std::string path;            // category names and the label, joined by "/"
  std::string location;        // where the disc is kept (its location field)
};

struct SearchHit {
  enum class Kind { file, folder, discField, archiveMember };
  uint32_t item = 0;           // in SearchResult::items
  int part = 0;                // the listing part the hit came from (0: the main listing)
  std::string path;            // inside the disc: folder names joined by "\" as stored; for an
                               // archive member the archive's path, then the member's
  std::string field;           // the element code whose text matched
  std::string text;            // that text
  uint64_t size = 0;
  bool hasSize = false;
  std::string modified;        // HexTime, or empty
  Kind kind = Kind::file;
};

struct SearchResult {
  std::vector<SearchItem> items;
  std::vector<SearchHit> hits;  // empty when they were handed over in order
  // Items whose listing could not be read (damaged): named, the others searched.
  std::vector<std::string> damaged;
  // Texts a regular expression could not decide in the time a text may
  // take (counted as no match), the first of them, and whether the search
  // stopped because there were too many.
  long long undecided = 0;
  std::string firstUndecided;
  bool gaveUpEarly = false;
  // In order: whether every item was handed over (no stop on the way), and
  // the most hits that waited at once to be handed over.
  bool handedOverWhole = false;
  size_t mostWaiting = 0;
  // Whether the library's name index chose the listing blocks read, and
  // the items whose index was damaged (their listings were read whole).
  bool usedIndex = false;
  std::vector<std::string> indexProblems;
};

// Told the hits of each listing as soon as it is searched (in no
// particular order; the result has them sorted), from the workers' threads
// under the lock that guards the hits. `items` is SearchResult::items.
using HitsFound = std::function<void(const std::vector<SearchHit>& hits, const std::vector<SearchItem>& items)>;

// Told the next hits of an item in their final order, from a worker's
// thread, one call at a time; returns false to end the search (a closed
// pipe).
using ItemHits = std::function<bool(const SearchItem& item, std::vector<SearchHit>& hits)>;

struct SearchOptions {
  int workers = 5;
  HitsFound found;  // as they come, unordered
  // In order, in batches, as soon as they are found: the result then keeps
  // no hits. Within an item the order is the listing's own (a folder, then
  // its entries, names in the order the scan recorded them), then its
  // archive members. Workers wait while more than `maxWaiting` hits wait
  // to be handed over (and go at most 256 listings past the item handed
  // over), so memory stays bounded however large the answer.
  ItemHits ordered;
  size_t maxWaiting = 16384;
  const std::atomic<bool>* stop = nullptr;
  // The time a regular expression may take on one text; past it the text
  // counts as no match and is counted as undecided. After this many
  // undecided texts (0: never) the search ends.
  double regexSecondsPerText = 2.0;
  size_t regexGiveUpAfter = 10;
  // Whether a trusted name index may choose which parts of the listings
  // are read (the rows are the same either way).
  bool useIndex = true;
};

// Runs the search with `options.workers` threads (at least 1). Fails only
// when the criteria cannot start a search (an empty pattern, a scope that is
// no category or item). Setting `*stop` ends it early with what was found.
Result<SearchResult> runSearch(catalog::Library& library, const SearchCriteria& criteria,
                               const SearchOptions& options);
Result<SearchResult> runSearch(catalog::Library& library, const SearchCriteria& criteria,
                               int workers = 5, const HitsFound& found = {},
                               const std::atomic<bool>* stop = nullptr);

// Whether listing texts under element `code` are compared for `kinds`.
bool comparedFor(std::string_view code, uint16_t kinds);

}  // namespace tamber::search
