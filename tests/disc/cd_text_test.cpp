// CD-TEXT packs as a drive returns them: disc and track texts of the first
// block, a second block passed over, the disc artist rule.
#include <gtest/gtest.h>

#include "disc/cd_text.h"

namespace tamber::disc {
namespace {

// The packs of one text stream as a mastering program lays them out: the
// items joined with zero bytes, cut into 12-byte pieces, each pack naming
// the track its first character belongs to and its character position.
std::string stream(int type, const std::vector<std::string>& items, int block = 0, int* sequence = nullptr) {
  static int seq = 0;
  if (!sequence) sequence = &seq;
  std::string text;
  std::vector<int> trackOf;
  for (size_t i = 0; i < items.size(); ++i) {
    text += items[i];
    text += '\0';
    trackOf.resize(text.size(), static_cast<int>(i));
  }
  while (text.size() % 12) text += '\0', trackOf.push_back(trackOf.back());
  std::string packs;
  for (size_t at = 0; at < text.size(); at += 12) {
    int track = trackOf[at];
    int position = 0;
    for (size_t back = at; back > 0 && trackOf[back - 1] == track; --back) ++position;
    packs += static_cast<char>(type);
    packs += static_cast<char>(track);
    packs += static_cast<char>((*sequence)++);
    packs += static_cast<char>(block << 4 | std::min(position, 15));
    packs += text.substr(at, 12);
    packs += std::string(2, '\0');  // the check bytes
  }
  return packs;
}

TEST(CdText, DiscAndTrackTextsOfTheFirstBlock) {
  std::string packs = stream(0x80, {"Blue Train", "Blue Train", "Moment's Notice", "Locomotion"}) +
                      stream(0x81, {"", "John Coltrane", "\t", "John Coltrane"}) +
                      stream(0x83, {"", "J. Coltrane", "J. Coltrane", ""}) +
                      stream(0x8E, {"0724349532729", "USBN20100101", "", ""}) +
                      stream(0x87, {std::string("\x00\x0b", 2) + " Jazz "}) +
                      // The same disc in a second language.
                      stream(0x80, {"Train bleu", "Train bleu", "Notice", "Locomotive"}, 1);
  CdText t = decodeCdText(packs);
  EXPECT_EQ(t.disc.title, "Blue Train");
  EXPECT_EQ(t.disc.code, "0724349532729");
  ASSERT_EQ(t.tracks.size(), 3u);
  EXPECT_EQ(t.tracks[1].title, "Moment's Notice");
  EXPECT_EQ(t.tracks[2].title, "Locomotion");  // not the second block's
  EXPECT_EQ(t.tracks[1].performer, "John Coltrane");  // a tab repeats the track before
  EXPECT_EQ(t.tracks[0].composer, "J. Coltrane");
  EXPECT_EQ(t.tracks[0].code, "USBN20100101");
  EXPECT_EQ(t.genre, "Jazz");
  EXPECT_EQ(discArtist(t), "John Coltrane");
  EXPECT_FALSE(t.empty());

  // Two performers and no disc performer: "Various"; a disc performer wins.
  CdText various = decodeCdText(stream(0x80, {"Hits", "One", "Two"}) + stream(0x81, {"", "A", "B"}));
  EXPECT_EQ(discArtist(various), "Various");
  CdText named = decodeCdText(stream(0x81, {"The Band", "A", "B"}));
  EXPECT_EQ(discArtist(named), "The Band");
}

TEST(CdText, OddPacks) {
  // Text in ISO 8859-1; a trailing piece shorter than a pack; other pack
  // types (the size information) and double-byte packs passed over.
  std::string packs = stream(0x80, {"Caf\xe9", "\xc9t\xe9"});
  std::string sizeInfo(18, '\0');
  sizeInfo[0] = static_cast<char>(0x8F);
  std::string kanji = stream(0x81, {"\x93\xfa\x96\x7b", "x"});
  kanji[3] = static_cast<char>(kanji[3] | 0x80);
  CdText t = decodeCdText(packs + sizeInfo + kanji + "\x80\x01\x02");
  EXPECT_EQ(t.disc.title, "Caf\xc3\xa9");
  ASSERT_EQ(t.tracks.size(), 1u);
  EXPECT_EQ(t.tracks[0].title, "\xc3\x89t\xc3\xa9");
  EXPECT_TRUE(t.disc.performer.empty());
  // Nothing at all, and more items than a disc has tracks.
  EXPECT_TRUE(decodeCdText("").empty());
  std::vector<std::string> many(150, "t");
  EXPECT_EQ(decodeCdText(stream(0x80, many)).tracks.size(), 99u);
}

}  // namespace
}  // namespace tamber::disc
