// A catalog as a spreadsheet: one row per file or folder of the chosen
// discs and folders, with what was recorded about it, as RFC 4180 CSV in
// UTF-8.
#pragma once

#include <libxml/tree.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/library.h"
#include "platform/result.h"
#include "scan/listing_reader.h"

namespace tamber::app {

// The columns, in order: where the entry is ("item", "path"), what it is
// ("type", "size", "modified", "kind") and the recorded metadata.
const std::vector<std::string>& csvColumns();

// What an entry is, as the "kind" column says: "folder", "track",
// "archive", "document", "audio", "picture", "program", "video" or "".
const char* entryKind(const scan::ListingEntry& entry, bool track);

// One field: quoted when it holds a comma, a quote, a line break or blank
// space at either end, quotes doubled; a text a spreadsheet would take for
// a formula ("=...", "@...", "+x", "-x", or one starting with a tab or a
// carriage return) gets an apostrophe in front.
std::string csvField(std::string_view text);

// Writes the header and a row per entry of every disc and folder of
// `selection` (categories stand for everything below them) to `out`, entry
// by entry. `progress(rows)` is told every so many rows; false stops.
// Returns the rows written. A listing that cannot be read whole fails the
// export, unless `damaged` is given: then it is named there ("ITEM: what is
// wrong"), the rows read of it stay and the other items are written.
// `inside`, when given, holds for each selected disc or folder the path of a
// folder (or file) within it whose entries alone are written (empty: all).
Result<long long> exportCsv(catalog::Library& library, const std::vector<xmlNode*>& selection,
                            const std::function<Status(std::string_view)>& out,
                            const std::function<bool(long long rows)>& progress = {},
                            std::vector<std::string>* damaged = nullptr,
                            const std::vector<std::vector<std::string>>* inside = nullptr);

}  // namespace tamber::app
