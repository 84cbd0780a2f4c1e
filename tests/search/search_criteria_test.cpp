// The search text, the wildcard matcher (against the documented cases and
// an independent model on random texts), the saved switches and history.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <regex>

#include "app/settings_store.h"
#include "search/search_criteria.h"

namespace tamber::search {
namespace {

bool find(const std::string& text, const std::string& typed, bool caseSensitive = false,
          bool whole = false) {
  return Match(text, prepareSearchText(typed, whole), caseSensitive, whole);
}

TEST(SearchText, PreparationAndTheDocumentedCases) {
  EXPECT_EQ(prepareSearchText("  abc\t", false), "*abc");
  EXPECT_EQ(prepareSearchText("abc*", false), "*abc*");
  EXPECT_EQ(prepareSearchText("?bc", false), "?bc");
  EXPECT_EQ(prepareSearchText("*x", false), "*x");
  EXPECT_EQ(prepareSearchText("   ", false), "");
  EXPECT_EQ(prepareSearchText(" abc ", true), "abc");  // whole text: as typed
  EXPECT_TRUE(find("xxabcyy", "abc"));
  EXPECT_TRUE(find("abcdef", "?bc"));
  EXPECT_FALSE(find("bc", "?bc"));
  EXPECT_TRUE(find("xabcx", "ABC"));
  EXPECT_FALSE(find("xabcx", "ABC", true));
  EXPECT_TRUE(find("xABCx", "ABC", true));
  // Whole text compares with the text as typed, case as asked.
  EXPECT_TRUE(find("Readme.TXT", "readme.txt", false, true));
  EXPECT_FALSE(find("Readme.TXT", "readme.txt", true, true));
  EXPECT_FALSE(find("my readme.txt", "readme.txt", false, true));
}

TEST(SearchText, WildcardsSetsAndTheOpenEnd) {
  EXPECT_TRUE(Match("abc", "a*c", true, false));
  EXPECT_TRUE(Match("abXXc", "a*c", true, false));
  EXPECT_TRUE(Match("abcdef", "a*c", true, false));  // the end stays open
  EXPECT_TRUE(Match("ab", "ab***", true, false));    // only stars left
  EXPECT_FALSE(Match("ab", "ab*?", true, false));
  EXPECT_TRUE(Match("track07.mp3", "track[0-9][0-9]", true, false));
  EXPECT_FALSE(Match("trackA7.mp3", "track[0-9][0-9]", true, false));
  EXPECT_TRUE(Match("photo_b.jpg", "*_[a-c].jpg", false, false));
  EXPECT_TRUE(Match("PHOTO_B.JPG", "*_[a-c].jpg", false, false));  // sets ignore case too
  EXPECT_FALSE(Match("PHOTO_B.JPG", "*_[a-c].jpg", true, false));
  EXPECT_TRUE(Match("x-y", "x[-]y", true, false));
  EXPECT_FALSE(Match("abc", "a[bc", true, false));  // an unterminated set fails
  EXPECT_FALSE(Match("", "a", true, false));
  EXPECT_TRUE(Match("", "", true, false));
  EXPECT_TRUE(Match("", "*", true, false));
  // Characters beyond ASCII are one character each, and fold case.
  EXPECT_TRUE(Match("Été 2019", "?t?", true, false));
  EXPECT_TRUE(Match("ÉTÉ", "été", false, false));
  EXPECT_TRUE(Match("写真フォルダ", "*真*", true, false));
  // Bytes that are not UTF-8 match only themselves.
  EXPECT_TRUE(Match("caf\xE9", "*\xE9", true, false));
  EXPECT_FALSE(Match("caf\xE9", "*\xC3\xA9", true, false));
}

// The model: the pattern as a regular expression anchored at the start.
bool model(const std::string& text, const std::string& pattern, bool caseSensitive) {
  std::string re = "^";
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (c == '*') {
      re += ".*";
    } else if (c == '?') {
      re += ".";
    } else if (c == '[') {
      size_t end = pattern.find(']', i + 1);
      if (end == std::string::npos) return false;
      std::string body = pattern.substr(i + 1, end - i - 1);
      re += body.empty() ? "[^\\s\\S]" : "[" + body + "]";
      i = end;
    } else {
      re += c;
    }
  }
  auto flags = std::regex::ECMAScript | (caseSensitive ? std::regex::flag_type{} : std::regex::icase);
  return std::regex_search(text, std::regex(re, flags), std::regex_constants::match_continuous);
}

TEST(SearchText, AgreesWithAModelOnRandomTextsAndPatterns) {
  std::mt19937 rng(5);
  const std::string letters = "abcAB";
  auto pick = [&](const std::string& from) { return from[rng() % from.size()]; };
  for (int round = 0; round < 20000; ++round) {
    std::string text, pattern;
    for (size_t n = rng() % 8; n > 0; --n) text += pick(letters);
    for (size_t n = rng() % 6; n > 0; --n) {
      switch (rng() % 6) {
        case 0: pattern += '*'; break;
        case 1: pattern += '?'; break;
        case 2: {
          char a = pick("abc"), b = pick("abc");
          if (a > b) std::swap(a, b);
          pattern += std::string("[") + a + (rng() % 2 ? std::string("-") + b : std::string()) + "]";
          break;
        }
        default: pattern += pick(letters);
      }
    }
    bool caseSensitive = rng() % 2;
    ASSERT_EQ(Match(text, pattern, caseSensitive, false), model(text, pattern, caseSensitive))
        << "text \"" << text << "\" pattern \"" << pattern << "\" case " << caseSensitive;
  }
}

TEST(SearchSettings, SwitchesAndHistoryKeepTheirForm) {
  SearchSwitches none;
  EXPECT_EQ(encodeSwitches(none), (1u << 5) | (31u << 7) | (3u << 12));  // archives and every kind
  SearchSwitches s;
  s.useSizeRange = s.maxGiven = s.caseSensitive = true;
  s.searchArchives = false;
  s.kinds = kKindNames | kKindTags;
  uint32_t bits = encodeSwitches(s);
  // Videos have bit 13, and bit 12 says it is there.
  EXPECT_EQ(bits, 2u | 8u | 16u | ((1u | 8u) << 7) | (1u << 12));
  // Settings saved before videos were searched: every kind stays every
  // kind, and a choice of some stays that choice.
  EXPECT_EQ(decodeSwitches((1u << 5) | (31u << 7)).kinds, kAllKinds);
  EXPECT_EQ(decodeSwitches((1u << 5) | (1u << 7)).kinds, kKindNames);
  SearchSwitches back = decodeSwitches(bits);
  EXPECT_EQ(encodeSwitches(back), bits);

  auto dir = std::filesystem::temp_directory_path() / ("tamber-search-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  app::SettingsStore settings;
  ASSERT_TRUE(settings.load(dir / "tamber.cfg", "tester"));
  EXPECT_EQ(encodeSwitches(loadSwitches(settings)), encodeSwitches(SearchSwitches{}));
  saveSwitches(settings, s);
  EXPECT_EQ(encodeSwitches(loadSwitches(settings)), bits);
  for (int i = 0; i < 25; ++i) addToHistory(settings, "text " + std::to_string(i));
  addToHistory(settings, "text 20");  // again: moves to the front, once
  auto history = loadHistory(settings);
  ASSERT_EQ(history.size(), kHistoryLength);
  EXPECT_EQ(history[0], "text 20");
  EXPECT_EQ(history[1], "text 24");
  EXPECT_EQ(std::count(history.begin(), history.end(), "text 20"), 1);
  EXPECT_EQ(history.back(), "text 5");
  ASSERT_TRUE(settings.save());
  app::SettingsStore again;
  ASSERT_TRUE(again.load(dir / "tamber.cfg", "tester"));
  EXPECT_EQ(loadHistory(again), history);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tamber::search
