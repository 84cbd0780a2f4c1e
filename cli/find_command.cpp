// tamber find: the search over the library's discs, folders and listings.

#include <unistd.h>

#include <algorithm>
#include <thread>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <sstream>

#include "browse.h"
#include "app/library_folders.h"
#include "common.h"
#include "app/presentation.h"
#include "app/shared_catalogue.h"
#include "platform/json.h"
#include "platform/text.h"
#include "search/search.h"

namespace tamber::cli {

namespace {

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM" as local time; a day alone is its
// first second, or with `endOfDay` its last.
std::optional<std::time_t> parseDate(const std::string& text, bool endOfDay) {
  std::tm tm{};
  int y = 0, mo = 0, d = 0, h = 0, mi = 0;
  char tail = 0;
  int n = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d%c", &y, &mo, &d, &h, &mi, &tail);
  if (n != 3 && n != 5) return std::nullopt;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59) return std::nullopt;
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = n == 3 && endOfDay ? 59 : 0;
  if (n == 3 && endOfDay) {
    tm.tm_hour = 23;
    tm.tm_min = 59;
  }
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return t;
}

std::optional<uint16_t> parseKinds(const std::string& text) {
  uint16_t kinds = 0;
  std::stringstream words(text);
  std::string w;
  while (std::getline(words, w, ',')) {
    if (w == "names") kinds |= search::kKindNames;
    else if (w == "tracks") kinds |= search::kKindTracks;
    else if (w == "pictures") kinds |= search::kKindPictures;
    else if (w == "tags") kinds |= search::kKindTags;
    else if (w == "documents") kinds |= search::kKindDocuments;
    else if (w == "videos") kinds |= search::kKindVideos;
    else return std::nullopt;
  }
  return kinds;
}

// The path inside a disc as the other commands take it.
std::string slashed(std::string path) {
  for (auto& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

const char* kindName(search::SearchHit::Kind k) {
  switch (k) {
    case search::SearchHit::Kind::file: return "file";
    case search::SearchHit::Kind::folder: return "folder";
    case search::SearchHit::Kind::discField: return "disc field";
    case search::SearchHit::Kind::archiveMember: return "archive member";
  }
  return "file";
}

std::string trim(const std::string& text) {
  size_t b = text.find_first_not_of(" \t\r\n"), e = text.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : text.substr(b, e - b + 1);
}

// Whether output goes in colour: --color, NO_COLOR, and whether standard
// output is a terminal.
bool colourOn(const std::string& choice) {
  if (choice == "always") return true;
  if (choice == "never") return false;
  const char* no = std::getenv("NO_COLOR");
  return (!no || !*no) && isatty(STDOUT_FILENO);
}

// A hit's kind as --type names it.
const char* typeName(search::SearchHit::Kind k) {
  switch (k) {
    case search::SearchHit::Kind::file: return "file";
    case search::SearchHit::Kind::folder: return "folder";
    case search::SearchHit::Kind::discField: return "disc";
    case search::SearchHit::Kind::archiveMember: return "archive-member";
  }
  return "file";
}

// Writes the rows of a search, flushing at least every tenth of a second;
// false when the reader went away.
class HitWriter {
 public:
  explicit HitWriter(app::Notifier& n) : n_(n) {}
  std::string out;
  bool write(bool force) {
    auto now = std::chrono::steady_clock::now();
    if (!force && flushed_ && out.size() < (1u << 16) && now - last_ < std::chrono::milliseconds(100)) return true;
    if ((!out.empty() && std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) || std::fflush(stdout) != 0) {
      int err = errno;
      if (!said_ && !outputPipeClosed()) n_.error(say(app::kTextCannotWriteOutput, {err ? std::strerror(err) : "write error"}));
      said_ = true;
      return false;
    }
    out.clear();
    last_ = now;
    flushed_ = true;
    return true;
  }

 private:
  app::Notifier& n_;
  std::chrono::steady_clock::time_point last_;
  bool flushed_ = false, said_ = false;
};

}  // namespace

// find --server: the same question asked of the shared catalogue.
template <class Args>
int findOnServer(const Globals& g, const Args& a) {
  int found = kExitOk;
  int status = withLibrary(g, [&](App& app, app::Notifier& n) {
    if (!a.scope.empty() || !a.in.empty() || a.all) {
      n.error("--server searches the shared catalogue: --scope, --in and --all do not go with it");
      return kExitUsage;
    }
    app::SharedCatalogue::Query q;
    q.text = a.regex ? a.text : trim(a.text);
    if (q.text.empty()) {
      n.error(say(app::kTextFindNeedsText));
      return kExitUsage;
    }
    q.regex = a.regex;
    q.whole = a.whole;
    q.glob = !a.regex && !a.whole && q.text.find_first_of("*?[") != std::string::npos;
    q.caseSensitive = a.caseSensitive;
    q.fullPath = a.fullPath;
    q.library = a.serverLibrary;
    if (!a.kinds.empty()) {
      auto k = parseKinds(a.kinds);
      if (!k || *k == 0) {
        n.error(say(app::kTextKindsChoice, {a.kinds}));
        return kExitUsage;
      }
      q.properties = (*k & ~search::kKindNames) != 0;
    }
    if (!a.from.empty() || !a.to.empty()) {
      auto from = a.from.empty() ? std::optional<std::time_t>(0) : parseDate(a.from, false);
      auto to = a.to.empty() ? std::optional<std::time_t>(INT32_MAX) : parseDate(a.to, true);
      if (!from || !to) {
        n.error(say(app::kTextDateForm));
        return kExitUsage;
      }
      if (!a.from.empty()) q.from = from;
      if (!a.to.empty()) q.to = to;
    }
    if (a.minKb) q.minBytes = static_cast<long long>(*a.minKb) * 1024;
    if (a.maxKb) q.maxBytes = static_cast<long long>(*a.maxKb) * 1024;
    for (const auto& t : a.types) {
      if (t == "disc") {
        n.error("--type disc: the shared catalogue holds files, folders and archive members only");
        return kExitUsage;
      }
      q.types.push_back(t);
    }
    int rc = kExitOk;
    size_t libraries = 0;
    auto server = connectToServer(a.server, n, rc, libraries);
    if (!server) return rc;
    // Hits are labelled with their library when the server holds several.
    const bool several = libraries > 1 && a.serverLibrary.empty();
    const bool colour = !a.print0 && !g.json && colourOn(a.color);
    const char* itemColour = colour ? "\033[1;34m" : "";
    const char* fieldColour = colour ? "\033[33m" : "";
    const char* plain = colour ? "\033[0m" : "";
    HitWriter w(n);
    long long hits = 0;
    bool writing = true;
    Status st = server->find(q, [&](const app::SharedCatalogue::Row& r) {
      ++hits;
      if (a.count || g.quiet) return true;
      std::string& out = w.out;
      if (g.json) {
        out += "{\"library\":" + jsonString(r.library) + ",\"item\":" + jsonString(r.item) + ",\"itemNumber\":" +
               std::to_string(r.itemNumber) + ",\"path\":" + jsonString(r.path) + ",\"field\":" +
               jsonString(r.field) + ",\"text\":" + jsonString(r.text) + ",\"size\":" +
               (r.size < 0 ? "null" : std::to_string(r.size)) + ",\"modified\":" +
               (r.modified.empty() ? "null" : jsonString(r.modified)) + ",\"kind\":" + jsonString(r.type) +
               ",\"fileKind\":" + jsonString(r.kind) + ",\"hash\":" +
               (r.hash.empty() ? "null" : jsonString(r.hash)) + "}\n";
      } else if (a.print0) {
        out += (several ? r.library + ": " : "") + r.item + "/" + r.path;
        out.push_back('\0');
      } else {
        out += (several ? escapeForTerminal(r.library) + ": " : "") + itemColour + escapeForTerminal(r.item) + plain +
               "/" + escapeForTerminal(r.path);
        if (r.field != "name") {
          out += std::string("  ") + fieldColour + "(" + r.field + ": " + escapeForTerminal(r.text) + ")" + plain;
        }
        out += "\n";
      }
      writing = w.write(false);
      return writing;
    });
    if (!writing) return kExitFailure;
    if (!st) {
      w.write(true);
      n.error(st.message());
      return kExitFailure;
    }
    if (!w.write(true)) return kExitFailure;
    if (a.count && !g.quiet) {
      std::printf("%s", g.json ? ("{\"hits\":" + std::to_string(hits) + "}\n").c_str()
                               : (std::to_string(hits) + "\n").c_str());
    } else if (!g.json && !g.quiet && !a.print0) {
      std::fflush(stdout);
      std::cerr << " " << hits << " " << app.text(app::kTextHitsFor) << " [\"" << escapeForTerminal(q.text) << "\"]\n";
    }
    found = hits == 0 ? kExitFailure : kExitOk;
    return kExitOk;
  }, Access::look);
  return status == kExitOk ? found : status;
}

void registerFindCommand(CLI::App& cli, int& status, std::shared_ptr<Globals> g) {
  struct Args {
    std::string text, from, to, kinds, scope, color = "auto";
    bool caseSensitive = false, whole = false, noArchives = false, count = false, print0 = false,
         fullPath = false, all = false;
    std::optional<int> minKb, maxKb;
    int jobs = 0;  // one more than the processors, at most 5
    bool regex = false, noIndex = false;
    std::vector<std::string> in, types;
    std::string server, serverLibrary;
  };
  auto a = std::make_shared<Args>();
  auto* find = cli.add_subcommand("find", "Find files, folders and discs by name or recorded text");
  find->add_option("TEXT", a->text,
                   "What to find: a plain text is found anywhere in a name; a text with wildcards "
                   "(* any run, ? one character, [a-c] a set) must match the whole name, as a shell's glob does")
      ->required();
  find->add_flag("-s,--case", a->caseSensitive, "Letter case counts");
  find->add_flag("-w,--whole", a->whole, "The whole name must equal TEXT (no wildcards)");
  find->add_flag("-e,--regex", a->regex, "TEXT is a regular expression (PCRE2) instead of a wildcard pattern");
  find->add_flag("-p,--full-path", a->fullPath,
                 "Compare TEXT with the whole path (category/disc/folders/name), not the name alone");
  find->add_flag("--no-archives", a->noArchives, "Leave archive contents out");
  find->add_option("--type", a->types, "Only hits of this type: file, folder, archive-member or disc (repeatable)")
      ->check(CLI::IsMember({"file", "folder", "archive-member", "disc"}))
      ->take_all();
  find->add_option("--from", a->from, "Modified on or after: YYYY-MM-DD or \"YYYY-MM-DD HH:MM\"");
  find->add_option("--to", a->to, "Modified on or before: YYYY-MM-DD or \"YYYY-MM-DD HH:MM\"");
  find->add_option("--min-kb", a->minKb, "At least this many KB (1024 bytes)")->check(CLI::Range(0, INT_MAX));
  find->add_option("--max-kb", a->maxKb, "At most this many KB (0: empty files only)")->check(CLI::Range(0, INT_MAX));
  find->add_option("--kinds", a->kinds,
                   "Texts compared, joined by commas: names, tracks, pictures, tags, documents, videos (default: all)");
  find->add_option("--scope", a->scope, "Only below this category, disc or folder, or a folder inside a disc");
  find->add_option("--in", a->in,
                   "Search this library file instead (repeat for several); each is opened in turn, read-only "
                   "and shared; one that cannot be searched is named, and the exit status is 2")
      ->take_last();
  find->add_flag("-a,--all", a->all,
                 "Search every library file in the folders of the setting App-Preference LibraryFolders (default: the "
                 "default library's folder) and the recent ones; each is opened read-only and shared, each hit "
                 "labelled with its library");
  find->add_flag("-c,--count", a->count, "Print only the number of hits");
  find->add_flag("-0,--print0", a->print0, "End each hit with a NUL byte instead of a line break (names as they are)");
  find->add_option("--color", a->color, "Colour: auto (on a terminal, unless NO_COLOR is set), always or never")
      ->check(CLI::IsMember({"auto", "always", "never"}));
  find->add_flag("--no-index", a->noIndex, "Read every listing whole instead of using the library's name index");
  find->add_option("--server", a->server,
                   "Search the shared catalogue on this PostgreSQL server instead (a connection string, as "
                   "\"postgresql://user@host/db\"; see publish); names only unless --kinds names others")
      ->envname("TAMBER_SERVER");
  find->add_option("--server-library", a->serverLibrary, "With --server: only the library published under this name");
  find->add_option("--jobs", a->jobs, "Worker threads (default: one more than the processors, at most 5)")->check(CLI::Range(1, 64));
  find->callback([&status, g, a] {
    if (!a->server.empty()) {
      status = findOnServer(*g, *a);
      return;
    }
    // No hit is exit status 1 (as for grep), an incomplete search 2; the
    // search history is kept whichever.
    int found = kExitOk;
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      search::SearchCriteria c;
      c.regex = a->regex;
      c.pattern = a->regex ? search::prepareSearchText(a->text, true) : search::prepareSearchText(a->text, a->whole);
      if (c.pattern.empty()) {
        n.error(say(app::kTextFindNeedsText));
        return kExitUsage;
      }
      // A text with wildcards is a glob: it matches the whole name.
      std::string typed = trim(a->text);
      if (!a->regex && !a->whole && typed.find_first_of("*?[") != std::string::npos) {
        c.pattern = typed;
        c.anchored = true;
      }
      // The documented defaults, whatever the find dialog last kept.
      c.caseSensitive = a->caseSensitive;
      c.wholeText = a->whole;
      c.searchArchives = !a->noArchives;
      c.kinds = search::kAllKinds;
      c.fullPath = a->fullPath;
      if (!a->kinds.empty()) {
        auto k = parseKinds(a->kinds);
        if (!k || *k == 0) {
          n.error(say(app::kTextKindsChoice, {a->kinds}));
          return kExitUsage;
        }
        c.kinds = *k;
      }
      if (!a->from.empty() || !a->to.empty()) {
        auto from = a->from.empty() ? std::optional<std::time_t>(0) : parseDate(a->from, false);
        auto to = a->to.empty() ? std::optional<std::time_t>(INT64_MAX) : parseDate(a->to, true);
        if (!from || !to) {
          n.error(say(app::kTextDateForm));
          return kExitUsage;
        }
        c.useDateRange = true;
        c.dateFrom = *from;
        c.dateTo = *to;
      }
      if (a->minKb || a->maxKb) {
        c.useSizeRange = true;
        c.minSizeKB = a->minKb.value_or(0);
        c.maxSizeKB = a->maxKb.value_or(0);
        c.maxGiven = a->maxKb.has_value();
      }
      if (c.regex) {
        search::Matcher check(c.pattern, c.caseSensitive, c.wholeText, true);
        if (!check.error().empty()) {
          n.error("--regex " + a->text + ": " + check.error());
          return kExitUsage;
        }
      }
      std::vector<std::string> libraries = a->in;
      if (a->all) {
        auto found = app::findLibraries(app.settings(), app.recent());
        for (const auto& p : found.libraries) {
          if (std::find(libraries.begin(), libraries.end(), p.string()) == libraries.end()) libraries.push_back(p.string());
        }
        if (libraries.empty()) {
          std::string folders;
          for (const auto& f : found.folders) folders += (folders.empty() ? "" : ", ") + f.string();
          n.error(say(app::kTextNoLibrariesFound, {folders}));
          return kExitUsage;  // nothing could be searched
        }
      }
      if (libraries.empty()) libraries.push_back(app.library()->path().string());
      // Only the text goes into the history; the switches are the dialog's.
      if (app.settings().savable()) search::addToHistory(app.settings(), a->text);

      const bool colour = !a->print0 && !g->json && colourOn(a->color);
      const char* itemColour = colour ? "\033[1;34m" : "";
      const char* fieldColour = colour ? "\033[33m" : "";
      const char* plain = colour ? "\033[0m" : "";
      const bool several = !a->in.empty() || a->all;
      long long hits = 0;
      bool incomplete = false, searched = false;
      std::string out;
      auto lastFlush = std::chrono::steady_clock::now();
      // Output that cannot be written ends the search: quietly when the
      // reader went away (`| head`), else said once with the reason.
      bool outputSaid = false;
      auto failedOutput = [&] {
        int err = errno;
        if (!outputSaid && !outputPipeClosed()) {
          n.error(say(app::kTextCannotWriteOutput, {err ? std::strerror(err) : "write error"}));
        }
        outputSaid = true;
        return false;
      };
      bool flushedOnce = false;
      // Rows go out as each item's hits come, in their final order: the
      // first at once, then at most every tenth of a second; a pipe that
      // closes ends the search.
      auto write = [&](bool force) {
        auto now = std::chrono::steady_clock::now();
        if (!force && flushedOnce && out.size() < (1u << 16) && now - lastFlush < std::chrono::milliseconds(100)) {
          return true;
        }
        if (!out.empty()) {
          if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) return failedOutput();
          out.clear();
        }
        if (std::fflush(stdout) != 0) return failedOutput();
        lastFlush = now;
        flushedOnce = true;
        return true;
      };
      for (const auto& shown : libraries) {
        // Opened one at a time, so that a thousand libraries need no more
        // than one file at once.
        std::unique_ptr<catalog::Library> owned;
        catalog::Library* library = app.library();
        if (several) {
          auto lib = catalog::Library::open(shown, true);
          if (!lib) {
            n.error(say(app::kTextNotSearched, {app.inUserLanguage(lib.error(), shown).message}));
            incomplete = true;
            continue;
          }
          owned = std::move(lib.value());
          library = owned.get();
        }
        search::SearchCriteria here = c;
        std::string within;  // a folder inside the scope's item, "\"-joined as the hits' paths
        if (!a->scope.empty()) {
          std::vector<std::string> rest;
          auto r = resolve(library->catalog(), pathAsTyped(*library, a->scope), Prefer::item, &rest);
          if (!r) {
            if (!several) {
              n.error(r.message());
              return kExitFailure;
            }
            n.error(say(app::kTextNotSearched, {shown + ": " + r.message()}));
            incomplete = true;
            continue;
          }
          here.scope = r->category;
          if (r->isItem()) here.scope.push_back(r->number);
          for (const auto& step : rest) within += (within.empty() ? "" : "\\") + step;
        }
        std::error_code ec;
        std::string libraryPath = std::filesystem::absolute(library->path(), ec).string();
        std::string label = several ? shown : "";
        search::SearchOptions options;
        // One worker more than the processors (the output is written on one
        // of them), at most 5: on two cores a rare name took 20 ms with five
        // and 18 with three, and a million rows 1.52 s with five, 1.46 s
        // with three and 1.7 s with two.
        options.workers = a->jobs > 0 ? a->jobs : std::clamp(static_cast<int>(std::thread::hardware_concurrency()) + 1, 1, 5);
        options.useIndex = !a->noIndex;
        options.ordered = [&](const search::SearchItem& item, std::vector<search::SearchHit>& list) {
          for (const auto& h : list) {
            if (!within.empty() && h.path != within && h.path.compare(0, within.size() + 1, within + "\\") != 0) {
              continue;
            }
            if (!a->types.empty() &&
                std::find(a->types.begin(), a->types.end(), typeName(h.kind)) == a->types.end()) {
              continue;
            }
            ++hits;
            if (a->count || g->quiet) continue;
            bool disc = h.kind == search::SearchHit::Kind::discField;
            std::string field = app::fieldName(h.field, disc);
            std::string where = item.path + (h.path.empty() ? "" : "/" + slashed(h.path));
            if (g->json) {
              out += "{\"library\":" + jsonString(libraryPath) + ",\"item\":" + jsonString(item.path) +
                     ",\"itemNumber\":" + std::to_string(item.itemNumber) + ",\"path\":" +
                     jsonString(slashed(h.path)) + ",\"field\":" + jsonString(field) + ",\"fieldCode\":" +
                     jsonString(h.field) + ",\"text\":" + jsonString(h.text) + ",\"size\":" +
                     (h.hasSize ? std::to_string(h.size) : "null") + ",\"modified\":" + isoTimeJson(h.modified) +
                     ",\"kind\":" + jsonString(kindName(h.kind)) + ",\"part\":" + std::to_string(h.part) + "}\n";
            } else if (a->print0) {
              // Names as they are: a NUL ends them, nothing else can.
              out += (label.empty() ? "" : label + ": ") + where;
              out.push_back('\0');
            } else {
              out += (label.empty() ? "" : escapeForTerminal(label) + ": ") + itemColour +
                     escapeForTerminal(item.path) + plain +
                     (h.path.empty() ? "" : "/" + escapeForTerminal(slashed(h.path)));
              bool named = h.field == "c" || (disc && h.field == catalog::nameCode(catalog::kLabel));
              if (!named) out += std::string("  ") + fieldColour + "(" + field + ": " + escapeForTerminal(h.text) + ")" + plain;
              out += "\n";
            }
          }
          return write(false);
        };
        auto r = search::runSearch(*library, here, options);
        if (!r) {
          n.error(shown + ": " + r.message());
          return kExitFailure;
        }
        if (!write(true)) return kExitFailure;  // the pipe closed
        searched = true;
        for (const auto& d : r->damaged) {
          n.error(d);
          incomplete = true;
        }
        for (const auto& p : r->indexProblems) {
          // The rows are whole: those listings were read instead.
          auto colon = p.find(": ");
          std::cerr << warningPrefix()
                    << escapeForTerminal(say(app::kTextIndexNotUsed, {p.substr(0, colon), p.substr(colon + 2)}), true)
                    << "\n";
        }
        if (r->undecided > 0) {
          n.error(std::to_string(r->undecided) +
                  " names could not be decided by the regular expression in the time one may take (counted as "
                  "no match); the first: " + r->firstUndecided +
                  (r->gaveUpEarly ? "; the search stopped there" : ""));
          incomplete = true;
        }
        if (!r->handedOverWhole && !r->gaveUpEarly) return kExitFailure;  // the pipe closed
      }
      if (!searched && !a->scope.empty() && several) {
        n.error(say(app::kTextScopeNowhere, {a->scope}));
        return kExitFailure;
      }
      if (a->count && !g->quiet) {
        std::printf("%s", g->json ? ("{\"hits\":" + std::to_string(hits) + "}\n").c_str()
                                  : (std::to_string(hits) + "\n").c_str());
      } else if (!g->json && !g->quiet && !a->print0) {
        // The status line of the search, on standard error so that the rows
        // stay data: " 3 hit(s) for ["*report"]".
        std::fflush(stdout);
        std::cerr << " " << hits << " " << app.text(app::kTextHitsFor) << " [\"" << escapeForTerminal(c.pattern)
                  << "\"]\n";
      }
      found = incomplete ? kExitUsage : hits == 0 ? kExitFailure : kExitOk;
      return kExitOk;
    }, a->in.empty() && !a->all ? Access::view : Access::look);
    if (status == kExitOk) status = found;
  });
}

}  // namespace tamber::cli
