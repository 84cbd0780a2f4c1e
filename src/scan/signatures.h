// What a file's first bytes say it holds. A file's name only says which
// readers may be worth trying; its first bytes choose among them, and a
// file whose bytes carry no signature a reader knows is read no further.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "scan/listing.h"

namespace tamber::scan {

// How many first bytes the choice needs (a tar header's magic stands at
// offset 257; a shorter file gives what it has).
inline constexpr size_t kSignatureBytes = 4096;

enum class ArchiveFormat {
  none,
  zip,
  rar,
  sevenZip,
  cab,
  tar,
  gzip,
  bzip2,
  xz,
  lzma,
  zstd,
  lzip,
  lz4,
  compress,  // .Z
  arj,
  ace,
  lha,
  program,  // a Windows or ELF program, which may have an archive appended
};

// The archive format the head shows; `none` when it is no archive a lister
// reads.
ArchiveFormat archiveFormatOf(std::string_view head);
// The lister's archive kind (an ArchiveKind of decomp/extract.h) for a
// format other than `none`.
unsigned char archiveKindOf(ArchiveFormat format);
// The lister's archive kind for a file the table classes as `cls` whose
// head shows `format`: -1 when it is no archive. A program under an ARJ or
// ACE name is searched for their headers.
int listerFor(ArchiveFormat format, const FileClass& cls);
// The name a person knows the format by ("7z", "tar.xz" is "xz").
const char* archiveFormatName(ArchiveFormat format);

// An office document the properties reader takes: a compound file, a zip
// package (Office Open XML, OpenDocument) or RTF.
bool isOfficeHead(std::string_view head);
// A Windows program or library ("MZ").
bool isWindowsProgramHead(std::string_view head);
// Every byte zero (a failed copy, space set aside and never written).
bool allZero(std::string_view bytes);

}  // namespace tamber::scan
