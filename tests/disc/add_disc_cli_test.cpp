// tamber disc and tamber add-disc end to end, with simulated drives: an
// audio CD with CD-TEXT, an enhanced CD (tracks, then files), a data CD, a
// DVD, an empty drive, and re-reading a disc into its item.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include <filesystem>
#include <fstream>

#include "tests/disc/loopback_server.h"
#include "tests/cli_library.h"
#include "tests/run_command.h"
#include "tests/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using tamber::test_support::runCommand;
using tamber::test_support::shellQuote;

const std::string kDiscs = TAMBER_DISCS;

class AddDisc : public tamber::test_support::CliLibrary {};

TEST_F(AddDisc, TheDiscCommandReadsEveryKind) {
  auto audio = tamber("disc --json " + sim("audio-cd.xml"), false);
  ASSERT_EQ(audio.status, 0) << audio.out;
  for (const char* key : {"\"discType\":1", "\"trackCount\":12", "\"lastAudioTrack\":12", "\"capacityBytes\":",
                          "\"catalogNumber\":\"5099902894525\"", "\"isrcList\":[\"GBAYE2600001\"",
                          "\"label\":\"AUDIO CD\"", "\"discId\":\"990a150c\"", "\"musicbrainzDiscId\":\"",
                          "\"offsets\":\"150+13460+", "\"discSeconds\":2583", "\"title\":\"Night Drive\"",
                          "\"trackFrames\":[13310,15822,"}) {
    EXPECT_NE(audio.out.find(key), std::string::npos) << key << "\n" << audio.out;
  }
  auto text = tamber("disc " + sim("enhanced-cd.xml"));
  ASSERT_EQ(text.status, 0) << text.out;
  EXPECT_NE(text.out.find("CD-Extra"), std::string::npos);
  EXPECT_NE(text.out.find("Harbour Song / Ana Lima"), std::string::npos);
  EXPECT_NE(text.out.find("Live at the Harbour / Various"), std::string::npos);
  // Said in the user's language, the tracks' kinds in one column.
  auto french = runCommand("LANG=fr_FR.UTF-8 LC_ALL= LC_MESSAGES= " + std::string(TAMBER_CLI) + " --config " +
                               shellQuote(config) + " disc " + sim("enhanced-cd.xml"), false);
  for (const char* line : {"  4  audio    11:33:25", "  5  données  18:32:00", "\nZone de sortie\u00A0: 31:52:00\n",
                           "\nDurée\u00A0: 18:30\n", "(5 pistes, 1912 s; décalages 150+18000+", " 279 Mo\n"}) {
    EXPECT_NE(french.out.find(line), std::string::npos) << line << "\n" << french.out;
  }
  EXPECT_NE(text.out.find("\nLead-out: 31:52:00\nPlaying time: 18:30\nCDDB disc id: 2f077605 (5 tracks, 1912 s;"),
            std::string::npos) << text.out;
  auto dvd = tamber("disc --json " + sim("dvd.xml"), false);
  EXPECT_NE(dvd.out.find("\"isDvd\":true"), std::string::npos) << dvd.out;
  EXPECT_NE(dvd.out.find("\"discId\":null"), std::string::npos);
  auto empty = tamber("disc " + sim("empty-drive.xml"));
  EXPECT_EQ(empty.status, 1);
  EXPECT_NE(empty.out.find("tray is open"), std::string::npos);
  auto missing = tamber("disc --drive sim:" + shellQuote((dir.path / "none.xml").string()));
  EXPECT_EQ(missing.status, 1);
}

