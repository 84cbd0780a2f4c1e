#include "search/name_index.h"

#include <xxhash.h>

#include <algorithm>
#include <cctype>
#include <array>
#include <cstring>
#include <map>
#include <set>
#include <unordered_map>

#include "scan/archive_records.h"
#include "scan/listing_scanner.h"
#include "search/search.h"

namespace tamber::search {

namespace {

using catalog::CatalogDocument;
using scan::ListingScanner;

// An item's index stream: "TNX2", a head (counts and the hash of what
// every search reads whole: the units, the blocks and the pages of the
// trigram table), then the units (part, listing size, content and layout
// hashes, texts, first block), the blocks of all units numbered in one row
// (start in its listing, state offset, state hash), the pages (first
// trigram, first list offset, page hash), the trigram table (trigram, list
// offset, list hash), the block states and the posting lists (block numbers
// as rising varint steps, or a bitmap). The table, states and lists are
// read as needed, each checked against its own hash.
constexpr char kMagic[4] = {'T', 'N', 'X', '2'};
constexpr size_t kHead = 4 + 4 + 4 + 4 + 4 + 8 + 8;
constexpr size_t kUnitEntry = 4 + 8 + 8 + 8 + 4 + 4;
constexpr size_t kBlockEntry = 16;
constexpr size_t kPageEntry = 12;
constexpr size_t kTableEntry = 12;
// Trigrams per page of the table: a lookup reads one page.
constexpr size_t kPage = 64;
// Marks a block whose state names listing parts closed in it.
constexpr uint32_t kClosedFlag = 0x80000000u;
constexpr char kStampMagic[4] = {'T', 'N', 'X', 'S'};

void put32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}
void put64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>(v >> (8 * i));
}
// Little-endian, written out so that the compiler makes one load of each.
uint32_t get32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}
uint64_t get64(const char* p) { return uint64_t{get32(p)} | uint64_t{get32(p + 4)} << 32; }
void putVar(std::string& out, uint64_t v) {
  while (v >= 0x80) {
    out += static_cast<char>((v & 0x7F) | 0x80);
    v >>= 7;
  }
  out += static_cast<char>(v);
}
// False when the bytes end inside the number or it is too long.
bool getVar(std::string_view in, size_t& at, uint64_t& v) {
  v = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (at >= in.size()) return false;
    auto b = static_cast<unsigned char>(in[at++]);
    v |= static_cast<uint64_t>(b & 0x7F) << shift;
    if (!(b & 0x80)) return true;
  }
  return false;
}
void putText(std::string& out, std::string_view s) {
  putVar(out, s.size());
  out += s;
}
bool getText(std::string_view in, size_t& at, std::string& s) {
  uint64_t n;
  if (!getVar(in, at, n) || n > in.size() - at) return false;
  s.assign(in.substr(at, n));
  at += n;
  return true;
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

void trigramsOf(std::string_view folded, std::vector<uint32_t>& out) {
  for (size_t i = 0; i + 2 < folded.size(); ++i) {
    out.push_back(static_cast<uint32_t>(static_cast<unsigned char>(folded[i])) << 16 |
                  static_cast<uint32_t>(static_cast<unsigned char>(folded[i + 1])) << 8 |
                  static_cast<unsigned char>(folded[i + 2]));
  }
}

// A text's trigrams in both folded forms.
void addText(std::string_view text, std::string& scratch, std::vector<uint32_t>& out) {
  scratch.assign(text);
  for (auto& c : scratch) c = lowerAscii(c);
  trigramsOf(scratch, out);
  if (scratch.find("\xC4\xB0") == std::string::npos && scratch.find("\xE2\x84\xAA") == std::string::npos) return;
  std::string other;
  for (size_t i = 0; i < scratch.size();) {
    if (scratch.compare(i, 2, "\xC4\xB0") == 0) {
      other += 'i';
      i += 2;
    } else if (scratch.compare(i, 3, "\xE2\x84\xAA") == 0) {
      other += 'k';
      i += 3;
    } else {
      other += scratch[i++];
    }
  }
  trigramsOf(other, out);
}

// Whether texts under element `code` can be compared by some search.
// Codes are one letter, or a letter and a digit; the answer for each is
// settled once.
bool indexedCode(std::string_view code) {
  static const auto table = [] {
    std::array<bool, 26 * 11> t{};
    for (char a = 'a'; a <= 'z'; ++a) {
      t[static_cast<size_t>(a - 'a') * 11] = comparedFor(std::string_view(&a, 1), kAllKinds);
      for (char d = '0'; d <= '9'; ++d) {
        char two[2] = {a, d};
        t[static_cast<size_t>(a - 'a') * 11 + 1 + static_cast<size_t>(d - '0')] =
            comparedFor(std::string_view(two, 2), kAllKinds);
      }
    }
    return t;
  }();
  if (code.empty() || code.size() > 2 || code[0] < 'a' || code[0] > 'z') return comparedFor(code, kAllKinds);
  size_t at = static_cast<size_t>(code[0] - 'a') * 11;
  if (code.size() == 2) {
    if (code[1] < '0' || code[1] > '9') return comparedFor(code, kAllKinds);
    at += 1 + static_cast<size_t>(code[1] - '0');
  }
  return table[at];
}

// Gathers an item's index as its listings are read: the units one after
// the other, the blocks of all of them in one row with their states, and
// the blocks each trigram stands in; then writes the stream.
class ItemBuilder {
 public:
  // Starts the unit of one listing stream.
  void beginUnit(int part) {
    closeBlock();
    first_ = blocks_.size();
    units_.push_back({part, 0, 0, 0, 0, static_cast<uint32_t>(first_)});
    folders_.clear();
    folderParts_.clear();
    base_.clear();
    recordDepth_ = 0;
    recordFolder_ = false;
  }
  void endUnit(uint64_t size, uint64_t contentHash, uint64_t layout) {
    closeBlock();
    Unit& u = units_.back();
    u.size = size;
    u.contentHash = contentHash;
    u.layoutHash = layout;
  }
  // A damaged listing: its unit goes, and its searches read it whole.
  void dropUnit() {
    closeBlock();
    for (auto& [t, list] : postings_) {
      while (!list.empty() && list.back() >= first_) list.pop_back();
    }
    blocks_.resize(first_);
    units_.pop_back();
  }

  // A listing stream, fed in pieces; false with `error` on damage.
  bool listing(ListingScanner& s, std::string& error) {
    for (;;) {
      auto ev = s.next();
      switch (ev) {
        case ListingScanner::Event::more:
          return true;
        case ListingScanner::Event::error:
          error = s.error();
          return false;
        case ListingScanner::Event::end:
          return true;
        case ListingScanner::Event::open: {
          bool folder = s.name() == "a";
          if (folder || s.name() == "b") {
            uint64_t at = s.eventStart();
            if (blocks_.size() == first_ || at - blocks_.back().start >= kIndexBlockBytes) {
              BlockState st;
              st.open.assign(s.openElements().begin(), s.openElements().end() - 1);
              st.folders = folders_;
              st.folderParts = folderParts_;
              st.base = base_;
              startBlock(at, std::move(st));
            }
            recordDepth_ = s.depth();
            recordFolder_ = folder;
            if (folder) {
              folders_.emplace_back();
              folderParts_.push_back(0);
            }
          }
          break;
        }
        case ListingScanner::Event::close:
          if (s.name() == "a" && !folders_.empty()) {
            folders_.pop_back();
            int split = folderParts_.back();
            folderParts_.pop_back();
            if (split > 0) {
              if (blocks_.size() == first_) startBlock(0, {});
              blocks_.back().state.partsClosed.push_back(split);
            }
          }
          break;
        case ListingScanner::Event::text: {
          std::string_view code = s.name();
          if (code == "e3" && s.depth() == 1) base_ = s.text();
          if (s.depth() == recordDepth_) {
            if (code == "c" && recordFolder_ && !folders_.empty()) folders_.back() = s.text();
            if (code == "d7" && recordFolder_ && !folderParts_.empty()) {
              folderParts_.back() = std::atoi(s.text().c_str());
            }
          }
          if (indexedCode(code)) text(s.text());
          break;
        }
      }
    }
  }

  // The archive listings: records of a 4-byte length and a description.
  bool archives(std::string_view all, std::string& error) {
    std::string name;
    scan::ArchiveWalk walk;
    walk.record = [&](size_t at) {
      if (blocks_.size() == first_ || at - blocks_.back().start >= kIndexBlockBytes) startBlock(at, {});
    };
    walk.member = [&](const ListingScanner& s, bool) {
      if (s.attribute("name", name)) text(name);
    };
    return scan::walkArchiveRecords(all, walk, error);
  }

  // Empty when the index cannot be written (block states past 2 GB).
  std::string finish() {
    closeBlock();
    const auto blocks = static_cast<uint32_t>(blocks_.size());
    std::vector<uint32_t> keys;
    keys.reserve(postings_.size());
    for (const auto& [t, list] : postings_) {
      if (!list.empty()) keys.push_back(t);
    }
    std::sort(keys.begin(), keys.end());
    std::string table, lists, pages, states, rows, unitRows;
    for (size_t k = 0; k < keys.size(); ++k) {
      const auto& blocksOf = postings_[keys[k]];
      // Rising steps, or a bitmap of every block when that is smaller.
      std::string list(1, '\0');
      uint32_t last = 0;
      for (size_t i = 0; i < blocksOf.size(); ++i) {
        putVar(list, i == 0 ? blocksOf[i] : blocksOf[i] - last);
        last = blocksOf[i];
      }
      if (list.size() > 1 + (blocks + 7) / 8) {
        list.assign(1 + (blocks + 7) / 8, '\0');
        list[0] = 1;
        for (uint32_t b : blocksOf) list[1 + b / 8] = static_cast<char>(list[1 + b / 8] | (1 << (b % 8)));
      }
      put32(table, keys[k]);
      put32(table, static_cast<uint32_t>(lists.size()));
      put32(table, static_cast<uint32_t>(XXH3_64bits(list.data(), list.size())));
      lists += list;
      if (lists.size() > UINT32_MAX) return {};
    }
    for (size_t g = 0; g * kPage < keys.size(); ++g) {
      size_t from = g * kPage * kTableEntry, n = std::min(kPage, keys.size() - g * kPage) * kTableEntry;
      pages.append(table, from, 8);  // the first trigram and its list offset
      put32(pages, static_cast<uint32_t>(XXH3_64bits(table.data() + from, n)));
    }
    for (const auto& b : blocks_) {
      std::string one;
      const BlockState& s = b.state;
      // The parts closed first: a search passing over the block reads only them.
      putVar(one, s.partsClosed.size());
      for (int p : s.partsClosed) putVar(one, static_cast<uint64_t>(std::max(0, p)));
      putVar(one, s.open.size());
      for (const auto& n : s.open) putText(one, n);
      putVar(one, s.folders.size());
      for (size_t i = 0; i < s.folders.size(); ++i) {
        putText(one, s.folders[i]);
        putVar(one, static_cast<uint64_t>(std::max(0, s.folderParts[i])));
      }
      putText(one, s.base);
      if (states.size() >= kClosedFlag) return {};
      put64(rows, b.start);
      put32(rows, static_cast<uint32_t>(states.size()) | (s.partsClosed.empty() ? 0 : kClosedFlag));
      put32(rows, static_cast<uint32_t>(XXH3_64bits(one.data(), one.size())));
      states += one;
    }
    if (states.size() >= kClosedFlag) return {};
    for (const auto& u : units_) {
      put32(unitRows, static_cast<uint32_t>(u.part));
      put64(unitRows, u.size);
      put64(unitRows, u.contentHash);
      put64(unitRows, u.layoutHash);
      put32(unitRows, u.texts);
      put32(unitRows, u.firstBlock);
    }
    std::string body = unitRows + rows + pages;
    std::string out(kMagic, 4);
    put32(out, static_cast<uint32_t>(units_.size()));
    put32(out, blocks);
    put32(out, static_cast<uint32_t>(keys.size()));
    put32(out, static_cast<uint32_t>(states.size()));
    put64(out, lists.size());
    put64(out, XXH3_64bits(body.data(), body.size()));
    return out + body + table + states + lists;
  }

 private:
  struct Unit {
    int part;
    uint64_t size, contentHash, layoutHash;
    uint32_t texts;
    uint32_t firstBlock;
  };
  struct Block {
    uint64_t start;
    BlockState state;
  };
  // The first block of a unit starts with its listing, wherever its first
  // record is.
  void startBlock(uint64_t at, BlockState st) {
    if (blocks_.size() == first_) at = 0;
    closeBlock();
    blocks_.push_back({at, std::move(st)});
    open_ = true;
  }
  void closeBlock() {
    if (!open_) return;
    open_ = false;
    // Each trigram once per block: a bit per possible trigram says whether
    // the block has it already.
    if (seen_.empty()) {
      seen_.assign((1u << 24) / 64, 0);
      postings_.reserve(1 << 16);
    }
    auto number = static_cast<uint32_t>(blocks_.size() - 1);
    for (uint32_t t : pending_) {
      uint64_t& word = seen_[t >> 6];
      const uint64_t bit = uint64_t{1} << (t & 63);
      if (word & bit) continue;
      word |= bit;
      postings_[t].push_back(number);
    }
    for (uint32_t t : pending_) seen_[t >> 6] = 0;
    pending_.clear();
  }
  void text(std::string_view t) {
    if (blocks_.size() == first_) startBlock(0, {});
    ++units_.back().texts;
    addText(t, scratch_, pending_);
  }

  std::vector<Unit> units_;
  std::vector<Block> blocks_;
  size_t first_ = 0;   // the current unit's first block
  bool open_ = false;  // the last block still gathers trigrams
  std::vector<uint32_t> pending_;
  std::vector<uint64_t> seen_;
  std::unordered_map<uint32_t, std::vector<uint32_t>> postings_;
  std::vector<std::string> folders_;
  std::vector<int> folderParts_;
  std::string base_, scratch_;
  size_t recordDepth_ = 0;
  bool recordFolder_ = false;
};

// Reads a stream from its layout in pieces, hashing and handing them on.
class LayoutReader {
 public:
  LayoutReader(const storage::CompoundFile& file, const storage::StreamLayout& layout)
      : file_(file), layout_(layout) {}
  // Reads `n` bytes at `at` of the stream.
  Status read(uint64_t at, char* out, size_t n) const {
    if (n > layout_.size || at > layout_.size - n) return Error{Errc::corrupt, "a read past the end of the stream"};
    if (layout_.small) {
      std::memcpy(out, layout_.bytes.data() + at, n);
      return {};
    }
    uint64_t runStart = 0;
    for (const auto& run : layout_.runs) {
      if (n == 0) break;
      if (at < runStart + run.length) {
        uint64_t in = at - runStart;
        size_t take = static_cast<size_t>(std::min<uint64_t>(n, run.length - in));
        if (Status st = file_.readAt(run.offset + in, out, take); !st) return st;
        out += take;
        at += take;
        n -= take;
      }
      runStart += run.length;
    }
    if (n != 0) return Error{Errc::corrupt, "the stream's runs end before its size"};
    return {};
  }

 private:
  const storage::CompoundFile& file_;
  const storage::StreamLayout& layout_;
};

constexpr size_t kPiece = 256 * 1024;

// Indexes one listing stream; `error` names damage, and then no unit is made.
// Adds one listing stream's unit to `item`; a damaged listing adds none.
// Fails only when the stream cannot be read.
Status indexStream(ItemBuilder& item, const storage::CompoundFile& file, const storage::StreamLayout& layout,
                   int part) {
  LayoutReader reader(file, layout);
  item.beginUnit(part);
  XXH3_state_t* state = XXH3_createState();
  XXH3_64bits_reset(state);
  std::string error;
  bool ok = true;
  Status read;
  if (part < 0) {
    std::string all(static_cast<size_t>(layout.size), '\0');
    read = reader.read(0, all.data(), all.size());
    if (read) {
      XXH3_64bits_update(state, all.data(), all.size());
      ok = item.archives(all, error);
    }
  } else {
    ListingScanner s;
    std::string piece;
    for (uint64_t at = 0; ok;) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, layout.size - at));
      piece.resize(n);
      read = reader.read(at, piece.data(), n);
      if (!read) break;
      XXH3_64bits_update(state, piece.data(), n);
      at += n;
      s.feed(piece, at >= layout.size);
      ok = item.listing(s, error);
      if (at >= layout.size) break;
    }
  }
  uint64_t hash = XXH3_64bits_digest(state);
  XXH3_freeState(state);
  if (!read || !ok) {
    item.dropUnit();
    return read;
  }
  item.endUnit(layout.size, hash, layoutHash(layout));
  return {};
}

