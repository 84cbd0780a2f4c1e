#include "app/setting_keys.h"

#include <cerrno>
#include <cstdlib>
#include <strings.h>

namespace tamber::app {

namespace {

using T = SettingType;

constexpr SettingKey kKeys[] = {
    {"App-Preference", "DefaultLib", T::text, "", 0, 0,
     "the library used without -L (set by `tamber default`)"},
    {"App-Preference", "DefaultDepth", T::integer, "0", 0, 255,
     "folder levels a new scan records (0: all)"},
    {"App-Preference", "NotEject", T::flag, "0", 0, 1, "1: add-disc leaves the disc in the drive"},
    {"App-Preference", "DefaultXSLFile", T::text, "", 0, 0,
     "the XSLT stylesheet of reports (empty: the built-in one)"},
    {"App-Preference", "lang", T::text, "", 0, 0,
     "the language of messages: en, fr or it (empty: from the environment)"},
    {"App-Preference", "HashContents", T::flag, "0", 0, 1,
     "1: add-folder and add-disc record a content hash of every file (as --hash)"},
    {"App-Preference", "LibraryFolders", T::text, "", 0, 0,
     "folders whose library files `find --all` searches, joined by : (empty: the default library's folder)"},
    {"App-Preference", "SharedCatalogue", T::text, "", 0, 0,
     "the shared catalogue's server, as PostgreSQL connection strings are written (publish; Tools > Shared catalogue)"},
    {"App-Preference", "ArchiveLimitMB", T::integer, "2048", 0, 1 << 30,
     "megabytes an archive listing may unpack before it stops, marked partial (0: no limit)"},
    {"App-Preference", "ArchiveLimitSeconds", T::integer, "20", 0, 86400,
     "seconds an archive listing may take before it stops, marked partial (0: no limit)"},
    {"UserReader1", "Pattern", T::text, "", 0, 0,
     "readers of your own (up to 4): the file names reader 1 runs for, as wildcards (*.nfo)"},
    {"UserReader1", "Command", T::text, "", 0, 0,
     "reader 1's program and arguments, run without a shell; {} is the file's path (else it comes last)"},
    {"UserReader1", "TimeLimitSeconds", T::integer, "5", 1, 600, "seconds reader 1 may run before it is stopped"},
    {"UserReader1", "OutputLimitBytes", T::integer, "4096", 16, 65536,
     "bytes of reader 1's output recorded as the file's description"},
    {"UserReader2", "Pattern", T::text, "", 0, 0,
     "the file names reader 2 runs for, as wildcards (*.nfo)"},
    {"UserReader2", "Command", T::text, "", 0, 0,
     "reader 2's program and arguments, run without a shell; {} is the file's path (else it comes last)"},
    {"UserReader2", "TimeLimitSeconds", T::integer, "5", 1, 600, "seconds reader 2 may run before it is stopped"},
    {"UserReader2", "OutputLimitBytes", T::integer, "4096", 16, 65536,
     "bytes of reader 2's output recorded as the file's description"},
    {"UserReader3", "Pattern", T::text, "", 0, 0,
     "the file names reader 3 runs for, as wildcards (*.nfo)"},
    {"UserReader3", "Command", T::text, "", 0, 0,
     "reader 3's program and arguments, run without a shell; {} is the file's path (else it comes last)"},
    {"UserReader3", "TimeLimitSeconds", T::integer, "5", 1, 600, "seconds reader 3 may run before it is stopped"},
    {"UserReader3", "OutputLimitBytes", T::integer, "4096", 16, 65536,
     "bytes of reader 3's output recorded as the file's description"},
    {"UserReader4", "Pattern", T::text, "", 0, 0,
     "the file names reader 4 runs for, as wildcards (*.nfo)"},
    {"UserReader4", "Command", T::text, "", 0, 0,
     "reader 4's program and arguments, run without a shell; {} is the file's path (else it comes last)"},
    {"UserReader4", "TimeLimitSeconds", T::integer, "5", 1, 600, "seconds reader 4 may run before it is stopped"},
    {"UserReader4", "OutputLimitBytes", T::integer, "4096", 16, 65536,
     "bytes of reader 4's output recorded as the file's description"},
    {"FreeDBSelected", "site_name", T::text, "", 0, 0,
     "the disc database server, HOST[:PORT][/PATH] (empty: the default server)"},
    {"FreeDBSelected", "hello_email", T::text, "", 0, 0, "the address the disc database is greeted with"},
    {"FreeDBSelected", "proxy_host", T::text, "", 0, 0, "an HTTP proxy for the disc database"},
    {"FreeDBSelected", "proxy_port", T::integer, "80", 1, 65535, "the proxy's port"},
    {"FreeDBSelected", "proxy_user", T::text, "", 0, 0, "the proxy's user name"},
    {"FreeDBSelected", "proxy_password", T::text, "", 0, 0, "the proxy's password"},
    {"FreeDBSelected", "auto_lookup", T::flag, "1", 0, 1,
     "1: the add-disc dialog looks a disc without CD-TEXT up as soon as it reads it"},
    {"serialized_param", "param_dlgfolder", T::integer, "124", 0, 0x7FFFFFFF,
     "the add-folder options last used (bits; kept by the program)"},
    {"serialized_param", "param_xmlexport", T::integer, "7", 0, 7,
     "what the XML export dialog last wrote (1 the categories below, 2 the file listings, 4 the covers)"},
    {"serialized_param", "param_addcd", T::integer, "124", 0, 0x7FFFFFFF,
     "the add-disc options last used (bits; kept by the program)"},
    {"serialized_param", "param_search", T::integer, "", 0, 0x7FFFFFFF,
     "the find dialog's switches (bits; kept by the program)"},
    {"Recent_Librarys", "Library", T::list, "", 0, 0, "the libraries opened last (kept by the program)"},
    {"TypeFiler", "AddOther", T::list, "", 0, 0, "the add-folder filter history (kept by the program)"},
};

bool same(std::string_view a, const char* b) {
  return a.size() == std::char_traits<char>::length(b) && strncasecmp(a.data(), b, a.size()) == 0;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && strncasecmp(s.data(), prefix.data(), prefix.size()) == 0;
}

}  // namespace

std::span<const SettingKey> settingKeys() { return kKeys; }

const SettingKey* findSettingKey(std::string_view section, std::string_view key) {
  for (const SettingKey& k : kKeys) {
    if (same(section, k.section) && same(key, k.key)) return &k;
  }
  return nullptr;
}

bool isLayoutSection(std::string_view section) {
  return same(section, "window_size") || startsWithNoCase(section, "BarState-") ||
         startsWithNoCase(section, "cx_listctrl_cols");
}

std::string settingValueProblem(const SettingKey& key, const std::string& value) {
  switch (key.type) {
    case SettingType::text:
      return {};
    case SettingType::list:
      return "it is a list the program keeps; it is not set by hand";
    case SettingType::integer:
    case SettingType::flag: {
      errno = 0;
      char* end = nullptr;
      long v = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || errno == ERANGE) {
        return key.type == SettingType::flag ? "it takes 0 or 1" : "it takes a whole number";
      }
      if (v < key.low || v > key.high) {
        if (key.type == SettingType::flag) return "it takes 0 or 1";
        return "it takes a number from " + std::to_string(key.low) + " to " + std::to_string(key.high);
      }
      return {};
    }
  }
  return {};
}

const char* settingTypeName(SettingType type) {
  switch (type) {
    case SettingType::integer: return "integer";
    case SettingType::flag: return "0 or 1";
    case SettingType::text: return "text";
    case SettingType::list: return "list";
  }
  return "";
}

}  // namespace tamber::app
