#include "report/report_data.h"

#include <libxml/globals.h>
#include <libxml/xmlerror.h>

#include <libxml/xmlwriter.h>

#include <cmath>
#include <limits>
#include <optional>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "catalog/catalog_document.h"
#include "catalog/names.h"
#include "disc/track.h"
#include "platform/hex_time.h"
#include "platform/text.h"
#include "scan/listing_reader.h"

namespace tamber::report {

namespace {

using catalog::CatalogDocument;

struct WriterFree {
  void operator()(xmlTextWriter* w) const { xmlFreeTextWriter(w); }
};

// Builds the document as elements, not text: no text to parse again, and
// no white space between the elements.
class Writer {
 public:
  Writer() {
    xmlDocPtr doc = nullptr;
    writer_.reset(xmlNewTextWriterDoc(&doc, 0));
    doc_.reset(doc);
  }
  // Writes the document as indented text to `out` as it is made.
  explicit Writer(const std::function<Status(std::string_view)>& out) : out_(out) {
    xmlOutputBufferPtr buffer = xmlOutputBufferCreateIO(&Writer::put, nullptr, this, nullptr);
    if (buffer) writer_.reset(xmlNewTextWriter(buffer));  // the writer frees the buffer
    if (writer_) {
      xmlTextWriterSetIndent(writer_.get(), 1);
      xmlTextWriterSetIndentString(writer_.get(), u("  "));
    }
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;
  bool ok() const { return writer_ != nullptr && (doc_ != nullptr || out_); }
  void start(const char* name) { xmlTextWriterStartElement(writer_.get(), u(name)); }
  void end() { xmlTextWriterEndElement(writer_.get()); }
  void attribute(const char* name, const std::string& value) {
    std::string safe = xmlSafe(value);
    xmlTextWriterWriteAttribute(writer_.get(), u(name), u(safe.c_str()));
  }
  void text(const std::string& value) {
    std::string safe = xmlSafe(value);
    xmlTextWriterWriteString(writer_.get(), u(safe.c_str()));
  }
  // An element with text; nothing for an empty text unless `always`.
  void element(const char* name, const std::string& value, bool always = false) {
    if (value.empty() && !always) return;
    start(name);
    text(value);
    end();
  }
  void document() { xmlTextWriterStartDocument(writer_.get(), nullptr, "UTF-8", out_ ? "yes" : nullptr); }
  xml::Doc finish() {
    xmlTextWriterEndDocument(writer_.get());
    writer_.reset();
    return std::move(doc_);
  }
  // The end of a document written as text: what writing it came to.
  Status finishText() {
    if (xmlTextWriterEndDocument(writer_.get()) < 0 && status_) status_ = Error{Errc::io, "the report could not be written"};
    writer_.reset();
    return status_;
  }

 private:
  static const xmlChar* u(const char* s) { return reinterpret_cast<const xmlChar*>(s); }
  static int put(void* context, const char* bytes, int length) {
    auto* w = static_cast<Writer*>(context);
    if (!w->status_) return -1;
    w->status_ = w->out_(std::string_view(bytes, static_cast<size_t>(length)));
    return w->status_ ? length : -1;
  }
  xml::Doc doc_;
  std::function<Status(std::string_view)> out_;
  Status status_;
  std::unique_ptr<xmlTextWriter, WriterFree> writer_;
};

void quiet(void*, const char*, ...) {}

class DataWriter {
 public:
  // The data as a document.
  DataWriter(catalog::Library& library, const ReportDataOptions& options)
      : library_(library), doc_(library.catalog()), options_(options), top_(std::make_unique<Writer>()) {
    w_ = top_.get();
  }
  // The data as indented text, written as it is made.
  DataWriter(catalog::Library& library, const ReportDataOptions& options,
             const std::function<Status(std::string_view)>& out)
      : library_(library), doc_(library.catalog()), options_(options), top_(std::make_unique<Writer>(out)) {
    w_ = top_.get();
  }

  ~DataWriter() {
    if (!stopped_) return;
    // A report stopped half way leaves its documents unfinished: what the
    // parser behind them would say of that, when they are freed, is no news.
    xmlGenericErrorFunc before = xmlGenericError;
    void* context = xmlGenericErrorContext;
    xmlSetGenericErrorFunc(nullptr, quiet);
    pieces_.clear();
    top_.reset();
    xmlSetGenericErrorFunc(context, before);
  }

