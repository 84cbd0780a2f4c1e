// The audio part of a disc record: one row per audio track (from the table
// of contents and the ISRCs, named from CD-TEXT or the disc database) and
// the disc's own texts, then the track items written into the listing.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "disc/cd_text.h"
#include "disc/disc_entry.h"
#include "disc/drive_manager.h"

namespace tamber::disc {

struct TrackRow {
  uint32_t trackNumber = 0;
  std::string name;
  std::string performer, composer, songwriter;
  std::string isrc;
  uint32_t lengthFrames = 0;
};

// The disc-level texts the audio page fills and the user may correct.
struct DiscTexts {
  std::string artist, album, genre, year;
  // The disc's UPC/EAN from CD-TEXT: its catalog number when the disc's
  // subchannel gives none (no MCN).
  std::string upc;
};

// Rows 1..lastAudioTrack named "%s %d" with `trackWord` (language text
// 804), their lengths and ISRCs from the drive's record.
std::vector<TrackRow> trackRows(const DriveRecord& record, const std::string& trackWord);

// Names the rows from CD-TEXT (titles, performers, songwriters, composers,
// ISRCs) and fills the disc's album, artist, genre and UPC/EAN from it.
void applyCdText(const CdText& text, std::vector<TrackRow>& rows, DiscTexts& disc);

// Names the rows from a disc database entry (rows beyond its titles keep
// their names) and fills the disc texts as the dialog shows them: the genre
// with a capital first letter, the artist without trailing "/", the album
// without leading "/" and blanks, the year when not 0.
void applyDiscEntry(const DiscEntry& entry, std::vector<TrackRow>& rows, DiscTexts& disc);

// The children of a track item, by name code, in their order: "c" name,
// "f" "cda", "e" length in frames, then "g" ISRC, "j" performer, "k"
// composer, "l" songwriter when not empty.
std::vector<std::pair<std::string, std::string>> trackItemFields(const TrackRow& row);

}  // namespace tamber::disc
