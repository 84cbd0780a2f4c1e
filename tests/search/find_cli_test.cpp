// tamber find end to end: matching, ranges, disc fields, split listings,
// damaged listings, scopes, and the same answer from any number of workers.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/run_command.h"
#include "tests/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using tamber::test_support::CommandResult;
using tamber::test_support::runCommand;
using tamber::test_support::shellQuote;

void sized(const fs::path& p, off_t size, time_t mtime = 1500000000) {
  fs::create_directories(p.parent_path());
  int fd = ::open(p.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, size), 0);
  ::close(fd);
  timespec ts[2] = {{mtime, 0}, {mtime, 0}};
  ::utimensat(AT_FDCWD, p.c_str(), ts, 0);
}

class Find : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    lib = dir / "lib.cds";
    auto t = dir / "tree";
    sized(t / "docs" / "Report-2019.pdf", 102400, 1546300800);   // 2019-01-01 00:00 UTC
    sized(t / "docs" / "report-2020.pdf", 204800, 1577836800);   // 2020-01-01
    sized(t / "docs" / "notes.txt", 204801, 1577836799);         // 2019-12-31 23:59:59
    sized(t / "video" / "holiday.mkv", 5000000000LL, 1600000000);
    for (int i = 0; i < 1001; ++i) sized(t / "many" / ("frame" + std::to_string(i) + ".raw"), 10);
    ASSERT_EQ(tamber("new " + shellQuote(lib.string())).status, 0);
    auto r = tamber("add-folder -q " + shellQuote(t.string()) + " --label 'Backup report' --category Archive");
    ASSERT_EQ(r.status, 0) << r.out;
    r = tamber("add-folder -q " + shellQuote((t / "docs").string()) + " --label Docs --category Other");
    ASSERT_EQ(r.status, 0) << r.out;
  }
  CommandResult tamber(const std::string& args, bool withStderr = true) {
    return runCommand(std::string("TZ=UTC ") + TAMBER_CLI + " -L " + shellQuote(lib.string()) +
                      " --config " + shellQuote((dir / "cfg").string()) + " " + args,
                      withStderr);
  }
  // The rows a search prints (standard output alone).
  std::string rows(const std::string& args) { return tamber(args, false).out; }
  tamber::test_support::TempDir tmp;
  fs::path dir = tmp.path, lib;
};

TEST_F(Find, MatchesNamesAndDiscFieldsAsTyped) {
  auto r = tamber("find report", false);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "Archive/Backup report\n"
            "Archive/Backup report/docs/Report-2019.pdf\n"
            "Archive/Backup report/docs/report-2020.pdf\n"
            "Other/Docs/Report-2019.pdf\n"
            "Other/Docs/report-2020.pdf\n");
  // -q prints nothing; the status says whether there were hits.
  r = tamber("-q find report");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(tamber("find -q nothing-like-this").status, 1);
  EXPECT_EQ(tamber("find Report --case --count").out, "2\n");
  EXPECT_EQ(tamber("find 'report-20[12]?.pdf' --whole --count").out, "0\n");  // whole: no wildcards
  EXPECT_EQ(tamber("find report-2020.PDF --whole --count").out, "2\n");
  // A text with wildcards matches the whole name, as a glob does.
  EXPECT_EQ(tamber("find '?otes' --count").out, "0\n");
  EXPECT_EQ(tamber("find '?otes.txt' --count").out, "2\n");
  EXPECT_EQ(tamber("find 'frame1?.raw' --whole --count").out, "0\n");
  // frame10-12, frame100-129 and frame1000.
  EXPECT_EQ(tamber("find 'frame1[0-2]*' --count").out, "34\n");
  EXPECT_EQ(tamber("find 'frame1[0-2]' --count").out, "0\n");
  EXPECT_EQ(tamber("find nothing-like-this").status, 1);
  EXPECT_EQ(tamber("find '  '").status, 2);
  EXPECT_EQ(tamber("find report --scope Other --count").out, "2\n");
  EXPECT_EQ(tamber("find report --kinds tags --count").out, "1\n");  // the disc field only
}

