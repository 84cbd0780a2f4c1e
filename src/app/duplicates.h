// Duplicate files across the items of one or several libraries: files with
// the same content hash (or, where none was recorded, the same name and
// size), in groups, the group that wastes the most space first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/library.h"
#include "catalog/names.h"
#include "platform/result.h"

namespace tamber::app {

enum class DuplicatesBy { hash, nameSize };

struct DuplicateFile {
  size_t library = 0;    // the index the library was added under
  catalog::ItemPath category;  // the item's category
  std::string item;      // the item's path of names ("Music/Disc 1")
  uint16_t itemNumber = 0;
  // Where the file is inside the item: its folder's path ("" or ending in
  // "/") and its name, kept by the finder as long as it lives.
  std::string_view folder, name;
  std::string location;  // where the disc is kept ("" when not said)
  // The path inside the item, "/"-joined; made only when it is shown.
  std::string path() const {
    std::string p;
    p.reserve(folder.size() + name.size());
    return p.append(folder).append(name);
  }
};

struct DuplicateGroup {
  std::string key;  // the content hash, or the name
  uint64_t size = 0;
  std::vector<DuplicateFile> files;
  uint64_t wasted() const { return files.empty() ? 0 : size * (files.size() - 1); }
};

// Collects the files of items library by library, then groups them. The
// listings of a library's items are read by several threads at once and
// kept in item order. Each file costs a few dozen bytes of memory (its
// folder's path is kept once per folder): a million files take about 150
// megabytes while they are grouped.
class DuplicateFinder {
 public:
  DuplicateFinder(DuplicatesBy by, uint64_t minSize);
  ~DuplicateFinder();
  DuplicateFinder(const DuplicateFinder&) = delete;
  DuplicateFinder& operator=(const DuplicateFinder&) = delete;

  // Adds the files of every item below `scope` (a category path; with
  // `itemNumber`, that item alone, and with `within`, only the folder at
  // that "/"-joined path inside it). A listing that cannot be read is an
  // error naming the item; the files read before it stay.
  Status add(catalog::Library& library, size_t libraryIndex, const catalog::ItemPath& scope,
             uint16_t itemNumber = 0, const std::string& within = {});
  // Called after each item; false stops (the groups then hold what was read).
  void setProgress(std::function<bool()> keepGoing);

  // Files seen, and of those the files with a trusted content hash.
  uint64_t files() const;
  uint64_t hashed() const;
  // Whether any file in scope has a trusted hash, whatever its size: files
  // are grouped by name and size instead only where none has.
  bool anyHashed() const;

  // The groups of two files or more, most space wasted first, then by key,
  // each handed over in turn (false stops); returns how many there are.
  size_t forEachGroup(const std::function<bool(const DuplicateGroup&)>& take) const;
  // All of them at once (their files' paths kept by the finder).
  std::vector<DuplicateGroup> groups() const;

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace tamber::app
