// TamberDecomp: archive listings for the catalogue. For each archive a
// description is appended to the item's archive stream: a 4-byte
// little-endian length, then an XML document
//
//   <archive partial="bytes">               SimpleXSDNames[0]; "partial" only
//                                           when the listing stops short
//     <path>/media/usb/backup.zip</path>    [6] the archive's full path
//     <comment>...</comment>                [7] the archive comment, if any
//     <file name="docs/a.txt" size="120" packed="64" modified="5F1A2B3C"
//           attributes="644"/>              [3] [4] [2] [5] [9] [8]
//     <folder name="docs" .../>             [1] a folder member
//   </archive>
//
// with its element and attribute names taken from SimpleXSDNames.
#pragma once

#include <libxml/tree.h>

#include <list>
#include <string>
#include <vector>

#include "storage/compound_file.h"

#define TAMBER_DECOMP_EXPORT __attribute__((visibility("default")))

namespace ARCHIVE {
// 0 archive, 1 folder, 2 size, 3 file, 4 name, 5 packed, 6 path, 7 comment,
// 8 attributes, 9 modified.
TAMBER_DECOMP_EXPORT extern const char16_t* const SimpleXSDNames[10];
}  // namespace ARCHIVE

// Archive subtypes of the extension table.
enum ArchiveKind : unsigned char {
  kArchiveCab = 0,
  kArchiveZip = 1,
  kArchiveRar = 2,
  kArchiveGzipTar = 3,
  kArchiveArj = 4,
  kArchiveAce = 5,
  kArchiveLzh = 6,
  kArchiveSfx = 7,
  kArchiveExe = 255,
};

class TAMBER_DECOMP_EXPORT CExtract {
 public:
  CExtract();
  ~CExtract();
  CExtract(const CExtract&) = delete;
  CExtract& operator=(const CExtract&) = delete;

  // Lists the archive at `path` and appends its description to `stream`
  // (at its end). Returns 0 and sets *offset to where the description begins;
  // on failure returns nonzero, leaves *offset as it was (the caller presets
  // -1) and the stream as it was. `doc` is not used.
  long WriteDecompressedArchive2Stream(const char16_t* path, const char16_t* extension, int level,
                                       unsigned char kind, tamber::storage::Stream* stream,
                                       unsigned long* offset, xmlDoc* doc);

  // The description alone (without its length), for a caller that appends
  // it itself; 0 on success, else nonzero with `xml` untouched.
  long DescribeArchive(const char16_t* path, const char16_t* extension, unsigned char kind,
                       std::string* xml);

  // The pieces of `text` between occurrences of the separator's first
  // character, in order; empty pieces are left out. Returns their number.
  static int GetListBySeperator(const char16_t* text, const char16_t* separator,
                                std::list<std::u16string>* out);
  static int GetListBySeperator(const char16_t* text, const char16_t* separator,
                                std::vector<std::u16string>* out);

  // The comment and the recorded full path of a description read back.
  static int GetArchiveComments(xmlDoc* doc, std::u16string& comment);
  static int GetArchivefullPath(xmlDoc* doc, std::u16string& path);

  // The path the next description records, when the archive is read through
  // another one (an opened descriptor under /proc/self/fd); used once.
  void SetRecordedPath(const char16_t* path) { recordedPath_ = path ? path : u""; }

  // What listing one archive may cost: bytes unpacked and milliseconds,
  // 0 for no limit. A listing that reaches either is kept as far as it
  // got and marked partial.
  void SetListingBudget(unsigned long long bytes, unsigned milliseconds) {
    budgetBytes_ = bytes;
    budgetMilliseconds_ = milliseconds;
  }

 private:
  std::u16string recordedPath_;
  unsigned long long budgetBytes_ = 0;
  unsigned budgetMilliseconds_ = 0;
};