TEST_F(Find, SizeAndDateRangesAreInclusiveAndLeaveDiscFieldsOut) {
  auto r = tamber("find pdf --min-kb 100 --max-kb 200 --scope Archive", false);
  EXPECT_EQ(r.out, "Archive/Backup report/docs/Report-2019.pdf\nArchive/Backup report/docs/report-2020.pdf\n");
  EXPECT_EQ(tamber("find '*' --min-kb 200 --max-kb 200 --scope Archive --count").out, "1\n");
  // Sizes are 64-bit: a 5 GB file is above 4 GB, not wrapped below.
  EXPECT_EQ(rows("find mkv --min-kb 4194304"), "Archive/Backup report/video/holiday.mkv\n");
  r = tamber("find '*' --from 2019-01-01 --to 2019-12-31 --scope Other", false);
  EXPECT_EQ(r.out, "Other/Docs/notes.txt\nOther/Docs/Report-2019.pdf\n");
  // With a range, the disc's own fields are not searched.
  EXPECT_EQ(tamber("find report --from 2000-01-01 --count").out, "4\n");
}

TEST_F(Find, SplitListingsDamageAndWorkersGiveOneAnswer) {
  auto r = tamber("--json find frame1000");
  EXPECT_NE(r.out.find("\"path\":\"many/frame1000.raw\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"part\":1"), std::string::npos) << r.out;
  std::string one = rows("find raw --jobs 1"), eight = rows("find raw --jobs 8");
  EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 1001);
  EXPECT_EQ(one, eight);
  // A damaged listing is named; the other items are still searched.
  auto bomb = dir / "bomb.xml";
  std::ofstream(bomb) << "<?xml version=\"1.0\"?><!DOCTYPE a1 [<!ENTITY e \"x\">]><a1><b><c>&e;report</c></b></a1>";
  ASSERT_EQ(tamber("storage put " + shellQuote(lib.string()) + " col2-1.xml " + shellQuote(bomb.string())).status, 0);
  // The search was not whole: status 2.
  r = tamber("find report");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("error: Other/Docs: the listing is damaged"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Archive/Backup report/docs/Report-2019.pdf"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Other/Docs/"), std::string::npos) << r.out;
}

// A larger library of mixed names: any number of workers gives the same
// rows, and the quick look over listing bytes (taken for wildcard texts)
// finds what a regular expression, which reads every listing in full, finds.
TEST_F(Find, ManyWorkersAndTheQuickLookAgreeOnALargerLibrary) {
  auto t = dir / "mixed";
  const char* words[] = {"Photo", "mix", "Łódź", "été", "写真", "Report", "a&b", "trip"};
  for (int f = 0; f < 3000; ++f) {
    std::string folder = std::string(words[f % 7]) + "_" + std::to_string(f % 97);
    if (f % 3 == 0) folder += "/" + std::string(words[(f / 3) % 8]) + std::to_string(f % 11);
    sized(t / folder / (std::string(words[(f * 7) % 8]) + "-" + std::to_string(f) + ".dat"), f);
  }
  ASSERT_EQ(tamber("add-folder -q " + shellQuote(t.string()) + " --label Mixed --category Big").status, 0);
  std::string one = rows("find mix --jobs 1"), eight = rows("find mix --jobs 8");
  EXPECT_GT(std::count(one.begin(), one.end(), '\n'), 400);
  EXPECT_EQ(one, eight);
  for (std::string text : {"photo-1", "ŁÓDŹ", "A&B", "photo_4", "-29", "写真_5", "mix-2999.dat"}) {
    std::string plain = tamber("find " + shellQuote(text) + " --count").out;
    std::string regex;
    for (char c : text) regex += std::string(std::strchr(".+()[]{}?*^$|\\", c) && c ? "\\" : "") + c;
    EXPECT_EQ(plain, tamber("find " + shellQuote(regex) + " --regex --count").out) << text;
  }
}

