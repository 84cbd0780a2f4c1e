// A disc database entry in xmcd form, as a CDDB server's read reply
// carries it. The program reads entries; it never writes or submits one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace tamber::disc {

struct DiscEntry {
  std::vector<uint32_t> frameOffsets;
  int discLengthSeconds = 0;
  int revision = 0;
  std::string submitterProgram, submitterVersion, submitterComment;
  uint32_t discId = 0;
  std::string artist, title;  // the two halves of DTITLE
  std::vector<std::string> trackTitles;        // TTITLEn at n
  std::string extendedData;                    // EXTD
  std::vector<std::string> extendedTrackData;  // EXTTn at n
  std::vector<int> playOrder;
  int year = 0;
  std::string genre;
};

// The error a failed read of an entry reports, as the client's other errors.
inline constexpr int kEntryError = 10043;

// Reads an entry: the body of a read reply from the line after the status
// line up to and including the terminating "." line. Lines end in "\r\n" or
// "\n"; text is UTF-8, and bytes that are not read as Windows-1252 (older
// entries). An error names the first thing the entry lacks; the fields read
// until then stay in `entry`.
Status parseDiscEntry(std::string_view text, DiscEntry& entry);

}  // namespace tamber::disc
