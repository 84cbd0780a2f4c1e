// The FLAC, Opus and MPEG-4 audio readers: files made by flac, opusenc and
// ffmpeg against mutagen, files built byte by byte for what the tools do
// not write, and the choice of a reader by a file's first bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "media/media.h"
#include "media/text_util.h"
#include "platform/utf.h"
#include "tests/run_command.h"
#include "tests/temp_dir.h"

namespace {

using tamber::test_support::TempDir;

std::string s8(const std::u16string& s) { return tamber::media::toUtf8(s); }

int seconds(const std::u16string& durationText) {
  std::string d = s8(durationText);
  return std::stoi(d.substr(0, 2)) * 60 + std::stoi(d.substr(3, 2));
}

int kindOf(const std::string& name) {
  auto ext = std::filesystem::path(name).extension();
  return ext == ".flac" ? kAudioFlac : ext == ".opus" ? kAudioOpus : kAudioMp4;
}

class LosslessFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    auto r = tamber::test_support::runCommand(std::string(TAMBER_MEDIA_TESTS) + "/make_lossless_fixtures.sh '" +
                                              dir_->path.string() + "'");
    ASSERT_EQ(r.status, 0) << r.out;
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override { tags.CreateForAnalysis(); }
  int read(const std::string& name) {
    return tags.loadInfo(*tamber::utf8ToUtf16((dir_->path / name).string()), kindOf(name));
  }
  static TempDir* dir_;
  CGeneralTagsInfo tags;
};
TempDir* LosslessFiles::dir_ = nullptr;

TEST_F(LosslessFiles, StreamInformationAgreesWithMutagen) {
  auto r = tamber::test_support::runCommand("cd '" + dir_->path.string() + "' && /usr/bin/python3 " +
                                                std::string(TAMBER_MEDIA_TESTS) +
                                                "/mutagen_lossless.py *.flac *.opus *.m4a",
                                            false);
  std::istringstream in(r.out);
  std::string name;
  double length;
  int channels;
  long bitRate;
  int files = 0;
  const std::map<int, std::string> channelTexts{{1, "monophonic"}, {2, "stereo"}, {6, "5,1 surround"}, {8, ""}};
  while (in >> name >> length >> channels >> bitRate) {
    ++files;
    ASSERT_EQ(read(name), 1) << name;
    EXPECT_EQ(seconds(tags.durationText), static_cast<int>(length)) << name;
    // mutagen counts the channels of the sample entry, where encoders write 2
    // for a mono AAC stream too; the stream's configuration says 1.
    EXPECT_EQ(s8(tags.channelsText), name == "mono.m4a" ? "monophonic" : channelTexts.at(channels)) << name;
    struct stat st {};
    ::stat((dir_->path / name).c_str(), &st);
    EXPECT_EQ(tags.fileSize, st.st_size) << name;
    double kbps = std::stod(s8(tags.bitRateText));
    double whole = st.st_size * 8.0 / length / 1000.0;
    if (name.find("alac") != std::string::npos || name.ends_with(".opus")) {
      // mutagen gives no bit rate for Opus and states ALAC's uncompressed
      // rate: these are measured, and lie close to the whole file's.
      EXPECT_NEAR(kbps, whole, whole * 0.1) << name;
    } else {
      EXPECT_NEAR(kbps, bitRate / 1000.0, 0.1) << name;
    }
    if (name.ends_with(".opus")) {
      EXPECT_EQ(tags.sampleRate, 48000);
      EXPECT_EQ(s8(tags.codecText), "Opus");
      EXPECT_NE(s8(tags.vendorText).find("libopus"), std::string::npos);
    } else if (name.ends_with(".flac")) {
      EXPECT_EQ(s8(tags.codecText), name == "six.flac" ? "FLAC 24-bit" : "FLAC 16-bit");
      EXPECT_NE(s8(tags.vendorText).find("libFLAC"), std::string::npos);
    }
  }
  EXPECT_EQ(files, 12);
  ASSERT_EQ(read("six.flac"), 1);
  EXPECT_EQ(tags.sampleRate, 96000);
  ASSERT_EQ(read("mono.m4a"), 1);
  EXPECT_EQ(tags.sampleRate, 22050);
  EXPECT_EQ(s8(tags.codecText), "MPEG-4 AAC LC");
  ASSERT_EQ(read("six-alac.m4a"), 1);
  EXPECT_EQ(s8(tags.codecText), "MPEG-4 ALAC");
  EXPECT_EQ(tags.sampleRate, 96000);
}