TEST_F(Find, RegularExpressionsSeveralLibrariesAndTheCountLine) {
  auto r = tamber("find '^report-20(19|20)\\.pdf$' --regex --scope Archive");
  EXPECT_EQ(r.status, 0) << r.out;
  // The count line closes the rows (on standard error, in the user's language).
  EXPECT_EQ(r.out,
            "Archive/Backup report/docs/Report-2019.pdf\n"
            "Archive/Backup report/docs/report-2020.pdf\n"
            " 2 hit(s) for [\"^report-20(19|20)\\.pdf$\"]\n");
  EXPECT_EQ(tamber("find '^report' --regex --case --count").out, "2\n");
  EXPECT_EQ(tamber("find 'report-2020' --regex --whole --count").out, "0\n");  // whole: anchored
  EXPECT_EQ(tamber("find 'report-2020\\.pdf' --regex --whole --count").out, "2\n");
  r = tamber("find '(' --regex");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("missing closing parenthesis"), std::string::npos) << r.out;

  // Several libraries, each read-only: rows say their library; a library
  // held by a writer is named and skipped; a missing one too.
  auto second = dir / "second.cds";
  ASSERT_EQ(tamber("new " + shellQuote(second.string())).status, 0);
  auto t = dir / "tree2";
  sized(t / "report-2021.pdf", 5);
  ASSERT_EQ(runCommand(std::string(TAMBER_CLI) + " -L " + shellQuote(second.string()) + " --config " +
                       shellQuote((dir / "cfg").string()) + " add-folder -q " + shellQuote(t.string()) +
                       " --label New --category Recent")
                .status,
            0);
  std::string in = " --in " + shellQuote(lib.string()) + " --in " + shellQuote(second.string());
  r = tamber("find report-202" + in, false);
  EXPECT_EQ(r.out, lib.string() + ": Archive/Backup report/docs/report-2020.pdf\n" + lib.string() +
                       ": Other/Docs/report-2020.pdf\n" + second.string() + ": Recent/New/report-2021.pdf\n");
  r = tamber("--json find 2021" + in);
  EXPECT_NE(r.out.find("{\"library\":" + std::string("\"") + second.string() + "\",\"item\":\"Recent/New\""),
            std::string::npos)
      << r.out;
  int fd = ::open(second.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &fl), 0);
  r = tamber("find report-202" + in + " --in " + shellQuote((dir / "none.cds").string()));
  ::close(fd);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("error: " + second.string()), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("none.cds"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" 2 hit(s) for"), std::string::npos) << r.out;

  // A search without hits still keeps its text in the history.
  EXPECT_EQ(tamber("find no-such-text-anywhere").status, 1);
  r = tamber("config list");
  EXPECT_NE(r.out.find("Last0 = no-such-text-anywhere"), std::string::npos) << r.out;
}

TEST_F(Find, ArchiveMembersAreFoundUnlessLeftOut) {
  auto t = dir / "packed";
  fs::create_directories(t / "inner");
  std::ofstream(t / "inner" / "Minutes-2021.txt") << "text";
  sized(t / "inner" / "big.bin", 300 * 1024);
  ASSERT_EQ(runCommand("cd " + shellQuote((t / "inner").string()) + " && zip -q ../papers.zip Minutes-2021.txt big.bin")
                .status,
            0);
  fs::remove_all(t / "inner");
  ASSERT_EQ(tamber("add-folder -q " + shellQuote(t.string()) + " --label Packed --category Zips").status, 0);
  auto r = tamber("find minutes", false);
  EXPECT_EQ(r.out, "Zips/Packed/papers.zip/Minutes-2021.txt\n");
  r = tamber("--json find minutes");
  EXPECT_NE(r.out.find("\"kind\":\"archive member\""), std::string::npos) << r.out;
  EXPECT_EQ(tamber("find minutes --no-archives").status, 1);
  // Ranges apply to members as to files.
  EXPECT_EQ(rows("find '*' --scope Zips --min-kb 100"), "Zips/Packed/papers.zip/big.bin\n");
  // A damaged archive listing is named; the rest is still searched.
  auto bad = dir / "bad.bin";
  std::ofstream(bad) << std::string("\x40\0\0\0<archive><file name=\"minutes\"/>", 36);
  ASSERT_EQ(tamber("storage put " + shellQuote(lib.string()) + " arc3-1 " + shellQuote(bad.string())).status, 0);
  r = tamber("find minutes");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("error: Zips/Packed: the archive listing is damaged"), std::string::npos) << r.out;
}

