#include "app/presentation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>

#include "platform/json.h"
#include "catalog/catalog_document.h"
#include "catalog/names.h"
#include "platform/hex_time.h"
#include "scan/listing.h"

namespace tamber::app {

namespace {

// hexNumber: a number stored in hexadecimal; time: a HexTime.
enum class Type { text, number, hexNumber, time, dimension, flag };

struct Property {
  const char* key;
  Type type;
};

// Recorded field codes of a file and what they hold.
const std::map<std::string, Property, std::less<>>& properties() {
  static const std::map<std::string, Property, std::less<>> m{
      {"m", {"codecText", Type::text}},        {"n", {"channelsText", Type::text}},
      // The fields of an audio disc's track items.
      {"f", {"type", Type::text}},             {"g", {"isrc", Type::text}},
      {"j", {"performer", Type::text}},        {"k", {"composer", Type::text}},
      {"l", {"songwriter", Type::text}},
      {"o", {"bitRateText", Type::text}},      {"p", {"sampleRate", Type::number}},
      {"q", {"durationText", Type::text}},     {"r", {"title", Type::text}},
      {"s", {"artist", Type::text}},           {"t", {"album", Type::text}},
      {"u", {"genre", Type::text}},            {"v", {"comment", Type::text}},
      {"b0", {"vendorText", Type::text}},      {"w", {"year", Type::number}},
      {"a8", {"track", Type::number}},         {"x", {"lyrics", Type::text}},
      {"e4", {"compressionText", Type::text}}, {"e5", {"otherTags", Type::text}},
      {"a2", {"takenDate", Type::text}},       {"a3", {"cameraMake", Type::text}},
      {"a4", {"cameraModel", Type::text}},     {"a5", {"exposureTime", Type::text}},
      {"a6", {"fNumber", Type::text}},         {"a7", {"exposureProgram", Type::number}},
      {"y", {"thumbnail", Type::flag}},        {"z", {"dimension", Type::dimension}},
      {"h", {"bitsPerPixel", Type::number}},   {"c2", {"documentType", Type::text}},
      {"b1", {"companyName", Type::text}},     {"b2", {"description", Type::text}},
      {"b3", {"fileVersion", Type::text}},     {"b4", {"languages", Type::text}},
      {"b5", {"internalName", Type::text}},    {"b6", {"legalCopyright", Type::text}},
      {"b7", {"legalTrademarks", Type::text}}, {"b8", {"originalName", Type::text}},
      {"b9", {"productName", Type::text}},     {"c0", {"productVersion", Type::text}},
      {"c1", {"specialBuild", Type::text}},    {"c3", {"subject", Type::text}},
      {"c4", {"author", Type::text}},          {"c5", {"keywords", Type::text}},
      {"c6", {"template", Type::text}},        {"c7", {"lastAuthor", Type::text}},
      {"c8", {"application", Type::text}},     {"c9", {"revisionNumber", Type::hexNumber}},
      {"d0", {"pageCount", Type::hexNumber}},  {"d1", {"editTime", Type::time}},
      {"d2", {"lastPrinted", Type::time}},     {"d3", {"created", Type::time}},
      {"d4", {"lastSaved", Type::time}},       {"d5", {"creator", Type::text}},
      {"d6", {"producer", Type::text}},        {"a9", {"archiveContents", Type::flag}},
      {"l9", {"linkTarget", Type::text}},
      {"x1", {"contentHash", Type::text}},     {"x2", {"hashProblem", Type::text}},
      {"x3", {"container", Type::text}},       {"x4", {"videoCodec", Type::text}},
      {"x5", {"frameRate", Type::text}},       {"x6", {"audioTracks", Type::text}},
      {"x7", {"subtitles", Type::text}},       {"x8", {"date", Type::text}},
      {"x9", {"dvdTitles", Type::text}}};
  return m;
}

// The stored picture size: height in the high bits, width in the low 16.
bool dimension(const std::string& hex, unsigned long long& width, unsigned long long& height) {
  char* end = nullptr;
  unsigned long long v = hex.empty() || hex.size() > 16 ? 0 : std::strtoull(hex.c_str(), &end, 16);
  if (!end || *end != '\0') return false;
  width = v & 0xFFFF;
  height = v >> 16;
  return true;
}

bool wholeNumber(const std::string& text, long long& v, int base = 10) {
  char* end = nullptr;
  v = text.empty() ? 0 : std::strtoll(text.c_str(), &end, base);
  return end && *end == '\0';
}

}  // namespace

std::string sizeText(uint64_t bytes, bool human) {
  if (!human || bytes < 1024) return std::to_string(bytes);
  static const char units[] = "KMGTPE";
  double v = static_cast<double>(bytes);
  int u = -1;
  while (v >= 1024 && u < 5) {
    v /= 1024;
    ++u;
  }
  char buf[32];
  // One decimal below 10, rounded up as ls does, so a size is never shown smaller.
  if (v < 10) {
    double up = std::ceil(v * 10) / 10;
    if (up >= 10) {
      std::snprintf(buf, sizeof buf, "%.0f%c", up, units[u]);
    } else {
      std::snprintf(buf, sizeof buf, "%.1f%c", up, units[u]);
    }
  } else {
    std::snprintf(buf, sizeof buf, "%.0f%c", std::ceil(v), units[u]);
  }
  return buf;
}

namespace {

// A recorded HexTime as local time in `format`; nothing when it holds none.
}  // namespace

std::string localTimeText(const std::string& hexTime) {
  return formatHexTime(hexTime, "%Y-%m-%d %H:%M:%S").value_or("-");
}

std::string isoTimeJson(const std::string& hexTime) {
  auto s = formatHexTime(hexTime, "%Y-%m-%dT%H:%M:%S%z");
  if (!s) return "null";
  if (s->size() >= 5) s->insert(s->size() - 2, ":");  // +0100 -> +01:00
  return jsonString(*s);
}

std::string numberJson(const std::string& text) {
  long long v = 0;
  return wholeNumber(text, v) && !text.empty() ? std::to_string(v) : std::string("null");
}

std::string partialListingText(const App& app, const std::string& reason) {
  if (reason.empty()) return {};
  return app.text(reason == "bytes"   ? kTextPartialBytes
                  : reason == "time"  ? kTextPartialTime
                  : reason == "entries" ? kTextPartialEntries
                                      : kTextPartialDamaged);
}

std::string kindText(const App& app, int kind) {
  if (kind < 0 || kind > catalog::kMaxKind) return "unknown";
  return app.text(kTextKindBase + kind);
}

std::string kindJson(const App& app, int kind) {
  if (kind < 0 || kind > catalog::kMaxKind) return "null";
  return jsonString(kindText(app, kind));
}

std::vector<std::pair<std::string, std::string>> propertiesText(
    const std::vector<std::pair<std::string, std::string>>& fields) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& [code, value] : fields) {
    auto it = properties().find(code);
    if (it == properties().end()) {
      out.emplace_back(code, value);
      continue;
    }
    const Property& p = it->second;
    unsigned long long w = 0, h = 0;
    // A track number or year of 0 is the reader's way of saying there is none.
    if ((code == "a8" || code == "w") && value == "0") continue;
    switch (p.type) {
      case Type::flag:
        break;  // offsets into other streams mean nothing to a reader
      case Type::dimension:
        if (dimension(value, w, h)) {
          out.emplace_back("size", std::to_string(w) + " x " + std::to_string(h));
        }
        break;
      case Type::hexNumber: {
        long long n = 0;
        out.emplace_back(p.key, wholeNumber(value, n, 16) ? std::to_string(n) : value);
        break;
      }
      case Type::time:
        // A document's times are HexTimes; a text that is none stays as written.
        out.emplace_back(p.key, parseHexTime(value) ? localTimeText(value) : value);
        break;
      default:
        out.emplace_back(p.key, value);
    }
  }
  return out;
}

