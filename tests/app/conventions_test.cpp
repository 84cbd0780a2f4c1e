// The command line as people who know ls, du, git and jq use it: option
// positions, listings, sizes, JSON that parses with the right types, error
// texts and exit statuses, and the faults found when it was first tried.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "tests/run_command.h"
#include "tests/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using tamber::test_support::CommandResult;
using tamber::test_support::runCommand;

std::string quote(const std::string& s) { return tamber::test_support::shellQuote(s); }

void write(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

class Conventions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    lib = dir / "lib.cds";
    cfg = dir / "tamber.cfg";
    tree = dir / "tree";
    write(tree / "File2.txt", std::string(2000, 'a'));
    write(tree / "file10.txt", "x");
    write(tree / "b.bin", std::string(5000, 'b'));
    write(tree / "Sub2" / "x.txt", std::string(300, 'x'));
    write(tree / "sub10" / "deep" / "y.txt", std::string(70, 'y'));
    write(tree / "sub10" / "line\nbreak.txt", "z");
    // Times that tell the files apart for --sort time.
    for (auto [name, t] : {std::pair{"File2.txt", 1000000000L}, {"file10.txt", 1200000000L},
                           {"b.bin", 1100000000L}}) {
      timespec ts[2] = {{t, 0}, {t, 0}};
      utimensat(AT_FDCWD, (tree / name).c_str(), ts, 0);
    }
    ASSERT_EQ(tamber("new " + quote(lib.string())).status, 0);
    auto r = tamber("add-folder -q " + quote(tree.string()) + " --label Disc --category Music/Rock");
    ASSERT_EQ(r.status, 0) << r.out;
  }

  CommandResult tamber(const std::string& args, bool withStderr = true) {
    return runCommand(std::string(TAMBER_CLI) + " -L " + quote(lib.string()) + " --config " +
                          quote(cfg.string()) + " " + args,
                      withStderr);
  }
  // Runs `args` with --json and a Python check of the parsed document `d`;
  // the check prints what it finds wrong.
  std::string json(const std::string& args, const std::string& check) {
    auto r = runCommand(std::string(TAMBER_CLI) + " -L " + quote(lib.string()) + " --config " +
                        quote(cfg.string()) + " --json " + args +
                        " | python3 -c " +
                        quote("import json,sys\nd=json.load(sys.stdin)\n" + check));
    return r.status == 0 ? r.out : "exit " + std::to_string(r.status) + ": " + r.out;
  }
  tamber::test_support::TempDir tmp;
  fs::path dir = tmp.path, lib, cfg, tree;
};

TEST_F(Conventions, GlobalOptionsGoAnywhere) {
  std::string plain = tamber("info").out;
  auto before = runCommand(std::string(TAMBER_CLI) + " --json -L " + quote(lib.string()) + " info");
  auto after = runCommand(std::string(TAMBER_CLI) + " info -L " + quote(lib.string()) + " --json");
  EXPECT_EQ(before.status, 0);
  EXPECT_EQ(before.out, after.out);
  EXPECT_NE(before.out.find("\"discs\":0"), std::string::npos) << before.out;
  EXPECT_NE(plain, before.out);
  EXPECT_EQ(tamber("-y -q rm Music/Rock/Disc").status, 0);
}

