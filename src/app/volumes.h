// Recognising a mounted volume as a disc or folder of the library: by the
// UUID its file system had when the item was scanned, or, where either side
// has none, by its label and size; failing both, by the folder the item was
// read from on this machine.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "catalog/catalog_document.h"
#include "platform/volume_facts.h"

namespace tamber::app {

// What an item recorded of the volume it was read from.
struct RecordedVolume {
  std::string fsType, uuid, label;
  uint64_t total = 0;
  std::string folder;  // the scan root below the mount point ("" for the mount point)
  std::string root;    // the scan root as it was then
  bool known() const { return !fsType.empty(); }
};
RecordedVolume recordedVolume(const catalog::CatalogDocument& doc, const xmlNode* item);

enum class VolumeMatch { uuid, labelAndSize, path };
const char* volumeMatchKey(VolumeMatch m);

struct ItemPlace {
  VolumeMatch by;
  // Where the path is inside the item ("" for its top); with `above`, the
  // path holds the item's root instead, and this is where below the path
  // that root is.
  std::string inside;
  bool above = false;
};

// Whether the folder at `resolvedPath`, on the volume `facts` describe,
// belongs to the item that recorded `r`, and where.
std::optional<ItemPlace> placeOnVolume(const RecordedVolume& r, const VolumeFacts& facts,
                                       const std::string& resolvedPath);

// Where the item's root is now, when its volume is mounted (recognised by
// UUID, or label and size) and the folder is there.
std::optional<std::string> mountedRoot(const RecordedVolume& r);

// An item of the library found on a volume just mounted, and where its root
// is there.
struct ItemOnVolume {
  catalog::ItemPath category;
  uint16_t number = 0;
  std::string root;
  bool disc = false;  // a disc item (add-disc), not a folder item
  VolumeMatch by = VolumeMatch::uuid;
};
// The items of `doc` that were read from the volume `facts` describe, its
// mount point being `facts.mountPoint`, in catalog order.
std::vector<ItemOnVolume> itemsOnVolume(const catalog::CatalogDocument& doc, const VolumeFacts& facts);

}  // namespace tamber::app
