// tamber add-folder, ls, thumb and archive end to end, as a user runs them.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <fstream>
#include <thread>

#include "tests/run_command.h"
#include "tests/storage/storage_helpers.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using tamber::storage::TempDir;

using tamber::test_support::CommandResult;

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class AddFolderCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    tree = dir.path / "tree";
    fs::create_directories(tree / "music");
    fs::create_directories(tree / "pics");
    std::ofstream(tree / "readme.txt") << "hello";
    std::ofstream(tree / "music" / "notes.txt") << "la la";
    std::string pics = (tree / "pics").string();
    ASSERT_EQ(std::system(("convert -size 300x200 gradient:red-blue '" + pics + "/photo.jpg' && "
                           "cd '" + pics + "' && zip -q ../bundle.zip photo.jpg")
                              .c_str()),
              0);
    library = (dir.path / "lib.cds").string();
  }

  std::string env() const {
    return "XDG_CONFIG_HOME='" + (dir.path / "config").string() + "' XDG_DATA_HOME='" +
           (dir.path / "data").string() + "' ";
  }

  CommandResult tamber(const std::string& args, const fs::path& cwd = {}) {
    std::string cd = cwd.empty() ? "" : "cd '" + cwd.string() + "' && ";
    return tamber::test_support::runCommand(cd + env() + TAMBER_CLI + " -L '" + library + "' " +
                                            args + " </dev/null");
  }

  TempDir dir;
  fs::path tree;
  std::string library;
};