TEST_F(AddDisc, AnAudioCdAnEnhancedCdAndADataDisc) {
  auto a = tamber("add-disc " + sim("audio-cd.xml") + " --category Music/Jazz --price 12,5 --location Shelf\\ 3");
  // The summary of an audio CD counts its tracks and their time, not files.
  EXPECT_NE(a.out.find("  12 tracks, 43:01  ("), std::string::npos) << a.out;
  EXPECT_EQ(a.out.find("0 files"), std::string::npos) << a.out;
  ASSERT_EQ(a.status, 0) << a.out;
  auto show = tamber("show --json 'Music/Jazz/Night Drive'", false);
  ASSERT_EQ(show.status, 0) << show.out;
  for (const char* key : {"\"kindCode\":1", "\"tracks\":12", "\"playingTime\":2581", "\"artist\":\"The Night Owls\"",
                          "\"album\":\"Night Drive\"", "\"genre\":\"Jazz\"", "\"price\":12.50",
                          "\"catalogNumber\":\"5099902894525\"", "\"location\":\"Shelf 3\"",
                          "\"originalName\":\"AUDIO CD\"", "\"capacityMB\":378"}) {
    EXPECT_NE(show.out.find(key), std::string::npos) << key << "\n" << show.out;
  }
  // In words: the playing time as `disc` prints it.
  auto shown = tamber("show 'Music/Jazz/Night Drive'", false);
  EXPECT_NE(shown.out.find("\nPlaying time: 43:01\n"), std::string::npos) << shown.out;
  // The tracks in disc order (also when sorted by name), with their
  // lengths and texts.
  auto ls = tamber("ls -l 'Music/Jazz/Night Drive'", false);
  ASSERT_EQ(ls.status, 0) << ls.out;
  // The first track first, its length where a file's size stands.
  EXPECT_EQ(ls.out.substr(0, ls.out.find('\n')).find("2:57"), 6u) << ls.out;
  EXPECT_LT(ls.out.find("Night Drive"), ls.out.find("Highway Lights"));
  EXPECT_NE(ls.out.find("Été indien"), std::string::npos);
  EXPECT_NE(ls.out.find("isrc: GBAYE2600012"), std::string::npos);
  EXPECT_NE(ls.out.find("songwriter: A. Writer"), std::string::npos);
  // The MusicBrainz id is kept with the disc.
  auto id = tamber("disc --json " + sim("audio-cd.xml"), false);
  std::string mb = id.out.substr(id.out.find("\"musicbrainzDiscId\":\"") + 21, 28);
  auto catalog = tamber("storage cat " + shellQuote(lib) + " categories", false);
  EXPECT_NE(catalog.out.find("<a6>" + mb + "</a6>"), std::string::npos);

  // Enhanced CD: the tracks, then the data session's files; "Various".
  ASSERT_EQ(tamber("add-disc -q " + sim("enhanced-cd.xml") + " --category Music --label Harbour").status, 0);
  auto e = tamber("ls -R Music/Harbour", false);
  EXPECT_LT(e.out.find("Opening"), e.out.find("Harbour Song")) << e.out;
  EXPECT_LT(e.out.find("Goodnight"), e.out.find("Video/")) << e.out;
  EXPECT_LT(e.out.find("Video/"), e.out.find("notes.txt")) << e.out;
  EXPECT_NE(e.out.find("clip.txt"), std::string::npos);
  auto es = tamber("show --json Music/Harbour", false);
  EXPECT_NE(es.out.find("\"artist\":\"Various\""), std::string::npos) << es.out;
  EXPECT_NE(es.out.find("\"tracks\":5"), std::string::npos);
  EXPECT_NE(es.out.find("\"files\":2"), std::string::npos);

  // A data CD: no tracks, its volume label as the label, non-ASCII names.
  ASSERT_EQ(tamber("add-disc -q " + sim("data-cd.xml") + " --category Backups").status, 0);
  auto d = tamber("ls -R Backups/PHOTOS_2019", false);
  EXPECT_NE(d.out.find("souvenirs.txt"), std::string::npos) << d.out;
  EXPECT_NE(d.out.find("Été/"), std::string::npos);
  auto ds = tamber("show --json Backups/PHOTOS_2019", false);
  EXPECT_NE(ds.out.find("\"kindCode\":2"), std::string::npos) << ds.out;
  EXPECT_EQ(ds.out.find("\"playingTime\""), std::string::npos);
  auto info = tamber("info --json", false);
  EXPECT_NE(info.out.find("\"discs\":3"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\"audioTracks\":17"), std::string::npos) << info.out;
  // The options are remembered for the next disc.
  auto saved = runCommand(std::string(TAMBER_CLI) + " --config " + shellQuote(config) +
                          " config get serialized_param param_addcd");
  EXPECT_EQ(saved.status, 0) << saved.out;
}

