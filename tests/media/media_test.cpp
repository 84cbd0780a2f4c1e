// TamberMedia: the exported interface, the scrub and the pattern dialect, and
// the MPEG reader on files made by real encoders and taggers (compared with
// mutagen) and on byte-level cases no tool writes.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "media/media.h"
#include "media/mpeg/mpeg_audio_reader.h"
#include "media/pattern.h"
#include "platform/utf.h"
#include "tests/storage/storage_helpers.h"

namespace tamber::media {
namespace {

using storage::TempDir;

std::string s8(const std::u16string& s) { return utf16ToUtf8(s); }

std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  EXPECT_EQ(pclose(p), 0) << cmd;
  return out;
}

void writeFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

// ---------------------------------------------------------------------------
// The interface

TEST(Interface, LoadInfoNeedsReadersAndAKnownKindAndResetsOnFailure) {
  TempDir dir;
  CGeneralTagsInfo tags;
  EXPECT_EQ(tags.loadInfo(u"/nonexistent.mp3", kAudioMpeg), 0);
  EXPECT_EQ(tags.track, -1);
  // A tagged file read, then a failing call: the record is back at its reset.
  std::string frame = "\xFF\xFB\x90\x64" + std::string(413, '\0');  // MPEG 1 L3 128k 44.1k
  std::string tag = "TAG" + std::string("Title") + std::string(25, '\0') + std::string(95, '\0');
  tag.resize(128);
  writeFile(dir.path / "a.mp3", frame + frame + tag);
  auto path = *utf8ToUtf16((dir.path / "a.mp3").string());
  EXPECT_EQ(tags.loadInfo(path, kAudioMpeg), 0);  // before CreateForAnalysis
  tags.CreateForAnalysis();
  ASSERT_EQ(tags.loadInfo(path, kAudioMpeg), 1);
  EXPECT_EQ(s8(tags.title), "Title");
  for (int kind : {4, -1}) {
    EXPECT_EQ(tags.loadInfo(path, kind), 0);
    EXPECT_EQ(tags.track, -1);
    EXPECT_TRUE(tags.title.empty());
  }
  EXPECT_EQ(tags.loadInfo(path, kAudioOggVorbis), 0);  // its reader comes later
}

// (A null buffer with a file that exists: document_test.cpp.)
TEST(Interface, DocumentExtractorsOnAMissingFileAndTheOfficeReset) {
  uint8_t scratch[4096];
  std::memset(scratch, 0xAA, sizeof scratch);
  CPDFExtract pdf(u"/x.pdf", scratch, sizeof scratch);
  EXPECT_EQ(pdf.isValidFormat(), 0);
  EXPECT_EQ(pdf.getPDFInfo(), nullptr);
  EXPECT_EQ(scratch[100], 0);  // zeroed before use
  // A file that does not open is found to be nothing before the buffer is
  // looked at.
  EXPECT_EQ(CExecutable(u"/x.exe", nullptr, 4096).getfileInfo(), nullptr);
  EXPECT_EQ(CHTMLExtract(u"/x.htm", nullptr, 4096, u"htm").getHtmlInfo(), nullptr);
  COfficeExtract::tag_OFFICEPROPS props;
  props.title = u"x";
  props.revisionNumber = 7;
  props.pageCount = 3;
  COfficeExtract::ResetPorps(props);
  EXPECT_TRUE(props.title.empty());
  EXPECT_EQ(props.revisionNumber, -1);
  EXPECT_EQ(props.pageCount, 0);
}

TEST(Interface, OnlyTheInterfaceIsExported) {
  std::string symbols = run(std::string("nm -DC --defined-only ") + TAMBER_MEDIA_LIBRARY);
  for (const char* name : {"CGeneralTagsInfo::loadInfo", "CGeneralTagsInfo::CreateForAnalysis",
                           "CPDFExtract::CPDFExtract", "CheckStringForIllegalWChar",
                           "PatternMatch", "FillWaveHeader", "COfficeExtract::ResetPorps"}) {
    EXPECT_NE(symbols.find(name), std::string::npos) << name;
  }
  EXPECT_EQ(symbols.find("MpegAudioReader"), std::string::npos);
  EXPECT_EQ(symbols.find("translatePattern"), std::string::npos);
  // The storage engine and platform helpers linked in stay inside too.
  EXPECT_EQ(symbols.find("tamber::storage::"), std::string::npos);
  EXPECT_EQ(symbols.find("tamber::AtomicFile"), std::string::npos);
}

TEST(Scrub, EightBitAndUtf16Rules) {
  std::u16string w = {u'A', 0x0001, u'B', 0xD800, 0xFFFF, 0xFFFE, u'\t'};
  CheckStringForIllegalWChar(w.data(), 0, u'.');
  EXPECT_EQ(w, (std::u16string{u'A', u'.', u'B', u'.', u'.', 0xFFFE, u'\t'}));
  char narrow[] = "caf\xE9\x01ok";
  CheckStringForIllegalChar(narrow, 0, '.');
  EXPECT_STREQ(narrow, "caf..ok");  // every byte of 128 and above goes
  char limited[] = "\x01\x01\x01";
  CheckStringForIllegalChar(limited, 2, '.');
  EXPECT_STREQ(limited, "..\x01");
  CheckStringForIllegalChar(limited, -1, '.');
  CheckStringForIllegalChar(nullptr, 0, '.');
}

TEST(Texts, DurationHexTimeAndWaveHeader) {
  EXPECT_EQ(DurationText(312), u"05:12");
  EXPECT_EQ(DurationText(3600 + 62), u"01:01:02");
  std::tm t{};
  t.tm_year = 103;
  t.tm_mon = 4;
  t.tm_mday = 12;
  t.tm_hour = 14;
  t.tm_min = 30;
  std::tm copy = t;
  copy.tm_isdst = -1;
  char want[16];
  std::snprintf(want, sizeof want, "%X", static_cast<unsigned>(std::mktime(&copy)));
  EXPECT_EQ(s8(*HexTimeOfLocalTime(t)), want);
  t.tm_year = -1;  // 1899
  EXPECT_FALSE(HexTimeOfLocalTime(t));
  WAVEFORMATEX f;
  WAVE_HEADER h;
  FillWaveFormatEx(&f, 44100, 16, 2);
  FillWaveHeader(&h, 1000, &f, 0);
  EXPECT_EQ(f.nBlockAlign, 4);
  EXPECT_EQ(f.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(h.nRIFFBytes, 1036u);
  EXPECT_EQ(std::string(h.cDataHeader, 4), "data");
}

TEST(Patterns, TheDialectOnBothTextKinds) {
  std::u16string out;
  const char* rtf = "{\\info{\\title Annual report}{\\nofpages12}}";
  EXPECT_EQ(PatternMatch(rtf, "\\{\\\\title[ \t\n\r]+{.*?}\\}", out, false), 1);
  EXPECT_EQ(s8(out), "Annual report");
  EXPECT_EQ(PatternMatch(rtf, "\\{\\\\NOFPAGES{.*?}\\}", out, false), 1);  // case-insensitive
  EXPECT_EQ(s8(out), "12");
  // Classes with \t and complement, lazy and greedy, alternatives, "."
  // across lines, and parentheses that do not capture.
  const char* html = "<TITLE>\n Caf\xE9\tbar </title><meta name=\"keywords\" content='a, b'>";
  EXPECT_EQ(PatternMatch(html, "<title>[ \\t\n]*{[^<]*}</title>", out, false), 1);
  EXPECT_EQ(s8(out), "Caf\xC3\xA9\tbar ");  // converted from the code page, accent kept
  EXPECT_EQ(PatternMatch(html, "(name=\"keywords\")[ ]+content=['\"]{.+?}['\"]", out, false), 1);
  EXPECT_EQ(s8(out), "a, b");
  EXPECT_EQ(PatternMatch(html, "{x|title}", out, false), 1);
  EXPECT_EQ(s8(out), "TITLE");
  EXPECT_EQ(PatternMatch(html, "<title>{.*}title", out, false), 1);  // greedy, across lines
  EXPECT_EQ(s8(out), "\n Caf\xC3\xA9\tbar </");
  // No group, no match, a pattern that does not compile: 0, output unchanged.
  out = u"kept";
  EXPECT_EQ(PatternMatch(html, "title", out, false), 0);
  EXPECT_EQ(PatternMatch(html, "{zzz}", out, false), 0);
  EXPECT_EQ(PatternMatch(html, "{[abc}", out, false), 0);
  EXPECT_EQ(PatternMatch(html, "{(}", out, false), 0);
  EXPECT_EQ(s8(out), "kept");
  // Wide text, with a control character scrubbed.
  std::u16string wide = u"Version\x0001: {1.4}";
  EXPECT_EQ(PatternMatch(wide.c_str(), "version{.*}", out, true), 1);
  EXPECT_EQ(out, u".: {1.4}");
  // The abbreviations.
  EXPECT_EQ(PatternMatch("size 4096 bytes", "{\\z}", out, false), 1);
  EXPECT_EQ(s8(out), "4096");
  EXPECT_EQ(PatternMatch("id = 'quoted'", "={\\b\\q}", out, false), 1);
  EXPECT_EQ(s8(out), " 'quoted'");
  EXPECT_EQ(translatePattern("{\\(}").value(), "(\\()");
}

// ---------------------------------------------------------------------------
// MPEG files made by real tools

class ToolMadeFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    run(std::string(TAMBER_MEDIA_TESTS) + "/make_fixtures.sh '" + dir_->path.string() + "'");
  }
  static void TearDownTestSuite() { delete dir_; }