Result<uint64_t> contentHashOf(const storage::CompoundFile& file, const storage::StreamLayout& layout) {
  LayoutReader reader(file, layout);
  XXH3_state_t* state = XXH3_createState();
  XXH3_64bits_reset(state);
  std::string piece;
  for (uint64_t at = 0; at < layout.size;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, layout.size - at));
    piece.resize(n);
    if (Status st = reader.read(at, piece.data(), n); !st) {
      XXH3_freeState(state);
      return st.error();
    }
    XXH3_64bits_update(state, piece.data(), n);
    at += n;
  }
  uint64_t h = XXH3_64bits_digest(state);
  XXH3_freeState(state);
  return h;
}

struct ItemRef {
  xmlNode* node;
  catalog::ItemPath category;
  uint16_t number;
  int parts;
};

void collect(const CatalogDocument& doc, xmlNode* node, std::vector<ItemRef>& out) {
  for (xmlNode* c = node->children; c; c = c->next) {
    if (CatalogDocument::isCategory(c)) {
      collect(doc, c, out);
    } else if (CatalogDocument::isItem(c) && doc.hasOwnNumber(c)) {
      int parts = std::clamp(std::atoi(doc.field(c, catalog::kListingParts).c_str()), 0, 65535);
      out.push_back({c, doc.parentPath(c), CatalogDocument::numberOf(c), parts});
    }
  }
}

