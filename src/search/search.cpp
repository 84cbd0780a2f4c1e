#include "search/search.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/hex_time.h"
#include "scan/archive_records.h"
#include "scan/listing_scanner.h"
#include "search/literal_filter.h"
#include "search/name_index.h"

namespace tamber::search {

namespace {

using catalog::CatalogDocument;
using scan::ListingScanner;

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
  std::string location;  // where the disc or folder was read from
  uint32_t index = 0;    // in the items
};

// A worker's hits: grown in blocks, never moved while it runs.
using HitList = std::deque<SearchHit>;

// A listing part of -1 stands for the archive listings.
constexpr int kArchivePart = -1;
// Up to so many index blocks (of about 4 KiB of listing each) one thread
// reads faster than several: on two cores, 87 blocks took 18 ms alone and
// 23 ms with three workers; some 300 took the same either way.
constexpr size_t kFewBlocks = 128;

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
                     itemPathText(doc, c), std::clamp(parts, 0, 65535), doc.field(c, catalog::kLocation)});
    }
  }
}

// Reads a listing stream from its layout a piece at a time, from any
// thread (CompoundFile::readAt), so that memory follows the piece size.
class PieceReader {
 public:
  static constexpr size_t kPiece = 256 * 1024;

  PieceReader(const storage::CompoundFile& file, const storage::StreamLayout& layout)
      : file_(file), layout_(layout) {}

  // The next piece into `piece`, after the last `keep` bytes of the one
  // before; false when the stream is read.
  Result<bool> next(std::string& piece, size_t keep) {
    if (atEnd()) return false;
    if (keep > 0) std::memmove(piece.data(), piece.data() + piece.size() - keep, keep);
    start_ = done_;
    if (layout_.small) {
      piece.assign(layout_.bytes);
      done_ = layout_.bytes.size();
      return true;
    }
    size_t want = static_cast<size_t>(std::min<uint64_t>(kPiece, layout_.size - done_));
    piece.resize(keep + want);
    size_t filled = 0;
    while (filled < want) {
      const auto& run = layout_.runs[run_];
      size_t take = static_cast<size_t>(std::min<uint64_t>(want - filled, run.length - inRun_));
      Status st = file_.readAt(run.offset + inRun_, piece.data() + keep + filled, take);
      if (!st) return st.error();
      filled += take;
      inRun_ += take;
      if (inRun_ == run.length) {
        ++run_;
        inRun_ = 0;
      }
    }
    done_ += want;
    return true;
  }
  // The whole stream from its start.
  Result<std::string> readAll() {
    rewind();
    std::string all, piece;
    for (;;) {
      auto got = next(piece, 0);
      if (!got) return got.error();
      if (!*got) return all;
      all += piece;
    }
  }
  // Reads on from where it stands while no piece (with the end of the one
  // before) may hold a match: true at the first that may, false at the end.
  Result<bool> findCandidate(const LiteralFilter& filter, std::string& piece) {
    size_t keep = 0;
    for (;;) {
      auto got = next(piece, keep);
      if (!got || !*got) return got;
      if (filter.mayMatch(piece)) return true;
      keep = std::min(filter.overlap(), piece.size());
    }
  }
  bool atEnd() const { return done_ >= layout_.size; }
  // Where the last piece started in the stream.
  uint64_t start() const { return start_; }
  void rewind() { done_ = start_ = 0, run_ = 0, inRun_ = 0; }

 private:
  const storage::CompoundFile& file_;
  const storage::StreamLayout& layout_;
  uint64_t done_ = 0, start_ = 0;
  size_t run_ = 0;
  uint64_t inRun_ = 0;
};

