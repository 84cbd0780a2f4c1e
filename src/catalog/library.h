// An open library: the compound file, held locked for as long as it is open,
// and its catalog. Edits that touch per-item streams (delete, move, cover)
// change the streams in the file at once; they become permanent with the next
// save, which writes the catalog and commits the file.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "catalog/catalog_document.h"
#include "storage/compound_file.h"

namespace tamber::catalog {

class Library {
 public:
  // Opens a library; a file whose permission bits allow nobody to write it
  // opens read-only, and so does every open with `readOnly` (viewers share
  // the file; a writer excludes everyone). A missing "categories" stream
  // gives an empty catalog.
  static Result<std::unique_ptr<Library>> open(const std::filesystem::path& path,
                                               bool readOnly = false);
  // Creates a new library (replacing a file of that name) holding an empty
  // catalog, saved at once.
  static Result<std::unique_ptr<Library>> create(const std::filesystem::path& path);
  // The same, in a file that gets the name `path` only when `file` is
  // committed (see CompoundFile::createUnnamed); save before that.
  static Result<std::unique_ptr<Library>> createUnnamed(const std::filesystem::path& path, AtomicFile& file);

  const std::filesystem::path& path() const { return path_; }
  bool readOnly() const { return file_.readOnly(); }
  // Whether the file could be opened for changes (a viewer opens every
  // library read-only): not marked read-only, and writable by this process
  // on a mount that allows writing.
  bool writable() const;
  CatalogDocument& catalog() { return catalog_; }
  const CatalogDocument& catalog() const { return catalog_; }
  storage::CompoundFile& file() { return file_; }
  bool modified() const { return catalog_.modified() || streamsChanged_; }

  // Writes the catalog into "categories" and commits the file.
  Status save();
  // A step every save takes first, given the catalog text it will write
  // (the search's name index is brought in step there). Without one, a
  // save removes the index's stamp: it would describe listings this
  // program may have changed.
  using BeforeSave = Status (*)(Library& library, const std::string& catalogText);
  static void setBeforeSave(BeforeSave step);
  // Streams were changed directly in the file (by a scan); the next save
  // commits them.
  void noteStreamsChanged() { streamsChanged_ = true; }

  // Removes a category with everything below it, or one disc or folder, and
  // every stream of the items removed that no remaining item shares (stored
  // files can hold items whose numbers are given twice).
  Status remove(xmlNode* element);
  Status removeCategory(const ItemPath& path);
  Status removeItem(const ItemPath& category, uint16_t number);
  // Moves a category (number == 0) or a disc or folder into `target`; the item
  // gets the target's next number and its streams are renamed. Returns the
  // new number. A category cannot move into itself or below itself.
  // An element whose streams are not its own alone (see hasOwnNumber) is
  // refused.
  Result<uint16_t> move(xmlNode* element, const ItemPath& target);
  Result<uint16_t> move(const ItemPath& source, uint16_t number, const ItemPath& target);
  // Stores a picture as the item's cover ("img" stream, field "u"): a regular
  // file of at most kMaxCoverBytes that the picture reader decodes.
  Status setCover(xmlNode* item, const std::filesystem::path& picture);
  Status setCover(const ItemPath& category, uint16_t number, const std::filesystem::path& picture);
  static constexpr uint64_t kMaxCoverBytes = 64ull << 20;
  // The names of the streams of every disc or folder at or below `element`
  // (listing with its parts, thumbnails, archive listings, cover), whether
  // they exist or not.
  std::vector<std::string> streamsOf(const xmlNode* element) const;
  // The stored cover picture of a disc or folder; not_found when it has none.
  Result<std::string> cover(const xmlNode* item);

 private:
  Library(std::filesystem::path path, storage::CompoundFile file)
      : path_(std::move(path)), file_(std::move(file)) {}
  Status requireWritable() const;
  std::vector<std::string> itemStreamNames(const xmlNode* item) const;
  Status refuseShared(const xmlNode* element, const char* what) const;
  Status renameItemStreams(const ItemPath& from, uint16_t fromNumber, const ItemPath& to,
                           uint16_t toNumber, const xmlNode* item);

  std::filesystem::path path_;
  storage::CompoundFile file_;
  CatalogDocument catalog_;
  bool streamsChanged_ = false;
};

// "Tamber+" with no library, "Tamber+ - [PATH]" open and saved,
// "Tamber+ - [PATH*]" with unsaved changes.
std::string windowTitle(const Library* library);
inline constexpr const char* kProductCaption = "Tamber+";

}  // namespace tamber::catalog
