// tamber add-folder | thumb | archive
//
// add-folder catalogues a folder into a category as a folder item (or
// re-scans one with --update); thumb and archive take a file's stored
// thumbnail and archive listing out of the library.

#include <libxml/parser.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <thread>

#include "browse.h"
#include "app/add_folder.h"
#include "common.h"
#include "scan_job.h"
#include "disc/track.h"
#include "app/item_edit.h"
#include "app/disc_database.h"
#include "app/file_comparison.h"
#include "app/volumes.h"
#include "disc/audio_disc.h"
#include "disc/drive_manager.h"
#include "platform/json.h"
#include "platform/hex_time.h"
#include "platform/xml.h"
#include "scan/add_folder_job.h"
#include "scan/track_edit.h"
#include "scan/image_info.h"
#include "platform/text.h"
#include "platform/volume_facts.h"
#include "scan/listing_reader.h"

namespace tamber::cli {

namespace {

using app::elapsedText;
using app::withCommas;

// A count in a summary, grouped as the user's language writes numbers.
std::string num(const App& app, uint64_t v) { return app::groupedNumber(v, app.language().code()); }



// Sub-folder rules given as SUBDIR=skip,nothumbs,noarchives (SUBDIR below
// `root` unless it begins with "/") added to `rows`, one row per folder;
// what is wrong with the first malformed one, or nothing.
std::string addRules(const std::vector<std::string>& rules, const std::string& root,
                     std::vector<scan::SubfolderRow>& rows) {
  std::map<std::string, size_t> rowOf;
  for (const auto& r : rules) {
    auto eq = r.rfind('=');
    if (eq == std::string::npos || eq == 0) return "--rule " + r + ": expected SUBDIR=skip|nothumbs|noarchives";
    std::string sub = r.substr(0, eq);
    std::string full =
        sub[0] == '/' ? sub : (std::filesystem::absolute(root) / sub).lexically_normal().string();
    while (full.size() > 1 && full.back() == '/') full.pop_back();
    if (!rowOf.count(full)) {
      rowOf[full] = rows.size();
      rows.push_back({full});
    }
    auto& row = rows[rowOf[full]];
    std::stringstream words(r.substr(eq + 1));
    std::string w;
    while (std::getline(words, w, ',')) {
      if (w == "skip") row.skip = true;
      else if (w == "nothumbs") row.noThumbnails = true;
      else if (w == "noarchives") row.noArchives = true;
      else return "--rule " + r + ": \"" + w + "\" is not skip, nothumbs or noarchives";
    }
  }
  return {};
}

int terminalWidth() {
  winsize w{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &w) == 0 && w.ws_col > 20) return w.ws_col;
  return 80;
}

// Cuts a UTF-8 text to `width` characters, keeping its end.
std::string lastCharacters(const std::string& s, size_t width) {
  std::vector<size_t> starts;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  if (starts.size() <= width) return s;
  return "..." + s.substr(starts[starts.size() - width + 3]);
}

void showProgress(const App& app, scan::AddFolderJob& job, bool terminal) {
  auto& c = job.counters();
  std::string text = spoken(c.text.get());
  std::string folder = text.substr(text.find('\n') == std::string::npos ? 0 : text.find('\n') + 1);
  std::string line;
  if (!job.walking()) {
    line = text;
  } else {
    uint64_t progress = c.progress.load(), total = c.total.load();
    int pct = total ? static_cast<int>(std::min<uint64_t>(100, progress * 100 / total)) : -1;
    char percent[16] = "  - %";
    if (pct >= 0) std::snprintf(percent, sizeof percent, "%3d %%", pct);
    if (terminal) {
      // A bar of 20 cells, empty while the total is still being counted.
      int cells = pct < 0 ? 0 : pct / 5;
      line = "[" + std::string(static_cast<size_t>(cells), '#') +
             std::string(static_cast<size_t>(20 - cells), ' ') + "] ";
    }
    line += std::string(percent) + " " +
            app::countedText(app, c.files.load(), app::kTextFileCount) + ", " +
            app::countedText(app, c.folders.load(), app::kTextFolderCount) + "  ";
    if (terminal) {
      int room = terminalWidth() - static_cast<int>(line.size()) - 1;
      line += room > 8 ? lastCharacters("/" + folder, static_cast<size_t>(room)) : "";
    } else {
      line += "/" + folder;
    }
  }
  if (terminal) {
    std::cerr << "\r\033[K" << line << std::flush;
  } else {
    std::cerr << line << "\n";
  }
}

// The item an ITEM argument names (not a category).
Result<Target> resolveItem(CatalogDocument& doc, const std::string& text) {
  auto t = resolve(doc, text);
  if (!t) return t.error();
  if (!t->isItem()) return Error{Errc::invalid_argument, say(app::kTextIsCategory, {text})};
  return t;
}

// The record a file of item ITEM points to by its field `code` (a hex offset)
// in the item's stream of `kind`.
Result<std::string> storedRecord(App& app, const std::string& item, const std::string& file,
                                 const char* code, catalog::StreamKind kind, int missing) {
  auto& doc = app.library()->catalog();
  std::vector<std::string> steps;
  Result<Target> t = Error{Errc::not_found, ""};
  if (file.empty()) {
    // One path, as find and ls print it: the item's, then the file's inside it.
    t = resolve(doc, pathAsTyped(app, item), Prefer::item, &steps);
    if (t && (!t->isItem() || steps.empty())) {
      return Error{Errc::invalid_argument, item + ": " + say(app::kTextNoSuchEntry)};
    }
  } else {
    t = resolveItem(doc, item);
    for (auto piece : splitNonEmpty(file, '/')) steps.emplace_back(piece);
  }
  if (!t) return t.error();
  const std::string& shown = file.empty() ? item : file;
  auto r = scan::fileRecord(app.library()->file().root(), t->category, t->number, steps, code, kind);
  if (r) return r;
  switch (r.error().code) {
    case Errc::not_found:
      return Error{Errc::not_found, file.empty() ? item + ": " + say(app::kTextNoSuchEntry)
                                                 : say(app::kTextNoSuchFileIn, {file, item})};
    case Errc::invalid_argument: return Error{Errc::invalid_argument, say(app::kTextIsFolder, {shown})};
    case Errc::unsupported: return Error{Errc::not_found, say(missing, {shown})};
    default: return r.error();
  }
}

std::string trim(const std::string& text) {
  size_t b = text.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return text.substr(b, text.find_last_not_of(" \t") - b + 1);
}

}  // namespace

