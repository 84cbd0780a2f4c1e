#include "catalog/library.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

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

Result<std::unique_ptr<Library>> Library::open(const std::filesystem::path& path) {
  auto mode = readOnlyFile(path) ? storage::OpenMode::read_only : storage::OpenMode::read_write;
  auto file = storage::CompoundFile::open(path, mode);
  if (!file) return file.error();
  std::unique_ptr<Library> lib(new Library(path, std::move(file.value())));
  Status st = lib->catalog_.load(lib->file_.root(), kCatalogStreamName, true);
  if (!st) return Error{st.error().code, path.string() + ": " + st.message()};
  return lib;
}

Result<std::unique_ptr<Library>> Library::create(const std::filesystem::path& path) {
  auto file = storage::CompoundFile::create(path);
  if (!file) return file.error();
  std::unique_ptr<Library> lib(new Library(path, std::move(file.value())));
  if (Status st = lib->save(); !st) return st.error();
  return lib;
}

Status Library::requireWritable() const {
  if (!readOnly()) return {};
  return Error{Errc::read_only,
               path_.string() + ": " + storage::systemMessage(EACCES) + " (the library is read-only)"};
}

Status Library::save() {
  if (Status st = requireWritable(); !st) return st;
  Status st = catalog_.save(file_, kCatalogStreamName);
  if (!st) return Error{st.error().code, path_.string() + ": " + st.message()};
  streamsChanged_ = false;
  return {};
}

void Library::destroyItemStreams(const ItemPath& category, uint16_t number, const xmlNode* item) {
  storage::Storage root = file_.root();
  std::vector<std::string> names{streamName(StreamKind::listing, category, number)};
  for (int k = 1, parts = listingParts(catalog_, item); k <= parts; ++k) {
    names.push_back(streamName(StreamKind::listing, category, number, k));
  }
  names.push_back(streamName(StreamKind::thumbnails, category, number));
  names.push_back(streamName(StreamKind::archives, category, number));
  names.push_back(streamName(StreamKind::cover, category, number));
  for (const auto& n : names) {
    if (root.destroy(n)) streamsChanged_ = true;  // a stream that does not exist is skipped
  }
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
  for (auto kind : {StreamKind::thumbnails, StreamKind::archives, StreamKind::cover}) {
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

Status Library::removeCategory(const ItemPath& path) {
  if (Status st = requireWritable(); !st) return st;
  xmlNode* cat = catalog_.category(path);
  if (!cat || path.empty()) return Error{Errc::not_found, "no such category"};
  std::vector<std::pair<ItemPath, xmlNode*>> items;
  collectItems(catalog_, cat, items);
  for (const auto& [parent, item] : items) {
    destroyItemStreams(parent, CatalogDocument::numberOf(item), item);
  }
  xmlUnlinkNode(cat);
  xmlFreeNode(cat);
  catalog_.setModified();
  return {};
}

Status Library::removeItem(const ItemPath& category, uint16_t number) {
  if (Status st = requireWritable(); !st) return st;
  xmlNode* item = catalog_.item(category, number);
  if (!item) return Error{Errc::not_found, "no such disc or folder"};
  destroyItemStreams(category, number, item);
  xmlUnlinkNode(item);
  xmlFreeNode(item);
  catalog_.setModified();
  return {};
}

Result<uint16_t> Library::move(const ItemPath& source, uint16_t number, const ItemPath& target) {
  if (Status st = requireWritable(); !st) return st.error();
  bool isCategory = number == 0;
  ItemPath sourceParent = source;
  xmlNode* node = nullptr;
  if (isCategory) {
    if (source.empty()) return Error{Errc::invalid_argument, "the root cannot be moved"};
    node = catalog_.category(source);
    sourceParent.pop_back();
  } else {
    node = catalog_.item(source, number);
  }
  xmlNode* dest = catalog_.category(target);
  if (!node) return Error{Errc::not_found, "the item to move does not exist"};
  if (!dest) return Error{Errc::not_found, "the target category does not exist"};
  if (!isCategory && target.empty()) {
    return Error{Errc::invalid_argument, "discs and folders are filed in a category"};
  }
  // Moving a category into itself or below itself would cut the subtree off
  // the document and lose it.
  for (xmlNode* p = dest; p; p = p->parent) {
    if (p == node) {
      return Error{Errc::invalid_argument, "a category cannot be moved into itself or below itself"};
    }
  }
  auto newNumber = catalog_.nextItemNumber(dest);
  if (!newNumber) return newNumber;
  // The streams of every item that moves, with its old and new names.
  std::vector<std::pair<ItemPath, xmlNode*>> items;
  collectItems(catalog_, node, items);
  std::vector<ItemPath> oldPaths;
  for (const auto& [path, item] : items) oldPaths.push_back(path);
  xmlUnlinkNode(node);
  xmlAddChild(dest, node);
  xmlSetProp(node, xml::u("g"), xml::u(std::to_string(newNumber.value()).c_str()));
  catalog_.setModified();
  for (size_t i = 0; i < items.size(); ++i) {
    xmlNode* item = items[i].second;
    uint16_t itemNumber = CatalogDocument::numberOf(item);
    uint16_t oldNumber = (!isCategory && item == node) ? number : itemNumber;
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
  if (Status st = requireWritable(); !st) return st;
  xmlNode* item = catalog_.item(category, number);
  if (!item) return Error{Errc::not_found, "Invalid CD parameter!"};
  std::ifstream in(picture, std::ios::binary);
  if (!in || picture.filename().empty()) return Error{Errc::invalid_argument, "Invalid file name!"};
  std::string data((std::istreambuf_iterator<char>(in)), {});
  auto s = file_.root().createStream(streamName(StreamKind::cover, category, number));
  if (!s) return s.error();
  if (Status st = s->write(data); !st) return st;
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
