// A client of a CDDB disc database server (protocol level 6 over HTTP/1.0):
// which entries match a disc (query), one entry (read), the server's mirror
// list (sites). One connection per request. Nothing is ever submitted.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "disc/disc_entry.h"
#include "disc/toc.h"

namespace tamber::disc {

// The public server asked when no other is chosen.
inline constexpr const char* kDefaultCddbHost = "gnudb.gnudb.org";
inline constexpr const char* kDefaultCddbPath = "/~cddb/cddb.cgi";

// Error codes of a failed request, as the protocol's callers know them.
inline constexpr int kCddbNoHost = 10022;    // the host name does not resolve
inline constexpr int kCddbProtocol = 10043;  // an unexpected status, a malformed or endless reply
inline constexpr int kCddbTimeout = 10060;   // no data for the idle time-out, or the request's deadline passed
inline constexpr int kCddbCancelled = 10004;  // the caller cancelled the request
inline constexpr int kCddbConnect = 10061;    // the server cannot be reached or dropped the request

struct CddbSite {
  std::string host;
  int port = 80;
  std::string path = kDefaultCddbPath;
  bool north = true;
  int latitudeMinutes = 0;
  bool east = true;
  int longitudeMinutes = 0;
  std::string description;
};

struct CddbMatch {
  std::string category;
  uint32_t discId = 0;
  std::string artist, title;
};

// "HOST[:PORT][/PATH]" as --server takes it; the path defaults to the
// usual CGI program. Nothing for an empty host or a bad port.
std::optional<CddbSite> parseServer(const std::string& text);

// Reply parsers (the body after the HTTP header block). Each returns 0 or
// the error code; a query with status 202 gives no matches and no error.
int parseQueryReply(std::string_view body, std::vector<CddbMatch>& matches);
int parseReadReply(std::string_view body, DiscEntry& entry, std::string* why = nullptr);
int parseSitesReply(std::string_view body, std::vector<CddbSite>& sites);
// The CDDB status of a body: its first three characters, -1 when shorter.
int cddbStatus(std::string_view body);

class CddbClient {
 public:
  virtual ~CddbClient() = default;

  int timeoutMs = 2000;
  // The whole request (connecting, sending, the reply) ends by then,
  // however slowly a server trickles its bytes.
  int deadlineMs = 30000;
  // Asked at every wait (at least every 250 ms): true cancels the request.
  std::function<bool()> cancelled;
  std::string clientName = "Tamber+";
  std::string clientVersion = "3.3";
  int protocolLevel = 6;
  std::string proxyHost;
  int proxyPort = 80;
  std::string proxyUser, proxyPassword;
  // "USER@HOST" sent instead of the log-on and machine names when set.
  std::string helloEmail;

  bool query(const CddbSite& site, const DiscIdentity& identity, std::vector<CddbMatch>& matches);
  bool read(const CddbSite& site, const std::string& category, uint32_t discId, DiscEntry& entry);
  bool sites(const CddbSite& site, std::vector<CddbSite>& list);
  bool fetchSitesFrom(const std::string& host, std::vector<CddbSite>& list);

  // "hello=USER+HOST+CLIENT+VERSION&proto=N", each field URL-encoded.
  std::string helloText() const;
  // The request line(s) for a command ("cddb+query+...", "sites").
  std::string requestText(const CddbSite& site, const std::string& command) const;

  // After a failure: the error code and what happened, in words.
  int lastError() const { return lastError_; }
  const std::string& errorText() const { return errorText_; }
  // The body of the last reply (kept on a time-out or an early close).
  const std::string& lastReply() const { return lastReply_; }
  int status() const { return status_; }

  // The log-on and machine names the hello carries when no address is set.
  virtual std::string userName() const;
  virtual std::string hostName() const;

 private:
  bool request(const CddbSite& site, const std::string& command, bool queryMode, std::string& body);
  bool fail(int code, std::string text);

  std::string lastReply_;
  int status_ = 0;
  int lastError_ = 0;
  std::string errorText_;
};

// Watches whether the default server can be reached and what mirrors it
// lists; the front end hears of every change. Checks every 10 seconds
// (0.5 s while quick polling is asked), stops within 100 ms.
class CddbServerWatcher {
 public:
  using Report = std::function<void(bool reachable, const std::vector<CddbSite>& sites)>;
  CddbServerWatcher(CddbSite server, Report report);
  ~CddbServerWatcher();
  void setQuickPolling(bool quick) { quick_.store(quick); }
  void stop();

 private:
  void run();
  CddbSite server_;
  Report report_;
  std::atomic<bool> stop_{false}, quick_{false};
  std::thread thread_;
};

// The site the user chose ("FreeDBSelected"/"site_name"), matched against
// the list's entries "%s, %d, %s" (host, port, description): its index, or
// -1 when none matches.
int chosenSite(const std::vector<CddbSite>& sites, const std::string& siteName);
std::string siteText(const CddbSite& site);

}  // namespace tamber::disc
