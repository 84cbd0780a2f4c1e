// tamber ls | du
//
// ls lists a category (its sub-categories, discs and folders) or the
// recorded files of a disc or folder; du sums sizes and file counts per
// folder, per item of a category, or for the whole library. Both take one
// path: category names, then the label, then the folders inside the item,
// joined by "/".

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <functional>
#include <optional>
#include <set>
#include <cstdio>
#include <iostream>

#include "browse.h"
#include "common.h"
#include "disc/track.h"
#include "platform/json.h"
#include "platform/hex_time.h"
#include "platform/text.h"
#include "scan/listing_reader.h"
#include "app/setting_keys.h"
#include "app/shared_catalogue.h"
#include "app/presentation.h"

namespace tamber::cli {

namespace {

using scan::ListingEntry;

// Natural order without case: "file2" before "file10", "a" beside "A".
bool naturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      size_t i0 = i, j0 = j;
      while (i0 < a.size() && a[i0] == '0') ++i0;
      while (j0 < b.size() && b[j0] == '0') ++j0;
      size_t i1 = i0, j1 = j0;
      while (i1 < a.size() && digit(a[i1])) ++i1;
      while (j1 < b.size() && digit(b[j1])) ++j1;
      if (i1 - i0 != j1 - j0) return i1 - i0 < j1 - j0;
      int c = a.compare(i0, i1 - i0, b, j0, j1 - j0);
      if (c != 0) return c < 0;
      i = i1;
      j = j1;
      continue;
    }
    char x = lower(a[i]), y = lower(b[j]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    ++i;
    ++j;
  }
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  return a < b;  // only letter case differs: a stable, total order
}

std::time_t entryTime(const ListingEntry& e) {
  auto t = parseHexTime(e.modified);
  return t ? *t : 0;
}

bool isTrack(const ListingEntry& e) {
  const std::string* type = e.field("f");
  return !e.folder && disc::isAudioTrackItem(e.name, type ? *type : std::string());
}

void sortEntries(std::vector<ListingEntry>& entries, Sort sort, bool reverse) {
  if (sort == Sort::none) return;
  std::stable_sort(entries.begin(), entries.end(), [&](const ListingEntry& a, const ListingEntry& b) {
    // An audio disc's tracks come first and stay in disc order by name.
    bool trackA = isTrack(a), trackB = isTrack(b);
    if (trackA != trackB) return trackA;
    if (trackA && sort == Sort::name) return false;
    if (a.folder != b.folder) return a.folder;  // folders first, in either direction
    bool less;
    if (sort == Sort::size && a.size != b.size) {
      less = a.size > b.size;  // largest first, as ls -S
    } else if (sort == Sort::time && entryTime(a) != entryTime(b)) {
      less = entryTime(a) > entryTime(b);  // newest first, as ls -t
    } else {
      less = naturalLess(a.name, b.name);
      if (!less && !naturalLess(b.name, a.name)) return false;
    }
    return reverse ? !less : less;
  });
  for (auto& e : entries) sortEntries(e.children, sort, reverse);
}

struct ListOptions {
  int levels = 1;  // levels below the listed folder; INT_MAX: all
  Sort sort = Sort::name;
  bool reverse = false, longForm = false, human = false, json = false;
};

// One entry as JSON; a folder's children follow when they were read, that
// is when `levelsBelow` levels under it were listed. A folder whose contents
// were not listed has no "children", so that it does not pass for empty.
void entryJson(const ListingEntry& e, std::string& out, int levelsBelow) {
  const char* type = e.folder ? "\"folder\"" : e.field("l9") ? "\"link\"" : "\"file\"";
  out += "{\"name\":" + jsonString(e.name) + ",\"type\":" + type;
  out += ",\"size\":" + (e.folder ? std::string("null") : std::to_string(e.size));
  // An audio track's "size" is its length in frames.
  if (isTrack(e)) out += ",\"trackLength\":" + jsonString(disc::trackLengthText(e.size));
  out += ",\"modified\":" + isoTimeJson(e.modified) + ",\"created\":" + isoTimeJson(e.created);
  if (!e.folder) out += ",\"properties\":" + propertiesJson(e.fields);
  if (e.folder && levelsBelow > 0) {
    out += ",\"children\":[";
    for (size_t i = 0; i < e.children.size(); ++i) {
      if (i) out += ",";
      entryJson(e.children[i], out, levelsBelow - 1);
    }
    out += "]";
  }
  out += "}";
}

