// The scanner: walks a folder tree or a data disc depth-first and writes its
// listing into the library, one stream per listing part, with the thumbnails
// and archive listings of its files in two more streams.
//
// Every folder is first written into its own buffer and copied into its
// parent's when finished, so a folder that fails or is cancelled never
// reaches the listing half-written. A folder whose inline subtree would pass
// 1000 entries goes into a part stream of its own and stands in its parent
// with its number. Memory therefore grows with the deepest chain of inline
// folders only; the root's entries spill into a temporary file when large.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "catalog/names.h"
#include "scan/listing.h"
#include "scan/user_readers.h"
#include "storage/compound_file.h"

namespace tamber::scan {

class PreviousScan;

// Tests only: called with a file's path just before the scanner opens it for
// the readers (to swap the file for a FIFO between the walk and the open).
extern void (*beforeReaderOpenHook)(const std::string& path);

// Why a walk stopped (ScanContext::error).
inline constexpr int kScanOk = 0;
inline constexpr int kScanUnreadable = 6;      // the root could not be read
inline constexpr int kScanOutOfMemory = 8;
inline constexpr int kScanPartName = 0x16;     // a listing part could not be named
inline constexpr int kScanWriteFailed = 0x1D;  // the library could not be written
inline constexpr int kScanCancelled = 0x4C7;

// The deepest level that is entered when the depth is unlimited.
inline constexpr int kUnlimitedDepth = 255;

// The options from one folder on: its full path (compared exactly) and flags.
struct SubfolderRule {
  std::string path;
  uint32_t flags = kScanAll;
};

// The two-line text a front end shows: the root, then the folder being read.
class ProgressText {
 public:
  void set(const std::string& root, std::string_view relative);
  void setText(std::string text);
  std::string get() const;
  static constexpr size_t kMaxCharacters = 259;

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

// Cells the walk writes and a front end reads while it runs.
struct ScanCounters {
  std::atomic<bool> running{true};
  std::atomic<uint64_t> progress{0};    // files, or bytes when counting bytes
  std::atomic<uint64_t> total{0};       // what progress runs up to, 0: unknown
  std::atomic<uint64_t> totalBytes{0};  // sizes of the files catalogued
  std::atomic<uint32_t> folders{0};
  std::atomic<uint32_t> files{0};
  std::atomic<int32_t> deepestLevel{0};
  std::atomic<int32_t> splitCount{-1};
  std::atomic<uint64_t> readAnew{0};    // files a reader opened
  std::atomic<uint64_t> reused{0};      // files whose records a previous scan gave
  ProgressText text;
};

struct ScanContext {
  catalog::ItemPath itemPath;  // the category receiving the item
  uint16_t listingNumber = 0;  // the item's number; names the streams
  uint32_t ruleLevels = 0;     // bit n: a rule describes a folder n levels below the root
  int maxDepth = kUnlimitedDepth;  // root = level 1
  bool excludeMode = false;    // the filter selects names to drop
  std::vector<SubfolderRule> rules;
  ScanCounters* cells = nullptr;
  // Threads that read files: 0 as many as there are processors, 1 the walk's own.
  int jobs = 1;
  ArchiveBudget archiveBudget;
  // Programs of the user's own run for files whose names match (where
  // documents are read); their output is the file's description.
  std::vector<UserReader> userReaders;
  // The earlier scan of the same tree whose unchanged files are taken over.
  PreviousScan* previous = nullptr;
  // Nothing is read or written: the walk only counts what it would record.
  bool countOnly = false;
  // Every regular file gets a content hash (kContentHashCode).
  bool hash = false;
  int error = kScanOk;
  std::string errorText;       // the system's words for kScanUnreadable / kScanWriteFailed
};

// File-name patterns ("*.mp3;*.jpg"), matched case-insensitively against the
// whole name: "*" any characters, "?" one, everything else itself.
class FileFilter {
 public:
  enum class Outcome { filter, none, invalid };
  // `none` when there are no patterns or one of them is "*" or "*.*".
  static Outcome compile(const std::string& patterns, FileFilter& out);
  // Why the patterns do not compile (the regular expression's complaint and
  // where), or empty when they do.
  static std::string problem(const std::string& patterns);
  // The regular expression for the patterns (empty when there is no filter).
  static std::string expression(const std::string& patterns);
  bool matches(std::string_view name) const;
  bool active() const { return code_ != nullptr; }

  FileFilter();
  ~FileFilter();
  FileFilter(FileFilter&&) noexcept;
  FileFilter& operator=(FileFilter&&) noexcept;

 private:
  struct Code;
  std::shared_ptr<Code> code_;
};

// Counts of a tree for the progress total: every file and every folder down
// to `maxDepth` levels (the root is level 1), hidden ones included. Stops
// when `running` is cleared.
struct TreeCounts {
  uint64_t files = 0;
  uint64_t folders = 0;
};
TreeCounts statisticsPass(const std::string& root, const std::atomic<bool>& running,
                          int maxDepth = INT32_MAX);
// Files the filter matches; a folder counts when it directly holds one.
TreeCounts statisticsPassFiltered(const std::string& root, const FileFilter& filter,
                                  const std::atomic<bool>& running, int maxDepth = INT32_MAX);

// What a walk that only counts found for the readers, by kind (the files
// a reader is switched on for).
struct KindCounts {
  uint64_t pictures = 0;
  uint64_t audio = 0;
  uint64_t documents = 0;
  uint64_t archives = 0;  // archives and programs
};

class Scanner {
 public:
  Scanner();
  ~Scanner();
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  // Prepares a job: the library's root storage receives the streams. With
  // countBytes, progress counts the bytes of files, else files.
  void begin(ScanContext& context, storage::Storage library, const std::string& rootPath,
             bool countBytes);
  // Compiles the file filter; false when there is none or it does not compile.
  bool setFilter(const std::string& patterns);
  bool filterOn() const;
  // Creates the main listing stream and writes its start.
  bool startListing(int kindCode);
  // Writes a file item of the root with these children (name code, text),
  // in their order: the track items of an audio disc, before the walk.
  bool writeRootItem(const std::vector<std::pair<std::string, std::string>>& fields);
  // Walks the root (level 1). The folder walk applies the filter and skips
  // hidden folders directly below the root; the disc walk does neither and
  // always counts bytes. Returns the number of entries written for the root.
  uint32_t walkFolder(const std::string& path, uint32_t flags);
  uint32_t walkDisc(const std::string& path, uint32_t flags);
  // Ends the document and commits the listing, its parts, thumbnails and
  // archive listings. False when anything could not be written.
  bool endListing();

  // The kinds a counting walk found.
  const KindCounts& kindCounts() const;

  // Every stream the job created (for removal when the job does not end well).
  std::vector<std::string> streamsCreated() const;
  // Subfolders that could not be read (recorded with no entries).
  const std::vector<std::string>& unreadableFolders() const;

  // How a subfolder is opened for reading: openat(2) with O_DIRECTORY and
  // O_NOFOLLOW. Tests replace it to make folders unreadable.
  using SubfolderOpener = int (*)(int dirFd, const char* name);
  void setSubfolderOpener(SubfolderOpener opener);

 private:
  uint32_t walkRoot(const std::string& path, uint32_t flags);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tamber::scan