// The state of one worker: its matcher and the record being read.
class ListingSearch {
 public:
  // `partAt` is told, in order among the hits, where a folder whose
  // entries stand in a listing part of their own is closed.
  ListingSearch(const SearchCriteria& c, double secondsPerText, std::function<void(std::string_view)> undecided,
                std::function<void(int part)> partAt = {})
      : c_(c),
        matcher_(c.pattern, c.caseSensitive, c.wholeText, c.regex, c.anchored),
        undecided_(std::move(undecided)),
        partAt_(std::move(partAt)) {
    matcher_.setSecondsPerText(secondsPerText);
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

  // Searches the archive descriptions of an item: records of a 4-byte
  // length and the description of one archive. False when they are damaged.
  bool archives(std::string_view stream, const Item& item, HitList& out,
                std::string& error) {
    std::string name, size, modified;
    std::string archive;  // the archive's path inside the disc
    scan::ArchiveWalk walk;
    walk.archive = [&](const std::string& recorded) { archive = insideDisc(recorded, item.location); };
    walk.member = [&](const ListingScanner& s, bool) {
      if (!s.attribute("name", name)) return;
      if (c_.fullPath) {
        std::string whole = item.path + "/" + archive + "/" + name;
        for (auto& ch : whole) {
          if (ch == '\\') ch = '/';
        }
        if (!matches(whole)) return;
      } else if (!matches(name)) {
        return;
      }
      bool hasSize = s.attribute("size", size);
      uint64_t bytes = hasSize ? std::strtoull(size.c_str(), nullptr, 10) : 0;
      if (!s.attribute("modified", modified)) modified.clear();
      if (!inRanges(modified, bytes)) return;
      SearchHit h = hitFor(item, 0);
      h.kind = SearchHit::Kind::archiveMember;
      std::string member = name;
      for (auto& c : member) {
        if (c == '/') c = '\\';
      }
      h.path = archive.empty() ? member : archive + "\\" + member;
      h.field = "c";
      h.text = name;
      h.size = bytes;
      h.hasSize = hasSize;
      h.modified = modified;
      out.push_back(std::move(h));
    };
    return scan::walkArchiveRecords(stream, walk, error);
  }

  // Starts a listing.
  void begin() {
    folders_.clear();
    folderParts_.clear();
    base_.clear();
    record_ = {};
  }
  // Starts inside a listing, where a file or folder begins.
  void resume(const BlockState& at) {
    folders_ = at.folders;
    folderParts_ = at.folderParts;
    base_ = at.base;
    record_ = {};
  }
  // The text read ends where a file or folder begins: the one before is whole.
  void endRun(const Item& item, int part, HitList& out) { flush(item, part, out); }
  // A folder whose entries stand in listing part `part` closed in text
  // passed over.
  void partClosed(int part) {
    if (partAt_) partAt_(part);
  }

  enum class Step { more, done, damaged };

  // Takes the scanner's events until it needs the next piece or the
  // listing ends; hits go to `out`.
  Step consume(ListingScanner& s, const Item& item, int part, HitList& out,
               std::string& error) {
    for (;;) {
      auto ev = s.next();
      switch (ev) {
        case ListingScanner::Event::more:
          return Step::more;
        case ListingScanner::Event::error:
          error = s.error();
          return Step::damaged;
        case ListingScanner::Event::end:
          return Step::done;
        case ListingScanner::Event::open:
          flush(item, part, out);
          if (is(s.name(), 'a') || is(s.name(), 'b')) {
            record_.start(is(s.name(), 'a'), s.depth());
            if (record_.folder) {
              folders_.emplace_back();
              folderParts_.push_back(0);
            }
          }
          break;
        case ListingScanner::Event::close:
          flush(item, part, out);
          if (is(s.name(), 'a') && !folders_.empty()) {
            folders_.pop_back();
            int split = folderParts_.back();
            folderParts_.pop_back();
            if (split > 0 && partAt_) partAt_(split);
          }
          break;
        case ListingScanner::Event::text:
          text_(s);
          break;
      }
    }
  }

 private:
  // The file or folder being read. Its strings keep their room from one
  // record to the next.
  struct Record {
    bool open = false, folder = false;
    size_t depth = 0;
    std::string name, modified, size;
    bool hasSize = false;
    std::string field, matched;  // the first field that matched
    bool document = false;       // a document's (its type "c2" came)
    bool video = false;          // a video's (its container "x3" came)

    void start(bool isFolder, size_t at) {
      open = true;
      document = false;
      video = false;
      folder = isFolder;
      depth = at;
      hasSize = false;
      name.clear();
      modified.clear();
      size.clear();
      field.clear();
      matched.clear();
    }
  };

  static bool is(std::string_view code, char c) { return code.size() == 1 && code[0] == c; }

  // A text the expression could not decide in its time counts as no match
  // and is told.
  bool matches(std::string_view text) {
    bool hit = matcher_.matches(text);
    if (matcher_.gaveUp() && undecided_) undecided_(text);
    return hit;
  }

  void text_(const ListingScanner& s) {
    std::string_view code = s.name();
    if (code.size() == 2 && code[0] == 'e' && code[1] == '3' && s.depth() == 1) {
      // A part's path: where its entries stand. The folder itself is found
      // by its own entry in the listing above.
      base_ = s.text();
      return;
    }
    // Only the fields of the file or folder itself (not of an index).
    if (!record_.open || s.depth() != record_.depth) return;
    if (is(code, 'c')) {
      record_.name = s.text();
      if (record_.folder && !folders_.empty()) folders_.back() = s.text();
    } else if (is(code, 'd')) {
      record_.modified = s.text();
    } else if (is(code, 'e')) {
      record_.size = s.text();  // read as a number only for a hit
      record_.hasSize = true;
    } else if (record_.folder && code == "d7" && !folderParts_.empty()) {
      folderParts_.back() = std::atoi(std::string(s.text()).c_str());
    }
    if (code.size() == 2 && code[0] == 'c' && code[1] == '2') record_.document = true;
    if (code.size() == 2 && code[0] == 'x' && code[1] == '3') record_.video = true;
    // A document's title and comment are a document's properties, not an
    // audio file's tags; a video's title, artist and comment are a video's.
    bool here = c_.fullPath                                             ? false
                : record_.document && (is(code, 'r') || is(code, 'v')) ? (c_.kinds & kKindDocuments) != 0
                : record_.video && (is(code, 'r') || is(code, 's') || is(code, 'v'))
                    ? (c_.kinds & kKindVideos) != 0
                    : compared(code);
    if (record_.field.empty() && here && matches(s.text())) {
      record_.field = code;
      record_.matched = s.text();
    }
  }

  // The date and size ranges, when in use.
  bool inRanges(const std::string& modified, uint64_t size) const {
    if (c_.useDateRange) {
      auto t = parseHexTime(modified);
      if (!t || *t < c_.dateFrom || *t > c_.dateTo) return false;
    }
    if (c_.useSizeRange && (c_.minSizeKB > 0 || c_.maxSizeKB > 0 || c_.maxGiven)) {
      // 64-bit: a 5 GB file is neither negative nor wrapped.
      if (c_.minSizeKB > 0 && size < static_cast<uint64_t>(c_.minSizeKB) * 1024) return false;
      if ((c_.maxSizeKB > 0 || c_.maxGiven) && size > static_cast<uint64_t>(c_.maxSizeKB) * 1024) return false;
    }
    return true;
  }

  // An archive's recorded path made a path inside its disc or folder ("\"
  // between folders); as recorded when it lies elsewhere.
  static std::string insideDisc(const std::string& recorded, const std::string& location) {
    std::string path = scan::pathBelowRoot(recorded, location);
    for (auto& c : path) {
      if (c == '/') c = '\\';
    }
    return path;
  }

  SearchHit hitFor(const Item& item, int part) const {
    SearchHit h;
    h.item = item.index;
    h.part = part;
    return h;
  }

  // The record read so far is complete: report it when it matched and
  // passes the ranges.
  void flush(const Item& item, int part, HitList& out) {
    if (!record_.open) return;
    record_.open = false;
    Record& r = record_;
    if (c_.fullPath && !r.name.empty()) {
      // The whole path as the command line writes it.
      std::string whole = item.path;
      for (char ch : base_) whole += ch == '\\' ? '/' : ch;
      size_t above = r.folder ? folders_.size() - 1 : folders_.size();
      for (size_t i = 0; i < above && i < folders_.size(); ++i) whole += "/" + folders_[i];
      whole += "/" + r.name;
      if (matches(whole)) {
        r.field = "c";
        r.matched = r.name;
      }
    }
    if (r.field.empty()) return;
    const uint64_t size = r.hasSize ? std::strtoull(r.size.c_str(), nullptr, 10) : 0;
    if (!inRanges(r.modified, size)) return;
    SearchHit h = hitFor(item, part);
    h.kind = r.folder ? SearchHit::Kind::folder : SearchHit::Kind::file;
    // The path: the stored base of a part, the folders above, the name.
    std::string path = base_;
    size_t above = r.folder ? folders_.size() - 1 : folders_.size();
    for (size_t i = 0; i < above && i < folders_.size(); ++i) {
      path += (path.empty() ? "" : "\\") + folders_[i];
    }
    h.path = path + (path.empty() ? "" : "\\") + r.name;
    h.field = r.field;
    h.text = r.matched;
    h.size = size;
    h.hasSize = r.hasSize;
    h.modified = r.modified;
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
  std::function<void(std::string_view)> undecided_;
  std::function<void(int)> partAt_;
  bool compared_[1 + 26 * 11] = {};
  std::vector<std::string> folders_;  // names of the folders open above
  std::vector<int> folderParts_;      // their listing parts (0: entries inline)
  std::string base_;                  // a part's path ("e3")
  Record record_;
};

// Sorts hits by item path (then number), path, part and field; `rank`
// gives each item its place in the order of item paths.
void sortHits(std::vector<SearchHit>& hits, const std::vector<SearchItem>& items) {
  std::vector<uint32_t> order(items.size()), rank(items.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    if (items[a].path != items[b].path) return items[a].path < items[b].path;
    return items[a].itemNumber < items[b].itemNumber;
  });
  for (uint32_t i = 0; i < order.size(); ++i) rank[order[i]] = i;
  std::sort(hits.begin(), hits.end(), [&](const SearchHit& a, const SearchHit& b) {
    if (a.item != b.item) return rank[a.item] < rank[b.item];
    if (int c = a.path.compare(b.path); c != 0) return c < 0;
    if (a.part != b.part) return a.part < b.part;
    return a.field < b.field;
  });
}

// Hands hits over in their final order while the workers search: the items
// in the result's order; within an item its own fields, then its listing in
// the listing's order (a folder before its entries, names in the order the
// scan recorded them, a part's entries where its folder stands), then its
// archive members. A worker adds what it finds to its unit as it reads;
// whichever thread adds takes the turn of passing on what became ready, one
// batch at a time. Memory holds only what waits: past `maxWaiting` hits a
// worker waits, unless its unit is the one being passed on or that unit is
// not taken yet.
class OrderedHandOver {
 public:
  using Pass = std::function<bool(uint32_t item, std::vector<SearchHit>& hits)>;
  // Units are taken at most this far past the end of the item being passed on.
  static constexpr size_t kAhead = 256;

