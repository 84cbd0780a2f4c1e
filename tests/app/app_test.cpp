// Settings file, symbol codec, language choice, recent list, and the tamber
// command line end to end.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <map>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "app/app.h"
#include "app/item_edit.h"
#include "app/language.h"
#include "app/presentation.h"
#include "catalog/catalog_document.h"
#include "app/settings_store.h"
#include "app/symbol_codec.h"
#include "storage/compound_file.h"
#include "tests/run_command.h"
#include "tests/storage/storage_helpers.h"

namespace tamber::app {
namespace {

using storage::TempDir;

std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(SymbolCodec, RoundTripsAnyBytes) {
  std::mt19937 rng(3);
  for (size_t n = 0; n < 300; ++n) {
    std::string bytes(n, '\0');
    for (auto& ch : bytes) ch = static_cast<char>(rng());
    std::string encoded = encodeSymbols(bytes);
    EXPECT_EQ(encoded.size(), (n * 8 + 5) / 6) << n;
    for (char ch : encoded) EXPECT_TRUE(std::isprint(static_cast<unsigned char>(ch)));
    auto decoded = decodeSymbols(encoded);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded.value(), bytes) << n;
  }
  EXPECT_FALSE(decodeSymbols("ab*cd"));
  EXPECT_EQ(decodeSymbols("Q").value(), "");
}

TEST(Settings, ValuesSurviveTheFileAndOnlyChangesAreWritten) {
  TempDir dir;
  auto path = dir.path / "sub" / "tamber.cfg";
  {
    SettingsStore s;
    ASSERT_TRUE(s.load(path, "alice"));
    EXPECT_FALSE(std::filesystem::exists(path));  // made by the first save with something in it
    EXPECT_EQ(s.getInt("App-Preference", "DefaultDepth", 255), 255);
    s.putInt("serialized_param", "param_dlgfolder", 0x1F3);
    s.putText("App-Preference", "DefaultLib", "/home/alice/Bibliothèque/été.cds");
    s.putText("App-Preference", "DefaultLib", "/home/alice/Bibliothèque/été & <hiver>.cds");
    s.putList("Recent_Librarys", "Library", {"/a.cds", "/b.cds"});
    s.putList("cx_listctrl_cols/files", "cx_d", {"120", "80"});
    EXPECT_NE(s.text().find("dt:dt=\"int\""), std::string::npos) << s.text();
    EXPECT_NE(s.text().find("urn:schemas-microsoft-com:datatypes"), std::string::npos);
    ASSERT_TRUE(s.save());
  }
  std::string stored = readFile(path);
  EXPECT_EQ(stored.find("<Settings"), std::string::npos);  // encoded, not plain XML
  SettingsStore s;
  ASSERT_TRUE(s.load(path, "alice"));
  EXPECT_EQ(s.getInt("serialized_param", "param_dlgfolder", 0), 0x1F3);
  EXPECT_EQ(s.getText("App-Preference", "DefaultLib"), "/home/alice/Bibliothèque/été & <hiver>.cds");
  EXPECT_EQ(s.getList("Recent_Librarys", "Library"), (std::vector<std::string>{"/a.cds", "/b.cds"}));
  EXPECT_EQ(s.getList("cx_listctrl_cols/files", "cx_d"), (std::vector<std::string>{"120", "80"}));
  // Nothing changed: nothing written.
  ::chmod(path.c_str(), 0444);
  std::filesystem::remove(path);
  EXPECT_TRUE(s.save());
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(Settings, UnreadableTextGivesDefaultsAndSmallFilesArePruned) {
  TempDir dir;
  auto path = dir.path / "tamber.cfg";
  std::ofstream(path) << "this is not what the codec writes!";
  SettingsStore s;
  ASSERT_TRUE(s.load(path, "bob"));
  EXPECT_EQ(s.getInt("window_size", "maximized", 0), 0);
  // Two users: the other user's branch goes when the file is small...
  auto writeTwoUsers = [&](size_t padding) {
    std::string xml = "<Settings><carol><App-Preference><DefaultLib>" + std::string(padding, 'x') +
                      "</DefaultLib></App-Preference></carol><bob><App-Preference><lang>fr"
                      "</lang></App-Preference></bob></Settings>";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << encodeSymbols(xml);
  };
  writeTwoUsers(10);
  ASSERT_TRUE(s.load(path, "bob"));
  EXPECT_EQ(s.getText("App-Preference", "lang"), "fr");
  EXPECT_EQ(s.text().find("carol"), std::string::npos);
  // ...and stays when the file holds 102400 bytes or more.
  writeTwoUsers(80000);
  ASSERT_TRUE(s.load(path, "bob"));
  EXPECT_NE(s.text().find("carol"), std::string::npos);
}

TEST(Settings, UserLessValuesAreEveryonesDefaults) {
  // A section put below the root by hand serves every user that has no
  // value of their own, and survives the pruning of other users' branches.
  TempDir dir;
  auto path = dir.path / "tamber.cfg";
  std::ofstream(path, std::ios::binary) << encodeSymbols(
      "<Settings><App-Preference><DefaultDepth>3</DefaultDepth><lang>it</lang></App-Preference>"
      "<Recent_Librarys><Library>/shared/a.cds</Library></Recent_Librarys>"
      "<carol><App-Preference><DefaultDepth>5</DefaultDepth></App-Preference></carol>"
      "<bob><App-Preference><lang>fr</lang></App-Preference></bob></Settings>");
  SettingsStore s;
  ASSERT_TRUE(s.load(path, "bob"));
  EXPECT_EQ(s.getText("App-Preference", "lang"), "fr");  // bob's own
  EXPECT_EQ(s.getInt("App-Preference", "DefaultDepth", 0), 3);
  EXPECT_TRUE(s.has("App-Preference", "DefaultDepth"));
  EXPECT_EQ(s.getList("Recent_Librarys", "Library"), std::vector<std::string>{"/shared/a.cds"});
  EXPECT_EQ(s.text().find("carol"), std::string::npos);
  s.putInt("App-Preference", "DefaultDepth", 7);  // bob's own from now on
  ASSERT_TRUE(s.save());
  SettingsStore again;
  ASSERT_TRUE(again.load(path, "dave"));
  EXPECT_EQ(again.getInt("App-Preference", "DefaultDepth", 0), 3);
  EXPECT_EQ(again.getText("App-Preference", "lang"), "it");
  SettingsStore bob;
  ASSERT_TRUE(bob.load(path, "bob"));
  EXPECT_EQ(bob.getInt("App-Preference", "DefaultDepth", 0), 7);
}

TEST(Settings, BranchNamesAreValidXmlNames) {
  EXPECT_EQ(branchName("John Smith"), "John_Smith");
  EXPECT_EQ(branchName("  pat  "), "pat");
  EXPECT_EQ(branchName(""), "default_user");
  EXPECT_EQ(branchName("   "), "default_user");
  EXPECT_EQ(branchName("1st@host"), "_st_host");
  EXPECT_EQ(branchName("xmlguy"), "_xmlguy");
  // Such a branch survives a save and a load.
  TempDir dir;
  SettingsStore s;
  ASSERT_TRUE(s.load(dir.path / "c.cfg", branchName("1st user")));
  s.putInt("window_size", "maximized", 1);
  ASSERT_TRUE(s.save());
  SettingsStore again;
  ASSERT_TRUE(again.load(dir.path / "c.cfg", branchName("1st user")));
  EXPECT_EQ(again.getInt("window_size", "maximized", 0), 1);
}

TEST(RecentList, KeepsFourMostRecentFirst) {
  RecentLibraryList r;
  for (const char* p : {"/1.cds", "/2.cds", "/3.cds", "/4.cds", "/5.cds"}) r.add(p);
  EXPECT_EQ(r.entries(), (std::vector<std::string>{"/5.cds", "/4.cds", "/3.cds", "/2.cds"}));
  r.add("/3.cds");
  EXPECT_EQ(r.entries(), (std::vector<std::string>{"/3.cds", "/5.cds", "/4.cds", "/2.cds"}));
  EXPECT_EQ(RecentLibraryList::caption(std::string(40, 'a')).size(), 30u);
}

TEST(Language, ChoiceAndResourceFiles) {
  auto dir = std::filesystem::path(TAMBER_SOURCE_DIR) / "resources" / "lang";
  EXPECT_EQ(chooseLanguage("it", dir), "it");
  EXPECT_EQ(chooseLanguage("de", dir), "en");  // no such file
  ::setenv("LC_ALL", "fr_FR.UTF-8", 1);
  EXPECT_EQ(chooseLanguage("", dir), "fr");
  ::setenv("LC_ALL", "C", 1);
  EXPECT_EQ(chooseLanguage("", dir), "en");
  ::unsetenv("LC_ALL");
  // Every language holds every text of the English file.
  LanguageResources en, other;
  ASSERT_TRUE(en.load(dir, "en"));
  for (const char* code : {"fr", "it"}) {
    ASSERT_TRUE(other.load(dir, code));
    // Every text, the command line's and the desktop program's: as many
    // values to fill in as English has.
    auto holes = [](const std::string& t) {
      int n = 0;
      for (size_t at = t.find("%s"); at != std::string::npos; at = t.find("%s", at + 2)) ++n;
      return n;
    };
    for (int id = 1; id < 1300; ++id) {
      if (en.text(id)[0] == '#') continue;
      EXPECT_NE(other.text(id)[0], '#') << code << " lacks text " << id;
      EXPECT_EQ(holes(en.text(id)), holes(other.text(id))) << code << " text " << id;
    }
  }
  EXPECT_EQ(en.text(kTextKindBase + 1), "Audio CD");
}

// The texts are read when first asked for, once, from any thread; a file
// gone or damaged since the start gives way to the English one.
TEST(Language, TextsAreReadOnFirstUseAndADamagedFileGivesWayToEnglish) {
  auto source = std::filesystem::path(TAMBER_SOURCE_DIR) / "resources" / "lang";
  TempDir dir;
  for (const char* code : {"en", "fr"}) {
    std::filesystem::copy_file(source / ("res_" + std::string(code) + ".xml"),
                               dir.path / ("res_" + std::string(code) + ".xml"));
  }
  LanguageResources missing;
  EXPECT_FALSE(missing.load(dir.path, "it"));
  EXPECT_EQ(missing.text(kTextYesNo), "#" + std::to_string(kTextYesNo));

  LanguageResources fr;
  ASSERT_TRUE(fr.load(dir.path, "fr"));
  std::vector<std::thread> readers;
  std::vector<std::string> seen(4);
  for (int i = 0; i < 4; ++i) readers.emplace_back([&, i] { seen[i] = fr.text(kTextKindBase + 1); });
  for (auto& t : readers) t.join();
  for (const auto& t : seen) EXPECT_EQ(t, "CD audio");
  // Read once: the file going away afterwards changes nothing.
  std::filesystem::remove(dir.path / "res_fr.xml");
  EXPECT_EQ(fr.text(kTextKindBase + 1), "CD audio");

  std::ofstream(dir.path / "res_fr.xml") << "<resources lang=\"fr\"><text id=\"1\">cut";
  LanguageResources damaged;
  ASSERT_TRUE(damaged.load(dir.path, "fr"));
  EXPECT_EQ(damaged.text(kTextKindBase + 1), "Audio CD");
}

// ---------------------------------------------------------------------------
// The command line

using tamber::test_support::CommandResult;

class CommandLine : public ::testing::Test {
 protected:
  TempDir dir;
  CommandResult tamber(const std::string& args) {
    return tamber::test_support::runCommand(
        "XDG_CONFIG_HOME='" + (dir.path / "config").string() + "' XDG_DATA_HOME='" +
        (dir.path / "data").string() + "' " + TAMBER_CLI + " " + args + " </dev/null");
  }
};

TEST_F(CommandLine, CategoriesInfoTreeShowMoveAndDelete) {
  EXPECT_EQ(tamber("info").status, 0);  // creates the default library
  EXPECT_TRUE(std::filesystem::exists(dir.path / "data" / "tamber" / "library.cds"));
  EXPECT_EQ(tamber("mkcat Music/Rock --comment 'loud & proud'").out, "1\n");
  EXPECT_EQ(tamber("mkcat music/Jazz").out, "2\n");  // "music" is "Music"
  EXPECT_EQ(tamber("mkcat Films").out, "2\n");
  EXPECT_EQ(tamber("tree").out, "#1 Music/\n  #1 Rock/\n  #2 Jazz/\n#2 Films/\n");
  auto show = tamber("show Music/Rock --json");
  EXPECT_NE(show.out.find("\"comment\":\"loud & proud\""), std::string::npos) << show.out;
  EXPECT_EQ(tamber("mv Music/Jazz Films").out, "1\n");
  EXPECT_EQ(tamber("mv Music Music/Rock").status, 1);  // into itself
  EXPECT_EQ(tamber("rm Films").status, 1);             // asks; no terminal, no --yes: no
  EXPECT_EQ(tamber("rm '#2' --yes").status, 0);
  EXPECT_EQ(tamber("tree --json").out,
            "[{\"number\":1,\"type\":\"category\",\"name\":\"Music\",\"caption\":\"Music\",\"children\":[{"
            "\"number\":1,\"type\":\"category\",\"name\":\"Rock\",\"caption\":\"Rock\",\"children\":[]}]}]\n");
  EXPECT_EQ(tamber("rename Music/Rock 'Rock & Pop'").status, 0);
  EXPECT_EQ(tamber("show 'Music/Rock & Pop'").status, 0);
  auto info = tamber("info --json");
  EXPECT_NE(info.out.find("\"categories\":2"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\"totalPrice\":0.00"), std::string::npos) << info.out;
  EXPECT_EQ(tamber("show Nowhere").status, 1);
  EXPECT_EQ(tamber("frobnicate").status, 2);
  EXPECT_EQ(tamber("set Music comment=x").status, 1);  // not a disc
}

// One rule for letter case, accented letters included, wherever a category
// is named: mkcat finds, ls and show reach, rename and mv refuse a second
// sibling of that name; a name as typed still wins over another case.
TEST_F(CommandLine, CategoryNamesAreOneLetterCaseAside) {
  EXPECT_EQ(tamber("mkcat Été/Dup1").out, "1\n");
  EXPECT_EQ(tamber("mkcat été/dup1").out, "1\n");
  EXPECT_EQ(tamber("mkcat ÉTÉ/Other").out, "2\n");
  EXPECT_EQ(tamber("tree").out, "#1 Été/\n  #1 Dup1/\n  #2 Other/\n");
  EXPECT_EQ(tamber("ls été").out, "Dup1/\nOther/\n");
  EXPECT_EQ(tamber("show été/DUP1").status, 0);
  auto r = tamber("rename Été/Other DUP1");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("DUP1: a category of that name is there already"), std::string::npos) << r.out;
  EXPECT_EQ(tamber("rename Été/Dup1 DUP1").status, 0);  // itself, in other letters
  EXPECT_EQ(tamber("mkcat Dup1").out, "2\n");
  r = tamber("mv dup1 été");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("is there already"), std::string::npos) << r.out;
  EXPECT_EQ(tamber("tree").out, "#1 Été/\n  #1 DUP1/\n  #2 Other/\n#2 Dup1/\n");
}