std::string propertyLabel(const App& app, const std::string& key) {
  // In the order of their language texts.
  static constexpr const char* kKeys[] = {
      "codecText",      "channelsText",    "type",           "isrc",            "performer",       "composer",
      "songwriter",     "bitRateText",     "sampleRate",     "durationText",    "title",           "artist",
      "album",          "genre",           "comment",        "vendorText",      "year",            "track",
      "lyrics",         "compressionText", "otherTags",      "takenDate",       "cameraMake",      "cameraModel",
      "exposureTime",   "fNumber",         "exposureProgram", "thumbnail",      "size",            "bitsPerPixel",
      "documentType",   "companyName",     "description",    "fileVersion",     "languages",       "internalName",
      "legalCopyright", "legalTrademarks", "originalName",   "productName",     "productVersion",  "specialBuild",
      "subject",        "author",          "keywords",       "template",        "lastAuthor",      "application",
      "revisionNumber", "pageCount",       "editTime",       "lastPrinted",     "created",         "lastSaved",
      "creator",        "producer",        "archiveContents", "linkTarget"};
  for (size_t i = 0; i < std::size(kKeys); ++i) {
    if (key == kKeys[i]) return app.text(kTextPropertyBase + static_cast<int>(i));
  }
  if (key == "contentHash") return app.text(kTextContentHash);
  if (key == "hashProblem") return app.text(kTextHashProblem);
  static constexpr const char* kVideoKeys[] = {"container", "videoCodec", "frameRate",
                                               "audioTracks", "subtitles", "date", "dvdTitles"};
  for (size_t i = 0; i < std::size(kVideoKeys); ++i) {
    if (key == kVideoKeys[i]) return app.text(kTextVideoPropertyBase + static_cast<int>(i));
  }
  return key;
}

