// The XML export: the discs and folders of a category and of the categories
// below it, with their file listings under descriptive names.
//
//   <TAMBERPLUS-XML-EXPORT xmlns:dt="urn:schemas-microsoft-com:datatypes">
//     <cd-audio> <audiocd-number dt:dt="number">1</audiocd-number>
//       <in-category>Music//Jazz</in-category> <album>...</album> ...
//       <length>62:5</length> <cover-picture>front.jpg</cover-picture>
//       <file-listing> <track-item> <track-name>...</track-name> ...
//     <subentry-in-category> <label>...</label> <in-category>...</in-category>
//       <file-listing> <folder> <name>...</name> <file> ...
#include <libxml/xmlwriter.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <memory>

#include "catalog/catalog_document.h"
#include "catalog/names.h"
#include "disc/track.h"
#include "exchange/exchange.h"
#include "platform/atomic_file.h"
#include "platform/hex_time.h"
#include "platform/text.h"
#include "scan/listing_reader.h"

namespace tamber::exchange {

namespace {

using catalog::CatalogDocument;

enum class Type { text, number, hexNumber, time, skipped };

struct FieldName {
  const char* name;
  Type type;
};

// A file's fields by their codes, other than its name, size and times.
FieldName fileField(const std::string& code) {
  static const std::map<std::string, FieldName> types{
      {"p", {nullptr, Type::number}},  {"w", {nullptr, Type::number}},  {"a8", {nullptr, Type::number}},
      {"h", {nullptr, Type::number}},  {"a7", {nullptr, Type::number}}, {"d0", {nullptr, Type::hexNumber}},
      {"c9", {nullptr, Type::hexNumber}}, {"d2", {nullptr, Type::time}}, {"d3", {nullptr, Type::time}},
      {"d4", {nullptr, Type::time}},
      // Where a file's thumbnail and archive contents are in other streams:
      // nothing a reader of the export could follow.
      {"y", {nullptr, Type::skipped}}, {"a9", {nullptr, Type::skipped}}};
  auto it = types.find(code);
  return it == types.end() ? FieldName{nullptr, Type::text} : it->second;
}

// An audio track's fields by their codes.
FieldName trackField(const std::string& code) {
  static const std::map<std::string, FieldName> names{
      {"f", {"track-type", Type::text}},        {"g", {"track-ISRC", Type::text}},
      {"j", {"track-performer", Type::text}},   {"k", {"track-composer", Type::text}},
      {"l", {"track-songwriter", Type::text}}};
  auto it = names.find(code);
  return it == names.end() ? FieldName{nullptr, Type::text} : it->second;
}

// A picture's name as a plain file name in the export's folder: its last
// component, without characters a file system or a shell would trip on, and
// not hidden.
std::string safeFileName(const std::string& stored) {
  std::string name = stored;
  if (size_t slash = name.find_last_of("/\\"); slash != std::string::npos) name.erase(0, slash + 1);
  std::string out;
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    bool unsafe = u < 0x20 || u == 0x7F || std::string_view(":*?\"<>|").find(c) != std::string_view::npos;
    out += unsafe ? '_' : c;
  }
  while (!out.empty() && out.front() == '.') out.erase(0, 1);
  out = toValidUtf8(out);
  if (out.size() > 200) out = out.substr(out.size() - 200);
  return out.empty() ? "cover" : out;
}

struct WriterFree {
  void operator()(xmlTextWriter* w) const { xmlFreeTextWriter(w); }
};

class Exporter {
 public:
  Exporter(catalog::Library& library, const std::filesystem::path& target, AtomicFile& file,
           const XmlExportOptions& options)
      : library_(library), doc_(library.catalog()), folder_(target.parent_path().empty() ? "." : target.parent_path()),
        file_(file), options_(options) {
    xmlOutputBufferPtr buffer = xmlOutputBufferCreateIO(&Exporter::put, nullptr, this, nullptr);
    if (buffer) w_.reset(xmlNewTextWriter(buffer));
    if (w_) {
      xmlTextWriterSetIndent(w_.get(), 1);
      xmlTextWriterSetIndentString(w_.get(), u("  "));
    }
  }
  ~Exporter() {
    w_.reset();
    if (!done_) {
      std::error_code ec;
      for (const auto& p : written_) std::filesystem::remove(p, ec);
    }
  }

