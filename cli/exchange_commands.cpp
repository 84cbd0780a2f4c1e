// tamber export-xml, export, import and export-csv: catalog content moved
// across files.
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <optional>

#include "app/csv_export.h"
#include "app/html_export.h"
#include "browse.h"
#include "commands.h"
#include "common.h"
#include "exchange/exchange.h"
#include "platform/atomic_file.h"

namespace tamber::cli {

namespace {

// "Export: 12/40" on a terminal, at most five times a second; cleared when
// the work ends. It says stop after Ctrl-C or SIGTERM.
class ProgressLine {
 public:
  ProgressLine(const Globals& g, std::string what) : on_(!g.quiet && isatty(STDERR_FILENO)), what_(std::move(what)) {}
  ~ProgressLine() { clear(); }
  bool operator()(long long done, long long total) {
    auto now = std::chrono::steady_clock::now();
    if (interrupted.load() != 0) return false;
    if (on_ && now - shown_ > std::chrono::milliseconds(200)) {
      std::cerr << "\r" << what_ << ": " << done;
      if (total >= 0) std::cerr << "/" << total;
      std::cerr << std::flush;
      shown_ = now;
      drawn_ = true;
    }
    return true;
  }
  void clear() {
    if (drawn_) std::cerr << "\r\033[K" << std::flush;
    drawn_ = false;
  }

