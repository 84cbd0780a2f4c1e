// How recorded values are shown: sizes, times, kinds and file properties
// decoded from their stored form, the same in every front end, as text and
// as JSON.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/app.h"
#include "app/file_comparison.h"
#include "catalog/catalog_document.h"

namespace tamber::app {

// "1234567" or, human, as ls -h prints it: "1.2M", "23K", "512".
std::string sizeText(uint64_t bytes, bool human);
// A recorded HexTime as local "YYYY-MM-DD HH:MM:SS"; "-" when it holds none.
std::string localTimeText(const std::string& hexTime);
// The same as an ISO 8601 JSON string with the offset, or null.
std::string isoTimeJson(const std::string& hexTime);
// A whole number as JSON ("123"), null for empty or other text.
std::string numberJson(const std::string& text);
// The media type's name ("Folder on a hard disk") and as JSON.
std::string kindText(const App& app, int kind);
// Why an archive's stored listing stops short (a StoredArchive's
// "partial"), in the user's language; empty for a whole listing.
std::string partialListingText(const App& app, const std::string& reason);
std::string kindJson(const App& app, int kind);

// A file's recorded properties, decoded: the picture size as width and
// height, numbers as numbers; thumbnails and archive contents as flags
// instead of their stored offsets. Keys are those of `media --json`.
std::vector<std::pair<std::string, std::string>> propertiesText(
    const std::vector<std::pair<std::string, std::string>>& fields);
// A property's key (as propertiesText gives it) as a person reads it, in the
// user's language ("Bit rate" for "bitRateText"); the key itself when it
// has no name.
std::string propertyLabel(const App& app, const std::string& key);
// A property's value (as propertiesText gives it) as a person reads it:
// the document family by its name ("PDF document" for "1"); others as they are.
std::string propertyValueText(const App& app, const std::string& key, const std::string& value);
// propertiesText with the values as a person reads them.
std::vector<std::pair<std::string, std::string>> propertiesForPeople(
    const App& app, const std::vector<std::pair<std::string, std::string>>& fields);
std::string propertiesJson(const std::vector<std::pair<std::string, std::string>>& fields);
// The name a recorded field is shown under: a file's as `media --json` and
// `ls -l` name it ("artist" for "s", "name" for "c", "path" for a part's
// "e3"), a disc's or folder's own (`discField`) as `show` names it
// ("artist", "location"); the code itself for one without a name.
std::string fieldName(std::string_view code, bool discField);

// A job's time as "HH:MM:SS".
std::string elapsedText(std::chrono::steady_clock::duration d);
// "1,234,567" (or with another separator).
std::string withCommas(uint64_t v, std::string_view separator = ",");
// A count as the language `languageCode` writes it: "1,234,567" in
// English, "1 234 567" in French (narrow no-break spaces), "1.234.567" in
// Italian.
std::string groupedNumber(uint64_t v, std::string_view languageCode);
// "1 file" or "12 files": the count grouped as above in the singular or the
// plural text of the user's language. `singularId` names the singular
// text; the plural is the next one. French counts 0 in the singular.
std::string countedText(const App& app, uint64_t n, int singularId);
// What an export and an import say when they are done, on the command line
// and in the desktop program's status bar alike.
std::string exportedLibraryText(const App& app, const std::string& category, const std::string& file,
                                uint64_t items);
std::string importedLibraryText(const App& app, const std::string& file, uint64_t categories,
                                uint64_t items, uint64_t relabelled);
// A label followed by its colon as the language writes it ("Label:",
// French "Libellé :" with a no-break space).
std::string withColon(const App& app, const std::string& label);
// The same in the language of `code` ("fr", ...).
std::string withColon(std::string_view code, const std::string& label);

// The named fields of a disc or folder, in the order they are shown.
const std::vector<std::pair<const char*, int>>& itemFields();
// The name a person reads for one of those fields (or for "number",
// "name", "created", "scanned" and a library's or category's counts) in
// the user's language; an unknown key is given back as it is.
std::string itemFieldLabel(const App& app, std::string_view key);
// What the scan read, as the add-folder dialog names its boxes ("names
// only" when nothing besides names).
// What an item recorded of the volume it was read from, and when a verify
// last found it whole: (key, stored value) pairs in the order shown, only
// those recorded. Sizes are bytes, "lastVerified" a HexTime.
std::vector<std::pair<std::string, std::string>> volumeFields(const catalog::CatalogDocument& doc,
                                                              const xmlNode* item);
// Such a value as a person reads it: sizes made short, the time local.
std::string volumeValueText(const std::string& key, const std::string& value);

// A difference's kind as verify (missing, new) or diff (removed, added)
// names it, in the user's language, and what differs: sizes and times
// from the first side to the second, the error of an unreadable file.
std::string differenceText(const App& app, Difference kind, bool verify);
std::string differenceDetails(const App& app, const FileDifference& d);
// How many differences of each kind there are: "missing 1, new 2".
std::string differenceCounts(const App& app, const Comparison& c, bool verify);

std::string scanOptionsText(const App& app, const std::vector<std::string>& read);

// What a disc's or folder's scan read besides names, from its recorded
// scan settings: "thumbnails", "tags", "documents", "archives" (those that
// were on, in that order); nothing when no settings are recorded (an audio
// CD, an older item).
std::optional<std::vector<std::string>> scanOptionsOf(const catalog::CatalogDocument& doc, const xmlNode* item);

}  // namespace tamber::app
