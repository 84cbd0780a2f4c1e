#include "disc/cddb.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>

#include "platform/text.h"

namespace tamber::disc {

namespace {

// A reply that runs past this is cut: no server sends an entry this long.
constexpr size_t kMaxReply = 4 << 20;
constexpr int kConnectTimeoutMs = 10000;

std::string trimmed(std::string_view s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return {};
  return std::string(s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1));
}

// Letters and digits stay; everything else becomes "_" (the log-on and
// machine names in the hello).
std::string lettersAndDigits(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return out.empty() ? "Unknown" : out;
}

std::string urlEncoded(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char b[4];
      std::snprintf(b, sizeof b, "%%%02X", c);
      out += b;
    }
  }
  return out;
}

std::string base64(const std::string& in) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(in[i])) << 16;
    if (i + 1 < in.size()) v |= static_cast<uint32_t>(static_cast<unsigned char>(in[i + 1])) << 8;
    if (i + 2 < in.size()) v |= static_cast<unsigned char>(in[i + 2]);
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += i + 1 < in.size() ? kAlphabet[v >> 6 & 63] : '=';
    out += i + 2 < in.size() ? kAlphabet[v & 63] : '=';
  }
  return out;
}

// The lines of a body, split at "\r\n" or "\n".
std::vector<std::string_view> linesOf(std::string_view body) {
  std::vector<std::string_view> lines;
  size_t at = 0;
  while (at < body.size()) {
    size_t end = body.find('\n', at);
    std::string_view line = body.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return lines;
}

bool parseMatchLine(std::string_view line, CddbMatch& m) {
  size_t a = line.find_first_not_of(' ');
  if (a == std::string_view::npos) return false;
  size_t b = line.find(' ', a);
  if (b == std::string_view::npos) return false;
  size_t c = line.find_first_not_of(' ', b);
  if (c == std::string_view::npos) return false;
  size_t d = line.find(' ', c);
  if (d == std::string_view::npos) return false;
  size_t e = line.find_first_not_of(' ', d);
  if (e == std::string_view::npos) return false;
  std::string id(line.substr(c, d - c));
  char* end = nullptr;
  unsigned long v = std::strtoul(id.c_str(), &end, 16);
  if (!end || *end || id.empty()) return false;
  m.category = toValidUtf8(line.substr(a, b - a));
  m.discId = static_cast<uint32_t>(v);
  std::string text = cutToUtf16Units(toValidUtf8(line.substr(e)), 256);
  text = text.substr(0, text.find_first_of("\r\n"));
  size_t slash = text.find('/');
  if (slash != std::string::npos) {
    m.artist = trimmed(std::string_view(text).substr(0, slash));
    m.title = trimmed(std::string_view(text).substr(slash + 1));
  } else {
    m.title = text;
    m.artist.clear();
  }
  return true;
}

// "N037.20": hemisphere, three digits of degrees, a point, two of minutes.
bool parseCoordinate(std::string_view text, char positive, char negative, bool& plus, int& minutes) {
  if (text.size() != 7 || (text[0] != positive && text[0] != negative) || text[4] != '.') return false;
  for (size_t i : {1u, 2u, 3u, 5u, 6u}) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  plus = text[0] == positive;
  int degrees = (text[1] - '0') * 100 + (text[2] - '0') * 10 + (text[3] - '0');
  minutes = degrees * 60 + (text[5] - '0') * 10 + (text[6] - '0');
  return true;
}

bool parseSiteLine(std::string_view line, CddbSite& site) {
  std::vector<std::string> f;
  size_t at = 0;
  while (f.size() < 6) {
    size_t b = line.find_first_not_of(' ', at);
    if (b == std::string_view::npos) return false;
    size_t e = line.find(' ', b);
    f.emplace_back(line.substr(b, e == std::string_view::npos ? std::string_view::npos : e - b));
    if (e == std::string_view::npos) {
      at = line.size();
      break;
    }
    at = e;
  }
  if (f.size() < 6 || f[1] != "http") return false;
  char* end = nullptr;
  long port = std::strtol(f[2].c_str(), &end, 10);
  if (!end || *end || port <= 0 || port > 65535) return false;
  CddbSite s;
  s.host = f[0];
  s.port = static_cast<int>(port);
  s.path = f[3];
  if (!parseCoordinate(f[4], 'N', 'S', s.north, s.latitudeMinutes)) return false;
  if (!parseCoordinate(f[5], 'E', 'W', s.east, s.longitudeMinutes)) return false;
  size_t rest = line.find_first_not_of(' ', at);
  s.description = rest == std::string_view::npos ? std::string() : toValidUtf8(line.substr(rest));
  site = std::move(s);
  return true;
}

bool inList(int status) { return status >= 210 && status <= 219; }

}  // namespace

