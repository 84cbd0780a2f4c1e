// The Monkey's Audio reader on files built byte by byte from the format (no
// encoder is packaged): both header layouts, every compression level, APE
// tags of versions 1000 and 2000, an ID3v1 tag alone, and link files.
#include <gtest/gtest.h>

#include <fstream>

#include "media/media.h"
#include "media/text_util.h"
#include "platform/utf.h"
#include "tests/temp_dir.h"

namespace {

using tamber::test_support::TempDir;

std::string s8(const std::u16string& s) { return tamber::media::toUtf8(s); }

std::string le(uint64_t v, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += static_cast<char>(v >> (8 * i) & 0xFF);
  return out;
}

// A current file (3.98 and later): descriptor, header, then `audio` bytes.
std::string currentHeader(int version, int level, int channels, int rate, int bits, uint32_t frames,
                          uint32_t blocksPerFrame, uint32_t finalBlocks, size_t audio) {
  std::string d = "MAC " + le(version, 2) + le(0, 2) + le(52, 4) + le(24, 4) + le(0, 4) + le(0, 4) +
                  le(audio, 4) + le(0, 4) + le(0, 4) + std::string(16, '\0');
  std::string h = le(level, 2) + le(0, 2) + le(blocksPerFrame, 4) + le(finalBlocks, 4) + le(frames, 4) +
                  le(bits, 2) + le(channels, 2) + le(rate, 4);
  return d + h + std::string(audio, '\x33');
}

// An older file: the single header.
std::string oldHeader(int version, int level, int flags, int channels, int rate, uint32_t frames,
                      uint32_t finalBlocks, size_t audio) {
  return "MAC " + le(version, 2) + le(level, 2) + le(flags, 2) + le(channels, 2) + le(rate, 4) + le(0, 4) +
         le(0, 4) + le(frames, 4) + le(finalBlocks, 4) + std::string(audio, '\x33');
}

// An APE tag of `version` with its footer (and, for 2000, its header).
std::string apeTag(int version, const std::vector<std::pair<std::string, std::string>>& items) {
  std::string body;
  for (const auto& [name, value] : items) body += le(value.size(), 4) + le(0, 4) + name + '\0' + value;
  uint32_t size = static_cast<uint32_t>(body.size() + 32);
  auto part = [&](uint32_t flags) {
    return std::string("APETAGEX") + le(version, 4) + le(size, 4) + le(items.size(), 4) + le(flags, 4) +
           std::string(8, '\0');
  };
  return (version == 2000 ? part(0xA0000000) : "") + body + part(version == 2000 ? 0x80000000 : 0);
}

std::string id3v1(const std::string& title, const std::string& artist, int track, int genre) {
  std::string t = "TAG";
  auto field = [&](const std::string& s, size_t n) { t += (s + std::string(n, '\0')).substr(0, n); };
  field(title, 30);
  field(artist, 30);
  field("Album one", 30);
  field("1997", 4);
  field("Note", 28);
  t += '\0';
  t += static_cast<char>(track);
  t += static_cast<char>(genre);
  return t;
}

class ApeFiles : public ::testing::Test {
 protected:
  TempDir dir;
  CGeneralTagsInfo tags;
  void SetUp() override { tags.CreateForAnalysis(); }
  int read(const std::string& name, const std::string& bytes) {
    std::ofstream(dir.path / name, std::ios::binary) << bytes;
    return tags.loadInfo(*tamber::utf8ToUtf16((dir.path / name).string()), kAudioApe);
  }
};

TEST_F(ApeFiles, BothHeaderLayoutsAndEveryLevel) {
  // 3.99: 10 frames of 73728 blocks at 44100 Hz, the last holding 22050.
  ASSERT_EQ(read("new.ape", currentHeader(3990, 2000, 2, 44100, 16, 10, 73728, 22050, 100000)), 1);
  EXPECT_EQ(s8(tags.codecText), "Monkey's Audio 3.99");
  EXPECT_EQ(s8(tags.compressionText), "Normal");
  EXPECT_EQ(tags.sampleRate, 44100);
  uint64_t blocks = 9ull * 73728 + 22050;
  int64_t ms = static_cast<int64_t>(blocks * 1000 / 44100);
  EXPECT_EQ(s8(tags.durationText), tamber::media::toUtf8(DurationText(static_cast<int>(ms / 1000))));
  char kbps[32];
  std::snprintf(kbps, sizeof kbps, "%.1f kbps", (76.0 + 100000) * 8.0 / static_cast<double>(ms));
  EXPECT_EQ(s8(tags.bitRateText), kbps);
  EXPECT_EQ(tags.fileSize, 76 + 100000);
  for (auto [level, text] : {std::pair{1000, "Fast"}, {3000, "High"}, {4000, "Extra High"}, {5000, ""}}) {
    ASSERT_EQ(read("level.ape", currentHeader(3990, level, 1, 22050, 24, 1, 73728, 1000, 10)), 1);
    EXPECT_EQ(s8(tags.compressionText), text) << level;
  }
  // 3.97, the older layout: 3 frames of 294912 blocks (3.95 and later).
  ASSERT_EQ(read("old.ape", oldHeader(3970, 3000, 0, 2, 48000, 3, 48000, 5000)), 1);
  EXPECT_EQ(s8(tags.codecText), "Monkey's Audio 3.97");
  EXPECT_EQ(s8(tags.compressionText), "High");
  EXPECT_EQ(s8(tags.durationText), tamber::media::toUtf8(DurationText((2 * 294912 + 48000) / 48000)));
  // 3.80 extra high: 73728 blocks a frame; 3.80 normal: 9216.
  ASSERT_EQ(read("x.mac", oldHeader(3800, 4000, 0, 1, 8000, 2, 8000, 10)), 1);
  EXPECT_EQ(s8(tags.durationText), tamber::media::toUtf8(DurationText((73728 + 8000) / 8000)));
  ASSERT_EQ(read("n.mac", oldHeader(3800, 2000, 0, 1, 8000, 2, 8000, 10)), 1);
  EXPECT_EQ(s8(tags.durationText), tamber::media::toUtf8(DurationText((9216 + 8000) / 8000)));
  // What is no Monkey's Audio file.
  EXPECT_EQ(read("no.ape", "MAC but nothing else"), 0);
  EXPECT_EQ(read("zero.ape", oldHeader(3970, 2000, 0, 0, 44100, 1, 1, 10)), 0);
  EXPECT_EQ(read("wav.ape", "RIFF" + std::string(100, '\0')), 0);
}

TEST_F(ApeFiles, Tags) {
  std::string audio = currentHeader(3990, 2000, 2, 44100, 16, 1, 73728, 44100, 1000);
  // Version 2000: UTF-8, "Track" 05/12, unmapped items as lines, a value
  // over 128 bytes passed over, control characters scrubbed with a blank.
  ASSERT_EQ(read("v2.ape", audio + apeTag(2000, {{"Title", "  Été\x01à Noël "},
                                                  {"Artist", "Ærø Band"},
                                                  {"Track", "05/12"},
                                                  {"Year", "2001-02-03"},
                                                  {"Composer", "J. S. Bach"},
                                                  {"Lyrics", std::string(200, 'l')},
                                                  {"Genre", ""},
                                                  {"Comment", "Fine"}})),
            1);
  EXPECT_EQ(s8(tags.title), "Été à Noël");
  EXPECT_EQ(s8(tags.artist), "Ærø Band");
  EXPECT_EQ(tags.track, 5);
  EXPECT_EQ(tags.year, 2001);
  EXPECT_EQ(s8(tags.otherTags), "Composer = J. S. Bach \n");
  EXPECT_TRUE(tags.lyrics.empty());
  EXPECT_TRUE(tags.genre.empty());
  EXPECT_EQ(s8(tags.comment), "Fine");
  // Version 1000: 8-bit text from the code page; the accents survive.
  ASSERT_EQ(read("v1.ape", audio + apeTag(1000, {{"Title", "Caf\xe9"}, {"Album", "\xc9t\xe9"}})), 1);
  EXPECT_EQ(s8(tags.title), "Café");
  EXPECT_EQ(s8(tags.album), "Été");
  // An APE tag before an ID3v1 tag wins; an ID3v1 tag alone gives items.
  ASSERT_EQ(read("both.ape", audio + apeTag(2000, {{"Title", "From APE"}}) + id3v1("From ID3", "X", 3, 8)), 1);
  EXPECT_EQ(s8(tags.title), "From APE");
  EXPECT_TRUE(tags.artist.empty());
  ASSERT_EQ(read("id3.ape", audio + id3v1("From ID3", "Someone", 7, 8)), 1);
  EXPECT_EQ(s8(tags.title), "From ID3");
  EXPECT_EQ(s8(tags.artist), "Someone");
  EXPECT_EQ(s8(tags.album), "Album one");
  EXPECT_EQ(tags.year, 1997);
  EXPECT_EQ(tags.track, 7);
  EXPECT_EQ(s8(tags.genre), "Jazz");
  // A tag whose items claim more than it holds keeps what it read.
  std::string bad = apeTag(2000, {{"Title", "Kept"}, {"Album", "Lost"}});
  bad.replace(bad.find("Lost") - 6 - 8, 4, le(100000, 4));
  ASSERT_EQ(read("bad.ape", audio + bad), 1);
  EXPECT_EQ(s8(tags.title), "Kept");
  EXPECT_TRUE(tags.album.empty());
}

TEST_F(ApeFiles, LinkFiles) {
  std::string audio = currentHeader(3990, 2000, 2, 44100, 16, 1, 73728, 44100, 1000);
  std::ofstream(dir.path / "disc.ape", std::ios::binary) << audio + apeTag(2000, {{"Title", "Whole disc"}});
  ASSERT_EQ(read("track01.apl",
                 "[Monkey's Audio Image Link File]\r\nImage File=disc.ape\r\nStart Block=0\r\nFinish Block=44100\r\n"),
            1);
  EXPECT_EQ(s8(tags.title), "Whole disc");
  EXPECT_EQ(read("track02.apl", "[Monkey's Audio Image Link File]\r\nImage File=missing.ape\r\n"), 0);
  EXPECT_EQ(read("plain.apl", "Image File=disc.ape\r\n"), 0);
}

}  // namespace
