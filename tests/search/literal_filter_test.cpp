// The quick look over listing bytes never passes over a listing that holds a
// match: checked against the matcher on names written by the listing writer.

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <random>

#include "scan/listing.h"
#include "search/literal_filter.h"
#include "search/search_criteria.h"

namespace tamber::search {
namespace {

// The filter relies on the letters outside ASCII whose lower case is an
// ASCII letter being exactly these two.
TEST(LiteralFilter, OnlyTwoCharactersOutsideAsciiLowerToAscii) {
  std::vector<UChar32> found;
  for (UChar32 c = 0x80; c <= 0x10FFFF; ++c) {
    if (u_tolower(c) < 0x80) found.push_back(c);
  }
  EXPECT_EQ(found, (std::vector<UChar32>{0x130, 0x212A}));
}

TEST(LiteralFilter, NeverPassesOverAMatch) {
  std::mt19937 rng(11);
  const std::vector<std::string> pieces = {"a", "b", "K", "k", "i", "I", "\xC4\xB0", "\xE2\x84\xAA",
                                           "&", "<", ">", "\"", "'", "]]>", "\r", "\x01",
                                           "\xC3\xA9", "\xC3\x89", "\xE5\x86\x99", " ", "x"};
  const std::vector<std::string> patternPieces = {"a", "B", "k", "K", "i", "&", "<", "]]>", "\r",
                                                  "\xC3\xA9", "\xC3\x89", "\xE5\x86\x99", "*",
                                                  "?", "[a-c]", "[", "x", " "};
  int matched = 0, skipped = 0;
  for (int round = 0; round < 30000; ++round) {
    std::string text, typed;
    for (size_t n = rng() % 7; n > 0; --n) text += pieces[rng() % pieces.size()];
    for (size_t n = 1 + rng() % 4; n > 0; --n) typed += patternPieces[rng() % patternPieces.size()];
    bool caseSensitive = rng() % 2, whole = rng() % 4 == 0;
    std::string pattern = prepareSearchText(typed, whole);
    if (pattern.empty()) continue;
    // The text as the writer stores it, among other entries.
    std::string doc = scan::listingHeader(13) + "<b><c>other</c><e>12</e></b><b>";
    scan::appendTextElement(doc, "c", text);
    doc += "</b></a1>";
    LiteralFilter filter(pattern, caseSensitive, whole, false);
    // What the matcher compares is the text as the listing gives it back.
    std::string stored = text;
    for (auto& c : stored) {
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') c = '.';
    }
    if (Matcher(pattern, caseSensitive, whole).matches(stored)) {
      ++matched;
      ASSERT_TRUE(filter.mayMatch(doc)) << "text \"" << text << "\" pattern \"" << pattern << "\" case "
                                        << caseSensitive << " whole " << whole;
    } else if (!filter.mayMatch(doc)) {
      ++skipped;
    }
  }
  EXPECT_GT(matched, 1000);
  EXPECT_GT(skipped, 1000);  // and it does pass over most others
}

TEST(LiteralFilter, LooksForTheLongestPlainRunAcrossPieceEdges) {
  EXPECT_EQ(LiteralFilter("*ab*holiday?x", false, false, false).literal(), "holiday");
  EXPECT_EQ(LiteralFilter("*Caf\xC3\xA9 Noir", false, false, false).literal(), " noir");
  EXPECT_EQ(LiteralFilter("*Caf\xC3\xA9 Noir", true, false, false).literal(), "Caf\xC3\xA9 Noir");
  EXPECT_EQ(LiteralFilter("*[abc]", false, false, false).literal(), "");
  EXPECT_FALSE(LiteralFilter("*[abc]", false, false, false).active());
  EXPECT_FALSE(LiteralFilter("holiday", false, false, true).active());  // a regular expression
  EXPECT_EQ(LiteralFilter("a*b", false, true, false).literal(), "a*b");  // whole text: as typed
  // A needle cut between two pieces is found when each piece starts with
  // the overlap of the one before.
  LiteralFilter f("*holiday", false, false, false);
  std::string a = std::string(5000, 'x') + "HOLI", b = "DAY" + std::string(100, 'y');
  EXPECT_FALSE(f.mayMatch(a));
  EXPECT_FALSE(f.mayMatch(b));
  EXPECT_TRUE(f.mayMatch(a.substr(a.size() - f.overlap()) + b));
  // A character reference could spell anything.
  EXPECT_TRUE(f.mayMatch("<c>h&#111;liday</c>"));
}

}  // namespace
}  // namespace tamber::search