  // Puts the cover pictures in place beside the export. Until now they were
  // kept in an unnamed file, so that a killed export leaves none of them.
  Status writePictures() {
    std::string bytes;
    for (const auto& [name, at] : pictures_) {
      bytes.resize(at.second);
      if (at.second && std::fseek(spool_.get(), static_cast<long>(at.first), SEEK_SET) != 0) {
        return Error{Errc::io, "the cover pictures could not be kept"};
      }
      if (at.second && std::fread(bytes.data(), 1, bytes.size(), spool_.get()) != bytes.size()) {
        return Error{Errc::io, "the cover pictures could not be kept"};
      }
      if (Status st = writeFileAtomically(folder_ / name, bytes); !st) {
        return Error{st.error().code, (folder_ / name).string() + ": " + st.message()};
      }
      written_.push_back(folder_ / name);
    }
    return {};
  }

  Result<XmlExport> run(const xmlNode* category, const Progress& progress) {
    if (!w_) return Error{Errc::io, "the XML writer could not be made"};
    std::vector<const xmlNode*> categories{category};
    if (options_.subcategories) collectCategories(category, categories);
    int total = 0;
    for (const xmlNode* c : categories) {
      for (const xmlNode* n = c->children; n; n = n->next) total += CatalogDocument::isItem(n);
    }
    progress_ = &progress;
    total_ = total;
    xmlTextWriterStartDocument(w_.get(), nullptr, "UTF-8", "yes");
    start("TAMBERPLUS-XML-EXPORT");
    xmlTextWriterWriteAttribute(w_.get(), u("xmlns:dt"), u("urn:schemas-microsoft-com:datatypes"));
    for (const xmlNode* c : categories) {
      if (progress && !progress(result_.items, total)) return Error{Errc::io, "the export was stopped"};
      std::string path = categoryPath(c);
      for (const xmlNode* n = c->children; n; n = n->next) {
        if (!CatalogDocument::isItem(n)) continue;
        if (Status st = item(n, path); !st) return st.error();
        ++result_.items;
        if (!status_) return status_.error();
      }
    }
    end();
    if (xmlTextWriterEndDocument(w_.get()) < 0 && status_) status_ = Error{Errc::io, "the export could not be written"};
    w_.reset();  // writes what the writer holds
    if (!status_) return status_.error();
    // Stopped at the very end is stopped all the same: nothing is put in place.
    if (progress && !progress(result_.items, total)) return Error{Errc::io, "the export was stopped"};
    return result_;
  }

  // The pictures written stay.
  void keep() { done_ = true; }

 private:
  static const xmlChar* u(const char* s) { return reinterpret_cast<const xmlChar*>(s); }
  static int put(void* context, const char* bytes, int length) {
    // After a failure (or a stop) the bytes are let go: the status says
    // what went wrong, once, and the file is never put in place.
    auto* e = static_cast<Exporter*>(context);
    if (e->status_) e->status_ = e->file_.write(std::string_view(bytes, static_cast<size_t>(length)));
    return length;
  }

  void start(const char* name) { xmlTextWriterStartElement(w_.get(), u(name)); }
  void end() { xmlTextWriterEndElement(w_.get()); }
  // Text with "<", ">" or "&" goes into CDATA (split where it holds "]]>").
  void text(const std::string& raw) {
    std::string value = xmlSafe(raw);
    if (value.find_first_of("<>&") == std::string::npos) {
      xmlTextWriterWriteString(w_.get(), u(value.c_str()));
      return;
    }
    size_t from = 0;
    while (true) {
      size_t split = value.find("]]>", from);
      std::string piece = value.substr(from, split == std::string::npos ? std::string::npos : split + 2 - from);
      xmlTextWriterWriteCDATA(w_.get(), u(piece.c_str()));
      if (split == std::string::npos) break;
      from = split + 2;
    }
  }
  // An element with text, left out when the text is empty.
  void element(const char* name, const std::string& value, Type type = Type::text) {
    std::string shown = value;
    // A recorded time as the local time it stands for, "2003-05-12T14:30:00".
    if (type == Type::time) shown = formatHexTime(value, "%Y-%m-%dT%H:%M:%S").value_or("");
    if (type == Type::hexNumber) {
      char* end = nullptr;
      unsigned long long v = std::strtoull(value.c_str(), &end, 16);
      shown = end && *end == '\0' && !value.empty() ? std::to_string(v) : value;
    }
    if (shown.empty()) return;
    start(name);
    if (type == Type::number || type == Type::hexNumber) {
      xmlTextWriterWriteAttribute(w_.get(), u("dt:dt"), u("number"));
    } else if (type == Type::time) {
      xmlTextWriterWriteAttribute(w_.get(), u("dt:dt"), u("dateTime"));
    }
    text(shown);
    end();
  }

