// Content hashes end to end: add-folder --hash, what ls shows of them, and
// tamber dupes over one library and several.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/cli_library.h"

namespace {

namespace fs = std::filesystem;
using tamber::test_support::CliLibrary;
using tamber::test_support::runCommand;
using tamber::test_support::shellQuote;

class Dupes : public CliLibrary {
 protected:
  void SetUp() override {
    CliLibrary::SetUp();
    if (HasFatalFailure()) return;
    for (const char* folder : {"a", "b", "c/deep"}) fs::create_directories(dir.path / folder);
    write("a/film.bin", std::string(300000, 'f'));
    write("a/song.mp3", std::string(5000, 's'));
    write("a/only.txt", "only here");
    write("b/film copy.bin", std::string(300000, 'f'));
    write("b/song.mp3", std::string(4999, 's') + "S");  // same name and size, other bytes
    write("c/deep/film.bin", std::string(300000, 'f'));
    ASSERT_EQ(tamber("mkcat Discs").status, 0);
    add("a", "A", "--hash");
    add("b", "B", "--hash");
    // A folder's location is where it was read; a shelf is what the user writes.
    ASSERT_EQ(tamber("set Discs/A 'location=Shelf 1'").status, 0);
    ASSERT_EQ(tamber("set Discs/B 'location=Box 2'").status, 0);
  }
  void write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir.path / name, std::ios::binary) << bytes;
  }
  void add(const std::string& folder, const std::string& label, const std::string& more,
           const std::string& library = {}) {
    std::string args = "add-folder -q " + shellQuote((dir.path / folder).string()) + " --label " + label +
                       " --category Discs " + more;
    auto r = library.empty() ? tamber(args) : on(library, args);
    ASSERT_EQ(r.status, 0) << r.out;
  }
};

TEST_F(Dupes, IdenticalFilesAreGroupedByHashMostWasteFirstWhateverTheirNames) {
  auto ls = tamber("ls -l Discs/A", false);
  EXPECT_NE(ls.out.find("contentHash: "), std::string::npos) << ls.out;
  auto r = tamber("dupes", false);
  EXPECT_EQ(r.status, 0);
  auto film = runCommand("xxhsum -H2 " + shellQuote((dir.path / "a/film.bin").string()), false).out.substr(0, 32);
  // The film only: the two songs differ in their last byte.
  EXPECT_EQ(r.out, film + "  2 copies, 293K each, 293K wasted\n  Discs/A/film.bin  (Location: Shelf 1)\n"
                   "  Discs/B/film copy.bin  (Location: Box 2)\n");
  auto json = tamber("--json dupes", false);
  EXPECT_NE(json.out.find("\"count\":2,\"wasted\":300000"), std::string::npos) << json.out;
  // Where a disc is kept, and its path, are what the user acts on.
  EXPECT_NE(json.out.find("\"item\":\"Discs/A\",\"itemNumber\":1,\"path\":\"film.bin\",\"location\":\"Shelf 1\""),
            std::string::npos) << json.out;
  auto nul = tamber("dupes -0", false);
  EXPECT_EQ(nul.out, std::string("Discs/A/film.bin\0Discs/B/film copy.bin\0\0", 40));

  // Names and sizes alone take the songs for copies, and miss the renamed film.
  auto byName = tamber("dupes --by name-size", false);
  EXPECT_EQ(byName.status, 0);
  EXPECT_EQ(byName.out, "song.mp3  2 copies, 4.9K each, 4.9K wasted\n  Discs/A/song.mp3  (Location: Shelf 1)\n"
                               "  Discs/B/song.mp3  (Location: Box 2)\n");
  // A size limit that leaves no file still compares hashes: the library has
  // them, so nothing is said of names and sizes.
  auto big = tamber("dupes --min-size 300001");
  EXPECT_EQ(big.status, 1);
  EXPECT_EQ(big.out, "No duplicates found.\n");
  auto scoped = tamber("dupes --scope Discs/A");
  EXPECT_EQ(scoped.status, 1);
  EXPECT_NE(scoped.out.find("No duplicates found."), std::string::npos);
}

TEST_F(Dupes, SeveralLibrariesAndFilesWithoutHashes) {
  std::string other = (dir.path / "other.cds").string();
  ASSERT_EQ(runCommand(std::string(TAMBER_CLI) + " new " + shellQuote(other)).status, 0);
  ASSERT_EQ(on(other, "mkcat Discs").status, 0);
  add("c", "C", "", other);  // no hashes
  // Across libraries: the film of the other library has no hash and is said to be left out.
  auto both = tamber("dupes --in " + shellQuote(lib) + " --in " + shellQuote(other));
  EXPECT_EQ(both.status, 0) << both.out;
  EXPECT_NE(both.out.find("1 of 6 files have no content hash"), std::string::npos) << both.out;
  EXPECT_NE(both.out.find(lib + ": Discs/A/film.bin"), std::string::npos) << both.out;
  // A library with no hash at all is compared by name and size, and says so.
  add("c", "C2", "", other);
  auto plain = on(other, "dupes");
  EXPECT_EQ(plain.status, 0);
  EXPECT_NE(plain.out.find("grouped by name and size"), std::string::npos) << plain.out;
  EXPECT_NE(plain.out.find("  Discs/C/deep/film.bin  (Location: "), std::string::npos) << plain.out;
  EXPECT_NE(plain.out.find("  Discs/C2/deep/film.bin  (Location: "), std::string::npos) << plain.out;
  // The setting makes every scan hash.
  ASSERT_EQ(on(other, "config set App-Preference HashContents 1").status, 0);
  add("c", "C3", "", other);
  EXPECT_NE(on(other, "ls -l Discs/C3/deep", false).out.find("contentHash: "), std::string::npos);
  // A library that cannot be read is an error, not an empty answer.
  EXPECT_EQ(tamber("dupes --in " + shellQuote((dir.path / "missing.cds").string())).status, 2);
  EXPECT_EQ(tamber("dupes --scope Nowhere").status, 2);
}

}  // namespace

TEST_F(Dupes, ManyItemsReadAtOnceKeepTheirOrderAndADamagedListingIsNamed) {
  // Eight more copies of the first folder: the listings are read by
  // several threads, and each group still lists its files in item order.
  for (int k = 1; k <= 8; ++k) add("a", "Copy" + std::to_string(k), "--hash");
  auto r = tamber("dupes", false);
  EXPECT_EQ(r.status, 0);
  size_t at = r.out.find("  Discs/A/film.bin");
  ASSERT_NE(at, std::string::npos) << r.out;
  std::string films = r.out.substr(at, r.out.find("\n\n", at) == std::string::npos ? std::string::npos
                                                                                   : r.out.find("\n\n", at) - at);
  size_t from = 0;
  for (const std::string label : {"A/", "B/", "Copy1/", "Copy2/", "Copy3/", "Copy4/", "Copy5/", "Copy6/", "Copy7/",
                                  "Copy8/"}) {
    size_t here = films.find("Discs/" + label, from);
    ASSERT_NE(here, std::string::npos) << label << "\n" << films;
    from = here;
  }
  // A listing that cannot be read stops the search with its item's name.
  std::ofstream(dir.path / "bad.xml") << "<a1><b><c>x</c>";
  ASSERT_EQ(tamber("storage put " + shellQuote(lib) + " col1-4.xml " + shellQuote((dir.path / "bad.xml").string())).status, 0);
  auto bad = tamber("dupes");
  EXPECT_EQ(bad.status, 2) << bad.out;
  EXPECT_NE(bad.out.find("Discs/Copy2: the listing is damaged"), std::string::npos) << bad.out;
}