TEST_F(CommandLine, LibrariesDefaultRecentConfigAndLocking) {
  auto lib = (dir.path / "second.cds").string();
  EXPECT_EQ(tamber("new '" + lib + "'").status, 0);
  EXPECT_EQ(tamber("new '" + lib + "'").status, 1);  // exists
  EXPECT_EQ(tamber("new --force '" + lib + "'").status, 0);
  EXPECT_EQ(tamber("default '" + lib + "'").status, 0);
  EXPECT_EQ(tamber("default").out, lib + "\n");
  EXPECT_EQ(tamber("config get App-Preference DefaultLib").out, lib + "\n");
  EXPECT_EQ(tamber("mkcat Only").out, "1\n");  // goes to the default library
  EXPECT_EQ(tamber("-L '" + lib + "' tree").out, "#1 Only/\n");
  EXPECT_NE(tamber("recent").out.find(lib), std::string::npos);
  EXPECT_EQ(tamber("config set --int serialized_param param_search 12").status, 0);
  EXPECT_EQ(tamber("config get serialized_param param_search").out, "12\n");
  EXPECT_EQ(tamber("config set --int a b twelve").status, 2);
  // While another program writes the library, it can be viewed; a change
  // fails at once, saying who writes and since when.
  {
    auto held = storage::CompoundFile::open(lib, storage::OpenMode::read_write);
    ASSERT_TRUE(held);
    EXPECT_EQ(tamber("-L '" + lib + "' info").status, 0);
    EXPECT_EQ(tamber("-L '" + lib + "' tree").out, "#1 Only/\n");
    auto r = tamber("-L '" + lib + "' mkcat Other");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("second.cds is being written by app_tests"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" (process " + std::to_string(::getpid()) + ") since "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("; it can be viewed meanwhile, and changed when that ends"), std::string::npos) << r.out;
    EXPECT_EQ(tamber("config set App-Preference lang fr").status, 0);
    r = tamber("-L '" + lib + "' mkcat Other");
    EXPECT_NE(r.out.find("est en cours d'écriture par app_tests"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" (processus " + std::to_string(::getpid()) + ") depuis "), std::string::npos) << r.out;
    EXPECT_EQ(tamber("config set App-Preference lang en").status, 0);
  }
  EXPECT_EQ(tamber("-L '" + lib + "' tree").out, "#1 Only/\n");
  // A read-only library opens; a change fails with the platform's message.
  ::chmod(lib.c_str(), 0444);
  EXPECT_EQ(tamber("-L '" + lib + "' info").status, 0);
  auto change = tamber("-L '" + lib + "' mkcat More");
  EXPECT_EQ(change.status, 1);
  EXPECT_NE(change.out.find("the library is read-only"), std::string::npos) << change.out;
}

}  // namespace
}  // namespace tamber::app

