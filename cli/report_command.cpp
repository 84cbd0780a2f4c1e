// tamber report: categories, discs and folders of a library as an HTML page
// or an XML document.
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <optional>
#include <sstream>

#include "app/app.h"
#include "browse.h"
#include "commands.h"
#include "common.h"
#include "platform/atomic_file.h"
#include "platform/text.h"
#include "report/collation.h"
#include "report/report.h"
#include "report/report_data.h"

namespace tamber::cli {

namespace {

// "file-items=file-name,file-size" as the level and its field names.
Status parseChoice(const std::string& text, report::Level& level, std::vector<std::string>& names) {
  size_t eq = text.find('=');
  std::string levelName = eq == std::string::npos ? text : text.substr(0, eq);
  if (!report::levelOfName(levelName, level)) {
    return Error{Errc::invalid_argument,
                 "\"" + levelName + "\" is no report level (category, file-structure, file-items, audio-details, "
                 "track-item, summary)"};
  }
  names.clear();
  if (eq != std::string::npos) {
    std::string list = text.substr(eq + 1);
    for (std::string_view n : splitNonEmpty(list, ',')) names.emplace_back(n);
  }
  return {};
}

}  // namespace

void registerReportCommand(CLI::App& cli, int& status, std::shared_ptr<Globals> g) {
  struct Args {
    std::vector<std::string> items;
    std::string format = "html", output, stylesheet, title;
    std::vector<std::string> fields, sort;
    bool covers = false;
  };
  auto a = std::make_shared<Args>();
  auto* report = cli.add_subcommand("report", "Write a report of categories, discs and folders (HTML, XML or RTF)");
  report->add_option("ITEM", a->items, "Categories, discs or folders to report (default: the whole library)");
  report->add_option("--format", a->format, "html (default), xml or rtf (rtf needs -o)")->check(CLI::IsMember({"html", "xml", "rtf"}));
  report->add_option("-o,--output", a->output, "The file to write (default: standard output)");
  report->add_option("--stylesheet", a->stylesheet,
                     "An XSLT stylesheet instead of the default (default: the DefaultXSLFile setting)");
  report->add_option("--fields", a->fields,
                     "LEVEL=NAME,...: the fields a level shows (levels: category, file-structure, file-items, "
                     "audio-details, track-item, summary); LEVEL= alone hides the level; repeatable");
  report->add_option("--sort", a->sort, "LEVEL=NAME,...: the sort keys of a level, first key first; repeatable");
  report->add_option("--title", a->title, "The report's title (default: the library's name)");
  report->add_flag("--covers", a->covers, "Show the cover pictures of discs and folders");
  report->callback([&status, g, a] {
    status = withLibrary(
        *g,
        [&](App& app, app::Notifier& n) {
          if (a->format == "rtf" && a->output.empty()) {
            n.error(say(app::kTextRtfNeedsOutput));
            return kExitUsage;
          }
          auto& doc = app.library()->catalog();
          std::vector<xmlNode*> selection;
          if (a->items.empty()) {
            for (xmlNode* c = doc.root()->children; c; c = c->next) {
              if (catalog::CatalogDocument::isCategory(c) || catalog::CatalogDocument::isItem(c)) selection.push_back(c);
            }
          }
          for (const std::string& item : a->items) {
            auto t = resolve(doc, item, Prefer::none);
            if (!t) {
              n.error(t.message());
              return kExitFailure;
            }
            if (t->node == doc.root()) {
              for (xmlNode* c = doc.root()->children; c; c = c->next) {
                if (catalog::CatalogDocument::isCategory(c) || catalog::CatalogDocument::isItem(c)) selection.push_back(c);
              }
            } else {
              selection.push_back(t->node);
            }
          }
          std::string stylesheet = a->stylesheet;
          if (stylesheet.empty()) stylesheet = app.settings().getText("App-Preference", "DefaultXSLFile");
          auto reporter = report::Reporter::open(stylesheet);
          if (!reporter) {
            n.error(reporter.message());
            return kExitFailure;
          }
          report::Reporter& r = **reporter;
          for (const std::string& choice : a->fields) {
            report::Level level;
            std::vector<std::string> names;
            Status st = parseChoice(choice, level, names);
            if (st && choice.find('=') != std::string::npos && names.empty()) {
              // "LEVEL=" hides the level.
              xmlNode* e = report::levelElement(r.fields(), level);
              if (e) xmlSetProp(e, xml::u("sel"), xml::u("0"));
            } else if (st) {
              st = report::chooseFields(r.fields(), level, names);
            }
            if (!st) {
              n.error(st.message());
              return kExitUsage;
            }
          }
          for (const std::string& choice : a->sort) {
            report::Level level;
            std::vector<std::string> names;
            Status st = parseChoice(choice, level, names);
            if (st) st = report::chooseSort(r.fields(), level, names);
            if (!st) {
              n.error(st.message());
              return kExitUsage;
            }
          }
          r.coversInFiles = r.coversInAudio = a->covers;
          r.applyChoices();
          r.setStandardParameters([&app](int id) { return app.text(id); }, app.language().code());

          report::ReportDataOptions options;
          options.title = a->title.empty() ? app.library()->path().stem().string() : a->title;
          options.kindName = [&app](int kind) { return kindText(app, kind); };
          options.properties = [](const std::vector<std::pair<std::string, std::string>>& fields) {
            return propertiesText(fields);
          };
          options.propertyLabel = [&app](const std::string& key) { return propertyLabel(app, key); };
          // Names sorted as the user's locale sorts them; the XML, which no
          // stylesheet sorts, goes without the keys.
          if (a->format != "xml") {
            options.collationKey = report::collationKey;
            if (std::string why = report::collationProblem(); !why.empty()) {
              std::cerr << warningPrefix() << say(app::kTextCollationMissing, {why}) << "\n";
            }
          }
          options.libraryIdentity = static_cast<long long>(reinterpret_cast<intptr_t>(app.library()));
          // Progress on a terminal: files read, then the transformation.
          bool terminal = !g->quiet && isatty(STDERR_FILENO);
          auto shown = std::chrono::steady_clock::now();
          options.progress = [&](long long files) {
            auto now = std::chrono::steady_clock::now();
            if (terminal && now - shown > std::chrono::milliseconds(200)) {
              std::cerr << "\r" << say(app::kTextReportProgress, {app::groupedNumber(static_cast<uint64_t>(files), app.language().code())})
                        << std::flush;
              shown = now;
            }
            // A reader that went away ends the report now, not after it.
            return a->output.empty() ? !outputPipeClosed() : true;
          };
          struct ClearLine {
            bool on;
            void done() {
              if (on) std::cerr << "\r\033[K" << std::flush;
              on = false;
            }
            ~ClearLine() { done(); }
          } clear{terminal};
          std::vector<std::string> damaged;
          options.damaged = &damaged;
          if (a->format == "rtf") {
            auto data = report::buildReportData(*app.library(), selection, options);
            clear.done();
            if (!data) {
              n.error(data.message());
              return kExitFailure;
            }
            if (Status st = r.rtf(data->get(), a->output); !st) {
              n.error(st.message());
              return kExitFailure;
            }
            if (!g->quiet) std::cerr << say(app::kTextWritten, {a->output}) << "\n";
            return sayDamaged(n, damaged);
          }
          // HTML and XML are written as they are made: to a new file put in
          // place when complete, or to standard output.
          auto output = Output::open(a->output);
          if (!output) {
            n.error(output.message());
            return kExitFailure;
          }
          auto out = [&](std::string_view bytes) { return output->write(bytes); };
          std::vector<std::filesystem::path> madePictures;
          Status st;
          if (a->format == "xml") {
            st = report::writeReportData(*app.library(), selection, options, out);
          } else {
            auto build = [&](const report::PieceHandler* pieces) {
              options.pieces = pieces ? *pieces : report::PieceHandler();
              options.fileItemsSort = pieces ? r.fileItemsSort() : std::vector<report::ReportDataOptions::SortKey>{};
              return report::buildReportData(*app.library(), selection, options);
            };
            auto page = [&](std::string html) -> Result<std::string> {
              clear.done();
              if (!output->toFile()) return html;
              return report::writeCoverPictures(
                  std::move(html), a->output,
                  [&app](const std::string& stream) -> Result<std::string> {
                    auto s = app.library()->file().root().openStream(stream);
                    if (!s) return s.error();
                    return s->readAll();
                  },
                  &madePictures);
            };
            // The page begins before the file trees are read: its first
            // bytes come at once and each item's tree follows when read.
            auto skeleton = [&] { return report::buildReportSkeleton(*app.library(), selection, options); };
            auto flushed = [&](std::string_view bytes) -> Status {
              if (Status written = output->write(bytes); !written) return written;
              return output->toFile() ? Status() : output->finish();  // standard output: flushed
            };
            r.setRowsPerBlock(500);
            st = r.writeHtml(build, page, flushed, skeleton);
          }
          clear.done();
          if (st) st = output->finish();
          if (!st) {
            // A page that could not be written leaves no pictures behind.
            report::removeMade(madePictures);
            // A reader that went away (`| head`) is no error to tell.
            if (a->output.empty() && outputPipeClosed()) return kExitFailure;
            n.error((a->output.empty() ? "" : a->output + ": ") + st.message());
            return kExitFailure;
          }
          if (!a->output.empty() && !g->quiet) std::cerr << say(app::kTextWritten, {a->output}) << "\n";
          return sayDamaged(n, damaged);
        },
        Access::view);
  });
}

}  // namespace tamber::cli