  void collectCategories(const xmlNode* category, std::vector<const xmlNode*>& out) {
    for (const xmlNode* n = category->children; n; n = n->next) {
      if (!CatalogDocument::isCategory(n)) continue;
      out.push_back(n);
      collectCategories(n, out);
    }
  }

  std::string categoryPath(const xmlNode* category) {
    std::vector<std::string> names;
    for (const xmlNode* n = category; n && CatalogDocument::isCategory(n); n = n->parent) {
      names.push_back(doc_.field(n, catalog::kCategoryName));
    }
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) path += (path.empty() ? "" : "//") + *it;
    return path;
  }

  // Writes the item's cover picture beside the export; the name used.
  Result<std::string> cover(const xmlNode* item) {
    std::string stored = doc_.field(item, catalog::kCoverName);
    if (stored.empty()) return std::string();
    auto bytes = library_.cover(item);
    if (!bytes) return std::string();  // no picture stored under the name
    std::string name = safeFileName(stored);
    std::string stem = std::filesystem::path(name).stem().string(), ext = std::filesystem::path(name).extension().string();
    if (stem.empty()) std::swap(stem, ext);
    std::error_code ec;
    // A name already there (or taken by a picture of this export) gets a
    // number: "front.jpg", "front1.jpg", ...
    for (int n = 1; std::filesystem::exists(folder_ / name, ec) || std::filesystem::is_symlink(folder_ / name, ec) ||
                    pictures_.count(name);
         ++n) {
      name = stem + std::to_string(n) + ext;
    }
    if (!spool_) spool_.reset(std::tmpfile());
    if (!spool_ || std::fseek(spool_.get(), 0, SEEK_END) != 0) {
      return Error{Errc::io, "the cover pictures could not be kept"};
    }
    long at = std::ftell(spool_.get());
    if (at < 0 || std::fwrite(bytes->data(), 1, bytes->size(), spool_.get()) != bytes->size()) {
      return Error{Errc::io, "the cover pictures could not be kept"};
    }
    pictures_[name] = {static_cast<uint64_t>(at), bytes->size()};
    ++result_.pictures;
    return name;
  }

  Status item(const xmlNode* e, const std::string& categoryPath) {
    int kind = doc_.itemKind(e);
    bool audio = kind == catalog::kKindAudioCd || kind == catalog::kKindCdExtra;
    auto picture = options_.covers ? cover(e) : Result<std::string>(std::string());
    if (!picture) return picture.error();
    if (audio) {
      start(kind == catalog::kKindAudioCd ? "cd-audio" : "cd-extra");
      element("audiocd-number", std::to_string(++audioNumber_), Type::number);
      element("in-category", categoryPath);
      element("album", doc_.field(e, catalog::kAlbum));
      element("artist", doc_.field(e, catalog::kArtist));
      element("genre", doc_.field(e, catalog::kGenre));
      element("year", doc_.field(e, catalog::kYear));
      std::string tracks = doc_.field(e, catalog::kTracks);
      if (!tracks.empty()) element("tracks", std::to_string(std::atoi(tracks.c_str())), Type::number);
      std::string seconds = doc_.field(e, catalog::kPlayingTime);
      if (!seconds.empty()) {
        long long s = std::atoll(seconds.c_str());
        char length[48];
        std::snprintf(length, sizeof length, "%lld:%lld", s / 60, s % 60);
        element("length", length);
      }
      element("catalog-nbr", doc_.field(e, catalog::kCatalogNumber));
      element("cover-picture", *picture);
    } else {
      start("subentry-in-category");
      element("label", doc_.field(e, catalog::kLabel));
      element("in-category", categoryPath);
    }
    if (options_.listings) listing(e);
    end();
    return {};
  }

