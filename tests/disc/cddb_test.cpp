// The disc database client against a loopback server written here: canned
// replies, a silent server, an early close, an endless reply, sites.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "disc/audio_disc.h"
#include "disc/cddb.h"
#include "tests/disc/loopback_server.h"

namespace tamber::disc {
namespace {

class FixedNames : public CddbClient {
 protected:
  std::string userName() const override { return "jo.smith"; }
  std::string hostName() const override { return "desk-1.home"; }
};

DiscIdentity identity() {
  DiscIdentity id;
  id.discId = 0x8a0b9c0d;
  id.trackCount = 3;
  id.offsets = "150+15363+32314";
  id.discSeconds = 621;
  return id;
}

const std::string kEntry =
    "# xmcd\r\n# Track frame offsets:\r\n#\t150\r\n#\t15363\r\n#\t32314\r\n# Disc length: 621 seconds\r\n"
    "# Revision: 1\r\n# Submitted via: Tool 1.0\r\nDISCID=8a0b9c0d\r\nDTITLE=Artist / Album\r\nDYEAR=2001\r\n"
    "DGENRE=jAZZ\r\nTTITLE0=First\r\nTTITLE1=Second\r\nEXTD=\r\nEXTT0=\r\nEXTT1=\r\nPLAYORDER=\r\n.\r\n";

TEST(Cddb, HelloAndRequests) {
  FixedNames c;
  EXPECT_EQ(c.helloText(), "hello=jo_smith+desk_1_home+Tamber%2B+3.3&proto=6");
  c.helloEmail = "jo+cd@example.org";
  EXPECT_EQ(c.helloText(), "hello=jo%2Bcd+example.org+Tamber%2B+3.3&proto=6");
  c.helloEmail.clear();
  CddbSite s;
  s.host = "cddb.example.org";
  EXPECT_EQ(c.requestText(s, "sites"),
            "GET /~cddb/cddb.cgi?cmd=sites&hello=jo_smith+desk_1_home+Tamber%2B+3.3&proto=6 HTTP/1.0\r\n"
            "Host: cddb.example.org\r\n\r\n");
  c.proxyHost = "proxy";
  c.proxyUser = "user";
  c.proxyPassword = "pass";
  EXPECT_EQ(c.requestText(s, "sites"),
            "GET http://cddb.example.org/~cddb/cddb.cgi?cmd=sites&hello=jo_smith+desk_1_home+Tamber%2B+3.3&proto=6 "
            "HTTP/1.0\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\nHost: cddb.example.org\r\n\r\n");
  auto server = parseServer("gnudb.gnudb.org:8880/~cddb/cddb.cgi");
  ASSERT_TRUE(server);
  EXPECT_EQ(server->host, "gnudb.gnudb.org");
  EXPECT_EQ(server->port, 8880);
  EXPECT_EQ(parseServer("example.org")->path, "/~cddb/cddb.cgi");
  EXPECT_FALSE(parseServer(":80"));
  EXPECT_FALSE(parseServer("host:99999"));
}

TEST(Cddb, QueriesAndReads) {
  LoopbackServer server;
  FixedNames c;
  std::vector<CddbMatch> matches;
  server.answer("200 rock 8a0b9c0d Artist / Album\r\n");
  ASSERT_TRUE(c.query(server.site(), identity(), matches));
  ASSERT_EQ(matches.size(), 1u);
  EXPECT_EQ(matches[0].category, "rock");
  EXPECT_EQ(matches[0].discId, 0x8a0b9c0du);
  EXPECT_EQ(matches[0].artist, "Artist");
  EXPECT_EQ(matches[0].title, "Album");
  EXPECT_NE(server.lastRequest().find("cmd=cddb+query+8a0b9c0d+3+150+15363+32314+621&hello="), std::string::npos)
      << server.lastRequest();

  server.answer("211 close matches found\r\nrock 8a0b9c0d Artist / Album\r\nblues 8a0b9c0e Other Album\r\n.\r\n");
  ASSERT_TRUE(c.query(server.site(), identity(), matches));
  ASSERT_EQ(matches.size(), 2u);
  EXPECT_EQ(matches[1].artist, "");
  EXPECT_EQ(matches[1].title, "Other Album");

  server.answer("202 No match for disc ID 8a0b9c0d.\r\n");
  EXPECT_FALSE(c.query(server.site(), identity(), matches));
  EXPECT_EQ(c.lastError(), 0);

  // A refusal is one line: answered without waiting for a terminator.
  server.answer("403 Database entry is corrupt.\r\n");
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(c.query(server.site(), identity(), matches));
  EXPECT_EQ(c.lastError(), kCddbProtocol);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1000));

  // A server that wants an e-mail address says so; the message says what to set.
  server.answer("500 Unknown developer email\r\n");
  EXPECT_FALSE(c.query(server.site(), identity(), matches));
  EXPECT_NE(c.errorText().find("--email"), std::string::npos) << c.errorText();
  EXPECT_NE(c.errorText().find("hello_email"), std::string::npos);

  server.answer("210 rock 8a0b9c0d CD database entry follows (until terminating `.')\r\n" + kEntry);
  DiscEntry e;
  ASSERT_TRUE(c.read(server.site(), "rock", 0x8a0b9c0d, e)) << c.errorText();
  EXPECT_EQ(e.title, "Album");
  EXPECT_NE(server.lastRequest().find("cmd=cddb+read+rock+8a0b9c0d&"), std::string::npos);
  // What the audio page makes of it.
  DriveRecord r;
  r.lastAudioTrack = 3;
  std::vector<TrackRow> rows = trackRows(r, "Track");
  DiscTexts texts;
  applyDiscEntry(e, rows, texts);
  EXPECT_EQ(rows[0].name, "First");
  EXPECT_EQ(rows[2].name, "Track 3");  // beyond the entry's titles
  EXPECT_EQ(texts.genre, "Jazz");
  EXPECT_EQ(texts.year, "2001");
  EXPECT_EQ(texts.artist, "Artist");