// The listing streams of an item that exist, with their layouts.
std::vector<std::pair<int, storage::StreamLayout>> unitsOf(storage::CompoundFile& file, const ItemRef& item,
                                                           std::vector<std::string>* problems) {
  std::vector<std::pair<int, storage::StreamLayout>> out;
  auto root = file.root();
  auto take = [&](int part, const std::string& name) {
    auto s = root.openStream(name);
    if (!s) return;
    auto l = s->layout();
    if (!l) {
      if (problems) problems->push_back(name + ": " + l.message());
      return;
    }
    out.emplace_back(part, std::move(*l));
  };
  take(0, catalog::streamName(catalog::StreamKind::listing, item.category, item.number));
  for (int k = 1; k <= item.parts; ++k) {
    take(k, catalog::streamName(catalog::StreamKind::listing, item.category, item.number, k));
  }
  take(-1, catalog::streamName(catalog::StreamKind::archives, item.category, item.number));
  return out;
}

Result<storage::StreamLayout> layoutOf(storage::CompoundFile& file, const std::string& name) {
  auto s = file.root().openStream(name);
  if (!s) return s.error();
  return s->layout();
}

Result<uint64_t> readStamp(storage::CompoundFile& file) {
  auto s = file.root().openStream(kNameIndexHead);
  if (!s) return s.error();
  auto bytes = s->readAll();
  if (!bytes) return bytes.error();
  if (bytes->size() != 12 || bytes->compare(0, 4, kStampMagic, 4) != 0) {
    return Error{Errc::corrupt, "the name index's stamp is damaged"};
  }
  return get64(bytes->data() + 4);
}