  static CGeneralTagsInfo& read(const std::string& name) {
    static CGeneralTagsInfo tags;
    tags.CreateForAnalysis();
    EXPECT_EQ(tags.loadInfo(*utf8ToUtf16((dir_->path / name).string()), kAudioMpeg), 1) << name;
    return tags;
  }
  static TempDir* dir_;
};
TempDir* ToolMadeFiles::dir_ = nullptr;

TEST_F(ToolMadeFiles, PropertiesAgreeWithAnIndependentReader) {
  std::string listing = run("/usr/bin/python3 " + std::string(TAMBER_MEDIA_TESTS) +
                            "/mutagen_props.py '" + dir_->path.string() + "'/*.mp3 '" +
                            dir_->path.string() + "'/*.mp2");
  std::istringstream in(listing);
  std::string name;
  double seconds, kbps;
  int rate;
  int files = 0;
  while (in >> name >> seconds >> rate >> kbps) {
    ++files;
    CGeneralTagsInfo& t = read(name);
    EXPECT_EQ(t.sampleRate, rate) << name;
    // Durations are whole seconds, truncated.
    std::string d = s8(t.durationText);
    if (name != "id3v24_utf8.mp3") {  // its length frame says 245 s on purpose
      int ours = std::stoi(d.substr(0, 2)) * 60 + std::stoi(d.substr(3, 2));
      EXPECT_NEAR(ours, seconds, 1.0) << name << " " << d;
    }
    int ourKbps = std::stoi(s8(t.bitRateText));
    EXPECT_NEAR(ourKbps, kbps, 1.0) << name;
  }
  EXPECT_EQ(files, 10);
}