  server.answer("210 rock 8a0b9c0d\r\n# xmcd\r\n.\r\n");
  EXPECT_FALSE(c.read(server.site(), "rock", 0x8a0b9c0d, e));
  EXPECT_EQ(c.lastError(), kCddbProtocol);
}

TEST(Cddb, ServersThatMisbehave) {
  LoopbackServer server;
  FixedNames c;
  c.timeoutMs = 500;
  DiscEntry e;
  server.answer("", LoopbackServer::Mode::silent);
  EXPECT_FALSE(c.read(server.site(), "rock", 1, e));
  EXPECT_EQ(c.lastError(), kCddbTimeout);

  server.answer("210 rock 8a0b9c0d\r\n" + kEntry, LoopbackServer::Mode::closeEarly);
  EXPECT_FALSE(c.read(server.site(), "rock", 1, e));
  EXPECT_EQ(c.lastError(), kCddbProtocol);
  EXPECT_FALSE(c.lastReply().empty());  // what came is kept

  // A reply without end is cut, memory stays small.
  server.answer("", LoopbackServer::Mode::endless);
  c.timeoutMs = 5000;
  EXPECT_FALSE(c.read(server.site(), "rock", 1, e));
  EXPECT_EQ(c.lastError(), kCddbProtocol);
  EXPECT_LE(c.lastReply().size(), 4096u);

  CddbSite nowhere;
  nowhere.host = "no-such-host.invalid";
  EXPECT_FALSE(c.read(nowhere, "rock", 1, e));
  EXPECT_EQ(c.lastError(), kCddbNoHost);
}

// A server that trickles a byte now and then never lets the idle time-out
// pass: the request's deadline ends it, and a cancel ends it at the next wait.
TEST(Cddb, ARequestHasADeadlineAndAnswersACancel) {
  LoopbackServer server;
  server.answer("", LoopbackServer::Mode::trickle);
  FixedNames c;
  c.timeoutMs = 2000;
  c.deadlineMs = 1500;
  DiscEntry e;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(c.read(server.site(), "rock", 1, e));
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(c.lastError(), kCddbTimeout) << c.errorText();
  EXPECT_LT(took, std::chrono::seconds(4));
  EXPECT_GE(took, std::chrono::milliseconds(1400));

  c.deadlineMs = 60000;
  start = std::chrono::steady_clock::now();
  c.cancelled = [&] { return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(400); };
  EXPECT_FALSE(c.read(server.site(), "rock", 1, e));
  EXPECT_EQ(c.lastError(), kCddbCancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

  // A server that is not there is a failure to reach it, with its own code.
  LoopbackServer closed;
  CddbSite gone = closed.site();
  c.cancelled = nullptr;
  {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    gone.port = ntohs(a.sin_port);
    ::close(fd);  // bound once, nobody listens there now
  }
  EXPECT_FALSE(c.read(gone, "rock", 1, e));
  EXPECT_EQ(c.lastError(), kCddbConnect) << c.errorText();
}

TEST(Cddb, Sites) {
  LoopbackServer server;
  FixedNames c;
  server.answer("210 OK, site information follows (until terminating `.')\r\n"
      "gnudb.gnudb.org http 80 /~cddb/cddb.cgi N037.20 W121.53 Random gnudb server\r\n"
      "gnudb.gnudb.org cddbp 8880 - N037.20 W121.53 Random gnudb server\r\n"
      "bad.example.org http 80 /~cddb/cddb.cgi N37.20 W121.53 Latitude too short\r\n"
      "eu.example.org http 8080 /cddb.cgi S033.52 E151.12 Sydney mirror\r\n.\r\n");
  std::vector<CddbSite> sites;
  ASSERT_TRUE(c.sites(server.site(), sites));
  ASSERT_EQ(sites.size(), 2u);
  EXPECT_TRUE(sites[0].north);
  EXPECT_EQ(sites[0].latitudeMinutes, 2240);
  EXPECT_FALSE(sites[0].east);
  EXPECT_EQ(sites[0].description, "Random gnudb server");
  EXPECT_EQ(sites[1].port, 8080);
  EXPECT_FALSE(sites[1].north);
  EXPECT_EQ(siteText(sites[1]), "eu.example.org, 8080, Sydney mirror");
  EXPECT_EQ(chosenSite(sites, "eu.example.org, 8080, Sydney mirror"), 1);
  EXPECT_EQ(chosenSite(sites, "other"), -1);

  // The watcher hears the server come up and reports its sites.
  std::mutex m;
  std::vector<std::pair<bool, size_t>> reports;
  {
    CddbSite s = server.site();
    CddbServerWatcher watcher(s, [&](bool up, const std::vector<CddbSite>& list) {
      std::lock_guard<std::mutex> l(m);
      reports.emplace_back(up, list.size());
    });
    watcher.setQuickPolling(true);
    for (int i = 0; i < 50; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      std::lock_guard<std::mutex> l(m);
      if (!reports.empty()) break;
    }
    auto t = std::chrono::steady_clock::now();
    watcher.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t, std::chrono::milliseconds(500));
  }
  ASSERT_FALSE(reports.empty());
  EXPECT_TRUE(reports[0].first);
  EXPECT_EQ(reports[0].second, 2u);
}

}  // namespace
}  // namespace tamber::disc
