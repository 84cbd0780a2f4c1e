// Disc database entries: what a complete entry gives, what makes one fail.
#include <gtest/gtest.h>

#include "disc/disc_entry.h"

namespace tamber::disc {
namespace {

// A complete entry with `body` after its header, in the server's line ends.
std::string entryWith(const std::string& body, const std::string& header = "") {
  std::string text =
      "# xmcd\r\n#\r\n# Track frame offsets:\r\n#\t150\r\n#\t15363\r\n#   32314\r\n#\r\n"
      "# Disc length: 621 seconds\r\n#\r\n# Revision: 3\r\n"
      "# Submitted via: Grip 3.3.1 beta\r\n#\r\n" +
      header + "DISCID=2c025c03\r\n" + body + ".\r\n";
  return text;
}

const std::string kTracks =
    "DTITLE=The Artist / The Album\r\nDYEAR=1998\r\nDGENRE=Jazz\r\n"
    "TTITLE0=One\r\nTTITLE1=Two\r\nTTITLE2=Three\r\nEXTD=\r\nEXTT0=\r\nEXTT1=\r\nEXTT2=\r\nPLAYORDER=\r\n";

TEST(DiscEntry, ACompleteEntry) {
  DiscEntry e;
  ASSERT_TRUE(parseDiscEntry(entryWith(kTracks), e));
  EXPECT_EQ(e.frameOffsets, (std::vector<uint32_t>{150, 15363, 32314}));
  EXPECT_EQ(e.discLengthSeconds, 621);
  EXPECT_EQ(e.revision, 3);
  EXPECT_EQ(e.submitterProgram, "Grip");
  EXPECT_EQ(e.submitterVersion, "3.3.1");
  EXPECT_EQ(e.submitterComment, "beta");
  EXPECT_EQ(e.discId, 0x2c025c03u);
  EXPECT_EQ(e.artist, "The Artist");
  EXPECT_EQ(e.title, "The Album");
  EXPECT_EQ(e.trackTitles, (std::vector<std::string>{"One", "Two", "Three"}));
  EXPECT_EQ(e.year, 1998);
  EXPECT_EQ(e.genre, "Jazz");
  EXPECT_TRUE(e.playOrder.empty());
  // Bare "\n" line ends read the same.
  std::string unix = entryWith(kTracks);
  std::erase(unix, '\r');
  DiscEntry u;
  ASSERT_TRUE(parseDiscEntry(unix, u));
  EXPECT_EQ(u.trackTitles, e.trackTitles);
  EXPECT_EQ(u.frameOffsets, e.frameOffsets);
}

TEST(DiscEntry, TitlesAndValues) {
  DiscEntry e;
  // A title over two lines is joined without a separator; escapes; " // ".
  ASSERT_TRUE(parseDiscEntry(entryWith("DTITLE=Various // Hits\r\nTTITLE0=Part one, \r\nTTITLE0=part two\r\n"
                                       "TTITLE1=Line\\nbreak\\tand \\\\n kept\r\nEXTT0=\r\nEXTT1=\r\n"
                                       "PLAYORDER=3,1,2\r\n"),
                             e));
  EXPECT_EQ(e.artist, "Various");
  EXPECT_EQ(e.title, " Hits");  // the disc record trims it
  EXPECT_EQ(e.trackTitles[0], "Part one, part two");
  EXPECT_EQ(e.trackTitles[1], "Line\nbreak\tand \\n kept");
  EXPECT_EQ(e.playOrder, (std::vector<int>{3, 1, 2}));
  // No separator: both halves are the whole title.
  DiscEntry whole;
  ASSERT_TRUE(parseDiscEntry(entryWith("DTITLE=Just a title\r\n"), whole));
  EXPECT_EQ(whole.artist, "Just a title");
  EXPECT_EQ(whole.title, "Just a title");
  // Older entries in an 8-bit code page, and a value past 512 units.
  DiscEntry old;
  ASSERT_TRUE(parseDiscEntry(entryWith("DTITLE=Caf\xe9 / \xc9t\xe9\r\nTTITLE0=" + std::string(600, 'x') +
                                       "\r\nEXTT0=\r\n"),
                             old));
  EXPECT_EQ(old.artist, "Caf\xc3\xa9");
  EXPECT_EQ(old.title, "\xc3\x89t\xc3\xa9");
  EXPECT_EQ(old.trackTitles[0].size(), 512u);
  // A short DISCID is ignored: the entry then has none.
  DiscEntry shortId;
  std::string text = entryWith(kTracks);
  text.replace(text.find("DISCID=2c025c03"), 15, "DISCID=2c025");
  EXPECT_FALSE(parseDiscEntry(text, shortId));
}

TEST(DiscEntry, IncompleteEntriesFail) {
  DiscEntry e;
  // Ten titles, nine notes.
  std::string body = "DTITLE=A / B\r\n";
  for (int i = 0; i < 10; ++i) body += "TTITLE" + std::to_string(i) + "=t\r\n";
  for (int i = 0; i < 9; ++i) body += "EXTT" + std::to_string(i) + "=\r\n";
  auto st = parseDiscEntry(entryWith(body), e);
  ASSERT_FALSE(st);
  EXPECT_NE(st.message().find("10 track titles but 9"), std::string::npos);
  // No "Submitted via:", everything else present.
  std::string text = entryWith(kTracks);
  text.erase(text.find("# Submitted via:"), std::string("# Submitted via: Grip 3.3.1 beta\r\n").size());
  EXPECT_FALSE(parseDiscEntry(text, e));
  // "Submitted via:" without a version.
  text = entryWith(kTracks);
  text.replace(text.find("Grip 3.3.1 beta"), 15, "Grip");
  EXPECT_FALSE(parseDiscEntry(text, e));
  // No signature, no offsets, no length, no title.
  for (const char* cut : {"# xmcd\r\n", "#\t150\r\n#\t15363\r\n#   32314\r\n", "# Disc length: 621 seconds\r\n",
                          "DTITLE=The Artist / The Album\r\n"}) {
    text = entryWith(kTracks);
    text.erase(text.find(cut), std::string(cut).size());
    EXPECT_FALSE(parseDiscEntry(text, e)) << cut;
  }
}

TEST(DiscEntry, TrackIndexesAreBounded) {
  // A CD has at most 99 tracks: an index past 98 is an error, not an
  // allocation.
  DiscEntry e;
  auto st = parseDiscEntry(entryWith("DTITLE=A\r\nTTITLE4000000000=x\r\n"), e);
  ASSERT_FALSE(st);
  EXPECT_NE(st.message().find("99 tracks"), std::string::npos);
  EXPECT_FALSE(parseDiscEntry(entryWith("DTITLE=A\r\nEXTT99=x\r\n"), e));
  EXPECT_FALSE(parseDiscEntry(entryWith("DTITLE=A\r\nTTITLE-1=x\r\n"), e));
  DiscEntry last;
  EXPECT_TRUE(parseDiscEntry(entryWith("DTITLE=A\r\nTTITLE98=x\r\nEXTT98=\r\n"), last));
  EXPECT_EQ(last.trackTitles.size(), 99u);
  // A later lower index does not drop the titles above it.
  DiscEntry order;
  ASSERT_TRUE(parseDiscEntry(entryWith("DTITLE=A\r\nTTITLE2=c\r\nTTITLE0=a\r\nEXTT0=\r\nEXTT2=\r\n"), order));
  EXPECT_EQ(order.trackTitles, (std::vector<std::string>{"a", "", "c"}));
}

}  // namespace
}  // namespace tamber::disc