  OrderedHandOver(const std::vector<uint32_t>& order, const std::vector<size_t>& lastUnit,
                  const std::vector<Item>& items, std::vector<std::vector<SearchHit>>& fieldHits,
                  const std::atomic<size_t>& taken, std::atomic<bool>& ended, size_t maxWaiting, Pass pass)
      : maxWaiting_(maxWaiting),
        order_(order),
        lastUnit_(lastUnit),
        items_(items),
        fieldHits_(fieldHits),
        taken_(taken),
        ended_(ended),
        pass_(std::move(pass)),
        units_(lastUnit.empty() ? 0 : lastUnit.back()),
        started_(units_.size(), 0),
        windowEnd_((lastUnit.empty() ? 0 : lastUnit[0]) + kAhead) {}

  // Adds the hits of `unit` found so far, then, when `part` > 0, the place
  // of that listing part.
  void add(size_t unit, HitList& hits, int part = 0) {
    std::unique_lock<std::mutex> g(lock_);
    append(unit, hits, part);
    passOn(g);
  }
  // The last hits of `unit`: it is read.
  void finish(size_t unit, HitList& hits) {
    std::unique_lock<std::mutex> g(lock_);
    append(unit, hits, 0);
    units_[unit].done = true;
    passOn(g);
  }
  // Before a worker takes `unit` or reads on in it: waits while it may not.
  void wait(size_t unit, const std::function<bool()>& stopping) {
    std::unique_lock<std::mutex> g(lock_);
    while (!stopping() && mustWait(unit)) moved_.wait_for(g, std::chrono::milliseconds(50));
  }
  // Whether every item was passed on.
  bool whole() {
    std::lock_guard<std::mutex> g(lock_);
    return at_ == order_.size();
  }
  size_t mostWaiting() {
    std::lock_guard<std::mutex> g(lock_);
    return mostWaiting_;
  }