bool closedParts(std::string_view in, size_t& at, std::vector<int>& parts) {
  uint64_t n;
  if (!getVar(in, at, n) || n > in.size()) return false;
  for (uint64_t i = 0; i < n; ++i) {
    uint64_t p;
    if (!getVar(in, at, p) || p > 65535) return false;
    parts.push_back(static_cast<int>(p));
  }
  return true;
}

uint64_t stampOf(const std::string& catalogText) { return XXH3_64bits(catalogText.data(), catalogText.size()); }

}  // namespace

Status readStreamRange(const storage::CompoundFile& file, const storage::StreamLayout& layout, uint64_t at,
                       char* out, size_t n) {
  return LayoutReader(file, layout).read(at, out, n);
}

std::string requiredRegexLiteral(std::string_view re, bool caseSensitive) {
  if (re.find('|') != std::string_view::npos || re.find("(?") != std::string_view::npos ||
      re.find("\\Q") != std::string_view::npos) {
    return {};
  }
  std::string best, run;
  auto endRun = [&] {
    if (run.size() > best.size()) best = run;
    run.clear();
  };
  int depth = 0;
  for (size_t i = 0; i < re.size();) {
    const auto c = static_cast<unsigned char>(re[i]);
    std::string atom;  // a literal character, or empty
    size_t next = i + 1;
    if (c == '\\') {
      if (i + 1 >= re.size()) return {};
      const auto e = static_cast<unsigned char>(re[i + 1]);
      next = i + 2;
      if (e < 0x80 && std::ispunct(e)) {
        atom.assign(1, static_cast<char>(e));
      } else if (std::string_view("dDwWsShHvVRbBAzZGKXntrfea").find(static_cast<char>(e)) == std::string_view::npos ||
                 e == 0) {
        return {};  // an escape with arguments (\x{..}, \p{..}, \1, ...): not read here
      }
    } else if (c == '[') {
      // A set: no literal. Its end is the first "]" after a leading "^"
      // and a leading "]".
      size_t j = i + 1;
      if (j < re.size() && re[j] == '^') ++j;
      if (j < re.size() && re[j] == ']') ++j;
      for (; j < re.size() && re[j] != ']'; ++j) {
        if (re[j] == '\\' && ++j >= re.size()) return {};
        if (re[j] == '[' && j + 1 < re.size() && re[j + 1] == ':') return {};  // a POSIX class
      }
      if (j >= re.size()) return {};
      next = j + 1;
    } else if (c == '(') {
      ++depth;
      endRun();
      ++i;
      continue;
    } else if (c == ')') {
      if (--depth < 0) return {};
      endRun();
      i = next;
      // The group's quantifier, if any, is passed over with it.
      if (i < re.size() && (re[i] == '?' || re[i] == '*' || re[i] == '+' || re[i] == '{')) {
        if (re[i] == '{') {
          size_t close = re.find('}', i);
          if (close == std::string_view::npos) return {};
          i = close;
        }
        ++i;
        if (i < re.size() && (re[i] == '?' || re[i] == '+')) ++i;
      }
      continue;
    } else if (c == '.' || c == '^' || c == '$') {
      // not literal
    } else if (c == '*' || c == '+' || c == '?' || c == '{' || c == ']' || c == '}') {
      return {};  // a quantifier with nothing before it, or a stray bracket
    } else {
      size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
      if (i + len > re.size()) return {};
      atom.assign(re.substr(i, len));
      next = i + len;
    }
    // What follows the atom says whether it is required, once or more.
    bool optional = false, repeated = false;
    if (next < re.size()) {
      char q = re[next];
      if (q == '?' || q == '*') {
        optional = true;
        ++next;
      } else if (q == '+') {
        repeated = true;
        ++next;
      } else if (q == '{') {
        size_t close = re.find('}', next);
        if (close == std::string_view::npos) return {};
        std::string_view inside = re.substr(next + 1, close - next - 1);
        if (inside.empty() || inside.find_first_not_of("0123456789,") != std::string_view::npos) return {};
        optional = inside[0] == '0' || inside[0] == ',';
        repeated = true;
        next = close + 1;
      }
      if ((optional || repeated) && next < re.size() && (re[next] == '?' || re[next] == '+')) ++next;
    }
    bool plain = !atom.empty() && depth == 0 && !optional;
    if (plain && !caseSensitive) {
      const auto a = static_cast<unsigned char>(atom[0]);
      if (a >= 0x80 || a == 's' || a == 'S') plain = false;
    }
    if (plain) {
      run += atom;
      if (repeated) endRun();
    } else {
      endRun();
    }
    i = next;
  }
  if (depth != 0) return {};
  endRun();
  return best;
}