  Status write(const std::vector<xmlNode*>& selection) {
    if (!w_->ok()) return Error{Errc::io, "cannot start the report data"};
    CatalogDocument::NumberCounts counts(doc_);
    w_->document();
    w_->start("report");
    w_->attribute("xmlns:dt", "urn:schemas-microsoft-com:datatypes");
    w_->attribute("title", options_.title);
    for (xmlNode* n : selection) {
      if (CatalogDocument::isCategory(n)) {
        category(n);
      } else if (CatalogDocument::isItem(n)) {
        item(n);
      }
      if (!failure_) return failure_;
      if (stopped_) return Error{Errc::io, "the report was stopped"};
    }
    w_->end();
    return {};
  }
  xml::Doc document() { return top_->finish(); }
  Status finishText() { return top_->finishText(); }

 private:
  std::string field(const xmlNode* n, int index) const { return doc_.field(n, index); }

  // A dated element: the local date and time as text, and its two numbers.
  void date(const char* name, const std::string& hexTime) {
    auto t = parseHexTime(hexTime);
    if (!t || !*t) return;
    std::tm tm{};
    localtime_r(&*t, &tm);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
    w_->start(name);
    w_->attribute("datenum", std::to_string(dateNumber(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday)));
    w_->attribute("timenum", std::to_string(timeNumber(tm.tm_hour, tm.tm_min, tm.tm_sec)));
    w_->text(text);
    w_->end();
  }

  static std::string price(const std::string& text) {
    if (text.empty()) return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", std::strtod(text.c_str(), nullptr));
    return buf;
  }

  void category(xmlNode* c) {
    if (cut_) return;
    catalog::CategoryStatistics stats = doc_.categoryStatistics(c);
    w_->start("category");
    w_->attribute("name", field(c, catalog::kCategoryName));
    if (options_.collationKey) w_->attribute("name-key", options_.collationKey(field(c, catalog::kCategoryName)));
    bool hasChildren = false;
    for (xmlNode* n = c->children; n; n = n->next) hasChildren |= CatalogDocument::isItem(n) || CatalogDocument::isCategory(n);
    w_->attribute("hasProperty", hasChildren ? "1" : "0");
    date("creation-date", field(c, catalog::kCreated));
    w_->element("cddvd-number", std::to_string(stats.discs + stats.folders), true);
    w_->element("audio-tracks", std::to_string(stats.audioTracks), true);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", stats.totalPrice);
    w_->element("price", buf, true);
    w_->element("comment", field(c, catalog::kComment));
    for (xmlNode* n = c->children; n && !stopped_; n = n->next) {
      if (CatalogDocument::isCategory(n)) {
        category(n);
      } else if (CatalogDocument::isItem(n)) {
        item(n);
      }
    }
    w_->end();
  }

  void cover(const xmlNode* item) {
    if (!options_.covers || !doc_.hasOwnNumber(item)) return;
    std::string stream = catalog::streamName(catalog::StreamKind::cover, doc_.parentPath(item),
                                             CatalogDocument::numberOf(item));
    if (!library_.file().root().contains(stream)) return;
    char ref[256];
    std::snprintf(ref, sizeof ref, "tamber://pointer=|%lld|stream=|%s|", options_.libraryIdentity, stream.c_str());
    w_->start("cover-image");
    w_->attribute("src", ref);
    w_->attribute("oriname", field(item, catalog::kCoverName));
    w_->end();
  }

