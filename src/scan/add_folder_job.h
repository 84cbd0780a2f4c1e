// The add-folder job: catalogues a folder into a category of the library as
// a new folder item, or re-scans an existing one (update mode).
//
// The job runs the scanner on a worker thread; a front end shows the
// counters and the progress text while it runs and may cancel it. The worker
// touches only the job's own new streams: the catalog is read when the job
// starts and changed when the caller waits for the job, both on the caller's
// thread, so a front end may go on reading the library meanwhile. A job that
// is cancelled or fails leaves the catalog unchanged and removes every stream
// it wrote.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "catalog/library.h"
#include "disc/audio_disc.h"
#include "platform/volume_facts.h"
#include "scan/scanner.h"

namespace tamber::scan {

// One row of the subfolder settings: a folder below the root (full path) and
// what is switched off from it on.
struct SubfolderRow {
  std::string path;
  bool skip = false;          // not catalogued at all
  bool noThumbnails = false;
  bool noArchives = false;
};

// A disc job: what was read from the drive before the job started and what
// the user gave for the disc. The walk root (AddFolderOptions::path) is the
// mounted data session, empty when there is none.
struct DiscJob {
  int kind = 0;                  // the disc type (1 audio, 3 enhanced, ...)
  std::string volumeLabel;       // "k", and the label when none is given
  uint64_t capacityBytes = 0;
  int trackCount = 0;            // every track, data tracks included
  int playingSeconds = 0;        // audio discs
  std::vector<disc::TrackRow> tracks;  // written before the walk (audio and enhanced CDs)
  disc::DiscTexts texts;         // artist, album, genre, year
  std::string catalogNumber, price, location;
  std::string musicBrainzId;
};

struct AddFolderOptions {
  std::string path;
  std::string label;
  std::string comment;
  catalog::ItemPath category;
  int depthEntry = 0;  // 0: unlimited, else 1..255 levels (the root is level 1)
  bool thumbnails = true;
  bool tags = true;
  bool documents = true;
  bool archives = true;
  bool filterOn = false;
  std::string filter = "*.*";  // patterns separated by ";"
  bool exclude = false;        // the filter names the files to leave out
  std::vector<SubfolderRow> rows;
  std::optional<uint16_t> update;  // the item in `category` to re-scan
  // A re-scan takes over the records of unchanged files unless `full` is
  // set (or the options differ from the item's, which makes every record
  // different anyway).
  bool full = false;
  int jobs = 0;                    // threads that read files, 0: one per processor
  ArchiveBudget archiveBudget;     // what listing one archive may cost
  std::vector<UserReader> userReaders;  // the user's own readers (see user_readers.h)
  bool dryRun = false;             // count what a scan would record; nothing is read or written
  // A content hash of every file; an update of an item with hashes goes on
  // hashing whatever this says.
  bool hash = false;
  int itemKind = 0;                // 0: from the drive holding the folder
  std::optional<DiscJob> disc;     // a disc rather than a folder
};

enum class JobOutcome { done = 1, cancelled = 2, failed = 3 };

struct AddFolderResult {
  JobOutcome outcome = JobOutcome::failed;
  std::string message;  // why the job failed
  uint16_t number = 0;  // the item's number in its category
  uint32_t files = 0;
  uint32_t folders = 0;
  uint64_t bytes = 0;
  int splitParts = 0;
  uint64_t readAnew = 0;     // files a reader opened
  uint64_t reused = 0;       // files whose records were taken from the previous scan
  bool incremental = false;  // unchanged files were taken from the previous scan
  bool hashed = false;       // every file's content hash was recorded
  KindCounts kinds;          // a dry run: the files a reader would read, by kind
  int depth = 0;
  int itemKind = 0;
  bool filterUsed = false;
  std::vector<std::string> unreadable;
  std::chrono::steady_clock::duration elapsed{};
};

class AddFolderJob {
 public:
  AddFolderJob(catalog::Library& library, AddFolderOptions options);
  // A dry run (options.dryRun): no library is needed.
  explicit AddFolderJob(AddFolderOptions options);
  ~AddFolderJob();
  AddFolderJob(const AddFolderJob&) = delete;
  AddFolderJob& operator=(const AddFolderJob&) = delete;

  // What the user must change before a job can start; the message says what.
  static Status validate(const AddFolderOptions& options);
  // The options a recorded folder item was scanned with, for a re-scan:
  // the scan root, options, filter, depth limit and subfolder rules.
  static AddFolderOptions recordedOptions(const catalog::CatalogDocument& doc, const xmlNode* item);

  // Reads the catalog and runs the walk on a worker thread.
  void start();
  // Clears the running flag and waits for the worker; wait() then files
  // nothing.
  void cancel();
  // The walk has ended (wait() will not block).
  bool finished() const { return finished_.load(); }
  // Waits until the walk ends or the time passes; true when it has ended.
  bool waitFor(std::chrono::milliseconds timeout);
  // Waits for the worker, files the new item in the catalog on the calling
  // thread, and returns the result.
  const AddFolderResult& wait();
  // Runs the job on the calling thread.
  const AddFolderResult& run();

  ScanCounters& counters() { return cells_; }
  // True once the walk proper runs (the total may still be counted).
  bool walking() const { return walking_.load(); }
  // Progress counts bytes (the folder is the root of a mount) rather than files.
  bool countsBytes() const { return countBytes_.load(); }

  // The option bits a front end saves ("param_dlgfolder").
  uint32_t savedOptionBits() const;
  // The flags the walk starts from.
  uint32_t scanFlags() const;

 private:
  bool prepare();
  void execute();
  void executeSteps();
  void executeDiscSteps();
  void walk(const std::string& path, int kind, bool bareDrive, uint64_t driveBytes);
  void complete();
  void finish(JobOutcome outcome, std::string message = {});
  void markFinished();
  void removeStreams(const std::vector<std::string>& names);
  Status writeItem(Scanner& scanner, const ScanContext& context, const std::string& path,
                   bool bareDrive, uint64_t driveBytes);

  catalog::Library* library_;
  AddFolderOptions options_;
  ScanCounters cells_;
  AddFolderResult result_;
  std::chrono::steady_clock::time_point started_;
  // Between the walk and the catalog step.
  std::unique_ptr<Scanner> scanner_;
  ScanContext context_;
  std::string root_;
  VolumeFacts volume_;  // of the volume the root is on, read before the walk
  bool bareDrive_ = false;
  uint64_t driveBytes_ = 0;
  std::optional<uint16_t> reuseFrom_;  // the item whose unchanged records are taken over
  std::atomic<bool> finished_{false};
  std::mutex doneMutex_;
  std::condition_variable doneCv_;
  std::atomic<bool> walking_{false};
  std::atomic<bool> countBytes_{false};
  std::jthread worker_;
};

// "Calculating folder statistics..." while the totals are counted.
inline constexpr const char* kStatisticsText = "Calculating folder statistics...";

}  // namespace tamber::scan