 private:
  // A unit's hits in their order, and the places of listing parts.
  struct Piece {
    std::vector<SearchHit> hits;
    int part = 0;
  };
  // The pieces from `next` on wait; a search makes one unit per listing,
  // most of them never given a piece, so a unit allocates nothing until then.
  struct Unit {
    std::vector<Piece> pieces;
    size_t next = 0;
    bool done = false;
    bool waiting() const { return next < pieces.size(); }
    Piece take() {
      Piece p = std::move(pieces[next++]);
      if (next == pieces.size()) {
        pieces.clear();
        next = 0;
      }
      return p;
    }
  };

  void append(size_t unit, HitList& hits, int part) {
    if (!hits.empty()) {
      Piece p;
      p.hits.assign(std::make_move_iterator(hits.begin()), std::make_move_iterator(hits.end()));
      waiting_ += p.hits.size();
      mostWaiting_ = std::max(mostWaiting_, waiting_);
      units_[unit].pieces.push_back(std::move(p));
      hits.clear();
    }
    if (part > 0) units_[unit].pieces.push_back({{}, part});
  }

  bool mustWait(size_t unit) const {
    if (unit >= windowEnd_) return true;
    return waiting_ > maxWaiting_ && unit != needed_ && needed_ < taken_.load();
  }

  void passOn(std::unique_lock<std::mutex>& g) {
    if (passing_) return;  // the thread passing on takes these too
    passing_ = true;
    std::vector<SearchHit> batch;
    uint32_t item = 0;
    while (!ended_.load() && next(batch, item)) {
      g.unlock();
      moved_.notify_all();
      bool go = pass_(item, batch);
      batch.clear();
      g.lock();
      if (!go) ended_ = true;
    }
    passing_ = false;
    moved_.notify_all();
  }

  // The next batch ready to pass on; false when the next hits are not found
  // yet (needed_ says whose they are) or everything was passed on.
  bool next(std::vector<SearchHit>& batch, uint32_t& item) {
    while (at_ < order_.size()) {
      item = order_[at_];
      const size_t from = at_ == 0 ? 0 : lastUnit_[at_ - 1], end = lastUnit_[at_];
      const int parts = items_[item].parts;
      if (!begun_) {
        begun_ = true;
        started_[from] = 1;
        stack_.assign(1, from);
        leftover_ = from + 1;
        if (!fieldHits_[item].empty()) {
          batch = std::move(fieldHits_[item]);
          fieldHits_[item].clear();
          return true;
        }
      }
      if (!stack_.empty()) {
        Unit& u = units_[stack_.back()];
        if (!u.waiting()) {
          if (!u.done) {
            needed_ = stack_.back();
            return false;
          }
          stack_.pop_back();
          continue;
        }
        Piece p = u.take();
        if (p.part > 0) {
          // A part is passed on where its folder stands, once.
          if (p.part <= parts && !started_[from + static_cast<size_t>(p.part)]) {
            started_[from + static_cast<size_t>(p.part)] = 1;
            stack_.push_back(from + static_cast<size_t>(p.part));
          }
          continue;
        }
        waiting_ -= p.hits.size();
        batch = std::move(p.hits);
        return true;
      }
      // Parts no folder stood for (an edited listing), then the archives.
      while (leftover_ < end && started_[leftover_]) ++leftover_;
      if (leftover_ < end) {
        started_[leftover_] = 1;
        stack_.push_back(leftover_);
        continue;
      }
      ++at_;
      begun_ = false;
      if (at_ < order_.size()) {
        windowEnd_ = lastUnit_[at_] + kAhead;
        needed_ = lastUnit_[at_ - 1];
      }
    }
    needed_ = units_.size();
    return false;
  }

