#include "app/csv_export.h"

#include <map>

#include "app/presentation.h"
#include "catalog/catalog_document.h"
#include "disc/track.h"
#include "platform/hex_time.h"
#include "scan/listing.h"
#include "scan/listing_reader.h"

namespace tamber::app {

namespace {

using catalog::CatalogDocument;

// The recorded metadata, as `propertiesText` names it, in a reading order.
constexpr const char* kPropertyColumns[] = {
    "title",        "artist",          "album",          "genre",        "year",          "track",
    "comment",      "durationText",    "bitRateText",    "sampleRate",   "channelsText",  "codecText",
    "size",         "bitsPerPixel",    "takenDate",      "cameraMake",   "cameraModel",   "exposureTime",
    "fNumber",      "exposureProgram", "documentType",   "subject",      "author",        "keywords",
    "lastAuthor",   "application",     "creator",        "producer",     "pageCount",     "revisionNumber",
    "created",      "lastSaved",       "lastPrinted",    "editTime",     "template",      "companyName",
    "description",  "fileVersion",     "productName",    "productVersion", "internalName", "originalName",
    "legalCopyright", "legalTrademarks", "languages",    "specialBuild", "vendorText",    "compressionText",
    "otherTags",    "lyrics",          "isrc",           "performer",    "composer",      "songwriter",
    "contentHash",  "hashProblem",
    // Videos' own, after the columns that came before them.
    "container",    "videoCodec",      "frameRate",      "audioTracks",  "subtitles",     "date",
    "dvdTitles"};
constexpr size_t kFixedColumns = 6;

}  // namespace

const char* entryKind(const scan::ListingEntry& entry, bool track) {
  if (track) return "track";
  if (entry.folder) return "folder";
  static const scan::ExtensionTable table;
  auto c = table.classify(scan::extensionOf(entry.name));
  if (!c) return "";
  switch (c->kind) {
    case scan::FileKind::archive: return "archive";
    case scan::FileKind::document: return "document";
    case scan::FileKind::audio: return "audio";
    case scan::FileKind::image: return "picture";
    case scan::FileKind::executable: return "program";
    case scan::FileKind::video: return "video";
  }
  return "";
}

const std::vector<std::string>& csvColumns() {
  static const std::vector<std::string> columns = [] {
    std::vector<std::string> c{"item", "path", "type", "size", "modified", "kind"};
    for (const char* p : kPropertyColumns) c.push_back(std::string(p) == "size" ? "dimensions" : p);
    // The volume the item was read from, to tell which drive a row is on.
    c.push_back("volumeLabel");
    c.push_back("volumeUuid");
    return c;
  }();
  return columns;
}

std::string csvField(std::string_view raw) {
  // A spreadsheet runs a cell that starts like a formula; a name read from
  // a disc is no formula, so such a cell starts with an apostrophe.
  std::string guarded;
  if (!raw.empty() && (raw.front() == '=' || raw.front() == '@' || raw.front() == '\t' || raw.front() == '\r' ||
                       ((raw.front() == '+' || raw.front() == '-') &&
                        raw.find_first_not_of("0123456789.", 1) != std::string_view::npos))) {
    guarded = "'" + std::string(raw);
    raw = guarded;
  }
  std::string_view text = raw;
  bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
               (!text.empty() && (text.front() == ' ' || text.back() == ' ' || text.front() == '\t'));
  if (!quote) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

Result<long long> exportCsv(catalog::Library& library, const std::vector<xmlNode*>& selection,
                            const std::function<Status(std::string_view)>& out,
                            const std::function<bool(long long rows)>& progress, std::vector<std::string>* damaged,
                            const std::vector<std::vector<std::string>>* inside) {
  CatalogDocument& doc = library.catalog();
  CatalogDocument::NumberCounts counts(doc);
  static const std::map<std::string, size_t> columnOf = [] {
    std::map<std::string, size_t> m;
    for (size_t i = 0; i < std::size(kPropertyColumns); ++i) m[kPropertyColumns[i]] = kFixedColumns + i;
    return m;
  }();
  std::string header;
  for (const std::string& c : csvColumns()) header += (header.empty() ? "" : ",") + c;
  if (Status st = out(header + "\r\n"); !st) return st.error();

  long long rows = 0;
  Status failure;
  bool stopped = false;
  std::vector<std::string> cells(csvColumns().size());
  auto itemRows = [&](const xmlNode* item, const std::string& itemPath, const std::vector<std::string>& within) {
    if (!doc.hasOwnNumber(item)) return;
    const char* settings = catalog::nameCode(catalog::kScanSettings);
    const std::string volumeLabel = doc.field(item, catalog::kVolumeLabel, settings);
    const std::string volumeUuid = doc.field(item, catalog::kVolumeUuid, settings);
    std::vector<std::string> folders;
    const int base = static_cast<int>(within.size());
    bool found = within.empty(), done = false;
    scan::ListingVisitor v;
    v.entry = [&](scan::ListingEntry& entry, int depth) {
      // Above the folder asked for: only its ancestors are entered.
      if (depth < base) {
        if (found || entry.name != within[static_cast<size_t>(depth)]) return false;
        if (depth + 1 < base || entry.folder) {
          if (depth + 1 == base) found = true;
          if (entry.folder) folders.push_back(entry.name);
          return entry.folder;
        }
        found = done = true;  // a file: its row alone
      }
      const std::string* type = entry.field("f");
      bool track = depth == 0 && !entry.folder && disc::isAudioTrackItem(entry.name, type ? *type : "");
      for (auto& c : cells) c.clear();
      cells[0] = itemPath;
      std::string path;
      for (const std::string& f : folders) path += f + "/";
      cells[1] = path + entry.name;
      cells[2] = entry.folder ? "folder" : entry.field("l9") ? "link" : "file";
      // A track's recorded size is its length in CD frames: the row gives
      // its bytes of audio (2,352 a frame), its title and its length.
      if (!entry.folder) cells[3] = std::to_string(track ? entry.size * 2352 : entry.size);
      cells[4] = formatHexTime(entry.modified, "%Y-%m-%d %H:%M:%S").value_or("");
      cells[5] = entryKind(entry, track);
      for (const auto& [key, value] : propertiesText(entry.fields)) {
        auto it = columnOf.find(key);
        if (it != columnOf.end()) cells[it->second] = value;
      }
      if (track) {
        if (cells[columnOf.at("title")].empty()) cells[columnOf.at("title")] = entry.name;
        if (cells[columnOf.at("durationText")].empty()) {
          cells[columnOf.at("durationText")] = disc::trackLengthText(entry.size);
        }
      }
      cells[cells.size() - 2] = volumeLabel;
      cells[cells.size() - 1] = volumeUuid;
      std::string line;
      for (size_t i = 0; i < cells.size(); ++i) line += (i ? "," : "") + csvField(cells[i]);
      line += "\r\n";
      if (failure) failure = out(line);
      ++rows;
      if (progress && rows % 1000 == 0 && !progress(rows)) stopped = true;
      if (entry.folder) folders.push_back(entry.name);
      return entry.folder;
    };
    v.leave = [&](const scan::ListingEntry&, int depth) {
      folders.pop_back();
      if (depth == base - 1) done = true;  // the folder asked for has ended
    };
    v.stop = [&] { return done || stopped || !failure; };
    Status walked = scan::walkListing(
        scan::streamListing(library.file().root(), doc.parentPath(item), CatalogDocument::numberOf(item)), v);
    if (!walked && failure && walked.error().code != Errc::not_found) {
      // The rows read of it stay; the others items are written all the same.
      if (!damaged) {
        failure = walked;
      } else {
        damaged->push_back(doc.namePath(item) + ": " + walked.message());
      }
    }
    if (!found && failure) {
      std::string path;
      for (const auto& step : within) path += (path.empty() ? "" : "/") + step;
      failure = Error{Errc::not_found, itemPath + "/" + path + ": no such file or folder"};
    }
  };
  // The path of names from the top-level category down.
  auto pathText = [&](const xmlNode* n) {
    std::vector<std::string> names;
    for (; n && n != doc.root(); n = n->parent) {
      names.push_back(doc.field(n, CatalogDocument::isCategory(n) ? catalog::kCategoryName : catalog::kLabel));
    }
    std::string text;
    for (auto it = names.rbegin(); it != names.rend(); ++it) text += (text.empty() ? "" : "/") + *it;
    return text;
  };
  const std::vector<std::string> whole;
  std::function<void(const xmlNode*, const std::vector<std::string>&)> visit =
      [&](const xmlNode* n, const std::vector<std::string>& within) {
        if (stopped || !failure) return;
        if (CatalogDocument::isItem(n)) {
          itemRows(n, pathText(n), within);
          return;
        }
        for (const xmlNode* c = n->children; c; c = c->next) {
          if (CatalogDocument::isItem(c) || CatalogDocument::isCategory(c)) visit(c, whole);
        }
      };
  for (size_t i = 0; i < selection.size(); ++i) {
    visit(selection[i], inside && i < inside->size() ? (*inside)[i] : whole);
  }
  if (!failure) return failure.error();
  if (stopped) return Error{Errc::io, "the export was stopped"};
  return rows;
}

}  // namespace tamber::app
