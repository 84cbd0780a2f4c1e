// Reading a listing back: the tree of a disc or folder with what was
// recorded for each file, its parts followed, and the records of the
// thumbnail and archive streams.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalog/names.h"
#include "platform/result.h"
#include "storage/compound_file.h"

namespace tamber::scan {

struct ListingEntry {
  std::string name;
  bool folder = false;
  uint64_t size = 0;
  std::string modified;  // HexTime
  std::string created;   // HexTime
  int part = 0;          // a folder whose entries were in a part
  // The file's other recorded fields, by name code, in their order.
  std::vector<std::pair<std::string, std::string>> fields;
  std::vector<ListingEntry> children;

  const std::string* field(std::string_view code) const;
};

struct Listing {
  int kind = 0;
  std::vector<ListingEntry> entries;
  int parts = 0;  // parts read
};

// Parses a listing; `loadPart(k)` gives the text of part k or nothing.
// Parts that are missing, damaged or named twice give an error.
using PartLoader = std::function<std::optional<std::string>(int)>;
Result<Listing> parseListing(std::string_view text, const PartLoader& loadPart);

// Streaming: a listing is read entry by entry, its parts followed where
// their folders stand, so that memory stays bounded whatever its size.
// A source gives up to `len` bytes (0 at the end, -1 on an error).
using ChunkReader = std::function<int(char* buffer, int len)>;
// The main listing (part 0) or part k; nothing when it does not exist.
using ListingOpener = std::function<std::optional<ChunkReader>(int part)>;

struct ListingVisitor {
  // The listing's kind code, from its root.
  std::function<void(int kind)> root;
  // An entry with its fields (no children) at `depth` (0: the top level).
  // Returns whether to go into a folder's entries.
  std::function<bool(ListingEntry& entry, int depth)> entry;
  // After the entries of a folder that was gone into.
  std::function<void(const ListingEntry& folder, int depth)> leave;
  // Checked after each entry: true ends the walk early (without an error).
  std::function<bool()> stop;
};

Status walkListing(const ListingOpener& open, const ListingVisitor& visitor, int* partsRead = nullptr);
// Every file of a listing (folders are gone into, never handed over), with
// the path of the folder it stands in, "/"-joined and ending in "/" ("" at
// the top); `newFolder` is true for the first file of each run of files in
// one folder. `stop` ends the walk early, as in ListingVisitor.
using FileTaker = std::function<void(ListingEntry& file, const std::string& folder, bool newFolder)>;
Status walkFiles(const ListingOpener& open, const FileTaker& take, const std::function<bool()>& stop = {});
ListingOpener memoryListing(std::string_view text, const PartLoader& loadPart);
ListingOpener streamListing(storage::Storage library, const catalog::ItemPath& category,
                            uint16_t number);

// Reads the listing of item `number` in `category` from the library.
Result<Listing> readListing(storage::Storage library, const catalog::ItemPath& category,
                            uint16_t number);

// What a path inside an item names: the listing below a folder (the item's
// top when `steps` is empty), or one file.
struct Collected {
  ListingEntry top;  // children: the entries listed
  bool found = false;
  bool file = false;  // the path names a file: top.children holds it alone
};

// Reads the entries below the folder `steps` names, `levels` levels deep.
// Only the folders on the way are read, and memory holds what is listed,
// never the rest of the item. With `stream`, entries go to it (with their
// level) instead of into the result; it says whether to go into a folder.
Result<Collected> collectBelow(storage::Storage library, const catalog::ItemPath& category,
                               uint16_t number, const std::vector<std::string>& steps, int levels,
                               const std::function<bool(ListingEntry&, int)>& stream = {});
// The same from any listing; `stop` is asked after each entry and ends the
// walk early (with what was found so far) when it says so.
Result<Collected> collectBelow(const ListingOpener& open, const std::vector<std::string>& steps, int levels,
                               const std::function<bool(ListingEntry&, int)>& stream = {},
                               const std::function<bool()>& stop = {});
// A listing read from the layouts of its streams (0 the main listing, k
// part k) with CompoundFile::readAt: another thread may read it while the
// file's owner goes on, as long as the committed state it was laid out from
// stays (no commit meanwhile).
ListingOpener layoutListing(const storage::CompoundFile& file, std::map<int, storage::StreamLayout> layouts);

// The entry at a relative path ("Photos/2019/a.jpg"); the empty path is the
// root, returned as nullptr with found = true.
const ListingEntry* findEntry(const Listing& listing, std::string_view path, bool& found);

// One record of the thumbnail or archive stream: the bytes after the 4-byte
// length at `offset`.
Result<std::string> readRecord(storage::Storage library, const std::string& streamName,
                               uint64_t offset);
// The same from a stream already open (`streamName` names it in errors).
Result<std::string> readRecord(storage::Stream& stream, const std::string& streamName, uint64_t offset);
// The same from a stream's layout with CompoundFile::readAt: safe from any
// thread while no commit changes the committed state.
Result<std::string> readRecord(const storage::CompoundFile& file, const storage::StreamLayout& layout,
                               uint64_t offset);

// The record a file points to by its field `code` (a hex offset) in the
// item's stream of `kind` (the thumbnail or the archive listing). Errors:
// not_found when no file has that path, invalid_argument when it names a
// folder, unsupported when the file has no such record.
Result<std::string> fileRecord(storage::Storage library, const catalog::ItemPath& category,
                               uint16_t number, const std::vector<std::string>& steps,
                               const char* code, catalog::StreamKind kind);

// An archive's stored description: where it was, its comment, its members.
struct StoredArchive {
  struct Member {
    std::string name;
    bool folder = false;
    std::string size, packed, modified, attributes;  // as stored ("" when absent)
  };
  std::string path, comment;  // the comment's line breaks made "\n"
  std::vector<Member> members;
  // Why the listing stops short ("bytes", "time", "entries", "damaged");
  // empty when it is whole.
  std::string partial;
};
// Nothing when the description is damaged (a DTD in it included: the
// format is our own, it holds no entities).
std::optional<StoredArchive> parseStoredArchive(std::string_view description);

// The name a field is shown under ("artist" for "s"); the code when it has none.
std::string fieldDisplayName(std::string_view code);

}  // namespace tamber::scan
