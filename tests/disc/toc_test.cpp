// Tables of contents and the ids computed from them, against known values
// and against libdiscid on many random tables.
#include <gtest/gtest.h>

#include <random>

#include "disc/toc.h"
#include "disc/track.h"
#include "tests/disc/discid_reference.h"

namespace tamber::disc {
namespace {

TocEntry at(int number, uint32_t frames, uint8_t control = 0) {
  TocEntry e;
  e.number = number;
  e.control = control;
  e.adr = 1;
  e.minute = static_cast<int>(frames / 4500);
  e.second = static_cast<int>(frames / 75 % 60);
  e.frame = static_cast<int>(frames % 75);
  return e;
}

Toc tocOf(int first, const std::vector<uint32_t>& starts, uint32_t leadout, uint8_t lastControl = 0) {
  Toc toc;
  toc.firstTrack = first;
  toc.lastTrack = first + static_cast<int>(starts.size()) - 1;
  for (size_t i = 0; i < starts.size(); ++i) {
    toc.tracks.push_back(at(first + static_cast<int>(i), starts[i], i + 1 == starts.size() ? lastControl : 0));
  }
  toc.leadout = at(0xAA, leadout);
  return toc;
}

struct Reference {
  std::string freedb, musicbrainz;
};

Reference reference(int first, int last, const std::vector<uint32_t>& starts, uint32_t leadout) {
  int offsets[100] = {};
  offsets[0] = static_cast<int>(leadout);
  for (size_t i = 0; i < starts.size(); ++i) offsets[first + static_cast<int>(i)] = static_cast<int>(starts[i]);
  char freedb[16] = {}, mb[64] = {};
  EXPECT_EQ(discid_reference(first, last, offsets, freedb, mb), 1);
  return {freedb, mb};
}

TEST(DiscId, KnownDiscs) {
  // Six tracks, the example the MusicBrainz id is documented with.
  Toc six = tocOf(1, {150, 15363, 32314, 46592, 63414, 80489}, 95462);
  EXPECT_EQ(musicBrainzDiscId(six), "49HHV7Eb8UKF3aQiNmu1GR8vKTY-");
  DiscIdentity id;
  ASSERT_TRUE(computeDiscIdentity(six, id));
  EXPECT_EQ(id.trackCount, 6);
  EXPECT_EQ(id.offsets, "150+15363+32314+46592+63414+80489");
  EXPECT_EQ(id.discSeconds, 95462 / 75);
  EXPECT_EQ(discIdText(id.discId), reference(1, 6, {150, 15363, 32314, 46592, 63414, 80489}, 95462).freedb);
  EXPECT_EQ(discIdText(id.discId).size(), 8u);
  EXPECT_EQ(discIdText(0x0a0b0c0d), "0a0b0c0d");

  // Ten tracks from 00:02:00: the first offset is 150, and the id packs the
  // digit sums, the playing time and the count.
  std::vector<uint32_t> starts;
  for (int i = 0; i < 10; ++i) starts.push_back(150 + static_cast<uint32_t>(i) * 75 * 200);
  Toc ten = tocOf(1, starts, 150 + 10 * 75 * 200);
  ASSERT_TRUE(computeDiscIdentity(ten, id));
  EXPECT_EQ(id.offsets.substr(0, 4), "150+");
  EXPECT_EQ(id.discId & 0xFF, 10u);
  EXPECT_EQ(id.discId >> 8 & 0xFFFF, 2000u);  // seconds from the first track to the lead-out
}

TEST(DiscId, AudioIsTheDataBitClear) {
  // Copy-permitted (02h) and pre-emphasis (01h) tracks are audio.
  Toc toc = tocOf(1, {150, 20000}, 40000);
  toc.tracks[0].control = 0x02;
  toc.tracks[1].control = 0x03;
  DiscIdentity id;
  EXPECT_TRUE(computeDiscIdentity(toc, id));
  EXPECT_NE(id.discId, 0u);
  EXPECT_FALSE(musicBrainzDiscId(toc).empty());
  // Only data tracks: no id.
  toc.tracks[0].control = 0x04;
  toc.tracks[1].control = 0x06;
  EXPECT_FALSE(computeDiscIdentity(toc, id));
  EXPECT_EQ(id.discId, 0u);
  EXPECT_EQ(id.trackCount, 2);
  EXPECT_TRUE(musicBrainzDiscId(toc).empty());
}

TEST(DiscId, AnEnhancedCdLeavesItsDataSessionOutOfTheMusicBrainzId) {
  // Audio tracks 1-3, then the data track of the second session.
  Toc toc = tocOf(1, {150, 20000, 40000, 80000}, 120000, 0x04);
  Reference r = reference(1, 3, {150, 20000, 40000}, 80000 - 11400);
  EXPECT_EQ(musicBrainzDiscId(toc), r.musicbrainz);
  // The CDDB id counts every track, the data track included.
  DiscIdentity id;
  ASSERT_TRUE(computeDiscIdentity(toc, id));
  EXPECT_EQ(discIdText(id.discId), reference(1, 4, {150, 20000, 40000, 80000}, 120000).freedb);
}

TEST(DiscId, RandomTablesAgreeWithLibdiscid) {
  std::mt19937 rnd(20261207);
  for (int round = 0; round < 2000; ++round) {
    int first = std::uniform_int_distribution<int>(1, round % 10 == 0 ? 40 : 1)(rnd);
    int count = std::uniform_int_distribution<int>(1, 99 - first + 1)(rnd);
    std::vector<uint32_t> starts;
    uint32_t at = std::uniform_int_distribution<uint32_t>(150, 400)(rnd);
    // Up to 79 minutes in all, as libdiscid takes no longer disc.
    uint32_t longest = std::max<uint32_t>(300, 355000 / static_cast<uint32_t>(count));
    for (int i = 0; i < count; ++i) {
      starts.push_back(at);
      at += std::uniform_int_distribution<uint32_t>(300, longest)(rnd);
    }
    Toc toc = tocOf(first, starts, at);
    Reference r = reference(first, first + count - 1, starts, at);
    DiscIdentity id;
    ASSERT_TRUE(computeDiscIdentity(toc, id));
    // libdiscid counts a disc that starts after track 1 differently (the
    // last track's number, the time from track 1's empty slot); such discs
    // keep the count of their tracks and the time from their first track.
    if (first == 1) {
      ASSERT_EQ(discIdText(id.discId), r.freedb) << "round " << round;
    }
    ASSERT_EQ(id.discId & 0xFF, static_cast<uint32_t>(count));
    ASSERT_EQ(musicBrainzDiscId(toc), r.musicbrainz) << "round " << round;
    // The table survives the drive's answer form.
    auto back = decodeToc(encodeToc(toc));
    ASSERT_TRUE(back) << back.message();
    ASSERT_EQ(musicBrainzDiscId(*back), r.musicbrainz);
  }
}

TEST(Toc, AnswersThatLieAreRefused) {
  Toc toc = tocOf(1, {150, 15363, 32314}, 46592);
  std::string good = encodeToc(toc);
  ASSERT_TRUE(decodeToc(good));
  EXPECT_EQ(decodeToc(good)->trackCount(), 3);
  // Shorter than its length field: never read past the bytes given.
  EXPECT_FALSE(decodeToc(good.substr(0, good.size() - 1)));
  EXPECT_FALSE(decodeToc(good.substr(0, 3)));
  // A length that claims more entries than the bytes hold.
  std::string longer = good;
  longer[1] = static_cast<char>(longer[1] + 8);
  EXPECT_FALSE(decodeToc(longer));
  // Fewer entries than the header's tracks need (no lead-out).
  std::string cut = good.substr(0, good.size() - 8);
  cut[1] = static_cast<char>(cut[1] - 8);
  EXPECT_FALSE(decodeToc(cut));
  // Track numbers out of range, out of order; an impossible second.
  std::string bad = good;
  bad[3] = 100;
  EXPECT_FALSE(decodeToc(bad));
  bad = good;
  bad[4 + 8 + 2] = 7;
  EXPECT_FALSE(decodeToc(bad));
  bad = good;
  bad[4 + 6] = 60;
  EXPECT_FALSE(decodeToc(bad));
  // Addresses that go backwards.
  bad = good;
  bad[4 + 8 + 5] = 0;
  bad[4 + 8 + 6] = 0;
  EXPECT_FALSE(decodeToc(bad));
  // Extra bytes after the length field's end are not read.
  EXPECT_TRUE(decodeToc(good + std::string(16, '\xff')));
  // 99 tracks fit.
  std::vector<uint32_t> starts;
  for (uint32_t i = 0; i < 99; ++i) starts.push_back(150 + i * 4000);
  auto full = decodeToc(encodeToc(tocOf(1, starts, 150 + 99 * 4000)));
  ASSERT_TRUE(full);
  EXPECT_EQ(full->trackCount(), 99);
  EXPECT_LE(encodeToc(tocOf(1, starts, 150 + 99 * 4000)).size(), kTocBufferSize);
}

}  // namespace
}  // namespace tamber::disc

namespace tamber::disc {
namespace {

TEST(Track, ItemsAndLengths) {
  EXPECT_TRUE(isAudioTrackItem("Track 1", "cda"));
  EXPECT_TRUE(isAudioTrackItem("Track01.cda", ""));
  EXPECT_FALSE(isAudioTrackItem("Track 1", "mp3"));
  EXPECT_EQ(trackLengthText(0), "0:00");
  EXPECT_EQ(trackLengthText(4500 * 3 + 75 * 7 + 74), "3:07");  // frames do not round up
  EXPECT_EQ(trackLengthText(4500 * 74 + 75 * 59), "74:59");
}

}  // namespace
}  // namespace tamber::disc