std::optional<CddbSite> parseServer(const std::string& text) {
  CddbSite site;
  std::string hostPort = text;
  if (size_t slash = text.find('/'); slash != std::string::npos) {
    hostPort = text.substr(0, slash);
    site.path = text.substr(slash);
  }
  if (size_t colon = hostPort.rfind(':'); colon != std::string::npos) {
    char* end = nullptr;
    long port = std::strtol(hostPort.c_str() + colon + 1, &end, 10);
    if (!end || *end || port <= 0 || port > 65535) return std::nullopt;
    site.port = static_cast<int>(port);
    hostPort = hostPort.substr(0, colon);
  }
  if (hostPort.empty()) return std::nullopt;
  site.host = hostPort;
  return site;
}

int cddbStatus(std::string_view body) {
  if (body.size() < 3) return -1;
  int v = 0;
  for (size_t i = 0; i < 3; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(body[i]))) return -1;
    v = v * 10 + (body[i] - '0');
  }
  return v;
}

int parseQueryReply(std::string_view body, std::vector<CddbMatch>& matches) {
  int status = cddbStatus(body);
  auto lines = linesOf(body);
  if (status == 202) return 0;
  if (status == 200) {
    if (lines.empty() || lines[0].size() <= 5) return kCddbProtocol;
    CddbMatch m;
    if (parseMatchLine(lines[0].substr(4), m)) matches.push_back(m);
    return 0;
  }
  if (inList(status)) {
    for (size_t i = 1; i < lines.size(); ++i) {
      CddbMatch m;
      if (parseMatchLine(lines[i], m)) matches.push_back(m);
    }
    return 0;
  }
  return kCddbProtocol;
}

int parseReadReply(std::string_view body, DiscEntry& entry, std::string* why) {
  int status = cddbStatus(body);
  if (!inList(status)) return kCddbProtocol;
  size_t second = body.find('\n');
  if (second == std::string_view::npos || second + 1 >= body.size()) return kCddbProtocol;
  if (Status st = parseDiscEntry(body.substr(second + 1), entry); !st) {
    if (why) *why = st.message();
    return kCddbProtocol;
  }
  return 0;
}

int parseSitesReply(std::string_view body, std::vector<CddbSite>& sites) {
  if (!inList(cddbStatus(body))) return kCddbProtocol;
  sites.clear();
  auto lines = linesOf(body);
  for (size_t i = 1; i < lines.size(); ++i) {
    CddbSite s;
    if (parseSiteLine(lines[i], s)) sites.push_back(std::move(s));
  }
  return 0;
}

std::string CddbClient::userName() const {
  const char* user = std::getenv("USER");
  if (user && *user) return std::string(user).substr(0, 260);
  if (passwd* pw = getpwuid(getuid()); pw && pw->pw_name) return std::string(pw->pw_name).substr(0, 260);
  return "Unknown";
}

std::string CddbClient::hostName() const {
  char name[261] = {};
  if (gethostname(name, sizeof name - 1) != 0 || !*name) return "Unknown";
  return name;
}

std::string CddbClient::helloText() const {
  std::string user, host;
  if (size_t at = helloEmail.find('@'); !helloEmail.empty() && at != std::string::npos) {
    // An address sent as given, so that the server sees a valid one.
    user = urlEncoded(helloEmail.substr(0, at));
    host = urlEncoded(helloEmail.substr(at + 1));
  } else {
    user = lettersAndDigits(userName());
    host = lettersAndDigits(hostName());
  }
  // The fields are separated by "+": one inside a field (the client's own
  // name) is sent encoded, so the server reads the field whole.
  return "hello=" + user + "+" + host + "+" + urlEncoded(clientName) + "+" + urlEncoded(clientVersion) +
         "&proto=" + std::to_string(protocolLevel);
}

