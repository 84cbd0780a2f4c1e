// The compound file format as this engine reads and writes it.
//
// Header (the first 512 bytes; a version 4 file pads its header sector to 4096):
//   offset size  field
//   0      8     signature D0 CF 11 E0 A1 B1 1A E1
//   8      16    CLSID, zero
//   24     2     minor version (0x3E; 0x3B from some writers is read too)
//   26     2     major version: 3 (512-byte sectors) or 4 (4096-byte sectors)
//   28     2     byte order mark FE FF
//   30     2     sector shift: 9 or 12
//   32     2     mini sector shift: 6
//   34     6     reserved, zero
//   40     4     number of directory sectors (zero in version 3)
//   44     4     number of FAT sectors
//   48     4     first directory sector
//   52     4     transaction signature: this engine adds one per commit
//   56     4     mini stream cutoff: 4096
//   60     4     first mini FAT sector
//   64     4     number of mini FAT sectors
//   68     4     first DIFAT sector
//   72     4     number of DIFAT sectors
//   76     436   the first 109 FAT sector locations
// Sector n lives at file offset (n + 1) * sector size. The FAT holds one
// 32-bit entry per sector: the next sector of its chain or a marker below.
// DIFAT sectors hold further FAT sector locations and, last, the next DIFAT
// sector. Directory entries are 128 bytes:
//   0 name (UTF-16, 32 units with the terminator), 64 name length in bytes
//   with the terminator, 66 type, 67 colour, 68 left, 72 right, 76 child,
//   80 CLSID, 96 state bits, 100 created, 108 modified, 116 start sector,
//   120 size (64 bits; version 3 readers ignore the high word).
#pragma once

#include <cstdint>
#include <cstring>

namespace tamber::storage::detail {

inline constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
inline constexpr uint32_t kHeaderBytes = 512;
inline constexpr uint32_t kHeaderDifatEntries = 109;
inline constexpr uint16_t kMinorVersion = 0x3E;

inline constexpr uint32_t kMaxRegSect = 0xFFFFFFFA;
inline constexpr uint32_t kDifSect = 0xFFFFFFFC;
inline constexpr uint32_t kFatSect = 0xFFFFFFFD;
inline constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr uint32_t kFreeSect = 0xFFFFFFFF;
inline constexpr uint32_t kNoStream = 0xFFFFFFFF;

inline constexpr uint32_t kDirEntryBytes = 128;
inline constexpr uint32_t kMiniSectorBytes = 64;

inline constexpr uint8_t kTypeEmpty = 0;
inline constexpr uint8_t kTypeStorage = 1;
inline constexpr uint8_t kTypeStream = 2;
inline constexpr uint8_t kTypeRoot = 5;

inline constexpr uint8_t kRed = 0;
inline constexpr uint8_t kBlack = 1;

// In version 4 files the sector that covers offsets 0x7FFFFF00 to 0x7FFFFFFF is
// kept for byte-range locks by other implementations: it is marked end of
// chain in the FAT and belongs to no chain.
inline constexpr uint32_t kRangeLockSector4 = 0x7FFFFF00u / 4096u - 1u;

// Version 3 files address their size with 32 bits; writers stay below 2 GB.
inline constexpr uint64_t kVersion3Limit = 0x80000000ull;

inline uint16_t getLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t getLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t getLe64(const uint8_t* p) {
  return static_cast<uint64_t>(getLe32(p)) | static_cast<uint64_t>(getLe32(p + 4)) << 32;
}
inline void putLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void putLe64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace tamber::storage::detail
