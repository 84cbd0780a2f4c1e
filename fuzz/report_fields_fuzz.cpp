// Fuzz target: the report-fields document, which lists the fields and sort
// keys of each report level and holds the user's choices. It is installed
// beside the program and may be edited by hand, so it is read as outside
// data. Loads it through the real resource folder (as the program stores
// it, encoded), reads every level's choice, changes the choices as the
// report window does, and transforms a report's data with the result.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "app/symbol_codec.h"
#include "fuzz/report_sample.h"
#include "report/report.h"
#include "report/report_choices.h"

namespace {

namespace fs = std::filesystem;
using namespace tamber::report;

// A copy of the resource folder whose report-fields document each input
// replaces.
const fs::path& resourceCopy() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("report_fields_fuzz." + std::to_string(getpid()));
    fs::create_directories(d);
    fs::copy(reportResourceDirectory(), d, fs::copy_options::overwrite_existing);
    std::atexit([] { std::error_code ec; fs::remove_all(resourceCopy(), ec); });
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (64u << 10)) return 0;
  const fs::path& dir = resourceCopy();
  {
    std::ofstream out(dir / (std::to_string(kReportFields) + ".res"), std::ios::binary | std::ios::trunc);
    out << tamber::app::encodeSymbols(std::string_view(reinterpret_cast<const char*>(data), size)) << "\n";
    if (!out) return 0;
  }
  auto reporter = Reporter::open({}, dir);
  if (!reporter) return 0;
  Reporter& r = **reporter;
  xmlDoc* fields = r.fields();
  auto lists = fieldLists(fields);
  for (Level level : {Level::category, Level::fileStructure, Level::fileItems, Level::audioDetails, Level::trackItem,
                      Level::summary}) {
    (void)readChoice(fields, level);
    (void)levelElement(fields, level);
    size_t index = static_cast<size_t>(level) + 1;  // list 0 names the levels
    if (index < lists.size() && !lists[index].empty()) {
      // Show the last two fields and sort by the first, as a user would.
      std::vector<std::string> names(lists[index].end() - std::min<size_t>(2, lists[index].size()), lists[index].end());
      (void)chooseFields(fields, level, names);
      if (level != Level::summary) (void)chooseSort(fields, level, {lists[index].front()});
    }
    (void)chooseFields(fields, level, {"no such field"});
  }
  r.applyChoices();
  r.setStandardParameters([](int id) { return std::to_string(id); });
  tamber::xml::Doc sample = reportSample();
  if (!sample) __builtin_trap();
  (void)r.html(sample.get());
  return 0;
}