TEST_F(ToolMadeFiles, FormatsAndHeaders) {
  EXPECT_EQ(s8(read("layer2.mp2").codecText), "MPEG 1 Layer II");
  auto& mono = read("mpeg2_mono.mp3");
  EXPECT_EQ(s8(mono.codecText), "MPEG 2 Layer III");
  EXPECT_EQ(s8(mono.channelsText), "Single Channel");
  EXPECT_EQ(s8(read("cbr_plain.mp3").bitRateText), "160 kbps");
  // Encoders write an "Info" header into constant-rate files: it gives the
  // frame count (and so the duration) but marks no variable rate.
  EXPECT_EQ(s8(read("cbr_info.mp3").bitRateText), "128 kbps");
  auto& vbr = read("vbr_xing.mp3");
  EXPECT_NE(s8(vbr.bitRateText).find("(VBR)"), std::string::npos);
  EXPECT_TRUE(vbr.title.empty());  // no tag: the texts stay empty
  EXPECT_EQ(vbr.track, 0);
}

TEST_F(ToolMadeFiles, Id3v1AndId3v23Tags) {
  auto& t = read("id3v23.mp3");
  EXPECT_EQ(s8(t.title), "Caf\xC3\xA9 au lait");  // code-page text converted
  EXPECT_EQ(s8(t.artist), "Artiste");
  EXPECT_EQ(s8(t.album), "Album");
  EXPECT_EQ(t.year, 2003);
  EXPECT_EQ(t.track, 3);  // "3/12"
  EXPECT_EQ(s8(t.genre), "Rock");
  EXPECT_EQ(s8(t.comment), "A comment");
  auto& v1 = read("id3v1only.mp3");
  EXPECT_EQ(s8(v1.title), "Only v1");
  EXPECT_EQ(v1.track, 7);
  EXPECT_EQ(s8(v1.genre), "");  // genre byte 255: none
  // The audio bytes leave the tags out.
  EXPECT_EQ(v1.fileSize + 128, read("cbr_plain.mp3").fileSize + 128);
}

