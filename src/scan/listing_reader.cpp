#include "scan/listing_reader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include <libxml/parser.h>

#include "platform/text.h"
#include "platform/xml.h"
#include "scan/listing.h"
#include "scan/listing_scanner.h"

namespace tamber::scan {

namespace {

constexpr int kMaxDepth = 4096;
// How much of a listing is read at a time.
constexpr size_t kPiece = size_t{256} << 10;

Error damaged(const std::string& why) { return Error{Errc::corrupt, "the listing is damaged: " + why}; }

struct Walker {
  const ListingOpener& open;
  const ListingVisitor& visit;
  std::set<int> seen;
  int parts = 0;
  bool stopped = false;

  Status walk(int part, int baseDepth);
};

// One entry being read: its fields come before its children.
struct Frame {
  ListingEntry entry;
  size_t depth = 0;  // the scanner's depth of its element
  bool emitted = false;
  bool descend = false;
};

Status Walker::walk(int part, int baseDepth) {
  auto source = open(part);
  if (!source) {
    if (part == 0) return Error{Errc::not_found, "the item has no listing"};
    return damaged("part " + std::to_string(part) + " is missing");
  }
  // The listing is our own format: it never holds a DTD or an entity, and
  // nothing in it is ever expanded (the scanner takes either as damage).
  // It is read in pieces, so memory follows the piece, not the listing.
  ListingScanner s;
  std::string piece(kPiece, '\0');
  // Depths are the scanner's: the root is 1, the top level's entries 2.
  std::vector<Frame> stack;
  bool sawRoot = false;
  size_t passOver = 0;   // inside an element passed over, opened at this depth
  size_t gatherAt = 0;   // inside a field that holds elements, opened at this depth
  std::string gatherName, gathered;
  auto emit = [&](Frame& f) {
    f.emitted = true;
    int depth = baseDepth + static_cast<int>(stack.size()) - 1;
    f.descend = visit.entry(f.entry, depth) && f.entry.folder;
    if (visit.stop && visit.stop()) stopped = true;
  };
  auto finish = [&]() -> Status {
    Frame& f = stack.back();
    if (!f.emitted) emit(f);
    if (f.descend && !stopped) {
      int depth = baseDepth + static_cast<int>(stack.size()) - 1;
      if (f.entry.part > 0) {
        if (f.entry.part > 0xFFFF || !seen.insert(f.entry.part).second) {
          return damaged("part " + std::to_string(f.entry.part) + " is named twice");
        }
        if (Status st = walk(f.entry.part, depth + 1); !st) return st;
      }
      // A walk stopped inside the part leaves this folder open, as it
      // leaves every folder it was in.
      if (visit.leave && !stopped) visit.leave(f.entry, depth);
    }
    stack.pop_back();
    return {};
  };
  // A field of the entry being read.
  auto field = [&](std::string_view name, std::string value) -> Status {
    ListingEntry& e = stack.back().entry;
    if (name == "c") {
      e.name = std::move(value);
    } else if (name == "d") {
      e.modified = std::move(value);
    } else if (name == "e6") {
      e.created = std::move(value);
    } else if (!e.folder && name == "e") {
      e.size = std::strtoull(value.c_str(), nullptr, 10);
    } else if (e.folder && name == "d7") {
      e.part = std::atoi(value.c_str());
    } else if (name == kContentHashCode || name == kHashProblemCode) {
      // What verify and the duplicate search trust: a damaged hash is
      // named, never passed on as another file's.
      if (e.field(name)) return damaged("the content hash of \"" + e.name + "\" is given twice");
      if (name == kContentHashCode) {
        bool hex = value.size() == 32;
        for (char& ch : value) {
          if (ch >= 'A' && ch <= 'F') ch = static_cast<char>(ch - 'A' + 'a');
          hex = hex && ((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f'));
        }
        if (!hex) return damaged("the content hash of \"" + e.name + "\" is not 32 hexadecimal digits");
      }
      e.fields.emplace_back(name, std::move(value));
    } else {
      e.fields.emplace_back(name, std::move(value));
    }
    return {};
  };
  // An entry starts where it stands among its folder's entries (an entry
  // anywhere else is passed over); false when its folder is not gone into.
  auto startEntry = [&](std::string_view name, size_t depth) -> Result<bool> {
    if (!stack.empty()) {
      Frame& parent = stack.back();
      if (!parent.emitted) emit(parent);
      if (!parent.descend || stopped) return false;
    }
    if (baseDepth + static_cast<int>(stack.size()) >= kMaxDepth) return damaged("folders nest too deep");
    Frame f;
    f.entry.folder = name == "a";
    f.depth = depth;
    stack.push_back(std::move(f));
    return true;
  };
  auto isEntry = [](std::string_view name) { return name == "a" || name == "b"; };
  // Whether an element at `depth` is a child of the entry being read (or of
  // the root, at the top).
  auto childOfTop = [&](size_t depth) { return depth == (stack.empty() ? 2 : stack.back().depth + 1); };
  while (!stopped) {
    auto ev = s.next();
    if (ev == ListingScanner::Event::more) {
      int n = (*source)(piece.data(), static_cast<int>(piece.size()));
      if (n < 0) return Error{Errc::io, "cannot read the listing"};
      s.feed(std::string_view(piece.data(), static_cast<size_t>(n)), n == 0);
      continue;
    }
    if (ev == ListingScanner::Event::error) return damaged(s.error());
    if (ev == ListingScanner::Event::end) break;
    size_t depth = s.depth();
    if (passOver) {
      if (ev == ListingScanner::Event::close && depth < passOver) passOver = 0;
      continue;
    }
    if (gatherAt) {
      // Such a field's value is the text of the elements it holds.
      if (ev == ListingScanner::Event::text) gathered += s.text();
      if (ev == ListingScanner::Event::close && depth < gatherAt) {
        gatherAt = 0;
        if (Status st = field(gatherName, std::move(gathered)); !st) return st;
        gathered.clear();
      }
      continue;
    }
    std::string_view name = s.name();
    if (ev == ListingScanner::Event::open) {
      if (depth == 1) {
        if (name != "a1") return damaged("its root element is not a1");
        sawRoot = true;
        std::string kind;
        if (part == 0 && visit.root) visit.root(s.attribute("i", kind) ? std::atoi(kind.c_str()) : 0);
        continue;
      }
      if (isEntry(name) && childOfTop(depth) && (stack.empty() || stack.back().entry.folder)) {
        auto started = startEntry(name, depth);
        if (!started) return started.error();
        if (!*started) passOver = depth;
      } else if (!stack.empty() && childOfTop(depth) && !stack.back().emitted) {
        gatherAt = depth;
        gatherName = name;
      } else {
        // Anything else (the part index, fields after the children).
        passOver = depth;
      }
    } else if (ev == ListingScanner::Event::text) {
      // A leaf element; an empty entry ("<b/>") comes as one too.
      if (isEntry(name) && childOfTop(depth + 1) && (stack.empty() || stack.back().entry.folder)) {
        auto started = startEntry(name, depth + 1);
        if (!started) return started.error();
        if (*started) {
          if (Status st = finish(); !st) return st;
        }
      } else if (!stack.empty() && childOfTop(depth + 1) && !stack.back().emitted) {
        if (Status st = field(name, s.text()); !st) return st;
      }
    } else if (ev == ListingScanner::Event::close) {
      if (!stack.empty() && depth + 1 == stack.back().depth) {
        if (Status st = finish(); !st) return st;
      }
    }
  }
  if (stopped) return {};
  if (!sawRoot) return damaged("its root element is not a1");
  if (part > 0) ++parts;
  return {};
}

}  // namespace

Status walkFiles(const ListingOpener& open, const FileTaker& take, const std::function<bool()>& stop) {
  std::vector<std::string> stack;  // the folders down to the entries read
  std::string folder;
  bool changed = true;
  auto moved = [&] {
    changed = true;
    folder.clear();
    for (const auto& f : stack) folder += f + "/";
  };
  ListingVisitor v;
  v.entry = [&](ListingEntry& e, int depth) {
    if (static_cast<size_t>(depth) != stack.size()) {
      stack.resize(static_cast<size_t>(depth));
      moved();
    }
    if (e.folder) {
      stack.push_back(e.name);
      moved();
      return true;
    }
    take(e, folder, changed);
    changed = false;
    return false;
  };
  v.leave = [&](const ListingEntry&, int depth) {
    stack.resize(static_cast<size_t>(depth));
    moved();
  };
  v.stop = stop;
  return walkListing(open, v);
}

Status walkListing(const ListingOpener& open, const ListingVisitor& visitor, int* partsRead) {
  Walker w{open, visitor, {}, 0, false};
  Status st = w.walk(0, 0);
  if (partsRead) *partsRead = w.parts;
  return st;
}

ListingOpener memoryListing(std::string_view text, const PartLoader& loadPart) {
  // Each opened text stays alive with its reader.
  return [text, &loadPart](int part) -> std::optional<ChunkReader> {
    auto owned = std::make_shared<std::string>();
    std::string_view view = text;
    if (part > 0) {
      auto t = loadPart(part);
      if (!t) return std::nullopt;
      *owned = std::move(*t);
      view = *owned;
    }
    auto pos = std::make_shared<size_t>(0);
    return ChunkReader([owned, view, pos](char* buf, int len) -> int {
      size_t n = std::min(static_cast<size_t>(len), view.size() - *pos);
      std::memcpy(buf, view.data() + *pos, n);
      *pos += n;
      return static_cast<int>(n);
    });
  };
}

ListingOpener streamListing(storage::Storage library, const catalog::ItemPath& category,
                            uint16_t number) {
  return [library, category, number](int part) mutable -> std::optional<ChunkReader> {
    auto name = part == 0 ? catalog::streamName(catalog::StreamKind::listing, category, number)
                          : catalog::streamName(catalog::StreamKind::listing, category, number, part);
    auto s = library.openStream(name);
    if (!s) return std::nullopt;
    auto stream = std::make_shared<storage::Stream>(std::move(*s));
    return ChunkReader([stream](char* buf, int len) -> int {
      auto n = stream->read(buf, static_cast<size_t>(len));
      return n ? static_cast<int>(*n) : -1;
    });
  };
}

const std::string* ListingEntry::field(std::string_view code) const {
  for (const auto& [k, v] : fields) {
    if (k == code) return &v;
  }
  return nullptr;
}

namespace {

// Builds the whole tree: for tests, the fuzz target and small listings.
Result<Listing> buildListing(const ListingOpener& open) {
  Listing listing;
  std::vector<std::vector<ListingEntry>*> levels{&listing.entries};
  ListingVisitor v;
  v.root = [&](int kind) { listing.kind = kind; };
  v.entry = [&](ListingEntry& e, int depth) {
    levels.resize(static_cast<size_t>(depth) + 1);
    levels[static_cast<size_t>(depth)]->push_back(std::move(e));
    ListingEntry& stored = levels[static_cast<size_t>(depth)]->back();
    levels.push_back(&stored.children);
    return true;
  };
  int parts = 0;
  if (Status st = walkListing(open, v, &parts); !st) return st.error();
  listing.parts = parts;
  return listing;
}

}  // namespace

Result<Listing> parseListing(std::string_view text, const PartLoader& loadPart) {
  return buildListing(memoryListing(text, loadPart));
}

Result<std::string> fileRecord(storage::Storage library, const catalog::ItemPath& category,
                               uint16_t number, const std::vector<std::string>& steps,
                               const char* code, catalog::StreamKind kind) {
  // Only the folders on the way to the file are read.
  auto c = collectBelow(library, category, number, steps, 1);
  if (!c) return c.error();
  if (!c->found || steps.empty()) return Error{Errc::not_found, "no such file"};
  if (!c->file) return Error{Errc::invalid_argument, "it is a folder"};
  const ListingEntry& entry = c->top.children.front();
  const std::string* v = entry.field(code);
  char* end = nullptr;
  unsigned long long offset = v && !v->empty() && v->size() <= 16 ? std::strtoull(v->c_str(), &end, 16) : 0;
  if (!end || *end != '\0') return Error{Errc::unsupported, "the file has no such record"};
  return readRecord(library, catalog::streamName(kind, category, number), offset);
}

std::optional<StoredArchive> parseStoredArchive(std::string_view description) {
  xml::Doc doc(xmlReadMemory(description.data(), static_cast<int>(description.size()), nullptr, "UTF-8",
                             XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  xmlNode* root = doc && !doc->intSubset ? xmlDocGetRootElement(doc.get()) : nullptr;
  if (!root) return std::nullopt;
  auto prop = [](xmlNode* e, const char* name) {
    xml::String v(xmlGetProp(e, xml::u(name)));
    return v ? std::string(xml::c(v.get())) : std::string();
  };
  StoredArchive a;
  a.partial = prop(root, "partial");
  for (xmlNode* e = root->children; e; e = e->next) {
    if (e->type != XML_ELEMENT_NODE) continue;
    std::string tag = xml::c(e->name);
    if (tag == "path") a.path = xml::content(e);
    if (tag == "comment") {
      // Line breaks as they were written on any system ("\r\n", "\r")
      // become one "\n".
      std::string text = xml::content(e);
      a.comment.clear();
      for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
          a.comment += '\n';
          if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
          a.comment += text[i];
        }
      }
    }
    if (tag != "file" && tag != "folder") continue;
    a.members.push_back({prop(e, "name"), tag == "folder", prop(e, "size"), prop(e, "packed"),
                         prop(e, "modified"), prop(e, "attributes")});
  }
  return a;
}

Result<Collected> collectBelow(storage::Storage library, const catalog::ItemPath& category,
                               uint16_t number, const std::vector<std::string>& steps, int levels,
                               const std::function<bool(ListingEntry&, int)>& stream) {
  return collectBelow(streamListing(std::move(library), category, number), steps, levels, stream);
}

ListingOpener layoutListing(const storage::CompoundFile& file, std::map<int, storage::StreamLayout> layouts) {
  auto parts = std::make_shared<const std::map<int, storage::StreamLayout>>(std::move(layouts));
  return [&file, parts](int part) -> std::optional<ChunkReader> {
    auto it = parts->find(part);
    if (it == parts->end()) return std::nullopt;
    const storage::StreamLayout* layout = &it->second;
    // Where the reader stands: the bytes read, the run, the place in it.
    auto at = std::make_shared<std::array<uint64_t, 3>>();
    return ChunkReader([&file, parts, layout, at](char* buf, int len) -> int {
      uint64_t& done = (*at)[0];
      uint64_t& run = (*at)[1];
      uint64_t& inRun = (*at)[2];
      if (len <= 0 || done >= layout->size) return 0;
      size_t want = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(len), layout->size - done));
      if (layout->small) {
        if (done + want > layout->bytes.size()) return -1;
        std::memcpy(buf, layout->bytes.data() + done, want);
        done += want;
        return static_cast<int>(want);
      }
      if (run >= layout->runs.size()) return -1;
      const auto& r = layout->runs[run];
      size_t take = static_cast<size_t>(std::min<uint64_t>(want, r.length - inRun));
      if (!file.readAt(r.offset + inRun, buf, take)) return -1;
      done += take;
      inRun += take;
      if (inRun == r.length) {
        ++run;
        inRun = 0;
      }
      return static_cast<int>(take);
    });
  };
}

Result<Collected> collectBelow(const ListingOpener& opener, const std::vector<std::string>& steps, int levels,
                               const std::function<bool(ListingEntry&, int)>& stream,
                               const std::function<bool()>& stop) {
  Collected c;
  c.found = steps.empty();
  c.top.folder = true;
  const int base = static_cast<int>(steps.size());
  bool done = false;
  std::vector<ListingEntry*> open{&c.top};
  ListingVisitor v;
  v.entry = [&](ListingEntry& e, int depth) {
    if (depth < base) {
      if (e.name != steps[static_cast<size_t>(depth)]) return false;
      if (depth + 1 < base) return e.folder;
      c.found = true;
      if (e.folder) return true;  // its entries are the listing
      c.file = true;
      done = true;
      if (stream) return stream(e, 0), false;
      c.top.children.push_back(std::move(e));
      return false;
    }
    int level = depth - base;
    bool deeper = e.folder && level + 1 < levels;
    if (stream) return stream(e, level) && deeper;
    open.resize(static_cast<size_t>(level) + 1);
    auto& siblings = open.back()->children;
    siblings.push_back(std::move(e));
    if (deeper) open.push_back(&siblings.back());
    return deeper;
  };
  v.leave = [&](const ListingEntry&, int depth) {
    if (depth < base) done = true;  // the listed folder is complete
  };
  v.stop = [&] { return done || (stop && stop()); };
  if (Status st = walkListing(opener, v); !st) return st.error();
  return c;
}

Result<Listing> readListing(storage::Storage library, const catalog::ItemPath& category,
                            uint16_t number) {
  std::string mainName = catalog::streamName(catalog::StreamKind::listing, category, number);
  if (!library.contains(mainName)) {
    return Error{Errc::not_found, "the item has no listing (" + mainName + ")"};
  }
  return buildListing(streamListing(library, category, number));
}

const ListingEntry* findEntry(const Listing& listing, std::string_view path, bool& found) {
  const std::vector<ListingEntry>* level = &listing.entries;
  const ListingEntry* at = nullptr;
  found = true;
  for (std::string_view step : splitNonEmpty(path, '/')) {
    if (at && !at->folder) {
      found = false;
      return nullptr;
    }
    const ListingEntry* next = nullptr;
    for (const auto& e : *level) {
      if (e.name == step) {
        next = &e;
        break;
      }
    }
    if (!next) {
      found = false;
      return nullptr;
    }
    at = next;
    level = &next->children;
  }
  return at;
}

Result<std::string> readRecord(storage::Stream& s, const std::string& streamName, uint64_t offset) {
  uint64_t size = s.size();
  if (offset > size || size - offset < 4) {
    return Error{Errc::corrupt, "the record at " + std::to_string(offset) + " lies past the end of " +
                                    streamName};
  }
  if (auto r = s.seek(static_cast<int64_t>(offset)); !r) return r.error();
  uint8_t len[4];
  auto n = s.read(len, 4);
  if (!n || *n != 4) return Error{Errc::corrupt, "cannot read the record's length"};
  uint64_t length = len[0] | (len[1] << 8) | (len[2] << 16) | (uint64_t{len[3]} << 24);
  if (length > size - offset - 4) {
    return Error{Errc::corrupt, "the record at " + std::to_string(offset) + " of " + streamName +
                                    " is longer than the stream"};
  }
  std::string bytes(length, '\0');
  auto got = s.read(bytes.data(), bytes.size());
  if (!got || *got != length) return Error{Errc::corrupt, "cannot read the record"};
  return bytes;
}

namespace {

// `n` bytes at `pos` of a stream laid out in `layout`, read from the file.
bool readLaidOut(const storage::CompoundFile& file, const storage::StreamLayout& layout, uint64_t pos, char* out,
                 size_t n) {
  if (pos > layout.size || layout.size - pos < n) return false;
  if (layout.small) {
    if (pos + n > layout.bytes.size()) return false;
    std::memcpy(out, layout.bytes.data() + pos, n);
    return true;
  }
  uint64_t start = 0;
  for (const auto& run : layout.runs) {
    if (n == 0) break;
    if (pos < start + run.length) {
      uint64_t in = pos - start;
      size_t take = static_cast<size_t>(std::min<uint64_t>(n, run.length - in));
      if (!file.readAt(run.offset + in, out, take)) return false;
      out += take;
      n -= take;
      pos += take;
    }
    start += run.length;
  }
  return n == 0;
}

}  // namespace

Result<std::string> readRecord(const storage::CompoundFile& file, const storage::StreamLayout& layout,
                               uint64_t offset) {
  uint8_t len[4];
  if (!readLaidOut(file, layout, offset, reinterpret_cast<char*>(len), 4)) {
    return Error{Errc::corrupt, "the record at " + std::to_string(offset) + " lies past the end of its stream"};
  }
  uint64_t length = len[0] | (len[1] << 8) | (len[2] << 16) | (uint64_t{len[3]} << 24);
  if (length > layout.size - offset - 4) {
    return Error{Errc::corrupt, "the record at " + std::to_string(offset) + " is longer than its stream"};
  }
  std::string bytes(length, '\0');
  if (!readLaidOut(file, layout, offset + 4, bytes.data(), bytes.size())) {
    return Error{Errc::corrupt, "cannot read the record"};
  }
  return bytes;
}

Result<std::string> readRecord(storage::Storage library, const std::string& streamName,
                               uint64_t offset) {
  auto s = library.openStream(streamName);
  if (!s) return Error{Errc::not_found, "the item has no " + streamName + " stream"};
  return readRecord(*s, streamName, offset);
}

std::string fieldDisplayName(std::string_view code) {
  static const std::map<std::string_view, const char*> names{
      {"m", "version"},          {"n", "mode"},
      {"o", "bitrate"},          {"p", "frequency"},
      {"q", "duration"},         {"r", "title"},
      {"s", "artist"},           {"t", "album"},
      {"u", "genre"},            {"v", "comment"},
      {"b0", "ogg-vendor"},      {"w", "year"},
      {"a8", "track-number"},    {"x", "lyrics"},
      {"e4", "compression"},     {"e5", "other-tags"},
      {"a2", "taken-date"},      {"a3", "digicam"},
      {"a4", "digicam-model"},   {"a5", "exposure-time"},
      {"a6", "F-number"},        {"a7", "Exposure-program"},
      {"y", "thumbnail"},        {"z", "dimension"},
      {"h", "color-depth"},      {"c2", "doc-type"},
      {"b1", "company-name"},    {"b2", "description"},
      {"b3", "file-version"},    {"b4", "languages"},
      {"b5", "internal-name"},   {"b6", "legal-copyright"},
      {"b7", "legal-trademarks"}, {"b8", "original-name"},
      {"b9", "product-name"},    {"c0", "product-version"},
      {"c1", "special-build"},   {"c3", "doc-subject"},
      {"c4", "doc-author"},      {"c5", "keywords"},
      {"c6", "template"},        {"c7", "last-author"},
      {"c8", "appname"},         {"c9", "revision-number"},
      {"d0", "page-count"},      {"d1", "edit-time"},
      {"d2", "last-print-date"}, {"d3", "creat-date"},
      {"d4", "last-saved-date"}, {"d5", "creator"},
      {"d6", "producer"},        {"a9", "archive"},
      {"x1", "content-hash"},    {"x2", "hash-problem"},
      {"x3", "container"},       {"x4", "video-codec"},
      {"x5", "frame-rate"},      {"x6", "audio-tracks"},
      {"x7", "subtitles"},       {"x8", "date"},
      {"x9", "dvd-titles"}};
  auto it = names.find(code);
  return it == names.end() ? std::string(code) : it->second;
}

}  // namespace tamber::scan
