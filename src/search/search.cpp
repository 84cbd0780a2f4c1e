#include "search/search.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "platform/hex_time.h"
#include "search/listing_scanner.h"

namespace tamber::search {

namespace {

using catalog::CatalogDocument;

// Disc-level fields, in the order they are compared: label, album, artist,
// genre, catalog number, year, cover name, original name, location, comment.
constexpr int kDiscFields[] = {catalog::kLabel,         catalog::kAlbum,    catalog::kArtist,
                               catalog::kGenre,         catalog::kCatalogNumber, catalog::kYear,
                               catalog::kCoverName,     catalog::kOriginalName,  catalog::kLocation,
                               catalog::kComment};

// One listing stream to search.
struct Work {
  size_t item;  // index into the items
  int part;
};

struct Item {
  xmlNode* node;
  catalog::ItemPath category;
  uint16_t number;
  long long rawNumber;
  std::string path;  // category names and label
  int parts;
};

std::string itemPathText(const CatalogDocument& doc, xmlNode* item) {
  std::string out = doc.field(item, catalog::kLabel);
  for (xmlNode* at = item->parent; at && at != doc.root(); at = at->parent) {
    out = doc.field(at, catalog::kCategoryName) + "/" + out;
  }
  return out;
}

void collectItems(const CatalogDocument& doc, xmlNode* node, std::vector<Item>& out) {
  for (xmlNode* c = node->children; c; c = c->next) {
    if (CatalogDocument::isCategory(c)) {
      collectItems(doc, c, out);
    } else if (CatalogDocument::isItem(c)) {
      int parts = std::atoi(doc.field(c, catalog::kListingParts).c_str());
      out.push_back({c, doc.parentPath(c), CatalogDocument::numberOf(c), CatalogDocument::rawNumber(c),
                     itemPathText(doc, c), std::clamp(parts, 0, 65535)});
    }
  }
}

// The state of one worker: its matcher and the record being read.
class ListingSearch {
 public:
  explicit ListingSearch(const SearchCriteria& c)
      : c_(c), matcher_(c.pattern, c.caseSensitive, c.wholeText) {
    // Which element codes are compared is settled once, not per element:
    // codes are one letter, or a letter and a digit.
    for (char a = 'a'; a <= 'z'; ++a) {
      compared_[slot(std::string_view(&a, 1))] = comparedFor(std::string_view(&a, 1), c.kinds);
      for (char d = '0'; d <= '9'; ++d) {
        char code[2] = {a, d};
        compared_[slot(std::string_view(code, 2))] = comparedFor(std::string_view(code, 2), c.kinds);
      }
    }
  }

  // Searches one listing text; hits go to `out`. False when it is damaged.
  bool run(std::string_view text, const Item& item, int part, std::vector<SearchHit>& out,
           std::string& error) {
    ListingScanner s(text);
    folders_.clear();
    base_.clear();
    record_ = {};
    for (;;) {
      auto ev = s.next();
      switch (ev) {
        case ListingScanner::Event::error:
          error = s.error();
          return false;
        case ListingScanner::Event::end:
          return true;
        case ListingScanner::Event::open:
          flush(item, part, out);
          if (s.name() == "a" || s.name() == "b") {
            record_ = {};
            record_.open = true;
            record_.folder = s.name() == "a";
            record_.depth = s.depth();
            if (record_.folder) folders_.push_back({});
          }
          break;
        case ListingScanner::Event::close:
          flush(item, part, out);
          if (s.name() == "a" && !folders_.empty()) folders_.pop_back();
          break;
        case ListingScanner::Event::text:
          text_(s, item, part, out);
          break;
      }
    }
  }

 private:
  struct Record {
    bool open = false, folder = false;
    size_t depth = 0;
    std::string name, modified;
    uint64_t size = 0;
    bool hasSize = false;
    std::string field, matched;  // the first field that matched
  };

