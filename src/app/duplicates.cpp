#include "app/duplicates.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "catalog/catalog_document.h"
#include "scan/listing.h"
#include "scan/listing_reader.h"

namespace tamber::app {

namespace {

using catalog::CatalogDocument;

// One file, kept small: its name lives in its item's names and its folder's
// path in its item's folder table.
struct Record {
  uint8_t hash[16];
  uint64_t size;
  uint32_t item;
  uint32_t folder;
  uint64_t nameAt;
  uint32_t nameLength;
};

// One item's files as a reader gathered them, with their names and folders.
struct ItemFiles {
  std::vector<Record> records;
  std::string names;
  std::vector<std::string> folders;
  uint64_t files = 0, hashed = 0;
  bool anyHashed = false;  // of any size
  Status status;
};

struct ItemInfo {
  ItemFiles files;  // kept where they were read: never copied again
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
  std::vector<ItemInfo> items;
  uint64_t files = 0, hashed = 0;
  bool anyHashed = false;
  bool stopped = false;

  std::string_view nameOf(const Record& r) const {
    return std::string_view(items[r.item].files.names).substr(r.nameAt, r.nameLength);
  }

  uint32_t itemOf(size_t libraryIndex, const CatalogDocument& doc, const xmlNode* node) {
    items.push_back({{}, libraryIndex, doc.parentPath(node), doc.namePath(node), CatalogDocument::numberOf(node),
                     doc.field(node, catalog::kLocation)});
    return static_cast<uint32_t>(items.size() - 1);
  }
  // Reads the files of one item (only those below `within` when given).
  void read(const scan::ListingOpener& open, uint32_t itemIndex, const std::string& within, size_t expected,
            ItemFiles& out) const;
  // Keeps what was read of item `index` with it; the reading's error, or
  // none (`stopped` says when the finder stops).
  Status join(uint32_t index, ItemFiles& read);
  Status addItems(catalog::Library& library, size_t libraryIndex, const CatalogDocument& doc,
                  const std::vector<const xmlNode*>& nodes);
};

void DuplicateFinder::Impl::read(const scan::ListingOpener& open, uint32_t itemIndex, const std::string& within,
                                 size_t expected, ItemFiles& out) const {
  // Room for the files the item says it holds, so that they are not
  // moved again and again as they come.
  out.records.reserve(std::min<size_t>(expected, size_t{1} << 26));
  out.names.reserve(std::min<size_t>(expected, size_t{1} << 26) * 24);
  // A folder's path is kept once, when its first file is recorded.
  bool folderKept = false;
  uint32_t folderIndex = 0;
  auto take = [&](scan::ListingEntry& e, const std::string& folderPath, bool newFolder) {
    if (newFolder) folderKept = false;
    if (e.field("l9")) return;
    if (!within.empty() && (folderPath + e.name).compare(0, within.size() + 1, within + "/") != 0) return;
    const std::string* hash = e.field(scan::kContentHashCode);
    bool trusted = hash && hash->size() == 32 && !e.field(scan::kHashProblemCode);
    // Whether the scope was hashed at all does not depend on the size asked for.
    if (trusted) out.anyHashed = true;
    if (e.size < minSize) return;
    ++out.files;
    Record r{};
    if (trusted) ++out.hashed;
    if (by == DuplicatesBy::hash) {
      if (!trusted) return;
      for (size_t i = 0; i < 16; ++i) {
        r.hash[i] = static_cast<uint8_t>(hexDigit((*hash)[2 * i]) << 4 | hexDigit((*hash)[2 * i + 1]));
      }
    }
    if (!folderKept) {
      folderIndex = static_cast<uint32_t>(out.folders.size());
      out.folders.push_back(folderPath);
      folderKept = true;
    }
    r.size = e.size;
    r.item = itemIndex;
    r.folder = folderIndex;
    r.nameAt = out.names.size();
    r.nameLength = static_cast<uint32_t>(e.name.size());
    out.names += e.name;
    out.records.push_back(r);
  };
  Status st = scan::walkFiles(open, take);
  if (!st) out.status = Error{st.error().code, items[itemIndex].path + ": " + st.message()};
}

Status DuplicateFinder::Impl::join(uint32_t index, ItemFiles& read) {
  files += read.files;
  hashed += read.hashed;
  anyHashed = anyHashed || read.anyHashed;
  Status status = std::move(read.status);
  read.status = {};
  ItemFiles& kept = items[index].files;
  kept = std::move(read);
  // The room reserved for the files the item said it holds is given back
  // only when a good part of it went unused (a size limit, a folder).
  if (kept.records.capacity() - kept.records.size() > kept.records.size() / 8 + 1024) kept.records.shrink_to_fit();
  // What was read before a damaged listing stays.
  if (!status) return status;
  if (keepGoing && !keepGoing()) stopped = true;
  return {};
}

Status DuplicateFinder::Impl::addItems(catalog::Library& library, size_t libraryIndex, const CatalogDocument& doc,
                                       const std::vector<const xmlNode*>& nodes) {
  // Listings are read by up to four threads at once, from the layouts of
  // their streams (a library opened for reading changes under nobody), and
  // joined in the order of the items: the same groups, in the same order,
  // whatever the threads.
  struct Unit {
    uint32_t item;
    size_t expected;
    std::map<int, storage::StreamLayout> layouts;
    bool laidOut = true;
    ItemFiles files;
    bool done = false;
  };
  std::vector<Unit> units(nodes.size());
  storage::Storage root = library.file().root();
  for (size_t i = 0; i < nodes.size(); ++i) {
    Unit& u = units[i];
    u.item = itemOf(libraryIndex, doc, nodes[i]);
    const ItemInfo& info = items[u.item];
    u.expected = static_cast<size_t>(std::max(0LL, std::atoll(doc.field(nodes[i], catalog::kFiles).c_str())));
    int parts = std::clamp(std::atoi(doc.field(nodes[i], catalog::kListingParts).c_str()), 0, 1 << 16);
    for (int part = 0; part <= parts && u.laidOut; ++part) {
      auto stream = root.openStream(part == 0 ? catalog::streamName(catalog::StreamKind::listing, info.category, info.number)
                                              : catalog::streamName(catalog::StreamKind::listing, info.category,
                                                                    info.number, part));
      if (!stream) continue;  // said by the reading, as a missing listing or part
      auto layout = stream->layout();
      if (!layout) u.laidOut = false;
      else u.layouts[part] = std::move(*layout);
    }
  }
  std::mutex lock;
  std::condition_variable ready;
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  auto work = [&] {
    for (size_t i; !stop && (i = next++) < units.size();) {
      Unit& u = units[i];
      if (u.laidOut) read(scan::layoutListing(library.file(), u.layouts), u.item, {}, u.expected, u.files);
      std::lock_guard<std::mutex> g(lock);
      u.done = true;
      ready.notify_all();
    }
  };
  unsigned threads = std::min<unsigned>({4u, std::max(1u, std::thread::hardware_concurrency()),
                                         static_cast<unsigned>(units.size())});
  // The items are joined here while the threads read the next ones.
  std::vector<std::thread> pool;
  if (threads > 1) {
    for (unsigned t = 0; t < threads; ++t) pool.emplace_back(work);
  } else {
    work();
  }
  Status result;
  for (size_t i = 0; i < units.size() && !stopped && result; ++i) {
    Unit& u = units[i];
    {
      std::unique_lock<std::mutex> g(lock);
      ready.wait(g, [&] { return u.done || pool.empty(); });
    }
    if (!u.laidOut) {
      const ItemInfo& info = items[u.item];
      read(scan::streamListing(root, info.category, info.number), u.item, {}, u.expected, u.files);
    }
    result = join(u.item, u.files);
  }
  stop = true;
  for (auto& t : pool) t.join();
  return result;
}

DuplicateFinder::DuplicateFinder(DuplicatesBy by, uint64_t minSize) : impl_(new Impl{by, minSize, {}, {}, {}, {}, {}}) {}
DuplicateFinder::~DuplicateFinder() { delete impl_; }

void DuplicateFinder::setProgress(std::function<bool()> keepGoing) { impl_->keepGoing = std::move(keepGoing); }
uint64_t DuplicateFinder::files() const { return impl_->files; }
uint64_t DuplicateFinder::hashed() const { return impl_->hashed; }
bool DuplicateFinder::anyHashed() const { return impl_->anyHashed; }

Status DuplicateFinder::add(catalog::Library& library, size_t libraryIndex, const catalog::ItemPath& scope,
                            uint16_t itemNumber, const std::string& within) {
  const CatalogDocument& doc = library.catalog();
  if (itemNumber != 0) {
    const xmlNode* item = doc.item(scope, itemNumber);
    if (!item) return Error{Errc::not_found, "no such disc or folder"};
    Impl& m = *impl_;
    uint32_t index = m.itemOf(libraryIndex, doc, item);
    ItemFiles files;
    m.read(scan::streamListing(library.file().root(), m.items[index].category, m.items[index].number), index, within,
           static_cast<size_t>(std::max(0LL, std::atoll(doc.field(item, catalog::kFiles).c_str()))), files);
    return m.join(index, files);
  }
  const xmlNode* category = scope.empty() ? doc.root() : doc.category(scope);
  if (!category) return Error{Errc::not_found, "no such category"};
  std::vector<const xmlNode*> nodes;
  // Every item below, in the order of the tree.
  std::function<void(const xmlNode*)> below = [&](const xmlNode* node) {
    for (const xmlNode* n = node->children; n; n = n->next) {
      if (CatalogDocument::isItem(n)) nodes.push_back(n);
      else if (CatalogDocument::isCategory(n)) below(n);
    }
  };
  below(category);
  return impl_->addItems(library, libraryIndex, doc, nodes);
}

size_t DuplicateFinder::forEachGroup(const std::function<bool(const DuplicateGroup&)>& take) const {
  Impl& m = *impl_;
  // Sorted by index so that the records themselves never move.
  // Records are numbered across the items, each item's from its base.
  std::vector<uint64_t> bases;
  uint64_t total = 0;
  for (const ItemInfo& item : m.items) {
    bases.push_back(total);
    total += item.files.records.size();
  }
  auto record = [&](uint32_t g) -> const Record& {
    size_t item = static_cast<size_t>(std::upper_bound(bases.begin(), bases.end(), g) - bases.begin()) - 1;
    return m.items[item].files.records[g - bases[item]];
  };
  std::vector<uint32_t> order(total);
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  // The groups as ranges of `order`; each is made whole only when its turn
  // comes, so that memory holds one group's files at a time.
  struct Range {
    uint64_t wasted;
    uint32_t from, to;
  };
  std::vector<Range> ranges;
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
    std::vector<Key> keys(total);
    uint32_t i = 0;
    for (const ItemInfo& item : m.items) {
      for (const Record& r : item.files.records) {
        std::memcpy(&keys[i].high, r.hash, 8);
        std::memcpy(&keys[i].low, r.hash + 8, 8);
        keys[i].high = __builtin_bswap64(keys[i].high);
        keys[i].low = __builtin_bswap64(keys[i].low);
        keys[i].size = r.size;
        keys[i].index = i;
        ++i;
      }
    }
    std::sort(keys.begin(), keys.end());
    for (size_t i = 0; i < keys.size(); ++i) order[i] = keys[i].index;
    // The groups are the runs of equal keys, found in the sorted keys
    // themselves rather than through the records they stand for.
    for (size_t i = 0; i < keys.size();) {
      size_t j = i + 1;
      while (j < keys.size() && keys[j].high == keys[i].high && keys[j].low == keys[i].low &&
             keys[j].size == keys[i].size) {
        ++j;
      }
      if (j - i >= 2) ranges.push_back({keys[i].size * (j - i - 1), static_cast<uint32_t>(i), static_cast<uint32_t>(j)});
      i = j;
    }
  } else {
    // By size, then name.
    auto compare = [&](uint32_t a, uint32_t b) -> int {
      const Record& x = record(a);
      const Record& y = record(b);
      if (x.size != y.size) return x.size < y.size ? -1 : 1;
      return m.nameOf(x).compare(m.nameOf(y));
    };
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
      int c = compare(a, b);
      return c != 0 ? c < 0 : a < b;  // the order files were read in, within a group
    });
    for (size_t i = 0; i < order.size();) {
      size_t j = i + 1;
      while (j < order.size() && compare(order[i], order[j]) == 0) ++j;
      if (j - i >= 2) ranges.push_back({record(order[i]).size * (j - i - 1), static_cast<uint32_t>(i), static_cast<uint32_t>(j)});
      i = j;
    }
  }
  // Most waste first; equal waste in key order, which `order` already has.
  std::stable_sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.wasted > b.wasted; });
  static const char digits[] = "0123456789abcdef";
  DuplicateGroup g;
  for (const Range& range : ranges) {
    const Record& first = record(order[range.from]);
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
      const Record& r = record(order[k]);
      const ItemInfo& item = m.items[r.item];
      DuplicateFile& f = g.files[k - range.from];
      f.library = item.library;
      f.category = item.category;
      f.item = item.path;
      f.itemNumber = item.number;
      f.folder = item.files.folders[r.folder];
      f.name = m.nameOf(r);
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