  void item(xmlNode* e) {
    // A preview ends where its entries do: the discs and folders after that
    // are not in it either.
    if (cut_) return;
    int kind = doc_.itemKind(e);
    bool audio = kind == catalog::kKindAudioCd || kind == catalog::kKindCdExtra;
    bool files = kind != catalog::kKindAudioCd;
    std::string kindName = options_.kindName ? options_.kindName(kind) : std::to_string(kind);
    // An item's top piece is numbered by the item's place, so that a page's
    // skeleton made alone names the pieces the whole report makes.
    const int root = nextRoot_;
    if (files && options_.pieces) nextRoot_ += 2;
    // The listing is read entry by entry: the files go into the report as
    // they come, the tracks are kept for the audio part.
    std::vector<scan::ListingEntry> tracks;
    auto walk = [&](bool writeFiles) {
      // In pieces, the item's entries start a piece; a folder entered when
      // its piece is full gets a piece of its own for its entries.
      bool inPieces = writeFiles && options_.pieces;
      if (inPieces) openPiece(root, 0);
      if (!doc_.hasOwnNumber(e)) {
        if (inPieces) closePiece();
        return;
      }
      scan::ListingVisitor v;
      v.entry = [&](scan::ListingEntry& entry, int depth) {
        const std::string* type = entry.field("f");
        if (depth == 0 && !entry.folder && disc::isAudioTrackItem(entry.name, type ? *type : "")) {
          if (audio) tracks.push_back(entry);
          return false;
        }
        if (!writeFiles) return false;
        if (options_.entryLimit > 0 && entries_ >= options_.entryLimit) {
          cut_ = true;
          if (options_.limitReached) *options_.limitReached = true;
          return false;
        }
        ++entries_;
        int piece = 0;
        if (inPieces && pieces_.back().keeping) {
          // A folder of a listing part: its entries are kept, every folder
          // in it gets a piece of its own.
          Piece& current = pieces_.back();
          if (entry.folder) piece = newPiece();
          ++current.entries;
          if (options_.progress && ++files_ % 1000 == 0 && !options_.progress(files_)) stopped_ = true;
          bool folder = entry.folder;
          bool part = entry.part > 0;
          entry.children.clear();
          current.kept.push_back({std::move(entry), piece});
          if (folder) {
            divertedFolders_.push_back(true);
            openPiece(piece, depth + 1, part);
          }
          return folder;
        }
        if (inPieces) {
          Piece& current = pieces_.back();
          // A folder of a listing part may hold more than a piece: it gets
          // a piece of its own, whose entries are kept until it ends.
          if (entry.folder && (current.entries >= options_.pieceEntries || entry.part > 0)) piece = newPiece();
          ++current.entries;
        }
        startFileItem(entry, piece);
        if (!entry.folder || piece) w_->end();
        if (entry.folder) {
          divertedFolders_.push_back(piece != 0);
          if (piece) openPiece(piece, depth + 1, entry.part > 0);
        }
        return entry.folder;
      };
      v.leave = [&](const scan::ListingEntry&, int) {
        bool diverted = divertedFolders_.back();
        divertedFolders_.pop_back();
        if (diverted) {
          closePiece();
        } else {
          w_->end();
        }
      };
      v.stop = [&] { return stopped_ || cut_; };
      Status walked = scan::walkListing(
          scan::streamListing(library_.file().root(), doc_.parentPath(e), CatalogDocument::numberOf(e)), v);
      if (!walked && walked.error().code != Errc::not_found && options_.damaged && !options_.skeleton) {
        options_.damaged->push_back(doc_.namePath(e) + ": " + walked.message());
      }
      // A walk that stopped early leaves its folders open.
      while (!divertedFolders_.empty()) v.leave(scan::ListingEntry{}, 0);
      if (inPieces) closePiece();
    };
    if (files) {
      w_->start("file-structure");
      w_->attribute("cd-name", field(e, catalog::kLabel));
      if (options_.collationKey) w_->attribute("cd-name-key", options_.collationKey(field(e, catalog::kLabel)));
      if (options_.pieces) w_->attribute("piece", std::to_string(root));
      w_->element("media-type", kindName);
      w_->element("cd-capacity", field(e, catalog::kCapacity));
      w_->element("recording-depth", field(e, catalog::kDepth));
      w_->element("comment", field(e, catalog::kComment));
      w_->element("location", field(e, catalog::kLocation));
      w_->element("tracks", field(e, catalog::kTracks));
      w_->element("price", price(field(e, catalog::kPrice)));
      date("creation-date", field(e, catalog::kCreated));
      w_->element("folders", field(e, catalog::kFolders));
      w_->element("files", field(e, catalog::kFiles));
      cover(e);
      // A skeleton reads a listing only for its tracks.
      if (!options_.skeleton) {
        walk(true);
      } else if (audio) {
        walk(false);
      }
      w_->end();
    } else {
      walk(false);
    }
    if (audio) {
      w_->start("audio-details");
      w_->attribute("cd-name", field(e, catalog::kLabel));
      if (options_.collationKey) w_->attribute("cd-name-key", options_.collationKey(field(e, catalog::kLabel)));
      w_->element("album", field(e, catalog::kAlbum));
      w_->element("artist", field(e, catalog::kArtist));
      w_->element("genre", field(e, catalog::kGenre));
      w_->element("year", field(e, catalog::kYear));
      w_->element("cd-type", kindName);
      w_->element("tracks", field(e, catalog::kTracks));
      std::string seconds = field(e, catalog::kPlayingTime);
      if (!seconds.empty()) {
        long long s = std::atoll(seconds.c_str());
        char text[32];
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
        w_->start("length");
        w_->attribute("text", text);
        w_->text(seconds);
        w_->end();
      }
      w_->element("catalog-number", field(e, catalog::kCatalogNumber));
      w_->element("price", price(field(e, catalog::kPrice)));
      w_->element("location", field(e, catalog::kLocation));
      w_->element("comment", field(e, catalog::kComment));
      cover(e);
      for (const scan::ListingEntry& t : tracks) track(t);
      w_->end();
    }
  }

