// tamber verify and tamber diff end to end, and the comparison under them.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "app/file_comparison.h"
#include "app/volumes.h"
#include "platform/volume_facts.h"
#include "tests/cli_library.h"

namespace {

namespace fs = std::filesystem;
using tamber::test_support::CliLibrary;
using tamber::test_support::runCommand;
using tamber::test_support::shellQuote;

class Verify : public CliLibrary {
 protected:
  void SetUp() override {
    CliLibrary::SetUp();
    if (HasFatalFailure()) return;
    fs::create_directories(dir.path / "disc/sub");
    fs::create_directories(dir.path / "disc/Été");
    write("disc/film.bin", std::string(200000, 'f'));
    write("disc/song.mp3", std::string(5000, 's'));
    write("disc/sub/notes.txt", "notes");
    write("disc/Été/photo.jpg", std::string(3000, 'p'));
    fs::create_symlink("film.bin", dir.path / "disc/latest");
    ASSERT_EQ(tamber("mkcat Discs").status, 0);
  }
  void write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir.path / name, std::ios::binary) << bytes;
  }
  // Changes bytes of a file and gives it back its time: what bit rot does.
  void rot(const std::string& name) {
    std::string path = (dir.path / name).string();
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(100);
    f.put('X');
    f.close();
    timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  std::string disc() const { return shellQuote((dir.path / "disc").string()); }
};

TEST_F(Verify, FindsMissingNewChangedAndDamagedFilesAndRecordsOnlyACleanRun) {
  ASSERT_EQ(tamber("add-folder -q " + disc() + " --label D --category Discs --hash").status, 0);
  auto clean = tamber("verify -q Discs/D --record");
  EXPECT_EQ(clean.status, 0) << clean.out;
  EXPECT_NE(clean.out.find("5 files alike, 4 of them compared by content."), std::string::npos) << clean.out;
  EXPECT_NE(tamber("show Discs/D").out.find("Last verified"), std::string::npos);

  rot("disc/song.mp3");
  fs::remove(dir.path / "disc/sub/notes.txt");
  write("disc/new.txt", "new");
  write("disc/Été/photo.jpg", std::string(3001, 'p'));
  auto before = tamber("show Discs/D").out;
  auto r = tamber("verify -q Discs/D --record", false);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.substr(0, r.out.find("changed")),
            "missing    sub/notes.txt\nnew        new.txt\n");
  EXPECT_NE(r.out.find("changed    Été/photo.jpg  (3000 -> 3001"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("damaged    song.mp3  (same size and time, other content)\n"), std::string::npos) << r.out;
  // A verify that found differences stores nothing.
  EXPECT_EQ(tamber("show Discs/D").out, before);

  auto json = tamber("--json verify -q Discs/D", false);
  EXPECT_EQ(json.status, 1);
  EXPECT_NE(json.out.find("{\"status\":\"damaged\",\"path\":\"song.mp3\",\"size\":5000"), std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"what\":[\"hash\"]}"), std::string::npos);

  // Each CSV row says which volume its item was read from.
  auto csv = tamber("export-csv Discs/D", false).out;
  EXPECT_NE(csv.substr(0, csv.find('\n')).find(",volumeLabel,volumeUuid\r"), std::string::npos) << csv.substr(0, 200);

  // Another folder (a copy mounted elsewhere) is read in the recorded one's stead.
  fs::create_directories(dir.path / "copy");
  fs::copy_file(dir.path / "disc/film.bin", dir.path / "copy/film.bin");
  fs::last_write_time(dir.path / "copy/film.bin", fs::last_write_time(dir.path / "disc/film.bin"));
  auto copy = tamber("verify -q Discs/D " + shellQuote((dir.path / "copy").string()), false);
  EXPECT_EQ(copy.status, 1);
  EXPECT_NE(copy.out.find("missing    latest\n"), std::string::npos) << copy.out;
  EXPECT_EQ(copy.out.find("film.bin"), std::string::npos) << copy.out;
}

TEST_F(Verify, WithoutHashesOnlySizesAndTimesAreComparedAndSaidSo) {
  ASSERT_EQ(tamber("add-folder -q " + disc() + " --label D --category Discs").status, 0);
  rot("disc/song.mp3");
  auto r = tamber("verify -q Discs/D");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("only sizes and times were compared"), std::string::npos) << r.out;
  // Errors: no such item, a category, a folder that is not there.
  EXPECT_EQ(tamber("verify Discs/Nothing").status, 2);
  EXPECT_EQ(tamber("verify Discs").status, 2);
  auto gone = tamber("verify Discs/D " + shellQuote((dir.path / "gone").string()));
  EXPECT_EQ(gone.status, 2);
  EXPECT_NE(gone.out.find("no such folder"), std::string::npos) << gone.out;
  // A viewing verify leaves the library as it was, byte for byte.
  std::ifstream in(lib, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  tamber("verify -q Discs/D");
  std::ifstream again(lib, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), {}), bytes);
}