const scan::AddFolderResult& runWithProgress(App& app, app::Notifier& n, const Globals& g,
                                             scan::AddFolderJob& job, bool quiet) {
  bool terminal = isatty(STDERR_FILENO);
  job.start();
  auto interval = std::chrono::milliseconds(terminal ? 200 : 2000);
  auto next = std::chrono::steady_clock::now() + interval;
  bool shown = false;
  while (!job.waitFor(std::chrono::milliseconds(50))) {
    if (interrupted.load() != 0) job.cancel();
    if (!quiet && !g.quiet && !g.json && std::chrono::steady_clock::now() >= next) {
      showProgress(app, job, terminal);
      shown = true;
      next += interval;
    }
  }
  const auto& r = job.wait();
  if (shown && terminal) std::cerr << "\r\033[K" << std::flush;
  for (const auto& u : r.unreadable) n.error(fillIn(app.text(app::kTextUnreadableFolder), {u}));
  return r;
}

namespace {

// Runs an add job with progress, files the item, saves the library and says what was added. A job that
// does not end well restores `before`.
int runAddJob(App& app, app::Notifier& n, const Globals& g, const scan::AddFolderOptions& o,
              app::CatalogCheckpoint& before, bool quiet, const std::string& source) {
  auto& lib = *app.library();
  auto& doc = lib.catalog();
  scan::AddFolderOptions options = o;
  options.archiveBudget = app::archiveBudget(app.settings());
  options.userReaders = app::userReaders(app.settings());
  scan::AddFolderJob job(lib, options);
  const auto& r = runWithProgress(app, n, g, job, quiet);
  if (r.outcome != scan::JobOutcome::done) before.restore();
  if (r.outcome == scan::JobOutcome::cancelled) {
    n.error(app.text(app::kTextCancelled));
    // As a shell reports a command ended by the signal: 130, 143.
    return interrupted.load() != 0 ? 128 + interrupted.load() : kExitFailure;
  }
  if (r.outcome == scan::JobOutcome::failed) {
    n.error(fillIn(app.text(app::kTextScanFailed), {source}) + " " + r.message);
    return kExitFailure;
  }
  app::rememberAddFolder(app.settings(), job, o, r);
  if (Status st = app.saveLibrary(); !st) {
    n.error(st.message());
    return kExitFailure;
  }
  std::string where = itemPathText(doc, o.category, r.number);
  bool audio = o.disc && o.disc->playingSeconds > 0;
  if (g.json) {
    std::string un = "[";
    for (size_t i = 0; i < r.unreadable.size(); ++i) {
      un += (i ? "," : "") + jsonString(r.unreadable[i]);
    }
    std::cout << "{\"item\":" << jsonString(where) << ",\"number\":" << r.number
              << ",\"kind\":" << kindJson(app, r.itemKind) << ",\"kindCode\":" << r.itemKind << ",\"files\":" << r.files
              << ",\"folders\":" << r.folders << ",\"bytes\":" << r.bytes
              << ",\"depth\":" << r.depth << ",\"splitParts\":" << r.splitParts
              << ",\"readAnew\":" << r.readAnew << ",\"reused\":" << r.reused
              << ",\"elapsed\":" << jsonString(elapsedText(r.elapsed));
    if (audio) std::cout << ",\"tracks\":" << o.disc->trackCount << ",\"playingTime\":" << o.disc->playingSeconds;
    std::cout << ",\"unreadable\":" << un << "]}\n";
  } else {
    std::cout << fillIn(app.text(app::kTextScanDone),
                        {where, elapsedText(r.elapsed), app.text(app::kTextLibraryUpdated)})
              << "\n"
              << "  ";
    // An audio disc: its tracks and playing time, then the files of its
    // data session if it has one.
    if (audio) {
      std::cout << fillIn(app.text(app::kTextTracksSummary),
                          {app::countedText(app, static_cast<uint64_t>(o.disc->trackCount), app::kTextTrackCount),
                           disc::trackLengthText(static_cast<uint64_t>(o.disc->playingSeconds) * 75)});
      if (r.files + r.folders > 0) std::cout << "; ";
    }
    if (!audio || r.files + r.folders > 0) {
      std::cout << fillIn(app.text(app::kTextScanSummary),
                          {app::countedText(app, r.files, app::kTextFileCount),
                           app::countedText(app, r.folders, app::kTextFolderCount),
                           app::countedText(app, r.bytes, app::kTextByteCount), std::to_string(r.depth)});
    }
    if (r.splitParts > 0) {
      std::cout << ", " << fillIn(app.text(app::kTextListingParts), {std::to_string(r.splitParts)});
    }
    std::cout << "  (" << catalog::joinPath(o.category) << "-" << r.number << ")\n";
    if (r.incremental) {
      std::cout << "  " << fillIn(app.text(app::kTextReadAnew), {num(app, r.readAnew), num(app, r.reused)})
                << "\n";
    }
  }
  return kExitOk;
}

// Walks the folder as a scan would, counting what it would record; nothing
// is read from the files and nothing is written.
int runDryRun(App& app, app::Notifier& n, const Globals& g, const scan::AddFolderOptions& o, bool quiet) {
  scan::AddFolderJob job(o);
  const auto& r = runWithProgress(app, n, g, job, quiet);
  if (r.outcome == scan::JobOutcome::cancelled) {
    n.error(app.text(app::kTextCancelled));
    return interrupted.load() != 0 ? 128 + interrupted.load() : kExitFailure;
  }
  if (r.outcome == scan::JobOutcome::failed) {
    n.error(fillIn(app.text(app::kTextScanFailed), {o.path}) + " " + r.message);
    return kExitFailure;
  }
  const auto& k = r.kinds;
  if (g.json) {
    std::cout << "{\"dryRun\":true,\"path\":" << jsonString(o.path) << ",\"files\":" << r.files
              << ",\"folders\":" << r.folders << ",\"bytes\":" << r.bytes << ",\"depth\":" << r.depth
              << ",\"splitParts\":" << r.splitParts << ",\"pictures\":" << k.pictures
              << ",\"audio\":" << k.audio << ",\"documents\":" << k.documents
              << ",\"archives\":" << k.archives << "}\n";
  } else {
    auto counted = [&](uint64_t n, int singularId) { return app::countedText(app, n, singularId); };
    std::cout << fillIn(app.text(app::kTextDryRun),
                        {counted(r.files, app::kTextFileCount), counted(r.folders, app::kTextFolderCount),
                         counted(r.bytes, app::kTextByteCount), counted(k.pictures, app::kTextPictureCount),
                         counted(k.audio, app::kTextAudioFileCount),
                         counted(k.documents, app::kTextDocumentCount),
                         counted(k.archives, app::kTextArchiveCount)})
              << "\n";
  }
  return kExitOk;
}

// Titles from the disc database for a disc without CD-TEXT: the server's
// matches, one chosen (by --match, by the user on a terminal, or the only
// one), its entry read into the rows. A lookup that fails is said and the
// rows keep their names; several matches and no choice stop the command.
template <class Args>
int lookUpDisc(App& app, app::Notifier& n, const Args& d, const disc::DriveRecord& r, scan::DiscJob& job) {
  disc::CddbClient client;
  if (Status st = app::configureCddbClient(app.settings(), {d.server, d.email, d.proxy}, client); !st) {
    n.error(st.message());
    return kExitUsage;
  }
  client.cancelled = [] { return interrupted.load() != 0; };
  auto site = app::cddbServer(app.settings(), d.server);
  if (!site) {
    n.error(site.message());
    return kExitUsage;
  }
  disc::DiscIdentity id;
  if (!disc::computeDiscIdentity(r.toc, id)) return kExitOk;
  std::vector<disc::CddbMatch> matches;
  if (!client.query(*site, id, matches)) {
    if (interrupted.load() != 0) return 128 + interrupted.load();
    if (client.lastError() != 0 || client.status() == 0) {
      std::cerr << warningPrefix() << app.text(app::kTextCddbFailed) << " " << client.errorText() << "\n";
    } else {
      std::cerr << "tamber: " << site->host << " has no entry for disc " << disc::discIdText(id.discId) << "\n";
    }
    return kExitOk;
  }
  size_t chosen = 0;
  if (matches.size() > 1 || (d.match && *d.match != 1)) {
    for (size_t i = 0; i < matches.size(); ++i) {
      std::cerr << "  " << i + 1 << "  " << matches[i].category << "  " << disc::discIdText(matches[i].discId)
                << "  " << escapeForTerminal(matches[i].artist) << (matches[i].artist.empty() ? "" : " / ")
                << escapeForTerminal(matches[i].title) << "\n";
    }
    if (d.match) {
      if (static_cast<size_t>(*d.match) > matches.size()) {
        n.error(say(app::kTextMatchBeyond, {std::to_string(*d.match), std::to_string(matches.size())}));
        return kExitUsage;
      }
      chosen = static_cast<size_t>(*d.match) - 1;
    } else if (isatty(STDIN_FILENO)) {
      std::cerr << say(app::kTextWhichEntry, {std::to_string(matches.size())}) << " " << std::flush;
      std::string answer;
      std::getline(std::cin, answer);
      int pick = std::atoi(answer.c_str());
      if (pick < 1 || static_cast<size_t>(pick) > matches.size()) return kExitOk;
      chosen = static_cast<size_t>(pick) - 1;
    } else {
      n.error(say(app::kTextChooseWithMatch));
      return kExitUsage;
    }
  }
  disc::DiscEntry entry;
  if (!client.read(*site, matches[chosen].category, matches[chosen].discId, entry)) {
    std::cerr << warningPrefix() << app.text(app::kTextCddbFailed) << " " << client.errorText() << "\n";
    return kExitOk;
  }
  disc::applyDiscEntry(entry, job.tracks, job.texts);
  return kExitOk;
}

// Where a folder item is to be re-scanned from: its recorded root, or the
// same volume mounted elsewhere; nothing when that is not here. An empty
// folder where the item holds files (the mount point of a volume that is
// not mounted, most likely) is never taken for it: the item would lose its
// listing. `emptied` tells that case.
// With `from`, the item is read from there, as the caller says: its volume
// is not looked at.
std::optional<scan::AddFolderOptions> updateOptions(CatalogDocument& doc, const xmlNode* item, bool hash,
                                                    std::string& root, bool& emptied, const std::string& from = "") {
  emptied = false;
  auto o = app::verifyOptions(doc, item, from, hash);
  root = o ? o->path : o.message().empty() ? scan::AddFolderJob::recordedOptions(doc, item).path : o.message();
  if (!o) return std::nullopt;
  std::error_code ec;
  std::string resolved = std::filesystem::canonical(o->path, ec).string();
  if (ec) return std::nullopt;
  app::RecordedVolume volume = app::recordedVolume(doc, item);
  if (volume.known() && from.empty()) {
    auto place = app::placeOnVolume(volume, volumeFactsOf(resolved), resolved);
    if (!place || place->above || !place->inside.empty()) return std::nullopt;
  }
  bool holdsFiles = std::atoll(doc.field(item, catalog::kFiles).c_str()) > 0 ||
                    std::atoll(doc.field(item, catalog::kFolders).c_str()) > 0;
  if (holdsFiles && (std::filesystem::is_empty(resolved, ec) || ec)) {
    emptied = true;
    return std::nullopt;
  }
  return std::move(*o);
}

}  // namespace

