// Which disc database server is asked, and how: from the settings
// (section "FreeDBSelected") and what a command line or dialog overrides.
#pragma once

#include "disc/drive_manager.h"
#include "scan/add_folder_job.h"

#include <string>

#include "app/settings_store.h"
#include "disc/cddb.h"
#include "platform/result.h"

namespace tamber::app {

inline constexpr const char* kCddbSection = "FreeDBSelected";

struct CddbOverrides {
  std::string server;  // "HOST[:PORT][/PATH]"
  std::string email;   // "USER@HOST"
  std::string proxy;   // "HOST[:PORT]"
};

// The server: the override, else the chosen site ("site_name": a host, or
// a site list entry "HOST, PORT, DESCRIPTION"), else the default server.
Result<disc::CddbSite> cddbServer(const SettingsStore& settings, const std::string& override);

// Whether TEXT can be the hello's address ("USER@HOST"; empty: the log-on
// and machine names are sent) and a proxy ("HOST[:PORT]"; empty: none).
Status checkGreetingAddress(const std::string& text);
Status checkProxyAddress(const std::string& text);

// The hello's address and the proxy ("hello_email", "proxy_host",
// "proxy_port", "proxy_user", "proxy_password"), the overrides winning.
Status configureCddbClient(const SettingsStore& settings, const CddbOverrides& overrides,
                           disc::CddbClient& client);

// What a job records of the disc in a drive: its kind, volume label,
// capacity, track count, playing time and own catalog number, and for an
// audio or enhanced CD its disc id.
scan::DiscJob discJobOf(const disc::DriveRecord& record);

}  // namespace tamber::app
