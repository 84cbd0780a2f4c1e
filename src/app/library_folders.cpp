#include "app/library_folders.h"

#include <algorithm>
#include <set>
#include <strings.h>

#include "app/app.h"

namespace tamber::app {

namespace {

bool isLibraryName(const std::string& name) {
  return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".cds") == 0;
}

}  // namespace

LibraryFolders findLibraries(const SettingsStore& settings, const RecentLibraryList& recent) {
  namespace fs = std::filesystem;
  LibraryFolders out;
  std::string list = settings.getText("App-Preference", "LibraryFolders");
  for (size_t from = 0; from < list.size();) {
    size_t end = list.find(':', from);
    if (end == std::string::npos) end = list.size();
    if (end > from) out.folders.emplace_back(list.substr(from, end - from));
    from = end + 1;
  }
  if (out.folders.empty()) {
    std::string chosen = settings.getText("App-Preference", "DefaultLib");
    out.folders.push_back((chosen.empty() ? defaultLibraryPath() : fs::path(chosen)).parent_path());
  }
  std::set<fs::path> seen;
  auto take = [&](const fs::path& p) {
    std::error_code ec;
    fs::path same = fs::weakly_canonical(p, ec);
    if (seen.insert(ec ? p : same).second) out.libraries.push_back(p);
  };
  for (const fs::path& folder : out.folders) {
    std::vector<fs::path> here;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code kind;
      if (isLibraryName(it->path().filename().string()) && it->is_regular_file(kind)) here.push_back(it->path());
    }
    std::sort(here.begin(), here.end());
    for (const fs::path& p : here) take(p);
  }
  for (const std::string& p : recent.entries()) {
    std::error_code ec;
    if (fs::is_regular_file(p, ec)) take(p);
  }
  return out;
}

}  // namespace tamber::app