// Sub-folder rules name folders of the data session as mounted; a bad one
// is a usage error that files nothing, and an audio CD has no folders.
TEST_F(AddDisc, RulesLeaveOutFoldersOfTheDataSession) {
  ASSERT_EQ(tamber("add-disc -q " + sim("data-cd.xml") + " --category Backups --rule Holiday=skip").status, 0);
  auto listed = tamber("ls -R Backups/PHOTOS_2019", false);
  EXPECT_NE(listed.out.find("souvenirs.txt"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find("day1.txt"), std::string::npos) << listed.out;
  EXPECT_EQ(listed.out.find("Holiday"), std::string::npos) << listed.out;
  std::string before = tamber("tree", false).out;
  EXPECT_EQ(tamber("add-disc -q " + sim("data-cd.xml") + " --category Other --rule Holiday=shred").status, 2);
  EXPECT_EQ(tamber("add-disc -q " + sim("audio-cd.xml") + " --category Other --rule X=skip").status, 2);
  EXPECT_EQ(tamber("tree", false).out, before);
}

// A disc whose subchannel has no catalog number (no MCN) takes the UPC/EAN
// its CD-TEXT carries (pack 8Eh, the disc's item); an MCN wins over it.
TEST_F(AddDisc, TheCdTextUpcIsTheCatalogNumberWithoutAnMcn) {
  std::string xml = tamber::test_support::fileText(fs::path(kDiscs) / "audio-cd.xml");
  // "0724349532729" and its end, as the disc's code, then track 1's ISRC.
  const std::string upc =
      "8e 00 00 00 30 37 32 34 33 34 39 35 33 32 37 32 00 00\n"
      "8e 01 01 0d 39 00 55 53 42 4e 32 30 31 30 30 31 00 00\n"
      "8e 01 02 00 30 31 00 00 00 00 00 00 00 00 00 00 00 00\n";
  size_t end = xml.find("    </cdtext>");
  ASSERT_NE(end, std::string::npos);
  xml.insert(end, upc);
  auto withMcn = dir.path / "with-mcn.xml";
  std::ofstream(withMcn) << xml;
  size_t mcn = xml.find(" mcn=\"5099902894525\"");
  ASSERT_NE(mcn, std::string::npos);
  xml.erase(mcn, std::string(" mcn=\"5099902894525\"").size());
  auto withoutMcn = dir.path / "without-mcn.xml";
  std::ofstream(withoutMcn) << xml;
  auto a = tamber("add-disc --drive sim:" + shellQuote(withoutMcn.string()) + " --category Upc --label NoMcn");
  ASSERT_EQ(a.status, 0) << a.out;
  EXPECT_NE(tamber("show --json Upc/NoMcn", false).out.find("\"catalogNumber\":\"0724349532729\""),
            std::string::npos);
  a = tamber("add-disc --drive sim:" + shellQuote(withMcn.string()) +
             " --category Upc --label Mcn --comment Gift --location Shelf --year 1999 --price 5");
  ASSERT_EQ(a.status, 0) << a.out;
  EXPECT_NE(tamber("show --json Upc/Mcn", false).out.find("\"catalogNumber\":\"5099902894525\""),
            std::string::npos);
  // The disc's own fields in their order: location, comment, catalog
  // number, year, price.
  auto stored = tamber("storage cat " + shellQuote(lib) + " categories", false).out;
  EXPECT_NE(stored.find("<i>Shelf</i><f>Gift</f><t>5099902894525</t><j>1999</j><s>"), std::string::npos) << stored;
}

TEST_F(AddDisc, RefusalsChangeNothing) {
  std::string before = tamber("storage cat " + shellQuote(lib) + " categories", false).out;
  auto noCategory = tamber("add-disc " + sim("audio-cd.xml"));
  EXPECT_EQ(noCategory.status, 2);
  EXPECT_NE(noCategory.out.find("Please specify a category for this disk!"), std::string::npos);
  auto empty = tamber("add-disc " + sim("empty-drive.xml") + " --category Music");
  EXPECT_EQ(empty.status, 1);
  EXPECT_NE(empty.out.find("There is no readable disc in the drive."), std::string::npos) << empty.out;
  auto price = tamber("add-disc " + sim("audio-cd.xml") + " --category Music --price cheap");
  EXPECT_EQ(price.status, 2);
  auto audioField = tamber("add-disc " + sim("data-cd.xml") + " --category Music --artist X");
  EXPECT_EQ(audioField.status, 2);
  // A data disc whose files are not mounted.
  std::ofstream(dir.path / "unmounted.xml")
      << "<drive><disc label=\"X\" folder=\"nowhere\"><track number=\"1\" start=\"00:02:00\" type=\"data\"/>"
         "<leadout start=\"10:00:00\"/></disc></drive>";
  auto unmounted = tamber("add-disc --drive sim:" + shellQuote((dir.path / "unmounted.xml").string()) +
                          " --category Music");
  EXPECT_EQ(unmounted.status, 1);
  EXPECT_NE(unmounted.out.find("not mounted"), std::string::npos);
  EXPECT_EQ(tamber("storage cat " + shellQuote(lib) + " categories", false).out, before);
}

TEST_F(AddDisc, ReReadingADiscKeepsItsNumberAndTheUsersFields) {
  ASSERT_EQ(tamber("add-disc -q " + sim("audio-cd.xml") + " --category Music --location Box\\ 1").status, 0);
  ASSERT_EQ(tamber("set 'Music/Night Drive' comment=signed").status, 0);
  ASSERT_EQ(tamber("add-disc -q " + sim("audio-cd.xml") + " --update 'Music/Night Drive' --genre Blues").status, 0);
  auto show = tamber("show --json 'Music/Night Drive'", false);
  EXPECT_NE(show.out.find("\"number\":1"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("\"location\":\"Box 1\""), std::string::npos);
  EXPECT_NE(show.out.find("\"comment\":\"signed\""), std::string::npos);
  EXPECT_NE(show.out.find("\"genre\":\"Blues\""), std::string::npos);
  EXPECT_NE(show.out.find("\"tracks\":12"), std::string::npos);
  EXPECT_EQ(tamber("tree", false).out.find("#2"), std::string::npos);
  // A track's texts are edited in place; its title cannot be emptied, its
  // length not edited, a data disc has no tracks.
  ASSERT_EQ(tamber("set-track 'Music/Night Drive' 2 'title=Highway Lights (live)' composer=B.\\ C").status, 0);
  auto ls = tamber("ls --sort none -l 'Music/Night Drive'", false);
  EXPECT_NE(ls.out.find("Highway Lights (live)\n"), std::string::npos) << ls.out;
  EXPECT_LT(ls.out.find("composer: B. C"), ls.out.find("songwriter: A. Writer", ls.out.find("(live)")));
  std::string before = tamber("storage cat " + shellQuote(lib) + " col1-1.xml", false).out;
  EXPECT_EQ(tamber("set-track 'Music/Night Drive' 2 performer=X title=").status, 2);
  EXPECT_EQ(tamber("set-track 'Music/Night Drive' 2 length=1").status, 2);
  EXPECT_EQ(tamber("set-track 'Music/Night Drive' 13 title=x").status, 1);
  EXPECT_EQ(tamber("storage cat " + shellQuote(lib) + " col1-1.xml", false).out, before);
  auto check = runCommand(std::string(TAMBER_CLI) + " storage check " + shellQuote(lib));
  EXPECT_EQ(check.status, 0) << check.out;
}

// An audio CD without CD-TEXT takes its titles from the disc database;
// several matches need a choice; a database that cannot be asked leaves the
// generated names.
TEST_F(AddDisc, TitlesFromTheDiscDatabase) {
  // The sample audio CD without its CD-TEXT.
  std::ifstream in(kDiscs + "/audio-cd.xml");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  text.erase(text.find("<cdtext>"), text.find("</cdtext>") + 9 - text.find("<cdtext>"));
  std::ofstream(dir.path / "plain.xml") << text;
  std::string drive = "--drive sim:" + shellQuote((dir.path / "plain.xml").string());

  tamber::disc::LoopbackServer server;
  std::string entry =
      "210 jazz 990a150c\r\n# xmcd\r\n# Track frame offsets:\r\n#\t150\r\n# Disc length: 2583 seconds\r\n"
      "# Submitted via: Tool 1.0\r\nDISCID=990a150c\r\nDTITLE=The Night Owls / Night Drive\r\nDYEAR=2019\r\n"
      "DGENRE=JAZZ\r\nTTITLE0=Night Drive\r\nTTITLE1=Highway Lights\r\nEXTD=\r\nEXTT0=\r\nEXTT1=\r\n.\r\n";
  server.answer("", tamber::disc::LoopbackServer::Mode::reply,
                {{"cddb+query", "211 close\r\njazz 990a150c The Night Owls / Night Drive\r\n"
                                   "misc 990a150c Someone / Else\r\n.\r\n"},
                    {"cddb+read+jazz", entry}});
  std::string at = "--server 127.0.0.1:" + std::to_string(server.port()) + " --email jo@example.org";

  auto q = tamber("cddb query --json " + drive + " " + at, false);
  ASSERT_EQ(q.status, 0) << q.out;
  EXPECT_NE(q.out.find("\"discId\":\"990a150c\",\"matches\":[{\"category\":\"jazz\""), std::string::npos) << q.out;
  EXPECT_NE(server.lastRequest().find("hello=jo+example.org+Tamber%2B"), std::string::npos) << server.lastRequest();
  auto r = tamber("cddb read jazz 990a150c " + at, false);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("The Night Owls / Night Drive (2019)"), std::string::npos) << r.out;

  // Two matches and no choice: nothing is added.
  auto none = tamber("add-disc " + drive + " --category Music " + at + " < /dev/null");
  EXPECT_EQ(none.status, 2) << none.out;
  EXPECT_NE(none.out.find("--match"), std::string::npos);
  EXPECT_NE(none.out.find("Someone / Else"), std::string::npos);
  EXPECT_EQ(tamber("tree", false).out.find("Night"), std::string::npos);

  auto added = tamber("add-disc -q " + drive + " --category Music --match 1 " + at);
  ASSERT_EQ(added.status, 0) << added.out;
  auto ls = tamber("ls --sort none 'Music/Night Drive'", false);
  EXPECT_EQ(ls.out.substr(0, ls.out.find("Track 3")), "Night Drive\nHighway Lights\n") << ls.out;
  auto show = tamber("show --json 'Music/Night Drive'", false);
  EXPECT_NE(show.out.find("\"artist\":\"The Night Owls\""), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("\"genre\":\"Jazz\""), std::string::npos);
  EXPECT_NE(show.out.find("\"year\":2019"), std::string::npos);

  // A server that cannot be asked: said, and the disc is added with its
  // tracks named by number.
  server.answer("500 Unknown developer email\r\n");
  auto plain = tamber("add-disc " + drive + " --category Other --server 127.0.0.1:" + std::to_string(server.port()));
  ASSERT_EQ(plain.status, 0) << plain.out;
  EXPECT_NE(plain.out.find("hello_email"), std::string::npos) << plain.out;
  EXPECT_NE(tamber("ls 'Other/AUDIO CD'", false).out.find("Track 12"), std::string::npos);
  // No lookup at all with --no-cddb.
  auto quiet = tamber("add-disc -q " + drive + " --category Quiet --no-cddb --server 127.0.0.1:1");
  EXPECT_EQ(quiet.status, 0) << quiet.out;
  EXPECT_EQ(quiet.out.find("warning"), std::string::npos) << quiet.out;
}

// A disc database server that trickles its reply never holds the command:
// Ctrl-C and SIGTERM end it within a second, the library as it was; a server
// that is not there is said as such, not as "no entry".
TEST_F(AddDisc, AServerThatNeverEndsAnswersCtrlC) {
  std::ifstream in(kDiscs + "/audio-cd.xml");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  text.erase(text.find("<cdtext>"), text.find("</cdtext>") + 9 - text.find("<cdtext>"));
  std::ofstream(dir.path / "plain.xml") << text;
  std::string drive = "--drive sim:" + shellQuote((dir.path / "plain.xml").string());
  tamber::disc::LoopbackServer server;
  server.answer("", tamber::disc::LoopbackServer::Mode::trickle);
  std::string at = "--server 127.0.0.1:" + std::to_string(server.port());
  std::string before = tamber("storage ls --hash " + shellQuote(lib), false).out;
  for (const auto& [signal, status] : {std::pair{"INT", 130}, {"TERM", 143}}) {
    for (std::string command : {"cddb query " + drive + " " + at, "add-disc -q " + drive + " --category Music " + at}) {
      auto start = std::chrono::steady_clock::now();
      auto r = runCommand("timeout --preserve-status -s " + std::string(signal) + " 1 " + std::string(TAMBER_CLI) +
                          " -L " + shellQuote(lib) + " --config " + shellQuote(config) + " " + command);
      EXPECT_EQ(r.status, status) << command << "\n" << r.out;
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << command;
    }
  }
  EXPECT_EQ(tamber("storage ls --hash " + shellQuote(lib), false).out, before);
  // Nobody listens: the query fails and says why.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  auto refused = tamber("cddb query " + drive + " --server 127.0.0.1:" + std::to_string(ntohs(a.sin_port)));
  EXPECT_EQ(refused.status, 1) << refused.out;
  EXPECT_EQ(refused.out.find("has no entry"), std::string::npos) << refused.out;
  EXPECT_NE(refused.out.find("refused"), std::string::npos) << refused.out;
}

}  // namespace