TEST_F(LosslessFiles, TagsFillTheFieldsAsVorbisCommentsDo) {
  ASSERT_EQ(read("tagged.flac"), 1);
  EXPECT_EQ(s8(tags.title), "Capital key");  // keys compare in lower case
  EXPECT_EQ(s8(tags.artist), "Ærø Band");
  EXPECT_EQ(s8(tags.album), "Smörgåsbord");
  EXPECT_EQ(s8(tags.genre), "Jazz");
  EXPECT_EQ(s8(tags.comment), "Second");  // the later comment wins
  EXPECT_EQ(s8(tags.lyrics), "la la");
  EXPECT_EQ(tags.year, 2003);  // "May 2003"
  EXPECT_EQ(tags.track, 5);    // "05/12"

  // A picture of 300 KB before the comments is passed over.
  ASSERT_EQ(read("pictured.flac"), 1);
  EXPECT_EQ(s8(tags.title), "After the picture");
  EXPECT_TRUE(tags.artist.empty());  // nothing kept from the file before

  ASSERT_EQ(read("stereo.opus"), 1);
  EXPECT_EQ(s8(tags.title), "Opus title");
  EXPECT_EQ(s8(tags.artist), "Ærø Band");
  EXPECT_EQ(s8(tags.genre), "Ambient");
  EXPECT_EQ(tags.year, 2011);
  EXPECT_EQ(tags.track, 7);

  ASSERT_EQ(read("stereo.m4a"), 1);
  EXPECT_EQ(s8(tags.title), "M4A title");
  EXPECT_EQ(s8(tags.artist), "Ærø Band");
  EXPECT_EQ(s8(tags.album), "Smörgåsbord");
  EXPECT_EQ(s8(tags.genre), "Rock");
  EXPECT_EQ(s8(tags.comment), "A comment");
  EXPECT_EQ(s8(tags.lyrics), "la la");
  EXPECT_EQ(tags.year, 1999);
  EXPECT_EQ(tags.track, 3);
  EXPECT_NE(s8(tags.vendorText).find("Lavf"), std::string::npos);  // the encoding tool
}

// ---------------------------------------------------------------------------
// Built byte by byte

std::string be(uint64_t v, int n) {
  std::string out;
  for (int i = n - 1; i >= 0; --i) out += static_cast<char>(v >> (8 * i) & 0xFF);
  return out;
}
std::string le(uint64_t v, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += static_cast<char>(v >> (8 * i) & 0xFF);
  return out;
}

// FLAC: a stream information block of `rate` Hz, 2 channels, 16 bits and
// `samples` samples, then the other blocks, then `audio` bytes.
std::string flacStreamInfo(uint32_t rate, uint64_t samples) {
  std::string b = be(4096, 2) + be(4096, 2) + be(0, 3) + be(0, 3);
  uint64_t packed = static_cast<uint64_t>(rate) << 44 | 1ull << 41 | 15ull << 36 | samples;
  return b + be(packed, 8) + std::string(16, '\x11');
}
std::string flacBlock(int type, const std::string& body, bool last) {
  return std::string(1, static_cast<char>(type | (last ? 0x80 : 0))) + be(body.size(), 3) + body;
}
std::string vorbisComments(const std::vector<std::string>& comments, uint32_t claimedCount = 0) {
  std::string b = le(6, 4) + "vendor" + le(claimedCount ? claimedCount : comments.size(), 4);
  for (const auto& c : comments) b += le(c.size(), 4) + c;
  return b;
}