TEST_F(ToolMadeFiles, Id3v24TextsInUtf8AndUtf16) {
  auto& t = read("id3v24_utf8.mp3");
  EXPECT_EQ(s8(t.title), "Été à Noël");
  EXPECT_EQ(s8(t.artist), "Ærø Band");
  EXPECT_EQ(s8(t.album), "Smörgåsbord");
  EXPECT_EQ(t.year, 2019);  // from "TDRC"
  EXPECT_EQ(t.track, 5);
  EXPECT_EQ(s8(t.comment), "Très bien");  // the descriptor "notes" skipped
  EXPECT_EQ(t.lyrics.size(), 240u);       // a frame past 127 bytes: synchsafe size
  EXPECT_EQ(s8(t.durationText), "04:05");  // "TLEN" 245000 ms
  auto& w = read("id3v24_utf16.mp3");
  EXPECT_EQ(s8(w.title), "Ünïcödé title");
  EXPECT_EQ(s8(w.artist), "Ärtist");
  EXPECT_EQ(s8(w.genre), "Rock");
  EXPECT_EQ(s8(w.comment), "Plain comment");
  EXPECT_EQ(s8(read("id3v23_utf16.mp3").title), "Ωmega");
}

// ---------------------------------------------------------------------------
// Byte-level cases

// An MPEG 1 layer III frame at 128 kbps, 44.1 kHz, joint stereo (417 bytes).
std::string frame128(const std::string& body = {}) {
  std::string f = "\xFF\xFB\x90\x64";
  f += body;
  f.resize(417, '\0');
  return f;
}

std::string id3v1(const std::string& title, int track, int genre, const std::string& comment = "") {
  std::string t = "TAG";
  auto field = [&](const std::string& s, size_t n) { t += s.substr(0, n) + std::string(n - std::min(n, s.size()), '\0'); };
  field(title, 30);
  field("", 30);
  field("", 30);
  field("1999", 4);
  field(comment, 28);
  t += '\0';
  t += static_cast<char>(track);
  t += static_cast<char>(genre);
  return t;
}

std::string syncsafe(uint32_t n) {
  return {static_cast<char>((n >> 21) & 0x7F), static_cast<char>((n >> 14) & 0x7F),
          static_cast<char>((n >> 7) & 0x7F), static_cast<char>(n & 0x7F)};
}

class Bytes : public ::testing::Test {
 protected:
  TempDir dir;
  CGeneralTagsInfo tags;
  void SetUp() override { tags.CreateForAnalysis(); }
  int load(const std::string& bytes) {
    writeFile(dir.path / "f.mp3", bytes);
    return tags.loadInfo(*utf8ToUtf16((dir.path / "f.mp3").string()), kAudioMpeg);
  }
};