TEST_F(AddFolderCommand, CataloguesAFolderAndShowsIt) {
  ASSERT_EQ(tamber("new '" + library + "'").status, 0);
  auto r = tamber("--json add-folder '" + tree.string() + "' --label Holiday --category Trips/2024 "
                  "--comment 'first <try>'");
  ASSERT_EQ(r.status, 0) << r.out;
  for (const char* key : {"\"item\":\"Trips/2024/Holiday\"", "\"number\":1", "\"files\":4",
                          "\"folders\":2", "\"splitParts\":0", "\"elapsed\":\"00:00:0",
                          "\"unreadable\":[]"}) {
    EXPECT_NE(r.out.find(key), std::string::npos) << key << " in " << r.out;
  }
  r = tamber("tree");
  EXPECT_NE(r.out.find("Holiday  (Folder on"), std::string::npos) << r.out;
  r = tamber("show Trips/2024/Holiday");
  EXPECT_NE(r.out.find("Comment: first <try>"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Files: 4"), std::string::npos) << r.out;
  r = tamber("ls -R Trips/2024/Holiday");
  EXPECT_NE(r.out.find("pics/\n  photo.jpg\n"), std::string::npos) << r.out;
  // A folder whose contents were not listed has no "children" (an empty
  // list would say it holds nothing); one listed below has them, sorted or
  // in recorded order alike.
  for (const char* order : {"", " --sort none"}) {
    r = tamber(std::string("--json ls Trips/2024/Holiday") + order);
    EXPECT_NE(r.out.find("{\"name\":\"pics\",\"type\":\"folder\""), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("children"), std::string::npos) << order << ": " << r.out;
    r = tamber(std::string("--json ls -R Trips/2024/Holiday") + order);
    EXPECT_NE(r.out.find("\"children\":[{\"name\":\"photo.jpg\""), std::string::npos) << order << ": " << r.out;
  }
  r = tamber("--json ls Trips/2024/Holiday pics/photo.jpg --long");
  EXPECT_NE(r.out.find("\"width\":300,\"height\":200"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"thumbnail\":true"), std::string::npos) << r.out;
  // The thumbnail as stored and converted.
  std::string jpg = (dir.path / "t.jpg").string(), png = (dir.path / "t.png").string();
  ASSERT_EQ(tamber("thumb Trips/2024/Holiday pics/photo.jpg -o '" + jpg + "'").status, 0);
  ASSERT_EQ(tamber("thumb Trips/2024/Holiday pics/photo.jpg -o '" + png + "'").status, 0);
  std::ifstream j(jpg, std::ios::binary), p(png, std::ios::binary);
  std::string jh(2, '\0'), ph(4, '\0');
  j.read(jh.data(), 2);
  p.read(ph.data(), 4);
  EXPECT_EQ(jh, "\xFF\xD8");
  EXPECT_EQ(ph, "\x89PNG");
  EXPECT_EQ(tamber("thumb Trips/2024/Holiday readme.txt -o '" + jpg + "'").status, 1);
  r = tamber("archive Trips/2024/Holiday bundle.zip");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("photo.jpg"), std::string::npos) << r.out;
  // The options are remembered for the next add.
  EXPECT_EQ(tamber("config get serialized_param param_dlgfolder").out, "60\n");
  ASSERT_EQ(tamber("add-folder '" + tree.string() + "' --label Other --category Trips "
                   "--no-thumbnails --filter '  *.txt ' --exclude -q")
                .status,
            0);
  EXPECT_EQ(tamber("config get serialized_param param_dlgfolder").out, "120\n");
  // The filter goes into the history as it was used: without its blanks.
  EXPECT_EQ(tamber("config get TypeFiler AddOther").out, "*.txt\n");
  // Besides "*", "?" and ".", a pattern is a regular expression; one that
  // does not compile is refused before anything is done.
  auto sets = dir.path / "sets";
  fs::create_directories(sets);
  for (const char* name : {"apple.txt", "Banana.txt", "cherry.txt"}) std::ofstream(sets / name) << name;
  r = tamber("--json add-folder --dry-run '" + sets.string() + "'" + " --filter '[ab]*'");
  EXPECT_NE(r.out.find("\"files\":2,"), std::string::npos) << r.out;
  r = tamber("add-folder '" + sets.string() + "' --label Sets --category Trips --filter 'x(;*.txt'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("missing closing parenthesis"), std::string::npos) << r.out;
  EXPECT_EQ(tamber("ls Trips/Sets").status, 1);
  // Re-scan in place: same number, new contents.
  std::ofstream(tree / "added.txt") << "new";
  r = tamber("add-folder . --update Trips/2024/Holiday -q --rule pics=nothumbs", tree);
  ASSERT_EQ(r.status, 0) << r.out;
  r = tamber("--json show Trips/2024/#1");
  EXPECT_NE(r.out.find("\"files\":5"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"scanned\":[\"thumbnails\",\"tags\",\"documents\",\"archives\"]"), std::string::npos)
      << r.out;
  // What a scan left out is not claimed.
  r = tamber("show Trips/Other");
  EXPECT_NE(r.out.find("Read besides names: Audio tags, Document properties, Archive contents\n"), std::string::npos) << r.out;
}

TEST_F(AddFolderCommand, DryRunJobsAndReScansThatReadOnlyWhatChanged) {
  // A dry run needs no library and writes none.
  auto r = tamber("--json add-folder --dry-run '" + tree.string() + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("\"dryRun\":true"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"files\":4,\"folders\":2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"pictures\":1,\"audio\":0,\"documents\":0,\"archives\":1"), std::string::npos)
      << r.out;
  EXPECT_FALSE(fs::exists(library));
  r = tamber("add-folder -n '" + tree.string() + "'");
  // Each count takes its own noun's number: one picture, not "1 pictures".
  EXPECT_NE(r.out.find("A scan would record 4 files and 2 folders, "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(": 1 picture, 0 audio files, 0 documents, 1 archive or program.\n"), std::string::npos)
      << r.out;

  ASSERT_EQ(tamber("new '" + library + "'").status, 0);
  r = tamber("--json add-folder '" + tree.string() + "' --label T --category C -j 2");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("\"readAnew\":2,\"reused\":0"), std::string::npos) << r.out;
  std::string listing = tamber("ls -R C/T -l").out;
  // Nothing changed: nothing is read, and the listing is the same.
  r = tamber("add-folder --update C/T");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("0 read anew, 2 taken from the previous scan"), std::string::npos) << r.out;
  EXPECT_EQ(tamber("ls -R C/T -l").out, listing);
  r = tamber("--json add-folder --update C/T --full -j 1");
  EXPECT_NE(r.out.find("\"readAnew\":2,\"reused\":0"), std::string::npos) << r.out;
  // --full alone and a job count of 0 are refused.
  EXPECT_EQ(tamber("add-folder '" + tree.string() + "' --label U --category C --full").status, 2);
  EXPECT_EQ(tamber("add-folder '" + tree.string() + "' --label U --category C -j 0").status, 2);
}

// update re-scans the folder items whose folders are here, each as it was
// scanned, and never takes a missing or emptied folder for an item.
TEST_F(AddFolderCommand, UpdateReScansTheFoldersThatAreHereAndLeavesTheRest) {
  fs::path gone = dir.path / "gone", emptied = dir.path / "emptied";
  fs::create_directories(gone);
  fs::create_directories(emptied / "sub");
  std::ofstream(gone / "g.txt") << "g";
  std::ofstream(emptied / "sub" / "e.txt") << "e";
  ASSERT_EQ(tamber("new '" + library + "'").status, 0);
  ASSERT_EQ(tamber("-q add-folder '" + tree.string() + "' --label Here --category Shelf/Sub --filter '*.txt'").status, 0);
  ASSERT_EQ(tamber("-q add-folder '" + gone.string() + "' --label Gone --category Shelf").status, 0);
  ASSERT_EQ(tamber("-q add-folder '" + emptied.string() + "' --label Emptied --category Other").status, 0);
  std::ofstream(tree / "music" / "new.txt") << "new";
  fs::copy_file(tree / "pics" / "photo.jpg", tree / "music" / "new.jpg");
  fs::rename(gone, dir.path / "elsewhere");
  fs::remove_all(emptied / "sub");

  // Neither items nor --all, a disc's place for a folder's, an unknown item.
  EXPECT_EQ(tamber("update").status, 2);
  EXPECT_EQ(tamber("update --all Shelf").status, 2);
  EXPECT_EQ(tamber("update Shelf/Nothing").status, 2);

  // A dry run says what would happen and changes nothing.
  std::string before = fileBytes(library);
  auto r = tamber("update --all -n");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Shelf/Sub/Here: would be re-scanned from " + tree.string()), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Shelf/Gone: not present at " + gone.string()), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Other/Emptied: " + emptied.string() + " is empty"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Would update: 1. Not present: 2."), std::string::npos) << r.out;
  EXPECT_EQ(fileBytes(library), before);

  r = tamber("--json update --all");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("{\"item\":\"Shelf/Sub/Here\",\"number\":1,"), std::string::npos) << r.out;
  // The three text files the filter keeps; the new picture is left out.
  EXPECT_NE(r.out.find("\"files\":3,\"folders\":1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("{\"item\":\"Shelf/Gone\",\"number\":2,\"status\":\"not present\""), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"status\":\"empty\""), std::string::npos) << r.out;
  // The recorded filter held; the others kept their listings.
  r = tamber("ls -R Shelf/Sub/Here");
  EXPECT_NE(r.out.find("new.txt"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("new.jpg"), std::string::npos) << r.out;
  EXPECT_NE(tamber("ls Shelf/Gone").out.find("g.txt"), std::string::npos);
  EXPECT_NE(tamber("ls -R Other/Emptied").out.find("e.txt"), std::string::npos);

  // A category names its folder items; each library of --in is updated in
  // turn, and one that cannot be opened fails the command, not the others.
  std::ofstream(tree / "later.txt") << "later";
  std::string copy = (dir.path / "copy.cds").string();
  fs::copy_file(library, copy);
  r = tamber("update Shelf/Sub --in '" + library + "' --in '" + copy + "' --in '" +
             (dir.path / "none.cds").string() + "'");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("Updated: 1. Not present: 0. Failed: 0."), std::string::npos) << r.out;
  EXPECT_NE(tamber("ls Shelf/Sub/Here").out.find("later.txt"), std::string::npos);
  EXPECT_NE(tamber("-L '" + copy + "' ls Shelf/Sub/Here").out.find("later.txt"), std::string::npos);
}

