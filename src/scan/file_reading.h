// Reading files for the scanner, on the walk's own thread or on a pool of
// worker threads.
//
// The walk hands over every file a reader is switched on for as a task; the
// workers read the tasks in any order, and the walk takes them back in the
// order it handed them over. Whatever is written to the item's streams (the
// thumbnail and the archive description, and the offsets that point at
// them) is written by the walk as it takes a task back, so a scan with any
// number of workers writes exactly the bytes a scan on one thread writes.
//
// Each worker has readers of its own: the tag readers, the archive lister
// and the picture reader keep state between files and are never shared.
// The libraries under them (libvips, libexif, libarchive, qpdf, the Ogg
// and Opus decoders) keep no state between objects, so no lock is needed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "scan/listing.h"
#include "scan/user_readers.h"

namespace tamber::scan {

// A file to read and, once read, what its record gains.
struct FileTask {
  uint64_t seq = 0;
  std::string path;  // where the walk found it
  uint64_t size = 0;
  std::string ext;
  std::optional<FileClass> cls;
  bool picture = false;
  uint32_t flags = 0;
  int level = 0;
  uint64_t progress = 0;  // what the progress advances by once it is taken back

  std::string head;  // the fields before the thumbnail's offset
  std::string tail;  // the fields after it
  std::optional<std::string> thumbnail;  // the encoded thumbnail
  bool archiveTried = false;             // an archive listing was attempted
  std::optional<std::string> archive;    // the archive's description
  bool reused = false;                   // filled from the previous scan, not read
  bool readers = true;                   // a reader is switched on for the file
  bool hash = false;                     // its content hash is wanted
  std::string hashFields;                // the hash (or why there is none), as written
  bool done = false;
};

// The readers of one thread.
class FileReaders {
 public:
  FileReaders();
  ~FileReaders();
  FileReaders(const FileReaders&) = delete;
  FileReaders& operator=(const FileReaders&) = delete;
  // Opens the file (checked to be the regular file the walk listed) and
  // fills the task's results; a file that cannot be read gains nothing.
  // A task filled from the previous scan is only hashed, when it still
  // needs a hash.
  void read(FileTask& task);
  void setArchiveBudget(const ArchiveBudget& budget);
  void setUserReaders(const std::vector<UserReader>& readers);
  // Cleared, a content hash stops within its current block.
  void setRunning(const std::atomic<bool>* running);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Worker threads that read tasks handed over in order and give them back in
// the same order.
class ReadPool {
 public:
  // `running` cleared: tasks not yet begun are given back unread.
  ReadPool(int threads, const std::atomic<bool>& running, const ArchiveBudget& budget = {},
           const std::vector<UserReader>& userReaders = {});
  ~ReadPool();
  ReadPool(const ReadPool&) = delete;
  ReadPool& operator=(const ReadPool&) = delete;

  // Hands a task over (one already done is only queued for its turn).
  void submit(std::unique_ptr<FileTask> task);
  // The oldest task once it is done: waits for it with `wait`, else
  // nothing when it is not done yet (or there is none).
  std::unique_ptr<FileTask> takeFront(bool wait);
  size_t pending() const { return order_.size(); }

 private:
  void work(FileReaders& readers);

  const std::atomic<bool>& running_;
  std::mutex mutex_;
  std::condition_variable wake_;   // a task to read, or stop
  std::condition_variable done_;   // a task was read
  std::deque<std::unique_ptr<FileTask>> order_;  // every task handed over, oldest first
  std::deque<FileTask*> queue_;                  // tasks not yet begun
  bool stop_ = false;
  std::vector<std::jthread> threads_;
};

// The number of processors this process may run on (at least 1).
int availableProcessors();

}  // namespace tamber::scan
