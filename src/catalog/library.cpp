#include "catalog/library.h"

#include <atomic>

#include <sys/stat.h>

#include <set>

#include <cerrno>
#include <cstdio>

#include <unistd.h>

#include "platform/atomic_file.h"
#include "storage/file_io.h"

namespace tamber::catalog {

namespace {

// The "read-only attribute" of a file on Linux: nobody may write it.
bool readOnlyFile(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// Every disc or folder at or below `node`, with the path of its category.
void collectItems(const CatalogDocument& doc, xmlNode* node,
                  std::vector<std::pair<ItemPath, xmlNode*>>& out) {
  if (CatalogDocument::isItem(node)) {
    out.push_back({doc.parentPath(node), node});
    return;
  }
  for (xmlNode* n = node->children; n; n = n->next) {
    if (CatalogDocument::isItem(n) || CatalogDocument::isCategory(n)) collectItems(doc, n, out);
  }
}

int listingParts(const CatalogDocument& doc, const xmlNode* item) {
  int parts = std::atoi(doc.field(item, kListingParts).c_str());
  return parts < 0 ? 0 : std::min(parts, 1 << 20);
}

}  // namespace

Result<std::unique_ptr<Library>> Library::open(const std::filesystem::path& path, bool readOnly) {
  auto mode = readOnly || readOnlyFile(path) ? storage::OpenMode::read_only
                                             : storage::OpenMode::read_write;
  auto file = storage::CompoundFile::open(path, mode);
  if (!file && file.error().code == Errc::read_only) {
    // A read-only mount or another user's file: it can still be viewed.
    file = storage::CompoundFile::open(path, storage::OpenMode::read_only);
  }
  if (!file) return file.error();
  std::unique_ptr<Library> lib(new Library(path, std::move(file.value())));
  Status st = lib->catalog_.load(lib->file_.root(), kCatalogStreamName, true);
  if (!st) return Error{st.error().code, path.string() + ": " + st.message()};
  return lib;
}

bool Library::writable() const {
  return !readOnlyFile(path_) && ::access(path_.c_str(), W_OK) == 0;
}

Result<std::unique_ptr<Library>> Library::create(const std::filesystem::path& path) {
  auto file = storage::CompoundFile::create(path);
  if (!file) return file.error();
  std::unique_ptr<Library> lib(new Library(path, std::move(file.value())));
  if (Status st = lib->save(); !st) return st.error();
  return lib;
}

Result<std::unique_ptr<Library>> Library::createUnnamed(const std::filesystem::path& path, AtomicFile& file) {
  auto made = storage::CompoundFile::createUnnamed(path, file);
  if (!made) return made.error();
  std::unique_ptr<Library> lib(new Library(path, std::move(made.value())));
  if (Status st = lib->save(); !st) return st.error();
  return lib;
}

Status Library::requireWritable() const {
  if (!readOnly()) return {};
  return Error{Errc::read_only, path_.string() + ": the library is read-only"};
}

namespace {
std::atomic<Library::BeforeSave> beforeSave{nullptr};
// The stream that stamps the search's name index (see search/name_index.h).
constexpr const char* kIndexStamp = "nameindex";
}  // namespace

void Library::setBeforeSave(BeforeSave step) { beforeSave = step; }

Status Library::save() {
  if (Status st = requireWritable(); !st) return st;
  BeforeSave step = beforeSave.load();
  Status first = step ? step(*this, catalog_.text()) : Status{};
  if (!step || !first) {
    // An index this save cannot vouch for is left without its stamp.
    storage::Storage root = file_.root();
    if (root.contains(kIndexStamp)) {
      if (Status gone = root.destroy(kIndexStamp); !gone) return gone;
    }
  }
  Status st = catalog_.save(file_, kCatalogStreamName);
  if (!st) return Error{st.error().code, path_.string() + ": " + st.message()};
  streamsChanged_ = false;
  return {};
}

std::vector<std::string> Library::itemStreamNames(const xmlNode* item) const {
  // Streams are named by numbers; an item without a usable one has none it
  // could be told by.
  long long raw = CatalogDocument::rawNumber(item);
  if (raw < 1 || raw > 65535) return {};
  ItemPath category = catalog_.parentPath(item);
  auto number = static_cast<uint16_t>(raw);
  std::vector<std::string> names{streamName(StreamKind::listing, category, number)};
  for (int k = 1, parts = listingParts(catalog_, item); k <= parts; ++k) {
    names.push_back(streamName(StreamKind::listing, category, number, k));
  }
  names.push_back(streamName(StreamKind::thumbnails, category, number));
  names.push_back(streamName(StreamKind::archives, category, number));
  names.push_back(streamName(StreamKind::cover, category, number));
  names.push_back(streamName(StreamKind::nameIndex, category, number));
  return names;
}

std::vector<std::string> Library::streamsOf(const xmlNode* element) const {
  std::vector<std::pair<ItemPath, xmlNode*>> items;
  if (element) collectItems(catalog_, const_cast<xmlNode*>(element), items);
  std::set<std::string> seen;
  std::vector<std::string> names;
  for (const auto& entry : items) {
    for (auto& n : itemStreamNames(entry.second)) {
      if (seen.insert(n).second) names.push_back(std::move(n));
    }
  }
  return names;
}

Status Library::refuseShared(const xmlNode* element, const char* what) const {
  if (catalog_.hasOwnNumber(element)) return {};
  long long raw = CatalogDocument::rawNumber(element);
  return Error{Errc::invalid_argument,
               std::string("cannot ") + what + " this entry: its number (" +
                   (raw < 0 ? std::string("none") : std::to_string(raw)) +
                   ") or one above it is impossible or shared with another entry, so its "
                   "stored files cannot be told apart; it can still be renamed, edited or removed"};
}

Status Library::renameItemStreams(const ItemPath& from, uint16_t fromNumber, const ItemPath& to,
                                  uint16_t toNumber, const xmlNode* item) {
  storage::Storage root = file_.root();
  std::vector<std::pair<std::string, std::string>> names;
  names.push_back({streamName(StreamKind::listing, from, fromNumber),
                   streamName(StreamKind::listing, to, toNumber)});
  for (int k = 1, parts = listingParts(catalog_, item); k <= parts; ++k) {
    names.push_back({streamName(StreamKind::listing, from, fromNumber, k),
                     streamName(StreamKind::listing, to, toNumber, k)});
  }
  for (auto kind : {StreamKind::thumbnails, StreamKind::archives, StreamKind::cover, StreamKind::nameIndex}) {
    names.push_back({streamName(kind, from, fromNumber), streamName(kind, to, toNumber)});
  }
  for (const auto& [old, now] : names) {
    if (!root.contains(old)) continue;
    // The new number is free in its category, so a stream of the new name
    // can only be left over from an add that never finished.
    if (root.contains(now)) (void)root.destroy(now);
    if (Status st = root.rename(old, now); !st) return st;
    streamsChanged_ = true;
  }
  return {};
}

Status Library::remove(xmlNode* element) {
  if (Status st = requireWritable(); !st) return st;
  if (!element || element == catalog_.root() ||
      !(CatalogDocument::isItem(element) || CatalogDocument::isCategory(element))) {
    return Error{Errc::not_found, "no such category, disc or folder"};
  }
  std::vector<std::pair<ItemPath, xmlNode*>> removed;
  collectItems(catalog_, element, removed);
  std::set<std::string> names;
  for (const auto& entry : removed) {
    for (auto& n : itemStreamNames(entry.second)) names.insert(std::move(n));
  }
  xmlUnlinkNode(element);
  xmlFreeNode(element);
  catalog_.setModified();
  // A stream that an item still in the catalog answers to stays.
  std::vector<std::pair<ItemPath, xmlNode*>> remaining;
  collectItems(catalog_, catalog_.root(), remaining);
  for (const auto& entry : remaining) {
    for (const auto& n : itemStreamNames(entry.second)) names.erase(n);
  }
  storage::Storage root = file_.root();
  for (const auto& n : names) {
    if (root.destroy(n)) streamsChanged_ = true;  // a stream that does not exist is skipped
  }
  return {};
}

Status Library::removeCategory(const ItemPath& path) {
  xmlNode* cat = catalog_.category(path);
  if (!cat || path.empty()) return Error{Errc::not_found, "no such category"};
  return remove(cat);
}

Status Library::removeItem(const ItemPath& category, uint16_t number) {
  xmlNode* item = catalog_.item(category, number);
  if (!item) return Error{Errc::not_found, "no such disc or folder"};
  return remove(item);
}

Result<uint16_t> Library::move(const ItemPath& source, uint16_t number, const ItemPath& target) {
  xmlNode* node = number == 0 ? catalog_.category(source) : catalog_.item(source, number);
  if (number == 0 && source.empty()) return Error{Errc::invalid_argument, "the root cannot be moved"};
  if (!node) return Error{Errc::not_found, "the item to move does not exist"};
  return move(node, target);
}

Result<uint16_t> Library::move(xmlNode* node, const ItemPath& target) {
  if (Status st = requireWritable(); !st) return st.error();
  if (!node || node == catalog_.root()) return Error{Errc::invalid_argument, "the root cannot be moved"};
  bool isCategory = CatalogDocument::isCategory(node);
  if (!isCategory && !CatalogDocument::isItem(node)) {
    return Error{Errc::not_found, "the item to move does not exist"};
  }
  xmlNode* dest = catalog_.category(target);
  if (!dest) return Error{Errc::not_found, "the target category does not exist"};
  if (!isCategory && target.empty()) {
    return Error{Errc::invalid_argument, "discs and folders are filed in a category"};
  }
  // Category names are unique among siblings, letter case aside.
  if (isCategory && node->parent != dest) {
    std::string name = catalog_.field(node, kCategoryName);
    if (catalog_.categoryNamed(dest, name, node)) {
      return Error{Errc::invalid_argument, "a category named \"" + name + "\" is there already"};
    }
  }
  // Moving a category into itself or below itself would cut the subtree off
  // the document and lose it.
  for (xmlNode* p = dest; p; p = p->parent) {
    if (p == node) {
      return Error{Errc::invalid_argument, "a category cannot be moved into itself or below itself"};
    }
  }
  // The streams of every item that moves are renamed: each must belong to
  // its item alone.
  std::vector<std::pair<ItemPath, xmlNode*>> items;
  collectItems(catalog_, node, items);
  if (Status st = refuseShared(node, "move"); !st) return st.error();
  for (const auto& entry : items) {
    if (Status st = refuseShared(entry.second, "move"); !st) return st.error();
  }
  auto newNumber = catalog_.nextItemNumber(dest);
  if (!newNumber) return newNumber;
  std::vector<ItemPath> oldPaths;
  for (const auto& [path, item] : items) oldPaths.push_back(path);
  uint16_t oldOwnNumber = CatalogDocument::numberOf(node);
  xmlUnlinkNode(node);
  xmlAddChild(dest, node);
  xmlSetProp(node, xml::u("g"), xml::u(std::to_string(newNumber.value()).c_str()));
  catalog_.setModified();
  for (size_t i = 0; i < items.size(); ++i) {
    xmlNode* item = items[i].second;
    uint16_t itemNumber = CatalogDocument::numberOf(item);
    uint16_t oldNumber = item == node ? oldOwnNumber : itemNumber;
    if (Status st = renameItemStreams(oldPaths[i], oldNumber, catalog_.parentPath(item),
                                      itemNumber, item);
        !st) {
      return st.error();
    }
  }
  return newNumber;
}

Status Library::setCover(const ItemPath& category, uint16_t number,
                         const std::filesystem::path& picture) {
  xmlNode* item = catalog_.item(category, number);
  if (!item) return Error{Errc::not_found, "Invalid CD parameter!"};
  return setCover(item, picture);
}

Result<std::string> Library::cover(const xmlNode* item) {
  if (!item || !CatalogDocument::isItem(item) || !catalog_.hasOwnNumber(item)) {
    return Error{Errc::not_found, "no cover"};
  }
  auto s = file_.root().openStream(
      streamName(StreamKind::cover, catalog_.parentPath(item), CatalogDocument::numberOf(item)));
  if (!s) return s.error();
  if (s->size() > kMaxCoverBytes) return Error{Errc::too_large, "the cover picture is too large"};
  return s->readAll();
}

Status Library::setCover(xmlNode* item, const std::filesystem::path& picture) {
  if (Status st = requireWritable(); !st) return st;
  if (!CatalogDocument::isItem(item)) return Error{Errc::not_found, "Invalid CD parameter!"};
  if (Status st = refuseShared(item, "store a cover for"); !st) return st;
  if (picture.filename().empty()) return Error{Errc::invalid_argument, "Invalid file name!"};
  auto data = readRegularFile(picture, kMaxCoverBytes);
  if (!data) return data.error();
  uint16_t number = CatalogDocument::numberOf(item);
  ItemPath category = catalog_.parentPath(item);
  auto s = file_.root().createStream(streamName(StreamKind::cover, category, number));
  if (!s) return s.error();
  if (Status st = s->write(*data); !st) return st;
  if (Status st = s->commit(); !st) return st;
  streamsChanged_ = true;
  if (!catalog_.setField(item, kCoverName, picture.filename().string())) {
    return Error{Errc::io, "Cannot update image name in library"};
  }
  return {};
}

std::string windowTitle(const Library* library) {
  if (!library) return kProductCaption;
  std::string path = library->path().string();
  return std::string(kProductCaption) + " - [" + path + (library->modified() ? "*]" : "]");
}

}  // namespace tamber::catalog