TEST_F(Conventions, LsListsOneLevelSortedNaturallyWithFoldersFirst) {
  auto r = tamber("ls Music/Rock/Disc");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Sub2/\nsub10/\nb.bin\nFile2.txt\nfile10.txt\n");
  // The older two-argument form and the one-path form agree.
  EXPECT_EQ(tamber("ls Music/Rock/Disc sub10").out, tamber("ls Music/Rock/Disc/sub10").out);
  EXPECT_EQ(tamber("ls Music/Rock/Disc/sub10").out, "deep/\nline\\nbreak.txt\n");
  EXPECT_EQ(tamber("ls -r Music/Rock/Disc").out, "sub10/\nSub2/\nfile10.txt\nFile2.txt\nb.bin\n");
  EXPECT_EQ(tamber("ls --sort size Music/Rock/Disc").out, "Sub2/\nsub10/\nb.bin\nFile2.txt\nfile10.txt\n");
  EXPECT_EQ(tamber("ls --sort time Music/Rock/Disc").out.substr(13), "file10.txt\nb.bin\nFile2.txt\n");
  EXPECT_EQ(tamber("ls -R Music/Rock/Disc/sub10").out, "deep/\n  y.txt\nline\\nbreak.txt\n");
  EXPECT_EQ(tamber("ls --depth 2 Music/Rock/Disc").out,
            "Sub2/\n  x.txt\nsub10/\n  deep/\n  line\\nbreak.txt\nb.bin\nFile2.txt\nfile10.txt\n");
  // Recorded order streams out unsorted: the scanner records names in
  // order without regard to case.
  EXPECT_EQ(tamber("ls --sort none Music/Rock/Disc").out, "b.bin\nfile10.txt\nFile2.txt\nsub10/\nSub2/\n");
  // Sizes and local times in the long form; -h as ls prints them.
  r = tamber("ls -l -h Music/Rock/Disc");
  EXPECT_NE(r.out.find("      4.9K  2004-11-"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("      2.0K  2001-09-"), std::string::npos) << r.out;
  r = tamber("ls -l Music/Rock/Disc/b.bin");
  EXPECT_NE(r.out.find("      5000  "), std::string::npos) << r.out;
  EXPECT_EQ(tamber("ls Music/Rock/Disc/none").status, 1);
}

TEST_F(Conventions, LsOfCategoriesAndTheTopLevel) {
  ASSERT_EQ(tamber("mkcat Music/Jazz").out, "2\n");
  EXPECT_EQ(tamber("ls").out, "Music/\n");
  EXPECT_EQ(tamber("ls Music").out, "Jazz/\nRock/\n");
  auto r = tamber("ls -l Music/Rock");
  EXPECT_NE(r.out.find("#1      Folder on a hard disk"), std::string::npos) << r.out;
  EXPECT_EQ(json("ls Music/Rock",
                 "e=d[0]\n"
                 "assert e['name']=='Disc' and e['type']=='item' and e['number']==1, e\n"
                 "assert e['kind']=='Folder on a hard disk' and e['kindCode']==13, e\n"
                 "assert e['files']==6 and e['folders']==3, e\n"),
            "");
  EXPECT_EQ(tamber("tree Music/Jazz").out, "#2 Jazz/\n");
  EXPECT_EQ(json("tree Music", "assert d[0]['caption']=='Music' and len(d[0]['children'])==2, d\n"), "");
}

TEST_F(Conventions, JsonIsTypedAndDecoded) {
  EXPECT_EQ(json("ls -R Music/Rock/Disc",
                 "f={e['name']:e for e in d}\n"
                 "assert f['b.bin']['size']==5000 and f['Sub2']['size'] is None, f\n"
                 "assert f['b.bin']['modified'].startswith('2004-11-0'), f['b.bin']\n"
                 "assert f['b.bin']['modified'][19] in '+-' and f['b.bin']['modified'][22]==':', f\n"
                 "assert [c['name'] for c in f['sub10']['children']]==['deep','line\\nbreak.txt']\n"),
            "");
  EXPECT_EQ(json("show Music/Rock/Disc",
                 "assert d['type']=='item' and d['files']==6 and d['folders']==3, d\n"
                 "assert d['kind']=='Folder on a hard disk' and d['kindCode']==13, d\n"
                 "assert isinstance(d['capacityMB'], int) and isinstance(d['label'], str), d\n"),
            "");
  EXPECT_EQ(json("info", "assert d['readOnly'] is False and d['discs']==0, d\n"), "");
  EXPECT_EQ(json("show Music", "assert d['type']=='category' and d['created'][10]=='T', d\n"), "");
}

TEST_F(Conventions, DuSumsWhatIsOnDisk) {
  uint64_t bytes = 0, files = 0;
  for (const auto& e : fs::recursive_directory_iterator(tree)) {
    if (e.is_regular_file()) {
      bytes += e.file_size();
      ++files;
    }
  }
  EXPECT_EQ(json("du Music/Rock/Disc",
                 "t=d[-1]\n"
                 "assert t['bytes']==" + std::to_string(bytes) + " and t['files']==" +
                     std::to_string(files) + ", t\n"
                 "rows={r['path']:r for r in d}\n"
                 "assert rows['Music/Rock/Disc/sub10']['bytes']==71 and rows['Music/Rock/Disc/sub10']['files']==2\n"),
            "");
  EXPECT_EQ(json("du", "assert d[-1]['path']=='.' and d[-1]['bytes']==" + std::to_string(bytes) + ", d\n"),
            "");
  auto r = tamber("du -h Music/Rock/Disc");
  EXPECT_NE(r.out.find("      7.2K          6  Music/Rock/Disc\n"), std::string::npos) << r.out;
}

TEST_F(Conventions, ErrorsSayWhatWasMeantAndExitAsDocumented) {
  auto r = tamber("lss");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("tamber: error: unknown command 'lss'; did you mean 'ls'?"), std::string::npos) << r.out;
  r = tamber("ls --lnog Music");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("unknown option '--lnog'; did you mean '--long'?"), std::string::npos) << r.out;
  // One level down too.
  for (auto [typed, meant] : {std::pair{"config gte", "get"}, {"storage lss", "ls"}, {"cddb qeury", "query"}}) {
    r = tamber(typed);
    EXPECT_EQ(r.status, 2) << typed;
    EXPECT_NE(r.out.find(std::string("unknown command '") + typed + "'; did you mean '" + meant + "'?"),
              std::string::npos)
        << r.out;
  }
  // A global option given twice: the last counts.
  r = runCommand(std::string(TAMBER_CLI) + " -L " + quote((lib.parent_path() / "other.cds").string()) + " -L " +
                 quote(lib.string()) + " --config " + quote(cfg.string()) + " tree");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Music/"), std::string::npos) << r.out;
  // A missing argument is named as the help names it.
  r = tamber("storage cat lib.cds");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("tamber: error: STREAM is required"), std::string::npos) << r.out;
  r = tamber("add-folder " + quote(tree.string()) + " --label X --category /");
  EXPECT_EQ(r.status, 2) << r.out;
  r = tamber("add-folder " + quote(tree.string()) + " --label A/B --category C");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("cannot hold \"/\""), std::string::npos) << r.out;
  r = tamber("add-folder " + quote(tree.string()) + " --label X --category C --rule /etc=skip");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("/etc is not a folder below"), std::string::npos) << r.out;
  // The kernel's file systems are never catalogued, as the walk never
  // enters them below a folder.
  r = tamber("add-folder /proc/self --label X --category C");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("/proc/self is on a proc file system"), std::string::npos) << r.out;
  EXPECT_EQ(tamber("tree").out.find("C/"), std::string::npos);  // nothing made
  // A category and an item of one name: ls and show take the item, and
  // show says so.
  ASSERT_EQ(tamber("mkcat Music/Rock/Disc").status, 0);
  EXPECT_EQ(tamber("ls Music/Rock/Disc").out.substr(0, 6), "Sub2/\n");
  r = tamber("show Music/Rock/Disc");
  EXPECT_NE(r.out.find("note: Music/Rock/Disc is the disc or folder #1; the category of the same name is #2"),
            std::string::npos) << r.out;
  EXPECT_EQ(tamber("ls Music/Rock/#2").out, "");
  // Output that cannot be written is a failure, said once.
  r = tamber("ls -R Music/Rock/Disc 2>&1 >/dev/full", false);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("No space left on device"), std::string::npos) << r.out;
  // Help: alone, by command, and per command with its options.
  r = runCommand(TAMBER_CLI);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Usage:"), std::string::npos);
  r = tamber("help du");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--human"), std::string::npos) << r.out;
  EXPECT_NE(tamber("rm --help").out.find("--yes"), std::string::npos);
  EXPECT_EQ(tamber("help nothing").status, 2);
  // "help" alone lists the commands, as the program alone does.
  r = tamber("help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Usage: tamber [OPTIONS]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("add-folder"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("export-csv"), std::string::npos) << r.out;
  // The version and the help that cannot be written fail too.
  for (const char* line : {"--version", "--help", "help", "ls --help", "report --format xml Music",
                           "export-csv Music", "find i"}) {
    r = tamber(std::string(line) + " 2>&1 >/dev/full", false);
    EXPECT_EQ(r.status, 1) << line;
    // Said once, with the reason.
    EXPECT_NE(r.out.find("cannot write the output"), std::string::npos) << line << ": " << r.out;
    EXPECT_EQ(r.out.find("tamber: error", r.out.find("tamber: error") + 1), std::string::npos) << line << ": " << r.out;
  }
}