  void listing(const xmlNode* e) {
    if (!doc_.hasOwnNumber(e)) return;
    start("file-listing");
    scan::ListingVisitor v;
    v.entry = [&](scan::ListingEntry& entry, int depth) {
      const std::string* type = entry.field("f");
      bool track = depth == 0 && !entry.folder && disc::isAudioTrackItem(entry.name, type ? *type : "");
      if (track) {
        start("track-item");
        element("track-name", entry.name);
        for (const auto& [code, value] : entry.fields) {
          FieldName f = trackField(code);
          element(f.name ? f.name : scan::fieldDisplayName(code).c_str(), value, f.type);
        }
        element("track-length", std::to_string(entry.size), Type::number);
        end();
        return false;
      }
      start(entry.folder ? "folder" : "file");
      element("name", entry.name);
      if (!entry.folder) element("file-size", std::to_string(entry.size), Type::number);
      element("modified-date", entry.modified, Type::time);
      element("created-date", entry.created, Type::time);
      for (const auto& [code, value] : entry.fields) {
        FieldName f = fileField(code);
        if (f.type == Type::skipped) continue;
        element(scan::fieldDisplayName(code).c_str(), value, f.type);
      }
      if (!entry.folder) end();
      return entry.folder;
    };
    int open = 0;  // folders started and not yet ended
    v.leave = [&](const scan::ListingEntry&, int) {
      end();
      --open;
    };
    auto entered = v.entry;
    v.entry = [&](scan::ListingEntry& entry, int depth) {
      bool into = entered(entry, depth);
      if (into) ++open;
      return into;
    };
    // A large item is stopped within: the progress is asked every so many
    // entries whether to go on.
    v.stop = [&] {
      if (status_ && progress_ && *progress_ && ++entries_ % 4096 == 0 && !(*progress_)(result_.items, total_)) {
        status_ = Error{Errc::io, "the export was stopped"};
      }
      return !status_;
    };
    Status walked = scan::walkListing(
        scan::streamListing(library_.file().root(), doc_.parentPath(e), CatalogDocument::numberOf(e)), v);
    if (!walked && walked.error().code != Errc::not_found) {
      result_.damaged.push_back(doc_.namePath(e) + ": " + walked.message());
    }
    // A listing that ends too soon leaves its folders open.
    for (; open > 0; --open) end();
    end();
  }

  catalog::Library& library_;
  CatalogDocument& doc_;
  std::filesystem::path folder_;
  AtomicFile& file_;
  Status status_;
  std::unique_ptr<xmlTextWriter, WriterFree> w_;
  XmlExport result_;
  int audioNumber_ = 0;
  // The cover pictures by name, kept in an unnamed spool file until the
  // export is complete (place and length there); the ones put in place.
  struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, FileClose> spool_;
  std::map<std::string, std::pair<uint64_t, size_t>> pictures_;
  XmlExportOptions options_;
  std::vector<std::filesystem::path> written_;
  bool done_ = false;
  const Progress* progress_ = nullptr;
  int total_ = 0;
  uint64_t entries_ = 0;
};

}  // namespace

Result<XmlExport> exportXml(catalog::Library& library, const xmlNode* category, const std::filesystem::path& target,
                            const Progress& progress, const XmlExportOptions& options) {
  if (!category || !CatalogDocument::isCategory(category)) return Error{Errc::invalid_argument, "no such category"};
  auto file = AtomicFile::begin(target);
  if (!file) return Error{file.error().code, target.string() + ": " + file.message()};
  Exporter exporter(library, target, *file, options);
  CatalogDocument::NumberCounts counts(library.catalog());
  auto done = exporter.run(category, progress);
  if (!done) return done;
  if (Status st = exporter.writePictures(); !st) return st.error();
  if (progress && !progress(done->items, done->items)) return Error{Errc::io, "the export was stopped"};
  if (Status st = file->commit(); !st) return Error{st.error().code, target.string() + ": " + st.message()};
  exporter.keep();
  return done;
}

}  // namespace tamber::exchange
