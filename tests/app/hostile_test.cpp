// The command line against hostile libraries, odd files and kills: nothing
// is lost, nothing is touched that should not be, and every failure is
// reported as one.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/run_command.h"
#include "tests/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using tamber::test_support::CommandResult;
using tamber::test_support::runCommand;

std::string quote(const std::string& s) { return tamber::test_support::shellQuote(s); }

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    lib = dir / "lib.cds";
    cfg = dir / "tamber.cfg";
  }
  // Before the folder goes: a mount in it, or a part nobody may write.
  void TearDown() override {
    (void)runCommand("umount " + quote((dir / "ro").string()) + " 2>/dev/null");
    (void)runCommand("chmod -R u+w " + quote(dir.string()));
  }
  // `tamber` with the test's library and settings file.
  CommandResult tamber(const std::string& args, const fs::path& library = {}) {
    return runCommand(std::string(TAMBER_CLI) + " -L " + quote((library.empty() ? lib : library).string()) +
                      " --config " + quote(cfg.string()) + " " + args);
  }
  // A library whose catalog is `catalog` as given, streams planted beside it.
  void plant(const std::string& catalog, const std::vector<std::pair<std::string, std::string>>& streams = {}) {
    ASSERT_EQ(tamber("new " + quote(lib.string())).status, 0);
    put("categories", catalog);
    for (const auto& [name, text] : streams) put(name, text);
  }
  void put(const std::string& stream, const std::string& bytes) {
    auto src = dir / "planted";
    std::ofstream(src, std::ios::binary) << bytes;
    auto r = tamber("storage put " + quote(lib.string()) + " " + stream + " " + quote(src.string()));
    ASSERT_EQ(r.status, 0) << r.out;
  }
  std::string streams() { return tamber("storage ls " + quote(lib.string())).out; }
  tamber::test_support::TempDir tmp;
  fs::path dir = tmp.path, lib, cfg;
};

TEST_F(Hostile, ASettingsFileThatIsNotOneIsNeverSavedOver) {
  plant("<a><b g=\"1\"><c>Music</c></b></a>");
  std::string before = readFile(lib);
  // The library given as the settings file: defaults, a warning, the file untouched.
  auto r = runCommand(std::string(TAMBER_CLI) + " -L " + quote(lib.string()) + " --config " +
                      quote(lib.string()) + " tree");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("warning"), std::string::npos) << r.out;
  r = runCommand(std::string(TAMBER_CLI) + " -L " + quote(lib.string()) + " --config " +
                 quote(lib.string()) + " config set App-Preference lang fr");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(readFile(lib), before);
  // A folder or a device is a clear error, not an abort.
  for (std::string bad : {dir.string(), std::string("/dev/null")}) {
    r = runCommand(std::string(TAMBER_CLI) + " --config " + quote(bad) + " recent");
    EXPECT_EQ(r.status, 1) << bad << ": " << r.out;
    EXPECT_NE(r.out.find("tamber: error:"), std::string::npos) << r.out;
  }
  // A command that changes no setting writes no settings file.
  EXPECT_EQ(tamber("info").status, 0);
  fs::remove(cfg);
  EXPECT_NE(tamber("show Nowhere").status, 0);
  EXPECT_FALSE(fs::exists(cfg));
}