namespace tamber::app {
namespace {

// Edits of a disc's or folder's fields: checked all before any is stored,
// prices in their stored form, audio fields for audio discs only.
TEST(ItemEdits, CheckedBeforeAnyIsStored) {
  storage::TempDir dir;
  App app;
  ASSERT_TRUE(app.start({dir.path / "tamber.cfg"}));
  catalog::CatalogDocument doc;
  (void)doc.addCategory({}, "c", "");
  xmlNode* folder = doc.addItem({1}).value();
  doc.setField(folder, catalog::kKind, std::to_string(catalog::kKindFixedFolder));
  xmlNode* cd = doc.addItem({1}).value();
  doc.setField(cd, catalog::kKind, std::to_string(catalog::kKindAudioCd));

  auto ok = checkItemEdits(app, doc, folder, {{"comment", "shelf"}, {"price", "12,5"}, {"price", ""}});
  ASSERT_TRUE(ok) << ok.message();
  EXPECT_EQ(*ok, (std::vector<std::pair<int, std::string>>{
                     {catalog::kComment, "shelf"}, {catalog::kPrice, "12.50"}, {catalog::kPrice, ""}}));
  auto audio = checkItemEdits(app, doc, folder, {{"comment", "x"}, {"artist", "Someone"}});
  EXPECT_EQ(audio.error().code, Errc::unsupported);
  EXPECT_NE(audio.message().find("artist"), std::string::npos) << audio.message();
  EXPECT_TRUE(checkItemEdits(app, doc, cd, {{"artist", "Someone"}, {"year", "1969"}}));
  for (const char* bad : {"ten", "-1", "1e999", "1.5.2"}) {
    auto r = checkItemEdits(app, doc, folder, {{"price", bad}});
    EXPECT_EQ(r.error().code, Errc::invalid_argument) << bad;
  }
  EXPECT_EQ(checkItemEdits(app, doc, folder, {{"label", "x"}}).error().code, Errc::invalid_argument);
  EXPECT_EQ(doc.field(folder, catalog::kComment), "");  // nothing was stored by a check
  app.abandon();
}

}  // namespace
}  // namespace tamber::app

