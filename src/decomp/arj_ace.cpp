// ARJ and ACE headers.
//
// ARJ: every header starts with 60 EA, a 2-byte basic header size (0 ends the
// archive), the basic header, a 4-byte CRC and extended headers (2-byte size
// each, 0 ends them). The basic header: first-header size (1), versions and
// host (3), flags (1), method (1), file type (1: 0 binary, 1 text, 2 main
// header, 3 directory), reserved (1), time (4: DOS format, Unix seconds when
// the host byte says Unix), compressed size (4),
// original size (4), CRC (4), file-name position (2), access mode (2), host
// data (2), then at first-header size the name and the comment, each ended by
// a zero. The compressed data follows the extended headers.
//
// ACE: blocks of CRC (2), size (2), then `size` header bytes: type (1),
// flags (2), ... With flag bit 0 a 4-byte size of data that follows the block
// stands after the flags. Type 0 is the main header ("**ACE**" at offset 7 of
// the block; its comment is compressed and not read here), type 1 a file:
// packed size (4), original size (4), DOS time (4), attributes (4), CRC (4),
// technical information (4), reserved (2), name size (2), name.

#include <cstring>

#include "decomp/listing.h"

namespace tamber::decomp {

namespace {

uint16_t le16(const char* p) {
  return static_cast<uint16_t>(static_cast<uint8_t>(p[0]) | static_cast<uint8_t>(p[1]) << 8);
}
uint32_t le32(const char* p) {
  return uint32_t{static_cast<uint8_t>(p[0])} | uint32_t{static_cast<uint8_t>(p[1])} << 8 |
         uint32_t{static_cast<uint8_t>(p[2])} << 16 | uint32_t{static_cast<uint8_t>(p[3])} << 24;
}

std::string zeroEnded(std::string_view s, size_t& at) {
  size_t end = s.find('\0', at);
  if (end == std::string_view::npos) end = s.size();
  std::string out(s.substr(at, end - at));
  at = end + 1;
  return out;
}

std::string slashes(std::string s) {
  for (auto& c : s) {
    if (c == '\\') c = '/';
  }
  return s;
}

}  // namespace

std::time_t fromDosTime(uint32_t dos) {
  std::tm tm{};
  tm.tm_year = static_cast<int>((dos >> 25) & 0x7F) + 80;
  tm.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
  tm.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
  tm.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
  tm.tm_min = static_cast<int>((dos >> 5) & 0x3F);
  tm.tm_sec = static_cast<int>((dos & 0x1F) * 2);
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  return t == static_cast<std::time_t>(-1) ? 0 : t;
}

std::optional<Listing> listArj(std::string_view b) {
  // The main header may follow a self-extracting program: find the first
  // 60 EA whose header size is sane.
  size_t pos = 0;
  while (true) {
    pos = b.find("\x60\xEA", pos);
    if (pos == std::string_view::npos || pos + 4 > b.size()) return std::nullopt;
    uint16_t size = le16(b.data() + pos + 2);
    if (size >= 30 && size <= 2600 && pos + 4 + size <= b.size() &&
        static_cast<uint8_t>(b[pos + 4 + 6]) == 2) {
      break;
    }
    pos += 2;
  }
  Listing listing;
  bool mainHeader = true;
  while (pos + 4 <= b.size()) {
    if (static_cast<uint8_t>(b[pos]) != 0x60 || static_cast<uint8_t>(b[pos + 1]) != 0xEA) {
      return std::nullopt;
    }
    uint16_t size = le16(b.data() + pos + 2);
    if (size == 0) return listing;  // end of the archive
    if (size > 2600 || pos + 4 + size + 4 > b.size()) return std::nullopt;
    std::string_view h = b.substr(pos + 4, size);
    uint8_t first = static_cast<uint8_t>(h[0]);
    if (first < 30 || first > size) return std::nullopt;
    uint8_t host = static_cast<uint8_t>(h[3]);
    uint8_t type = static_cast<uint8_t>(h[6]);
    uint32_t time = le32(h.data() + 8);
    uint32_t packed = le32(h.data() + 12);
    uint32_t original = le32(h.data() + 16);
    uint16_t mode = le16(h.data() + 26);
    size_t at = first;
    std::string name = zeroEnded(h, at);
    std::string comment = at < h.size() ? zeroEnded(h, at) : std::string();
    pos += 4 + size + 4;  // the header and its CRC
    // Extended headers.
    while (true) {
      if (pos + 2 > b.size()) return std::nullopt;
      uint16_t ext = le16(b.data() + pos);
      pos += 2;
      if (ext == 0) break;
      if (pos + ext + 4 > b.size()) return std::nullopt;
      pos += ext + 4;
    }
    if (mainHeader) {
      listing.comment = comment;
      mainHeader = false;
      continue;
    }
    Member m;
    m.name = slashes(name);
    m.size = original;
    m.packed = packed;
    // Archives made on Unix (host 2) keep Unix times and modes.
    m.unixMode = host == 2;
    m.modified = m.unixMode ? static_cast<std::time_t>(time) : fromDosTime(time);
    m.attributes = m.unixMode ? (mode & 07777u) : mode;
    m.folder = type == 3;
    listing.members.push_back(std::move(m));
    if (packed > b.size() - pos) return std::nullopt;  // data past the end
    pos += packed;
  }
  return std::nullopt;  // no end header
}

std::optional<Listing> listAce(std::string_view b) {
  size_t sign = b.find("**ACE**");
  if (sign == std::string_view::npos || sign < 7) return std::nullopt;
  size_t pos = sign - 7;
  Listing listing;
  bool mainHeader = true;
  while (pos + 4 <= b.size()) {
    uint16_t size = le16(b.data() + pos + 2);
    if (size < 3 || pos + 4 + size > b.size()) return std::nullopt;
    std::string_view h = b.substr(pos + 4, size);
    uint8_t type = static_cast<uint8_t>(h[0]);
    uint16_t flags = le16(h.data() + 1);
    uint64_t addSize = (flags & 1) && size >= 7 ? le32(h.data() + 3) : 0;
    if (mainHeader) {
      if (type != 0) return std::nullopt;
      mainHeader = false;
    } else if (type == 1) {
      if (size < 31) return std::nullopt;
      Member m;
      m.packed = le32(h.data() + 3);
      m.size = le32(h.data() + 7);
      m.modified = fromDosTime(le32(h.data() + 11));
      m.attributes = le32(h.data() + 15);
      m.folder = (m.attributes & 0x10) != 0;
      uint16_t nameLen = le16(h.data() + 29);
      size_t nameAt = 31;
      if (nameAt + nameLen > h.size()) return std::nullopt;
      m.name = slashes(std::string(h.substr(nameAt, nameLen)));
      addSize = static_cast<uint64_t>(m.packed);
      listing.members.push_back(std::move(m));
    }
    pos += 4 + size;
    if (addSize > b.size() - pos) {
      return listing.members.empty() ? std::nullopt : std::optional<Listing>(listing);
    }
    pos += addSize;
    if (pos == b.size()) return listing;
  }
  return listing.members.empty() && mainHeader ? std::nullopt : std::optional<Listing>(listing);
}

}  // namespace tamber::decomp