namespace {

// A DVD's titles are recorded in English ("1: 01:02:03, 12 chapters,
// 2 angles, en fr; 2: ..."); their counts are said in the user's language.
std::string dvdTitlesForPeople(const App& app, const std::string& recorded) {
  std::string out;
  size_t start = 0;
  while (start <= recorded.size()) {
    size_t end = recorded.find(", ", start);
    size_t semicolon = recorded.find("; ", start);
    end = std::min(end, semicolon);
    if (end == std::string::npos) end = recorded.size();
    std::string_view part(recorded.data() + start, end - start);
    size_t digits = part.find_first_not_of("0123456789");
    std::string_view word = digits == std::string::npos ? std::string_view() : part.substr(digits);
    int counted = word == " chapter" || word == " chapters" ? kTextChapterCount : word == " angles" ? kTextAngleCount : 0;
    if (counted && digits > 0 && digits <= 9) {
      out += countedText(app, std::stoull(std::string(part.substr(0, digits))), counted);
    } else {
      out += part;
    }
    if (end == recorded.size()) break;
    out += recorded.substr(end, 2);
    start = end + 2;
  }
  return out;
}

}  // namespace

std::string propertyValueText(const App& app, const std::string& key, const std::string& value) {
  if (key == "documentType" && value.size() == 1 && value[0] >= '0' && value[0] <= '3') {
    return app.text(kTextDocumentFamily + (value[0] - '0'));
  }
  if (key == "dvdTitles") return dvdTitlesForPeople(app, value);
  return value;
}

std::vector<std::pair<std::string, std::string>> propertiesForPeople(
    const App& app, const std::vector<std::pair<std::string, std::string>>& fields) {
  auto shown = propertiesText(fields);
  for (auto& [key, value] : shown) value = propertyValueText(app, key, value);
  return shown;
}

std::string propertiesJson(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string out = "{";
  auto add = [&](const std::string& key, const std::string& json) {
    if (out.size() > 1) out += ",";
    out += jsonString(key) + ":" + json;
  };
  for (const auto& [code, value] : fields) {
    auto it = properties().find(code);
    if (it == properties().end()) {
      add(code, jsonString(value));
      continue;
    }
    const Property& p = it->second;
    unsigned long long w = 0, h = 0;
    long long number = 0;
    switch (p.type) {
      case Type::flag:
        add(p.key, "true");
        break;
      case Type::dimension:
        if (dimension(value, w, h)) {
          add("width", std::to_string(w));
          add("height", std::to_string(h));
        }
        break;
      case Type::number:
        add(p.key, wholeNumber(value, number) ? std::to_string(number) : jsonString(value));
        break;
      case Type::hexNumber:
        add(p.key, wholeNumber(value, number, 16) ? std::to_string(number) : jsonString(value));
        break;
      case Type::time:
        add(p.key, parseHexTime(value) ? isoTimeJson(value) : jsonString(value));
        break;
      case Type::text:
        add(p.key, jsonString(value));
        break;
    }
  }
  return out + "}";
}

std::string elapsedText(std::chrono::steady_clock::duration d) {
  long long s = std::chrono::duration_cast<std::chrono::seconds>(d).count();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  return buf;
}

std::string withCommas(uint64_t v, std::string_view separator) {
  std::string s = std::to_string(v);
  for (int i = static_cast<int>(s.size()) - 3; i > 0; i -= 3) s.insert(static_cast<size_t>(i), separator);
  return s;
}

