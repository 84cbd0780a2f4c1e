// The table of contents of a CD as a drive reports it (READ TOC format 0 in
// MSF form), and the identities computed from it: the CDDB1 disc id with
// its offsets and playing time, and the MusicBrainz disc id.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace tamber::disc {

// One entry of the table: a track, or the lead-out (track number AAh).
struct TocEntry {
  int number = 0;
  uint8_t control = 0;  // the control nibble: 04h marks a data track
  uint8_t adr = 0;
  int minute = 0, second = 0, frame = 0;  // absolute, the 2-second lead-in included

  // The address in frames (1/75 s): minute x 4500 + second x 75 + frame.
  uint32_t frames() const { return static_cast<uint32_t>(minute * 4500 + second * 75 + frame); }
  bool audio() const { return (control & 0x04) == 0; }
};

struct Toc {
  int firstTrack = 0;
  int lastTrack = 0;
  std::vector<TocEntry> tracks;  // firstTrack..lastTrack, in order
  TocEntry leadout;

  int trackCount() const { return static_cast<int>(tracks.size()); }
};

// A CD holds at most 99 tracks; the answer buffer has room for 100 entries.
inline constexpr int kMaxTocEntries = 100;
inline constexpr size_t kTocBufferSize = 4 + kMaxTocEntries * 8;

// Decodes a READ TOC format 0 (MSF) answer. An answer shorter than its own
// length field, track numbers out of order or out of 1..99, an address
// that is no MSF address, or no lead-out is an error: nothing is read past
// the bytes given.
Result<Toc> decodeToc(std::string_view answer);

// The answer a drive gives for `toc` (the simulated drive, and tests).
std::string encodeToc(const Toc& toc);

// The CDDB1 identity of a disc.
struct DiscIdentity {
  uint32_t discId = 0;  // 0 when the disc has no audio track
  int trackCount = 0;
  std::string offsets;  // track start addresses in frames, joined with "+"
  int discSeconds = 0;  // the lead-out address in whole seconds
};

// Computes the identity; false (discId 0) when no track is audio.
bool computeDiscIdentity(const Toc& toc, DiscIdentity& identity);

// "%08x", as a query sends it.
std::string discIdText(uint32_t id);

// The MusicBrainz disc id: SHA-1 over the first and last audio track
// numbers, the lead-out and 99 track offsets as upper-case hexadecimal, in
// base64 with "._-" for "+/=". On an enhanced CD the data session is left
// out (the lead-out becomes the data track's start less 11400 frames).
// Empty when the disc has no audio track.
std::string musicBrainzDiscId(const Toc& toc);

}  // namespace tamber::disc
