// The Ogg Vorbis reader on files made by oggenc, against mutagen, and on
// bytes that are no Ogg Vorbis.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
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

class OggFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    auto r = tamber::test_support::runCommand(std::string(TAMBER_MEDIA_TESTS) + "/make_ogg_fixtures.sh '" +
                                              dir_->path.string() + "'");
    ASSERT_EQ(r.status, 0) << r.out;
  }
  static void TearDownTestSuite() { delete dir_; }
  static int read(CGeneralTagsInfo& tags, const std::string& name) {
    return tags.loadInfo(*tamber::utf8ToUtf16((dir_->path / name).string()), kAudioOggVorbis);
  }
  static TempDir* dir_;
};
TempDir* OggFiles::dir_ = nullptr;

TEST_F(OggFiles, StreamInformationAgreesWithMutagen) {
  auto r = tamber::test_support::runCommand("/usr/bin/python3 " + std::string(TAMBER_MEDIA_TESTS) +
                                                "/mutagen_ogg.py '" + dir_->path.string() + "'/*.ogg",
                                            false);
  std::istringstream in(r.out);
  std::string name;
  double seconds;
  int rate, channels;
  int files = 0;
  CGeneralTagsInfo tags;
  tags.CreateForAnalysis();
  while (in >> name >> seconds >> rate >> channels) {
    ++files;
    ASSERT_EQ(read(tags, name), 1) << name;
    EXPECT_EQ(tags.sampleRate, rate) << name;
    std::string d = s8(tags.durationText);
    EXPECT_EQ(std::stoi(d.substr(0, 2)) * 60 + std::stoi(d.substr(3, 2)), static_cast<int>(seconds)) << name;
    // The average bit rate of the whole stream: its audio bytes over its
    // time, so a little below the file's bytes over its time.
    struct stat st {};
    ::stat((dir_->path / name).c_str(), &st);
    EXPECT_EQ(tags.fileSize, st.st_size) << name;
    double kbps = std::stod(s8(tags.bitRateText));
    double whole = st.st_size * 8.0 / seconds / 1000.0;
    EXPECT_LE(kbps, whole) << name;
    EXPECT_GT(kbps, whole * 0.3) << name;
    EXPECT_NE(s8(tags.bitRateText).find(" kbps"), std::string::npos);
    EXPECT_EQ(s8(tags.codecText), "Vorbis encoder 0");
    EXPECT_NE(s8(tags.vendorText).find("Xiph.Org"), std::string::npos);
    const char* expected = channels == 1 ? "monophonic" : channels == 2 ? "stereo" : channels == 6 ? "5,1 surround" : "";
    EXPECT_EQ(s8(tags.channelsText), expected) << name;
  }
  EXPECT_EQ(files, 6);
}

TEST_F(OggFiles, Comments) {
  CGeneralTagsInfo tags;
  tags.CreateForAnalysis();
  ASSERT_EQ(read(tags, "tagged.ogg"), 1);
  EXPECT_EQ(s8(tags.title), "Capital key");  // keys are compared in lower case
  EXPECT_EQ(s8(tags.artist), "Ærø Band");
  EXPECT_EQ(s8(tags.album), "Smörgåsbord");
  EXPECT_EQ(s8(tags.genre), "Jazz");
  EXPECT_EQ(s8(tags.comment), "Second");  // the later comment wins
  EXPECT_EQ(s8(tags.lyrics), "la la");
  EXPECT_EQ(tags.year, 2003);  // "May 2003"
  EXPECT_EQ(tags.track, 0);
  ASSERT_EQ(read(tags, "dated.ogg"), 1);
  EXPECT_EQ(tags.year, 2019);
  EXPECT_TRUE(tags.artist.empty());  // nothing kept from the file before
}

TEST_F(OggFiles, WhatIsNoOggVorbis) {
  CGeneralTagsInfo tags;
  tags.CreateForAnalysis();
  std::ofstream(dir_->path / "text.ogg") << "OggS but not really a stream";
  EXPECT_EQ(read(tags, "text.ogg"), 0);
  EXPECT_EQ(read(tags, "missing.ogg"), 0);
  // A cut stream: the first page only.
  std::ifstream in(dir_->path / "tagged.ogg", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream(dir_->path / "cut.ogg", std::ios::binary) << bytes.substr(0, 100);
  EXPECT_EQ(read(tags, "cut.ogg"), 0);
  // An MPEG file handed to the Ogg reader, and back to a good file.
  EXPECT_EQ(tags.loadInfo(*tamber::utf8ToUtf16((dir_->path).string()), kAudioOggVorbis), 0);
  EXPECT_EQ(read(tags, "channels2.ogg"), 1);
}

}  // namespace