  void track(const scan::ListingEntry& t) {
    w_->start("track-item");
    w_->start("track-name");
    if (options_.collationKey) w_->attribute("key", options_.collationKey(t.name));
    w_->text(t.name);
    w_->end();
    long long seconds = static_cast<long long>(t.size / 75);
    w_->start("track-length");
    w_->attribute("text", disc::trackLengthText(t.size));
    w_->text(std::to_string(seconds));
    w_->end();
    auto put = [&](const char* code, const char* name) {
      if (const std::string* v = t.field(code)) w_->element(name, *v);
    };
    put("g", "track-ISRC");
    put("j", "track-performer");
    put("k", "track-composer");
    put("l", "track-songwriter");
    w_->end();
  }

  // Starts the element of a file or folder with its fields; the caller ends
  // it (a folder after its entries).
  // A folder's entries in a piece of their own: the piece's number.
  void startFileItem(const scan::ListingEntry& entry, int piece, bool count = true) {
    if (count && options_.progress && ++files_ % 1000 == 0 && !options_.progress(files_)) stopped_ = true;
    w_->start("file-items");
    w_->attribute("type", entry.folder ? "folder" : "file");
    if (piece) w_->attribute("piece", std::to_string(piece));
    bool properties = false;
    for (const auto& [code, value] : entry.fields) properties |= code != "f" && !value.empty();
    w_->attribute("hasProperty", properties ? "1" : "0");
    w_->start("file-name");
    if (options_.collationKey) w_->attribute("key", options_.collationKey(entry.name));
    w_->text(entry.name);
    w_->end();
    if (!entry.folder) {
      w_->start("file-size");
      w_->attribute("text", humanSize(entry.size));
      w_->text(std::to_string(entry.size));
      w_->end();
    }
    date("modification-date", entry.modified);
    if (properties) {
      std::vector<std::pair<std::string, std::string>> shown;
      if (options_.properties) {
        shown = options_.properties(entry.fields);
      } else {
        for (const auto& [code, value] : entry.fields) shown.emplace_back(scan::fieldDisplayName(code), value);
      }
      w_->start("properties");
      for (const auto& [name, value] : shown) {
        // The file's type and the offsets into other streams mean nothing
        // in a report.
        if (name == "f" || name == "documentType" || name == "doc-type" || name == "thumbnail" ||
            name == "archiveContents" || value.empty()) {
          continue;
        }
        w_->start("property");
        w_->attribute("name", name);
        if (options_.propertyLabel) w_->attribute("label", options_.propertyLabel(name));
        w_->text(value);
        w_->end();
      }
      w_->end();
    }
  }

  static std::string humanSize(uint64_t bytes) {
    const char* units[] = {"B", "KB", "MB", "GB", "TB"};
    double v = static_cast<double>(bytes);
    int u = 0;
    while (v >= 1024 && u < 4) {
      v /= 1024;
      ++u;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, u == 0 ? "%.0f %s" : "%.1f %s", v, units[u]);
    return buf;
  }

  // A piece of a file tree: the entries of a folder (and of the folders in
  // it, until the piece is full), in a document of its own.
  // A folder's entry kept to be written later: a large folder's entries
  // are sorted before they are written.
  struct Kept {
    scan::ListingEntry entry;
    int piece = 0;  // its entries' piece, for a folder
  };