std::string CddbClient::requestText(const CddbSite& site, const std::string& command) const {
  std::string query = "?cmd=" + command + "&" + helloText();
  if (proxyHost.empty()) {
    // Servers behind a shared address need the Host line to find the program.
    return "GET " + site.path + query + " HTTP/1.0\r\nHost: " + site.host + "\r\n\r\n";
  }
  std::string headers = "Host: " + site.host;
  if (!proxyUser.empty()) {
    headers = "Proxy-Authorization: Basic " + base64(proxyUser + ":" + proxyPassword) + "\r\n" + headers;
  }
  return "GET http://" + site.host + site.path + query + " HTTP/1.0\r\n" + headers + "\r\n\r\n";
}

bool CddbClient::fail(int code, std::string text) {
  status_ = 0;
  lastError_ = code;
  errorText_ = std::move(text);
  return false;
}

bool CddbClient::request(const CddbSite& site, const std::string& command, bool queryMode, std::string& body) {
  status_ = 1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
  auto remainingMs = [&] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  };
  // Waits for `events` on `fd` at most `limitMs`, in slices that answer a
  // cancel; 1 ready, 0 no, -1 cancelled or past the deadline.
  auto wait = [&](int fd, short events, long long limitMs) -> int {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
      if (cancelled && cancelled()) return -1;
      long long left = std::min<long long>(
          remainingMs(), std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())
                             .count());
      if (left <= 0) return remainingMs() <= 0 ? -1 : 0;
      pollfd p{fd, events, 0};
      int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 250)));
      if (ready > 0) return 1;
      if (ready < 0 && errno != EINTR) return 0;
    }
  };
  auto stopped = [&](const std::string& host) {
    if (cancelled && cancelled()) return fail(kCddbCancelled, host + ": cancelled");
    return fail(kCddbTimeout, host + ": no complete reply within " + std::to_string(deadlineMs / 1000) + " s");
  };
  lastError_ = 0;
  errorText_.clear();
  lastReply_.clear();
  const std::string& host = proxyHost.empty() ? site.host : proxyHost;
  int port = proxyHost.empty() ? site.port : proxyPort;
  // A dotted address is used as it is; a name is looked up.
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  std::string service = std::to_string(port);
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) {
    hints.ai_flags = 0;
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found) {
      return fail(kCddbNoHost, host + ": the server's name cannot be resolved");
    }
  }
  int fd = -1;
  std::string why = "no address";
  for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      int err = 0;
      socklen_t len = sizeof err;
      int ready = wait(fd, POLLOUT, kConnectTimeoutMs);
      if (ready < 0) {
        ::close(fd);
        freeaddrinfo(found);
        return stopped(host);
      }
      if (ready == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) {
        rc = 0;
      } else {
        errno = err ? err : ETIMEDOUT;
      }
    }
    if (rc != 0) {
      why = std::strerror(errno);
      ::close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd < 0) return fail(kCddbConnect, host + ":" + service + ": " + why);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};

  std::string text = requestText(site, command);
  for (size_t sent = 0; sent < text.size();) {
    int ready = wait(fd, POLLOUT, timeoutMs);
    if (ready < 0) return stopped(host);
    if (ready != 1) return fail(kCddbTimeout, host + ": the server does not take the request");
    ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return fail(kCddbConnect, host + ": " + std::strerror(errno));
    sent += static_cast<size_t>(n);
  }

  std::string data;
  auto lastData = std::chrono::steady_clock::now();
  char chunk[4096];
  while (true) {
    auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - lastData);
    if (idle.count() > timeoutMs) {
      lastReply_ = data;
      return fail(kCddbTimeout, host + ": the server sent nothing for " + std::to_string(timeoutMs / 1000) + " s");
    }
    int ready = wait(fd, POLLIN, 250);
    if (ready < 0) {
      lastReply_ = data;
      return stopped(host);
    }
    if (ready == 0) continue;
    ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) {
      lastReply_ = data;
      return fail(kCddbProtocol, host + ": the server closed the connection before the reply was complete");
    }
    lastData = std::chrono::steady_clock::now();
    data.append(chunk, static_cast<size_t>(n));
    if (data.size() > kMaxReply) {
      lastReply_ = data.substr(0, 4096);
      return fail(kCddbProtocol, host + ": the reply runs past 4 MB; it was cut");
    }
    size_t head = data.find("\r\n\r\n");
    size_t skip = 4;
    if (head == std::string::npos) {
      head = data.find("\n\n");
      skip = 2;
    }
    if (head == std::string::npos) continue;
    std::string_view b = std::string_view(data).substr(head + skip);
    if (queryMode) {
      // A reply that is no list is its status line alone.
      size_t line = b.find('\n');
      if (line != std::string_view::npos && !inList(cddbStatus(b))) {
        body = std::string(b);
        break;
      }
    }
    if (b.find("\r\n.\r\n") != std::string_view::npos || b.find("\n.\n") != std::string_view::npos ||
        b.substr(0, 3) == ".\r\n") {
      body = std::string(b);
      break;
    }
  }
  lastReply_ = body;
  int status = cddbStatus(body);
  if (status >= 500 && status <= 599) {
    std::string line = body.substr(0, body.find_first_of("\r\n"));
    return fail(kCddbProtocol, host + " refused the request (\"" + line +
                                   "\"); many servers want the e-mail address the hello carries: give it with "
                                   "--email USER@HOST or the setting FreeDBSelected/hello_email");
  }
  return true;
}

