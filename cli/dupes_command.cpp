// tamber dupes: the same file on several discs and folders, across libraries.

#include <cstdio>
#include <filesystem>
#include <iostream>

#include "app/duplicates.h"
#include "app/presentation.h"
#include "commands.h"
#include "common.h"
#include "platform/json.h"

namespace tamber::cli {

void registerDupesCommand(CLI::App& cli, int& status, std::shared_ptr<Globals> g) {
  struct Args {
    std::vector<std::string> in;
    std::string scope, by;
    uint64_t minSize = 1;
    bool print0 = false;
  };
  auto a = std::make_shared<Args>();
  auto* dupes = cli.add_subcommand(
      "dupes", "Groups of identical files across discs, folders and libraries, most space wasted first");
  dupes->add_option("--in", a->in,
                    "Look in this library file instead (repeat for several); each is opened read-only and shared")
      ->take_all();
  dupes->add_option("--scope", a->scope, "Only below this category, disc or folder, or a folder inside a disc");
  dupes->add_option("--min-size", a->minSize, "Only files of at least this many bytes (default 1: empty files are "
                                              "all alike)");
  dupes->add_option("--by", a->by,
                    "hash: the same recorded content hash (the default where hashes were recorded); name-size: "
                    "the same name and size (the default where none were)")
      ->check(CLI::IsMember({"hash", "name-size"}));
  dupes->add_flag("-0,--print0", a->print0,
                  "End each file's path with a NUL byte, and each group with an empty one (names as they are)");
  dupes->footer(
      "Exit status: 0 when there are duplicates, 1 when there are none, 2 when a library could not be read.\n"
      "Each file is shown as ITEM/PATH, the form ls, find and thumb accept, with where its disc is kept.");
  dupes->callback([&status, g, a] {
    CancelOnSignals cancelling;
    int outcome = kExitOk;
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      std::vector<std::string> libraries = a->in;
      bool several = !libraries.empty();
      if (!several) libraries.push_back(app.library()->path().string());
      // Without a choice, hashes are compared where there are any.
      auto run = [&](app::DuplicateFinder& finder) -> int {
        finder.setProgress([] { return interrupted.load() == 0; });
        for (size_t i = 0; i < libraries.size(); ++i) {
          std::unique_ptr<catalog::Library> owned;
          catalog::Library* library = app.library();
          if (several) {
            auto lib = catalog::Library::open(libraries[i], true);
            if (!lib) {
              n.error(app.inUserLanguage(lib.error(), libraries[i]).message);
              return kExitUsage;
            }
            owned = std::move(lib.value());
            library = owned.get();
          }
          catalog::ItemPath scope;
          uint16_t item = 0;
          std::string within;
          if (!a->scope.empty()) {
            std::vector<std::string> rest;
            auto r = resolve(library->catalog(), pathAsTyped(*library, a->scope), Prefer::item, &rest);
            if (!r) {
              n.error((several ? libraries[i] + ": " : "") + r.message());
              return kExitUsage;
            }
            scope = r->category;
            if (r->isItem()) item = r->number;
            for (const auto& step : rest) within += (within.empty() ? "" : "/") + step;
          }
          if (Status st = finder.add(*library, i, scope, item, within); !st) {
            n.error(st.message());
            return kExitUsage;
          }
          if (interrupted.load()) return 130;
        }
        return kExitOk;
      };
      auto by = a->by == "name-size" ? app::DuplicatesBy::nameSize : app::DuplicatesBy::hash;
      auto finder = std::make_unique<app::DuplicateFinder>(by, std::max<uint64_t>(a->minSize, 1));
      if (int rc = run(*finder); rc != kExitOk) return rc;
      if (a->by.empty() && !finder->anyHashed()) {
        // Nothing was hashed: names and sizes are all there is to compare.
        by = app::DuplicatesBy::nameSize;
        finder = std::make_unique<app::DuplicateFinder>(by, std::max<uint64_t>(a->minSize, 1));
        if (int rc = run(*finder); rc != kExitOk) return rc;
        if (!g->quiet) std::cerr << warningPrefix() << say(app::kTextDupesByNameSize) << "\n";
      } else if (by == app::DuplicatesBy::hash && finder->hashed() < finder->files() && !g->quiet) {
        std::cerr << warningPrefix() << say(app::kTextDupesUnhashed,
                      {std::to_string(finder->files() - finder->hashed()), std::to_string(finder->files())})
                  << "\n";
      }
      std::string out;
      uint64_t wasted = 0;
      std::error_code ec;
      std::vector<std::string> shownLibraries;
      for (const auto& l : libraries) shownLibraries.push_back(std::filesystem::absolute(l, ec).string());
      const std::string byName = by == app::DuplicatesBy::hash ? "hash" : "name-size";
      const std::string locationLabel = app::withColon(app, app::itemFieldLabel(app, "location"));
      bool written = true;
      size_t groups = finder->forEachGroup([&](const app::DuplicateGroup& group) {
        wasted += group.wasted();
        if (g->quiet) return true;
        if (g->json) {
          out += "{\"by\":" + jsonString(byName) + ",\"" + (by == app::DuplicatesBy::hash ? "hash" : "name") +
                 "\":" + jsonString(group.key) + ",\"size\":" + std::to_string(group.size) +
                 ",\"count\":" + std::to_string(group.files.size()) + ",\"wasted\":" +
                 std::to_string(group.wasted()) + ",\"files\":[";
          for (size_t k = 0; k < group.files.size(); ++k) {
            const auto& f = group.files[k];
            out += std::string(k ? "," : "") + "{\"library\":" + jsonString(shownLibraries[f.library]) +
                   ",\"item\":" + jsonString(f.item) + ",\"itemNumber\":" + std::to_string(f.itemNumber) +
                   ",\"path\":" + jsonString(f.path()) + ",\"location\":" + jsonString(f.location) + "}";
          }
          out += "]}\n";
        } else if (a->print0) {
          for (const auto& f : group.files) {
            out += (several ? libraries[f.library] + ": " : "") + f.item + "/" + f.path();
            out.push_back('\0');
          }
          out.push_back('\0');
        } else {
          out += escapeForTerminal(group.key) + "  " +
                 say(app::kTextDupesGroup, {std::to_string(group.files.size()), app::sizeText(group.size, true),
                                            app::sizeText(group.wasted(), true)}) +
                 "\n";
          for (const auto& f : group.files) {
            out += "  " + (several ? escapeForTerminal(libraries[f.library]) + ": " : "") +
                   escapeForTerminal(f.item + "/" + f.path());
            if (!f.location.empty()) out += "  (" + locationLabel + " " + escapeForTerminal(f.location) + ")";
            out += "\n";
          }
        }
        if (out.size() > (1u << 16)) {
          // A reader that went away (`| head`) ends the output.
          written = std::fwrite(out.data(), 1, out.size(), stdout) == out.size();
          out.clear();
        }
        return written;
      });
      if (written && !out.empty()) written = std::fwrite(out.data(), 1, out.size(), stdout) == out.size();
      if (!written || std::fflush(stdout) != 0) return kExitFailure;
      std::fflush(stdout);
      if (!g->json && !g->quiet && !a->print0) {
        if (groups == 0) {
          std::cerr << say(app::kTextDupesNone) << "\n";
        } else {
          std::cerr << app::countedText(app, groups, app::kTextDupesGroups) << ", "
                    << say(app::kTextDupesWasted, {app::sizeText(wasted, true)}) << "\n";
        }
      }
      outcome = groups == 0 ? kExitFailure : kExitOk;
      return kExitOk;
    }, a->in.empty() ? Access::view : Access::look);
    if (status == kExitOk) status = outcome;
  });
}

}  // namespace tamber::cli
