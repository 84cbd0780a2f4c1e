#include "scan/signatures.h"

#include <algorithm>

#include "decomp/extract.h"

namespace tamber::scan {

namespace {

bool startsWith(std::string_view head, std::string_view sig, size_t at = 0) {
  return head.size() >= at + sig.size() && head.substr(at, sig.size()) == sig;
}

// A tar header: "ustar" at 257 (POSIX and GNU), or an old header whose
// checksum (the header's bytes summed, the checksum field taken as blanks)
// matches the octal number stored at 148.
bool isTarHeader(std::string_view head) {
  if (head.size() < 512) return false;
  if (startsWith(head, "ustar", 257)) return true;
  if (head[0] == '\0') return false;
  unsigned long stored = 0;
  bool digits = false;
  for (size_t i = 148; i < 156; ++i) {
    char c = head[i];
    if (c >= '0' && c <= '7') {
      stored = stored * 8 + static_cast<unsigned long>(c - '0');
      digits = true;
    } else if (c != ' ' && c != '\0') {
      return false;
    } else if (digits) {
      break;
    }
  }
  if (!digits) return false;
  unsigned long sum = 0;
  for (size_t i = 0; i < 512; ++i) {
    sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(head[i]);
  }
  return sum == stored;
}

// An LHA header: "-lh?-", "-lz?-" or "-pm?-" at offset 2.
bool isLhaHeader(std::string_view head) {
  if (head.size() < 7 || head[2] != '-' || head[6] != '-') return false;
  std::string_view method = head.substr(3, 2);
  return method == "lh" || method == "lz" || method == "pm";
}

// The header of a raw LZMA stream (.lzma): properties below 225 and a
// dictionary size that is a power of two or the sum of two.
bool isLzmaHeader(std::string_view head) {
  if (head.size() < 13) return false;
  auto b = [&](size_t i) { return static_cast<uint8_t>(head[i]); };
  if (b(0) >= 225) return false;
  uint32_t dict = b(1) | b(2) << 8 | b(3) << 16 | static_cast<uint32_t>(b(4)) << 24;
  if (dict == 0) return false;
  uint32_t low = dict & (~dict + 1);
  uint32_t rest = dict - low;
  return rest == 0 || (rest & (rest - 1)) == 0;
}

}  // namespace

ArchiveFormat archiveFormatOf(std::string_view head) {
  using F = ArchiveFormat;
  if (startsWith(head, "PK\x03\x04") || startsWith(head, "PK\x05\x06") ||
      startsWith(head, "PK\x07\x08")) {
    return F::zip;
  }
  if (startsWith(head, "Rar!\x1A\x07")) return F::rar;
  if (startsWith(head, std::string_view("7z\xBC\xAF\x27\x1C", 6))) return F::sevenZip;
  if (startsWith(head, "MSCF")) return F::cab;
  if (startsWith(head, "\x1F\x8B")) return F::gzip;
  if (startsWith(head, "BZh") && head.size() > 3 && head[3] >= '1' && head[3] <= '9') return F::bzip2;
  if (startsWith(head, std::string_view("\xFD" "7zXZ\0", 6))) return F::xz;
  if (startsWith(head, "\x28\xB5\x2F\xFD")) return F::zstd;
  if (startsWith(head, "LZIP")) return F::lzip;
  if (startsWith(head, "\x04\x22\x4D\x18")) return F::lz4;
  if (startsWith(head, "\x1F\x9D")) return F::compress;
  if (startsWith(head, "\x60\xEA")) return F::arj;
  if (startsWith(head, "**ACE**", 7)) return F::ace;
  if (startsWith(head, "MZ") || startsWith(head, "\x7F" "ELF")) return F::program;
  if (isLhaHeader(head)) return F::lha;
  if (isTarHeader(head)) return F::tar;
  if (isLzmaHeader(head)) return F::lzma;
  return F::none;
}

unsigned char archiveKindOf(ArchiveFormat format) {
  switch (format) {
    case ArchiveFormat::zip: return kArchiveZip;
    case ArchiveFormat::rar: return kArchiveRar;
    case ArchiveFormat::cab: return kArchiveCab;
    case ArchiveFormat::arj: return kArchiveArj;
    case ArchiveFormat::ace: return kArchiveAce;
    case ArchiveFormat::lha: return kArchiveLzh;
    case ArchiveFormat::program: return kArchiveExe;
    default: return kArchiveGzipTar;
  }
}

int listerFor(ArchiveFormat format, const FileClass& cls) {
  if (format == ArchiveFormat::none) return -1;
  if (cls.kind != FileKind::archive && cls.kind != FileKind::executable) return -1;
  if (format == ArchiveFormat::program && cls.kind == FileKind::archive &&
      (cls.subtype == kArchiveArj || cls.subtype == kArchiveAce)) {
    return cls.subtype;
  }
  return archiveKindOf(format);
}

const char* archiveFormatName(ArchiveFormat format) {
  switch (format) {
    case ArchiveFormat::none: return "";
    case ArchiveFormat::zip: return "zip";
    case ArchiveFormat::rar: return "rar";
    case ArchiveFormat::sevenZip: return "7z";
    case ArchiveFormat::cab: return "cab";
    case ArchiveFormat::tar: return "tar";
    case ArchiveFormat::gzip: return "gzip";
    case ArchiveFormat::bzip2: return "bzip2";
    case ArchiveFormat::xz: return "xz";
    case ArchiveFormat::lzma: return "lzma";
    case ArchiveFormat::zstd: return "zstd";
    case ArchiveFormat::lzip: return "lzip";
    case ArchiveFormat::lz4: return "lz4";
    case ArchiveFormat::compress: return "compress";
    case ArchiveFormat::arj: return "arj";
    case ArchiveFormat::ace: return "ace";
    case ArchiveFormat::lha: return "lha";
    case ArchiveFormat::program: return "program";
  }
  return "";
}

bool isOfficeHead(std::string_view head) {
  return startsWith(head, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") || startsWith(head, "PK\x03\x04") ||
         startsWith(head, "{\\rtf");
}

bool isWindowsProgramHead(std::string_view head) { return startsWith(head, "MZ"); }

bool allZero(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == '\0'; });
}

}  // namespace tamber::scan
