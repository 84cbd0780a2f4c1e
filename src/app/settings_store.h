// Per-user settings in one XML file ("tamber.cfg"), stored encoded with the
// symbol codec:
//
//   <Settings>
//     <alice>                                      the user's branch
//       <App-Preference><DefaultLib>...</DefaultLib></App-Preference>
//       <serialized_param><param_dlgfolder dt:dt="int" ...>7</param_dlgfolder>
//       <Recent_Librarys><Library>...</Library>...</Recent_Librarys>
//
// Integers carry the data type "int" of "urn:schemas-microsoft-com:datatypes".
// A section directly below the root (the user-less address
// "/Settings/SECTION/KEY") gives its values to every user whose own branch
// lacks them: a machine-wide default put there by hand.
// A file shorter than 102400 bytes loses other users' branches when loaded.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/result.h"
#include "platform/xml.h"

namespace tamber::app {

class SettingsStore {
 public:
  // Loads `path`; a missing file is an empty store (the file is made by the
  // first save that has something to store). A file that cannot be read or
  // is not a settings file gives defaults and is never saved over
  // (warning() says so); a folder or a device is an error.
  Status load(const std::filesystem::path& path, const std::string& user);

  int getInt(const std::string& section, const std::string& key, int fallback) const;
  void putInt(const std::string& section, const std::string& key, int value);
  std::string getText(const std::string& section, const std::string& key) const;
  void putText(const std::string& section, const std::string& key, const std::string& text);
  // Whether SECTION/KEY is stored (names as stored, letter case included).
  bool has(const std::string& section, const std::string& key) const;
  // Every stored value in and below `section` (all with ""), in file order:
  // the section as a "/"-joined path, the key and the text.
  struct Entry {
    std::string section, key, value;
  };
  std::vector<Entry> entries(const std::string& section = {}) const;
  // The stored section and key that match these without regard to letter
  // case, when exactly one does.
  std::optional<Entry> findIgnoringCase(const std::string& section, const std::string& key) const;
  std::vector<std::string> getList(const std::string& section, const std::string& item) const;
  void putList(const std::string& section, const std::string& item,
               const std::vector<std::string>& values);

  // Writes the file when the store was loaded and changed (atomically:
  // a temporary file renamed over the old one).
  Status save();
  bool modified() const { return modified_; }
  // False when the file was left alone (see warning()): nothing is saved.
  bool savable() const { return opened_; }
  // Why the file was not loaded, when it was left alone; else empty.
  const std::string& warning() const { return warning_; }
  const std::string& user() const { return user_; }
  const std::filesystem::path& path() const { return path_; }
  // The document's XML text (for tests and diagnostics).
  std::string text() const;

 private:
  xmlNode* select(const std::vector<std::string>& steps) const;
  // `steps` in the user's branch, else at the user-less address (the same
  // steps without the user) when that is a section of keys.
  xmlNode* selectValue(const std::vector<std::string>& steps) const;
  static bool userLess(const xmlNode* n);
  xmlNode* selectOrCreate(const std::vector<std::string>& steps);
  std::vector<std::string> steps(const std::string& section, const std::string& key = {}) const;

  xml::Doc doc_;
  std::filesystem::path path_;
  std::string user_;
  bool opened_ = false;
  bool modified_ = false;
  std::string warning_;
};

// The branch name for a log-on name: spaces become "_", surrounding white
// space is dropped, characters an XML name cannot hold become "_";
// "default_user" when nothing is left.
std::string branchName(const std::string& logonName);
// The log-on user name (password database, else $USER).
std::string logonName();

// Where the settings file is: `override` when given; else "tamber.cfg" next to
// the executable when that exists (a portable install); else
// $XDG_CONFIG_HOME/tamber/tamber.cfg (default ~/.config/tamber/tamber.cfg).
std::filesystem::path settingsPath(const std::filesystem::path& override = {});

// The list of recently opened libraries, most recent first, at most 4.
class RecentLibraryList {
 public:
  static constexpr size_t kMax = 4;
  void load(const SettingsStore& s);
  void store(SettingsStore& s) const;
  void add(const std::string& path);
  const std::vector<std::string>& entries() const { return entries_; }
  // A menu caption: the path shortened to 30 characters.
  static std::string caption(const std::string& path);

 private:
  std::vector<std::string> entries_;
};

}  // namespace tamber::app
