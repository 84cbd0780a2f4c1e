// What every front end does around an add-folder job: the catalog kept to go
// back to when the job does not end well, and what is remembered after one
// that does (its option bits for the next new folder, its filter in the
// filter history).
#pragma once

#include <string>

#include "app/settings_store.h"
#include "catalog/library.h"
#include "scan/add_folder_job.h"

namespace tamber::app {

// The catalog as it is now; restore() goes back to it (categories made for
// the job included) and, with nothing else pending, returns the file to its
// last commit, which gives back the space the job's streams took.
class CatalogCheckpoint {
 public:
  explicit CatalogCheckpoint(catalog::Library& library);
  // A category made for the job since the checkpoint.
  void noteCreated(xmlNode* category) { created_.push_back(category); }
  // Takes out the categories made for the job and, when nothing else
  // changed, keeps every other element where it is (pointers into the
  // catalog held by open windows stay valid); else loads the text again.
  // A library with no other unsaved change is then reverted: the file is
  // as it was before the job, byte for byte.
  void restore();

 private:
  catalog::Library& library_;
  std::string text_;
  bool modified_;
  std::vector<xmlNode*> created_;
};

// After a job that ended well.
void rememberAddFolder(SettingsStore& settings, const scan::AddFolderJob& job,
                       const scan::AddFolderOptions& options, const scan::AddFolderResult& result);

// What listing one archive may cost, from the settings
// App-Preference/ArchiveLimitMB and ArchiveLimitSeconds (0: no limit;
// missing or not a number: the defaults).
scan::ArchiveBudget archiveBudget(const SettingsStore& settings);
// The readers of the user's own: sections UserReader1 to UserReader4, each
// with a Pattern and a Command (an entry without both, or whose command
// leaves a quote open, is left out).
inline constexpr int kUserReaderCount = 4;
std::vector<scan::UserReader> userReaders(const SettingsStore& settings);

// The filter history of the add-folder dialog, oldest first.
std::vector<std::string> filterHistory(const SettingsStore& settings);

}  // namespace tamber::app
