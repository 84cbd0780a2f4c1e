// Reading discs through the drive layer: simulated drives answer the same
// command blocks as real ones.
#include <gtest/gtest.h>

#include <filesystem>
#include <cstring>
#include <fstream>

#include "disc/cd_text.h"
#include "disc/drive_manager.h"
#include "disc/sim_drive.h"
#include "tests/temp_dir.h"

namespace tamber::disc {
namespace {

std::string msf(uint32_t frames) {
  char t[16];
  std::snprintf(t, sizeof t, "%02u:%02u:%02u", frames / 4500, frames / 75 % 60, frames % 75);
  return t;
}

// A description of `starts.size()` tracks; `data` lists the data tracks.
std::string description(const std::vector<uint32_t>& starts, uint32_t leadout, const std::vector<int>& data = {},
                        const std::string& extra = "", const std::string& discAttributes = "") {
  std::string d = "<drive vendor=\"PLEXTOR\" product=\"DVDR   PX-716A\" revision=\"1.11\">\n<disc " + discAttributes + ">\n";
  for (size_t i = 0; i < starts.size(); ++i) {
    int n = static_cast<int>(i) + 1;
    bool isData = std::find(data.begin(), data.end(), n) != data.end();
    d += "<track number=\"" + std::to_string(n) + "\" start=\"" + msf(starts[i]) + "\" type=\"" +
         (isData ? "data" : "audio") + "\"";
    if (!isData && n <= 12) d += " isrc=\"USRC176078" + std::to_string(10 + n) + "\"";
    d += "/>\n";
  }
  d += "<leadout start=\"" + msf(leadout) + "\"/>\n" + extra + "</disc></drive>\n";
  return d;
}

struct Drive {
  CdDriveManager manager;
  int index = -1;
  explicit Drive(const std::string& text, const std::string& base = "/nonexistent") {
    auto t = simulatedDriveFromText(text, base, "sim:test");
    EXPECT_TRUE(t) << t.message();
    if (t) index = manager.addTransport(std::move(*t));
  }
  const DriveRecord& record() { return *manager.record(index); }
};

std::string hex(const std::string& bytes) {
  std::string out;
  char b[4];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02x ", c);
    out += b;
  }
  return out;
}

// CD-TEXT packs of a title stream and a performer stream.
std::string cdTextPacks(const std::vector<std::string>& titles, const std::vector<std::string>& performers) {
  std::string packs;
  int seq = 0;
  for (auto [type, items] : {std::pair{0x80, titles}, std::pair{0x81, performers}}) {
    std::string text;
    for (const auto& i : items) text += i + '\0';
    while (text.size() % 12) text += '\0';
    for (size_t at = 0; at < text.size(); at += 12) {
      packs += static_cast<char>(type);
      packs += '\0';
      packs += static_cast<char>(seq++);
      packs += '\0';
      packs += text.substr(at, 12) + std::string(2, '\0');
    }
  }
  return packs;
}

TEST(Drive, AnAudioCdWithCdText) {
  std::vector<uint32_t> starts;
  for (uint32_t i = 0; i < 12; ++i) starts.push_back(150 + i * 15000);
  std::vector<std::string> titles{"Album"}, performers{""};
  for (int i = 1; i <= 12; ++i) {
    titles.push_back("Song " + std::to_string(i));
    performers.push_back("Singer");
  }
  Drive d(description(starts, 150 + 12 * 15000, {},
                      "<cdtext>" + hex(cdTextPacks(titles, performers)) + "</cdtext>",
                      "mcn=\"0724349532729\""));
  EXPECT_EQ(d.record().driveName, "PLEXTOR DVDR PX-716A V1.11");
  ASSERT_TRUE(d.manager.readDisc(d.index));
  const DriveRecord& r = d.record();
  EXPECT_TRUE(r.discPresent);
  EXPECT_EQ(r.discType, kDiscAudio);
  EXPECT_EQ(r.trackCount, 12);
  EXPECT_EQ(r.lastAudioTrack, 12);
  EXPECT_EQ(r.trackFrames[0], 15000u);
  EXPECT_EQ(r.trackFrames[11], 15000u);
  EXPECT_EQ(r.trackFrames[12], 0u);
  EXPECT_EQ(r.label, "AUDIO CD");
  EXPECT_EQ(r.catalogNumber, "0724349532729");
  ASSERT_EQ(r.isrcList.size(), 12u);
  EXPECT_EQ(r.isrcList[0], "USRC17607811");
  EXPECT_EQ(r.spanMinutes * 60 + r.spanSeconds, 12 * 200);
  EXPECT_EQ(r.capacityBytes, 12u * 15000u * 2048u);
  auto packs = d.manager.readCdText(d.index);
  ASSERT_TRUE(packs);
  CdText text = decodeCdText(*packs);
  EXPECT_EQ(text.disc.title, "Album");
  ASSERT_EQ(text.tracks.size(), 12u);
  EXPECT_EQ(text.tracks[11].title, "Song 12");
  EXPECT_EQ(discArtist(text), "Singer");
  DiscIdentity id;
  ASSERT_TRUE(d.manager.computeDiscIdentity(d.index, id));
  EXPECT_EQ(id.trackCount, 12);
  EXPECT_EQ(id.offsets.substr(0, 10), "150+15150+");
}

TEST(Drive, EnhancedMixedAndDataCds) {
  // Audio 1-3 then the data session: the last audio track loses the gap,
  // the data track has no length, the span runs to the data track.
  Drive enhanced(description({150, 20000, 40000, 80000}, 120000, {4}, "", "label=\"EXTRA\""));
  ASSERT_TRUE(enhanced.manager.readDisc(enhanced.index));
  const DriveRecord& e = enhanced.record();
  EXPECT_EQ(e.discType, kDiscEnhanced);
  EXPECT_EQ(e.lastAudioTrack, 3);
  EXPECT_EQ(e.trackFrames[2], 40000u - 11250u);
  EXPECT_EQ(e.trackFrames[3], 0u);
  EXPECT_EQ(e.spanMinutes * 4500 + e.spanSeconds * 75 + e.spanFrames, 80000 - 150);
  EXPECT_EQ(e.capacityBytes, (120000u - 150u) * 2048u);
  // The simulated drive holds the descriptor 16 sectors into the data
  // track only: sector 16 of the disc lies in audio track 1.
  EXPECT_EQ(e.label, "EXTRA");  // from the data session's volume descriptor

  // A data track first, audio after: mixed mode; no ISRCs asked.
  Drive mixed(description({150, 30000, 60000}, 90000, {1}));
  ASSERT_TRUE(mixed.manager.readDisc(mixed.index));
  EXPECT_EQ(mixed.record().discType, kDiscMixed);
  EXPECT_EQ(mixed.record().lastAudioTrack, 3);
  EXPECT_TRUE(mixed.record().isrcList.empty());

  // Data only.
  Drive data(description({150}, 300000, {1}, "", "label=\"BACKUP_2026\""));
  ASSERT_TRUE(data.manager.readDisc(data.index));
  EXPECT_EQ(data.record().discType, kDiscData);
  EXPECT_EQ(data.record().lastAudioTrack, 0);
  EXPECT_EQ(data.record().label, "BACKUP_2026");

  // CD-ROM XA by its disc information: a data disc stays XA.
  Drive xa(description({150}, 300000, {1}, "", "info=\"xa\""));
  ASSERT_TRUE(xa.manager.readDisc(xa.index));
  EXPECT_EQ(xa.record().discType, kDiscMixed);
}

TEST(Drive, ADvdNoDiscAndTheTray) {
  Drive dvd("<drive><disc label=\"MOVIE\"><dvd book=\"0\" start=\"196608\" end=\"2491711\"/></disc></drive>");
  ASSERT_TRUE(dvd.manager.readDisc(dvd.index));
  EXPECT_TRUE(dvd.record().isDvd);
  EXPECT_EQ(dvd.record().discType, kDiscDvdFirst);
  EXPECT_EQ(dvd.record().trackCount, 1);
  EXPECT_EQ(dvd.record().capacityBytes, (2491711ull - 196608 + 1) * 2048);
  EXPECT_EQ(dvd.record().label, "MOVIE");  // read with READ (10): the drive refuses READ CD of a DVD

  Drive empty("<drive/>");
  EXPECT_FALSE(empty.manager.readDisc(empty.index));
  EXPECT_FALSE(empty.record().discPresent);
  EXPECT_EQ(empty.record().trackCount, 0);

  // Eject, refused while locked; the tray state follows.
  Drive tray(description({150}, 30000));
  EXPECT_FALSE(tray.record().trayOpen);
  ASSERT_TRUE(tray.manager.lockMedium(tray.index, false));
  EXPECT_FALSE(tray.manager.toggleTray(tray.index));
  ASSERT_TRUE(tray.manager.lockMedium(tray.index, true));
  ASSERT_TRUE(tray.manager.toggleTray(tray.index));
  EXPECT_TRUE(tray.record().trayOpen);
  EXPECT_FALSE(tray.manager.readDisc(tray.index));
  tray.manager.refreshTrayStates();
  EXPECT_TRUE(tray.record().trayOpen);
  ASSERT_TRUE(tray.manager.toggleTray(tray.index));
  EXPECT_TRUE(tray.manager.readDisc(tray.index));
}

TEST(Drive, NamesAndTheFilter) {
  using F = CdDriveManager::Filter;
  EXPECT_EQ(CdDriveManager::filterByName("Generic STEALTH DVD 1.0"), F::reject);
  EXPECT_EQ(CdDriveManager::filterByName("PLEXTOR DVDR PX-716A V1.11"), F::accept);
  EXPECT_EQ(CdDriveManager::filterByName("HL-DT-ST DVDRAM GH24NSD1 VLG00"), F::ask);
  uint8_t inquiry[96] = {};
  std::memcpy(inquiry + 8, "HL-DT-ST", 8);
  std::memcpy(inquiry + 16, "DVDRAM  GH24NSD1", 16);
  std::memcpy(inquiry + 32, "    ", 4);
  EXPECT_EQ(CdDriveManager::inquiryName(inquiry, sizeof inquiry), "HL-DT-ST DVDRAM GH24NSD1");

  // Descriptions that are not ones.
  for (const char* text : {"<drive><disc><track number=\"1\" start=\"00:02:00\" type=\"audio\"/></disc></drive>",
                           "<drive><disc><track number=\"1\" start=\"0:99:00\" type=\"audio\"/>"
                           "<leadout start=\"10:00:00\"/></disc></drive>",
                           "<disc/>", "not xml",
                           "<!DOCTYPE drive [<!ENTITY x \"y\">]><drive/>",
                           "<drive><disc><cdtext>8g</cdtext></disc></drive>"}) {
    EXPECT_FALSE(simulatedDriveFromText(text, "/")) << text;
  }
  tamber::test_support::TempDir tmp;
  CdDriveManager m;
  EXPECT_FALSE(m.addDrive("sim:" + (tmp.path / "missing.xml").string()));
  // Enumeration from a /sys/class/block of our own: sr devices only.
  std::filesystem::create_directories(tmp.path / "block" / "sda");
  std::filesystem::create_directories(tmp.path / "block" / "sr0");
  m.enumerate((tmp.path / "block").string(), (tmp.path / "dev").string());
  EXPECT_EQ(m.driveCount(), 0);
  ASSERT_EQ(m.problems().size(), 1u);
  EXPECT_NE(m.problems()[0].find("sr0"), std::string::npos);
}

}  // namespace
}  // namespace tamber::disc