  struct Piece {
    int id = 0;
    std::unique_ptr<Writer> writer;
    size_t entries = 0;
    int depth = 0;
    // The entries of a folder of a listing part (the only folders that can
    // hold more than a piece): kept, and written when the folder ends.
    bool keeping = false;
    std::vector<Kept> kept;
  };

  void openPiece(int id, int depth, bool keeping = false) {
    auto& p = pieces_.emplace_back();
    p.id = id;
    p.writer = std::make_unique<Writer>();
    p.depth = depth;
    p.keeping = keeping;
    w_ = p.writer.get();
    w_->document();
    w_->start("report");
    w_->attribute("piece", std::to_string(id));
    w_->attribute("depth", std::to_string(depth));
  }

  void closePiece() {
    Piece& top = pieces_.back();
    if (top.keeping) {
      writeKept(top);
      if (top.writer == nullptr) {
        pieces_.pop_back();
        w_ = pieces_.empty() ? top_.get() : pieces_.back().writer.get();
        return;
      }
    }
    w_->end();
    Piece p = std::move(pieces_.back());
    pieces_.pop_back();
    w_ = pieces_.empty() ? top_.get() : pieces_.back().writer.get();
    if (failure_) failure_ = options_.pieces(p.id, p.writer->finish());
    if (!failure_) stopped_ = true;
  }

  // The sort keys of the stylesheet as values of an entry: a number (NaN
  // when the entry has none) or a text.
  struct KeyValue {
    bool number = false;
    double value = 0;
    std::string text;
  };
  bool canSortHere() const {
    for (const auto& k : options_.fileItemsSort) {
      if (k.select != "file-name" && k.select != "file-name/@key" && k.select != "file-size" &&
          k.select != "modification-date/@datenum" &&
          k.select != "modification-date/@timenum") {
        return false;
      }
    }
    return true;
  }
  std::vector<KeyValue> keyValues(const scan::ListingEntry& e) const {
    std::vector<KeyValue> out;
    std::optional<std::tm> when;
    if (auto t = parseHexTime(e.modified); t && *t) {
      std::tm tm{};
      localtime_r(&*t, &tm);
      when = tm;
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto& k : options_.fileItemsSort) {
      KeyValue v;
      v.number = k.number;
      std::string text;
      bool present = true;
      if (k.select == "file-name") {
        text = xmlSafe(e.name);
      } else if (k.select == "file-name/@key") {
        text = options_.collationKey ? options_.collationKey(e.name) : std::string();
      } else if (k.select == "file-size") {
        present = !e.folder;
        text = std::to_string(e.size);
      } else if (k.select == "modification-date/@datenum") {
        present = when.has_value();
        if (when) text = std::to_string(dateNumber(when->tm_year + 1900, when->tm_mon + 1, when->tm_mday));
      } else {
        present = when.has_value();
        if (when) text = std::to_string(timeNumber(when->tm_hour, when->tm_min, when->tm_sec));
      }
      if (v.number) {
        v.value = present ? std::strtod(text.c_str(), nullptr) : nan;
      } else {
        v.text = present ? text : std::string();
      }
      out.push_back(std::move(v));
    }
    return out;
  }