// Recorded document fields as a reader sees them: page counts and revision
// numbers are stored in hexadecimal, the times as HexTimes.
TEST(Presentation, DocumentFieldsReadAsNumbersAndDates) {
  auto text = tamber::app::propertiesText({{"d0", "C"}, {"c9", "1A"}, {"d3", "3EBFAFE8"}, {"d4", "yesterday"}});
  ASSERT_EQ(text.size(), 4u);
  EXPECT_EQ(text[0], (std::pair<std::string, std::string>{"pageCount", "12"}));
  EXPECT_EQ(text[1], (std::pair<std::string, std::string>{"revisionNumber", "26"}));
  EXPECT_EQ(text[2].first, "created");
  EXPECT_EQ(text[2].second, tamber::app::localTimeText("3EBFAFE8"));
  EXPECT_EQ(text[3], (std::pair<std::string, std::string>{"lastSaved", "yesterday"}));
  std::string json = tamber::app::propertiesJson({{"d0", "C"}, {"d3", "3EBFAFE8"}});
  EXPECT_EQ(json, "{\"pageCount\":12,\"created\":" + tamber::app::isoTimeJson("3EBFAFE8") + "}");
}

// A tag without a track number or year is read as 0: shown as nothing, not
// as "track: 0"; a real number stays.
TEST(Presentation, NoTrackOrYearIsNotShownAsZero) {
  auto text = tamber::app::propertiesText({{"a8", "0"}, {"w", "0"}, {"r", "Hi"}, {"a8", "7"}, {"w", "1999"}});
  ASSERT_EQ(text.size(), 3u);
  EXPECT_EQ(text[0], (std::pair<std::string, std::string>{"title", "Hi"}));
  EXPECT_EQ(text[1], (std::pair<std::string, std::string>{"track", "7"}));
  EXPECT_EQ(text[2], (std::pair<std::string, std::string>{"year", "1999"}));
}

