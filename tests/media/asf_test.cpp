// The ASF reader on files made by ffmpeg (against ffprobe), and on headers
// built byte by byte for the cases no tool writes.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "media/media.h"
#include "media/text_util.h"
#include "platform/utf.h"
#include "tests/run_command.h"
#include "tests/temp_dir.h"

namespace {

using tamber::test_support::TempDir;

std::string s8(const std::u16string& s) { return tamber::media::toUtf8(s); }

// ASF header objects, written as a muxer would.
struct AsfBuilder {
  std::string objects;
  int count = 0;

  static std::string le(uint64_t v, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += static_cast<char>(v >> (8 * i) & 0xFF);
    return out;
  }
  static std::string guid(std::initializer_list<int> bytes) {
    std::string out;
    for (int b : bytes) out += static_cast<char>(b);
    return out;
  }
  static std::string utf16(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += le(c, 2);
    return out;
  }
  void object(const std::string& id, const std::string& data) {
    objects += id + le(24 + data.size(), 8) + data;
    ++count;
  }
  // `playSeconds` 0: the file states no play duration.
  void fileProperties(uint32_t maxBitRate, uint64_t playSeconds = 0, uint64_t prerollMs = 0) {
    object(guid({0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}),
           std::string(40, '\0') + le(playSeconds * 10000000 + prerollMs * 10000, 8) + le(0, 8) +
               le(prerollMs, 8) + std::string(12, '\0') + le(maxBitRate, 4));
  }
  void streamProperties(int channels, uint32_t rate, uint32_t bytesPerSecond) {
    object(guid({0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11, 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}),
           std::string(54, '\0') + le(0x161, 2) + le(channels, 2) + le(rate, 4) + le(bytesPerSecond, 4) +
               std::string(8, '\0'));
  }
  void contentDescription(const std::u16string& title, const std::u16string& author,
                          const std::u16string& description) {
    std::string t = utf16(title), a = utf16(author), d = utf16(description);
    object(guid({0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}),
           le(t.size(), 2) + le(a.size(), 2) + le(0, 2) + le(d.size(), 2) + le(0, 2) + t + a + d);
  }
  // Descriptors: name, type, value bytes.
  void extended(const std::vector<std::tuple<std::u16string, int, std::string>>& descriptors) {
    std::string data = le(descriptors.size(), 2);
    for (const auto& [name, type, value] : descriptors) {
      std::string n = utf16(name + u'\0');
      data += le(n.size(), 2) + n + le(type, 2) + le(value.size(), 2) + value;
    }
    object(guid({0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11, 0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50}),
           data);
  }
  void codecList(const std::u16string& name) {
    std::string n = utf16(name);
    object(guid({0x40, 0x52, 0xD1, 0x86, 0x1D, 0x31, 0xD0, 0x11, 0xA3, 0xA4, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6}),
           std::string(16, '\0') + le(1, 4) + le(2, 2) + le(name.size(), 2) + n + le(0, 2) + le(0, 2));
  }
  // The header, then `audioBytes` of data.
  std::string file(size_t audioBytes) const {
    std::string header =
        guid({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C});
    header += le(30 + objects.size(), 8) + le(count, 4) + "\x01\x02" + objects;
    return header + std::string(audioBytes, '\x55');
  }
};

class AsfFiles : public ::testing::Test {
 protected:
  TempDir dir;
  CGeneralTagsInfo tags;
  void SetUp() override { tags.CreateForAnalysis(); }
  int read(const std::string& name) {
    return tags.loadInfo(*tamber::utf8ToUtf16((dir.path / name).string()), kAudioAsf);
  }
  int readBytes(const std::string& bytes) {
    std::ofstream(dir.path / "built.wma", std::ios::binary) << bytes;
    return read("built.wma");
  }
  AsfBuilder plain(int channels = 2, uint32_t rate = 44100) {
    AsfBuilder b;
    b.fileProperties(128000);
    b.streamProperties(channels, rate, 16000);
    b.codecList(u"Windows Media Audio 9.2");
    return b;
  }
};

TEST_F(AsfFiles, FfmpegFilesAgreeWithFfprobe) {
  auto r = tamber::test_support::runCommand(std::string(TAMBER_MEDIA_TESTS) + "/make_wma_fixtures.sh '" +
                                                dir.path.string() + "'",
                                            false);
  ASSERT_EQ(r.status, 0) << r.out;
  std::istringstream in(r.out);
  std::string name;
  double seconds;
  int rate, channels, bitRate;
  int files = 0;
  while (in >> name >> seconds >> rate >> channels >> bitRate) {
    ++files;
    ASSERT_EQ(read(name), 1) << name;
    EXPECT_EQ(tags.sampleRate, rate) << name;
    EXPECT_EQ(s8(tags.channelsText), channels == 1 ? "1 Mono" : "2 Stereo") << name;
    EXPECT_EQ(s8(tags.bitRateText), std::to_string(bitRate / 1000) + " kbps") << name;
    std::string d = s8(tags.durationText);
    EXPECT_EQ(std::stoi(d.substr(0, 2)) * 60 + std::stoi(d.substr(3, 2)), static_cast<int>(seconds)) << name << " " << d;
    EXPECT_FALSE(tags.codecText.empty()) << name;
  }
  EXPECT_EQ(files, 4);
  ASSERT_EQ(read("wmav2_stereo.wma"), 1);
  EXPECT_EQ(s8(tags.title), "Été à Noël");
  EXPECT_EQ(s8(tags.artist), "Ærø Band");
  EXPECT_EQ(s8(tags.album), "Smörgåsbord");
  EXPECT_EQ(s8(tags.genre), "Jazz");
  EXPECT_EQ(tags.year, 2004);
  EXPECT_EQ(tags.track, 5);  // "5/12" stored as text
}

TEST_F(AsfFiles, HeadersBuiltByteByByte) {
  // Duration from the bytes after the header and the maximum bit rate.
  AsfBuilder b = plain();
  b.contentDescription(std::u16string(300, u'x'), u"Author", u"Description");
  ASSERT_EQ(readBytes(b.file(16000 * 10)), 1);
  EXPECT_EQ(s8(tags.durationText), "00:10");
  EXPECT_EQ(tags.title.size(), 250u);  // 600 bytes give 250 characters
  EXPECT_EQ(s8(tags.artist), "Author");
  EXPECT_EQ(s8(tags.comment), "Description");
  EXPECT_EQ(s8(tags.codecText), "Windows Media Audio 9.2");
  EXPECT_EQ(s8(tags.bitRateText), "128 kbps");

  // A 64-bit value before the title does not disturb it; names are trimmed
  // and compared in capitals; a later description wins; a numeric track.
  AsfBuilder e = plain();
  e.contentDescription(u"Old title", u"Old author", u"");
  e.extended({{u"WM/Picture", 1, std::string(5000, '\x01')},
              {u"WM/Duration", 4, AsfBuilder::le(0x123456789ull, 8)},
              {u"  wm/title ", 0, AsfBuilder::utf16(u"New title")},
              {u"WM/TrackNumber", 3, AsfBuilder::le(7, 4)},
              {u"WM/Year", 0, AsfBuilder::utf16(u"1999")},
              {u"WM/Lyrics", 0, AsfBuilder::utf16(u"la la")}});
  ASSERT_EQ(readBytes(e.file(1000)), 1);
  EXPECT_EQ(s8(tags.title), "New title");
  EXPECT_EQ(s8(tags.artist), "Old author");
  EXPECT_EQ(tags.track, 7);
  EXPECT_EQ(tags.year, 1999);
  EXPECT_EQ(s8(tags.lyrics), "la la");

  // A stated play duration wins over the bytes; its preroll is left out.
  AsfBuilder timed;
  timed.fileProperties(128000, 245, 3100);
  timed.streamProperties(2, 44100, 16000);
  ASSERT_EQ(readBytes(timed.file(16000 * 10)), 1);
  EXPECT_EQ(s8(tags.durationText), "04:05");

  // Values no audio file has: not recognised.
  EXPECT_EQ(readBytes(plain(3).file(1000)), 0);
  EXPECT_EQ(readBytes(plain(2, 192000).file(1000)), 0);
  AsfBuilder slow;
  slow.fileProperties(0);
  slow.streamProperties(2, 44100, 16000);
  EXPECT_EQ(readBytes(slow.file(1000)), 0);
  // A wrong header GUID, a cut header, an object that claims less than its
  // own header.
  std::string good = plain().file(100);
  std::string wrong = good;
  wrong[0] = 0x31;
  EXPECT_EQ(readBytes(wrong), 0);
  EXPECT_EQ(readBytes(good.substr(0, 60)), 0);
  AsfBuilder tiny = plain();
  tiny.objects.insert(0, std::string(16, '\x07') + AsfBuilder::le(3, 8));
  tiny.count++;
  EXPECT_EQ(readBytes(tiny.file(100)), 0);
}

}  // namespace
