// Readers of the user's own: how a command line is split, which names a
// pattern takes, the limits a reader runs within, and a scan that records
// their output and goes on when they fail.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "scan/user_readers.h"
#include "tests/run_command.h"
#include "tests/temp_dir.h"

namespace fs = std::filesystem;
using namespace tamber;
using namespace tamber::scan;
using test_support::runCommand;
using test_support::shellQuote;
using test_support::TempDir;

namespace {

UserReader reader(const std::string& pattern, const std::string& command, int ms = 5000, size_t limit = 4096) {
  UserReader r;
  r.pattern = pattern;
  r.argv = *splitCommandLine(command);
  r.timeLimitMs = ms;
  r.outputLimit = limit;
  return r;
}

TEST(UserReaders, CommandLinesSplitAsAShellWouldWithoutRunningOne) {
  using V = std::vector<std::string>;
  EXPECT_EQ(*splitCommandLine("head -c 100 {}"), (V{"head", "-c", "100", "{}"}));
  EXPECT_EQ(*splitCommandLine("  a  'b c'  \"d \\\"e\\\"\"  f\\ g "), (V{"a", "b c", "d \"e\"", "f g"}));
  EXPECT_EQ(*splitCommandLine("echo '' x"), (V{"echo", "", "x"}));
  EXPECT_EQ(*splitCommandLine("echo 'a\\b' $(rm -rf x) `y`"), (V{"echo", "a\\b", "$(rm", "-rf", "x)", "`y`"}));
  EXPECT_FALSE(splitCommandLine("echo 'open"));
  EXPECT_FALSE(splitCommandLine("echo \"open"));
  EXPECT_TRUE(splitCommandLine("")->empty());

  EXPECT_TRUE(userReaderMatches(reader("*.nfo", "cat"), "Film.NFO"));
  EXPECT_TRUE(userReaderMatches(reader("*.ÉTÉ", "cat"), "x.été"));
  EXPECT_TRUE(userReaderMatches(reader("read?e.[tm]xt", "cat"), "readme.txt"));
  EXPECT_FALSE(userReaderMatches(reader("*.nfo", "cat"), "film.nfo.bak"));
  EXPECT_FALSE(userReaderMatches(reader("*", "cat"), ".hidden"));
  UserReader none = reader("*", "cat");
  none.argv.clear();
  EXPECT_FALSE(userReaderMatches(none, "a"));
}

TEST(UserReaders, OutputTimeAndFailureAreBounded) {
  TempDir dir;
  // A name that a shell would run a command for is only a name here.
  fs::path odd = dir.path / "$(touch pwned) `touch pwned2`; x.txt";
  std::ofstream(odd) << "first line\nsecond line\n";
  auto text = runUserReader(reader("*.txt", "head -n 1"), odd.string());
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "first line");
  EXPECT_FALSE(fs::exists(dir.path / "pwned"));
  EXPECT_FALSE(fs::exists(fs::current_path() / "pwned"));
  // "{}" stands for the path wherever it is written.
  text = runUserReader(reader("*", "printf %s:%s before {}"), odd.string());
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "before:" + odd.string());
  // A name holding "{}" itself is put in once (it made the command grow
  // without end).
  fs::path braces = dir.path / "a{}b.txt";
  std::ofstream(braces) << "x";
  text = runUserReader(reader("*", "printf %s {}"), braces.string());
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, braces.string());

  // Endless output stops at the limit, cut at a character's end.
  text = runUserReader(reader("*", "sh -c 'yes ééééé' {}", 5000, 100), odd.string());
  ASSERT_TRUE(text);
  EXPECT_LE(text->size(), 100u);
  EXPECT_GT(text->size(), 80u);
  EXPECT_EQ(text->rfind("ééééé\nééééé", 0), 0u) << *text;
  // No half character made into another: the text ends with a whole "é".
  EXPECT_EQ(static_cast<unsigned char>(text->back()), 0xA9) << *text;
  // Bytes that are not UTF-8 become text.
  text = runUserReader(reader("*", "printf 'caf\\351'"), odd.string());
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "café");

  // A reader that does not end is stopped with what it started.
  std::string why;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(runUserReader(reader("*", "sh -c 'sleep 30 & sleep 30'", 500), odd.string(), &why));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_NE(why.find("500 ms"), std::string::npos) << why;
  // Failures say why and record nothing.
  EXPECT_FALSE(runUserReader(reader("*", "false"), odd.string(), &why));
  EXPECT_NE(why.find("status 1"), std::string::npos) << why;
  EXPECT_FALSE(runUserReader(reader("*", "/no/such/program"), odd.string(), &why));
  EXPECT_NE(why.find("/no/such/program"), std::string::npos) << why;
  EXPECT_FALSE(runUserReader(reader("*", "true"), odd.string(), &why));
  EXPECT_EQ(why, "printed nothing");
}

TEST(UserReaders, AScanRecordsWhatTheyPrintAndGoesOnWhenTheyFail) {
  TempDir dir;
  fs::path folder = dir.path / "Films";
  fs::create_directories(folder);
  std::ofstream(folder / "Film.nfo") << "Director: Somebody\nYear: 1999\n";
  std::ofstream(folder / "slow.log") << "x";
  std::ofstream(folder / "other.txt") << "not read";
  std::string lib = (dir.path / "l.cds").string(), config = (dir.path / "c.cfg").string();
  std::string cli = std::string(TAMBER_CLI) + " -L " + shellQuote(lib) + " --config " + shellQuote(config) + " ";
  ASSERT_EQ(runCommand(cli + "new " + shellQuote(lib)).status, 0);
  for (const char* set : {"UserReader1 Pattern '*.nfo'", "UserReader1 Command 'head -n 1 {}'",
                          "UserReader2 Pattern '*.log'", "UserReader2 Command 'sleep 20'",
                          "--int UserReader2 TimeLimitSeconds 1"}) {
    auto r = runCommand(cli + "config set " + set);
    ASSERT_EQ(r.status, 0) << set << ": " << r.out;
  }
  // A value out of range is refused.
  EXPECT_NE(runCommand(cli + "config set --int UserReader2 TimeLimitSeconds 0").status, 0);
  auto start = std::chrono::steady_clock::now();
  auto r = runCommand(cli + "add-folder -q " + shellQuote(folder.string()) + " --category C --label Films");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  r = runCommand(cli + "ls --json C/Films/Film.nfo", false);
  EXPECT_NE(r.out.find("\"description\":\"Director: Somebody\""), std::string::npos) << r.out;
  for (const char* file : {"slow.log", "other.txt"}) {
    r = runCommand(cli + "ls --json C/Films/" + file, false);
    EXPECT_NE(r.out.find(file), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("description"), std::string::npos) << r.out;
  }
  // Searchable as a document's property.
  r = runCommand(cli + "find somebody --kinds documents", false);
  EXPECT_NE(r.out.find("Film.nfo"), std::string::npos) << r.out;
  // Where documents are not read, neither are they run.
  r = runCommand(cli + "add-folder -q --no-docs " + shellQuote(folder.string()) + " --category C --label Bare");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(runCommand(cli + "ls --json C/Bare/Film.nfo", false).out.find("description"), std::string::npos);
}

}  // namespace