  const size_t maxWaiting_;
  const std::vector<uint32_t>& order_;
  const std::vector<size_t>& lastUnit_;
  const std::vector<Item>& items_;
  std::vector<std::vector<SearchHit>>& fieldHits_;
  const std::atomic<size_t>& taken_;
  std::atomic<bool>& ended_;
  Pass pass_;
  std::mutex lock_;
  std::condition_variable moved_;
  std::vector<Unit> units_;
  std::vector<char> started_;
  size_t windowEnd_;
  size_t waiting_ = 0;  // hits added and not passed on
  size_t mostWaiting_ = 0;
  size_t needed_ = 0;   // the unit whose hits are passed on next
  bool passing_ = false;
  // Where the passing on stands: the item (in the order), whether its own
  // fields went, the units it is inside (a part within a part), the next
  // unit to look at once they are done.
  size_t at_ = 0;
  bool begun_ = false;
  std::vector<size_t> stack_;
  size_t leftover_ = 0;
};

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
  if ((kinds & kKindVideos) && in({"x3", "x4", "x6", "x7", "x8", "x9"})) return true;
  return false;
}

Result<SearchResult> runSearch(catalog::Library& library, const SearchCriteria& criteria, int workers,
                               const HitsFound& onHits, const std::atomic<bool>* stop) {
  SearchOptions options;
  options.workers = workers;
  options.found = onHits;
  options.stop = stop;
  return runSearch(library, criteria, options);
}