// MPEG-4 boxes.
std::string box(const std::string& type, const std::string& body) { return be(body.size() + 8, 4) + type + body; }
std::string box64(const std::string& type, const std::string& body) {
  return be(1, 4) + type + be(body.size() + 16, 8) + body;
}
std::string mp4Text(const std::string& type, const std::string& value) {
  return box(type, box("data", be(1, 4) + be(0, 4) + value));
}
std::string mp4Binary(const std::string& type, const std::string& value) {
  return box(type, box("data", be(0, 4) + be(0, 4) + value));
}
std::string mp4SoundTrack(uint32_t timescale, uint64_t duration, bool version1) {
  std::string mdhd = version1 ? be(0x01000000, 4) + be(0, 8) + be(0, 8) + be(timescale, 4) + be(duration, 8) + be(0, 4)
                              : be(0, 4) + be(0, 4) + be(0, 4) + be(timescale, 4) + be(duration, 4) + be(0, 4);
  std::string hdlr = be(0, 4) + be(0, 4) + "soun" + std::string(12, '\0') + std::string(1, '\0');
  // An "mp4a" entry: stereo, 16 bits, 44100 Hz, with a decoder
  // configuration of 96 kbps, AAC LC.
  std::string esds = be(0, 4) + "\x03\x19" + be(1, 2) + std::string(1, '\0') + "\x04\x11\x40\x15" + be(0, 3) +
                     be(128000, 4) + be(96000, 4) + "\x05\x02\x12\x10";
  std::string entry = std::string(6, '\0') + be(1, 2) + be(0, 8) + be(2, 2) + be(16, 2) + be(0, 4) +
                      be(44100u << 16, 4) + box("esds", esds);
  std::string stsd = be(0, 4) + be(1, 4) + box("mp4a", entry);
  return box("trak", box("mdia", box("mdhd", mdhd) + box("hdlr", hdlr) +
                                     box("minf", box("stbl", box("stsd", stsd)))));
}

class BuiltFiles : public ::testing::Test {
 protected:
  TempDir dir;
  CGeneralTagsInfo tags;
  void SetUp() override { tags.CreateForAnalysis(); }
  int read(const std::string& name, const std::string& bytes, int kind) {
    std::ofstream(dir.path / name, std::ios::binary) << bytes;
    return tags.loadInfo(*tamber::utf8ToUtf16((dir.path / name).string()), kind);
  }
};

TEST_F(BuiltFiles, FlacLayouts) {
  std::string info = flacBlock(0, flacStreamInfo(44100, 44100 * 125), false);
  std::string audio(50000, '\x5A');
  std::string plain = "fLaC" + info + flacBlock(4, vorbisComments({"TITLE=One", "tracknumber= 9"}), true) + audio;
  ASSERT_EQ(read("plain.flac", plain, kAudioFlac), 1);
  EXPECT_EQ(s8(tags.durationText), "02:05");
  EXPECT_EQ(s8(tags.title), "One");
  EXPECT_EQ(tags.track, 9);
  // The audio bytes over the length: 50000 * 8 / 125 s.
  EXPECT_EQ(s8(tags.bitRateText), "3.2 kbps");

  // An ID3v2 tag in front (some taggers write one): passed over.
  std::string id3 = "ID3\x03" + std::string(2, '\0') + be(0, 3) + "\x14" + std::string(20, '\0');
  ASSERT_EQ(read("id3.flac", id3 + plain, kAudioFlac), 1);
  EXPECT_EQ(s8(tags.title), "One");

  // No length known to the encoder: no duration and no bit rate.
  std::string unknown = "fLaC" + flacBlock(0, flacStreamInfo(48000, 0), true) + audio;
  ASSERT_EQ(read("unknown.flac", unknown, kAudioFlac), 1);
  EXPECT_EQ(s8(tags.durationText), "00:00");
  EXPECT_EQ(s8(tags.bitRateText), "0.0 kbps");

  // More comments claimed than the block holds: those that fit count.
  std::string claimed = "fLaC" + info + flacBlock(4, vorbisComments({"ARTIST=Kept"}, 1000000), true) + audio;
  ASSERT_EQ(read("claimed.flac", claimed, kAudioFlac), 1);
  EXPECT_EQ(s8(tags.artist), "Kept");

  // Not believed: the stream information not first, a block running past
  // the end, a zero sample rate, no marker.
  EXPECT_EQ(read("order.flac", "fLaC" + flacBlock(4, vorbisComments({}), false) + info + audio, kAudioFlac), 0);
  EXPECT_EQ(read("long.flac", "fLaC" + info + flacBlock(1, "", false) + "\x81\xff\xff\xff", kAudioFlac), 0);
  EXPECT_EQ(read("rate.flac", "fLaC" + flacBlock(0, flacStreamInfo(0, 100), true), kAudioFlac), 0);
  EXPECT_EQ(read("nomarker.flac", "fLaX" + info + audio, kAudioFlac), 0);
  EXPECT_EQ(read("short.flac", "fLaC\x80", kAudioFlac), 0);
}

