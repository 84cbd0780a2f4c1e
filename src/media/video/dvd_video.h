// The titles of a DVD-Video disc or folder (VIDEO_TS), read from its IFO
// files with libdvdread: each title's length, chapters, angles and audio
// languages.
#pragma once

#include <string>
#include <vector>

namespace tamber::media {

struct DvdTitle {
  int number = 0;
  double seconds = 0;
  int chapters = 0;
  int angles = 1;
  std::vector<std::string> audioLanguages;  // two-letter codes, "und" where none is named
};

// Reads the titles of the DVD-Video structure in `folder` (the VIDEO_TS
// folder itself or the folder holding it); false with `why` said when it
// holds none that can be read.
bool readDvdTitles(const std::string& folder, std::vector<DvdTitle>& out, std::string* why = nullptr);

// The titles as one text: "1: 01:32:05, 28 chapters, en fr; 2: 00:03:10, 1 chapter, en".
std::string dvdTitlesText(const std::vector<DvdTitle>& titles);

}  // namespace tamber::media
