// Running a scan job from the command line.
#pragma once

#include "common.h"
#include "scan/add_folder_job.h"

namespace tamber::cli {

// Runs a job with progress on stderr (Ctrl-C and SIGTERM cancel it) and
// names the folders it could not read.
const scan::AddFolderResult& runWithProgress(App& app, app::Notifier& n, const Globals& g,
                                             scan::AddFolderJob& job, bool quiet);

}  // namespace tamber::cli