TEST_F(BuiltFiles, Mp4Layouts) {
  std::string ftyp = box("ftyp", "M4A " + be(0, 4) + "M4A isom");
  std::string tags1 = mp4Text("\xA9nam", "Built") + mp4Binary("trkn", be(0, 2) + be(4, 2) + be(9, 2)) +
                      mp4Binary("gnre", be(18, 2)) + mp4Text("\xA9" "day", "2004-02-01T00:00:00Z") +
                      mp4Binary("covr", std::string(1000, '\xFF'));
  std::string meta = box("meta", be(0, 4) + box("hdlr", std::string(25, '\0')) + box("ilst", tags1));
  std::string moov = box("moov", box("mvhd", std::string(100, '\0')) + mp4SoundTrack(44100, 44100 * 61, false) +
                                     box("udta", meta));
  std::string mdat = box("mdat", std::string(20000, '\x01'));
  ASSERT_EQ(read("end.m4a", ftyp + mdat + moov, kAudioMp4), 1);
  EXPECT_EQ(s8(tags.codecText), "MPEG-4 AAC LC");
  EXPECT_EQ(s8(tags.channelsText), "stereo");
  EXPECT_EQ(tags.sampleRate, 44100);
  EXPECT_EQ(s8(tags.durationText), "01:01");
  EXPECT_EQ(s8(tags.bitRateText), "96.0 kbps");  // the average the stream states
  EXPECT_EQ(s8(tags.title), "Built");
  EXPECT_EQ(tags.track, 4);
  EXPECT_EQ(s8(tags.genre), "Rock");  // one above the genre number 17
  EXPECT_EQ(tags.year, 2004);

  // 64-bit box sizes, a version-1 media header, an item list under a
  // "meta" box of the older layout (no version field), and a last box whose
  // size 0 runs to the end of the file.
  std::string oldMeta = box("meta", box("hdlr", std::string(25, '\0')) + box("ilst", mp4Text("\xA9" "ART", "Old")));
  std::string moov64 = box64("moov", mp4SoundTrack(1000, 90500, true) + box("udta", oldMeta));
  std::string tail = be(0, 4) + "mdat" + std::string(5000, '\x02');
  ASSERT_EQ(read("wide.m4a", ftyp + moov64 + tail, kAudioMp4), 1);
  EXPECT_EQ(s8(tags.durationText), "01:30");
  EXPECT_EQ(s8(tags.artist), "Old");
  EXPECT_TRUE(tags.title.empty());

  // Not believed: no file-type box, no movie, no sound track, a child box
  // larger than its parent.
  EXPECT_EQ(read("noftyp.m4a", moov + mdat, kAudioMp4), 0);
  EXPECT_EQ(read("nomoov.m4a", ftyp + mdat, kAudioMp4), 0);
  std::string video = mp4SoundTrack(1000, 1000, false);
  video.replace(video.find("soun"), 4, "vide");
  EXPECT_EQ(read("video.m4a", ftyp + box("moov", video), kAudioMp4), 0);
  std::string bad = box("moov", be(0x7FFFFFF0, 4) + "trak" + std::string(40, '\0'));
  EXPECT_EQ(read("bad.m4a", ftyp + bad, kAudioMp4), 0);
  EXPECT_EQ(read("cut.m4a", (ftyp + moov).substr(0, ftyp.size() + 60), kAudioMp4), 0);
}

