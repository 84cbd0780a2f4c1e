// What a report shows and in which order: the report-fields document (its
// levels, their fields, and the user's choices kept on them as the
// attributes "sel" and "srt"), the sort-key tables, and the stylesheet
// edited to carry the sort keys.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/result.h"

namespace tamber::report {

enum class Level { category, fileStructure, fileItems, audioDetails, trackItem, summary };
inline constexpr Level kSortedLevels[] = {Level::category, Level::fileStructure, Level::fileItems,
                                          Level::audioDetails, Level::trackItem};

// "category", "file-structure", "file-items", "audio-details", "track-item",
// "summary": the name in the report-fields document and the stylesheet.
const char* levelName(Level level);
// The level of a name; false when it names none.
bool levelOfName(const std::string& name, Level& level);

struct LevelChoice {
  bool shown = false;
  uint32_t fieldMask = 0;      // bit i: the field at position i is shown
  std::vector<int> sortKeys;   // field positions, first key first
};

// The level's element: "/ReportFields/level[n="category"]", and for the
// sub-levels under their parent's; null when the document lacks it.
xmlNode* levelElement(xmlDoc* fields, Level level);
// The choices kept on a level and its fields. A level whose "sel" is false
// is off and gives nothing else; sorting is on when its own "srt" is 1; the
// fields with a non-zero "srt" are its keys, in ascending "srt".
LevelChoice readChoice(xmlDoc* fields, Level level);

// The seven field lists, in this order: the levels, the fields of
// category, file-structure, file-items, audio-details, track-item, summary.
std::vector<std::vector<std::string>> fieldLists(xmlDoc* fields);

// One sort element: its select expression and data type ("" for text).
struct SortElement {
  const char* select;
  const char* dataType;
};
// The sort elements of a field position; none for a position the table
// does not list.
std::vector<SortElement> sortElements(Level level, int position);

// Replaces the sort elements of every xsl:apply-templates of the
// stylesheet whose select names the level with those of `keys`.
void applySortKeys(xmlDoc* stylesheet, Level level, const std::vector<int>& keys);

// Sets the choices from names, as `tamber report --fields` and `--sort` give
// them: the named fields of a level are shown and the others not; the named
// fields become its sort keys in the order given (the level sorted). An
// unknown level or field is an error naming it.
Status chooseFields(xmlDoc* fields, Level level, const std::vector<std::string>& names);
Status chooseSort(xmlDoc* fields, Level level, const std::vector<std::string>& names);

}  // namespace tamber::report
