// tamber find: the search over the library's discs, folders and listings.

#include <climits>
#include <filesystem>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <optional>
#include <sstream>

#include "browse.h"
#include "common.h"
#include "platform/json.h"
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

}  // namespace

void registerFindCommand(CLI::App& cli, int& status, std::shared_ptr<Globals> g) {
  struct Args {
    std::string text, from, to, kinds, scope;
    bool caseSensitive = false, whole = false, noArchives = false, count = false;
    std::optional<int> minKb, maxKb;
    int jobs = 5;
    bool regex = false;
    std::vector<std::string> in;
  };
  auto a = std::make_shared<Args>();
  auto* find = cli.add_subcommand("find", "Find files, folders and discs by name or recorded text");
  find->add_option("TEXT", a->text,
                   "What to find: found anywhere in a text unless it starts with * or ?; "
                   "* any run, ? one character, [a-c] a set");
  find->add_flag("--case", a->caseSensitive, "Letter case counts");
  find->add_flag("--whole", a->whole, "The whole text must equal TEXT");
  find->add_flag("--no-archives", a->noArchives, "Leave archive contents out");
  find->add_option("--from", a->from, "Modified on or after: YYYY-MM-DD or \"YYYY-MM-DD HH:MM\"");
  find->add_option("--to", a->to, "Modified on or before: YYYY-MM-DD or \"YYYY-MM-DD HH:MM\"");
  find->add_option("--min-kb", a->minKb, "At least this many KB (1024 bytes)")->check(CLI::Range(0, INT_MAX));
  find->add_option("--max-kb", a->maxKb, "At most this many KB")->check(CLI::Range(0, INT_MAX));
  find->add_option("--kinds", a->kinds,
                   "Texts compared, joined by commas: names, tracks, pictures, tags, documents "
                   "(default: as saved, first all)");
  find->add_option("--scope", a->scope, "Only below this category, disc or folder");
  find->add_option("--in", a->in,
                   "Search this library file instead (repeat for several); each is opened read-only "
                   "and shared, one in use by a writer is skipped with a warning");
  find->add_flag("--regex", a->regex, "TEXT is a regular expression (PCRE2) instead of a wildcard pattern");
  find->add_flag("--count", a->count, "Print only the number of hits");
  find->add_option("--jobs", a->jobs, "Worker threads (default 5)")->check(CLI::Range(1, 64));
  find->callback([&status, g, a] {
    // No hit is exit status 1, yet the switches and the history are kept as
    // for any search: the body succeeds and says the status here.
    int found = kExitOk;
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      search::SearchCriteria c;
      c.regex = a->regex;
      c.pattern = a->regex ? search::prepareSearchText(a->text, true) : search::prepareSearchText(a->text, a->whole);
      if (c.pattern.empty()) {
        n.error("find needs a text to look for");
        return kExitUsage;
      }
      auto saved = search::loadSwitches(app.settings());
      c.caseSensitive = a->caseSensitive;
      c.wholeText = a->whole;
      c.searchArchives = !a->noArchives;
      c.kinds = saved.kinds ? saved.kinds : search::kAllKinds;
      if (!a->kinds.empty()) {
        auto k = parseKinds(a->kinds);
        if (!k || *k == 0) {
          n.error("--kinds " + a->kinds + ": use names, tracks, pictures, tags, documents");
          return kExitUsage;
        }
        c.kinds = *k;
      }
      if (!a->from.empty() || !a->to.empty()) {
        auto from = a->from.empty() ? std::optional<std::time_t>(0) : parseDate(a->from, false);
        auto to = a->to.empty() ? std::optional<std::time_t>(INT64_MAX) : parseDate(a->to, true);
        if (!from || !to) {
          n.error("a date is YYYY-MM-DD or \"YYYY-MM-DD HH:MM\"");
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
      }
      if (c.regex) {
        search::Matcher check(c.pattern, c.caseSensitive, c.wholeText, true);
        if (!check.error().empty()) {
          n.error("--regex " + a->text + ": " + check.error());
          return kExitUsage;
        }
      }
      // The libraries searched: those given with --in, else the library.
      struct Target {
        std::string shown;  // as the user named it
        catalog::Library* library = nullptr;
        std::unique_ptr<catalog::Library> owned;
      };
      std::vector<Target> targets;
      if (a->in.empty()) {
        targets.push_back({app.library()->path().string(), app.library(), nullptr});
      } else {
        for (const auto& path : a->in) {
          auto lib = catalog::Library::open(path, true);
          if (!lib) {
            std::cerr << "tamber: warning: " << app.inUserLanguage(lib.error(), path).message
                      << "; not searched\n";
            continue;
          }
          Target t{path, nullptr, std::move(lib.value())};
          t.library = t.owned.get();
          targets.push_back(std::move(t));
        }
        if (targets.empty()) {
          n.error("no library could be searched");
          return kExitFailure;
        }
      }
      // The switches and the text are kept as the find dialog keeps them.
      search::SearchSwitches sw;
      sw.useDateRange = c.useDateRange;
      sw.useSizeRange = c.useSizeRange;
      sw.minGiven = a->minKb.has_value();
      sw.maxGiven = a->maxKb.has_value();
      sw.caseSensitive = c.caseSensitive;
      sw.searchArchives = c.searchArchives;
      sw.wholeText = c.wholeText;
      sw.kinds = c.kinds;
      if (app.settings().savable()) {
        search::saveSwitches(app.settings(), sw);
        search::addToHistory(app.settings(), a->text);
      }
      size_t hits = 0, searched = 0;
      std::string out;
      for (auto& t : targets) {
        search::SearchCriteria here = c;
        if (!a->scope.empty()) {
          auto r = resolve(t.library->catalog(), a->scope, Prefer::item);
          if (!r) {
            if (targets.size() == 1) {
              n.error(r.message());
              return kExitFailure;
            }
            std::cerr << "tamber: warning: " << t.shown << ": " << r.message() << "; not searched\n";
            continue;
          }
          here.scope = r->category;
          if (r->isItem()) here.scope.push_back(r->number);
        }
        auto r = search::runSearch(*t.library, here, a->jobs);
        if (!r) {
          n.error(t.shown + ": " + r.message());
          return kExitFailure;
        }
        ++searched;
        for (const auto& d : r->damaged) std::cerr << "tamber: warning: " << d << "\n";
        hits += r->hits.size();
        if (a->count) continue;
        if (g->json) {
          std::error_code ec;
          std::string library = std::filesystem::absolute(t.library->path(), ec).string();
          for (const auto& h : r->hits) {
            const auto& item = r->items[h.item];
            out += "{\"library\":" + jsonString(library) + ",\"item\":" + jsonString(item.path) +
                   ",\"itemNumber\":" + std::to_string(item.itemNumber) + ",\"path\":" +
                   jsonString(slashed(h.path)) + ",\"field\":" + jsonString(h.field) + ",\"text\":" +
                   jsonString(h.text) + ",\"size\":" + (h.hasSize ? std::to_string(h.size) : "null") +
                   ",\"modified\":" + isoTimeJson(h.modified) + ",\"kind\":" + jsonString(kindName(h.kind)) +
                   ",\"part\":" + std::to_string(h.part) + "}\n";
          }
        } else {
          // Several libraries: each row says its library first.
          std::string label = a->in.empty() ? "" : escapeForTerminal(t.shown) + ": ";
          for (const auto& h : r->hits) {
            const auto& item = r->items[h.item];
            std::string where = item.path + (h.path.empty() ? "" : "/" + slashed(h.path));
            out += label + escapeForTerminal(where);
            if (h.field != "c") out += "  (" + h.field + ": " + escapeForTerminal(h.text) + ")";
            out += "\n";
          }
        }
        std::cout << out;
        out.clear();
      }
      if (searched == 0) {
        n.error("--scope " + a->scope + " is in none of the libraries");
        return kExitFailure;
      }
      if (a->count) {
        std::cout << (g->json ? "{\"hits\":" + std::to_string(hits) + "}\n" : std::to_string(hits) + "\n");
      } else if (!g->json && !g->quiet) {
        // The status line of the search, on standard error so that the rows
        // stay data: " 3 hit(s) for ["*report"]".
        char line[64];
        std::snprintf(line, sizeof line, " %zu ", hits);
        std::cout.flush();
        std::cerr << line << app.text(app::kTextHitsFor) << " [\"" << escapeForTerminal(c.pattern) << "\"]\n";
      }
      found = hits == 0 ? kExitFailure : kExitOk;
      return kExitOk;
    }, a->in.empty() ? Access::view : Access::none);
    if (status == kExitOk) status = found;
  });
}

}  // namespace tamber::cli