TEST_F(Conventions, CompletionsAndTheManualPageNameEveryCommand) {
  for (const char* kind : {"bash", "zsh", "fish", "man"}) {
    auto r = runCommand(std::string(TAMBER_CLI) + " --generate " + kind, false);
    ASSERT_EQ(r.status, 0) << kind;
    std::string text;  // roff writes "-" as "\-"
    for (char ch : r.out) {
      if (ch != '\\') text += ch;
    }
    for (const char* word : {"add-folder", "ls", "du", "tree", "thumb", "compact", "recursive",
                             "human", "library"}) {
      EXPECT_NE(text.find(word), std::string::npos) << kind << " lacks " << word;
    }
  }
  auto sh = runCommand("bash -c " + quote(std::string("source <(") + TAMBER_CLI +
                                          " --generate bash); COMP_WORDS=(tamber ls --sort ''); "
                                          "COMP_CWORD=3; _tamber; echo ${COMPREPLY[@]}"));
  EXPECT_EQ(sh.out, "name size time none\n");
  // Paths of the library, the kinds of find and the settings' names come
  // from the program (the library of -L on the line).
  auto complete = [&](const std::string& words) {
    std::string cli = fs::path(TAMBER_CLI).parent_path().string();
    return runCommand("PATH=" + quote(cli) + ":$PATH bash -c " +
                      quote(std::string("source <(tamber --generate bash); COMP_WORDS=(tamber -L ") +
                            quote(lib.string()) + " --config " + quote(cfg.string()) + " " + words +
                            "); COMP_CWORD=$((${#COMP_WORDS[@]}-1)); _tamber; printf '%s|' \"${COMPREPLY[@]}\""))
        .out;
  };
  EXPECT_EQ(complete("ls ''"), "Music/|");
  EXPECT_EQ(complete("ls Music/Rock/Disc/s"), "Music/Rock/Disc/sub10/|Music/Rock/Disc/Sub2/|");
  EXPECT_EQ(complete("ls Music/Rock/Disc/F"), "Music/Rock/Disc/file10.txt|Music/Rock/Disc/File2.txt|");
  EXPECT_EQ(complete("find x --scope Music/R"), "Music/Rock/|");
  EXPECT_EQ(complete("find x --kinds t"), "tracks|tags|");
  EXPECT_EQ(complete("config get App-Preference Def"), "DefaultDepth|DefaultLib|DefaultXSLFile|");
  EXPECT_EQ(runCommand(std::string(TAMBER_CLI) + " --generate nothing").status, 2);
}