  // The kept entries of a folder that ends. A folder that fits a piece is
  // written as any other (the stylesheet sorts it); a larger one is sorted
  // here as the stylesheet would sort it (numbers before NaN... as XSLT
  // does: NaN first; texts by their bytes; ties in listing order) and
  // written in pieces of at most `pieceEntries`, chained by "next".
  void writeKept(Piece& p) {
    std::vector<Kept> kept = std::move(p.kept);
    if (kept.size() <= options_.pieceEntries || !canSortHere()) {
      for (Kept& k : kept) writeEntry(k.entry, k.piece);
      return;
    }
    std::vector<size_t> order(kept.size());
    std::vector<std::vector<KeyValue>> keys(kept.size());
    for (size_t i = 0; i < kept.size(); ++i) {
      order[i] = i;
      keys[i] = keyValues(kept[i].entry);
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      for (size_t k = 0; k < keys[a].size(); ++k) {
        const KeyValue& x = keys[a][k];
        const KeyValue& y = keys[b][k];
        int c = 0;
        if (x.number) {
          bool xn = std::isnan(x.value), yn = std::isnan(y.value);
          c = xn && yn ? 0 : xn ? -1 : yn ? 1 : x.value < y.value ? -1 : x.value > y.value ? 1 : 0;
        } else {
          c = x.text.compare(y.text);
        }
        if (c != 0) return c < 0;
      }
      return false;
    });
    // The folder's piece holds the first entries; the others go into new
    // pieces, each named by the one before it. The document begun for it is
    // ended before it is dropped: a document dropped half made has the
    // parser behind it complain on standard error.
    p.writer->end();
    p.writer->finish();
    p.writer.reset();
    size_t chunks = (kept.size() + options_.pieceEntries - 1) / options_.pieceEntries;
    std::vector<int> ids{p.id};
    for (size_t c = 1; c < chunks; ++c) ids.push_back(newPiece());
    for (size_t c = 0; c < chunks && failure_; ++c) {
      Writer chunk;
      w_ = &chunk;
      w_->document();
      w_->start("report");
      w_->attribute("piece", std::to_string(ids[c]));
      w_->attribute("depth", std::to_string(p.depth));
      w_->attribute("sorted", "1");
      if (c + 1 < chunks) w_->attribute("next", std::to_string(ids[c + 1]));
      size_t from = c * options_.pieceEntries, to = std::min(kept.size(), from + options_.pieceEntries);
      for (size_t i = from; i < to; ++i) writeEntry(kept[order[i]].entry, kept[order[i]].piece);
      w_->end();
      failure_ = options_.pieces(ids[c], chunk.finish());
    }
    if (!failure_) stopped_ = true;
  }

  // One file, or a folder whose entries went into a piece of their own.
  void writeEntry(const scan::ListingEntry& entry, int piece) {
    startFileItem(entry, piece, false);
    w_->end();
  }

  catalog::Library& library_;
  catalog::CatalogDocument& doc_;
  const ReportDataOptions& options_;
  std::unique_ptr<Writer> top_;
  Writer* w_;  // where elements go now: the top document or the innermost piece
  std::vector<Piece> pieces_;
  std::vector<bool> divertedFolders_;  // per open folder: its entries went into a piece of their own
  // Top pieces of items are even, the others odd.
  int nextRoot_ = 2, nextPiece_ = 1;
  int newPiece() {
    int id = nextPiece_;
    nextPiece_ += 2;
    return id;
  }
  Status failure_;
  long long files_ = 0;
  bool stopped_ = false;
  bool cut_ = false;        // the entry limit was reached
  long long entries_ = 0;  // files and folders written
};

}  // namespace

long long dateNumber(int year, int month, int day) {
  return (static_cast<long long>(month) + static_cast<long long>(year) * 12) * 31 + day;
}

long long timeNumber(int hour, int minute, int second) { return (hour * 60LL + minute) * 60 + second; }

Result<xml::Doc> buildReportData(catalog::Library& library, const std::vector<xmlNode*>& selection,
                                 const ReportDataOptions& options) {
  DataWriter writer(library, options);
  if (Status st = writer.write(selection); !st) return st.error();
  return writer.document();
}

Result<xml::Doc> buildReportSkeleton(catalog::Library& library, const std::vector<xmlNode*>& selection,
                                     const ReportDataOptions& options) {
  ReportDataOptions alone = options;
  alone.skeleton = true;
  alone.pieces = [](int, xml::Doc) { return Status(); };
  alone.progress = nullptr;
  return buildReportData(library, selection, alone);
}

Status writeReportData(catalog::Library& library, const std::vector<xmlNode*>& selection,
                       const ReportDataOptions& options, const std::function<Status(std::string_view)>& out) {
  ReportDataOptions streamed = options;
  streamed.covers = false;
  streamed.pieces = nullptr;
  DataWriter writer(library, streamed, out);
  Status st = writer.write(selection);
  Status written = writer.finishText();
  return st ? written : st;
}

bool coverStreamOf(const std::string& text, std::string& stream) {
  // An HTML writer escapes the bars of a link ("%7C").
  std::string reference;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 3, "%7C") == 0 || text.compare(i, 3, "%7c") == 0) {
      reference += '|';
      i += 2;
    } else {
      reference += text[i];
    }
  }
  size_t at = reference.find("stream=|");
  if (reference.rfind("tamber://", 0) != 0 || at == std::string::npos) return false;
  size_t end = reference.find('|', at + 8);
  if (end == std::string::npos) return false;
  stream = reference.substr(at + 8, end - at - 8);
  return !stream.empty();
}

}  // namespace tamber::report