void registerScanCommands(CLI::App& cli, int& status, std::shared_ptr<Globals> g) {
  struct Args {
    std::string dir, label, category, comment, filter, update, item, file, out;
    std::optional<int> depth;
    bool noThumbnails = false, noTags = false, noDocs = false, noArchives = false;
    bool exclude = false, quiet = false, longForm = false, xmlOut = false;
    bool full = false, dryRun = false, hash = false;
    int jobs = 0;
    std::vector<std::string> rules;
  };
  auto a = std::make_shared<Args>();

  auto* add = cli.add_subcommand(
      "add-folder", "Catalogue a folder (and everything below it) into the library");
  add->add_option("DIR", a->dir, "The folder to catalogue (with --update: default its location)");
  add->add_option("--label", a->label, "The label the folder is shown under (required unless --update)");
  add->add_option("--category", a->category,
                  "Category path, names joined by /; missing categories are created");
  add->add_option("--comment", a->comment, "A comment stored with the item");
  add->add_option("--depth", a->depth, "Levels to read, the folder itself being 1 (0: unlimited)")
      ->check(CLI::Range(0, 255));
  add->add_flag("--no-thumbnails", a->noThumbnails, "Make no thumbnails of pictures");
  add->add_flag("--no-tags", a->noTags, "Read no audio tags or video properties");
  add->add_flag("--no-docs", a->noDocs, "Read no document information");
  add->add_flag("--no-archives", a->noArchives, "List no archive contents");
  add->add_flag("--hash", a->hash,
                "Record a content hash (XXH3-128) of every file, for dupes, verify and diff "
                "(default: the setting App-Preference HashContents; an item with hashes keeps them)");
  add->add_option("--filter", a->filter,
                  "File name patterns separated by ; (\"*.mp3;*.jpg\"), case ignored");
  add->add_flag("--exclude", a->exclude, "Leave out the files the filter names instead");
  add->add_option("--rule", a->rules,
                  "SUBDIR=skip|nothumbs|noarchives[,...]: options for a subfolder "
                  "(relative to DIR) and everything below it; repeatable");
  add->add_option("--update", a->update,
                  "Re-scan this folder item (ITEM path): only new and changed files are read");
  add->add_flag("--full", a->full, "With --update: read every file again");
  add->add_option("-j,--jobs", a->jobs, "Files read at once (default: one per processor; 1: one at a time)")
      ->check(CLI::Range(1, 256));
  add->add_flag("-n,--dry-run", a->dryRun,
                "Count what a scan would record (files, folders, bytes, pictures, audio, documents, "
                "archives); the library is not opened");
  add->add_flag("-q,--quiet", a->quiet, "Print no progress");
  add->callback([&status, g, a] {
    CancelOnSignals cancelling;
    // A dry run of a re-scan reads the item's options; a dry run of a
    // folder needs no library at all.
    Access access = !a->dryRun ? Access::change : a->update.empty() ? Access::none : Access::view;
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      scan::AddFolderOptions o;
      o.jobs = a->jobs;
      o.full = a->full;
      o.dryRun = a->dryRun;
      o.hash = a->hash || app.settings().getInt("App-Preference", "HashContents", 0) != 0;
      // A re-scan takes what the item was scanned with, unless the command
      // line says otherwise.
      std::optional<scan::AddFolderOptions> recorded;
      o.path = a->dir;
      o.label = a->label;
      o.comment = a->comment;
      if (a->dryRun && a->update.empty()) {
        if (a->dir.empty()) {
          n.error(say(app::kTextAddFolderNeedsDir));
          return kExitUsage;
        }
      } else if (!a->update.empty()) {
        if (!a->category.empty()) {
          n.error(say(app::kTextUpdateKeepsItemCategory));
          return kExitUsage;
        }
        auto& doc = app.library()->catalog();
        auto t = resolveItem(doc, a->update);
        if (!t) {
          n.error(t.error().message);
          return kExitFailure;
        }
        o.category = t->category;
        o.update = t->number;
        recorded = scan::AddFolderJob::recordedOptions(doc, t->node);
        if (o.path.empty()) o.path = recorded->path;
      } else {
        if (a->label.empty() || a->category.empty() || a->dir.empty()) {
          n.error(a->label.empty()
                      ? "Please specify a label for this folder to identify it in the library."
                      : a->dir.empty() ? "add-folder needs the folder (DIR)"
                                       : "add-folder needs --category PATH");
          return kExitUsage;
        }
      }
      if (a->full && a->update.empty()) {
        n.error(say(app::kTextFullGoesWithUpdate));
        return kExitUsage;
      }
      o.depthEntry = a->depth      ? *a->depth
                     : recorded    ? recorded->depthEntry
                                   : app.settings().getInt("App-Preference", "DefaultDepth", 0);
      if (o.depthEntry < 0 || o.depthEntry > 255) o.depthEntry = 0;
      o.thumbnails = !a->noThumbnails && (!recorded || recorded->thumbnails);
      o.tags = !a->noTags && (!recorded || recorded->tags);
      o.documents = !a->noDocs && (!recorded || recorded->documents);
      o.archives = !a->noArchives && (!recorded || recorded->archives);
      o.filterOn = !a->filter.empty();
      o.filter = a->filter.empty() ? "*.*" : a->filter;
      o.exclude = a->exclude;
      if (recorded && a->filter.empty() && !a->exclude) {
        o.filterOn = recorded->filterOn;
        o.filter = recorded->filter;
        o.exclude = recorded->exclude;
      }
      if (a->exclude && a->filter.empty()) {
        n.error(say(app::kTextExcludeNeedsFilter));
        return kExitUsage;
      }
      if (std::string why = scan::FileFilter::problem(a->filter); !why.empty()) {
        n.error("--filter " + a->filter + ": " + why);
        return kExitUsage;
      }
      if (std::string why = addRules(a->rules, o.path, o.rows); !why.empty()) {
        n.error(why);
        return kExitUsage;
      }
      if (recorded && a->rules.empty()) {
        // The recorded rules hang below the recorded root; a re-scan from
        // another folder moves them along.
        std::string from = recorded->path, to = std::filesystem::absolute(o.path).lexically_normal().string();
        while (to.size() > 1 && to.back() == '/') to.pop_back();
        for (auto row : recorded->rows) {
          if (row.path.compare(0, from.size(), from) == 0) row.path = to + row.path.substr(from.size());
          o.rows.push_back(std::move(row));
        }
      }
      // Rules and the label are checked before any category is created.
      o.path = std::filesystem::absolute(o.path).lexically_normal().string();
      if (Status st = scan::AddFolderJob::validate(o); !st) {
        n.error(st.message());
        return kExitUsage;
      }
      if (o.dryRun) return runDryRun(app, n, *g, o, a->quiet);
      // A job that does not end well leaves the catalog as it was, without
      // the categories made for it.
      auto& lib = *app.library();
      auto& doc = lib.catalog();
      app::CatalogCheckpoint before(lib);
      if (!o.update) {
        auto cat = makeCategoryPath(doc, a->category, "");
        if (!cat) {
          n.error(cat.error().message);
          return cat.error().code == Errc::invalid_argument ? kExitUsage : kExitFailure;
        }
        o.category = *cat;
      }

      return runAddJob(app, n, *g, o, before, a->quiet, o.path);
    }, access);
  });

  // update: the folder items whose folders are here, each re-scanned as
  // add-folder --update does, one library after another.
  struct UpdateArgs {
    std::vector<std::string> items, in;
    std::string from;
    bool all = false, dryRun = false, full = false, quiet = false;
    int jobs = 0;
  };
  auto u = std::make_shared<UpdateArgs>();
  auto* update = cli.add_subcommand(
      "update", "Re-scan folder items whose folders are here (only new and changed files are read)");
  update->add_option("ITEM", u->items, "A folder item, or a category: its folder items (as ls prints them)");
  update->add_flag("--all", u->all, "Every folder item of the library");
  update->add_option("--in", u->in, "Update this library file instead (repeat for several)")
      ->allow_extra_args(false)
      ->take_all();
  update->add_option("--from", u->from,
                     "Read the one ITEM from this folder (its volume mounted where it is not recognised, a copy)");
  update->add_flag("-n,--dry-run", u->dryRun, "Say which items would be re-scanned and from where; nothing is read");
  update->add_flag("--full", u->full, "Read every file again");
  update->add_option("-j,--jobs", u->jobs, "Files read at once (default: one per processor; 1: one at a time)")
      ->check(CLI::Range(1, 256));
  update->add_flag("-q,--quiet", u->quiet, "Print no progress");
  update->footer(
      "An item is re-scanned with what it was scanned with (filter, depth, sub-folder rules, hashes) from the "
      "folder it was read from, or from its volume mounted elsewhere (recognised by UUID, or label and size). "
      "An item whose folder is not here, or whose volume's mount point stands empty, is left as it was. Each "
      "item is saved when its scan ends. Disc items are left to add-disc --update.\n"
      "Exit status: 0 when every item found was updated, 1 when one failed, 2 on usage errors.");
  update->callback([&status, g, u] {
    CancelOnSignals cancelling;
    if (u->all == !u->items.empty()) {
      ConsoleNotifier(g->yes).error(say(app::kTextUpdateNeedsItems));
      status = kExitUsage;
      return;
    }
    if (!u->from.empty() && (u->all || u->items.size() != 1 || u->in.size() > 1)) {
      ConsoleNotifier(g->yes).error(say(app::kTextUpdateFromOneItem));
      status = kExitUsage;
      return;
    }
    std::vector<std::string> libraries = u->in;
    if (libraries.empty()) libraries.push_back(g->library);
    status = kExitOk;
    for (const auto& library : libraries) {
      Globals one = *g;
      one.library = library;
      int rc = withLibrary(one, [&](App& app, app::Notifier& n) {
        auto& lib = *app.library();
        auto& doc = lib.catalog();
        if (libraries.size() > 1 && !g->json) std::cout << escapeForTerminal(lib.path().string()) << ":\n";
        // The items first, by number: each scan rewrites the catalog.
        std::vector<std::pair<ItemPath, uint16_t>> items;
        std::function<void(const xmlNode*, ItemPath)> visit = [&](const xmlNode* parent, ItemPath at) {
          for (const xmlNode* c = parent->children; c; c = c->next) {
            if (CatalogDocument::isCategory(c)) {
              ItemPath below = at;
              below.push_back(CatalogDocument::numberOf(c));
              visit(c, below);
            } else if (CatalogDocument::isItem(c) && catalog::isFolderKind(doc.itemKind(c))) {
              items.emplace_back(at, CatalogDocument::numberOf(c));
            }
          }
        };
        if (u->all) visit(doc.root(), {});
        for (const auto& text : u->items) {
          auto t = resolve(doc, pathAsTyped(app, text), Prefer::item);
          if (!t) {
            n.error(t.message());
            return kExitUsage;
          }
          if (!t->isItem()) {
            visit(t->node, t->category);
          } else if (!catalog::isFolderKind(doc.itemKind(t->node))) {
            n.error(say(app::kTextUpdateNotADisc, {text}));
            return kExitUsage;
          } else {
            items.emplace_back(t->category, t->number);
          }
        }
        bool hash = app.settings().getInt("App-Preference", "HashContents", 0) != 0;
        uint64_t updated = 0, absent = 0, failed = 0;
        for (const auto& [category, number] : items) {
          xmlNode* node = doc.item(category, number);
          if (!node) continue;
          std::string where = itemPathText(doc, category, number), root;
          bool emptied = false;
          auto o = updateOptions(doc, node, hash, root, emptied, u->from);
          if (!o) {
            ++absent;
            if (g->json) {
              std::cout << "{\"item\":" << jsonString(where) << ",\"number\":" << number << ",\"status\":"
                        << (emptied ? "\"empty\"" : "\"not present\"") << ",\"path\":" << jsonString(root)
                        << "}\n";
            } else if (!g->quiet) {
              std::cout << escapeForTerminal(say(emptied ? app::kTextUpdateEmptied : app::kTextUpdateNotPresent,
                                                 {where, root}))
                        << "\n";
            }
            continue;
          }
          if (u->dryRun) {
            ++updated;
            if (g->json) {
              std::cout << "{\"item\":" << jsonString(where) << ",\"number\":" << number
                        << ",\"status\":\"would update\",\"path\":" << jsonString(o->path) << "}\n";
            } else {
              std::cout << escapeForTerminal(say(app::kTextUpdateWould, {where, o->path})) << "\n";
            }
            continue;
          }
          o->category = category;
          o->update = number;
          o->full = u->full;
          o->jobs = u->jobs;
          std::cout << std::flush;
          app::CatalogCheckpoint before(lib);
          int one = runAddJob(app, n, *g, *o, before, u->quiet, o->path);
          if (interrupted.load() != 0) return one;
          if (one == kExitOk) ++updated;
          else ++failed;
        }
        if (!g->json && !g->quiet) {
          std::cout << (u->dryRun ? say(app::kTextUpdateWouldSummary, {num(app, updated), num(app, absent)})
                                  : say(app::kTextUpdateSummary, {num(app, updated), num(app, absent), num(app, failed)}))
                    << "\n";
        }
        return failed ? kExitFailure : kExitOk;
      }, u->dryRun ? Access::view : Access::change);
      if (rc != kExitOk && (status == kExitOk || rc > 128)) status = rc;
      if (interrupted.load() != 0) break;
    }
  });

  struct DiscArgs {
    std::string drive, label, category, comment, update, artist, album, genre, year, catalog, price, location;
    std::string server, email, proxy;
    std::optional<int> depth, match;
    std::vector<std::string> rules;
    bool noThumbnails = false, noTags = false, noDocs = false, noArchives = false;
    bool noCddb = false, noEject = false, quiet = false, hash = false;
    int jobs = 0;
  };
  auto d = std::make_shared<DiscArgs>();
  auto* addDisc = cli.add_subcommand(
      "add-disc", "Catalogue the disc in a drive: audio tracks (titles from CD-TEXT), then its files");
  addDisc->add_option("--drive", d->drive, "Drive index, device path (/dev/sr0) or sim:FILE (a simulated drive)");
  addDisc->add_option("--label", d->label, "The label the disc is shown under (default: its album or volume label)");
  addDisc->add_option("--category", d->category, "Category path, names joined by /; missing categories are created");
  addDisc->add_option("--comment", d->comment, "A comment stored with the disc");
  addDisc->add_option("--artist", d->artist, "The disc's artist (audio discs)");
  addDisc->add_option("--album", d->album, "The disc's album title (audio discs)");
  addDisc->add_option("--genre", d->genre, "The disc's genre (audio discs)");
  addDisc->add_option("--year", d->year, "The disc's year (audio discs)");
  addDisc->add_option("--catalog", d->catalog, "The catalog number (default: the disc's own)");
  addDisc->add_option("--price", d->price, "The price paid (12.50 or 12,50)");
  addDisc->add_option("--location", d->location, "Where the disc is kept (a shelf, a box)");
  addDisc->add_option("--depth", d->depth, "Levels of the data session to read (0: unlimited)")
      ->check(CLI::Range(0, 255));
  addDisc->add_flag("--no-thumbnails", d->noThumbnails, "Make no thumbnails of pictures");
  addDisc->add_flag("--no-tags", d->noTags, "Read no audio tags or video properties");
  addDisc->add_flag("--no-docs", d->noDocs, "Read no document information");
  addDisc->add_flag("--no-archives", d->noArchives, "List no archive contents");
  addDisc->add_flag("--hash", d->hash,
                    "Record a content hash (XXH3-128) of every file of the data session "
                    "(default: the setting App-Preference HashContents)");
  addDisc->add_option("--rule", d->rules,
                      "SUBDIR=skip|nothumbs|noarchives[,...]: options for a folder of the data session "
                      "(relative to where it is mounted) and everything below it; repeatable");
  addDisc->add_flag("--no-cddb", d->noCddb, "Do not ask the disc database for titles");
  addDisc->add_option("--server", d->server, "The disc database server, HOST[:PORT][/PATH] (default gnudb.gnudb.org)");
  addDisc->add_option("--email", d->email, "The e-mail address the server is greeted with (USER@HOST)");
  addDisc->add_option("--proxy", d->proxy, "An HTTP proxy, HOST[:PORT]");
  addDisc->add_option("--match", d->match, "Which of several database entries to take (1, 2, ...)")
      ->check(CLI::PositiveNumber);
  addDisc->add_option("--update", d->update, "Re-read the disc into this disc item (ITEM path)");
  addDisc->add_flag("--no-eject", d->noEject, "Leave the disc in the drive afterwards");
  addDisc->add_option("-j,--jobs", d->jobs, "Files of the data session read at once (default: one per processor)")
      ->check(CLI::Range(1, 256));
  addDisc->add_flag("-q,--quiet", d->quiet, "Print no progress");
  addDisc->callback([&status, g, d] {
    CancelOnSignals cancelling;
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      auto& lib = *app.library();
      auto& doc = lib.catalog();
      scan::AddFolderOptions o;
      o.jobs = d->jobs;
      o.hash = d->hash || app.settings().getInt("App-Preference", "HashContents", 0) != 0;
      if (!d->update.empty()) {
        if (!d->category.empty()) {
          n.error(say(app::kTextUpdateKeepsDiscCategory));
          return kExitUsage;
        }
        auto t = resolveItem(doc, d->update);
        if (!t) {
          n.error(t.error().message);
          return kExitFailure;
        }
        o.category = t->category;
        o.update = t->number;
      } else if (trim(d->category).empty()) {
        n.error(say(app::kTextDiscCategoryNeeded));
        return kExitUsage;
      }
      std::string price;
      if (!d->price.empty()) {
        auto v = app::parsePrice(d->price);
        if (!v) {
          n.error(fillIn(app.text(app::kTextPriceNotNumber), {d->price}));
          return kExitUsage;
        }
        price = app::formatPrice(*v);
      }

      disc::CdDriveManager drives;
      auto index = drives.select(d->drive);
      if (!index) {
        n.error(index.message());
        return kExitFailure;
      }
      if (Status st = drives.readDisc(*index); !st) {
        n.error(app.text(app::kTextNoReadableDisc) + " (" + st.message() + ")");
        return kExitFailure;
      }
      const disc::DriveRecord& r = *drives.record(*index);
      scan::DiscJob job = app::discJobOf(r);
      if (!d->catalog.empty()) job.catalogNumber = d->catalog;
      job.price = price;
      job.location = d->location;
      bool audio = r.discType == disc::kDiscAudio || r.discType == disc::kDiscEnhanced;
      if (audio) {
        job.tracks = disc::trackRows(r, app.text(app::kTextTrack));
        auto packs = drives.readCdText(*index);
        if (!packs) std::cerr << warningPrefix() << packs.message() << "\n";
        disc::CdText text = packs ? disc::decodeCdText(*packs) : disc::CdText{};
        if (!text.empty()) {
          disc::applyCdText(text, job.tracks, job.texts);
          if (job.catalogNumber.empty()) job.catalogNumber = job.texts.upc;
        } else if (!d->noCddb) {
          if (int rc = lookUpDisc(app, n, *d, r, job); rc != kExitOk) return rc;
        }
      }
      // What the command line says wins over what the disc says.
      if (!d->artist.empty()) job.texts.artist = d->artist;
      if (!d->album.empty()) job.texts.album = d->album;
      if (!d->genre.empty()) job.texts.genre = d->genre;
      if (!d->year.empty()) job.texts.year = d->year;
      if (!audio && (!d->artist.empty() || !d->album.empty() || !d->genre.empty() || !d->year.empty())) {
        n.error(fillIn(app.text(app::kTextAudioOnly), {"artist, album, genre, year"}));
        return kExitUsage;
      }
      // The label: as given, else the album's title, else the volume label.
      o.label = !d->label.empty() ? d->label : job.texts.album;
      o.comment = d->comment;
      o.depthEntry = d->depth ? *d->depth : app.settings().getInt("App-Preference", "DefaultDepth", 0);
      if (o.depthEntry < 0 || o.depthEntry > 255) o.depthEntry = 0;
      o.thumbnails = !d->noThumbnails;
      o.tags = !d->noTags;
      o.documents = !d->noDocs;
      o.archives = !d->noArchives;
      if (r.discType != disc::kDiscAudio) {
        o.path = drives.mountPoint(*index);
        if (o.path.empty()) {
          n.error(say(app::kTextDiscNotMounted, {r.device, r.device}));
          return kExitFailure;
        }
      }
      if (!d->rules.empty() && o.path.empty()) {
        n.error(say(app::kTextRuleOnAudioCd));
        return kExitUsage;
      }
      if (std::string why = addRules(d->rules, o.path, o.rows); !why.empty()) {
        n.error(why);
        return kExitUsage;
      }
      o.disc = std::move(job);
      if (Status st = scan::AddFolderJob::validate(o); !st) {
        n.error(st.message());
        return kExitUsage;
      }
      app::CatalogCheckpoint before(lib);
      if (!o.update) {
        auto cat = makeCategoryPath(doc, trim(d->category), "");
        if (!cat) {
          n.error(app.text(app::kTextCategoryRefused) + " " + cat.error().message);
          return cat.error().code == Errc::invalid_argument ? kExitUsage : kExitFailure;
        }
        o.category = *cat;
      }
      // The disc stays in the drive while it is read.
      (void)drives.lockMedium(*index, false);
      int rc = runAddJob(app, n, *g, o, before, d->quiet, r.device);
      (void)drives.lockMedium(*index, true);
      if (rc == kExitOk && !d->noEject && app.settings().getInt("App-Preference", "NotEject", 0) == 0) {
        drives.refreshTrayStates();
        if (!drives.record(*index)->trayOpen) {
          if (Status st = drives.toggleTray(*index); !st) std::cerr << warningPrefix() << st.message() << "\n";
        }
      }
      return rc;
    });
  });

  struct TrackArgs {
    std::string item;
    int position = 0;
    std::vector<std::string> edits;
  };
  auto t = std::make_shared<TrackArgs>();
  auto* track = cli.add_subcommand("set-track", "Change the title, performer, composer or songwriter of a track");
  track->add_option("ITEM", t->item, "The audio disc (ITEM path)")->required();
  track->add_option("N", t->position, "The track's number in disc order (1, 2, ...)")->required()->check(
      CLI::PositiveNumber);
  track->add_option("FIELD=VALUE", t->edits, "title=, performer=, composer= or songwriter=")->required();
  track->callback([&status, g, t] {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      auto& doc = app.library()->catalog();
      auto target = resolveItem(doc, t->item);
      if (!target) {
        n.error(target.error().message);
        return kExitFailure;
      }
      // Every edit is checked before any is made.
      std::vector<std::pair<scan::TrackColumn, std::string>> changes;
      for (const auto& e : t->edits) {
        size_t eq = e.find('=');
        std::string field = e.substr(0, eq);
        std::optional<scan::TrackColumn> column;
        if (field == "title") column = scan::TrackColumn::title;
        if (field == "performer") column = scan::TrackColumn::performer;
        if (field == "composer") column = scan::TrackColumn::composer;
        if (field == "songwriter") column = scan::TrackColumn::songwriter;
        if (eq == std::string::npos || !column) {
          n.error(say(app::kTextTrackFields, {e}));
          return kExitUsage;
        }
        changes.emplace_back(*column, e.substr(eq + 1));
      }
      for (const auto& [column, value] : changes) {
        if (Status st = scan::editTrackField(*app.library(), target->category, target->number, t->position, column,
                                             value);
            !st) {
          n.error(st.message());
          return st.error().code == Errc::invalid_argument ? kExitUsage : kExitFailure;
        }
      }
      return kExitOk;
    });
  });

  auto* thumb = cli.add_subcommand("thumb", "Write the stored thumbnail of a picture");
  thumb->add_option("ITEM", a->item, "The picture's path as ls and find print it (or the disc or folder, "
                                      "then FILE)")->required();
  thumb->add_option("FILE", a->file, "The picture inside the disc or folder, names joined by / (older form)");
  thumb->add_option("-o,--output", a->out, "Output file (.jpg or .png; - for the stored bytes)")
      ->required();
  thumb->callback([&status, g, a] {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      auto bytes = storedRecord(app, a->item, a->file, "y", catalog::StreamKind::thumbnails,
                                app::kTextNoThumbnail);
      if (!bytes) {
        n.error(bytes.error().message);
        return kExitFailure;
      }
      if (a->out == "-") {
        std::cout.write(bytes->data(), static_cast<std::streamsize>(bytes->size()));
        return kExitOk;
      }
      if (Status st = writePictureFile(*bytes, a->out); !st) {
        n.error(st.message());
        return kExitFailure;
      }
      return kExitOk;
    }, Access::view);
  });

  auto* arc = cli.add_subcommand("archive", "Show the stored contents of an archive file");
  arc->add_option("ITEM", a->item, "The archive's path as ls and find print it (or the disc or folder, "
                                    "then FILE)")->required();
  arc->add_option("FILE", a->file, "The archive inside the disc or folder, names joined by / (older form)");
  arc->add_flag("--xml", a->xmlOut, "Print the stored description as it is");
  arc->callback([&status, g, a] {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      auto bytes = storedRecord(app, a->item, a->file, "a9", catalog::StreamKind::archives,
                                app::kTextNoArchiveListing);
      if (!bytes) {
        n.error(bytes.error().message);
        return kExitFailure;
      }
      if (a->xmlOut) {
        std::cout << *bytes << "\n";
        return kExitOk;
      }
      // Our own format: a DTD (and so any entity) in it means damage.
      auto archive = scan::parseStoredArchive(*bytes);
      if (!archive) {
        n.error(say(app::kTextArchiveListingDamaged));
        return kExitFailure;
      }
      if (g->json) {
        std::string out = "{\"path\":" + jsonString(archive->path) + ",\"comment\":" +
                          jsonString(archive->comment) + ",\"entries\":[";
        bool first = true;
        for (const auto& m : archive->members) {
          if (!first) out += ",";
          first = false;
          out += "{\"name\":" + jsonString(m.name) + ",\"type\":" + jsonString(m.folder ? "folder" : "file");
          out += ",\"size\":" + numberJson(m.size) + ",\"packed\":" + numberJson(m.packed) +
                 ",\"modified\":" + isoTimeJson(m.modified) + ",\"attributes\":" + jsonString(m.attributes);
          out += "}";
        }
        out += "],\"partial\":" + (archive->partial.empty() ? std::string("null") : jsonString(archive->partial)) + "}";
        std::cout << out << "\n";
        return kExitOk;
      }
      if (!archive->path.empty()) std::cout << "archive: " << archive->path << "\n";
      if (!archive->partial.empty()) std::cout << app::partialListingText(app, archive->partial) << "\n";
      if (!archive->comment.empty()) std::cout << "comment: " << archive->comment << "\n";
      for (const auto& m : archive->members) {
        auto t = parseHexTime(m.modified);
        std::string size = m.folder ? "-" : withCommas(std::strtoull(m.size.c_str(), nullptr, 10));
        char line[64];
        std::snprintf(line, sizeof line, "%15s  %16s  ", size.c_str(),
                      t && *t ? displayTime(*t).c_str() : "");
        std::cout << line << m.name << (m.folder ? "/" : "") << "\n";
      }
      return kExitOk;
    }, Access::view);
  });
}

}  // namespace tamber::cli