// A search on the command line starts from the documented defaults every
// time (the find dialog's saved switches are its own); a settings folder
// that cannot be written is a warning, not a failed search.
TEST_F(Find, EachSearchStartsFromTheDefaults) {
  EXPECT_EQ(tamber("find report --kinds tags --count").out, "1\n");
  EXPECT_EQ(tamber("find report-2020 --count").out, "2\n");  // names again, without --kinds
  // The settings file on a read-only mount: kept as it is, said once.
  auto cfgDir = dir / "cfgdir", ro = dir / "ro-config";
  fs::create_directories(cfgDir);
  fs::create_directories(ro);
  if (runCommand("mount --bind " + shellQuote(cfgDir.string()) + " " + shellQuote(ro.string()) +
                 " && mount -o remount,bind,ro " + shellQuote(ro.string()) + " 2>/dev/null")
          .status != 0) {
    (void)runCommand("umount " + shellQuote(ro.string()) + " 2>/dev/null");
    GTEST_SKIP() << "no permission to mount here";
  }
  auto r = runCommand(std::string(TAMBER_CLI) + " -L " + shellQuote(lib.string()) + " --config " +
                      shellQuote((ro / "tamber.cfg").string()) + " find report-2020");
  (void)runCommand("umount " + shellQuote(ro.string()));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Other/Docs/report-2020.pdf"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("warning"), std::string::npos) << r.out;
}

// What a script acts on: NUL-ended names, types, field names in text and
// JSON, whole paths, colour only where asked for.
TEST_F(Find, OutputAScriptCanActOn) {
  std::string nul = rows("find -0 report-2020");
  EXPECT_EQ(nul, std::string("Archive/Backup report/docs/report-2020.pdf\0Other/Docs/report-2020.pdf\0", 70));
  EXPECT_EQ(tamber("find report --type disc --count").out, "1\n");
  EXPECT_EQ(tamber("find report --type file --count").out, "4\n");
  EXPECT_EQ(tamber("find many --type folder --count").out, "1\n");
  EXPECT_EQ(tamber("find report --type nonsense").status, 2);
  // Whole paths: the folder "docs" of the item named "Backup report".
  EXPECT_EQ(tamber("find -p 'Archive/*/docs/*.pdf' --count").out, "2\n");
  EXPECT_EQ(tamber("find -p 'docs/report' --count").out, "4\n");
  EXPECT_EQ(tamber("find -p -s 'docs/report' --count").out, "1\n");
  // Short options as rg and fd have them.
  EXPECT_EQ(tamber("find -s Report -c").out, "2\n");
  EXPECT_EQ(tamber("find -w report-2020.pdf -c").out, "2\n");
  EXPECT_EQ(tamber("find -e '^report-20(19|20)' -c").out, "4\n");
  // --max-kb 0 is empty files, not "no limit".
  EXPECT_EQ(tamber("find '*' --max-kb 0 --type file --count").out, "0\n");
  EXPECT_EQ(tamber("find '*' --max-kb 1 --type file --count").out, "1001\n");
  // Colour: never in a pipe unless asked for; NO_COLOR wins over auto.
  EXPECT_EQ(rows("find report-2020").find('\033'), std::string::npos);
  EXPECT_NE(rows("find --color always report-2020").find("\033["), std::string::npos);
  EXPECT_EQ(rows("find --color never report-2020").find('\033'), std::string::npos);
  // A path printed with its escapes is taken back by --scope.
  sized(dir / "odd" / "two\nlines" / "inside.txt", 5);
  ASSERT_EQ(tamber("add-folder -q " + shellQuote((dir / "odd").string()) + " --label Odd --category Other").status, 0);
  std::string folder = rows("find lines --type folder");
  ASSERT_EQ(folder, "Other/Odd/two\\nlines\n");
  folder.pop_back();
  EXPECT_EQ(rows("find '*' --scope " + shellQuote(folder)), folder + "\n" + folder + "/inside.txt\n");
}