TEST_F(Hostile, EditsActOnTheEntryThePathNames) {
  // Two items numbered 2, one numbered 0, one past 65535.
  plant("<a><b g=\"1\"><c>Music</c><d>0</d>"
        "<e g=\"2\"><h>Dup</h><p>13</p></e><e g=\"2\"><h>Other</h><p>13</p></e>"
        "<e g=\"0\"><h>Zero</h><p>13</p></e><e g=\"70000\"><h>Big</h><p>13</p></e></b></a>",
        {{"col1-2.xml", "<a1 xmlns=\"urn:CDs\" i=\"13\"><b><c>f.txt</c><e>1</e></b></a1>"}});
  auto tree = tamber("tree");
  EXPECT_NE(tree.out.find("#0 Zero"), std::string::npos) << tree.out;
  EXPECT_NE(tree.out.find("#70000 Big"), std::string::npos) << tree.out;
  // Moving or giving a cover to an entry whose streams are shared is refused.
  ASSERT_EQ(tamber("mkcat Shelf").status, 0);
  auto mv = tamber("mv Music/Dup Shelf");
  EXPECT_EQ(mv.status, 1);
  EXPECT_NE(mv.out.find("cannot move"), std::string::npos) << mv.out;
  // Removing one of two items numbered alike keeps the other and its listing.
  ASSERT_EQ(tamber("-y rm Music/Dup").status, 0);
  tree = tamber("tree");
  EXPECT_EQ(tree.out.find("Dup"), std::string::npos) << tree.out;
  EXPECT_NE(tree.out.find("Other"), std::string::npos) << tree.out;
  EXPECT_NE(streams().find("col1-2.xml"), std::string::npos);
  EXPECT_EQ(tamber("ls Music/Other").out, "f.txt\n");
  // An item numbered 0 is an item, not its category.
  ASSERT_EQ(tamber("-y rm Music/Zero").status, 0);
  ASSERT_EQ(tamber("-y rm Music/Big").status, 0);
  tree = tamber("tree");
  EXPECT_NE(tree.out.find("Music"), std::string::npos) << tree.out;
  EXPECT_NE(tree.out.find("Other"), std::string::npos) << tree.out;
  EXPECT_EQ(tree.out.find("Zero"), std::string::npos) << tree.out;
  // Renaming is safe on any entry; a name with "/" could not be reached.
  EXPECT_EQ(tamber("rename Music/Other Renamed").status, 0);
  EXPECT_EQ(tamber("rename Music/Renamed a/b").status, 2);
}

