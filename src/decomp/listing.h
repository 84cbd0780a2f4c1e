// What a lister finds in one archive, before it becomes XML. Private to
// TamberDecomp.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamber::decomp {

struct Member {
  std::string name;  // UTF-8, "/" between folders
  int64_t size = -1;
  int64_t packed = -1;  // -1: the format or the library does not say
  std::time_t modified = 0;
  uint32_t attributes = 0;  // DOS attributes, or the Unix mode for Unix archives
  bool unixMode = false;
  bool folder = false;
};

struct Listing {
  std::string comment;
  std::vector<Member> members;
  // Why the listing stops short of the archive's end, if it does: "bytes"
  // (the budget of bytes unpacked was spent), "time" (the time budget was),
  // "entries" (more members than a listing keeps) or "damaged" (the rest
  // could not be read). Empty for a whole listing.
  std::string partial;
};

// What listing one archive may cost. Formats that keep their members'
// headers apart from the data (zip, 7z, rar, cab, plain tar) cost a few
// reads; a compressed tar must be unpacked to reach each next header, and
// a small file can unpack to terabytes. 0 means no limit.
struct Budget {
  uint64_t bytes = 0;          // bytes unpacked
  uint32_t milliseconds = 0;   // time spent
};

// Our own readers of ARJ and ACE headers (no packaged library lists them).
// They read the headers only, checking every size against the bytes there.
std::optional<Listing> listArj(std::string_view bytes);
std::optional<Listing> listAce(std::string_view bytes);

// Everything libarchive reads: zip, rar, 7z, tar with any compression, cab,
// lha, iso, and those formats appended to a program.
std::optional<Listing> listWithLibarchive(const std::string& path, const Budget& budget = {});
// The comment of a zip archive (end of central directory record), if any.
std::string zipComment(const std::string& path);

// The XML description and its reading back.
std::string describe(const std::string& archivePath, const Listing& listing);
std::optional<Listing> parseDescription(std::string_view xml, std::string* archivePath);

// A DOS date and time (as in ARJ, ACE and zip headers) as local time.
std::time_t fromDosTime(uint32_t dos);

}  // namespace tamber::decomp
