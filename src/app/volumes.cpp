#include "app/volumes.h"

#include <sys/stat.h>

#include <cstdlib>
#include <functional>

#include "catalog/names.h"
#include "platform/mounts.h"

namespace tamber::app {

namespace {

// `path` is `base` or below it: what follows, "" for `base` itself.
std::optional<std::string> below(const std::string& path, const std::string& base) {
  if (base.empty()) return path;
  if (path == base) return std::string();
  if (path.size() > base.size() && path.compare(0, base.size(), base) == 0 && path[base.size()] == '/') {
    return path.substr(base.size() + 1);
  }
  return std::nullopt;
}

bool sameVolume(const RecordedVolume& r, const VolumeFacts& f) {
  if (!r.uuid.empty() && !f.uuid.empty()) return r.uuid == f.uuid;
  return !r.label.empty() && r.label == f.label && r.total != 0 && r.total == f.total;
}

}  // namespace

RecordedVolume recordedVolume(const catalog::CatalogDocument& doc, const xmlNode* item) {
  const char* settings = catalog::nameCode(catalog::kScanSettings);
  RecordedVolume r;
  r.fsType = doc.field(item, catalog::kVolumeFileSystem, settings);
  r.uuid = doc.field(item, catalog::kVolumeUuid, settings);
  r.label = doc.field(item, catalog::kVolumeLabel, settings);
  r.total = std::strtoull(doc.field(item, catalog::kVolumeTotal, settings).c_str(), nullptr, 10);
  r.folder = doc.field(item, catalog::kVolumeFolder, settings);
  if (r.folder == "/") r.folder.clear();
  r.root = doc.field(item, catalog::kSubfolderPath, settings);
  return r;
}

const char* volumeMatchKey(VolumeMatch m) {
  switch (m) {
    case VolumeMatch::uuid: return "uuid";
    case VolumeMatch::labelAndSize: return "label-size";
    case VolumeMatch::path: return "path";
  }
  return "";
}

std::optional<ItemPlace> placeOnVolume(const RecordedVolume& r, const VolumeFacts& facts,
                                       const std::string& resolvedPath) {
  if (!r.known() || !facts.known()) return std::nullopt;
  std::optional<VolumeMatch> by;
  std::string where, root;
  if (sameVolume(r, facts)) {
    by = !r.uuid.empty() && !facts.uuid.empty() ? VolumeMatch::uuid : VolumeMatch::labelAndSize;
    where = facts.inside;
    root = r.folder;
  } else if (r.uuid.empty() && r.label.empty() && !r.root.empty() && r.fsType == facts.fsType) {
    // Nothing names the volume: the same place on the same kind of file
    // system is the best there is.
    by = VolumeMatch::path;
    where = resolvedPath;
    root = r.root;
  }
  if (!by) return std::nullopt;
  if (auto inside = below(where, root)) return ItemPlace{*by, *inside, false};
  if (auto rest = below(root, where)) return ItemPlace{*by, *rest, true};
  return std::nullopt;
}

std::optional<std::string> mountedRoot(const RecordedVolume& r) {
  if (!r.known() || (r.uuid.empty() && r.label.empty())) return std::nullopt;
  const auto mounts = currentMounts();
  for (const auto& m : mounts) {
    if (isPseudoFileSystem(m.fsType) || m.fsType != r.fsType) continue;
    VolumeFacts f = volumeFactsOf(m.mountPoint, mounts);
    if (f.mountPoint != m.mountPoint || !sameVolume(r, f)) continue;
    std::string path = m.mountPoint == "/" ? "/" + r.folder : r.folder.empty() ? m.mountPoint : m.mountPoint + "/" + r.folder;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return path;
  }
  return std::nullopt;
}

std::vector<ItemOnVolume> itemsOnVolume(const catalog::CatalogDocument& doc, const VolumeFacts& facts) {
  std::vector<ItemOnVolume> found;
  const std::string& mount = facts.mountPoint;
  std::function<void(const xmlNode*, const catalog::ItemPath&)> visit = [&](const xmlNode* parent,
                                                                          const catalog::ItemPath& at) {
    for (const xmlNode* c = parent->children; c; c = c->next) {
      if (catalog::CatalogDocument::isCategory(c)) {
        catalog::ItemPath below = at;
        below.push_back(catalog::CatalogDocument::numberOf(c));
        visit(c, below);
        continue;
      }
      if (!catalog::CatalogDocument::isItem(c)) continue;
      auto place = placeOnVolume(recordedVolume(doc, c), facts, mount);
      // A root above the mount point is not on this volume.
      if (!place || (!place->above && !place->inside.empty())) continue;
      std::string root = place->inside.empty() ? mount : mount == "/" ? "/" + place->inside : mount + "/" + place->inside;
      found.push_back({at, catalog::CatalogDocument::numberOf(c), root, catalog::isDiscKind(doc.itemKind(c)), place->by});
    }
  };
  visit(doc.root(), {});
  return found;
}

}  // namespace tamber::app