TEST(Language, TheHelpsTranslationsKeepWhatIsTyped) {
  // Each translation of the command line's help names the options, the
  // values in capitals and the settings its English text names: a
  // translated option name would send a reader to an option that does not
  // exist.
  auto dir = std::filesystem::path(TAMBER_SOURCE_DIR) / "resources" / "lang";
  static const std::regex pair(R"(<t><en>([\s\S]*?)</en><tr>([\s\S]*?)</tr></t>)");
  static const std::regex typed(R"((?:^|[^\w-])(--?[a-z][a-z0-9-]*|[A-Z][A-Z_]{2,}(?![A-Za-z])|[A-Z][a-z]+[A-Z][A-Za-z]+|%s))");
  auto tokens = [](const std::string& text) {
    std::set<std::string> out;
    for (std::sregex_iterator it(text.begin(), text.end(), typed), end; it != end; ++it) out.insert((*it)[1].str());
    return out;
  };
  for (const char* code : {"fr", "it"}) {
    std::ifstream in(dir / (std::string("help_") + code + ".xml"));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t pairs = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), pair), end; it != end; ++it, ++pairs) {
      std::string english = (*it)[1], translated = (*it)[2];
      if (english.find(' ') == std::string::npos) continue;  // the layout's one-word labels
      std::set<std::string> kept = tokens(translated);
      for (const std::string& t : tokens(english)) {
        EXPECT_TRUE(kept.count(t)) << code << ": \"" << t << "\" is missing from\n" << translated;
      }
    }
    EXPECT_GT(pairs, 200u) << code;
  }
}

