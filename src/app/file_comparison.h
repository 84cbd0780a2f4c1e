// Two states of a tree of files side by side: what an item recorded and
// what a folder holds now (verify), or two items, or an item and a folder
// (diff). Files are compared by their path below the root: the size and the
// modification time as listings record them, a link's target, and the
// content hash where both sides have one that can be trusted.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalog/library.h"
#include "scan/add_folder_job.h"
#include "platform/result.h"
#include "scan/listing_reader.h"

namespace tamber::app {

struct FileFacts {
  std::string path;      // below the root, "/"-joined
  uint64_t size = 0;
  std::string modified;  // HexTime, as the listing holds it
  std::string hash;      // a trusted content hash, or empty
  std::string problem;   // why the hash is missing or not to be trusted
  std::string link;      // a symbolic link's target
  bool isLink = false;
};

// The files of one listing (folders only give their paths), in the order
// the listing holds them.
struct FileSet {
  std::vector<FileFacts> files;
  uint64_t hashed = 0;  // files with a trusted content hash
};

// Reads the files of a listing; `stop` is asked after each entry and ends
// the reading with Errc::cancelled.
Result<FileSet> readFileSet(const scan::ListingOpener& open, const std::function<bool()>& stop = {});

enum class Difference {
  missing,     // in the first set only (verify: recorded, gone; diff: removed)
  added,       // in the second only
  changed,     // the same path, another size, time or link target
  damaged,     // the same size and time, another content hash
  moved,       // gone from one path and found at another (same hash, or same name and size)
  unreadable,  // the second side could not hash a file the first has a hash of
};
const char* differenceKey(Difference d);

struct FileDifference {
  Difference kind;
  const FileFacts* before = nullptr;  // the first set's file (none for added)
  const FileFacts* after = nullptr;   // the second set's file (none for missing)
  // For changed: which facts differ ("size", "time", "link"), joined by ",".
  std::string what;
};

struct Comparison {
  std::vector<FileDifference> differences;  // by kind, then by path
  uint64_t same = 0;          // files found alike
  uint64_t hashCompared = 0;  // of those, files whose content hashes were compared
  bool differs() const { return !differences.empty(); }
  size_t count(Difference kind) const;
};

// Compares `before` with `after`. With `findMoves`, a file missing from one
// path and added at another counts as moved when both have the same content
// hash, or, where either side has none, the same name and size.
Comparison compareFileSets(const FileSet& before, const FileSet& after, bool findMoves);

// A library of its own in a new folder below the temporary folder, for a
// scan whose listing is only compared, never kept: the folder goes with it.
class ScratchLibrary {
 public:
  static Result<std::unique_ptr<ScratchLibrary>> create();
  ~ScratchLibrary();
  ScratchLibrary(const ScratchLibrary&) = delete;
  ScratchLibrary& operator=(const ScratchLibrary&) = delete;

  catalog::Library& library() { return *library_; }
  // The category a scan files its item in.
  const catalog::ItemPath& category() const { return category_; }

 private:
  ScratchLibrary() = default;
  std::string folder_;
  std::unique_ptr<catalog::Library> library_;
  catalog::ItemPath category_;
};

// A folder read as a scan reads it (`options`' filter, depth and rules), into
// a scratch library; no reader runs, and every file is hashed when
// `options.hash` says so. Run the job (a front end shows its counters),
// then take the files.
class FolderReading {
 public:
  static Result<std::unique_ptr<FolderReading>> prepare(scan::AddFolderOptions options);
  scan::AddFolderJob& job() { return *job_; }
  // The files the job recorded; call once the job has ended well.
  Result<FileSet> files();

 private:
  FolderReading() = default;
  std::unique_ptr<ScratchLibrary> scratch_;
  std::unique_ptr<scan::AddFolderJob> job_;
};

// Whether `path` is a folder (a link to one counts).
bool isFolder(const std::string& path);

// The reading that verifies `item` of `doc`: its recorded scan settings,
// at `path` (empty: where it was scanned from, or, when that is not there,
// its volume mounted elsewhere), hashing when `hash`. Errors: an audio
// disc (nothing to read), no such folder.
Result<scan::AddFolderOptions> verifyOptions(const catalog::CatalogDocument& doc, const xmlNode* item,
                                             const std::string& path, bool hash);

// Tracks that stand at the top of an extra disc's listing beside its files:
// no folder holds them, so a verify leaves them out.
void dropTracks(FileSet& recorded);

}  // namespace tamber::app