// Documents' properties are documents: a PDF's title is found with
// --kinds documents, not with tracks or tags; a field is named as ls -l
// names it.
TEST_F(Find, DocumentsAndFieldNames) {
  auto t = dir / "papers";
  fs::create_directories(t);
  fs::copy_file(fs::path(TAMBER_DOCS) / "report.pdf", t / "report.pdf");
  ASSERT_EQ(tamber("add-folder -q " + shellQuote(t.string()) + " --label Papers --category Docs").status, 0);
  EXPECT_EQ(tamber("find 'annual report' --kinds documents --count").out, "1\n");
  EXPECT_EQ(tamber("find 'annual report' --kinds tracks,tags --count").out, "0\n");
  std::string text = rows("find 'annual report' --kinds documents");
  EXPECT_NE(text.find("Docs/Papers/report.pdf  (title: Annual report)"), std::string::npos) << text;
  std::string json = rows("--json find 'Zoë' --kinds documents");
  EXPECT_NE(json.find("\"field\":\"author\",\"fieldCode\":\"c4\""), std::string::npos) << json;
}

// Names in the order the listing keeps them, which is the tree's: a folder,
// then its entries, names compared without regard to ASCII case, shorter
// first; a folder whose entries stand in a listing part of their own (more
// than 1000), and a part inside a part, come where the folder stands. The
// model here walks the tree itself.
TEST_F(Find, HitsComeInTheTreeOrderWithPartsInPlace) {
  auto t = dir / "ordered";
  for (int i = 0; i < 1003; ++i) sized(t / "Big" / ("f" + std::to_string(i % 7) + "_" + std::to_string(i)), 1);
  for (int i = 0; i < 1002; ++i) sized(t / "Big" / "deep" / "Deeper" / ("g" + std::to_string(i)), 1);
  for (const char* n : {"Big.txt", "big_after", "a b", "A", "a", "Zeta", "zz", "Été", "b"}) sized(t / n, 1);
  sized(t / "Big" / "small" / "one", 1);
  sized(t / "Big" / "deep" / "x", 1);
  ASSERT_EQ(tamber("add-folder -q " + shellQuote(t.string()) + " --label Order --category Tree").status, 0);
  auto less = [](const std::string& a, const std::string& b) {
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
      int x = std::toupper(static_cast<unsigned char>(a[i])), y = std::toupper(static_cast<unsigned char>(b[i]));
      if (x != y) return x < y;
    }
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  };
  std::string expected;
  std::function<void(const fs::path&, const std::string&)> walk = [&](const fs::path& at, const std::string& shown) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(at)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end(), less);
    for (const auto& n : names) {
      expected += shown + "/" + n + "\n";
      if (fs::is_directory(at / n)) walk(at / n, shown + "/" + n);
    }
  };
  walk(t, "Tree/Order");
  // Both folders are listing parts of their own.
  auto json = rows("--json find 'g1001' --scope Tree") + rows("--json find 'f6_1000' --scope Tree");
  EXPECT_EQ(json.find("\"part\":0"), std::string::npos) << json;
  EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 2) << json;
  for (int jobs : {1, 6}) {
    std::string got = rows("find '*' --type file --type folder --scope Tree --jobs " + std::to_string(jobs));
    EXPECT_EQ(std::count(got.begin(), got.end(), '\n'), 2020);
    EXPECT_TRUE(got == expected) << "first difference at byte "
                                 << std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first -
                                        got.begin();
  }
}