TEST_F(Hostile, AFailingCommandChangesNothing) {
  plant("<a><b g=\"1\"><c>Music</c><e g=\"1\"><h>Folder</h><p>13</p></e></b></a>");
  std::string before = readFile(lib);
  auto r = tamber("set Music/Folder comment=X artist=Y");
  EXPECT_EQ(r.status, 1) << r.out;
  r = tamber("set Music/Folder comment=X bogus=1");
  EXPECT_EQ(r.status, 2) << r.out;
  r = tamber("set Music/Folder comment=X price=abc");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_EQ(readFile(lib), before);
  EXPECT_EQ(tamber("set Music/Folder comment=X price=12,50").status, 0);
  auto show = tamber("show Music/Folder");
  EXPECT_NE(show.out.find("Comment: X"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("Price: 12.50"), std::string::npos) << show.out;
  // Covers: a folder, an endless device, a text file, a missing file.
  before = readFile(lib);
  for (std::string bad : {dir.string(), std::string("/dev/zero"), std::string("/etc/passwd"),
                          (dir / "missing.jpg").string()}) {
    r = tamber("cover Music/Folder " + quote(bad));
    EXPECT_EQ(r.status, 1) << bad << ": " << r.out;
  }
  EXPECT_NE(tamber("cover Music/Folder " + quote((dir / "missing.jpg").string())).out.find("No such file"),
            std::string::npos);
  EXPECT_EQ(readFile(lib), before);
}

TEST_F(Hostile, ReplacedLibrariesKeepTheirModeAndTheirLink) {
  plant("<a><b g=\"1\"><c>Music</c></b></a>");
  ASSERT_EQ(chmod(lib.c_str(), 0600), 0);
  ASSERT_EQ(tamber("storage compact " + quote(lib.string())).status, 0);
  struct stat st {};
  ASSERT_EQ(stat(lib.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  auto link = dir / "link.cds";
  fs::create_symlink(lib.filename(), link);
  ASSERT_EQ(tamber("storage compact " + quote(link.string())).status, 0);
  EXPECT_TRUE(fs::is_symlink(link));
  ASSERT_EQ(tamber("new --force " + quote(link.string())).status, 0);
  EXPECT_TRUE(fs::is_symlink(link));
  ASSERT_EQ(stat(lib.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(tamber("tree").out, "");  // the real file is the new, empty library
  // Nothing left beside it.
  for (const auto& e : fs::directory_iterator(dir)) {
    EXPECT_EQ(e.path().filename().string().find(".lib.cds"), std::string::npos) << e.path();
  }
}

TEST_F(Hostile, ViewersNeverChangeTheFileAndShareIt) {
  plant("<a><b g=\"1\"><c>Music</c></b></a>");
  { std::ofstream(lib, std::ios::app | std::ios::binary) << std::string(1000, 'x'); }
  std::string before = readFile(lib);
  for (std::string cmd : {std::string("info"), std::string("tree"), std::string("show Music"),
                          "storage check " + quote(lib.string())}) {
    (void)tamber(cmd);
    EXPECT_EQ(readFile(lib), before) << cmd;
  }
  // Two viewers at once never refuse each other.
  std::string both = std::string(TAMBER_CLI) + " -L " + quote(lib.string()) + " --config " + quote(cfg.string());
  for (int i = 0; i < 10; ++i) {
    auto r = runCommand("(" + both + " tree >/dev/null & " + both + " info >/dev/null & " + both +
                        " show Music >/dev/null; s=$?; wait %1 || s=1; wait %2 || s=1; exit $s)");
    ASSERT_EQ(r.status, 0) << r.out;
  }
  // A library nobody may write can be viewed; changing it says why it cannot.
  ASSERT_EQ(chmod(lib.c_str(), 0444), 0);
  EXPECT_EQ(tamber("info").status, 0);
  auto r = tamber("mkcat Other");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("the library is read-only"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("\n1\n"), std::string::npos);  // no number printed before the failure
}

TEST_F(Hostile, ALibraryOnAReadOnlyMountCanBeViewed) {
  plant("<a><b g=\"1\"><c>Music</c></b></a>");
  auto ro = dir / "ro";
  fs::create_directories(ro);
  std::string mount = "mount --bind " + quote(dir.string()) + " " + quote(ro.string()) +
                      " && mount -o remount,bind,ro " + quote(ro.string());
  if (runCommand(mount + " 2>/dev/null").status != 0) {
    (void)runCommand("umount " + quote(ro.string()) + " 2>/dev/null");
    GTEST_SKIP() << "no permission to mount here";
  }
  auto onMount = ro / "lib.cds";
  std::string before = readFile(onMount);
  auto r = tamber("info", onMount);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("(read-only)"), std::string::npos) << r.out;
  EXPECT_EQ(tamber("tree", onMount).status, 0);
  r = tamber("mkcat Other", onMount);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("the library is read-only"), std::string::npos) << r.out;
  EXPECT_EQ(readFile(onMount), before);
  (void)runCommand("umount " + quote(ro.string()));
}

TEST_F(Hostile, EntityBombsAndDTDsAreRefused) {
  std::string bomb = "<!DOCTYPE a [<!ENTITY x0 \"0123456789\">";
  for (int i = 1; i < 12; ++i) {
    bomb += "<!ENTITY x" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) bomb += "&x" + std::to_string(i - 1) + ";";
    bomb += "\">";
  }
  bomb += "]>";
  plant(bomb + "<a><b g=\"1\"><c>Music</c><f>&x11;</f><e g=\"1\"><h>F</h><p>13</p></e></b></a>");
  for (std::string cmd : {"show Music", "info", "tree"}) {
    auto r = tamber(cmd);
    EXPECT_EQ(r.status, 1) << cmd << ": " << r.out.substr(0, 200);
    EXPECT_LT(r.out.size(), 1000u) << cmd;
  }
  // A small DTD that expands a little is kept and read.
  fs::remove(lib);
  plant("<!DOCTYPE a [<!ENTITY me \"Music\">]><a><b g=\"1\"><c>&me;</c>"
        "<e g=\"1\"><h>F</h><p>13</p></e></b></a>",
        {{"col1-1.xml", "<!DOCTYPE a1 [<!ENTITY y \"zz\">]><a1 i=\"13\"><b><c>&y;</c></b></a1>"}});
  auto show = tamber("show Music");
  EXPECT_EQ(show.status, 0) << show.out;
  auto ls = tamber("ls Music/F");
  EXPECT_EQ(ls.status, 1) << ls.out;
  EXPECT_NE(ls.out.find("the listing is damaged"), std::string::npos) << ls.out;
}

TEST_F(Hostile, OutputsAreCompleteOrAbsent) {
  // A picture with a thumbnail, catalogued for real.
  auto tree = dir / "tree";
  fs::create_directories(tree);
  ASSERT_EQ(std::system(("convert -size 200x100 gradient:red-blue " + quote((tree / "p.jpg").string())).c_str()), 0);
  ASSERT_EQ(tamber("new " + quote(lib.string())).status, 0);
  ASSERT_EQ(tamber("add-folder -q " + quote(tree.string()) + " --label T --category C").status, 0);
  // A link planted where a fixed temporary name would be is never written through.
  auto victim = dir / "victim";
  std::ofstream(victim) << "keep";
  fs::create_symlink(victim, dir / "out.png.tmp");
  auto r = tamber("thumb C/T p.jpg -o " + quote((dir / "out.png").string()));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(readFile(victim), "keep");
  EXPECT_EQ(readFile(dir / "out.png").substr(1, 3), "PNG");
  // A thumbnail that cannot be written leaves no file.
  r = tamber("thumb C/T p.jpg -o " + quote((dir / "x.gif").string()));
  EXPECT_NE(r.status, 0);
  EXPECT_FALSE(fs::exists(dir / "x.gif"));
  r = tamber("thumb C/T missing.jpg -o " + quote((dir / "y.jpg").string()));
  EXPECT_NE(r.status, 0);
  EXPECT_FALSE(fs::exists(dir / "y.jpg"));
  // A put into a new library that fails leaves no library.
  auto fresh = dir / "new.cds";
  r = runCommand(std::string(TAMBER_CLI) + " storage put " + quote(fresh.string()) + " 'bad:name' /etc/hostname");
  EXPECT_NE(r.status, 0);
  EXPECT_FALSE(fs::exists(fresh));
  // Names with control characters stay on one line.
  ASSERT_EQ(tamber("rename C/T " + quote("two\nlines")).status, 0);
  auto listed = tamber("tree");
  EXPECT_NE(listed.out.find("two\\nlines"), std::string::npos) << listed.out;
}

TEST_F(Hostile, AKilledCompactLeavesNothingBehind) {
  plant("<a><b g=\"1\"><c>Music</c></b></a>");
  std::mt19937 rng(7);
  std::string big(4 << 20, '\0');
  for (auto& ch : big) ch = static_cast<char>(rng());
  put("big", big);
  for (int kill = 0; kill < 12; ++kill) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      execl(TAMBER_CLI, TAMBER_CLI, "storage", "compact", lib.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    usleep(static_cast<useconds_t>(rng() % 30000));
    ::kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    auto r = tamber("storage check " + quote(lib.string()));
    ASSERT_EQ(r.status, 0) << "kill " << kill << ": " << r.out;
    ASSERT_EQ(tamber("info").status, 0);
    // Kill a settings save as well.
    pid = fork();
    if (pid == 0) {
      execl(TAMBER_CLI, TAMBER_CLI, "--config", cfg.c_str(), "config", "set", "S", "K",
            std::to_string(kill).c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    usleep(static_cast<useconds_t>(rng() % 3000));
    ::kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    for (const auto& e : fs::directory_iterator(dir)) {
      std::string name = e.path().filename().string();
      ASSERT_TRUE(name == "lib.cds" || name == "planted" || name == "tamber.cfg") << "kill " << kill << ": " << name;
    }
  }
  EXPECT_EQ(tamber("storage cat " + quote(lib.string()) + " big", {}).out.size(), big.size());
}

}  // namespace

namespace {

// Runs `command` under the shell with a time limit; the status, or -1 when
// it had to be killed (it blocked).
int boundedStatus(const std::string& command, int seconds, std::string* out = nullptr) {
  auto r = runCommand("timeout -s KILL " + std::to_string(seconds) + " " + command);
  if (out) *out = r.out;
  return r.status == 137 ? -1 : r.status;
}

}  // namespace

// A FIFO or a device named where a file is expected is refused at once:
// never opened for reading, never read without end.
TEST_F(Hostile, FifosAndDevicesNamedAsFilesAreRefused) {
  plant("<a><b g=\"1\"><c>Music</c></b></a>");
  auto fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string cli = std::string(TAMBER_CLI) + " --config " + quote(cfg.string()) + " ";
  std::string f = quote(fifo.string());
  for (std::string args : {"-L " + f + " tree", "-L " + f + " info", "find x --in " + f, "storage ls " + f,
                           "storage check " + f, "media " + f, "disc --drive sim:" + f,
                           std::string("disc --drive sim:/dev/zero"), "default " + f}) {
    std::string out;
    int status = boundedStatus(cli + args, 10, &out);
    EXPECT_NE(status, -1) << args << " blocked";
    EXPECT_NE(status, 0) << args << ": " << out;
    EXPECT_LT(out.size(), 2000u) << args;
  }
  // The reason is said.
  std::string out;
  boundedStatus(cli + "media " + f, 10, &out);
  EXPECT_NE(out.find("FIFO"), std::string::npos) << out;
}

// Characters a terminal acts on, or that turn text round, are escaped in
// what is printed, as control characters are; CSV cells that a spreadsheet
// would take for a formula, a tab or a carriage return first, get an
// apostrophe.
TEST_F(Hostile, UnicodeControlsAreEscapedAndCsvCellsGuarded) {
  auto tree = dir / "tree";
  fs::create_directories(tree);
  const std::vector<std::string> names = {"next\xC2\x85line", "csi\xC2\x9B" "31m", "sep\xE2\x80\xA8x",
                                          "rtl\xE2\x80\xAEtxt.exe", "\tindent", "\rreturn", "esc\x1B[31mred", "del\x7F~e"};
  for (const auto& n : names) std::ofstream(tree / n) << "x";
  ASSERT_EQ(tamber("new " + quote(lib.string())).status, 0);
  ASSERT_EQ(tamber("add-folder -q " + quote(tree.string()) + " --label T --category C").status, 0);
  for (std::string cmd : {"ls C/T", "find e", "tree"}) {
    auto r = tamber(cmd);
    for (std::string raw : {"\xC2\x85", "\xC2\x9B", "\xE2\x80\xA8", "\xE2\x80\xAE", "\r", "\x1B", "\x7F"}) {
      EXPECT_EQ(r.out.find(raw), std::string::npos) << cmd << " printed a control raw";
    }
    if (cmd != "tree") {
      EXPECT_NE(r.out.find("\\u0085"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("\\u202e"), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("del\\x7f~e"), std::string::npos) << r.out;
    }
  }
  // JSON keeps the names as they are.
  EXPECT_NE(tamber("--json ls C/T").out.find("rtl\xE2\x80\xAEtxt"), std::string::npos);
  auto csv = tamber("export-csv C/T");
  ASSERT_EQ(csv.status, 0) << csv.out;
  EXPECT_NE(csv.out.find(",'\tindent,"), std::string::npos) << csv.out;
  EXPECT_NE(csv.out.find(",\"'\rreturn\","), std::string::npos) << csv.out;
}

// A damaged listing is named, the others are exported and reported whole,
// and the command says so by its status.
TEST_F(Hostile, DamagedListingsAreNamedAndTheOthersFinished) {
  plant("<a><b g=\"1\"><c>Music</c><e g=\"1\"><h>Good</h><p>13</p></e><e g=\"2\"><h>Bad</h><p>13</p></e>"
        "<e g=\"3\"><h>Fine</h><p>13</p></e></b></a>",
        {{"col1-1.xml", "<a1 i=\"13\"><b><c>good.txt</c><e>1</e></b></a1>"},
         {"col1-2.xml", "<a1 i=\"13\"><a><c>sub</c><b><c>lost.txt</c><e>1</e></b>"},
         {"col1-3.xml", "<a1 i=\"13\"><b><c>fine.txt</c><e>1</e></b></a1>"}});
  auto xml = dir / "out.xml";
  auto r = tamber("export-xml Music -o " + quote(xml.string()));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("Music/Bad"), std::string::npos) << r.out;
  std::string text = readFile(xml);
  EXPECT_NE(text.find("good.txt"), std::string::npos);
  EXPECT_NE(text.find("fine.txt"), std::string::npos);
  EXPECT_EQ(runCommand("xmllint --noout " + quote(xml.string())).status, 0);
  for (std::string cmd : {"export-csv Music", "report Music", "report --format xml Music"}) {
    r = tamber(cmd);
    EXPECT_EQ(r.status, 1) << cmd << ": " << r.out.substr(0, 300);
    EXPECT_NE(r.out.find("fine.txt"), std::string::npos) << cmd;
    EXPECT_NE(r.out.find("Music/Bad"), std::string::npos) << cmd;
  }
  // find names it too, and says the search was not whole.
  r = tamber("find lost");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("Music/Bad"), std::string::npos) << r.out;
  r = tamber("find fine");
  EXPECT_NE(r.out.find("Music/Fine/fine.txt"), std::string::npos) << r.out;
}

// A regular expression that cannot decide a name in its time counts it as
// undecided (said, with the first name) instead of silently as no match;
// one that can, on a long name, decides it.
TEST_F(Hostile, RegularExpressionsThatGiveUpAreSaid) {
  std::string catalog = "<a><b g=\"1\"><c>Long</c><e g=\"1\"><h>L</h><p>13</p></e></b></a>";
  std::string listing = "<a1 i=\"13\">";
  std::string ab;
  for (int i = 0; i < 6000; ++i) ab += (i % 3 ? 'a' : 'b');
  listing += "<b><c>" + ab + "</c><e>1</e></b>";
  for (int i = 0; i < 30; ++i) listing += "<b><c>" + std::string(40 + i, 'a') + "!</c><e>1</e></b>";
  listing += "</a1>";
  plant(catalog, {{"col1-1.xml", listing}});
  // Linear on a name of 6,000 letters: decided, and found.
  auto r = tamber("find --regex -c '^(a|b)*$'");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.substr(0, 2), "1\n") << r.out;
  // Exponential: given up on, named, the search stopped after ten, in time.
  auto start = std::chrono::steady_clock::now();
  r = tamber("find --regex '(a+)+$' --count --whole");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("could not be decided"), std::string::npos) << r.out;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

// A thousand libraries are searched one at a time: a limit of 64 open files
// is no trouble; a library that cannot be searched is an exit status.
TEST_F(Hostile, ManyLibrariesAreOpenedInTurn) {
  plant("<a><b g=\"1\"><c>Music</c><e g=\"1\"><h>Disc</h><p>13</p></e></b></a>",
        {{"col1-1.xml", "<a1 i=\"13\"><b><c>song.txt</c><e>1</e></b></a1>"}});
  std::string in;
  for (int i = 0; i < 1000; ++i) {
    auto copy = dir / ("l" + std::to_string(i) + ".cds");
    fs::copy_file(lib, copy);
    in += " --in " + quote(copy.string());
  }
  auto r = runCommand("ulimit -n 64; " + std::string(TAMBER_CLI) + " --config " + quote(cfg.string()) +
                      " find song --count" + in);
  EXPECT_EQ(r.status, 0) << r.out.substr(0, 500);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "1000");
  std::ofstream(dir / "not.cds") << "no library";
  r = tamber("find song --count --in " + quote(lib.string()) + " --in " + quote((dir / "not.cds").string()));
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("not.cds"), std::string::npos) << r.out;
}

