// CD-TEXT: the titles and names a disc carries in the sub-channel of its
// lead-in, read by the drive as 18-byte packs (type, track, sequence,
// block and character position, 12 text bytes, 2 check bytes).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tamber::disc {

// The texts of the disc or of one track (UTF-8).
struct CdTextItems {
  std::string title;       // 80h
  std::string performer;   // 81h
  std::string songwriter;  // 82h
  std::string composer;    // 83h
  std::string code;        // 8Eh: the disc's UPC/EAN, a track's ISRC
};

struct CdText {
  CdTextItems disc;
  std::vector<CdTextItems> tracks;  // track n at n-1
  std::string genre;                // 87h: the text after the genre code
  bool empty() const;
};

inline constexpr size_t kCdTextPackSize = 18;

// The texts of the first block (the first language) of `packs`. Other
// blocks, double-byte texts and pack types outside 80h-8Fh are left out;
// an item of one tab repeats the item before it. Text is read as ISO 8859-1.
// A trailing piece shorter than a pack is not read.
CdText decodeCdText(std::string_view packs);

// The disc's artist when the disc names none: the performer every track
// names, "Various" when they differ, else empty.
std::string discArtist(const CdText& text);

}  // namespace tamber::disc