bool CddbClient::query(const CddbSite& site, const DiscIdentity& identity, std::vector<CddbMatch>& matches) {
  std::string body;
  std::string command = "cddb+query+" + discIdText(identity.discId) + "+" + std::to_string(identity.trackCount) +
                        "+" + identity.offsets + "+" + std::to_string(identity.discSeconds);
  if (!request(site, command, true, body)) return false;
  matches.clear();
  if (int e = parseQueryReply(body, matches); e != 0) {
    return fail(e, site.host + ": the server's answer to the query is not one: \"" +
                       body.substr(0, body.find_first_of("\r\n")) + "\"");
  }
  return !matches.empty();
}

bool CddbClient::read(const CddbSite& site, const std::string& category, uint32_t discId, DiscEntry& entry) {
  std::string body;
  if (!request(site, "cddb+read+" + urlEncoded(category) + "+" + discIdText(discId), false, body)) return false;
  std::string why;
  if (int e = parseReadReply(body, entry, &why); e != 0) {
    return fail(e, site.host + ": " +
                       (why.empty() ? "the entry could not be read: \"" + body.substr(0, body.find_first_of("\r\n")) +
                                          "\""
                                    : why));
  }
  return true;
}

bool CddbClient::sites(const CddbSite& site, std::vector<CddbSite>& list) {
  std::string body;
  if (!request(site, "sites", false, body)) return false;
  if (int e = parseSitesReply(body, list); e != 0) {
    return fail(e, site.host + ": the server lists no sites: \"" + body.substr(0, body.find_first_of("\r\n")) +
                       "\"");
  }
  return true;
}

bool CddbClient::fetchSitesFrom(const std::string& host, std::vector<CddbSite>& list) {
  CddbSite site;
  site.host = host;
  return sites(site, list);
}

std::string siteText(const CddbSite& site) {
  return site.host + ", " + std::to_string(site.port) + ", " + site.description;
}

int chosenSite(const std::vector<CddbSite>& sites, const std::string& siteName) {
  for (size_t i = 0; i < sites.size(); ++i) {
    if (siteText(sites[i]) == siteName) return static_cast<int>(i);
  }
  return -1;
}

CddbServerWatcher::CddbServerWatcher(CddbSite server, Report report)
    : server_(std::move(server)), report_(std::move(report)) {
  thread_ = std::thread([this] { run(); });
}

CddbServerWatcher::~CddbServerWatcher() { stop(); }

void CddbServerWatcher::stop() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

void CddbServerWatcher::run() {
  bool reachable = false, reported = false;
  CddbClient client;
  while (!stop_.load()) {
    // Waits 10 s (0.5 s when asked to hurry), looking at the stop flag
    // every 100 ms.
    for (int waited = 0; !stop_.load() && waited < (quick_.load() ? 500 : 10000); waited += 100) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (stop_.load()) break;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    bool resolves = getaddrinfo(server_.host.c_str(), nullptr, &hints, &found) == 0;
    if (found) freeaddrinfo(found);
    std::vector<CddbSite> sites;
    bool now = reachable;
    if (!resolves) {
      now = false;
    } else if (!reachable) {
      now = client.sites(server_, sites) && !sites.empty();
    }
    if (now != reachable || !reported) {
      reachable = now;
      reported = true;
      if (report_) report_(reachable, sites);
    }
  }
}

}  // namespace tamber::disc