// Category names the program forbids (a "/" in them, ".", "..") are not
// brought in by an import: they get names a person could have typed.
TEST_F(Hostile, ImportRenamesForbiddenCategoryNames) {
  auto other = dir / "other.cds";
  ASSERT_EQ(tamber("new " + quote(other.string())).status, 0);
  auto src = dir / "planted";
  std::ofstream(src) << "<a><b g=\"1\"><c>a/b</c></b><b g=\"2\"><c>..</c></b><b g=\"3\"><c>.</c>"
                        "<b g=\"1\"><c>x/y/z</c></b></b></a>";
  ASSERT_EQ(runCommand(std::string(TAMBER_CLI) + " storage put " + quote(other.string()) + " categories " +
                       quote(src.string()))
                .status,
            0);
  ASSERT_EQ(tamber("new " + quote(lib.string())).status, 0);
  auto r = tamber("import " + quote(other.string()));
  EXPECT_EQ(r.status, 0) << r.out;
  auto tree = tamber("--json tree").out;
  for (std::string bad : {"\"a/b\"", "\"..\"", "\".\"", "x/y/z"}) {
    EXPECT_EQ(tree.find("\"name\":" + bad), std::string::npos) << bad << " in " << tree;
  }
  EXPECT_NE(tree.find("a_b"), std::string::npos) << tree;
  // Every category can be named on the command line afterwards.
  EXPECT_EQ(tamber("ls a_b").status, 0);
}