TEST_F(Bytes, FrameSearchDurationAndXing) {
  // 128 kbps and 5,000,000 audio bytes: 312 s.
  ASSERT_EQ(load(frame128() + std::string(5'000'000 - 417, '\0')), 1);
  EXPECT_EQ(s8(tags.durationText), "05:12");
  EXPECT_EQ(s8(tags.bitRateText), "128 kbps");
  EXPECT_TRUE(tags.title.empty());
  // A header at offset 2 with nothing before it is not found (4-byte steps).
  EXPECT_EQ(load(std::string(2, '\0') + frame128() + std::string(2000, '\0')), 0);
  // A Xing header counting 10,000 frames at 44.1 kHz: 261 s.
  std::string xing = std::string(32, '\0') + "Xing" + std::string("\0\0\0\x01", 4) +
                     std::string("\0\0\x27\x10", 4);
  ASSERT_EQ(load(frame128(xing) + frame128() + frame128()), 1);
  EXPECT_EQ(s8(tags.durationText), "04:21");
  EXPECT_EQ(s8(tags.bitRateText), "0 kbps(VBR) 10000 frames");  // two frames summed / 10,000
  // With the stream's byte count too, the rate is those bytes (less the
  // header's own frame) over the duration, without a walk through the
  // frames: 4,180,000 bytes in 261.2 s make 128 kbps.
  auto counting = [](uint32_t bytes) {
    return std::string(32, '\0') + "Xing" + std::string("\0\0\0\x03", 4) + std::string("\0\0\x27\x10", 4) +
           std::string{static_cast<char>(bytes >> 24), static_cast<char>(bytes >> 16 & 0xFF),
                       static_cast<char>(bytes >> 8 & 0xFF), static_cast<char>(bytes & 0xFF)};
  };
  std::string rest;
  for (int i = 0; i < 10000; ++i) rest += frame128();
  ASSERT_EQ(load(frame128(counting(4'180'000 + 417)) + rest), 1);
  EXPECT_EQ(s8(tags.durationText), "04:21");
  EXPECT_EQ(s8(tags.bitRateText), "128 kbps(VBR) 10000 frames");
  // A file cut short holds fewer bytes than its header counts: the average
  // is that of the frames present (40 kbps), not the header's 128.
  std::string frame40 = "\xFF\xFB\x20\x64";
  frame40.resize(130, '\0');
  std::string cut = frame128(counting(4'180'000 + 417));
  for (int i = 0; i < 50; ++i) cut += frame40;
  ASSERT_EQ(load(cut), 1);
  EXPECT_EQ(s8(tags.bitRateText), "40 kbps(VBR) 10000 frames");
  // The same header named "Info" (a constant rate): the duration from its
  // frame count, the rate from the frame.
  std::string info = std::string(32, '\0') + "Info" + std::string("\0\0\0\x01", 4) +
                     std::string("\0\0\x27\x10", 4);
  ASSERT_EQ(load(frame128(info) + frame128() + frame128()), 1);
  EXPECT_EQ(s8(tags.durationText), "04:21");
  EXPECT_EQ(s8(tags.bitRateText), "128 kbps");
}

