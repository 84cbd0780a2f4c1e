// Whether the disc or folder a recorded file is on is at hand: a folder at
// its recorded place, a data disc mounted under its recorded volume label,
// an audio CD in a drive with its recorded disc id. Before anything is
// played or opened from a disc, the disc in the drive is checked to be the
// one catalogued.
#pragma once

#include <libxml/tree.h>

#include <string>
#include <vector>

#include "app/app.h"
#include "disc/drive_manager.h"

namespace tamber::app {

struct Located {
  bool present = false;
  std::string path;    // the file, on a folder or a mounted disc
  std::string device;  // the drive of an audio CD
  int track = 0;       // the track's number on it
  std::string message;  // why it is not at hand, in the user's language
};

// Where the recorded file `steps` of `item` is now. For an audio disc's
// track, `track` is its number (1, 2, ...) and `steps` is left empty. The
// drives are read as needed (a simulated one too).
Located locate(const App& app, catalog::Library& library, const xmlNode* item, const std::vector<std::string>& steps,
               disc::CdDriveManager& drives, int track = 0);

}  // namespace tamber::app