Result<SearchResult> runSearch(catalog::Library& library, const SearchCriteria& criteria,
                               const SearchOptions& options) {
  if (criteria.pattern.empty()) return Error{Errc::invalid_argument, "no search text"};
  Matcher matcher(criteria.pattern, criteria.caseSensitive, criteria.wholeText, criteria.regex, criteria.anchored);
  if (!matcher.error().empty()) {
    return Error{Errc::invalid_argument, "the regular expression does not compile: " + matcher.error()};
  }
  matcher.setSecondsPerText(options.regexSecondsPerText);
  const HitsFound& onHits = options.found;
  const bool ordered = static_cast<bool>(options.ordered);
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
                     CatalogDocument::rawNumber(scope), itemPathText(doc, scope), std::clamp(parts, 0, 65535),
                     doc.field(scope, catalog::kLocation)});
  } else {
    collectItems(doc, scope, items);
  }

  SearchResult result;
  for (uint32_t i = 0; i < items.size(); ++i) {
    items[i].index = i;
    result.items.push_back({items[i].category, items[i].rawNumber, items[i].path, items[i].location});
  }
  // The items in the order of the result: by path, then number.
  std::vector<uint32_t> order(items.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    if (items[a].path != items[b].path) return items[a].path < items[b].path;
    return items[a].rawNumber < items[b].rawNumber;
  });

  std::atomic<long long> undecided{0};
  std::mutex hitsLock;
  std::string firstUndecided;
  auto noteUndecided = [&](std::string_view text) {
    if (undecided.fetch_add(1) == 0) {
      std::lock_guard<std::mutex> h(hitsLock);
      firstUndecided = std::string(text);
    }
  };
  // Disc-level fields, only without date and size ranges; kept per item.
  std::vector<std::vector<SearchHit>> fieldHits(items.size());
  if (!criteria.useDateRange && !criteria.useSizeRange) {
    for (const auto& item : items) {
      for (int field : kDiscFields) {
        // A whole path: the item's own, once, in place of its label.
        if (criteria.fullPath && field != catalog::kLabel) continue;
        std::string value = criteria.fullPath ? item.path : doc.field(item.node, field);
        if (value.empty()) continue;
        bool hit = matcher.matches(value);
        if (matcher.gaveUp()) noteUndecided(value);
        if (!hit) continue;
        SearchHit h;
        h.item = item.index;
        h.field = catalog::nameCode(field);
        h.text = value;
        h.kind = SearchHit::Kind::discField;
        fieldHits[item.index].push_back(std::move(h));
      }
    }
    if (!ordered) {
      for (auto& list : fieldHits) {
        for (auto& h : list) result.hits.push_back(std::move(h));
        list.clear();
      }
      if (onHits && !result.hits.empty()) onHits(result.hits, result.items);
    }
  }

  // The listing streams: a queue taken by the workers, in the result's
  // order of items. A stream is opened under one lock (the file's open state
  // is not shared between threads); its bytes are then read and searched in
  // parallel, a piece at a time.
  std::vector<Work> queue;
  std::vector<size_t> lastUnit(items.size(), 0);  // by order: one past the item's last unit
  for (size_t k = 0; k < order.size(); ++k) {
    size_t i = order[k];
    for (int part = 0; part <= items[i].parts; ++part) queue.push_back({i, part});
    if (criteria.searchArchives && (criteria.kinds & kKindNames)) queue.push_back({i, kArchivePart});
    lastUnit[k] = queue.size();
  }
  std::atomic<size_t> nextWork{0};
  std::atomic<bool> ended{false};  // asked to stop, or the caller said so
  std::mutex fileLock;
  auto& file = library.file();
  // A whole path's parts lie in different listings and in the catalog: no
  // quick look over one listing's bytes can rule it out.
  const LiteralFilter filter(criteria.pattern, criteria.caseSensitive, criteria.wholeText,
                             criteria.regex || criteria.fullPath);
  std::vector<HitList> found;  // each worker's (unordered only)
  auto damaged = [&](const Item& item, const std::string& why) {
    std::lock_guard<std::mutex> h(hitsLock);
    result.damaged.push_back(item.path + ": " + why);
  };
  auto stopping = [&] {
    return ended.load() || (options.stop && options.stop->load()) ||
           (options.regexGiveUpAfter && undecided.load() >= static_cast<long long>(options.regexGiveUpAfter));
  };

  // The name index, when it can answer for this text: it then names the
  // blocks of each listing that may hold it.
  const std::vector<uint32_t> trigrams =
      !options.useIndex || criteria.fullPath ? std::vector<uint32_t>{}
      : criteria.regex                       ? literalTrigrams(requiredRegexLiteral(criteria.pattern, criteria.caseSensitive))
      : filter.active()                      ? literalTrigrams(filter.literal())
                                             : std::vector<uint32_t>{};
  const bool indexing = !trigrams.empty() && nameIndexTrusted(library);
  result.usedIndex = indexing;
  // Each item's index: its stream found under the file's lock by the first
  // worker that reaches the item, then opened outside it, once; a worker on
  // another of the item's listings waits for that.
  std::vector<std::unique_ptr<ItemIndex>> indexes(items.size());
  std::vector<char> indexTried(items.size(), 0);
  std::vector<Result<storage::StreamLayout>> indexLayouts(items.size(), Error{Errc::not_found, ""});
  std::unique_ptr<std::once_flag[]> indexOpened(new std::once_flag[items.size()]);
  std::vector<std::vector<uint32_t>> indexBlocks(items.size());

  // Finds item i's index stream; the file's lock is held.
  auto findIndex = [&](size_t i) {
    if (indexTried[i]) return;
    indexTried[i] = 1;
    indexLayouts[i] = file.root().streamLayout(indexStreamName(items[i].category, items[i].number));
  };
  // Opens item i's index, once, and finds the blocks of its listings that
  // may hold the text (once for all of them).
  auto openIndex = [&](size_t i) {
    std::call_once(indexOpened[i], [&] {
      auto& l = indexLayouts[i];
      auto opened = l ? ItemIndex::open(file, std::move(*l)) : Result<ItemIndex>(l.error());
      auto blocks = opened ? opened->blocksWith(trigrams) : Result<std::vector<uint32_t>>(opened.error());
      if (blocks) {
        indexes[i] = std::make_unique<ItemIndex>(std::move(*opened));
        indexBlocks[i] = std::move(*blocks);
      } else if (blocks.error().code != Errc::not_found) {
        std::lock_guard<std::mutex> h(hitsLock);
        result.indexProblems.push_back(items[i].path + ": " + blocks.message());
      }
    });
  };

  std::unique_ptr<OrderedHandOver> hand;
  if (ordered) {
    hand = std::make_unique<OrderedHandOver>(
        order, lastUnit, items, fieldHits, nextWork, ended, options.maxWaiting,
        [&](uint32_t i, std::vector<SearchHit>& hits) { return options.ordered(result.items[i], hits); });
  }

  // Reads the blocks of a listing the index names; false when the index
  // cannot answer for it (then the listing is read as without one).
  auto searchIndexed = [&](const ItemIndex& index, const std::vector<uint32_t>& itemBlocks, const Item& item, int part,
                           const storage::StreamLayout& layout, size_t& w, HitList& mine, ListingSearch& search,
                           std::string& piece) {
    const IndexUnit* u = index.unit(part);
    if (!u || u->size != layout.size || u->layoutHash != layoutHash(layout)) return false;
    // No block of the item may hold the text: none of its listings has a
    // hit, so where its parts stand does not matter either.
    if (itemBlocks.empty()) return true;
    // Everything the index says is read first, so that damage is found
    // before any hit is passed on: the blocks that may hold the text with
    // where a search resumes in each, and the parts closed in the others.
    struct Planned {
      uint32_t block;
      BlockState state;
    };
    std::vector<Planned> planned;
    std::vector<std::pair<uint32_t, std::vector<int>>> closes;  // blocks passed over
    std::string why;
    const uint32_t count = u->blocks();
    std::vector<uint32_t> blocks;  // of this unit, from 0
    for (auto b = std::lower_bound(itemBlocks.begin(), itemBlocks.end(), u->firstBlock);
         b != itemBlocks.end() && *b < u->firstBlock + count; ++b) {
      blocks.push_back(*b - u->firstBlock);
    }
    // The states asked for below, read ahead together: a rare name's
    // candidates and the blocks that close parts lie scattered over the
    // index, and read one at a time they made hundreds of small reads.
    std::vector<uint32_t> wanted;
    if (part != kArchivePart) {
      for (uint32_t b = 0, at = 0; b < count; ++b) {
        bool candidate = at < blocks.size() && blocks[at] == b;
        if (candidate) ++at;
        if ((candidate && b > 0) || ((candidate || ordered) && index.closesParts(*u, b))) wanted.push_back(b);
      }
    }
    StatesRead ahead;
    if (!wanted.empty()) {
      if (auto read = index.readStates(*u, wanted)) ahead = std::move(*read);
      else why = read.message();
    }
    for (uint32_t b = 0, at = 0; b < count && why.empty(); ++b) {
      bool candidate = at < blocks.size() && blocks[at] == b;
      if (candidate) ++at;
      if (part == kArchivePart) {
        if (candidate) planned.push_back({b, {}});
        continue;
      }
      if (candidate && b > 0) {
        auto st = index.state(*u, b, &ahead);
        if (st) planned.push_back({b, std::move(*st)});
        else why = st.message();
        continue;
      }
      if (!candidate && !ordered) continue;
      auto pc = index.partsClosed(*u, b, &ahead);
      if (!pc) {
        why = pc.message();
      } else if (candidate) {
        planned.push_back({b, {}});
        planned.back().state.partsClosed = std::move(*pc);
      } else if (!pc->empty()) {
        closes.emplace_back(b, std::move(*pc));
      }
    }
    if (!why.empty()) {
      std::lock_guard<std::mutex> h(hitsLock);
      result.indexProblems.push_back(item.path + ": " + why);
      return false;
    }
    // The planned blocks' bytes, read a stretch of neighbours at a time.
    std::string stretch;
    uint64_t stretchFrom = 0;
    std::string error;
    auto bytesOf = [&](size_t k, std::string_view& out) {
      const uint32_t b = planned[k].block;
      const uint64_t from = u->blockStart[b];
      if (stretch.empty() || from < stretchFrom || u->blockStart[b + 1] > stretchFrom + stretch.size()) {
        size_t last = k;
        while (last + 1 < planned.size() && planned[last + 1].block == planned[last].block + 1 &&
               u->blockStart[planned[last + 1].block + 1] - from <= PieceReader::kPiece) {
          ++last;
        }
        stretchFrom = from;
        stretch.resize(static_cast<size_t>(u->blockStart[planned[last].block + 1] - from));
        if (Status st = readStreamRange(file, layout, from, stretch.data(), stretch.size()); !st) {
          error = st.message();
          stretch.clear();
          return false;
        }
      }
      out = std::string_view(stretch).substr(static_cast<size_t>(from - stretchFrom),
                                             static_cast<size_t>(u->blockStart[b + 1] - from));
      return true;
    };
    size_t start = mine.size();
    if (part == kArchivePart) {
      std::string all;
      for (size_t k = 0; k < planned.size(); ++k) {
        std::string_view bytes;
        if (!bytesOf(k, bytes)) break;
        all += bytes;
      }
      if (error.empty() && !search.archives(all, item, mine, error)) mine.resize(start);
      if (!error.empty()) damaged(item, error);
      return true;
    }
    size_t closed = 0;
    auto closeBefore = [&](uint32_t block) {
      for (; closed < closes.size() && closes[closed].first < block; ++closed) {
        for (int p : closes[closed].second) search.partClosed(p);
      }
    };
    // A run of blocks is read as one text; it ends where a block is passed over.
    std::optional<ListingScanner> scanner;
    uint32_t previous = 0;
    bool bad = false, cut = false, ended = false;
    for (size_t k = 0; k < planned.size() && !bad && !cut; ++k) {
      const Planned& p = planned[k];
      if (scanner && p.block != previous + 1) {
        search.endRun(item, part, mine);
        scanner.reset();
      }
      closeBefore(p.block);
      previous = p.block;
      std::string_view bytes;
      if (!bytesOf(k, bytes)) {
        bad = true;
        break;
      }
      // The quick look, block by block: a text stands in one block whole.
      if (filter.active() && !filter.mayMatch(bytes)) {
        if (scanner) {
          search.endRun(item, part, mine);
          scanner.reset();
        }
        for (int q : p.state.partsClosed) search.partClosed(q);
        continue;
      }
      if (!scanner) {
        scanner.emplace();
        if (p.block > 0) {
          scanner->resume(p.state.open, u->blockStart[p.block]);
          search.resume(p.state);
        } else {
          search.begin();
        }
      }
      const bool toEnd = u->blockStart[p.block + 1] >= layout.size;
      scanner->feed(bytes, toEnd);
      auto outcome = search.consume(*scanner, item, part, mine, error);
      if (outcome == ListingSearch::Step::damaged || (toEnd && outcome != ListingSearch::Step::done)) bad = true;
      if (toEnd) ended = true;
      if (ordered && !mine.empty()) {
        hand->add(w, mine);
        hand->wait(w, stopping);
        if (stopping()) cut = true;
      }
    }
    if (!bad && !cut) {
      if (scanner && !ended) search.endRun(item, part, mine);
      closeBefore(count);
    }
    if (cut) {
      mine.clear();
    } else if (bad) {
      if (ordered) {
        mine.clear();
      } else {
        mine.resize(start);
      }
      damaged(item, error.empty() ? "the listing is damaged: it ends too soon" : error);
    }
    (void)piece;
    return true;
  };
  auto worker = [&] {
    HitList mine;
    size_t w = 0;  // the unit being read
    // In order, the hits found so far go before the place of a listing part.
    std::function<void(int)> partAt;
    if (ordered) partAt = [&](int part) { hand->add(w, mine, part); };
    ListingSearch search(criteria, options.regexSecondsPerText, noteUndecided, partAt);
    std::string piece;
    // Tells the caller what one listing added.
    auto tell = [&](size_t before) {
      if (!onHits || mine.size() == before) return;
      std::vector<SearchHit> added(mine.begin() + static_cast<std::ptrdiff_t>(before), mine.end());
      std::lock_guard<std::mutex> h(hitsLock);
      onHits(added, result.items);
    };
    for (;;) {
      if (stopping()) break;
      w = nextWork.fetch_add(1);
      if (w >= queue.size()) break;
      if (ordered) hand->wait(w, stopping);
      if (stopping()) break;
      // In order, a unit's hits are its own; otherwise they gather per worker.
      size_t before = ordered ? 0 : mine.size();
      auto finishUnit = [&] {
        if (ordered) {
          hand->finish(w, mine);
        } else {
          tell(before);
        }
      };
      const Item& item = items[queue[w].item];
      int part = queue[w].part;
      storage::StreamLayout layout;
      {
        std::lock_guard<std::mutex> g(fileLock);
        auto name = part == kArchivePart
                        ? catalog::streamName(catalog::StreamKind::archives, item.category, item.number)
                    : part == 0 ? catalog::streamName(catalog::StreamKind::listing, item.category, item.number)
                                : catalog::streamName(catalog::StreamKind::listing, item.category, item.number, part);
        auto l = file.root().streamLayout(name);
        bool have = static_cast<bool>(l);
        if (have) {
          layout = std::move(*l);
        } else if (l.error().code != Errc::not_found) {  // none at all: an audio CD
          damaged(item, l.message());
        }
        if (!have) {
          finishUnit();
          continue;
        }
        if (indexing) findIndex(queue[w].item);
      }
      if (indexing) openIndex(queue[w].item);
      if (const ItemIndex* index = indexing ? indexes[queue[w].item].get() : nullptr) {
        if (searchIndexed(*index, indexBlocks[queue[w].item], item, part, layout, w, mine, search, piece)) {
          finishUnit();
          continue;
        }
      }
      PieceReader reader(file, layout);
      // The quick look: most listings cannot hold the text at all.
      bool whole = false;  // `piece` holds the whole listing
      if (filter.active()) {
        auto maybe = reader.findCandidate(filter, piece);
        if (!maybe) damaged(item, maybe.message());
        if (!maybe || !*maybe) {
          finishUnit();
          continue;
        }
        whole = reader.start() == 0 && reader.atEnd();
      }
      std::string error;
      size_t start = mine.size();
      if (part == kArchivePart) {
        // Archive descriptions: read whole (they list members, not trees).
        auto all = whole ? Result<std::string>(std::move(piece)) : reader.readAll();
        if (!all) error = all.message();
        if (all && !search.archives(*all, item, mine, error)) mine.resize(start);
        if (!error.empty()) damaged(item, error);
        finishUnit();
        continue;
      }
      search.begin();
      auto outcome = ListingSearch::Step::damaged;
      bool cut = false;  // the search ended inside this listing
      if (whole) {
        ListingScanner scanner(piece);
        outcome = search.consume(scanner, item, part, mine, error);
      } else {
        ListingScanner scanner;
        reader.rewind();
        for (;;) {
          auto got = reader.next(piece, 0);
          if (!got) {
            error = got.message();
            break;
          }
          if (!*got) piece.clear();
          scanner.feed(piece, !*got || reader.atEnd());
          outcome = search.consume(scanner, item, part, mine, error);
          if (outcome != ListingSearch::Step::more || !*got) break;
          if (ordered) {
            // What this piece found goes at once; then wait while the
            // hand-over is too far behind.
            hand->add(w, mine);
            hand->wait(w, stopping);
            if (stopping()) {
              cut = true;
              break;
            }
          }
        }
      }
      if (cut) {
        mine.clear();  // the search ends: not damaged
      } else if (outcome != ListingSearch::Step::done) {
        // Nothing more from a damaged listing (in order, what went before
        // the damage was already passed on).
        if (ordered) {
          mine.clear();
        } else {
          mine.resize(start);
        }
        damaged(item, error.empty() ? "the listing is damaged: it ends too soon" : error);
      }
      finishUnit();
    }
    if (!ordered) {
      std::lock_guard<std::mutex> h(hitsLock);
      found.push_back(std::move(mine));
    }
  };
  int count = std::max(1, options.workers);
  if (indexing && count > 1) {
    // When the indexes leave few blocks to read, this thread reads them:
    // starting workers (each with memory of its own to fault in) would
    // cost more than they save.
    size_t candidates = 0;
    for (size_t k = 0; k < order.size() && candidates <= kFewBlocks; ++k) {
      size_t i = order[k];
      {
        std::lock_guard<std::mutex> g(fileLock);
        findIndex(i);
      }
      openIndex(i);
      // Without an index the item's listings are read whole.
      candidates += indexes[i] ? indexBlocks[i].size() : kFewBlocks + 1;
    }
    if (candidates <= kFewBlocks) count = 1;
  }
  std::vector<std::thread> threads;
  for (int i = 1; i < count; ++i) threads.emplace_back(worker);
  worker();
  for (auto& t : threads) t.join();
  result.undecided = undecided.load();
  result.firstUndecided = firstUndecided;
  result.gaveUpEarly = options.regexGiveUpAfter && result.undecided >= static_cast<long long>(options.regexGiveUpAfter);
  result.handedOverWhole = ordered && hand->whole();
  if (ordered) result.mostWaiting = hand->mostWaiting();
  size_t total = result.hits.size();
  for (const auto& list : found) total += list.size();
  result.hits.reserve(total);
  for (auto& list : found) {
    for (auto& hit : list) result.hits.push_back(std::move(hit));
    list = {};
  }
  if (!ordered) sortHits(result.hits, result.items);
  std::sort(result.damaged.begin(), result.damaged.end());
  return result;
}

}  // namespace tamber::search
