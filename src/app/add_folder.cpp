#include "app/add_folder.h"

#include <algorithm>

namespace tamber::app {

CatalogCheckpoint::CatalogCheckpoint(catalog::Library& library)
    : library_(library), text_(library.catalog().currentText()), modified_(library.catalog().modified()) {}

void CatalogCheckpoint::restore() {
  auto& doc = library_.catalog();
  for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
    xmlUnlinkNode(*it);
    xmlFreeNode(*it);
  }
  created_.clear();
  if (doc.currentText() != text_) (void)doc.loadText(text_);
  doc.setModified(modified_);
  if (!library_.modified()) (void)library_.file().revert();
}

scan::ArchiveBudget archiveBudget(const SettingsStore& settings) {
  scan::ArchiveBudget b;
  int megabytes = settings.getInt("App-Preference", "ArchiveLimitMB", -1);
  int seconds = settings.getInt("App-Preference", "ArchiveLimitSeconds", -1);
  if (megabytes >= 0) b.bytes = static_cast<uint64_t>(megabytes) << 20;
  if (seconds >= 0) b.milliseconds = static_cast<uint32_t>(std::min(seconds, 86400)) * 1000;
  return b;
}

std::vector<scan::UserReader> userReaders(const SettingsStore& settings) {
  std::vector<scan::UserReader> readers;
  for (int n = 1; n <= kUserReaderCount; ++n) {
    std::string section = "UserReader" + std::to_string(n);
    scan::UserReader r;
    r.pattern = settings.getText(section, "Pattern");
    auto words = scan::splitCommandLine(settings.getText(section, "Command"));
    if (r.pattern.empty() || !words || words->empty()) continue;
    r.argv = std::move(*words);
    r.timeLimitMs = std::clamp(settings.getInt(section, "TimeLimitSeconds", 5), 1, 600) * 1000;
    r.outputLimit = static_cast<size_t>(std::clamp(settings.getInt(section, "OutputLimitBytes", 4096), 16, 65536));
    readers.push_back(std::move(r));
  }
  return readers;
}

std::vector<std::string> filterHistory(const SettingsStore& settings) {
  return settings.getList("TypeFiler", "AddOther");
}

void rememberAddFolder(SettingsStore& settings, const scan::AddFolderJob& job,
                       const scan::AddFolderOptions& options, const scan::AddFolderResult& result) {
  if (options.disc) {
    // The disc job keeps its own options, after a scan that went well.
    if (!options.update && result.outcome == scan::JobOutcome::done) {
      settings.putInt("serialized_param", "param_addcd", static_cast<int>(job.scanFlags()));
    }
    return;
  }
  if (!options.update) {
    settings.putInt("serialized_param", "param_dlgfolder", static_cast<int>(job.savedOptionBits()));
  }
  if (result.filterUsed) {
    // As the job used it: without the blanks around it.
    std::string used = options.filter;
    used.erase(0, used.find_first_not_of(" \t"));
    used.erase(used.find_last_not_of(" \t") + 1);
    auto history = filterHistory(settings);
    if (!used.empty() && std::find(history.begin(), history.end(), used) == history.end()) {
      history.push_back(used);
      settings.putList("TypeFiler", "AddOther", history);
    }
  }
}

}  // namespace tamber::app
