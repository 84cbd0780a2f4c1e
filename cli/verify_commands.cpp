// tamber verify: a connected folder or disc against what its item recorded;
// tamber diff: two items, or an item and a folder, side by side.

#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>

#include "app/file_comparison.h"
#include "app/presentation.h"
#include "app/volumes.h"
#include "commands.h"
#include "common.h"
#include "platform/hex_time.h"
#include "platform/json.h"
#include "platform/text.h"
#include "scan_job.h"

namespace tamber::cli {

namespace {

// Errors outweigh differences: a file that could not be checked leaves the
// answer open.
constexpr int kExitErrors = 2;

std::string num(const App& app, uint64_t v) { return app::groupedNumber(v, app.language().code()); }

// The files a folder holds now, read as a scan reads them (with `o`'s
// filter, depth and rules), with progress; `exit` says how it failed.
struct PresentFiles {
  app::FileSet files;
  std::vector<std::string> unreadable;
};

Result<PresentFiles> readPresent(App& app, app::Notifier& n, const Globals& g, scan::AddFolderOptions o,
                                 bool quiet, int& exit) {
  exit = kExitErrors;
  std::string path = o.path;
  auto reading = app::FolderReading::prepare(std::move(o));
  if (!reading) return reading.error();
  const auto& r = runWithProgress(app, n, g, (*reading)->job(), quiet);
  if (r.outcome == scan::JobOutcome::cancelled) {
    if (interrupted.load() != 0) exit = 128 + interrupted.load();
    return Error{Errc::cancelled, app.text(app::kTextCancelled)};
  }
  if (r.outcome != scan::JobOutcome::done) {
    return Error{Errc::io, fillIn(app.text(app::kTextScanFailed), {path}) + " " +
                               r.message};
  }
  PresentFiles out;
  out.unreadable = r.unreadable;
  auto files = (*reading)->files();
  if (!files) return files.error();
  out.files = std::move(files.value());
  return out;
}

Result<app::FileSet> readRecorded(App& app, const Target& t) {
  auto files = app::readFileSet(scan::streamListing(app.library()->file().root(), t.category, t.number),
                                [] { return interrupted.load() != 0; });
  if (!files) return Error{files.error().code, app.library()->catalog().namePath(t.node) + ": " + files.message()};
  return files;
}

std::string factsJson(const app::FileFacts& f) {
  std::string out = "\"size\":" + std::to_string(f.size) + ",\"modified\":" + app::isoTimeJson(f.modified);
  if (!f.hash.empty()) out += ",\"hash\":" + jsonString(f.hash);
  if (f.isLink) out += ",\"link\":" + jsonString(f.link);
  return out;
}

std::string jsonKey(app::Difference kind, bool verify) {
  if (verify && kind == app::Difference::added) return "new";
  if (!verify && kind == app::Difference::missing) return "removed";
  return app::differenceKey(kind);
}

// Prints the differences (text or JSON lines) and the summary; returns the
// exit status: 0 alike, 1 differences, 2 errors.
int report(App& app, const Globals& g, const app::Comparison& c, bool verify, bool hashes, bool errors) {
  std::string out;
  for (const auto& d : c.differences) {
    const app::FileFacts* shown = d.before ? d.before : d.after;
    if (g.json) {
      out += "{\"status\":" + jsonString(jsonKey(d.kind, verify)) + ",\"path\":" + jsonString(shown->path);
      if (d.kind == app::Difference::moved) out += ",\"to\":" + jsonString(d.after->path);
      if (d.after) out += "," + factsJson(*d.after);
      if (d.before && d.after) {
        out += std::string(",\"") + (verify ? "recorded" : "was") + "\":{" + factsJson(*d.before) + "}";
      } else if (d.before) {
        out += "," + factsJson(*d.before);
      }
      if (!d.what.empty()) {
        if (d.kind == app::Difference::unreadable) {
          out += ",\"error\":" + jsonString(d.what);
        } else {
          out += ",\"what\":[";
          bool first = true;
          for (auto piece : splitNonEmpty(d.what, ',')) {
            out += std::string(first ? "" : ",") + jsonString(std::string(piece));
            first = false;
          }
          out += "]";
        }
      }
      out += "}\n";
      continue;
    }
    std::string line = app::differenceText(app, d.kind, verify);
    line.resize(std::max<size_t>(line.size(), 11), ' ');
    line += escapeForTerminal(shown->path);
    if (std::string details = app::differenceDetails(app, d); !details.empty()) {
      line += d.kind == app::Difference::moved ? " " + escapeForTerminal(details) : "  (" + escapeForTerminal(details) + ")";
    }
    out += line + "\n";
  }
  std::cout << out << std::flush;
  if (!g.json && !g.quiet) {
    if (!hashes) std::cerr << warningPrefix() << say(app::kTextDiffNoHashes) << "\n";
    std::cerr << say(app::kTextDiffAlike, {app::countedText(app, c.same, app::kTextFilesAlikeCount),
                                                num(app, c.hashCompared)}) << "\n";
    if (c.differs()) std::cerr << say(app::kTextDiffSummary, {app::differenceCounts(app, c, verify)}) << "\n";
  }
  if (errors || c.count(app::Difference::unreadable) > 0) return kExitErrors;
  return c.differs() ? kExitFailure : kExitOk;
}

}  // namespace

void registerVerifyCommands(CLI::App& cli, int& status, std::shared_ptr<Globals> g) {
  struct Args {
    std::string item, path, a, b;
    bool record = false, quiet = false, hash = false;
    int jobs = 0;
  };
  auto a = std::make_shared<Args>();
  auto* verify = cli.add_subcommand(
      "verify", "Check a connected folder or disc against what its item recorded: missing, new, changed and "
                "damaged files");
  verify->add_option("ITEM", a->item, "The disc or folder of the library, as ls prints it")->required();
  verify->add_option("PATH", a->path,
                     "The folder or mounted disc to read (default: the folder the item was scanned from)");
  verify->add_flag("--record", a->record,
                   "When every file matches, store the date of this verify with the item (the only change "
                   "verify ever makes to the library)");
  verify->add_option("-j,--jobs", a->jobs, "Threads that read files (default: one per processor)")
      ->check(CLI::Range(0, 256));
  verify->add_flag("-q,--quiet", a->quiet, "Show no progress");
  verify->footer(
      "A file is damaged when its size and time are as recorded but its content hash is not (bit rot, a bad "
      "sector). Without recorded hashes only sizes and times are compared, and verify says so.\n"
      "Exit status: 0 when everything matches, 1 with differences, 2 when something could not be checked.");
  verify->callback([&status, g, a] {
    CancelOnSignals cancelling;
    int exit = kExitOk;
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      auto& doc = app.library()->catalog();
      auto t = resolve(doc, pathAsTyped(app, a->item), Prefer::item);
      if (!t || !t->isItem()) {
        n.error(t ? say(app::kTextIsCategory, {a->item}) : t.message());
        return kExitErrors;
      }
      int kind = doc.itemKind(t->node);
      auto recorded = readRecorded(app, *t);
      if (!recorded) {
        n.error(recorded.message());
        return recorded.error().code == Errc::cancelled ? 130 : kExitErrors;
      }
      if (kind == catalog::kKindCdExtra) app::dropTracks(*recorded);
      auto o = app::verifyOptions(doc, t->node, a->path, recorded->hashed > 0);
      if (!o) {
        n.error(o.error().code == Errc::unsupported ? say(app::kTextVerifyAudioDisc)
                                                    : say(app::kTextVerifyNoFolder,
                                                          {o.message().empty() ? a->item : o.message()}));
        return kExitErrors;
      }
      o->jobs = a->jobs;
      auto present = readPresent(app, n, *g, *o, a->quiet, exit);
      if (!present) {
        n.error(present.message());
        return exit;
      }
      auto comparison = app::compareFileSets(*recorded, present->files, false);
      bool clean = !comparison.differs() && present->unreadable.empty();
      exit = report(app, *g, comparison, true, recorded->hashed > 0, !present->unreadable.empty());
      if (a->record && clean) {
        doc.setField(t->node, catalog::kLastVerified, hexTime(std::time(nullptr)),
                     catalog::nameCode(catalog::kScanSettings));
        if (Status st = app.saveLibrary(); !st) {
          n.error(st.message());
          exit = kExitErrors;
          return kExitFailure;
        }
        if (!g->quiet && !g->json) std::cerr << say(app::kTextVerifyRecorded, {doc.namePath(t->node)}) << "\n";
      }
      return kExitOk;
    }, a->record ? Access::change : Access::view);
    if (status == kExitOk) status = exit;
  });

  struct WhichArgs {
    std::string path;
    std::vector<std::string> in;
  };
  auto w = std::make_shared<WhichArgs>();
  auto* which = cli.add_subcommand(
      "which", "The disc or folder of the library that a mounted volume or folder belongs to");
  which->add_option("PATH", w->path, "A mounted volume, or a folder on one")->required();
  which->add_option("--in", w->in, "Look in this library file instead (repeat for several); each is opened "
                                   "read-only and shared")
      ->take_all();
  which->footer(
      "A volume is recognised by the UUID its file system had when the item was scanned, or, where either "
      "has none, by its label and size; a folder on a volume without either, by where the item was read "
      "from.\nExit status: 0 when an item was found, 1 when none, 2 on errors.");
  which->callback([&status, g, w] {
    int found = 0;
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      std::error_code ec;
      std::string resolved = std::filesystem::canonical(w->path, ec).string();
      VolumeFacts facts = ec ? VolumeFacts{} : volumeFactsOf(resolved);
      if (!facts.known()) {
        n.error(say(app::kTextWhichNoFolder, {w->path}));
        return kExitErrors;
      }
      std::vector<std::string> libraries = w->in;
      bool several = !libraries.empty();
      if (!several) libraries.push_back(app.library()->path().string());
      std::string out;
      for (const auto& path : libraries) {
        std::unique_ptr<catalog::Library> owned;
        catalog::Library* library = app.library();
        if (several) {
          auto lib = catalog::Library::open(path, true);
          if (!lib) {
            n.error(app.inUserLanguage(lib.error(), path).message);
            return kExitErrors;
          }
          owned = std::move(lib.value());
          library = owned.get();
        }
        const auto& doc = library->catalog();
        std::string shownLibrary = std::filesystem::absolute(path, ec).string();
        std::function<void(const xmlNode*)> visit = [&](const xmlNode* parent) {
          for (const xmlNode* c = parent->children; c; c = c->next) {
            if (CatalogDocument::isCategory(c)) {
              visit(c);
              continue;
            }
            if (!CatalogDocument::isItem(c)) continue;
            auto place = app::placeOnVolume(app::recordedVolume(doc, c), facts, resolved);
            if (!place) continue;
            ++found;
            std::string item = doc.namePath(c);
            if (g->json) {
              out += "{\"library\":" + jsonString(shownLibrary) + ",\"item\":" + jsonString(item) +
                     ",\"itemNumber\":" + std::to_string(CatalogDocument::numberOf(c)) + ",\"path\":" +
                     jsonString(place->inside) + ",\"above\":" + (place->above ? "true" : "false") +
                     ",\"by\":" + jsonString(app::volumeMatchKey(place->by)) + "}\n";
            } else {
              // An item read from a folder below the path says which.
              out += (several ? escapeForTerminal(path) + ": " : "") +
                     escapeForTerminal(place->above            ? item + "  (./" + place->inside + ")"
                                       : place->inside.empty() ? item
                                                               : item + "/" + place->inside) +
                     "\n";
            }
          }
        };
        visit(doc.root());
      }
      std::cout << out << std::flush;
      if (found == 0 && !g->quiet && !g->json) std::cerr << say(app::kTextWhichNone, {w->path}) << "\n";
      return kExitOk;
    }, w->in.empty() ? Access::view : Access::look);
    if (status == kExitOk && found == 0) status = kExitFailure;
  });

  auto* diff = cli.add_subcommand(
      "diff", "What differs between two discs or folders of the library, or one and a folder on disk: added, "
              "removed, changed and moved files");
  diff->add_option("A", a->a, "A disc or folder of the library (as ls prints it), or a folder")->required();
  diff->add_option("B", a->b, "The same for the other side")->required();
  diff->add_flag("--hash", a->hash,
                 "Hash the files of a folder side even when the other side has no hashes (moves and content "
                 "changes are then found by content)");
  diff->add_option("-j,--jobs", a->jobs, "Threads that read files (default: one per processor)")
      ->check(CLI::Range(0, 256));
  diff->add_flag("-q,--quiet", a->quiet, "Show no progress");
  diff->footer(
      "A side that names a disc or folder of the library is taken from the library; otherwise it must be a "
      "folder, which is read now. A moved file is one gone from a path and found at another with the same "
      "content hash, or, where either has none, the same name and size.\n"
      "Exit status: 0 when both sides hold the same files, 1 when they differ, 2 on errors.");
  diff->callback([&status, g, a] {
    CancelOnSignals cancelling;
    int exit = kExitOk;
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      auto& doc = app.library()->catalog();
      struct Side {
        std::optional<Target> item;
        std::string folder;
        app::FileSet files;
      };
      Side sides[2];
      const std::string* texts[2] = {&a->a, &a->b};
      for (int k = 0; k < 2; ++k) {
        auto t = resolve(doc, pathAsTyped(app, *texts[k]), Prefer::item);
        if (t && t->isItem()) {
          sides[k].item = *t;
        } else if (app::isFolder(*texts[k])) {
          sides[k].folder = std::filesystem::absolute(*texts[k]).lexically_normal().string();
          while (sides[k].folder.size() > 1 && sides[k].folder.back() == '/') sides[k].folder.pop_back();
        } else {
          n.error(say(app::kTextDiffNotASide, {*texts[k]}));
          return kExitErrors;
        }
      }
      for (auto& s : sides) {
        if (!s.item) continue;
        auto files = readRecorded(app, *s.item);
        if (!files) {
          n.error(files.message());
          return files.error().code == Errc::cancelled ? 130 : kExitErrors;
        }
        s.files = std::move(files.value());
      }
      bool errors = false;
      for (int k = 0; k < 2; ++k) {
        Side& s = sides[k];
        if (s.folder.empty()) continue;
        scan::AddFolderOptions o;
        o.path = s.folder;
        o.jobs = a->jobs;
        // Hashes are made where the other side has them to compare with.
        o.hash = a->hash || sides[1 - k].files.hashed > 0;
        auto present = readPresent(app, n, *g, o, a->quiet, exit);
        if (!present) {
          n.error(present.message());
          return exit;
        }
        s.files = std::move(present->files);
        errors = errors || !present->unreadable.empty();
      }
      auto comparison = app::compareFileSets(sides[0].files, sides[1].files, true);
      // Between two sides, other content is one more way of being changed.
      for (auto& d : comparison.differences) {
        if (d.kind == app::Difference::damaged) {
          d.kind = app::Difference::changed;
          d.what = "content";
        }
      }
      bool hashes = sides[0].files.hashed > 0 && sides[1].files.hashed > 0;
      exit = report(app, *g, comparison, false, hashes, errors);
      return kExitOk;
    }, Access::view);
    if (status == kExitOk) status = exit;
  });
}

}  // namespace tamber::cli
