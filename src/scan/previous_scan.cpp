#include "scan/previous_scan.h"

#include <cstdlib>
#include <vector>

#include "scan/file_reading.h"
#include "scan/listing.h"
#include "scan/listing_reader.h"

namespace tamber::scan {

Result<std::unique_ptr<PreviousScan>> PreviousScan::load(storage::Storage library,
                                                         const catalog::ItemPath& category,
                                                         uint16_t number,
                                                         const std::atomic<bool>& running) {
  using catalog::StreamKind;
  auto scan = std::unique_ptr<PreviousScan>(new PreviousScan());
  std::string mainName = catalog::streamName(StreamKind::listing, category, number);
  if (!library.contains(mainName)) {
    return Error{Errc::not_found, "the item has no listing (" + mainName + ")"};
  }
  ExtensionTable extensions;
  std::vector<std::string> folders;  // the path to the entries being read
  ListingVisitor v;
  v.entry = [&](ListingEntry& e, int depth) {
    folders.resize(static_cast<size_t>(depth));
    if (e.folder) {
      folders.push_back(e.name);
      return true;
    }
    std::string ext = extensionOf(e.name);
    if (e.fields.empty() && !extensions.classify(ext) && !isImageExtension(ext)) return false;
    std::string key;
    for (const auto& f : folders) {
      key += f;
      key += '/';
    }
    key += e.name;
    Record r;
    r.size = e.size;
    r.modified = std::move(e.modified);
    bool afterThumbnail = false;
    for (const auto& [code, text] : e.fields) {
      // The offsets point into the old streams; the new ones are written
      // when the record is taken over.
      if (code == "y") {
        r.thumbnailAt = static_cast<int64_t>(std::strtoull(text.c_str(), nullptr, 16));
        afterThumbnail = true;
      } else if (code == "a9") {
        r.archiveAt = static_cast<int64_t>(std::strtoull(text.c_str(), nullptr, 16));
      } else if (code == kContentHashCode || code == kHashProblemCode) {
        appendTextElement(r.hashFields, code.c_str(), text);
      } else {
        appendTextElement(afterThumbnail ? r.tail : r.head, code.c_str(), text);
      }
    }
    const std::string* hash = e.field(kContentHashCode);
    r.hashTrusted = hash && !e.field(kHashProblemCode);
    if (hash) ++scan->hashed_;
    scan->records_.insert_or_assign(std::move(key), std::move(r));
    return false;
  };
  v.stop = [&] { return !running.load(std::memory_order_relaxed); };
  if (Status st = walkListing(streamListing(library, category, number), v); !st) return st.error();
  if (!running.load()) return Error{Errc::unsupported, "cancelled"};
  for (auto [kind, slot] : {std::pair{StreamKind::thumbnails, &scan->thumbnails_},
                            std::pair{StreamKind::archives, &scan->archives_}}) {
    auto s = library.openStream(catalog::streamName(kind, category, number));
    if (s) slot->emplace(std::move(*s));
  }
  return scan;
}

const PreviousScan::Record* PreviousScan::find(std::string_view relative, uint64_t size,
                                               std::string_view modified) const {
  auto it = records_.find(std::string(relative));
  if (it == records_.end() || it->second.size != size || it->second.modified != modified) {
    return nullptr;
  }
  return &it->second;
}

std::optional<std::string> PreviousScan::recordAt(std::optional<storage::Stream>& stream,
                                                  int64_t offset) {
  if (!stream || offset < 0) return std::nullopt;
  auto bytes = readRecord(*stream, "the previous scan's stream", static_cast<uint64_t>(offset));
  if (!bytes) return std::nullopt;
  return std::move(*bytes);
}

bool PreviousScan::fill(const Record& r, FileTask& t) {
  std::optional<std::string> thumbnail, archive;
  if (r.thumbnailAt >= 0 && !(thumbnail = recordAt(thumbnails_, r.thumbnailAt))) return false;
  if (r.archiveAt >= 0 && !(archive = recordAt(archives_, r.archiveAt))) return false;
  t.head = r.head;
  t.tail = r.tail;
  t.thumbnail = std::move(thumbnail);
  t.archive = std::move(archive);
  t.archiveTried = t.archive.has_value() ||
                   (t.cls && (t.flags & kScanArchives) &&
                    (t.cls->kind == FileKind::archive || t.cls->kind == FileKind::executable));
  t.reused = true;
  if (r.hashTrusted || !t.hash) t.hashFields = r.hashFields;
  t.done = !(t.hash && t.hashFields.empty());
  return true;
}

}  // namespace tamber::scan
