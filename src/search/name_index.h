// The name index of a library. Every disc or folder gets one stream of its
// own ("nix" and the item's numbers) that tells, for every three bytes that
// stand in the searchable texts of its listings (names, tags, properties,
// archive members), which blocks of about 4 KiB of those listings hold
// them. A search for a text then reads only the blocks that hold every three
// bytes of the text's plain run, and reads them as it reads a whole listing:
// the rows are the same with and without the index.
//
// Texts are indexed folded: ASCII letters in lower case and, as a second
// form where they occur, the two characters outside ASCII whose lower case
// is an ASCII letter (the dotted capital I, the Kelvin sign) replaced by it.
//
// A small stream "nameindex" stamps the index with the catalog text it was
// made for, and each unit records the size and place of the listing it
// describes. A reader uses the index only while both still hold; every save
// of a program that keeps the index brings it in step first (rebuilding
// only the items whose listings changed), and a writer that does not keep it
// changes the catalog text when it saves.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/library.h"
#include "platform/result.h"
#include "storage/compound_file.h"

namespace tamber::search {

inline constexpr const char* kNameIndexHead = "nameindex";

// A listing stream's blocks are cut where a file or folder starts, once this
// many bytes were read since the block began: small enough that a name made
// of common trigrams (digits) is still found in few of them.
inline constexpr size_t kIndexBlockBytes = 4 * 1024;

// The trigrams a text (folded) must hold for `literal` to stand in it:
// sorted, without repeats; empty when the literal is shorter than three
// bytes.
std::vector<uint32_t> literalTrigrams(std::string_view literal);

// The longest text every match of a regular expression must hold, read
// conservatively: empty when it has alternatives, inline options or a
// construct not understood here. Without case, letters that have a case
// partner outside ASCII the index does not fold ("s": the long s) and
// characters outside ASCII end a run.
std::string requiredRegexLiteral(std::string_view regex, bool caseSensitive);

// Where a search may resume inside a listing: the elements open there, the
// folders open with the listing parts their entries went to, the part's
// stored path, and the listing parts whose folders close inside the block.
struct BlockState {
  std::vector<std::string> open;
  std::vector<std::string> folders;
  std::vector<int> folderParts;
  std::string base;
  std::vector<int> partsClosed;
};

// One listing stream's part of an item's index, as read. Its blocks are
// numbered from 0 here and from `firstBlock` in the item's index.
struct IndexUnit {
  int part = 0;               // 0: the main listing, k: part k, -1: the archive listings
  uint64_t size = 0;          // of the listing when it was indexed
  uint64_t contentHash = 0;
  uint64_t layoutHash = 0;    // where its bytes stood
  uint32_t texts = 0;         // texts indexed
  uint32_t firstBlock = 0;
  std::vector<uint64_t> blockStart;  // offsets in the listing; one more: its size
  uint32_t blocks() const { return static_cast<uint32_t>(blockStart.size() - 1); }
};

// The identity of a listing stream's bytes as stored: its size and the runs
// it occupies (or, for a small stream, its bytes).
uint64_t layoutHash(const storage::StreamLayout& layout);

// The states of some blocks, read ahead together (see ItemIndex::readStates).
struct StatesRead {
  struct Window {
    uint64_t from = 0;  // in the index's states
    std::string bytes;
  };
  std::vector<Window> windows;  // rising
};

// An item's index stream, opened for lookups from any thread: what every
// lookup needs is read at once; a page of the trigram table, a posting list
// or a block's state is read when asked for, and checked.
class ItemIndex {
 public:
  // Reads the units and blocks; an error names the damage.
  static Result<ItemIndex> open(const storage::CompoundFile& file, storage::StreamLayout layout);
  // The same from the stream's bytes (the tests, the fuzz target).
  static Result<ItemIndex> fromBytes(std::string bytes);
  // The unit of a listing part, or null.
  const IndexUnit* unit(int part) const;
  // The blocks (numbered in the item) that hold every trigram, sorted; an
  // error names damage.
  Result<std::vector<uint32_t>> blocksWith(const std::vector<uint32_t>& trigrams) const;
  // Whether partsClosed() has to read the block's state.
  bool closesParts(const IndexUnit& unit, uint32_t block) const;
  // Reads the states of a unit's blocks (rising) at once: those that lie
  // close together in the stream come in one read, not one read each. The
  // bytes are checked when state() or partsClosed() takes them.
  Result<StatesRead> readStates(const IndexUnit& unit, const std::vector<uint32_t>& blocks) const;
  // The listing parts whose folders close inside a unit's block; from the
  // states read ahead when they hold it.
  Result<std::vector<int>> partsClosed(const IndexUnit& unit, uint32_t block, const StatesRead* ahead = nullptr) const;
  // Where a search resumes at the start of a unit's block.
  Result<BlockState> state(const IndexUnit& unit, uint32_t block, const StatesRead* ahead = nullptr) const;
  // Reads every page, posting list and block state back.
  Status verify() const;
  const std::vector<IndexUnit>& units() const { return units_; }
  uint64_t bytes() const { return layout_.size; }