void entryText(const ListingEntry& e, const ListOptions& o, int level, std::string& out) {
  std::string indent(static_cast<size_t>(level) * 2, ' ');
  if (o.longForm) {
    char head[64];
    std::snprintf(head, sizeof head, "%10s  %19s  ",
                  e.folder    ? "-"
                  : isTrack(e) ? disc::trackLengthText(e.size).c_str()
                              : sizeText(e.size, o.human).c_str(),
                  localTimeText(e.modified).c_str());
    out += head;
  }
  const std::string* target = e.field("l9");
  out += indent + escapeForTerminal(e.name) + (e.folder ? "/" : "") +
         (target && o.longForm ? " -> " + escapeForTerminal(*target) : "") + "\n";
  if (o.longForm && !e.folder) {
    for (const auto& [key, value] : propertiesText(e.fields)) {
      if (target && key == "linkTarget") continue;  // said on the name's line
      out += std::string(35, ' ') + indent + "  " + key + ": " + escapeForTerminal(value) + "\n";
    }
  }
  for (const auto& c : e.children) entryText(c, o, level + 1, out);
}

// Entries sorted by `sort` and printed as ls prints them (text or JSON).
void printSorted(std::vector<ListingEntry>& entries, const ListOptions& o, Sort sort) {
  sortEntries(entries, sort, o.reverse);
  std::string out;
  if (o.json) {
    out = "[";
    for (size_t i = 0; i < entries.size(); ++i) {
      if (i) out += ",";
      entryJson(entries[i], out, o.levels - 1);
    }
    out += "]\n";
  } else {
    for (const auto& e : entries) entryText(e, o, 0, out);
  }
  std::cout << out;
}

Result<scan::Collected> collect(App& app, const Target& t, const std::vector<std::string>& steps,
                                int levels, const std::function<bool(ListingEntry&, int)>& stream = {}) {
  return scan::collectBelow(app.library()->file().root(), t.category, t.number, steps, levels, stream);
}

// The members of an archive file as entries, when a prefix of `steps` names
// an archive with a stored listing: the path after it names a folder (or a
// member) inside. Folders that the listing only implies are made up.
// Nothing when no prefix is such an archive.
struct ArchiveView {
  scan::Collected collected;
  std::string partial;
};
std::optional<ArchiveView> archiveMembers(App& app, const Target& t, const std::vector<std::string>& steps,
                                          int levels) {
  for (size_t k = steps.size(); k >= 1; --k) {
    std::vector<std::string> file(steps.begin(), steps.begin() + static_cast<long>(k));
    auto bytes = scan::fileRecord(app.library()->file().root(), t.category, t.number, file, "a9",
                                  catalog::StreamKind::archives);
    if (!bytes) continue;
    auto archive = scan::parseStoredArchive(*bytes);
    if (!archive) continue;
    std::vector<std::string> inner(steps.begin() + static_cast<long>(k), steps.end());
    ArchiveView view;
    view.partial = archive->partial;
    scan::Collected& c = view.collected;
    c.found = inner.empty();
    for (const auto& m : archive->members) {
      std::vector<std::string> parts;
      for (auto piece : splitNonEmpty(m.name, '/')) parts.emplace_back(piece);
      if (parts.size() < inner.size() || !std::equal(inner.begin(), inner.end(), parts.begin())) continue;
      c.found = true;
      auto asEntry = [&](ListingEntry& e) {
        e.folder = m.folder;
        e.size = std::strtoull(m.size.c_str(), nullptr, 10);
        e.modified = m.modified;
      };
      if (parts.size() == inner.size()) {
        if (!m.folder) {
          // The path names a member: it alone.
          c.file = true;
          c.top.children.clear();
          ListingEntry e;
          e.name = parts.back();
          asEntry(e);
          c.top.children.push_back(std::move(e));
          return view;
        }
        continue;
      }
      ListingEntry* at = &c.top;
      for (size_t i = inner.size(); i < parts.size(); ++i) {
        int level = static_cast<int>(i - inner.size());
        if (level >= levels) break;
        bool last = i + 1 == parts.size();
        auto it = std::find_if(at->children.begin(), at->children.end(),
                               [&](const ListingEntry& e) { return e.name == parts[i]; });
        if (it == at->children.end()) {
          ListingEntry e;
          e.name = parts[i];
          e.folder = true;
          if (last) asEntry(e);
          at->children.push_back(std::move(e));
          it = std::prev(at->children.end());
        } else if (last && m.folder) {
          asEntry(*it);
        }
        at = &*it;
      }
    }
    if (!c.found) return std::nullopt;
    return view;
  }
  return std::nullopt;
}

