#include "app/duplicates.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "catalog/catalog_document.h"
#include "scan/listing.h"
#include "scan/listing_reader.h"

namespace tamber::app {

namespace {

using catalog::CatalogDocument;

// One file, kept small: its name lives in the names arena and its folder's
// path in the folder table.
struct Record {
  uint8_t hash[16];
  uint64_t size;
  uint32_t item;
  uint32_t folder;
  uint64_t nameAt;
  uint32_t nameLength;
};

struct ItemInfo {
  size_t library;
  catalog::ItemPath category;
  std::string path;
  uint16_t number;
  std::string location;
};

// The listing reader hands over content hashes checked and in lower case.
int hexDigit(char c) { return c <= '9' ? c - '0' : c - 'a' + 10; }

}  // namespace

struct DuplicateFinder::Impl {
  DuplicatesBy by;
  uint64_t minSize;
  std::function<bool()> keepGoing;
  std::vector<Record> records;
  std::string names;
  std::vector<std::string> folders;
  std::vector<ItemInfo> items;
  uint64_t files = 0, hashed = 0;
  bool stopped = false;

  std::string_view nameOf(const Record& r) const { return std::string_view(names).substr(r.nameAt, r.nameLength); }

  Status addItem(catalog::Library& library, size_t libraryIndex, const CatalogDocument& doc, const xmlNode* node,
                 const std::string& within);
  Status addBelow(catalog::Library& library, size_t libraryIndex, const CatalogDocument& doc, const xmlNode* node) {
    for (const xmlNode* n = node->children; n && !stopped; n = n->next) {
      if (CatalogDocument::isItem(n)) {
        if (Status st = addItem(library, libraryIndex, doc, n, {}); !st) return st;
      } else if (CatalogDocument::isCategory(n)) {
        if (Status st = addBelow(library, libraryIndex, doc, n); !st) return st;
      }
    }
    return {};
  }
};

Status DuplicateFinder::Impl::addItem(catalog::Library& library, size_t libraryIndex, const CatalogDocument& doc,
                                      const xmlNode* node, const std::string& within) {
  uint16_t number = CatalogDocument::numberOf(node);
  catalog::ItemPath category = doc.parentPath(node);
  uint32_t itemIndex = static_cast<uint32_t>(items.size());
  items.push_back({libraryIndex, category, doc.namePath(node), number, doc.field(node, catalog::kLocation)});
  // Room for the files the item says it holds, so that a million records
  // are not moved again and again as they come.
  if (long long recorded = std::atoll(doc.field(node, catalog::kFiles).c_str()); recorded > 0) {
    size_t more = static_cast<size_t>(std::min<long long>(recorded, 1LL << 26));
    if (records.capacity() < records.size() + more) records.reserve(std::max(records.size() + more, records.capacity() * 3 / 2));
    if (names.capacity() < names.size() + more * 24) names.reserve(std::max(names.size() + more * 24, names.capacity() * 3 / 2));
  }
  // A folder's path is kept once, when its first file is recorded.
  bool folderKept = false;
  uint32_t folderIndex = 0;
  auto take = [&](scan::ListingEntry& e, const std::string& folderPath, bool newFolder) {
    if (newFolder) folderKept = false;
    if (e.size < minSize || e.field("l9")) return;
    if (!within.empty() && (folderPath + e.name).compare(0, within.size() + 1, within + "/") != 0) return;
    ++files;
    Record r{};
    const std::string* hash = e.field(scan::kContentHashCode);
    bool trusted = hash && hash->size() == 32 && !e.field(scan::kHashProblemCode);
    if (trusted) ++hashed;
    if (by == DuplicatesBy::hash) {
      if (!trusted) return;
      for (size_t i = 0; i < 16; ++i) {
        r.hash[i] = static_cast<uint8_t>(hexDigit((*hash)[2 * i]) << 4 | hexDigit((*hash)[2 * i + 1]));
      }
    }
    if (!folderKept) {
      folderIndex = static_cast<uint32_t>(folders.size());
      folders.push_back(folderPath);
      folderKept = true;
    }
    r.size = e.size;
    r.item = itemIndex;
    r.folder = folderIndex;
    r.nameAt = names.size();
    r.nameLength = static_cast<uint32_t>(e.name.size());
    names += e.name;
    records.push_back(r);
  };
  Status st = scan::walkFiles(scan::streamListing(library.file().root(), category, number), take);
  if (!st) return Error{st.error().code, items.back().path + ": " + st.message()};
  if (keepGoing && !keepGoing()) stopped = true;
  return {};
}

DuplicateFinder::DuplicateFinder(DuplicatesBy by, uint64_t minSize) : impl_(new Impl{by, minSize, {}, {}, {}, {}, {}}) {}
DuplicateFinder::~DuplicateFinder() { delete impl_; }

void DuplicateFinder::setProgress(std::function<bool()> keepGoing) { impl_->keepGoing = std::move(keepGoing); }
uint64_t DuplicateFinder::files() const { return impl_->files; }
uint64_t DuplicateFinder::hashed() const { return impl_->hashed; }

Status DuplicateFinder::add(catalog::Library& library, size_t libraryIndex, const catalog::ItemPath& scope,
                            uint16_t itemNumber, const std::string& within) {
  const CatalogDocument& doc = library.catalog();
  if (itemNumber != 0) {
    const xmlNode* item = doc.item(scope, itemNumber);
    if (!item) return Error{Errc::not_found, "no such disc or folder"};
    return impl_->addItem(library, libraryIndex, doc, item, within);
  }
  const xmlNode* category = scope.empty() ? doc.root() : doc.category(scope);
  if (!category) return Error{Errc::not_found, "no such category"};
  return impl_->addBelow(library, libraryIndex, doc, category);
}

size_t DuplicateFinder::forEachGroup(const std::function<bool(const DuplicateGroup&)>& take) const {
  Impl& m = *impl_;
  // Sorted by index so that the records themselves never move.
  std::vector<uint32_t> order(m.records.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  auto compare = [&](uint32_t a, uint32_t b) -> int {
    const Record& x = m.records[a];
    const Record& y = m.records[b];
    if (m.by == DuplicatesBy::hash) {
      // Eight bytes at a time, most significant first: the order of the hex keys.
      for (int half = 0; half < 2; ++half) {
        uint64_t a8, b8;
        std::memcpy(&a8, x.hash + 8 * half, 8);
        std::memcpy(&b8, y.hash + 8 * half, 8);
        a8 = __builtin_bswap64(a8);
        b8 = __builtin_bswap64(b8);
        if (a8 != b8) return a8 < b8 ? -1 : 1;
      }
    }
    if (x.size != y.size) return x.size < y.size ? -1 : 1;
    if (m.by == DuplicatesBy::nameSize) {
      if (int c = m.nameOf(x).compare(m.nameOf(y))) return c;
    }
    return 0;
  };
  if (m.by == DuplicatesBy::hash) {
    // By hash, size, then the order files were read in: keys sorted side by
    // side, not records reached through their numbers.
    struct Key {
      uint64_t high, low, size;
      uint32_t index;
      bool operator<(const Key& o) const {
        if (high != o.high) return high < o.high;
        if (low != o.low) return low < o.low;
        if (size != o.size) return size < o.size;
        return index < o.index;
      }
    };
    std::vector<Key> keys(m.records.size());
    for (uint32_t i = 0; i < keys.size(); ++i) {
      const Record& r = m.records[i];
      std::memcpy(&keys[i].high, r.hash, 8);
      std::memcpy(&keys[i].low, r.hash + 8, 8);
      keys[i].high = __builtin_bswap64(keys[i].high);
      keys[i].low = __builtin_bswap64(keys[i].low);
      keys[i].size = r.size;
      keys[i].index = i;
    }
    std::sort(keys.begin(), keys.end());
    for (size_t i = 0; i < keys.size(); ++i) order[i] = keys[i].index;
  } else {
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
      int c = compare(a, b);
      return c != 0 ? c < 0 : a < b;  // the order files were read in, within a group
    });
  }
  // The groups as ranges of `order`; each is made whole only when its turn
  // comes, so that memory holds one group's paths at a time.
  struct Range {
    uint64_t wasted;
    uint32_t from, to;
  };
  std::vector<Range> ranges;
  for (size_t i = 0; i < order.size();) {
    size_t j = i + 1;
    while (j < order.size() && compare(order[i], order[j]) == 0) ++j;
    if (j - i >= 2) ranges.push_back({m.records[order[i]].size * (j - i - 1), static_cast<uint32_t>(i), static_cast<uint32_t>(j)});
    i = j;
  }
  // Most waste first; equal waste in key order, which `order` already has.
  std::stable_sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.wasted > b.wasted; });
  static const char digits[] = "0123456789abcdef";
  DuplicateGroup g;
  for (const Range& range : ranges) {
    const Record& first = m.records[order[range.from]];
    g.size = first.size;
    g.key.clear();
    if (m.by == DuplicatesBy::hash) {
      for (uint8_t b : first.hash) {
        g.key += digits[b >> 4];
        g.key += digits[b & 15];
      }
    } else {
      g.key = m.nameOf(first);
    }
    // The files of the group before are written over: their strings keep
    // their room, and a million files cost no million allocations.
    g.files.resize(range.to - range.from);
    for (uint32_t k = range.from; k < range.to; ++k) {
      const Record& r = m.records[order[k]];
      const ItemInfo& item = m.items[r.item];
      DuplicateFile& f = g.files[k - range.from];
      f.library = item.library;
      f.category = item.category;
      f.item = item.path;
      f.itemNumber = item.number;
      f.path.assign(m.folders[r.folder]).append(m.nameOf(r));
      f.location = item.location;
    }
    if (!take(g)) break;
  }
  return ranges.size();
}

std::vector<DuplicateGroup> DuplicateFinder::groups() const {
  std::vector<DuplicateGroup> out;
  forEachGroup([&](const DuplicateGroup& g) {
    out.push_back(g);
    return true;
  });
  return out;
}

}  // namespace tamber::app