std::string groupedNumber(uint64_t v, std::string_view languageCode) {
  // French groups with a narrow no-break space, Italian with a point.
  if (languageCode == "fr") return withCommas(v, "\u202F");
  if (languageCode == "it") return withCommas(v, ".");
  return withCommas(v);
}

std::string countedText(const App& app, uint64_t n, int singularId) {
  const std::string& code = app.language().code();
  bool singular = n == 1 || (n == 0 && code == "fr");
  std::string t = app.text(singular ? singularId : singularId + 1);
  size_t at = t.find("%s");
  if (at != std::string::npos) t.replace(at, 2, groupedNumber(n, code));
  return t;
}

std::string exportedLibraryText(const App& app, const std::string& category, const std::string& file,
                                uint64_t items) {
  return fillIn(app.text(kTextExportedLibrary), {category, file, countedText(app, items, kTextItemCount)});
}

std::string importedLibraryText(const App& app, const std::string& file, uint64_t categories,
                                uint64_t items, uint64_t relabelled) {
  return fillIn(app.text(kTextImportedLibrary),
                {file, countedText(app, categories, kTextNewCategoryCount), countedText(app, items, kTextItemCount),
                 std::to_string(relabelled)});
}

std::string withColon(const App& app, const std::string& label) { return withColon(app.language().code(), label); }

std::string withColon(std::string_view code, const std::string& label) {
  return label + (code == "fr" ? "\u00A0:" : ":");
}

std::string fieldName(std::string_view code, bool discField) {
  if (discField) {
    for (const auto& [name, field] : itemFields()) {
      if (code == catalog::nameCode(field)) return name;
    }
    return std::string(code);
  }
  if (code == "c") return "name";
  if (code == "e3") return "path";
  auto it = properties().find(code);
  return it == properties().end() ? std::string(code) : it->second.key;
}

const std::vector<std::pair<const char*, int>>& itemFields() {
  static const std::vector<std::pair<const char*, int>> f{
      {"label", catalog::kLabel},          {"originalName", catalog::kOriginalName},
      {"kind", catalog::kKind},            {"comment", catalog::kComment},
      {"location", catalog::kLocation},    {"capacityMB", catalog::kCapacity},
      {"depth", catalog::kDepth},          {"folders", catalog::kFolders},
      {"files", catalog::kFiles},          {"tracks", catalog::kTracks},
      {"playingTime", catalog::kPlayingTime}, {"artist", catalog::kArtist},
      {"album", catalog::kAlbum},          {"genre", catalog::kGenre},
      {"year", catalog::kYear},            {"price", catalog::kPrice},
      {"catalogNumber", catalog::kCatalogNumber}, {"cover", catalog::kCoverName},
      {"filter", catalog::kFilterText},    {"listingParts", catalog::kListingParts}};
  return f;
}

namespace {
const std::vector<std::pair<const char*, int>>& volumeKeys() {
  static const std::vector<std::pair<const char*, int>> k{
      {"fileSystem", catalog::kVolumeFileSystem}, {"volumeUuid", catalog::kVolumeUuid},
      {"volumeLabel", catalog::kVolumeLabel},     {"volumeSerial", catalog::kVolumeSerial},
      {"totalSpace", catalog::kVolumeTotal},      {"usedSpace", catalog::kVolumeUsed},
      {"freeSpace", catalog::kVolumeFree},        {"volumeFolder", catalog::kVolumeFolder}};
  return k;
}
}  // namespace

std::string itemFieldLabel(const App& app, std::string_view key) {
  // The item fields' names follow one another in the language files, in
  // the order of itemFields().
  const auto& fields = itemFields();
  for (size_t i = 0; i < fields.size(); ++i) {
    if (key == fields[i].first) return app.text(kTextFieldLabel + static_cast<int>(i));
  }
  static const std::map<std::string_view, int> others{
      {"number", kTextNumber},         {"name", kTextName},         {"created", kTextCreated},
      {"scanned", kTextScannedFor},    {"categories", kTextCategories}, {"discs", kTextDiscs},
      {"audioTracks", kTextAudioTracks}, {"totalPrice", kTextTotalPrice},
      {"lastVerified", kTextLastVerified}};
  auto it = others.find(key);
  if (it != others.end()) return app.text(it->second);
  const auto& volume = volumeKeys();
  for (size_t i = 0; i < volume.size(); ++i) {
    if (key == volume[i].first) return app.text(kTextVolumeFieldLabel + static_cast<int>(i));
  }
  return std::string(key);
}