// The sub-categories, discs and folders of a category (or of the library).
struct CatalogRow {
  std::string name;
  bool category = false;
  long long number = 0;
  int kind = -1;
  long long files = 0, folders = 0, capacityMB = 0;
};

std::vector<CatalogRow> catalogRows(CatalogDocument& doc, xmlNode* node) {
  std::vector<CatalogRow> rows;
  for (xmlNode* c = node->children; c; c = c->next) {
    bool cat = CatalogDocument::isCategory(c);
    if (!cat && !CatalogDocument::isItem(c)) continue;
    CatalogRow r;
    r.category = cat;
    r.number = CatalogDocument::rawNumber(c);
    r.name = doc.field(c, cat ? catalog::kCategoryName : catalog::kLabel);
    if (!cat) {
      r.kind = doc.itemKind(c);
      r.files = std::atoll(doc.field(c, catalog::kFiles).c_str());
      r.folders = std::atoll(doc.field(c, catalog::kFolders).c_str());
      r.capacityMB = std::atoll(doc.field(c, catalog::kCapacity).c_str());
    }
    rows.push_back(std::move(r));
  }
  return rows;
}

int listCatalog(App& app, xmlNode* node, const ListOptions& o) {
  auto& doc = app.library()->catalog();
  auto rows = catalogRows(doc, node);
  if (o.sort != Sort::none) {
    std::stable_sort(rows.begin(), rows.end(), [&](const CatalogRow& a, const CatalogRow& b) {
      if (a.category != b.category) return a.category;
      bool less = o.sort == Sort::size && a.capacityMB != b.capacityMB ? a.capacityMB > b.capacityMB
                                                                         : naturalLess(a.name, b.name);
      return o.reverse ? !less : less;
    });
  }
  std::string out;
  if (o.json) {
    out = "[";
    for (size_t i = 0; i < rows.size(); ++i) {
      const auto& r = rows[i];
      out += std::string(i ? "," : "") + "{\"name\":" + jsonString(r.name) + ",\"type\":" +
             (r.category ? "\"category\"" : "\"item\"") + ",\"number\":" + std::to_string(r.number);
      if (!r.category) {
        out += ",\"kind\":" + kindJson(app, r.kind) + ",\"kindCode\":" + std::to_string(r.kind) +
               ",\"files\":" + std::to_string(r.files) + ",\"folders\":" + std::to_string(r.folders) +
               ",\"capacityMB\":" + std::to_string(r.capacityMB);
      }
      out += "}";
    }
    out += "]\n";
  } else {
    for (const auto& r : rows) {
      if (o.longForm) {
        char head[96];
        std::snprintf(head, sizeof head, "#%-6lld %-24s %9s %10s  ", r.number,
                      r.category ? "category" : kindText(app, r.kind).c_str(),
                      r.category ? "" : std::to_string(r.files).c_str(),
                      r.category ? "" : sizeText(static_cast<uint64_t>(r.capacityMB) << 20, o.human).c_str());
        out += head;
      }
      out += escapeForTerminal(r.name) + (r.category ? "/" : "") + "\n";
    }
  }
  std::cout << out;
  return kExitOk;
}