TEST_F(Bytes, Id3v11TrackGenreAndLyrics3) {
  ASSERT_EQ(load(frame128() + frame128() + id3v1("Song", 7, 255, "caf\xE9")), 1);
  EXPECT_EQ(tags.track, 7);
  EXPECT_EQ(s8(tags.genre), "");  // byte 255 is "no genre"
  EXPECT_EQ(s8(tags.comment), "caf\xC3\xA9");  // converted before the scrub: the accent stays
  EXPECT_EQ(tags.year, 1999);
  int plain = tags.fileSize;
  ASSERT_EQ(load(frame128() + frame128() + id3v1("Song", 7, 200)), 1);
  EXPECT_EQ(s8(tags.genre), "not supported");  // a number past the list
  // Lyrics3 version 2 with size digits 000120: 135 bytes leave the audio.
  std::string content = "LYRICSBEGIN" + std::string("IND00002") + "00" + "LYR" + "00091" +
                        std::string("Words and words") + std::string(76, 'x');
  ASSERT_EQ(content.size(), 120u);
  ASSERT_EQ(load(frame128() + frame128() + content + "000120LYRICS200" + id3v1("Song", 7, 17)), 1);
  EXPECT_EQ(tags.fileSize, plain);  // the 135 bytes of the block are not audio
  EXPECT_EQ(s8(tags.lyrics).substr(0, 15), "Words and words");
  EXPECT_EQ(s8(tags.genre), "Rock");
  // Lyrics3 version 1: exactly 5100 bytes before the ID3v1 tag.
  std::string v1 = "LYRICSBEGIN" + std::string("Old style lyrics");
  v1.resize(5100 - 9, ' ');
  v1 += "LYRICSEND";
  ASSERT_EQ(load(frame128() + std::string(6000, '\0') + v1 + id3v1("S", 1, 0)), 1);
  EXPECT_EQ(s8(tags.lyrics).substr(0, 16), "Old style lyrics");
  // A Lyrics3 size larger than the file must not be read or subtracted.
  ASSERT_EQ(load(frame128() + frame128() + "999999LYRICS200" + id3v1("S", 1, 0)), 1);
  EXPECT_TRUE(tags.lyrics.empty());
  EXPECT_EQ(tags.fileSize, static_cast<int>(2 * 417 + 15));
}

TEST_F(Bytes, Id3v22FramesAndGenreRules) {
  auto frame22 = [](const std::string& id, const std::string& text) {
    std::string body = std::string(1, '\0') + text;
    return id + std::string(1, '\0') + static_cast<char>(body.size() >> 8) +
           static_cast<char>(body.size() & 0xFF) + body;
  };
  std::string frames = frame22("TT2", "Old title") + frame22("TP1", "Old artist") +
                       frame22("TRK", "3/12") + frame22("TCO", "(17)(RX)Live") +
                       frame22("TLE", "245000") + frame22("TFT", "/3");
  std::string tag = "ID3" + std::string("\x02\x00\x00", 3) + syncsafe(static_cast<uint32_t>(frames.size() + 20)) +
                    frames + std::string(20, '\0');
  ASSERT_EQ(load(tag + frame128() + frame128()), 1);
  EXPECT_EQ(s8(tags.title), "Old title");
  EXPECT_EQ(s8(tags.artist), "Old artist");
  EXPECT_EQ(tags.track, 3);
  EXPECT_EQ(s8(tags.genre), "(RX) Live");
  EXPECT_EQ(s8(tags.durationText), "04:05");
  EXPECT_EQ(s8(tags.codecText), "MPEG 1 layer III");
  for (auto [in, want] : std::map<std::u16string, std::u16string>{
           {u"(17)Live", u"Rock Live"}, {u"(17)(RX)Live", u"(RX) Live"}, {u"Rock", u"Rock"},
           {u"17", u"17"}, {u"(0)", u"Blues"}, {u"(200)", u"not supported"}, {u"(13", u"(13"}}) {
    EXPECT_EQ(MpegAudioReader::genreFromFrame(in), want) << s8(in);
  }
}

TEST_F(Bytes, HostileTagSizesCountAsAbsent) {
  // An ID3v2 size far beyond the file: no tag, nothing subtracted, no crash.
  std::string tag = "ID3" + std::string("\x03\x00\x00", 3) + syncsafe(0x0FFFFFFF);
  ASSERT_EQ(load(tag + std::string(2, '\0') + frame128() + frame128()), 1);
  EXPECT_EQ(tags.fileSize, static_cast<int>(12 + 2 * 417));
  // A frame that runs past its tag ends the walk; the frames before it count.
  std::string good = "TIT2" + std::string("\0\0\0\x06\0\0", 6) + std::string(1, '\0') + "Kept!";
  std::string bad = "TPE1" + std::string("\0\0\x7F\x7F\0\0", 6) + "x";
  std::string frames = good + bad;
  std::string tag2 = "ID3" + std::string("\x03\x00\x00", 3) + syncsafe(static_cast<uint32_t>(frames.size())) + frames;
  while ((tag2.size()) % 4) tag2 += '\0';
  ASSERT_EQ(load(tag2 + frame128() + frame128()), 1);
  EXPECT_EQ(s8(tags.title), "Kept!");
  EXPECT_TRUE(tags.artist.empty());
}