std::vector<std::pair<std::string, std::string>> volumeFields(const catalog::CatalogDocument& doc,
                                                              const xmlNode* item) {
  std::vector<std::pair<std::string, std::string>> out;
  const char* settings = catalog::nameCode(catalog::kScanSettings);
  for (const auto& [key, field] : volumeKeys()) {
    std::string v = doc.field(item, field, settings);
    if (!v.empty()) out.emplace_back(key, std::move(v));
  }
  std::string verified = doc.field(item, catalog::kLastVerified, settings);
  if (parseHexTime(verified)) out.emplace_back("lastVerified", verified);
  return out;
}

std::string volumeValueText(const std::string& key, const std::string& value) {
  if (key == "lastVerified") return localTimeText(value);
  if (key.size() > 5 && key.compare(key.size() - 5, 5, "Space") == 0) {
    return sizeText(std::strtoull(value.c_str(), nullptr, 10), true);
  }
  return value;
}

std::string differenceText(const App& app, Difference kind, bool verify) {
  switch (kind) {
    case Difference::missing: return app.text(verify ? kTextDiffMissing : kTextDiffRemoved);
    case Difference::added: return app.text(verify ? kTextDiffNew : kTextDiffAdded);
    case Difference::changed: return app.text(kTextDiffChanged);
    case Difference::damaged: return app.text(kTextDiffDamaged);
    case Difference::moved: return app.text(kTextDiffMoved);
    case Difference::unreadable: return app.text(kTextDiffUnreadable);
  }
  return {};
}

std::string differenceDetails(const App& app, const FileDifference& d) {
  switch (d.kind) {
    case Difference::moved: return "-> " + d.after->path;
    case Difference::damaged: return app.text(kTextDiffOtherContent);
    case Difference::unreadable: return d.what;
    case Difference::changed: break;
    default: return {};
  }
  std::string why;
  size_t from = 0;
  while (from <= d.what.size()) {
    size_t comma = d.what.find(',', from);
    std::string piece = d.what.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    std::string text = piece == "size"      ? sizeText(d.before->size, false) + " -> " + sizeText(d.after->size, false)
                       : piece == "time"    ? localTimeText(d.before->modified) + " -> " + localTimeText(d.after->modified)
                       : piece == "content" ? app.text(kTextDiffOtherContent)
                                            : d.before->link + " -> " + d.after->link;
    why += (why.empty() ? "" : ", ") + text;
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return why;
}

std::string differenceCounts(const App& app, const Comparison& c, bool verify) {
  std::string counts;
  for (auto kind : {Difference::missing, Difference::added, Difference::changed, Difference::damaged,
                    Difference::moved, Difference::unreadable}) {
    if (size_t k = c.count(kind)) {
      counts += (counts.empty() ? "" : ", ") + differenceText(app, kind, verify) + " " +
                groupedNumber(k, app.language().code());
    }
  }
  return counts;
}

std::string scanOptionsText(const App& app, const std::vector<std::string>& read) {
  static const std::map<std::string, int> box{{"thumbnails", kTextThumbnailsBox},
                                              {"tags", kTextTagsBox},
                                              {"documents", kTextDocumentsBox},
                                              {"archives", kTextArchivesBox}};
  std::string out;
  for (const auto& o : read) {
    auto it = box.find(o);
    std::string name = it == box.end() ? o : app.text(it->second);
    name.erase(std::remove(name.begin(), name.end(), '&'), name.end());
    out += (out.empty() ? "" : ", ") + name;
  }
  return out.empty() ? app.text(kTextNamesOnly) : out;
}

std::optional<std::vector<std::string>> scanOptionsOf(const catalog::CatalogDocument& doc, const xmlNode* item) {
  std::string bitsText = doc.field(item, catalog::kScanBits, catalog::nameCode(catalog::kScanSettings));
  if (bitsText.empty()) return std::nullopt;
  auto bits = static_cast<uint32_t>(std::strtoul(bitsText.c_str(), nullptr, 16));
  std::vector<std::string> on;
  for (auto [bit, name] : {std::pair{scan::kScanThumbnails, "thumbnails"}, std::pair{scan::kScanTags, "tags"},
                           std::pair{scan::kScanDocuments, "documents"}, std::pair{scan::kScanArchives, "archives"}}) {
    if (bits & bit) on.emplace_back(name);
  }
  return on;
}

}  // namespace tamber::app
