// What an earlier scan of a folder recorded for the files the readers read,
// so that a re-scan reads only the files that are new or changed.
//
// A file is taken over when its path below the root, its size and its
// modification time (as the listing records it) are unchanged: its fields,
// its thumbnail and its archive description are copied from the old item's
// streams instead of being read from the file. The index holds the files
// of the old listing that a reader is switched on for by their extension,
// with their fields; the others are written from the walk alone anyway.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "catalog/names.h"
#include "platform/result.h"
#include "storage/compound_file.h"

namespace tamber::scan {

struct FileTask;

class PreviousScan {
 public:
  struct Record {
    uint64_t size = 0;
    std::string modified;  // as the listing holds it
    std::string head;      // the fields before the thumbnail's offset, as written
    std::string tail;      // the fields after it, the archive's offset left out
    int64_t thumbnailAt = -1;
    int64_t archiveAt = -1;
    std::string hashFields;  // the content hash and its problem, as written
    bool hashTrusted = false;  // a hash read whole from an unchanging file
  };

  // Indexes the listing of item `number` in `category`. `running` cleared
  // stops the reading (the result is then an error).
  static Result<std::unique_ptr<PreviousScan>> load(storage::Storage library,
                                                    const catalog::ItemPath& category,
                                                    uint16_t number,
                                                    const std::atomic<bool>& running);

  // The record of a file by its path below the root ("a/b.mp3"), when its
  // size and time are these.
  const Record* find(std::string_view relative, uint64_t size, std::string_view modified) const;
  // Fills a task from a record, the thumbnail and the archive description
  // read from the old streams; false when they cannot be read (the file is
  // then read anew). A task that wants a hash the record cannot give stays
  // to be read for it alone.
  bool fill(const Record& record, FileTask& task);
  size_t size() const { return records_.size(); }
  // Files whose records hold a content hash.
  size_t hashed() const { return hashed_; }

 private:
  std::optional<std::string> recordAt(std::optional<storage::Stream>& stream, int64_t offset);

  std::unordered_map<std::string, Record> records_;
  size_t hashed_ = 0;
  std::optional<storage::Stream> thumbnails_;
  std::optional<storage::Stream> archives_;
};

}  // namespace tamber::scan