  void text_(const ListingScanner& s, const Item& item, int part, std::vector<SearchHit>& out) {
    std::string_view code = s.name();
    if (code == "e3" && s.depth() == 1) {
      base_ = s.text();
      if (compared(code) && matcher_.matches(s.text()) && !c_.useDateRange && !c_.useSizeRange) {
        SearchHit h = hitFor(item, part);
        h.kind = SearchHit::Kind::folder;
        h.path = base_;
        h.field = "e3";
        h.text = s.text();
        out.push_back(std::move(h));
      }
      return;
    }
    // Only the fields of the file or folder itself (not of an index).
    if (!record_.open || s.depth() != record_.depth) return;
    if (code == "c") {
      record_.name = s.text();
      if (record_.folder && !folders_.empty()) folders_.back() = s.text();
    } else if (code == "d") {
      record_.modified = s.text();
    } else if (code == "e") {
      char* end = nullptr;
      record_.size = std::strtoull(s.text().c_str(), &end, 10);
      record_.hasSize = true;
    }
    if (record_.field.empty() && compared(code) && matcher_.matches(s.text())) {
      record_.field = std::string(code);
      record_.matched = s.text();
    }
  }

  SearchHit hitFor(const Item& item, int part) const {
    SearchHit h;
    h.category = item.category;
    h.itemNumber = item.rawNumber;
    h.itemPath = item.path;
    h.part = part;
    return h;
  }

  // The record read so far is complete: report it when it matched and
  // passes the ranges.
  void flush(const Item& item, int part, std::vector<SearchHit>& out) {
    if (!record_.open) return;
    Record r = std::move(record_);
    record_ = {};
    if (r.field.empty()) return;
    if (c_.useDateRange) {
      auto t = parseHexTime(r.modified);
      if (!t || *t < c_.dateFrom || *t > c_.dateTo) return;
    }
    if (c_.useSizeRange && (c_.minSizeKB > 0 || c_.maxSizeKB > 0)) {
      // 64-bit: a 5 GB file is neither negative nor wrapped.
      if (c_.minSizeKB > 0 && r.size < static_cast<uint64_t>(c_.minSizeKB) * 1024) return;
      if (c_.maxSizeKB > 0 && r.size > static_cast<uint64_t>(c_.maxSizeKB) * 1024) return;
    }
    SearchHit h = hitFor(item, part);
    h.kind = r.folder ? SearchHit::Kind::folder : SearchHit::Kind::file;
    // The path: the stored base of a part, the folders above, the name.
    std::string path = base_;
    size_t above = r.folder ? folders_.size() - 1 : folders_.size();
    for (size_t i = 0; i < above && i < folders_.size(); ++i) {
      path += (path.empty() ? "" : "\\") + folders_[i];
    }
    h.path = path + (path.empty() ? "" : "\\") + r.name;
    h.field = std::move(r.field);
    h.text = std::move(r.matched);
    h.size = r.size;
    h.hasSize = r.hasSize;
    h.modified = std::move(r.modified);
    out.push_back(std::move(h));
  }

  // A code's place in compared_: 0 for codes of no other shape.
  static size_t slot(std::string_view code) {
    if (code.empty() || code.size() > 2 || code[0] < 'a' || code[0] > 'z') return 0;
    size_t letter = static_cast<size_t>(code[0] - 'a');
    if (code.size() == 1) return 1 + letter * 11;
    if (code[1] < '0' || code[1] > '9') return 0;
    return 1 + letter * 11 + 1 + static_cast<size_t>(code[1] - '0');
  }
  bool compared(std::string_view code) const { return compared_[slot(code)]; }

  const SearchCriteria& c_;
  Matcher matcher_;
  bool compared_[1 + 26 * 11] = {};
  std::vector<std::string> folders_;  // names of the folders open above
  std::string base_;                  // a part's path ("e3")
  Record record_;
};

bool hitLess(const SearchHit& a, const SearchHit& b) {
  if (a.itemPath != b.itemPath) return a.itemPath < b.itemPath;
  if (a.itemNumber != b.itemNumber) return a.itemNumber < b.itemNumber;
  if (a.path != b.path) return a.path < b.path;
  if (a.part != b.part) return a.part < b.part;
  return a.field < b.field;
}

}  // namespace

bool comparedFor(std::string_view code, uint16_t kinds) {
  auto in = [&](std::initializer_list<std::string_view> codes) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
  };
  if ((kinds & kKindNames) && in({"c", "e3"})) return true;
  if ((kinds & kKindTracks) && in({"g", "j", "k", "l", "r"})) return true;
  if ((kinds & kKindPictures) && in({"v", "a3", "a4"})) return true;
  if (kinds & kKindTags) {
    if (in({"s", "t", "u", "w", "x", "e5"})) return true;
    // Title and comment count as tags when their own kinds are off.
    if (code == "r" && !(kinds & kKindTracks)) return true;
    if (code == "v" && !(kinds & kKindPictures)) return true;
  }
  if ((kinds & kKindDocuments) &&
      in({"b1", "b2", "b4", "b5", "b6", "b7", "b8", "b9", "c3", "c4", "c5", "c6", "c7", "d5", "d6"})) {
    return true;
  }
  return false;
}

