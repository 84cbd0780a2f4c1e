// What a search looks for: the criteria record, the preparation of the
// search text, the wildcard matcher, and the switches and text history the
// find command keeps in the settings between runs.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/names.h"

namespace tamber::app {
class SettingsStore;
}

namespace tamber::search {

// Which recorded texts of a file listing are compared (`kinds` bits).
inline constexpr uint16_t kKindNames = 1;      // file and folder names
inline constexpr uint16_t kKindTracks = 2;     // ISRC, performer, composer, song writer, title
inline constexpr uint16_t kKindPictures = 4;   // comment, camera maker and model
inline constexpr uint16_t kKindTags = 8;       // artist, album, genre, year, lyrics, other tags
inline constexpr uint16_t kKindDocuments = 16; // document and program properties
inline constexpr uint16_t kKindVideos = 32;    // a video's container, codecs, tracks and tags
inline constexpr uint16_t kKindsOfOldSettings = 31;
inline constexpr uint16_t kAllKinds = 63;

struct SearchCriteria {
  std::string pattern;  // prepared (prepareSearchText), UTF-8
  bool caseSensitive = false;
  bool wholeText = false;
  bool searchArchives = true;
  bool useDateRange = false;
  std::time_t dateFrom = 0, dateTo = 0;  // inclusive
  bool useSizeRange = false;
  // 0: no bound. Compared as 64-bit byte counts (x 1024).
  int32_t minSizeKB = 0, maxSizeKB = 0;
  catalog::ItemPath scope;  // empty: the whole library
  uint16_t kinds = kAllKinds;
  // `pattern` is a regular expression (PCRE2, UTF-8), not a wildcard
  // pattern; the case switch applies, a whole-text search anchors it at
  // both ends.
  bool regex = false;
  // A wildcard pattern matches the whole text, as a shell's glob does
  // ("*.png" is not found in "x.png.in"); without it the end stays open.
  bool anchored = false;
  // The pattern is compared with each hit's whole path (category names,
  // label, folders, name, joined by "/") instead of names and texts.
  bool fullPath = false;
  // The size range's maximum applies even when it is 0 (empty files only).
  bool maxGiven = false;
};

// The search box's text made a pattern: trimmed; an ordinary text (not
// starting with "*" or "?") gets a "*" in front, so that it is found
// anywhere. A whole-text search keeps the text as typed: with the "*" no
// whole text could ever equal it.
std::string prepareSearchText(std::string_view typed, bool wholeText);

// Whether `text` matches `pattern` (both UTF-8). Without case, both are
// compared in lower case. Whole text: plain equality. Otherwise the pattern
// is matched from the start of the text: "*" any run (shortest first), "?"
// one character, "[...]" one character of a set of characters and ranges
// ("[a-cx]"; an unterminated set fails), anything else itself; once the
// pattern is used up the rest of the text does not matter.
bool Match(std::string_view text, std::string_view pattern, bool caseSensitive, bool wholeText);

// The prepared pattern, decoded once for matching many texts. One thread
// uses a Matcher at a time.
class Matcher {
 public:
  Matcher(std::string_view pattern, bool caseSensitive, bool wholeText, bool regex = false, bool anchored = false);
  ~Matcher();
  Matcher(Matcher&&) noexcept;
  Matcher& operator=(Matcher&&) = delete;
  bool matches(std::string_view text) const;
  // Why a regular expression does not compile; empty when it does.
  const std::string& error() const { return error_; }
  // Whether the last matches() of a regular expression gave up: the text
  // could not be decided within the time a name may take (its limits were
  // reached), and it counts as no match.
  bool gaveUp() const { return gaveUp_; }
  // The time one text may take a regular expression (default 2 s). It
  // matches with a small step limit first and a larger one while time is
  // left, so that a quick text costs nothing more.
  void setSecondsPerText(double seconds) { secondsPerText_ = seconds; }

 private:
  struct Regex;
  std::u32string pattern_;
  bool caseSensitive_, wholeText_, anchored_ = false;
  std::unique_ptr<Regex> regex_;
  std::string error_;
  mutable std::u32string text_;  // the text being compared, decoded
  mutable bool gaveUp_ = false;
  double secondsPerText_ = 2.0;
};

// The find switches as one integer ("serialized_param"/"param_search"):
// bit 0 date range, 1 size range, 2 minimum given, 3 case, 4 maximum given,
// 5 archives, 6 whole text, 7-11 the kinds.
struct SearchSwitches {
  bool useDateRange = false, useSizeRange = false, minGiven = false, caseSensitive = false,
       maxGiven = false, searchArchives = true, wholeText = false;
  uint16_t kinds = kAllKinds;
};
uint32_t encodeSwitches(const SearchSwitches& s);
SearchSwitches decodeSwitches(uint32_t bits);
SearchSwitches loadSwitches(const app::SettingsStore& settings);
void saveSwitches(app::SettingsStore& settings, const SearchSwitches& s);

// The search texts used last, newest first, at most 20, no duplicates.
inline constexpr size_t kHistoryLength = 20;
std::vector<std::string> loadHistory(const app::SettingsStore& settings);
void addToHistory(app::SettingsStore& settings, const std::string& text);

}  // namespace tamber::search