TEST_F(Verify, DiffFindsMovedFilesBetweenItemsAndFolders) {
  ASSERT_EQ(tamber("add-folder -q " + disc() + " --label Before --category Discs --hash").status, 0);
  // Moved with the same content; the link still names film.bin and so is alike.
  fs::rename(dir.path / "disc/film.bin", dir.path / "disc/sub/film renamed.bin");
  fs::rename(dir.path / "disc/Été/photo.jpg", dir.path / "disc/photo.jpg");
  write("disc/extra.txt", "extra");
  ASSERT_EQ(tamber("add-folder -q " + disc() + " --label After --category Discs --hash").status, 0);
  auto r = tamber("diff -q Discs/Before Discs/After", false);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "added      extra.txt\n"
            "moved      film.bin -> sub/film renamed.bin\n"
            "moved      Été/photo.jpg -> photo.jpg\n");
  // The item against the folder as it is now: the same, read from the disk.
  EXPECT_EQ(tamber("diff -q Discs/After " + disc()).status, 0);
  auto folder = tamber("--json diff -q Discs/Before " + disc(), false);
  EXPECT_EQ(folder.status, 1);
  EXPECT_NE(folder.out.find("{\"status\":\"moved\",\"path\":\"film.bin\",\"to\":\"sub/film renamed.bin\""),
            std::string::npos) << folder.out;
  EXPECT_EQ(tamber("diff Discs/Before nowhere").status, 2);
}

// The comparison itself: moves by content before names, and no move where
// the hashes say the contents differ.
TEST(FileComparison, MovesPreferTheSameContentAndNeverPairDifferentHashes) {
  using tamber::app::Difference;
  using tamber::app::FileFacts;
  using tamber::app::FileSet;
  auto file = [](std::string path, uint64_t size, std::string hash) {
    FileFacts f;
    f.path = std::move(path);
    f.size = size;
    f.modified = "5F000000";
    f.hash = std::move(hash);
    return f;
  };
  const std::string h1(32, '1'), h2(32, '2');
  FileSet before{{file("a/x.bin", 10, h1), file("a/y.bin", 10, h2), file("same.txt", 3, "")}, 2};
  FileSet after{{file("b/y.bin", 10, h1), file("b/x.bin", 10, h2), file("same.txt", 3, h1)}, 3};
  auto c = tamber::app::compareFileSets(before, after, true);
  ASSERT_EQ(c.differences.size(), 2u);
  EXPECT_EQ(c.differences[0].kind, Difference::moved);
  EXPECT_EQ(c.differences[0].before->path, "a/x.bin");
  EXPECT_EQ(c.differences[0].after->path, "b/y.bin");  // by content, not by name
  EXPECT_EQ(c.differences[1].after->path, "b/x.bin");
  EXPECT_EQ(c.same, 1u);
  EXPECT_EQ(c.hashCompared, 0u);  // one side had no hash for same.txt

  // Same name and size, other content: a removal and an addition.
  FileSet other{{file("c/x.bin", 10, std::string(32, '3'))}, 1};
  auto d = tamber::app::compareFileSets(FileSet{{file("a/x.bin", 10, h1)}, 1}, other, true);
  ASSERT_EQ(d.differences.size(), 2u);
  EXPECT_EQ(d.differences[0].kind, Difference::missing);
  EXPECT_EQ(d.differences[1].kind, Difference::added);
  // Without moves (verify), the same sets are only missing and new files.
  auto v = tamber::app::compareFileSets(before, after, false);
  EXPECT_EQ(v.count(Difference::moved), 0u);
  EXPECT_EQ(v.count(Difference::missing), 2u);
}

// File systems made by their own tools are named as blkid names them, from
// their first bytes alone; damaged or cut bytes are nothing.
TEST_F(Verify, FileSystemsAreIdentifiedByTheirFirstBytes) {
  auto firstBytes = [&](const std::string& name) {
    std::ifstream in(dir.path / name, std::ios::binary);
    std::string b(tamber::kIdentityBytes, '\0');
    in.read(b.data(), static_cast<std::streamsize>(b.size()));
    b.resize(static_cast<size_t>(in.gcount()));
    return b;
  };
  auto make = [&](const std::string& command) { ASSERT_EQ(runCommand(command).status, 0) << command; };
  std::string ext = (dir.path / "ext.img").string(), fat = (dir.path / "fat.img").string(),
              fat16 = (dir.path / "fat16.img").string(), iso = (dir.path / "disc.iso").string();
  make("truncate -s 4M " + ext + " && mkfs.ext4 -q -U 0b8e7c1e-1f51-4a1e-9d5e-7c4f1b2a3c4d -L 'Été 2019' " + ext);
  make("truncate -s 40M " + fat + " && mkfs.vfat -F 32 -i 1A2B3C4D -n 'PHOTOS 1' " + fat + " >/dev/null");
  make("truncate -s 16M " + fat16 + " && mkfs.vfat -F 16 -i 00C0FFEE " + fat16 + " >/dev/null");
  make("xorriso -as mkisofs -quiet -V ARCHIVE_2019 --modification-date=2019031512300000 -o " + iso + " " + disc() +
       " 2>/dev/null");

  auto e = tamber::identifyFileSystem(firstBytes("ext.img"));
  ASSERT_TRUE(e);
  EXPECT_EQ(e->type, "ext4");
  EXPECT_EQ(e->uuid, "0b8e7c1e-1f51-4a1e-9d5e-7c4f1b2a3c4d");
  EXPECT_EQ(e->label, "Été 2019");
  auto f = tamber::identifyFileSystem(firstBytes("fat.img"));
  ASSERT_TRUE(f);
  EXPECT_EQ(f->type + " " + f->uuid + " " + f->label, "vfat 1A2B-3C4D PHOTOS 1");
  auto f16 = tamber::identifyFileSystem(firstBytes("fat16.img"));
  ASSERT_TRUE(f16);
  EXPECT_EQ(f16->uuid + "|" + f16->label, "00C0-FFEE|");  // "NO NAME" is no label
  auto i = tamber::identifyFileSystem(firstBytes("disc.iso"));
  ASSERT_TRUE(i);
  EXPECT_EQ(i->type + " " + i->uuid + " " + i->label, "iso9660 2019-03-15-12-30-00-00 ARCHIVE_2019");

  EXPECT_FALSE(tamber::identifyFileSystem(std::string(tamber::kIdentityBytes, '\0')));
  EXPECT_FALSE(tamber::identifyFileSystem(firstBytes("ext.img").substr(0, 1100)));  // cut inside the superblock
  EXPECT_FALSE(tamber::identifyFileSystem(firstBytes("disc.iso").substr(0, 32768 + 100)));
}