 private:
  ItemIndex(const storage::CompoundFile* file, storage::StreamLayout layout)
      : file_(file), layout_(std::move(layout)) {}
  static Result<ItemIndex> open(const storage::CompoundFile* file, storage::StreamLayout layout);
  Status read(uint64_t at, void* out, size_t n) const;
  Result<std::string> stateBytes(uint32_t block, const StatesRead* ahead = nullptr) const;
  const storage::CompoundFile* file_;
  storage::StreamLayout layout_;
  std::vector<IndexUnit> units_;
  uint32_t blocks_ = 0, trigrams_ = 0;
  std::vector<uint32_t> stateAt_, stateHash_;  // by block; stateAt_ has one more: the end
  std::vector<char> closesParts_;              // the block's state names parts closed in it
  std::vector<uint32_t> pageFirst_, pageOffset_, pageHash_;
  uint64_t tableAt_ = 0, statesAt_ = 0, postingsAt_ = 0, postingsSize_ = 0;
};

// Reads `n` bytes at `at` of a stream from its layout (from any thread).
Status readStreamRange(const storage::CompoundFile& file, const storage::StreamLayout& layout, uint64_t at,
                       char* out, size_t n);

// The name of an item's index stream.
std::string indexStreamName(const catalog::ItemPath& category, uint16_t number);

// Whether a reader may use the library's index: nothing unsaved, and the
// stamp matches the catalog as saved.
bool nameIndexTrusted(catalog::Library& library);

// What the index holds, for `tamber index`.
struct NameIndexReport {
  bool present = false;   // a stamp is there
  bool current = false;   // and matches the catalog
  long long items = 0, itemsIndexed = 0;
  long long units = 0, unitsCurrent = 0, texts = 0;
  uint64_t bytes = 0, listingBytes = 0;
  std::vector<std::string> problems;  // item path: what is wrong
  std::vector<std::string> damage;    // those of them that are damage (not staleness)
};
// Looks at every item's index; with `deep`, each listing is read and
// compared by content too.
NameIndexReport inspectNameIndex(catalog::Library& library, bool deep);

// Brings the index in step with the listings and stamps it for
// `catalogText` (the text about to be saved): called before a save.
Status refreshNameIndex(catalog::Library& library, const std::string& catalogText);
// Removes every index stream and the stamp.
Status dropNameIndex(catalog::Library& library);
// Makes every save of a library keep the index.
void installNameIndex();

// An index section made of one listing stream's bytes, for the tests and
// the fuzz target: `archives` for the archive listings. Fails when the
// listing is damaged.
Result<std::string> indexListingBytes(std::string_view listing, int part, bool archives);

}  // namespace tamber::search