 private:
  bool on_;
  bool drawn_ = false;
  std::string what_;
  std::chrono::steady_clock::time_point shown_{};
};

// The category ITEM names; an error message when it names none.
Result<xmlNode*> categoryOf(CatalogDocument& doc, const std::string& item) {
  auto t = resolve(doc, item, Prefer::category);
  if (!t) return t.error();
  if (t->isItem() || t->node == doc.root()) return Error{Errc::invalid_argument, say(app::kTextNotACategory, {item})};
  return t->node;
}

}  // namespace

void registerExchangeCommands(CLI::App& cli, int& status, std::shared_ptr<Globals> g) {
  {
    struct Args {
      std::string category, output;
      bool noSubcategories = false, noListings = false, noCovers = false;
    };
    auto a = std::make_shared<Args>();
    auto* cmd = cli.add_subcommand("export-xml",
                                   "Write a category with the categories below it as readable XML, with file "
                                   "listings and cover pictures");
    cmd->add_option("CATEGORY", a->category, "The category to export")->required();
    cmd->add_option("-o,--output", a->output, "The XML file to write (cover pictures go beside it)")->required();
    cmd->add_flag("--no-subcategories", a->noSubcategories, "Only the category's own discs and folders");
    cmd->add_flag("--no-listings", a->noListings, "The discs and folders without their file listings");
    cmd->add_flag("--no-covers", a->noCovers, "No cover pictures beside the document");
    cmd->callback([&status, g, a] {
      status = withLibrary(
          *g,
          [&](App& app, app::Notifier& n) {
            auto category = categoryOf(app.library()->catalog(), a->category);
            if (!category) {
              n.error(category.message());
              return kExitFailure;
            }
            CancelOnSignals cancel;
            ProgressLine line(*g, "Export");
            exchange::XmlExportOptions options;
            options.subcategories = !a->noSubcategories;
            options.listings = !a->noListings;
            options.covers = !a->noCovers;
            auto done = exchange::exportXml(*app.library(), *category, a->output,
                                            [&](int d, int total) { return line(d, total); }, options);
            line.clear();
            // A signal that comes after the file was put in place is too
            // late: the file is whole and the command says so.
            if (!done && interrupted.load() != 0) return 128 + interrupted.load();
            if (!done) {
              n.error(done.message());
              return kExitFailure;
            }
            if (!g->quiet) {
              std::cerr << say(app::kTextExportedXml,
                               {a->output, app::countedText(app, static_cast<uint64_t>(done->items), app::kTextItemCount),
                                app::countedText(app, static_cast<uint64_t>(done->pictures), app::kTextCoverCount)})
                        << "\n";
            }
            return sayDamaged(n, done->damaged);
          },
          Access::view);
    });
  }
  {
    struct Args {
      std::string category, file;
      bool force = false;
    };
    auto a = std::make_shared<Args>();
    auto* cmd = cli.add_subcommand("export", "Copy a category with everything below it into a new library file");
    cmd->add_option("CATEGORY", a->category, "The category to export")->required();
    cmd->add_option("FILE", a->file, "The library file to make")->required();
    cmd->add_flag("--force", a->force, "Replace FILE when it exists");
    cmd->callback([&status, g, a] {
      status = withLibrary(
          *g,
          [&](App& app, app::Notifier& n) {
            if (exchange::sameFile(a->file, app.library()->path())) {
              n.error(say(app::kTextSameLibrary));
              return kExitFailure;
            }
            // As `new`: a file is replaced only when asked to.
            std::error_code ec;
            if (!a->force && std::filesystem::exists(std::filesystem::symlink_status(a->file, ec))) {
              n.error(say(app::kTextExistsAlready, {a->file}));
              return kExitFailure;
            }
            auto category = categoryOf(app.library()->catalog(), a->category);
            if (!category) {
              n.error(category.message());
              return kExitFailure;
            }
            CancelOnSignals cancel;
            ProgressLine line(*g, "Export");
            auto done = exchange::exportLibrary(*app.library(), *category, a->file,
                                                [&](int d, int total) { return line(d, total); });
            line.clear();
            // A signal that comes after the file was put in place is too
            // late: the file is whole and the command says so.
            if (!done && interrupted.load() != 0) return 128 + interrupted.load();
            if (!done) {
              n.error(done.message());
              return kExitFailure;
            }
            if (!g->quiet) {
              std::cerr << app::exportedLibraryText(app, app.library()->catalog().field(*category, catalog::kCategoryName),
                                                    a->file, static_cast<uint64_t>(done->items))
                        << "\n";
            }
            return kExitOk;
          },
          Access::view);
    });
  }
  {
    struct Args {
      std::string file, into;
    };
    auto a = std::make_shared<Args>();
    auto* cmd = cli.add_subcommand("import",
                                   "Merge another library file into this one: categories of one name are merged, "
                                   "a taken label gets a distinct one");
    cmd->add_option("FILE", a->file, "The library file to import")->required();
    cmd->add_option("--into", a->into,
                    "The category to import into, each missing step of its path made (default: the top of the "
                    "library)");
    cmd->callback([&status, g, a] {
      status = withLibrary(*g, [&](App& app, app::Notifier& n) {
        if (exchange::sameFile(a->file, app.library()->path())) {
          n.error(say(app::kTextSameLibrary));
          return kExitFailure;
        }
        xmlNode* into = nullptr;
        if (!a->into.empty()) {
          auto& doc = app.library()->catalog();
          auto category = categoryOf(doc, a->into);
          if (!category && category.error().code == Errc::not_found) {
            // Made as add-folder makes its category; saved only with what
            // the import brings.
            auto made = makeCategoryPath(doc, a->into, "");
            if (made) category = doc.category(*made);
          }
          if (!category) {
            n.error(category.message());
            return kExitFailure;
          }
          into = *category;
        }
        CancelOnSignals cancel;
        ProgressLine line(*g, "Import");
        exchange::Copied copied;
        auto done = exchange::importLibrary(*app.library(), a->file, into,
                                            [&](int d, int total) { return line(d, total); }, &copied);
        line.clear();
        // Cancelled, the library stays as it was.
        if (interrupted.load() != 0) return 128 + interrupted.load();
        // What was copied before a failure stays: each disc or folder came
        // whole, with its streams.
        if (!done && copied.items == 0 && copied.categories == 0) {
          n.error(done.message());
          return kExitFailure;
        }
        if (Status st = app.library()->save(); !st) {
          // The library stays as it was; the cause (a full disk ...) is said.
          n.error(std::string(exchange::kCurrentCannotSave) + " (" + st.message() + ")");
          return kExitFailure;
        }
        if (!done) {
          n.error(say(app::kTextImportedBefore,
                      {done.message(), app::countedText(app, static_cast<uint64_t>(copied.items), app::kTextItemCount)}));
          return kExitFailure;
        }
        if (!g->quiet) {
          std::cerr << app::importedLibraryText(app, a->file, static_cast<uint64_t>(done->categories),
                                                static_cast<uint64_t>(done->items),
                                                static_cast<uint64_t>(done->relabelled))
                    << "\n";
        }
        return kExitOk;
      });
    });
  }
  {
    struct Args {
      std::vector<std::string> items;
      std::string output;
    };
    auto a = std::make_shared<Args>();
    auto* cmd = cli.add_subcommand("export-csv",
                                   "Write one row per file of categories, discs and folders as CSV (UTF-8) for a "
                                   "spreadsheet");
    cmd->add_option("ITEM", a->items, "Categories, discs or folders, or folders inside them (default: the whole "
                                      "library)");
    cmd->add_option("-o,--output", a->output, "The CSV file to write (default: standard output)");
    cmd->callback([&status, g, a] {
      status = withLibrary(
          *g,
          [&](App& app, app::Notifier& n) {
            auto& doc = app.library()->catalog();
            std::vector<xmlNode*> selection;
            std::vector<std::vector<std::string>> inside;
            if (a->items.empty()) selection.push_back(doc.root());
            for (const std::string& item : a->items) {
              // A folder inside a disc or folder, as find and ls print it.
              std::vector<std::string> rest;
              auto t = resolve(doc, pathAsTyped(app, item), Prefer::item, &rest);
              if (!t) {
                n.error(t.message());
                return kExitFailure;
              }
              selection.push_back(t->node);
              inside.push_back(std::move(rest));
            }
            auto output = Output::open(a->output);
            if (!output) {
              n.error(output.message());
              return kExitFailure;
            }
            auto out = [&](std::string_view bytes) { return output->write(bytes); };
            CancelOnSignals cancel;
            ProgressLine line(*g, "Rows");
            std::vector<std::string> damaged;
            auto rows = app::exportCsv(*app.library(), selection, out, [&](long long r) { return line(r, -1); },
                                       &damaged, &inside);
            line.clear();
            if (interrupted.load() != 0) return 128 + interrupted.load();
            Status st = rows ? output->finish() : Status{rows.error()};
            if (!st) {
              n.error((a->output.empty() ? "" : a->output + ": ") + st.message());
              return kExitFailure;
            }
            if (output->toFile() && !g->quiet) {
              std::cerr << say(app::kTextExportedCsv,
                               {a->output, app::countedText(app, static_cast<uint64_t>(*rows), app::kTextRowCount)})
                        << "\n";
            }
            return sayDamaged(n, damaged);
          },
          Access::view);
    });
  }
  {
    struct Args {
      std::vector<std::string> items;
      std::string output, title;
      bool noThumbnails = false, force = false;
    };
    auto a = std::make_shared<Args>();
    auto* cmd = cli.add_subcommand("export-html",
                                   "Write categories, discs and folders as a web site that opens from the disk in any "
                                   "browser: the tree, each item's files, thumbnails and a search over the names");
    cmd->add_option("ITEM", a->items, "Categories, discs or folders (default: the whole library)");
    cmd->add_option("-o,--output", a->output, "The folder to write the site into (new or empty)")->required();
    cmd->add_option("--title", a->title, "The site's title (default: the library's file name)");
    cmd->add_flag("--no-thumbnails", a->noThumbnails, "Leave the thumbnails out");
    cmd->add_flag("--force", a->force, "Replace an earlier export in that folder (never a folder of other files)");
    cmd->footer(
        "The site is made beside the folder and put in place when complete: a failed or stopped export leaves "
        "nothing. Open index.html; nothing else is needed.");
    cmd->callback([&status, g, a] {
      status = withLibrary(
          *g,
          [&](App& app, app::Notifier& n) {
            auto& doc = app.library()->catalog();
            std::vector<xmlNode*> selection;
            if (a->items.empty()) selection.push_back(doc.root());
            for (const std::string& item : a->items) {
              auto t = resolve(doc, pathAsTyped(app, item), Prefer::item);
              if (!t) {
                n.error(t.message());
                return kExitFailure;
              }
              selection.push_back(t->node);
            }
            CancelOnSignals cancel;
            ProgressLine line(*g, "Files");
            app::HtmlExportOptions options;
            options.title = a->title;
            options.thumbnails = !a->noThumbnails;
            options.replace = a->force;
            app::speakUsersLanguage(options, app);
            auto stats = app::exportHtml(*app.library(), selection, a->output, options, [&](long long done) {
              return interrupted.load() == 0 && line(done, -1);
            });
            line.clear();
            if (interrupted.load() != 0) return 128 + interrupted.load();
            if (!stats) {
              n.error(stats.message());
              return stats.error().code == Errc::exists || stats.error().code == Errc::invalid_argument ? kExitUsage
                                                                                                      : kExitFailure;
            }
            if (!g->quiet) {
              std::cerr << say(app::kTextExportedHtml,
                               {(std::filesystem::path(a->output) / "index.html").string(),
                                app::countedText(app, static_cast<uint64_t>(stats->items), app::kTextItemCount),
                                app::groupedNumber(static_cast<uint64_t>(stats->entries), app.language().code())})
                        << "\n";
            }
            return sayDamaged(n, stats->damaged);
          },
          Access::view);
    });
  }
}

}  // namespace tamber::cli
