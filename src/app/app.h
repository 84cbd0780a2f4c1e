// The application object: settings, language, recent libraries and the open
// library, with the start-up and shutdown order that every front end shares.
//
// Start-up: settings (from the settings file), language, recent list, then
// the library named by the caller, else "App-Preference"/"DefaultLib", else
// the default library under $XDG_DATA_HOME (created on first use).
// Shutdown: the catalog is saved when changed (and the file committed), the
// recent list stored, the settings written when changed.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "app/language.h"
#include "app/settings_store.h"
#include "catalog/library.h"

namespace tamber::app {

// How core code talks to the user; front ends implement it.
class Notifier {
 public:
  virtual ~Notifier() = default;
  virtual void error(const std::string& message) = 0;
  virtual void info(const std::string& message) = 0;
  // A yes/no question whose default answer is no.
  virtual bool ask(const std::string& question) = 0;
};

struct StartOptions {
  std::filesystem::path config;  // settings file; empty: the usual places
};

class App {
 public:
  Status start(const StartOptions& options);

  // Opens `path` (or the default library when empty) and makes it current;
  // the previous library is saved and closed first. A viewer opens it
  // read-only, sharing it with other viewers.
  Status openLibrary(const std::filesystem::path& path = {}, bool readOnly = false);
  Status createLibrary(const std::filesystem::path& path);
  // Opens the library that is open anew (its newest committed state), for
  // reading only or for writing; the one open stays when that fails.
  Status reopenLibrary(bool readOnly);
  Status saveLibrary();
  Status shutdown();
  // Loads the language `code` ("en", "fr", "it") and keeps it in the
  // settings; on failure the current language stays.
  Status switchLanguage(const std::string& code);
  // Ends without saving anything: the library's changes are dropped and the
  // settings file is left as it is (a command that failed changes nothing).
  void abandon();

  SettingsStore& settings() { return settings_; }
  LanguageResources& language() { return language_; }
  const LanguageResources& language() const { return language_; }
  RecentLibraryList& recent() { return recent_; }
  catalog::Library* library() { return library_.get(); }
  std::string text(int id) const { return language_.text(id); }
  // The program that writes a library, as a person reads it ("tamber
  // (process 4242)"), in the user's language.
  std::string writerName(const storage::WriterInfo& who) const;
  // An error of opening the library at `path` in the user's language.
  Error inUserLanguage(const Error& e, const std::filesystem::path& path) const;

 private:
  Status closeLibrary();

  SettingsStore settings_;
  LanguageResources language_;
  RecentLibraryList recent_;
  std::unique_ptr<catalog::Library> library_;
};

// $XDG_DATA_HOME/tamber/library.cds (default ~/.local/share/tamber/library.cds).
std::filesystem::path defaultLibraryPath();

}  // namespace tamber::app
