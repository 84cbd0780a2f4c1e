#include "app/disc_presence.h"

#include <sys/stat.h>

#include <optional>

#include "app/language.h"
#include "app/volumes.h"
#include "catalog/catalog_document.h"
#include "disc/toc.h"

namespace tamber::app {

namespace {

using catalog::CatalogDocument;

bool regularFile(const std::string& path) {
  struct ::stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string joined(const std::string& root, const std::vector<std::string>& steps) {
  std::string path = root;
  for (const std::string& s : steps) path += (path.empty() || path.back() == '/' ? "" : "/") + s;
  return path;
}

// The disc id recorded with an audio disc, in its scan settings.
std::string recordedDiscId(const xmlNode* item) {
  for (const xmlNode* s = item->children; s; s = s->next) {
    if (s->type != XML_ELEMENT_NODE || xmlStrcmp(s->name, xml::u(catalog::nameCode(catalog::kScanSettings))) != 0) {
      continue;
    }
    for (const xmlNode* f = s->children; f; f = f->next) {
      if (f->type == XML_ELEMENT_NODE && xmlStrcmp(f->name, xml::u(catalog::nameCode(catalog::kMusicBrainzId))) == 0) {
        return xml::content(f);
      }
    }
  }
  return {};
}


}  // namespace

Located locate(const App& app, catalog::Library& library, const xmlNode* item, const std::vector<std::string>& steps,
               disc::CdDriveManager& drives, int track) {
  const CatalogDocument& doc = library.catalog();
  Located at;
  int kind = doc.itemKind(item);
  std::string label = doc.field(item, catalog::kLabel);
  std::string place = doc.field(item, catalog::kLocation);
  // The item's volume mounted elsewhere (recognised by its UUID, or its
  // label and size) holds the file as well.
  auto onItsVolume = [&]() -> std::optional<std::string> {
    auto root = mountedRoot(recordedVolume(doc, item));
    if (!root) return std::nullopt;
    std::string path = joined(*root, steps);
    if (!regularFile(path)) return std::nullopt;
    return path;
  };
  if (catalog::isFolderKind(kind)) {
    at.path = joined(place, steps);
    at.present = !place.empty() && regularFile(at.path);
    if (!at.present) {
      if (auto moved = onItsVolume()) {
        at.path = *moved;
        at.present = true;
        return at;
      }
      at.message = fillIn(app.text(kTextFolderAway), {at.path});
    }
    return at;
  }
  bool audioTrack = track > 0;
  std::string wantedId = recordedDiscId(item);
  std::string volume = doc.field(item, catalog::kOriginalName);
  std::string other;
  if (drives.driveCount() == 0) drives.enumerate();
  for (int i = 0; i < drives.driveCount(); ++i) {
    if (!drives.readDisc(i)) continue;
    const disc::DriveRecord& r = *drives.record(i);
    if (audioTrack) {
      bool audio = r.discType == disc::kDiscAudio || r.discType == disc::kDiscEnhanced;
      if (audio && !wantedId.empty() && disc::musicBrainzDiscId(r.toc) == wantedId) {
        at.present = track <= r.lastAudioTrack;
        at.device = r.device;
        at.track = track;
        return at;
      }
    } else {
      std::string mount = drives.mountPoint(i);
      if (!mount.empty() && r.label == volume) {
        at.path = joined(mount, steps);
        at.present = regularFile(at.path);
        if (at.present) return at;
      }
    }
    if (other.empty()) other = r.label;
  }
  if (!audioTrack) {
    if (auto mounted = onItsVolume()) {
      at.path = *mounted;
      at.present = true;
      return at;
    }
  }
  // The disc is away, or another is in the drive.
  std::string kept = place.empty() ? std::string("?") : place;
  at.message = other.empty() ? fillIn(app.text(kTextDiscAway), {label, kept})
                             : fillIn(app.text(kTextOtherDisc), {other, label, kept});
  return at;
}

}  // namespace tamber::app
