// A catalog as a static web site that opens from the disk (file://) in any
// browser, with no server and nothing installed: the category tree, each
// disc's or folder's files loaded when it is opened, thumbnails, and a
// search over the names.
#pragma once

#include <libxml/tree.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "catalog/library.h"
#include "platform/result.h"

namespace tamber::app {

class App;

struct HtmlExportOptions {
  std::string title;        // the page's title (default: the library's file name)
  bool thumbnails = true;   // the stored thumbnails as picture files beside the pages
  bool replace = false;     // an earlier export in the folder may be replaced (never any other folder)
  // The page's words in the user's language, in this order: the search
  // box's hint, "loading", "%s found in %s ms", "the first %s shown",
  // "%s files", "cannot read %s"; and the language's code.
  std::vector<std::string> words;
  std::string language = "en";
};

// The page's words and language code as the user reads them.
void speakUsersLanguage(HtmlExportOptions& options, const App& app);

struct HtmlExportStats {
  long long items = 0, entries = 0, thumbnails = 0;
  std::vector<std::string> damaged;  // "ITEM: what is wrong"; the entries read of it stay
};

// The name of the file that marks a folder as one of our exports.
inline constexpr const char* kHtmlExportMark = "tamber-export.txt";

// Whether the folder `dir` may take an export: missing, empty, or holding
// an earlier export when `replace`. `exists` tells whether it is there.
Status checkHtmlTarget(const std::filesystem::path& dir, bool replace, bool& exists);

// Writes the site for `selection` (categories stand for everything below
// them) into the folder `dir`, which must not exist or be empty, or, with
// `replace`, hold an earlier export. The site is made in a new folder beside
// it and put in place when complete: a failed or stopped export leaves
// `dir` as it was. `progress(entries)` is told every so many entries; false
// stops.
Result<HtmlExportStats> exportHtml(catalog::Library& library, const std::vector<xmlNode*>& selection,
                                   const std::filesystem::path& dir, const HtmlExportOptions& options,
                                   const std::function<bool(long long entries)>& progress = {});

}  // namespace tamber::app