TEST(AudioKindOfHead, TheFirstBytesChooseTheReader) {
  auto kind = [](const std::string& head, int byName) { return AudioKindOfHead(head.data(), head.size(), byName); };
  std::string oggPage = "OggS" + std::string(22, '\0') + "\x01\x1e";
  EXPECT_EQ(kind(oggPage + "\x01vorbis" + std::string(30, '\0'), kAudioOpus), kAudioOggVorbis);
  EXPECT_EQ(kind(oggPage + "OpusHead" + std::string(30, '\0'), kAudioOggVorbis), kAudioOpus);
  // Another codec in Ogg (Speex, Ogg FLAC): the reader the name chose.
  EXPECT_EQ(kind(oggPage + "Speex   " + std::string(30, '\0'), kAudioOggVorbis), kAudioOggVorbis);
  EXPECT_EQ(kind("fLaC\x00\x00\x00\x22", kAudioMpeg), kAudioFlac);
  EXPECT_EQ(kind("MAC \x96\x0f", kAudioAsf), kAudioApe);
  EXPECT_EQ(kind(std::string("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16), kAudioMpeg),
            kAudioAsf);
  EXPECT_EQ(kind(std::string("\0\0\0\x20" "ftypM4A ", 12), kAudioMpeg), kAudioMp4);
  EXPECT_EQ(kind(std::string("\xFF\xFB\x90\x00", 4), kAudioAsf), kAudioMpeg);
  // An ID3v2 tag: MPEG, unless the name chose a reader that passes over one.
  EXPECT_EQ(kind("ID3\x03\x00", kAudioOggVorbis), kAudioMpeg);
  EXPECT_EQ(kind("ID3\x03\x00", kAudioFlac), kAudioFlac);
  EXPECT_EQ(kind("ID3\x03\x00", kAudioApe), kAudioApe);
  // Nothing known, too short or empty: the name's choice.
  EXPECT_EQ(kind("[Monkey's Audio Image Link File]", kAudioApe), kAudioApe);
  EXPECT_EQ(kind("Ogg", kAudioOggVorbis), kAudioOggVorbis);
  EXPECT_EQ(kind("", kAudioMp4), kAudioMp4);
  EXPECT_EQ(kind("OggS" + std::string(22, '\0') + "\xff", kAudioOggVorbis), kAudioOggVorbis);
}

TEST_F(LosslessFiles, TheCommandReadsWhatTheBytesAreNotWhatTheNameSays) {
  auto copy = [&](const std::string& from, const std::string& to) {
    std::filesystem::copy_file(dir_->path / from, dir_->path / to, std::filesystem::copy_options::overwrite_existing);
  };
  copy("stereo.opus", "opus-in.ogg");
  copy("tagged.flac", "flac-named.m4a");
  auto r = tamber::test_support::runCommand(std::string(TAMBER_CLI) + " media --json '" +
                                            (dir_->path / "opus-in.ogg").string() + "' '" +
                                            (dir_->path / "flac-named.m4a").string() + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("\"codecText\":\"Opus\",\"channelsText\":\"stereo\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"codecText\":\"FLAC 16-bit\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"title\":\"Capital key\""), std::string::npos) << r.out;
}

}  // namespace