// Rows come as they are found, in their final order: the first row of a
// large search is there long before the search ends, and a pipe that
// closes ends it.
TEST_F(Find, RowsComeAsTheyAreFound) {
  auto t = dir / "large";
  for (int f = 0; f < 60; ++f) {
    for (int i = 0; i < 300; ++i) sized(t / ("d" + std::to_string(f)) / ("file" + std::to_string(i)), 1);
  }
  ASSERT_EQ(tamber("add-folder -q " + shellQuote(t.string()) + " --label Large --category Big").status, 0);
  // The same rows, in the same order, whatever the workers.
  std::string one = rows("find file --jobs 1"), five = rows("find file --jobs 5");
  EXPECT_EQ(one, five);
  EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 18000);
  auto head = tamber("find file | head -2", false);
  EXPECT_EQ(std::count(head.out.begin(), head.out.end(), '\n'), 2);
  EXPECT_EQ(head.out, one.substr(0, one.find('\n', one.find('\n') + 1) + 1));
}

}  // namespace

TEST_F(Find, AllSearchesEveryLibraryOfTheLibraryFolders) {
  // Two folders of libraries (one name in capitals, one file that only
  // looks like a library), the recent list, and the same library reached
  // twice: each library once, in folder then name order, the recent ones
  // after.
  auto shelf = dir / "shelf", more = dir / "more";
  fs::create_directories(shelf);
  fs::create_directories(more);
  auto make = [&](const fs::path& library, const std::string& name) {
    ASSERT_EQ(tamber("new " + shellQuote(library.string())).status, 0);
    auto t = dir / ("t-" + name);
    sized(t / (name + "-holiday.jpg"), 3);
    auto r = runCommand(std::string(TAMBER_CLI) + " -L " + shellQuote(library.string()) + " --config " +
                        shellQuote((dir / "cfg").string()) + " add-folder -q " + shellQuote(t.string()) +
                        " --label " + name + " --category C");
    ASSERT_EQ(r.status, 0) << r.out;
  };
  make(shelf / "b.cds", "b");
  make(shelf / "A.CDS", "a");
  make(more / "c.cds", "c");
  std::ofstream(shelf / "notes.cds.txt") << "not a library";
  // Nothing set: the default library's folder (here none) and the recent
  // list, which the libraries made above are on.
  auto r = tamber("find --all holiday", false);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(shelf.string() + "/A.CDS: C/a/a-holiday.jpg\n"), std::string::npos) << r.out;
  ASSERT_EQ(tamber("config set App-Preference LibraryFolders " + shellQuote(shelf.string() + ":" + more.string() + ":" +
                                                                   (dir / "nowhere").string() + ":" + shelf.string()))
                .status,
            0);
  r = tamber("find -a holiday", false);
  EXPECT_EQ(r.status, 0);
  std::string want = shelf.string() + "/A.CDS: C/a/a-holiday.jpg\n" + shelf.string() + "/b.cds: C/b/b-holiday.jpg\n" +
                     more.string() + "/c.cds: C/c/c-holiday.jpg\n";
  EXPECT_EQ(r.out.substr(0, want.size()), want);
  // Only the recent list's libraries follow, each not yet searched.
  EXPECT_EQ(r.out.find(shelf.string() + "/A.CDS", want.size()), std::string::npos) << r.out;
  // A damaged library is named and the others are still searched: exit 2.
  std::ofstream(more / "broken.cds") << "junk";
  r = tamber("find -a holiday --count");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("broken.cds"), std::string::npos) << r.out;
  // No library anywhere is said, with where it was looked for.
  r = runCommand(std::string(TAMBER_CLI) + " --config " + shellQuote((dir / "fresh.cfg").string()) +
                 " config set App-Preference LibraryFolders " + shellQuote((dir / "nowhere").string()));
  ASSERT_EQ(r.status, 0) << r.out;
  r = runCommand(std::string(TAMBER_CLI) + " --config " + shellQuote((dir / "fresh.cfg").string()) + " find -a x");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find((dir / "nowhere").string()), std::string::npos) << r.out;
}