TEST_F(Verify, AScanRecordsItsVolumeAndWhichFindsTheItemAgain) {
  ASSERT_EQ(tamber("add-folder -q " + disc() + " --label D --category Discs").status, 0);
  auto facts = tamber::volumeFactsOf((dir.path / "disc").string());
  ASSERT_TRUE(facts.known());
  EXPECT_GT(facts.total, 0u);
  EXPECT_GE(facts.total, facts.used);
  auto show = tamber("--json show Discs/D", false).out;
  EXPECT_NE(show.find("\"fileSystem\":\"" + facts.fsType + "\""), std::string::npos) << show;
  EXPECT_NE(show.find("\"volumeFolder\":\"" + facts.inside + "\""), std::string::npos) << show;
  EXPECT_NE(show.find("\"totalSpace\":" + std::to_string(facts.total)), std::string::npos) << show;

  auto w = tamber("which " + shellQuote((dir.path / "disc/sub").string()), false);
  EXPECT_EQ(w.status, 0);
  EXPECT_EQ(w.out, "Discs/D/sub\n");
  auto above = tamber("--json which " + shellQuote(dir.path.string()), false);
  EXPECT_NE(above.out.find("\"item\":\"Discs/D\",\"itemNumber\":1,\"path\":\"disc\",\"above\":true"),
            std::string::npos) << above.out;
  fs::create_directories(dir.path / "elsewhere");
  EXPECT_EQ(tamber("which " + shellQuote((dir.path / "elsewhere").string())).status, 1);
  // which compares nothing: its error says what is missing, not what to compare with.
  auto nowhere = tamber("which " + shellQuote((dir.path / "nowhere").string()));
  EXPECT_EQ(nowhere.status, 2);
  EXPECT_NE(nowhere.out.find("nowhere: no such folder or mounted volume\n"), std::string::npos) << nowhere.out;
}

// A volume is the same by its UUID wherever it is mounted; by label and
// size only where a UUID is missing; and never when the UUIDs differ.
TEST(Volumes, ARecordedVolumeIsRecognisedByUuidThenLabelAndSize) {
  tamber::app::RecordedVolume r;
  r.fsType = "vfat";
  r.uuid = "1A2B-3C4D";
  r.label = "PHOTOS";
  r.total = 1000;
  r.folder = "backup";
  tamber::VolumeFacts now;
  now.fsType = "vfat";
  now.uuid = "1A2B-3C4D";
  now.label = "RENAMED";
  now.mountPoint = "/media/u/RENAMED";
  now.inside = "backup/2019/x";
  auto p = tamber::app::placeOnVolume(r, now, "/media/u/RENAMED/backup/2019/x");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->by, tamber::app::VolumeMatch::uuid);
  EXPECT_EQ(p->inside, "2019/x");
  now.inside = "other";
  EXPECT_FALSE(tamber::app::placeOnVolume(r, now, "/media/u/RENAMED/other"));

  now.uuid = "FFFF-0000";  // another stick with the same label and size
  now.label = "PHOTOS";
  now.total = 1000;
  now.inside = "backup";
  EXPECT_FALSE(tamber::app::placeOnVolume(r, now, "/media/u/PHOTOS/backup"));
  r.uuid.clear();  // an item that could not read its UUID
  auto q = tamber::app::placeOnVolume(r, now, "/media/u/PHOTOS/backup");
  ASSERT_TRUE(q);
  EXPECT_EQ(q->by, tamber::app::VolumeMatch::labelAndSize);
  EXPECT_EQ(q->inside, "");
  now.total = 999;
  EXPECT_FALSE(tamber::app::placeOnVolume(r, now, "/media/u/PHOTOS/backup"));
}

}  // namespace