TEST_F(Bytes, Id3v24PlainSizesFromOldTaggersStillWalk) {
  // A 200-byte comment whose size a tagger wrote as a plain number (0xC8 has
  // bit 7 set, so it cannot be synchsafe) before a title frame.
  std::string comment = std::string(1, '\0') + "eng" + std::string(1, '\0') + std::string(195, 'c');
  std::string frames = "COMM" + std::string("\0\0\0\xC8\0\0", 6) + comment +
                       "TIT2" + std::string("\0\0\0\x06\0\0", 6) + std::string(1, '\0') + "After";
  std::string tag = "ID3" + std::string("\x04\x00\x00", 3) + syncsafe(static_cast<uint32_t>(frames.size())) + frames;
  while (tag.size() % 4) tag += '\0';
  ASSERT_EQ(load(tag + frame128() + frame128()), 1);
  EXPECT_EQ(s8(tags.title), "After");
  EXPECT_EQ(tags.comment.size(), 195u);
}

TEST_F(Bytes, BigEndianUtf16AndATagLargerThanTheSearchWindow) {
  // Encoding 2 is UTF-16 big-endian without a byte-order mark.
  std::string zoe = std::string("\x02\x00Z\x00o\x00\xEB", 7);
  std::string title = "TIT2" + std::string("\0\0\0\x07\0\0", 6) + zoe;
  // A private frame of 300,000 bytes (a cover picture would be as big): the
  // first frame lies beyond 200 KiB from the file start but within 200 KiB
  // of the tag's end, where the search starts.
  std::string big = "PRIV" + syncsafe(300000) + std::string(2, '\0') + std::string(300000, 'p');
  std::string frames = title + big;
  std::string tag = "ID3" + std::string("\x04\x00\x00", 3) + syncsafe(static_cast<uint32_t>(frames.size())) + frames;
  while (tag.size() % 4) tag += '\0';
  ASSERT_EQ(load(tag + frame128() + frame128()), 1);
  EXPECT_EQ(s8(tags.title), "Zo\xC3\xAB");
  // The audio bytes are the file less the tag (its alignment bytes are not in it).
  EXPECT_EQ(tags.fileSize, static_cast<int>(2 * 417 + tag.size() - 10 - frames.size()));
}

TEST(CommandLine, MediaPrintsOneJsonObjectPerFile) {
  TempDir dir;
  writeFile(dir.path / "a.mp3", frame128() + frame128() + id3v1("Json & \"quotes\"", 4, 17));
  writeFile(dir.path / "notes.txt", "plain text");
  std::string out = run(std::string(TAMBER_CLI) + " media --json '" + (dir.path / "a.mp3").string() +
                        "' '" + (dir.path / "notes.txt").string() + "'");
  auto nl = out.find('\n');
  std::string first = out.substr(0, nl), second = out.substr(nl + 1);
  for (const char* key : {"\"codecText\":\"MPEG 1 Layer III\"", "\"channelsText\":\"Joint Stereo\"",
                          "\"bitRateText\":\"128 kbps\"", "\"durationText\":\"00:00\"",
                          "\"title\":\"Json & \\\"quotes\\\"\"", "\"sampleRate\":44100",
                          "\"fileSize\":834", "\"year\":1999", "\"track\":4", "\"genre\":\"Rock\""}) {
    EXPECT_NE(first.find(key), std::string::npos) << key << " in " << first;
  }
  EXPECT_NE(second.find("\"recognised\":false"), std::string::npos) << second;
  // A file that cannot be read fails the command.
  std::string missing = std::string(TAMBER_CLI) + " media '" + (dir.path / "missing.mp3").string() +
                        "' >/dev/null 2>&1";
  EXPECT_NE(std::system(missing.c_str()), 0);
}

}  // namespace
}  // namespace tamber::media