TEST(Language, FixedEngineMessagesAndCountedNounsFollowTheLanguage) {
  using namespace tamber::app;
  auto dir = std::filesystem::path(TAMBER_SOURCE_DIR) / "resources" / "lang";
  LanguageResources fr;
  ASSERT_TRUE(fr.load(dir, "fr"));
  // The file named in the message and a cause said after it are kept.
  EXPECT_EQ(spokenText(fr, "Import library file '/x/a b.cds' doesn't exist."),
            "Le fichier de bibliothèque à importer « /x/a b.cds » n'existe pas.");
  EXPECT_EQ(spokenText(fr, "Export library 'o.cds' cannot be saved! (No space left on device)"),
            "La bibliothèque d'export « o.cds » ne peut pas être enregistrée ! (No space left on device)");
  EXPECT_EQ(spokenText(fr, "Export library 'o.cds' cannot be created!"),
            "La bibliothèque d'export « o.cds » ne peut pas être créée !");
  EXPECT_EQ(spokenText(fr, "Current library cannot be saved. (disk full)"),
            "La bibliothèque ouverte ne peut pas être enregistrée. (disk full)");
  EXPECT_EQ(spokenText(fr, "Calculating folder statistics...\n/media/usb"), "Calcul des statistiques du dossier…\n/media/usb");
  // Anything else, and a message that only starts like one, as it is.
  EXPECT_EQ(spokenText(fr, "x.cds: Permission denied"), "x.cds: Permission denied");
  EXPECT_EQ(spokenText(fr, "Export library 'o.cds' was fine"), "Export library 'o.cds' was fine");

  tamber::storage::TempDir home;
  App app;
  ASSERT_TRUE(app.start({home.path / "tamber.cfg"}));
  ASSERT_TRUE(app.switchLanguage("en"));
  EXPECT_EQ(countedText(app, 0, kTextFileCount), "0 files");
  EXPECT_EQ(countedText(app, 1, kTextFileCount), "1 file");
  EXPECT_EQ(countedText(app, 1234, kTextFolderCount), "1,234 folders");
  EXPECT_EQ(withColon(app, "Label"), "Label:");
  EXPECT_EQ(itemFieldLabel(app, "playingTime"), "Playing time");
  EXPECT_EQ(itemFieldLabel(app, "listingParts"), "Listing parts");
  EXPECT_EQ(itemFieldLabel(app, "unheardOf"), "unheardOf");
  EXPECT_EQ(scanOptionsText(app, {}), "names only");
  ASSERT_TRUE(app.switchLanguage("fr"));
  EXPECT_EQ(countedText(app, 0, kTextFileCount), "0 fichier");
  EXPECT_EQ(countedText(app, 2, kTextCoverCount), "2 images de pochette");
  EXPECT_EQ(withColon(app, "Libellé"), "Libellé\u00A0:");
  EXPECT_EQ(scanOptionsText(app, {"tags", "archives"}), "Étiquettes audio, Contenu des archives");
  ASSERT_TRUE(app.switchLanguage("it"));
  EXPECT_EQ(countedText(app, 0, kTextFolderCount), "0 cartelle");
  EXPECT_EQ(countedText(app, 1, kTextFolderCount), "1 cartella");
  EXPECT_EQ(countedText(app, 1000, kTextRowCount), "1.000 righe");
}

