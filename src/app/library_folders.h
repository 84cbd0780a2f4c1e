// The libraries a search of every library looks in: the library files
// (*.cds) directly inside the folders the setting "LibraryFolders" names
// (folders joined by ":", as PATH is written), or, while it is not set, in
// the default library's folder; then the libraries of the recent list.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "app/settings_store.h"

namespace tamber::app {

struct LibraryFolders {
  std::vector<std::filesystem::path> folders;     // looked in, in order
  std::vector<std::filesystem::path> libraries;   // found, each once
};

// The folders of the setting (or the default), then the libraries found:
// by folder, by name within a folder, then the recent ones not yet found.
// A folder that cannot be read is passed over.
LibraryFolders findLibraries(const SettingsStore& settings, const RecentLibraryList& recent);

}  // namespace tamber::app