// Sizes and counts below one entry.
struct Usage {
  uint64_t bytes = 0, files = 0, folders = 0;
};

}  // namespace

namespace {

// ls --server: a category, a disc or folder, or a folder inside it, as the
// shared catalogue holds it.
template <class Args>
int listOnServer(const Globals& g, const Args& a, app::Notifier& n) {
  if (a.recursive || a.depth || a.sort != "name" || a.reverse || !a.sub.empty()) {
    n.error("--server lists one level in name order: -R, --depth, --sort, -r and SUBPATH do not go with it");
    return kExitUsage;
  }
  int rc = kExitOk;
  size_t libraries = 0;
  auto server = connectToServer(a.server, n, rc, libraries);
  if (!server) return rc;
  const bool several = libraries > 1 && a.serverLibrary.empty();
  std::string out = g.json ? "[" : "";
  bool first = true, writing = true;
  Status st = server->list(a.path, a.serverLibrary, [&](const app::SharedCatalogue::Row& r) {
    if (g.json) {
      out += std::string(first ? "" : ",") + "{\"library\":" + jsonString(r.library) + ",\"name\":" +
             jsonString(r.name) + ",\"type\":" + jsonString(r.type) + ",\"path\":" + jsonString(r.path) +
             ",\"size\":" + (r.size < 0 || r.type == "item" ? "null" : std::to_string(r.size)) +
             (r.type == "item" ? ",\"files\":" + std::to_string(r.size) : std::string()) + ",\"modified\":" +
             (r.modified.empty() ? "null" : jsonString(r.modified)) + ",\"kind\":" + jsonString(r.kind) +
             ",\"hash\":" + (r.hash.empty() ? "null" : jsonString(r.hash)) + "}";
    } else {
      std::string name = escapeForTerminal(r.name) + (r.folder || r.type == "category" ? "/" : "");
      if (several) name = escapeForTerminal(r.library) + ": " + name;
      if (a.longForm) {
        char line[64];
        std::string size = r.type == "item" ? std::to_string(r.size) + " files"
                           : r.size < 0     ? "-"
                                            : app::sizeText(static_cast<uint64_t>(r.size), a.human);
        std::string when = r.modified.empty() ? "-" : r.modified.substr(0, 10) + " " + r.modified.substr(11, 5);
        std::snprintf(line, sizeof line, "%12s  %-16s  ", size.c_str(), when.c_str());
        out += line;
      }
      out += name + "\n";
    }
    first = false;
    if (out.size() > (1 << 16)) {
      std::cout << out;
      out.clear();
      writing = std::cout.good();
    }
    return writing;
  });
  if (!st) {
    std::cout << (g.json ? "" : out) << std::flush;
    n.error(st.message());
    return kExitFailure;
  }
  if (g.json) out += "]\n";
  std::cout << out << std::flush;
  return writing && std::cout.good() ? kExitOk : kExitFailure;
}

}  // namespace