Result<SearchResult> runSearch(catalog::Library& library, const SearchCriteria& criteria, int workers) {
  if (criteria.pattern.empty()) return Error{Errc::invalid_argument, "no search text"};
  auto& doc = library.catalog();
  xmlNode* scope = criteria.scope.empty() ? doc.root() : nullptr;
  std::vector<Item> items;
  if (!scope) {
    // The scope is a category, or an item below its category path.
    scope = doc.category(criteria.scope);
    if (!scope && criteria.scope.size() > 1) {
      catalog::ItemPath parent(criteria.scope.begin(), criteria.scope.end() - 1);
      scope = doc.item(parent, criteria.scope.back());
    }
    if (!scope) return Error{Errc::not_found, "the scope of the search is not in the library"};
  }
  if (CatalogDocument::isItem(scope)) {
    int parts = std::atoi(doc.field(scope, catalog::kListingParts).c_str());
    items.push_back({scope, doc.parentPath(scope), CatalogDocument::numberOf(scope),
                     CatalogDocument::rawNumber(scope), itemPathText(doc, scope), std::clamp(parts, 0, 65535)});
  } else {
    collectItems(doc, scope, items);
  }

  SearchResult result;
  Matcher matcher(criteria.pattern, criteria.caseSensitive, criteria.wholeText);
  // Disc-level fields, only without date and size ranges.
  if (!criteria.useDateRange && !criteria.useSizeRange) {
    for (const auto& item : items) {
      for (int field : kDiscFields) {
        std::string value = doc.field(item.node, field);
        if (value.empty() || !matcher.matches(value)) continue;
        SearchHit h;
        h.category = item.category;
        h.itemNumber = item.rawNumber;
        h.itemPath = item.path;
        h.field = catalog::nameCode(field);
        h.text = value;
        h.kind = SearchHit::Kind::discField;
        result.hits.push_back(std::move(h));
      }
    }
  }

  // The listing streams: a queue taken by the workers. The library file is
  // read under one lock (one reader of the file at a time); the scanning
  // runs in parallel.
  std::vector<Work> queue;
  for (size_t i = 0; i < items.size(); ++i) {
    for (int part = 0; part <= items[i].parts; ++part) queue.push_back({i, part});
  }
  std::atomic<size_t> nextWork{0};
  std::mutex fileLock, hitsLock;
  auto root = library.file().root();
  auto worker = [&] {
    ListingSearch search(criteria);
    std::vector<SearchHit> mine;
    for (;;) {
      size_t w = nextWork.fetch_add(1);
      if (w >= queue.size()) break;
      const Item& item = items[queue[w].item];
      int part = queue[w].part;
      std::string text;
      {
        std::lock_guard<std::mutex> g(fileLock);
        auto name = part == 0 ? catalog::streamName(catalog::StreamKind::listing, item.category, item.number)
                              : catalog::streamName(catalog::StreamKind::listing, item.category, item.number, part);
        auto s = root.openStream(name);
        if (!s) continue;  // an item without a listing (an audio CD)
        auto all = s->readAll();
        if (!all) {
          std::lock_guard<std::mutex> h(hitsLock);
          result.damaged.push_back(item.path + ": " + all.message());
          continue;
        }
        text = std::move(*all);
      }
      std::string error;
      size_t before = mine.size();
      if (!search.run(text, item, part, mine, error)) {
        mine.resize(before);  // nothing from a damaged listing
        std::lock_guard<std::mutex> h(hitsLock);
        result.damaged.push_back(item.path + ": " + error);
      }
    }
    std::lock_guard<std::mutex> h(hitsLock);
    for (auto& hit : mine) result.hits.push_back(std::move(hit));
  };
  std::vector<std::thread> threads;
  int count = std::max(1, workers);
  for (int i = 1; i < count; ++i) threads.emplace_back(worker);
  worker();
  for (auto& t : threads) t.join();
  std::sort(result.hits.begin(), result.hits.end(), hitLess);
  std::sort(result.damaged.begin(), result.damaged.end());
  return result;
}

}  // namespace tamber::search