TEST_F(AddFolderCommand, BadInputGivesClearErrorsAndChangesNothing) {
  ASSERT_EQ(tamber("new '" + library + "'").status, 0);
  auto r = tamber("add-folder '" + tree.string() + "' --category C");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("Please specify a label for this folder"), std::string::npos) << r.out;
  r = tamber("add-folder '" + (dir.path / "missing").string() + "' --label L --category C");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("No such file or directory"), std::string::npos) << r.out;
  r = tamber("add-folder '" + tree.string() + "' --label L --category C --rule music=maybe");
  EXPECT_EQ(r.status, 2);
  r = tamber("add-folder '" + tree.string() + "' --label L --category C --rule /etc=skip");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("is not a folder below"), std::string::npos) << r.out;
  r = tamber("add-folder '" + tree.string() + "' --label L --category C --depth 300");
  EXPECT_EQ(r.status, 2);
  // None of these created the category.
  EXPECT_EQ(tamber("tree").out, "");
  // A library nobody may write is not changed.
  fs::permissions(library, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  r = tamber("add-folder '" + tree.string() + "' --label L --category C");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("the library is read-only"), std::string::npos) << r.out;
}

TEST_F(AddFolderCommand, EveryPathFindPrintsIsTakenBackByEveryCommand) {
  std::ofstream(tree / "music" / "odd\tname.txt") << "x";
  ASSERT_EQ(tamber("new '" + library + "'").status, 0);
  ASSERT_EQ(tamber("add-folder '" + tree.string() + "' --label H --category T -q").status, 0);
  auto r = tamber("find photo");
  EXPECT_NE(r.out.find("T/H/bundle.zip/photo.jpg\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("T/H/pics/photo.jpg\n"), std::string::npos) << r.out;
  // Each line find prints, escapes included, is a path ls takes back.
  auto printed = tamber("find .");
  size_t lines = 0;
  for (size_t at = 0, end; (end = printed.out.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string line = printed.out.substr(at, end - at);
    if (line.rfind("T/H", 0) != 0) continue;
    ++lines;
    auto ls = tamber("ls " + tamber::test_support::shellQuote(line));
    EXPECT_EQ(ls.status, 0) << line << ": " << ls.out;
  }
  EXPECT_GE(lines, 6u) << printed.out;
  EXPECT_EQ(tamber("ls 'T/H/music/odd\\tname.txt'").out, "odd\\tname.txt\n");
  // Inside an archive: its top level, a member, and no such member.
  EXPECT_EQ(tamber("ls T/H/bundle.zip/").out, "photo.jpg\n");
  r = tamber("ls -l T/H/bundle.zip/photo.jpg");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("photo.jpg"), std::string::npos) << r.out;
  EXPECT_EQ(tamber("ls T/H/bundle.zip/none.jpg").status, 1);
  EXPECT_EQ(tamber("ls T/H/bundle.zip").out, "bundle.zip\n");  // the file itself
  // thumb and archive take the one path as well as ITEM FILE.
  std::string png = (dir.path / "t.png").string();
  EXPECT_EQ(tamber("thumb T/H/pics/photo.jpg -o '" + png + "'").status, 0);
  EXPECT_TRUE(fs::exists(png));
  r = tamber("archive T/H/bundle.zip");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("photo.jpg"), std::string::npos) << r.out;
  EXPECT_EQ(tamber("archive T/H/pics").status, 1);
  // export-csv of a folder inside the item writes its rows alone.
  r = tamber("export-csv T/H/pics");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("T/H,pics/photo.jpg,file"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("readme.txt"), std::string::npos) << r.out;
  EXPECT_EQ(tamber("export-csv T/H/none").status, 1);
}

TEST_F(AddFolderCommand, SymbolicLinksAreRecordedAsLinksWithTheirTargets) {
  fs::create_symlink("../readme.txt", tree / "music" / "to-readme");
  fs::create_symlink("/nowhere/at/all", tree / "dangling");
  ASSERT_EQ(tamber("new '" + library + "'").status, 0);
  ASSERT_EQ(tamber("add-folder '" + tree.string() + "' --label H --category T -q").status, 0);
  auto r = tamber("ls -l T/H/music");
  EXPECT_NE(r.out.find("to-readme -> ../readme.txt\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("linkTarget"), std::string::npos) << r.out;
  EXPECT_EQ(tamber("ls T/H/music").out, "notes.txt\nto-readme\n");
  r = tamber("--json ls T/H/dangling");
  EXPECT_NE(r.out.find("\"type\":\"link\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"linkTarget\":\"/nowhere/at/all\""), std::string::npos) << r.out;
  r = tamber("export-csv T/H/dangling");
  EXPECT_NE(r.out.find("T/H,dangling,link,15,"), std::string::npos) << r.out;
}

// The bytes the command read (its rchar, with the shell's own few).
uint64_t bytesRead(const std::string& command) {
  auto r = tamber::test_support::runCommand("sh -c " + tamber::test_support::shellQuote(
      command + " >/dev/null 2>&1; grep rchar /proc/$$/io"));
  size_t at = r.out.find("rchar:");
  return at == std::string::npos ? 0 : std::stoull(r.out.substr(at + 6));
}

TEST_F(AddFolderCommand, ArchivesAreChosenByFirstBytesAndListedWithinABudget) {
  fs::path box = dir.path / "box";
  fs::create_directories(box / "src");
  std::ofstream(box / "src" / "inside.txt") << "inside";
  std::string src = (box / "src").string(), b = box.string();
  ASSERT_EQ(std::system(("cd '" + src + "' && tar cJf ../t.tar.xz inside.txt && tar cjf ../t.tbz2 inside.txt"
                         " && tar --zstd -cf ../t.tar.zst inside.txt && tar --lzip -cf ../t.tar.lz inside.txt"
                         " && 7zz a -bd ../t.7z inside.txt >/dev/null && cp ../t.7z ../seven.zip"
                         " && zip -q ../zip.tar.bz2 inside.txt"
                         " && python3 -c \"import zipfile; z = zipfile.ZipFile('../noted.zip', 'w');"
                         " z.comment = b'one\\r\\ntwo\\rthree'; z.write('inside.txt'); z.close()\""
                         " && rm -r '" + src + "'")
                            .c_str()),
            0);
  ASSERT_EQ(std::system((std::string(TAMBER_TESTS_DIR) + "/decomp/make_bombs.sh '" + b + "/bombs'").c_str()), 0);
  ASSERT_EQ(tamber("new '" + library + "'").status, 0);
  ASSERT_EQ(tamber("config set App-Preference ArchiveLimitMB 4 --int").status, 0);
  auto r = tamber("add-folder '" + b + "' --label Box --category C -q");
  ASSERT_EQ(r.status, 0) << r.out;
  // Compressed tars and 7z by any name, a zip under a tar's name.
  for (const char* name : {"t.tar.xz", "t.tbz2", "t.tar.zst", "t.tar.lz", "t.7z", "seven.zip", "zip.tar.bz2"}) {
    r = tamber(std::string("archive C/Box ") + name);
    EXPECT_EQ(r.status, 0) << name << ": " << r.out;
    EXPECT_NE(r.out.find("inside.txt"), std::string::npos) << name << ": " << r.out;
    EXPECT_EQ(r.out.find("partial"), std::string::npos) << name << ": " << r.out;
  }
  // A comment's line breaks, however written, are "\n".
  r = tamber("--json archive C/Box/noted.zip");
  EXPECT_NE(r.out.find("\"comment\":\"one\\ntwo\\nthree\""), std::string::npos) << r.out;
  // A bomb is kept as far as the budget went, and says so.
  r = tamber("archive C/Box bombs/bomb.tar.bz2");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("zeros.bin"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("second.txt"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("partial listing: the limit of bytes unpacked"), std::string::npos) << r.out;
  r = tamber("--json archive C/Box bombs/bomb.tar.xz");
  EXPECT_NE(r.out.find("\"partial\":\"bytes\""), std::string::npos) << r.out;
  r = tamber("media '" + b + "/bombs/bomb.tar.zst'");
  EXPECT_NE(r.out.find("partial listing"), std::string::npos) << r.out;
}

TEST_F(AddFolderCommand, FilesOfZerosAreReadNoFurtherThanTheirFirstBytes) {
  // Large files of zeros (a failed copy) under every name a reader takes,
  // against the same names holding one byte: what the readers read beyond
  // that byte stays under 64 KB a file.
  const char* names[] = {"a.mp3", "a.mp2", "a.ogg", "a.opus", "a.flac", "a.ape", "a.wma", "a.m4a",
                         "a.exe", "a.dll", "a.doc", "a.xls", "a.docx", "a.odt", "a.rtf", "a.pdf",
                         "a.html", "a.zip", "a.rar", "a.7z", "a.gz", "a.tgz", "a.tar", "a.tar.xz",
                         "a.tar.bz2", "a.tar.zst", "a.cab", "a.arj", "a.ace", "a.lzh", "a.sfx"};
  fs::path zeros = dir.path / "zeros", ones = dir.path / "ones";
  fs::create_directories(zeros);
  fs::create_directories(ones);
  for (const char* n : names) {
    std::ofstream(zeros / n).close();
    fs::resize_file(zeros / n, 4 << 20);
    std::ofstream(ones / n) << "x";
  }
  ASSERT_EQ(tamber("new '" + library + "'").status, 0);
  auto add = [&](const fs::path& tree, const char* label) {
    return bytesRead(env() + TAMBER_CLI + " -L '" + library + "' add-folder '" + tree.string() +
                     "' --label " + label + " --category C -q -j1");
  };
  add(ones, "Warm");  // the modules and the library's first pages
  uint64_t one = add(ones, "Ones"), zero = add(zeros, "Zeros");
  ASSERT_GT(one, 0u);
  EXPECT_LT(zero, one + std::size(names) * (64u << 10)) << "zeros " << zero << ", ones " << one;
  EXPECT_EQ(tamber("archive C/Zeros a.zip").status, 1);
}

// Whether process `pid` runs the program (past the shell's exec) and has a
// handler for `sig` (its SigCgt mask).
bool catches(pid_t pid, int sig) {
  std::error_code ec;
  auto exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
  if (ec || exe != fs::path(TAMBER_CLI)) return false;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) == 0) {
      unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      return (mask >> (sig - 1)) & 1;
    }
  }
  return false;
}

TEST_F(AddFolderCommand, InterruptCancelsAndLeavesTheLibraryAsItWas) {
  ASSERT_EQ(tamber("new '" + library + "'").status, 0);
  ASSERT_EQ(tamber("mkcat Before").status, 0);
  // Pictures take a while each (a thumbnail is made of every one).
  for (int d = 0; d < 20; ++d) {
    fs::path sub = tree / ("d" + std::to_string(d));
    fs::create_directories(sub);
    for (int f = 0; f < 100; ++f) {
      fs::create_hard_link(tree / "pics/photo.jpg", sub / ("p" + std::to_string(f) + ".jpg"));
    }
  }
  // Free sectors may hold the job's bytes afterwards; what the file holds
  // must not change. Ctrl-C and a polite kill both cancel, and the status
  // is the one a shell gives a command ended by that signal.
  std::string before = tamber("storage ls --hash '" + library + "'").out;
  for (int sig : {SIGINT, SIGTERM}) {
    std::string log = (dir.path / "log").string();
    std::string cmd = env() + "exec " + TAMBER_CLI + " -L '" + library + "' add-folder '" +
                      tree.string() + "' --label Big --category After >'" + log + "' 2>&1";
    const char* argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    // Once the program catches the signal (a slow start, under a
    // sanitizer, would otherwise meet the default action), and a moment on.
    for (int wait = 0; wait < 200 && !catches(pid, sig); ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, sig);
    int st = 0;
    waitpid(pid, &st, 0);
    std::ifstream l(log);
    std::string out((std::istreambuf_iterator<char>(l)), {});
    if (WIFEXITED(st) && WEXITSTATUS(st) == 0) GTEST_SKIP() << "the job ended before the signal";
    ASSERT_TRUE(WIFEXITED(st)) << out;
    EXPECT_EQ(WEXITSTATUS(st), 128 + sig) << out;
    EXPECT_NE(out.find("Cancelled."), std::string::npos) << out;
    EXPECT_EQ(tamber("storage ls --hash '" + library + "'").out, before);
    EXPECT_EQ(tamber("storage check '" + library + "'").status, 0);
  }
  EXPECT_EQ(tamber("tree").out, "#1 Before/\n");
}

}  // namespace