TEST_F(Conventions, MessagesComeInTheUsersLanguage) {
  auto r = runCommand("LANG=fr_FR.UTF-8 " + std::string(TAMBER_CLI) + " -L " + quote(lib.string()) +
                      " --config " + quote(cfg.string()) + " add-folder " + quote(tree.string()) +
                      " --label F --category Fr");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("6 fichiers, 3 dossiers"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(" files"), std::string::npos) << r.out;
  r = runCommand("LANG=fr_FR.UTF-8 " + std::string(TAMBER_CLI) + " -L " + quote(lib.string()) +
                 " --config " + quote(cfg.string()) + " ls Fr/F/none");
  EXPECT_NE(r.out.find("aucun fichier ni dossier"), std::string::npos) << r.out;
  // The program's own words around a message too: an error, a question
  // nobody can answer.
  std::string fr = "LANG=fr_FR.UTF-8 " + std::string(TAMBER_CLI) + " -L " + quote(lib.string()) + " --config " +
                   quote(cfg.string()) + " ";
  r = runCommand(fr + "ls Nowhere");
  EXPECT_EQ(r.out.rfind("tamber: erreur: ", 0), 0u) << r.out;
  r = runCommand(fr + "rm Fr/F </dev/null");
  EXPECT_NE(r.out.find("non (pas un terminal ; utilisez --yes)"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("error"), std::string::npos) << r.out;
  // Numbers as the language writes them.
  ASSERT_EQ(runCommand(fr + "set Fr/F price=1234.5").status, 0);
  r = runCommand("LANG=it_IT.UTF-8 " + fr.substr(std::string("LANG=fr_FR.UTF-8 ").size()) + "info");
  EXPECT_NE(r.out.find("1234,50"), std::string::npos) << r.out;
}

// A search is over in milliseconds: loading the libraries of the commands
// it is not (the shared catalogue's, the watch's) would cost it more than
// it takes, and it leaves the settings alone when it has nothing new to keep.
TEST_F(Conventions, ASearchLoadsOnlyWhatItNeedsAndARepeatedOneWritesNothing) {
  auto r = runCommand("LD_DEBUG=files " + std::string(TAMBER_CLI) + " -L " + quote(lib.string()) + " --config " +
                      quote(cfg.string()) + " find file10");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Music/Rock/Disc/file10.txt"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("libc.so"), std::string::npos) << "LD_DEBUG said nothing";
  for (const char* library : {"libpq", "libgio", "libgobject", "libssl", "libkrb5"}) {
    EXPECT_EQ(r.out.find(library), std::string::npos) << library << " was loaded";
  }
  struct stat before {}, after {};
  ASSERT_EQ(::stat(cfg.c_str(), &before), 0);
  ASSERT_EQ(tamber("find file10").status, 0);
  ASSERT_EQ(::stat(cfg.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino) << "the settings were written again";
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  // A new text is kept, first in the history.
  ASSERT_EQ(tamber("find Sub2").status, 0);
  ASSERT_EQ(::stat(cfg.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(tamber("config get SearchCombo/SearchHistoryCombo Last0", false).out, "Sub2\n");
}

TEST_F(Conventions, EveryCommandSpeaksTheUsersLanguage) {
  // The same commands in English, French and Italian: a line that French
  // or Italian print exactly as English does, with English words in it
  // (paths, names and quoted input aside), was left untranslated.
  write(dir / "one" / "only.txt", "1");
  write(dir / "plain.txt", "not a tag in sight");
  write(dir / "page.html", "<html><head><title>Annual report</title><meta name=\"keywords\" content=\"finance\">"
                           "</head><body>x</body></html>");
  std::string base = std::string(TAMBER_CLI) + " -L " + quote(lib.string()) + " --config " + quote(cfg.string()) + " ";
  // Every command's help, and what the parser says of a value it refuses.
  std::vector<std::string> helps = {"help", "find --min-kb abc x", "find --min-kb", "find --jobs 0 x", "verify",
                                    "ls --sort bogus", "add-disc --match 0", "frob --help", "config keys"};
  {
    auto r = runCommand("LANG=C.UTF-8 " + base + "help");
    std::istringstream in(r.out);
    bool listed = false;
    for (std::string line; std::getline(in, line);) {
      if (line == "Subcommands:") listed = true;
      else if (listed && line.rfind("  ", 0) == 0 && line.size() > 2 && line[2] != ' ')
        helps.push_back("help " + line.substr(2, line.find(' ', 2) - 2));
    }
    ASSERT_GE(helps.size(), 30u) << r.out;
    for (const char* nested : {"help config set", "help storage ls", "help cddb query", "help config keys"}) helps.push_back(nested);
  }
  auto session = [&](const std::string& lang, const std::string& label) {
    std::string env = "LANG=" + lang + " LC_ALL= LC_MESSAGES= ";
    std::vector<std::string> lines;
    std::vector<std::string> all = helps;
    for (const std::string& args :
         std::vector<std::string>{"show Music/Rock/Disc", "show Music", "show /", "info",
          "add-folder " + quote((dir / "one").string()) + " --label " + label + " --category Music",
          "export-csv Music -o " + quote((dir / (label + ".csv")).string()),
          "export-xml Music -o " + quote((dir / (label + ".xml")).string()),
          "report Music -o " + quote((dir / (label + ".html")).string()), "frob", "ls --frob", "config gte",
          "media " + quote((dir / "plain.txt").string()), "media " + quote((dir / "page.html").string()),
          "import " + quote((dir / "nowhere.cds").string()),
          "find --kinds nothing x", "config set App-Preference NoSuchKey 1"}) {
      all.push_back(args);
    }
    // Each line under the number of its command (the labels differ).
    for (size_t k = 0; k < all.size(); ++k) {
      auto r = runCommand(env + base + all[k]);
      std::istringstream in(r.out);
      for (std::string line; std::getline(in, line);) lines.push_back(std::to_string(k) + " | " + line);
    }
    return lines;
  };
  auto english = session("C.UTF-8", "E");
  ASSERT_GE(english.size(), 30u);
  // What stays the same in each language: names, units, codes.
  const std::set<std::string> alike = {"tamber", "help", "frob", "gte", "get", "config", "Music", "Rock", "Disc",
                                       "Album", "Genre", "csv", "xml", "html", "txt", "plain", "only", "one",
                                       // the help's names of values and of what is typed
                                       "Options", "OPTIONS", "FILE", "TEXT", "ITEM", "PATH", "auto", "always", "never",
                                       "name", "size", "time", "none", "file", "folder", "member", "archive", "disc",
                                       "hash", "html", "rtf", "bash", "zsh", "fish", "man", "eval", "generate"};
  std::vector<std::string> problems;
  for (auto [lang, label] : {std::pair{"fr_FR.UTF-8", "F"}, {"it_IT.UTF-8", "I"}}) {
    // A longer text may take another line: a line is compared with the
    // English lines of the same command, wherever they stand.
    const std::set<std::string> said(english.begin(), english.end());
    auto lines = session(lang, label);
    EXPECT_GE(lines.size(), english.size()) << lang;
    // The settings' names that `config keys` lists are typed as they are.
    const std::string keyNames =
        std::to_string(std::find(helps.begin(), helps.end(), "config keys") - helps.begin()) + " | ";
    for (size_t i = 0; i < lines.size(); ++i) {
      if (!said.count(lines[i])) continue;
      std::string line = lines[i].substr(lines[i].find(" | ") + 3);
      if (lines[i].rfind(keyNames, 0) == 0 && line.rfind(" ", 0) != 0) continue;
      std::istringstream words(line);
      for (std::string w; words >> w;) {
        if (w.find_first_of("/.'\"@#") != std::string::npos || w.find("--") == 0) continue;
        std::string letters;
        for (char c : w) if (std::isalpha(static_cast<unsigned char>(c))) letters += c;
        if (letters.size() >= 3 && !alike.count(letters)) {
          problems.push_back(std::string(lang) + ": " + lines[i]);
          break;
        }
      }
    }
  }
  EXPECT_TRUE(problems.empty()) << [&] {
    std::string all;
    for (const auto& p : problems) all += p + "\n";
    return all;
  }();
  // Counted nouns take the singular for one (French for none too).
  auto r = runCommand("LANG=fr_FR.UTF-8 " + base + "add-folder " + quote((dir / "one").string()) +
                      " --label Seul --category Music");
  EXPECT_NE(r.out.find("1 fichier, 0 dossier, 1 octet,"), std::string::npos) << r.out;
  r = runCommand("LANG=C.UTF-8 " + base + "add-folder " + quote((dir / "one").string()) + " --label Alone --category Music");
  EXPECT_NE(r.out.find("1 file, 0 folders, 1 byte,"), std::string::npos) << r.out;
}

TEST_F(Conventions, ConfigListGetAndSetAsStored) {
  EXPECT_EQ(tamber("config get App-Preference DefaultDepth").status, 1);
  EXPECT_EQ(tamber("config get App-Preference DefaultDepth").out, "");
  ASSERT_EQ(tamber("config set App-Preference DefaultDepth 3 --int").status, 0);
  ASSERT_EQ(tamber("config set app-preference defaultdepth 4 --int").status, 0);
  EXPECT_EQ(tamber("config list App-Preference").out, "[App-Preference]\nDefaultDepth = 4\n");
  EXPECT_EQ(tamber("config get App-Preference DefaultDepth").out, "4\n");
  EXPECT_EQ(json("config list", "assert {'section':'App-Preference','key':'DefaultDepth','value':'4'} in d, d\n"), "");
  // One case rule: get finds what set stored, whatever the letters.
  EXPECT_EQ(tamber("config get APP-PREFERENCE defaultDEPTH").out, "4\n");
  // Values are checked against the setting's type and range.
  for (const char* bad : {"abc", "300", "-1", ""}) {
    auto r = tamber(std::string("config set App-Preference DefaultDepth '") + bad + "'");
    EXPECT_EQ(r.status, 2) << bad << ": " << r.out;
  }
  EXPECT_NE(tamber("config set App-Preference NotEject 2").out.find("0 or 1"), std::string::npos);
  EXPECT_EQ(tamber("config get App-Preference DefaultDepth").out, "4\n");
  // A known integer is stored as one without --int.
  ASSERT_EQ(tamber("config set App-Preference ArchiveLimitSeconds 5").status, 0);
  EXPECT_EQ(tamber("config get App-Preference ArchiveLimitSeconds").out, "5\n");
  // Unknown and misspelt keys are refused, with the nearest known one;
  // --force stores them anyway.
  auto r = tamber("config set App-Preference DefaultDept 3");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("did you mean 'App-Preference DefaultDepth'"), std::string::npos) << r.out;
  EXPECT_EQ(tamber("config get App-Preference DefaultDept").status, 1);
  EXPECT_EQ(tamber("config set Mine colour blue --force").status, 0);
  EXPECT_EQ(tamber("config get Mine colour").out, "blue\n");
  // Every key the program reads is listed with its type and default.
  r = tamber("config keys");
  EXPECT_NE(r.out.find("App-Preference DefaultDepth\n    integer, default 0: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("App-Preference ArchiveLimitMB"), std::string::npos) << r.out;
  EXPECT_EQ(json("--json config keys", "assert {'section':'FreeDBSelected','key':'proxy_port','type':'integer',"
                                       "'default':'80','meaning':\"the proxy's port\"} in d, d\n"),
            "");
}

TEST_F(Conventions, AReScanKeepsItsSettingsAndTheUsersLocation) {
  auto r = tamber("add-folder -q " + quote(tree.string()) +
                  " --label Part --category Other --filter '*.txt' --depth 2 --rule sub10=skip");
  ASSERT_EQ(r.status, 0) << r.out;
  std::string first = tamber("ls -R Other/Part").out;
  EXPECT_EQ(first, "Sub2/\n  x.txt\nFile2.txt\nfile10.txt\n");
  ASSERT_EQ(tamber("set Other/Part location='Shelf 4'").status, 0);
  write(tree / "added.txt", "new");
  write(tree / "added.bin", "new");
  r = runCommand("cd / && " + std::string(TAMBER_CLI) + " -L " + quote(lib.string()) + " --config " +
                 quote(cfg.string()) + " add-folder -q --update Other/Part");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(tamber("ls -R Other/Part").out, "Sub2/\n  x.txt\nadded.txt\nFile2.txt\nfile10.txt\n");
  r = tamber("show Other/Part");
  EXPECT_NE(r.out.find("Location: Shelf 4"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Filter: *.txt"), std::string::npos) << r.out;
}

TEST_F(Conventions, ArchiveNamesComeThroughInAnyLocaleAndALoneGzipIsNoArchive) {
  auto src = dir / "src";
  write(src / "donn\xC3\xA9" "es_\xC3\xA9.txt", "a");
  write(src / "\xE6\x97\xA5\xE6\x9C\xAC" / "\xE8\xAA\x9E.txt", "b");
  auto arch = dir / "arch";
  fs::create_directories(arch);
  std::string seven = runCommand("command -v 7zz || command -v 7z").out;
  ASSERT_FALSE(seven.empty()) << "7-Zip is needed for this test";
  seven.erase(seven.find('\n'));
  ASSERT_EQ(runCommand("cd " + quote(src.string()) + " && " + seven + " a -bd " +
                       quote((arch / "s.7z").string()) + " . >/dev/null").status, 0);
  ASSERT_EQ(runCommand("cd " + quote(src.string()) + " && python3 -c " +
                       quote("import zipfile\nz=zipfile.ZipFile('" + (arch / "p.zip").string() +
                             "','w')\nz.write('donn\xC3\xA9" "es_\xC3\xA9.txt')\n"
                             "z.write('\xE6\x97\xA5\xE6\x9C\xAC/\xE8\xAA\x9E.txt')\nz.close()"))
                .status,
            0);
  write(arch / "README", "line one\nline two\n");
  ASSERT_EQ(runCommand("gzip " + quote((arch / "README").string())).status, 0);
  auto r = runCommand("LANG=C LC_ALL=C " + std::string(TAMBER_CLI) + " -L " + quote(lib.string()) +
                      " --config " + quote(cfg.string()) + " add-folder -q " + quote(arch.string()) +
                      " --label A --category Arch");
  ASSERT_EQ(r.status, 0) << r.out;
  // The scan lists zip archives; 7z is not among the extensions it reads as
  // archives, and media reads one the way a scan stores it.
  for (std::string cmd : {std::string("archive Arch/A p.zip"),
                          "media " + quote((arch / "s.7z").string())}) {
    r = runCommand("LANG=C LC_ALL=C " + std::string(TAMBER_CLI) + " -L " + quote(lib.string()) +
                   " --config " + quote(cfg.string()) + " " + cmd);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("donn\xC3\xA9" "es_\xC3\xA9.txt"), std::string::npos) << cmd << r.out;
    EXPECT_NE(r.out.find("\xE6\x97\xA5\xE6\x9C\xAC/\xE8\xAA\x9E.txt"), std::string::npos) << cmd << r.out;
  }
  EXPECT_EQ(json("archive Arch/A p.zip",
                 "e=d['entries'][0]\n"
                 "assert e['type']=='file' and e['size']==1 and e['modified'][10]=='T', e\n"),
            "");
  r = tamber("archive Arch/A README.gz");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("has no archive listing"), std::string::npos) << r.out;
}

}  // namespace
