#include "app/app.h"

#include "storage/file_io.h"

#include <cstdlib>

namespace tamber::app {

std::filesystem::path defaultLibraryPath() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
    return std::filesystem::path(xdg) / "tamber" / "library.cds";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : "/tmp") / ".local" / "share" / "tamber" /
         "library.cds";
}

Status App::start(const StartOptions& options) {
  if (Status st = settings_.load(settingsPath(options.config), branchName(logonName())); !st) {
    return st;
  }
  auto dir = resourceDirectory();
  std::string code = chooseLanguage(settings_.getText("App-Preference", "lang"), dir);
  if (Status st = language_.load(dir, code); !st) return st;
  recent_.load(settings_);
  return {};
}

Status App::switchLanguage(const std::string& code) {
  LanguageResources next;
  if (Status st = next.load(resourceDirectory(), code); !st) return st;
  language_ = std::move(next);
  settings_.putText("App-Preference", "lang", code);
  return {};
}

Status App::closeLibrary() {
  if (!library_) return {};
  if (library_->modified()) {
    if (Status st = library_->save(); !st) return st;
  }
  library_.reset();
  return {};
}

// The failures a user meets when opening a library, said in the user's
// language; others keep the engine's words.
Error App::inUserLanguage(const Error& e, const std::filesystem::path& path) const {
  auto fill = [&](int id, const std::string& detail = {}) {
    std::string t = text(id);
    if (auto at = t.find("%s"); at != std::string::npos) t.replace(at, 2, path.string());
    if (auto at = t.find("%s"); at != std::string::npos) t.replace(at, 2, detail);
    return Error{e.code, t};
  };
  switch (e.code) {
    case Errc::not_found: return fill(kTextNoSuchLibrary);
    case Errc::locked: {
      // Another writer: said with who it is and since when, where known.
      storage::WriterInfo who = storage::describeWriter(path);
      if (!who.present) return fill(kTextLibraryInUse);
      std::string name = writerName(who);
      std::string since = storage::writerSince(who);
      std::string t = text(since.empty() ? kTextLibraryWritten : kTextLibraryWrittenSince);
      size_t at = 0;
      for (const std::string& part : {path.string(), name, since}) {
        at = t.find("%s", at);
        if (at == std::string::npos) break;
        t.replace(at, 2, part);
        at += part.size();
      }
      return Error{e.code, t};
    }
    case Errc::corrupt: {
      // The engine's message names the path first: only what follows it.
      std::string detail = e.message;
      std::string prefix = path.string() + ": ";
      if (detail.rfind(prefix, 0) == 0) detail = detail.substr(prefix.size());
      return fill(kTextNotALibrary, detail);
    }
    default: return e;
  }
}

namespace {

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace

Status App::openLibrary(const std::filesystem::path& requested, bool readOnly) {
  std::filesystem::path path = requested;
  bool isDefault = false;
  if (path.empty()) path = settings_.getText("App-Preference", "DefaultLib");
  if (path.empty()) {
    path = defaultLibraryPath();
    isDefault = true;
  }
  std::error_code ec;
  // The library already open stays as it is (a second open of it would be
  // refused by its own lock).
  if (library_ && sameFile(path, library_->path()) && (readOnly || !library_->readOnly())) {
    recent_.add(std::filesystem::absolute(path, ec).string());
    return {};
  }
  // The new library is opened before the current one is closed: when it
  // cannot be opened, the current one stays open and nothing changes.
  std::unique_ptr<catalog::Library> next;
  if (isDefault && !std::filesystem::exists(path, ec)) {
    std::filesystem::create_directories(path.parent_path(), ec);
    auto lib = catalog::Library::create(path);
    if (!lib) return lib.error();
    next = std::move(lib.value());
  } else {
    auto lib = catalog::Library::open(path, readOnly);
    if (!lib) return inUserLanguage(lib.error(), path);
    next = std::move(lib.value());
  }
  if (Status st = closeLibrary(); !st) return st;
  library_ = std::move(next);
  recent_.add(std::filesystem::absolute(path, ec).string());
  return {};
}

Status App::reopenLibrary(bool readOnly) {
  if (!library_ || library_->modified()) return {};
  std::filesystem::path path = library_->path();
  auto lib = catalog::Library::open(path, readOnly);
  if (!lib) return inUserLanguage(lib.error(), path);
  library_ = std::move(lib.value());
  return {};
}

Status App::createLibrary(const std::filesystem::path& path) {
  if (library_ && sameFile(path, library_->path())) {
    return Error{Errc::invalid_argument, path.string() + ": " + text(kTextLibraryIsOpen)};
  }
  // Made first, the current library closed after: a library that cannot be
  // made leaves the current one open.
  auto lib = catalog::Library::create(path);
  if (!lib) return lib.error();
  if (Status st = closeLibrary(); !st) return st;
  library_ = std::move(lib.value());
  std::error_code ec;
  recent_.add(std::filesystem::absolute(path, ec).string());
  return {};
}

Status App::saveLibrary() {
  if (!library_) return {};
  return library_->save();
}

void App::abandon() {
  if (library_) (void)library_->file().revert();
  library_.reset();
}

Status App::shutdown() {
  Status result = closeLibrary();
  recent_.store(settings_);
  if (Status st = settings_.save(); !st && result) result = st;
  return result;
}

std::string App::writerName(const storage::WriterInfo& who) const {
  if (who.program.empty()) return text(kTextAnotherProgram);
  if (who.pid <= 0) return who.program;
  std::string t = text(kTextWriterProcess);
  for (const std::string& part : {who.program, std::to_string(who.pid)}) {
    if (auto at = t.find("%s"); at != std::string::npos) t.replace(at, 2, part);
  }
  return t;
}

}  // namespace tamber::app