TEST(Presentation, CountsAreGroupedAsTheLanguageWritesThem) {
  using tamber::app::groupedNumber;
  EXPECT_EQ(groupedNumber(999, "fr"), "999");
  EXPECT_EQ(groupedNumber(1234567, "en"), "1,234,567");
  EXPECT_EQ(groupedNumber(1234567, "fr"), "1\u202F234\u202F567");
  EXPECT_EQ(groupedNumber(1000, "it"), "1.000");
  EXPECT_EQ(groupedNumber(18446744073709551615ull, "xx"), "18,446,744,073,709,551,615");
}

// The README is the manual: every option a command takes is named in it
// (in its long or its short form), every option a command's synopsis
// there names is one the command takes, and every setting is named.
TEST(Readme, NamesEveryOptionAndNoOptionThatIsNot) {
  std::ifstream in(std::filesystem::path(TAMBER_SOURCE_DIR) / "README.md");
  std::stringstream whole;
  whole << in.rdbuf();
  const std::string readme = whole.str();
  ASSERT_GT(readme.size(), 10000u);
  auto help = [](const std::string& command) {
    return tamber::test_support::runCommand("LANG=C.UTF-8 LC_ALL= " + std::string(TAMBER_CLI) + " " + command + " --help",
                                            false)
        .out;
  };
  // The commands, and the commands of those that have some (one level).
  auto subcommands = [](const std::string& text) {
    std::vector<std::string> names;
    std::istringstream lines(text);
    bool listed = false;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("Subcommands:", 0) == 0) listed = true;
      else if (listed && line.size() > 2 && line.rfind("  ", 0) == 0 && line[2] != ' ')
        names.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
    return names;
  };
  std::vector<std::string> commands;
  for (const auto& c : subcommands(help(""))) {
    commands.push_back(c);
    for (const auto& sub : subcommands(help(c))) commands.push_back(c + " " + sub);
  }
  ASSERT_GE(commands.size(), 40u);
  const std::regex option(R"(^\s+(?:(-\w),)?(--[a-z][a-z0-9-]*))");
  std::map<std::string, std::string> helps;
  std::vector<std::string> problems;
  for (const auto& c : commands) {
    helps[c] = help(c);
    std::istringstream lines(helps[c]);
    for (std::string line; std::getline(lines, line);) {
      std::smatch m;
      if (!std::regex_search(line, m, option) || m[2] == "--help") continue;
      bool named = readme.find(m[2].str()) != std::string::npos ||
                   (m[1].matched && readme.find("`" + c + " " + m[1].str()) != std::string::npos) ||
                   (m[1].matched && readme.find(" " + m[1].str() + " ") != std::string::npos);
      if (!named) problems.push_back(c + " " + m[2].str() + " is not in the README");
    }
  }
  // The synopses: lines "tamber COMMAND ..." at the start of a line.
  std::istringstream lines(readme);
  const std::regex synopsis(R"(^tamber ([a-z][a-z-]*)(?: ([a-z][a-z-]*))?(.*)$)");
  const std::regex named(R"((?:^|[\s\[|(])(--[a-z][a-z0-9-]*))");
  int synopses = 0;
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (!std::regex_match(line, m, synopsis) || !helps.count(m[1].str())) continue;
    std::string c = m[1].str();
    std::string rest = m[3].str();
    if (m[2].matched) {
      if (helps.count(c + " " + m[2].str())) c += " " + m[2].str();
      else rest = " " + m[2].str() + rest;
    }
    ++synopses;
    // What a command says of itself stops at two blanks.
    rest = rest.substr(0, rest.find("   "));
    for (std::sregex_iterator o(rest.begin(), rest.end(), named), end; o != end; ++o) {
      std::string name = (*o)[1].str();
      if (name != "--json" && helps[c].find(name) == std::string::npos) {
        problems.push_back("the synopsis of " + c + " names " + name + ", which it does not take");
      }
    }
  }
  EXPECT_GE(synopses, 40);
  // So is every setting the program reads, by its key.
  std::istringstream keys(
      tamber::test_support::runCommand("LANG=C.UTF-8 LC_ALL= " + std::string(TAMBER_CLI) + " config keys", false).out);
  int settings = 0;
  for (std::string line; std::getline(keys, line);) {
    if (line.empty() || line[0] == ' ') continue;
    ++settings;
    std::string key = line.substr(line.find(' ') + 1);
    if (readme.find(key) == std::string::npos) problems.push_back("the setting " + line + " is not in the README");
  }
  EXPECT_GE(settings, 30);
  EXPECT_TRUE(problems.empty()) << [&] {
    std::string all;
    for (const auto& p : problems) all += p + "\n";
    return all;
  }();
}
