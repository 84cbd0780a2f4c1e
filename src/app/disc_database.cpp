#include "app/disc_database.h"

#include "disc/toc.h"

namespace tamber::app {

Result<disc::CddbSite> cddbServer(const SettingsStore& settings, const std::string& override) {
  if (!override.empty()) {
    auto site = disc::parseServer(override);
    if (!site) return Error{Errc::invalid_argument, "\"" + override + "\" is not HOST[:PORT][/PATH]"};
    return *site;
  }
  std::string chosen = settings.getText(kCddbSection, "site_name");
  if (size_t comma = chosen.find(", "); comma != std::string::npos) {
    // An entry of the site list: "HOST, PORT, DESCRIPTION".
    disc::CddbSite site;
    site.host = chosen.substr(0, comma);
    site.port = std::atoi(chosen.c_str() + comma + 2);
    if (site.port <= 0 || site.port > 65535) site.port = 80;
    return site;
  }
  if (auto site = disc::parseServer(chosen)) return *site;
  disc::CddbSite site;
  site.host = disc::kDefaultCddbHost;
  return site;
}

Status checkGreetingAddress(const std::string& text) {
  if (text.empty()) return {};
  size_t at = text.find('@');
  if (at == 0 || at == std::string::npos || at + 1 == text.size() || text.find_first_of(" \t") != std::string::npos) {
    return Error{Errc::invalid_argument, "\"" + text + "\" is not an address USER@HOST"};
  }
  return {};
}

Status checkProxyAddress(const std::string& text) {
  if (text.empty() || (disc::parseServer(text) && text.find_first_of(" \t") == std::string::npos)) return {};
  return Error{Errc::invalid_argument, "\"" + text + "\" is not HOST[:PORT]"};
}

Status configureCddbClient(const SettingsStore& settings, const CddbOverrides& overrides,
                           disc::CddbClient& client) {
  client.helloEmail = !overrides.email.empty() ? overrides.email : settings.getText(kCddbSection, "hello_email");
  if (Status st = checkGreetingAddress(client.helloEmail); !st) return st;
  std::string proxy = !overrides.proxy.empty() ? overrides.proxy : settings.getText(kCddbSection, "proxy_host");
  if (Status st = checkProxyAddress(proxy); !st) return st;
  if (!proxy.empty()) {
    auto p = disc::parseServer(proxy);
    client.proxyHost = p->host;
    client.proxyPort = proxy.find(':') != std::string::npos ? p->port
                                                             : settings.getInt(kCddbSection, "proxy_port", 80);
    client.proxyUser = settings.getText(kCddbSection, "proxy_user");
    client.proxyPassword = settings.getText(kCddbSection, "proxy_password");
  }
  return {};
}

scan::DiscJob discJobOf(const disc::DriveRecord& r) {
  scan::DiscJob job;
  job.kind = r.discType;
  job.volumeLabel = r.label;
  job.capacityBytes = r.capacityBytes;
  job.trackCount = r.trackCount;
  job.playingSeconds = r.spanMinutes * 60 + r.spanSeconds;
  job.catalogNumber = r.catalogNumber;
  if (r.discType == disc::kDiscAudio || r.discType == disc::kDiscEnhanced) job.musicBrainzId = disc::musicBrainzDiscId(r.toc);
  return job;
}

}  // namespace tamber::app