std::vector<uint32_t> literalTrigrams(std::string_view literal) {
  std::string folded(literal), scratch;
  std::vector<uint32_t> out;
  for (auto& c : folded) c = lowerAscii(c);
  trigramsOf(folded, out);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

uint64_t layoutHash(const storage::StreamLayout& layout) {
  XXH3_state_t* state = XXH3_createState();
  XXH3_64bits_reset(state);
  uint64_t head[2] = {layout.size, layout.small ? 1u : 0u};
  XXH3_64bits_update(state, head, sizeof head);
  if (layout.small) {
    XXH3_64bits_update(state, layout.bytes.data(), layout.bytes.size());
  } else {
    for (const auto& r : layout.runs) {
      uint64_t run[2] = {r.offset, r.length};
      XXH3_64bits_update(state, run, sizeof run);
    }
  }
  uint64_t h = XXH3_64bits_digest(state);
  XXH3_freeState(state);
  return h;
}

std::string indexStreamName(const catalog::ItemPath& category, uint16_t number) {
  return catalog::streamName(catalog::StreamKind::nameIndex, category, number);
}

Result<std::string> indexListingBytes(std::string_view listing, int part, bool archives) {
  ItemBuilder item;
  item.beginUnit(part);
  std::string error;
  bool ok;
  if (archives) {
    ok = item.archives(listing, error);
  } else {
    ListingScanner s;
    ok = true;
    for (size_t at = 0; ok;) {
      size_t n = std::min(kPiece, listing.size() - at);
      s.feed(listing.substr(at, n), at + n >= listing.size());
      ok = item.listing(s, error);
      at += n;
      if (at >= listing.size()) break;
    }
  }
  if (!ok) return Error{Errc::corrupt, error};
  item.endUnit(listing.size(), XXH3_64bits(listing.data(), listing.size()), 0);
  std::string made = item.finish();
  if (made.empty()) return Error{Errc::too_large, "the listing is too large to index"};
  return made;
}

Status ItemIndex::read(uint64_t at, void* out, size_t n) const {
  if (layout_.small) {
    // Bytes at hand (a small stream, or an index given as bytes): no file.
    if (n > layout_.size || at > layout_.size - n) return Error{Errc::corrupt, "a read past the end of the stream"};
    std::memcpy(out, layout_.bytes.data() + at, n);
    return {};
  }
  if (!file_) return Error{Errc::io, "the name index has no file"};
  return LayoutReader(*file_, layout_).read(at, static_cast<char*>(out), n);
}

Result<ItemIndex> ItemIndex::fromBytes(std::string bytes) {
  storage::StreamLayout layout;
  layout.small = true;
  layout.size = bytes.size();
  layout.bytes = std::move(bytes);
  return open(nullptr, std::move(layout));
}

Result<ItemIndex> ItemIndex::open(const storage::CompoundFile& file, storage::StreamLayout layout) {
  return open(&file, std::move(layout));
}

Result<ItemIndex> ItemIndex::open(const storage::CompoundFile* file, storage::StreamLayout layout) {
  ItemIndex index(file, std::move(layout));
  const uint64_t size = index.layout_.size;
  auto damaged = [](const std::string& why) { return Error{Errc::corrupt, "the name index is damaged: " + why}; };
  if (size < kHead) return damaged("it is truncated");
  char head[kHead];
  if (Status st = index.read(0, head, kHead); !st) return st.error();
  if (std::memcmp(head, kMagic, 3) == 0 && head[3] != kMagic[3]) {
    // Another version's: not read, and made again by the next save.
    return Error{Errc::not_found, "the name index was made by another version of the program"};
  }
  if (std::memcmp(head, kMagic, 4) != 0) return damaged("it is not a name index");
  const uint64_t units = get32(head + 4), blocks = get32(head + 8);
  index.trigrams_ = get32(head + 12);
  const uint64_t states = get32(head + 16), lists = get64(head + 20), bodyHash = get64(head + 28);
  const uint64_t pages = (uint64_t{index.trigrams_} + kPage - 1) / kPage;
  // Every count must fit the stream before anything is made of it.
  const uint64_t room = size - kHead;
  const uint64_t body = units * kUnitEntry + blocks * kBlockEntry + pages * kPageEntry;
  const uint64_t table = uint64_t{index.trigrams_} * kTableEntry;
  if (body > room || table > room - body || states > room - body - table || lists != room - body - table - states) {
    return damaged("its counts do not fit its length");
  }
  std::string bytes(static_cast<size_t>(body), '\0');
  if (Status st = index.read(kHead, bytes.data(), bytes.size()); !st) return st.error();
  if (XXH3_64bits(bytes.data(), bytes.size()) != bodyHash) return damaged("its tables do not match their hash");
  const char* p = bytes.data();
  index.units_.reserve(static_cast<size_t>(units));
  index.stateAt_.reserve(static_cast<size_t>(blocks) + 1);
  index.closesParts_.reserve(static_cast<size_t>(blocks));
  index.stateHash_.reserve(static_cast<size_t>(blocks));
  for (uint64_t i = 0; i < units; ++i, p += kUnitEntry) {
    IndexUnit u;
    u.part = static_cast<int32_t>(get32(p));
    u.size = get64(p + 4);
    u.contentHash = get64(p + 12);
    u.layoutHash = get64(p + 20);
    u.texts = get32(p + 28);
    u.firstBlock = get32(p + 32);
    if (u.firstBlock > blocks || (i == 0 ? u.firstBlock != 0 : u.firstBlock < index.units_.back().firstBlock)) {
      return damaged("its units' blocks are out of order");
    }
    index.units_.push_back(std::move(u));
  }
  for (uint64_t b = 0; b < blocks; ++b, p += kBlockEntry) {
    uint32_t state = get32(p + 8) & ~kClosedFlag;
    if (state > states || (b > 0 && state < index.stateAt_.back())) return damaged("a block's state lies outside");
    index.stateAt_.push_back(state);
    index.closesParts_.push_back((get32(p + 8) & kClosedFlag) != 0);
    index.stateHash_.push_back(get32(p + 12));
  }
  index.stateAt_.push_back(static_cast<uint32_t>(states));
  // Each unit's blocks: rising starts inside its listing, the first at 0.
  for (size_t i = 0; i < index.units_.size(); ++i) {
    IndexUnit& u = index.units_[i];
    uint32_t end = i + 1 < index.units_.size() ? index.units_[i + 1].firstBlock : static_cast<uint32_t>(blocks);
    u.blockStart.reserve(end - u.firstBlock + 1);
    for (uint32_t b = u.firstBlock; b < end; ++b) {
      uint64_t start = get64(bytes.data() + units * kUnitEntry + b * kBlockEntry);
      if (start > u.size || (b == u.firstBlock ? start != 0 : start <= u.blockStart.back())) {
        return damaged("a block lies outside its listing");
      }
      u.blockStart.push_back(start);
    }
    u.blockStart.push_back(u.size);
  }
  index.pageFirst_.reserve(static_cast<size_t>(pages));
  index.pageOffset_.reserve(static_cast<size_t>(pages));
  index.pageHash_.reserve(static_cast<size_t>(pages));
  for (uint64_t g = 0; g < pages; ++g, p += kPageEntry) {
    index.pageFirst_.push_back(get32(p));
    index.pageOffset_.push_back(get32(p + 4));
    index.pageHash_.push_back(get32(p + 8));
    if ((g > 0 && (index.pageFirst_[g] <= index.pageFirst_[g - 1] || index.pageOffset_[g] < index.pageOffset_[g - 1])) ||
        index.pageOffset_[g] > lists) {
      return damaged("the pages of its trigram table are out of order");
    }
  }
  index.blocks_ = static_cast<uint32_t>(blocks);
  index.tableAt_ = kHead + body;
  index.statesAt_ = index.tableAt_ + table;
  index.postingsAt_ = index.statesAt_ + states;
  index.postingsSize_ = lists;
  return index;
}

const IndexUnit* ItemIndex::unit(int part) const {
  for (const auto& u : units_) {
    if (u.part == part) return &u;
  }
  return nullptr;
}

Result<std::vector<uint32_t>> ItemIndex::blocksWith(const std::vector<uint32_t>& trigrams) const {
  auto damaged = [](const std::string& why) { return Error{Errc::corrupt, "the name index is damaged: " + why}; };
  std::vector<uint32_t> have;
  bool first = true;
  std::string page, list;
  for (uint32_t t : trigrams) {
    // The page that would hold it, read and checked.
    auto after = std::upper_bound(pageFirst_.begin(), pageFirst_.end(), t);
    if (after == pageFirst_.begin()) return std::vector<uint32_t>{};
    const size_t g = static_cast<size_t>(after - pageFirst_.begin()) - 1;
    const size_t entries = std::min<size_t>(kPage, trigrams_ - g * kPage);
    page.resize(entries * kTableEntry);
    if (Status st = read(tableAt_ + g * kPage * kTableEntry, page.data(), page.size()); !st) return st.error();
    if (static_cast<uint32_t>(XXH3_64bits(page.data(), page.size())) != pageHash_[g] ||
        get32(page.data()) != pageFirst_[g] || get32(page.data() + 4) != pageOffset_[g]) {
      return damaged("a page of its trigram table does not match its hash");
    }
    size_t lo = 0, hi = entries;
    while (lo < hi) {
      size_t mid = (lo + hi) / 2;
      if (get32(page.data() + mid * kTableEntry) < t) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    if (lo == entries || get32(page.data() + lo * kTableEntry) != t) return std::vector<uint32_t>{};
    uint64_t from = get32(page.data() + lo * kTableEntry + 4);
    uint64_t to = lo + 1 < entries              ? get32(page.data() + (lo + 1) * kTableEntry + 4)
                  : g + 1 < pageOffset_.size() ? pageOffset_[g + 1]
                                               : postingsSize_;
    if (from >= to || to > postingsSize_) return damaged("a posting list lies outside the stream");
    list.resize(static_cast<size_t>(to - from));
    if (Status st = read(postingsAt_ + from, list.data(), list.size()); !st) return st.error();
    if (static_cast<uint32_t>(XXH3_64bits(list.data(), list.size())) != get32(page.data() + lo * kTableEntry + 8)) {
      return damaged("a posting list does not match its hash");
    }
    std::vector<uint32_t> these;
    if (list[0] == 1) {
      if (list.size() != 1 + (uint64_t{blocks_} + 7) / 8) return damaged("a posting list's bitmap has the wrong length");
      for (size_t i = 1; i < list.size(); ++i) {
        for (auto bits = static_cast<unsigned char>(list[i]); bits; bits &= static_cast<unsigned char>(bits - 1)) {
          uint32_t b = static_cast<uint32_t>((i - 1) * 8 + static_cast<size_t>(__builtin_ctz(bits)));
          if (b >= blocks_) return damaged("a posting list names a block that is not there");
          these.push_back(b);
        }
      }
    } else if (list[0] == 0) {
      uint64_t block = 0;
      for (size_t at = 1; at < list.size();) {
        uint64_t step;
        if (!getVar(list, at, step)) return damaged("a posting list ends inside a number");
        block = these.empty() ? step : block + step;
        if (block >= blocks_ || (!these.empty() && step == 0)) return damaged("a posting list names a block that is not there");
        these.push_back(static_cast<uint32_t>(block));
      }
    } else {
      return damaged("a posting list is of no known kind");
    }
    if (first) {
      have = std::move(these);
      first = false;
    } else {
      std::vector<uint32_t> both;
      std::set_intersection(have.begin(), have.end(), these.begin(), these.end(), std::back_inserter(both));
      have = std::move(both);
    }
    if (have.empty()) break;
  }
  return have;
}

bool ItemIndex::closesParts(const IndexUnit& u, uint32_t block) const {
  const uint64_t at = uint64_t{u.firstBlock} + block;
  return at >= blocks_ || closesParts_[at];
}

Result<StatesRead> ItemIndex::readStates(const IndexUnit& u, const std::vector<uint32_t>& blocks) const {
  // A gap of up to a page is read through rather than read around: a read
  // costs about as much as a page first copied (on a rare name over a
  // million records, 450 reads of 1.2 MB took 14.3 ms, 675 of 0.9 MB 15.1
  // and 460 of 1.3 MB with gaps of 16 KiB 14.4).
  constexpr uint64_t kGap = 4 * 1024;
  constexpr uint64_t kWindow = 1024 * 1024;
  StatesRead out;
  uint64_t from = 0, to = 0;
  auto flush = [&]() -> Status {
    if (to <= from) return {};
    StatesRead::Window w;
    w.from = from;
    w.bytes.resize(static_cast<size_t>(to - from));
    if (Status st = read(statesAt_ + from, w.bytes.data(), w.bytes.size()); !st) return st;
    out.windows.push_back(std::move(w));
    return {};
  };
  for (uint32_t b : blocks) {
    const uint64_t at = uint64_t{u.firstBlock} + b;
    if (at >= blocks_) continue;  // said by the lookup itself
    const uint64_t start = stateAt_[at], end = stateAt_[at + 1];
    if (end <= start) continue;
    if (to > from && (start < to || start - to > kGap || end - from > kWindow)) {
      if (Status st = flush(); !st) return st.error();
      from = to = 0;
    }
    if (to <= from) from = start;
    to = end;
  }
  if (Status st = flush(); !st) return st.error();
  return out;
}

Result<std::string> ItemIndex::stateBytes(uint32_t block, const StatesRead* ahead) const {
  auto damaged = [] { return Error{Errc::corrupt, "the name index is damaged: a block's state cannot be read"}; };
  if (block >= blocks_) return damaged();
  const uint64_t start = stateAt_[block], size = stateAt_[block + 1] - start;
  std::string bytes;
  if (ahead) {
    auto w = std::upper_bound(ahead->windows.begin(), ahead->windows.end(), start,
                              [](uint64_t at, const StatesRead::Window& x) { return at < x.from; });
    if (w != ahead->windows.begin() && start + size <= (--w)->from + w->bytes.size()) {
      bytes.assign(w->bytes, static_cast<size_t>(start - w->from), static_cast<size_t>(size));
    }
  }
  if (bytes.size() != size) {
    bytes.assign(static_cast<size_t>(size), '\0');
    if (Status st = read(statesAt_ + start, bytes.data(), bytes.size()); !st) return st.error();
  }
  if (static_cast<uint32_t>(XXH3_64bits(bytes.data(), bytes.size())) != stateHash_[block]) return damaged();
  return bytes;
}

Status ItemIndex::verify() const {
  std::string page;
  for (size_t g = 0; g < pageFirst_.size(); ++g) {
    const size_t entries = std::min<size_t>(kPage, trigrams_ - g * kPage);
    page.resize(entries * kTableEntry);
    if (Status st = read(tableAt_ + g * kPage * kTableEntry, page.data(), page.size()); !st) return st;
    for (size_t i = 0; i < entries; ++i) {
      auto b = blocksWith({get32(page.data() + i * kTableEntry)});
      if (!b) return b.error();
      if (b->empty()) return Error{Errc::corrupt, "the name index is damaged: its trigram table is out of order"};
    }
  }
  for (const auto& u : units_) {
    for (uint32_t b = 0; b < u.blocks(); ++b) {
      if (b == 0 || u.part < 0) {
        if (auto p = partsClosed(u, b); !p) return p.error();
      } else if (auto st = state(u, b); !st) {
        return st.error();
      }
    }
  }
  return {};
}

Result<std::vector<int>> ItemIndex::partsClosed(const IndexUnit& u, uint32_t block, const StatesRead* ahead) const {
  std::vector<int> parts;
  const uint32_t at = u.firstBlock + block;
  if (at < blocks_ && !closesParts_[at]) return parts;
  auto bytes = stateBytes(at, ahead);
  if (!bytes) return bytes.error();
  size_t from = 0;
  if (!closedParts(*bytes, from, parts)) {
    return Error{Errc::corrupt, "the name index is damaged: a block's state cannot be read"};
  }
  return parts;
}

Result<BlockState> ItemIndex::state(const IndexUnit& u, uint32_t block, const StatesRead* ahead) const {
  auto damaged = [] { return Error{Errc::corrupt, "the name index is damaged: a block's state cannot be read"}; };
  auto bytes = stateBytes(u.firstBlock + block, ahead);
  if (!bytes) return bytes.error();
  std::string_view in = *bytes;
  size_t at = 0;
  BlockState s;
  uint64_t n;
  auto texts = [&](std::vector<std::string>& out) {
    if (!getVar(in, at, n) || n > in.size()) return false;
    out.resize(static_cast<size_t>(n));
    for (auto& t : out) {
      if (!getText(in, at, t)) return false;
    }
    return true;
  };
  if (!closedParts(in, at, s.partsClosed)) return damaged();
  if (!texts(s.open)) return damaged();
  if (!getVar(in, at, n) || n > in.size()) return damaged();
  s.folders.resize(static_cast<size_t>(n));
  s.folderParts.resize(static_cast<size_t>(n));
  for (size_t i = 0; i < s.folders.size(); ++i) {
    uint64_t p;
    if (!getText(in, at, s.folders[i]) || !getVar(in, at, p) || p > 65535) return damaged();
    s.folderParts[i] = static_cast<int>(p);
  }
  if (!getText(in, at, s.base)) return damaged();
  if (s.open.empty() || s.open.size() > ListingScanner::kMaxDepth) return damaged();
  return s;
}

bool nameIndexTrusted(catalog::Library& library) {
  if (library.modified()) return false;
  auto stamp = readStamp(library.file());
  return stamp && *stamp == stampOf(library.catalog().currentText());
}

Status refreshNameIndex(catalog::Library& library, const std::string& catalogText) {
  auto& file = library.file();
  auto& doc = library.catalog();
  std::vector<ItemRef> items;
  collect(doc, doc.root(), items);
  std::set<std::string> wanted;
  auto root = file.root();
  for (const auto& item : items) {
    std::string name = indexStreamName(item.category, item.number);
    wanted.insert(name);
    auto units = unitsOf(file, item, nullptr);
    // Kept when every listing is as it was indexed, by content and place.
    bool keep = false;
    if (auto l = layoutOf(file, name)) {
      if (auto index = ItemIndex::open(file, std::move(*l)); index && index->units().size() == units.size()) {
        keep = true;
        for (const auto& [part, layout] : units) {
          const IndexUnit* u = index->unit(part);
          if (!u || u->size != layout.size || u->layoutHash != layoutHash(layout)) {
            keep = false;
            break;
          }
          auto h = contentHashOf(file, layout);
          if (!h) return h.error();
          if (*h != u->contentHash) {
            keep = false;
            break;
          }
        }
      }
    }
    if (keep) continue;
    ItemBuilder builder;
    for (const auto& [part, layout] : units) {
      // A damaged listing gets no unit: its searches read it whole.
      if (Status st = indexStream(builder, file, layout, part); !st) return st;
    }
    std::string made = builder.finish();
    if (made.empty()) {
      // Too large to index: the item's searches read its listings.
      if (root.contains(name)) {
        if (Status st = root.destroy(name); !st) return st;
      }
      continue;
    }
    auto s = root.createStream(name);
    if (!s) return s.error();
    if (Status st = s->write(made); !st) return st;
    if (Status st = s->commit(); !st) return st;
  }
  // Index streams no item answers to any more.
  auto elements = root.elements();
  if (!elements) return elements.error();
  for (const auto& e : *elements) {
    if (e.name.rfind("nix", 0) == 0 && !wanted.count(e.name)) {
      if (Status st = root.destroy(e.name); !st) return st;
    }
  }
  std::string stamp(kStampMagic, 4);
  put64(stamp, stampOf(catalogText));
  auto s = root.createStream(kNameIndexHead);
  if (!s) return s.error();
  if (Status st = s->write(stamp); !st) return st;
  return s->commit();
}

Status dropNameIndex(catalog::Library& library) {
  auto root = library.file().root();
  auto elements = root.elements();
  if (!elements) return elements.error();
  for (const auto& e : *elements) {
    if (e.name == kNameIndexHead || e.name.rfind("nix", 0) == 0) {
      if (Status st = root.destroy(e.name); !st) return st;
    }
  }
  library.noteStreamsChanged();
  return {};
}

NameIndexReport inspectNameIndex(catalog::Library& library, bool deep) {
  NameIndexReport r;
  auto& file = library.file();
  auto& doc = library.catalog();
  auto stamp = readStamp(file);
  r.present = static_cast<bool>(stamp);
  r.current = nameIndexTrusted(library);
  if (!stamp && stamp.error().code != Errc::not_found) {
    r.problems.push_back(stamp.message());
    r.damage.push_back(stamp.message());
  }
  std::vector<ItemRef> items;
  collect(doc, doc.root(), items);
  for (const auto& item : items) {
    ++r.items;
    std::string path = doc.namePath(item.node);
    auto units = unitsOf(file, item, &r.problems);
    for (const auto& u : units) r.listingBytes += u.second.size;
    auto l = layoutOf(file, indexStreamName(item.category, item.number));
    if (!l) {
      if (r.present) r.problems.push_back(path + ": no name index");
      continue;
    }
    auto index = ItemIndex::open(file, std::move(*l));
    if (!index) {
      r.problems.push_back(path + ": " + index.message());
      if (index.error().code == Errc::corrupt) r.damage.push_back(r.problems.back());
      continue;
    }
    if (deep) {
      if (Status st = index->verify(); !st) {
        r.problems.push_back(path + ": " + st.message());
        r.damage.push_back(r.problems.back());
        continue;
      }
    }
    ++r.itemsIndexed;
    r.bytes += index->bytes();
    for (const auto& [part, layout] : units) {
      ++r.units;
      const IndexUnit* u = index->unit(part);
      std::string which = part < 0 ? "the archive listings" : part == 0 ? "the listing" : "listing part " + std::to_string(part);
      if (!u) {
        r.problems.push_back(path + ": " + which + " is not indexed");
        continue;
      }
      r.texts += u->texts;
      bool same = u->size == layout.size && u->layoutHash == layoutHash(layout);
      if (same && deep) {
        auto h = contentHashOf(file, layout);
        same = h && *h == u->contentHash;
      }
      if (same) {
        ++r.unitsCurrent;
      } else {
        r.problems.push_back(path + ": the index of " + which + " is stale");
      }
    }
  }
  return r;
}

void installNameIndex() { catalog::Library::setBeforeSave(&refreshNameIndex); }

}  // namespace tamber::search