void registerBrowseCommands(CLI::App& cli, int& status, std::shared_ptr<Globals> g) {
  struct Args {
    std::string path, sub, sort = "name";
    bool recursive = false, reverse = false, longForm = false, human = false;
    std::optional<int> depth;
    std::string server, serverLibrary;
  };
  auto a = std::make_shared<Args>();

  auto* ls = cli.add_subcommand(
      "ls", "List a category, or the recorded files and folders of a disc or folder");
  ls->set_help_flag("--help", "Print this help message and exit");  // -h is --human
  ls->add_option("PATH", a->path,
                 "Categories, the disc or folder, then folders inside it, joined by / "
                 "(default: the top level)");
  ls->add_option("SUBPATH", a->sub, "A folder or file inside the disc or folder (older form)");
  ls->add_flag("-R,--recursive", a->recursive, "List every level below");
  ls->add_option("--depth", a->depth, "Levels to list (1: the folder's own entries)")
      ->check(CLI::Range(1, INT_MAX));
  ls->add_option("--sort", a->sort, "Order: name (default, folders first), size, time, none")
      ->check(CLI::IsMember({"name", "size", "time", "none"}));
  ls->add_flag("-r,--reverse", a->reverse, "Reverse the order");
  ls->add_flag("-l,--long", a->longForm, "Sizes, dates and the recorded properties");
  ls->add_flag("-h,--human", a->human, "Sizes as 1.5K, 23M, 4.0G");
  ls->add_option("--server", a->server,
                 "List the shared catalogue on this PostgreSQL server instead (see publish): its discs and folders, "
                 "or the entries inside PATH")
      ->envname("TAMBER_SERVER");
  ls->add_option("--server-library", a->serverLibrary, "With --server: only the library published under this name");
  ls->callback([&status, g, a] {
    if (!a->server.empty()) {
      status = withLibrary(*g, [&](App&, app::Notifier& n) { return listOnServer(*g, *a, n); }, Access::look);
      return;
    }
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      auto& doc = app.library()->catalog();
      std::vector<std::string> steps;
      std::string text = pathAsTyped(app, a->path + (a->sub.empty() ? "" : "/" + a->sub));
      auto t = resolve(doc, text, Prefer::item, &steps);
      if (!t) {
        n.error(t.message());
        return kExitFailure;
      }
      ListOptions o;
      o.levels = a->recursive ? INT_MAX : a->depth.value_or(1);
      o.sort = a->sort == "size" ? Sort::size : a->sort == "time" ? Sort::time
               : a->sort == "none" ? Sort::none : Sort::name;
      o.reverse = a->reverse;
      o.longForm = a->longForm;
      o.human = a->human;
      o.json = g->json;
      if (!t->isItem()) return listCatalog(app, t->node, o);

      // Inside an archive file, as find prints its members: the archive's
      // path, then the member's ("backup.zip/docs/a.txt"); "backup.zip/"
      // lists the archive's top level.
      if (!steps.empty()) {
        auto here = collect(app, *t, steps, 0);
        bool slash = !text.empty() && text.back() == '/';
        if (here && (!here->found || (here->file && slash))) {
          if (auto view = archiveMembers(app, *t, steps, o.levels)) {
            // A listing's own order means nothing here: by name then.
            printSorted(view->collected.top.children, o, o.sort == Sort::none ? Sort::name : o.sort);
            if (!view->partial.empty()) std::cerr << app::partialListingText(app, view->partial) << "\n";
            return kExitOk;
          }
        }
      }

      if (o.sort == Sort::none) {
        // In recorded order the entries stream out as they are read: memory
        // stays bounded whatever the size of the item.
        std::string out = o.json ? "[" : "";
        std::vector<bool> first{true};
        auto flush = [&] {
          std::cout << out;
          out.clear();
          return std::cout.good();
        };
        bool writing = true;
        auto stream = [&](ListingEntry& e, int level) {
          if (o.json) {
            // Close the folders whose entries ended.
            while (first.size() > static_cast<size_t>(level) + 1) {
              out += "]}";
              first.pop_back();
            }
            if (!first.back()) out += ",";
            first.back() = false;
            std::string one;
            entryJson(e, one, 0);
            bool deeper = e.folder && level + 1 < o.levels;
            if (deeper) {
              one.pop_back();
              one += ",\"children\":[";
              first.push_back(true);
            }
            out += one;
          } else {
            e.children.clear();
            entryText(e, o, level, out);
          }
          if (out.size() > (1 << 16)) writing = flush();
          return writing;
        };
        auto c = collect(app, *t, steps, o.levels, stream);
        if (!c || !c->found) {
          flush();
          n.error(!c ? c.message() : text + ": " + app.text(app::kTextNoSuchEntry));
          return kExitFailure;
        }
        if (o.json) {
          while (first.size() > 1) {
            out += "]}";
            first.pop_back();
          }
          out += "]\n";
        }
        flush();
        return kExitOk;
      }
      auto c = collect(app, *t, steps, o.levels);
      if (!c) {
        n.error(c.message());
        return kExitFailure;
      }
      if (!c->found) {
        n.error(text + ": " + app.text(app::kTextNoSuchEntry));
        return kExitFailure;
      }
      printSorted(c->top.children, o, o.sort);
      return kExitOk;
    }, Access::view);
  });

  auto* du = cli.add_subcommand(
      "du", "Sizes and file counts per folder, per item of a category, or of the library");
  du->set_help_flag("--help", "Print this help message and exit");
  du->add_option("PATH", a->path, "A category, a disc or folder, or a folder inside it "
                                  "(default: the whole library)");
  du->add_option("--depth", a->depth, "Levels of folders shown (default 1)")->check(CLI::Range(0, INT_MAX));
  du->add_flag("-h,--human", a->human, "Sizes as 1.5K, 23M, 4.0G");
  du->callback([&status, g, a] {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      auto& doc = app.library()->catalog();
      std::vector<std::string> steps;
      auto t = resolve(doc, a->path, Prefer::item, &steps);
      if (!t) {
        n.error(t.message());
        return kExitFailure;
      }
      int shown = a->depth.value_or(1);
      struct Row {
        std::string path;
        Usage u;
        int level;
      };
      std::vector<Row> rows;
      // Sums one item below `steps`; rows for folders down to `shown` levels
      // (listed after their contents, as du does).
      auto sumItem = [&](const Target& item, const std::vector<std::string>& inside,
                         const std::string& prefix, int levels, Usage& total) -> Status {
        std::vector<Usage> open{Usage{}};
        std::vector<std::string> names{prefix};
        const int base = static_cast<int>(inside.size());
        bool found = inside.empty(), done = false;
        scan::ListingVisitor v;
        v.entry = [&](ListingEntry& e, int depth) {
          if (depth < base) {
            if (e.name != inside[static_cast<size_t>(depth)]) return false;
            if (depth + 1 < base) return e.folder;
            found = true;
            if (!e.folder) {
              open.back().bytes += e.size;
              open.back().files += 1;
              done = true;
            }
            return e.folder;
          }
          if (!e.folder) {
            open.back().bytes += e.size;
            open.back().files += 1;
            return false;
          }
          open.push_back(Usage{});
          names.push_back(names.back() + "/" + e.name);
          return true;
        };
        v.leave = [&](const ListingEntry&, int depth) {
          if (depth < base) {
            done = true;
            return;
          }
          Usage u = open.back();
          u.folders += 1;
          open.pop_back();
          int level = depth - base + 1;
          if (level <= levels) rows.push_back({names.back(), u, level});
          names.pop_back();
          open.back().bytes += u.bytes;
          open.back().files += u.files;
          open.back().folders += u.folders;
        };
        v.stop = [&] { return done; };
        if (Status st = scan::walkListing(
                scan::streamListing(app.library()->file().root(), item.category, item.number), v);
            !st) {
          return st;
        }
        if (!found) return Error{Errc::not_found, prefix + ": " + app.text(app::kTextNoSuchEntry)};
        total.bytes += open.front().bytes;
        total.files += open.front().files;
        total.folders += open.front().folders;
        return {};
      };
      Usage total;
      std::string top = a->path.empty() ? "." : a->path;
      Status st;
      if (t->isItem()) {
        st = sumItem(*t, steps, top, shown, total);
      } else {
        // Categories and their discs and folders, a row each down to the
        // levels asked for; the folders inside an item are not shown here.
        std::function<Status(xmlNode*, const std::string&, int, Usage&)> walk =
            [&](xmlNode* node, const std::string& path, int level, Usage& here) -> Status {
          for (xmlNode* c = node->children; c; c = c->next) {
            bool cat = CatalogDocument::isCategory(c);
            if (!cat && !CatalogDocument::isItem(c)) continue;
            std::string name = doc.field(c, cat ? catalog::kCategoryName : catalog::kLabel);
            std::string child = path == "." ? name : path + "/" + name;
            Usage u;
            if (cat) {
              if (Status s = walk(c, child, level + 1, u); !s) return s;
            } else {
              Target item;
              item.category = doc.parentPath(c);
              item.number = CatalogDocument::numberOf(c);
              item.node = c;
              item.item = true;
              if (Status s = sumItem(item, {}, child, 0, u); !s) return s;
              if (level + 1 <= shown) rows.push_back({child, u, level + 1});
            }
            here.bytes += u.bytes;
            here.files += u.files;
            here.folders += u.folders;
          }
          if (level > 0 && level <= shown) rows.push_back({path, here, level});
          return {};
        };
        st = walk(t->node, top, 0, total);
      }
      if (!st) {
        n.error(st.message());
        return kExitFailure;
      }
      rows.push_back({top, total, 0});
      std::string out;
      if (g->json) {
        out = "[";
        for (size_t i = 0; i < rows.size(); ++i) {
          const auto& r = rows[i];
          out += std::string(i ? "," : "") + "{\"path\":" + jsonString(r.path) +
                 ",\"bytes\":" + std::to_string(r.u.bytes) + ",\"files\":" +
                 std::to_string(r.u.files) + ",\"folders\":" + std::to_string(r.u.folders) + "}";
        }
        out += "]\n";
      } else {
        for (const auto& r : rows) {
          char head[64];
          std::snprintf(head, sizeof head, "%10s  %9llu  ", sizeText(r.u.bytes, a->human).c_str(),
                        static_cast<unsigned long long>(r.u.files));
          out += head + escapeForTerminal(r.path) + "\n";
        }
      }
      std::cout << out;
      return kExitOk;
    }, Access::view);
  });

  // What the shell completions ask for: the words that may follow
  // (`__complete path PREFIX`: the library's paths; `section`; `key SECTION`).
  // Hidden: no help and no completion of its own.
  auto words = std::make_shared<std::vector<std::string>>();
  auto* complete = cli.add_subcommand("__complete", "");
  complete->group("");
  complete->add_option("WORDS", *words);
  complete->callback([&status, g, words] {
    status = withLibrary(*g, [&](App& app, app::Notifier&) {
      auto lower = [](std::string t) {
        for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return t;
      };
      auto startsWith = [&](const std::string& name, const std::string& partial) {
        return lower(name).rfind(lower(partial), 0) == 0;
      };
      std::string what = words->empty() ? "" : (*words)[0];
      std::string out;
      if (what == "path") {
        std::string prefix = words->size() > 1 ? (*words)[1] : "";
        size_t slash = prefix.rfind('/');
        std::string parent = slash == std::string::npos ? "" : prefix.substr(0, slash);
        std::string partial = slash == std::string::npos ? prefix : prefix.substr(slash + 1);
        std::string lead = parent.empty() ? "" : parent + "/";
        auto& doc = app.library()->catalog();
        std::vector<std::string> steps;
        auto t = resolve(doc, parent, Prefer::item, &steps);
        if (!t) return kExitFailure;
        if (!t->isItem()) {
          for (const auto& r : catalogRows(doc, t->node)) {
            if (startsWith(r.name, partial)) out += lead + r.name + "/\n";
          }
        } else if (auto c = collect(app, *t, steps, 1); c && c->found && !c->file) {
          for (const auto& e : c->top.children) {
            if (startsWith(e.name, partial)) out += lead + e.name + (e.folder ? "/" : "") + "\n";
          }
        }
      } else if (what == "section" || what == "key") {
        std::set<std::string> found;
        std::string section = what == "key" && words->size() > 1 ? (*words)[1] : "";
        for (const app::SettingKey& k : app::settingKeys()) {
          if (what == "section") found.insert(k.section);
          else if (lower(k.section) == lower(section)) found.insert(k.key);
        }
        for (const auto& e : app.settings().entries()) {
          if (what == "section") found.insert(e.section);
          else if (lower(e.section) == lower(section)) found.insert(e.key);
        }
        for (const auto& f : found) out += f + "\n";
      }
      std::cout << out;
      return kExitOk;
    }, Access::view);
  });
}

}  // namespace tamber::cli
