// tamber index: how the library's name index stands, and rebuilding,
// checking or removing it.

#include <cstdio>
#include <iostream>

#include "commands.h"
#include "common.h"
#include "platform/json.h"
#include "search/name_index.h"

namespace tamber::cli {

namespace {

std::string perText(const search::NameIndexReport& r) {
  if (r.texts == 0) return "0";
  char each[32];
  std::snprintf(each, sizeof each, "%.1f", static_cast<double>(r.bytes) / static_cast<double>(r.texts));
  return each;
}

// The report, as text or JSON; returns whether all is well.
bool show(const search::NameIndexReport& r, const Globals& g, app::Notifier& n) {
  bool good = r.current && r.problems.empty() && r.itemsIndexed == r.items;
  if (g.json) {
    std::string out = "{\"current\":" + std::string(r.current ? "true" : "false") +
                      ",\"items\":" + std::to_string(r.items) + ",\"itemsIndexed\":" + std::to_string(r.itemsIndexed) +
                      ",\"texts\":" + std::to_string(r.texts) + ",\"bytes\":" + std::to_string(r.bytes) +
                      ",\"listingBytes\":" + std::to_string(r.listingBytes) + ",\"problems\":[";
    for (size_t i = 0; i < r.problems.size(); ++i) out += (i ? "," : "") + jsonString(r.problems[i]);
    std::cout << out << "]}\n";
    return good;
  }
  if (g.quiet) return good;
  std::cout << say(app::kTextIndexSummary,
                   {std::to_string(r.itemsIndexed), std::to_string(r.items), std::to_string(r.bytes),
                    std::to_string(r.texts), perText(r), std::to_string(r.listingBytes)})
            << "\n";
  for (const auto& p : r.problems) n.error(p);
  std::cout << say(good ? app::kTextIndexCurrent : app::kTextIndexStale) << "\n";
  return good;
}

}  // namespace

void registerIndexCommand(CLI::App& cli, int& status, std::shared_ptr<Globals> g) {
  struct Args {
    bool rebuild = false, check = false, drop = false;
  };
  auto a = std::make_shared<Args>();
  auto* index = cli.add_subcommand("index", "Show the library's name index, which makes searches of names fast");
  auto* rebuild = index->add_flag("--rebuild", a->rebuild, "Make the index of every disc and folder afresh");
  auto* check = index->add_flag("--check", a->check,
                                "Read every listing and compare it with its index (exit 1 when one is stale or damaged)");
  auto* drop = index->add_flag("--drop", a->drop, "Remove the index (the next change to the library makes it again)");
  rebuild->excludes(check)->excludes(drop);
  check->excludes(drop);
  index->footer(
      "The index is kept in step by every command that changes the library; a search uses it only when it matches "
      "the listings, and reads the listings whole otherwise.\n"
      "Exit status: 0 when the index is current, 1 when it is missing, stale or damaged, or the command failed.");
  index->callback([&status, g, a] {
    bool changes = a->rebuild || a->drop;
    status = withLibrary(
        *g,
        [&](App& app, app::Notifier& n) -> int {
          catalog::Library& library = *app.library();
          if (a->drop || a->rebuild) {
            if (Status st = search::dropNameIndex(library); !st) {
              n.error(library.path().string() + ": " + st.message());
              return kExitFailure;
            }
            if (a->drop) {
              // Saved without the step that would make it again.
              catalog::Library::setBeforeSave(nullptr);
              Status st = library.save();
              search::installNameIndex();
              if (!st) {
                n.error(st.message());
                return kExitFailure;
              }
              if (!g->quiet && !g->json) std::cout << say(app::kTextIndexDropped) << "\n";
              return kExitOk;
            }
            if (Status st = library.save(); !st) {
              n.error(st.message());
              return kExitFailure;
            }
            if (!g->quiet && !g->json) std::cout << say(app::kTextIndexRebuilt) << "\n";
          }
          bool good = show(search::inspectNameIndex(library, a->check), *g, n);
          return good ? kExitOk : kExitFailure;
        },
        changes ? Access::change : Access::view);
  });
}

}  // namespace tamber::cli
