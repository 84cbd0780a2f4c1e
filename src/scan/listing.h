// The listing of a disc or folder: how files are classified, and the XML the
// scanner writes for every folder and file.
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <a1 xmlns="urn:CDs" i="13">                 kind of the item (-1 in a part)
//     <e2><d8><d9>Photos\2019</d9><e0>1</e0></d8></e2>   parts, when any
//     <b><c>song.mp3</c><e>4096</e><d>65F0A1B2</d><e6>65F0A1B2</e6>...</b>
//     <a><c>Photos</c><d>..</d><e6>..</e6><b>...</b><a>...</a></a>
//   </a1>
//
// A part begins with <e3>relative\path</e3>; its folder stands in its parent
// as an "a" with "d7" (the part number) and no entries.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamber::media {
struct VideoRecord;
}

namespace tamber::scan {

// What listing one archive may cost during a scan: bytes unpacked and
// time (0: no limit). A listing that reaches either is recorded as far as
// it got, marked partial.
struct ArchiveBudget {
  static constexpr uint64_t kDefaultMegabytes = 2048;
  static constexpr uint32_t kDefaultSeconds = 20;
  uint64_t bytes = kDefaultMegabytes << 20;
  uint32_t milliseconds = kDefaultSeconds * 1000;
};

// The options of one folder level.
inline constexpr uint32_t kScanThumbnails = 0x04;
inline constexpr uint32_t kScanTags = 0x08;
inline constexpr uint32_t kScanDocuments = 0x10;
inline constexpr uint32_t kScanArchives = 0x20;
inline constexpr uint32_t kScanSubfolders = 0x40;
inline constexpr uint32_t kScanAll = 0x7C;

enum class FileKind : uint8_t { archive = 0, document = 1, audio = 2, image = 3, executable = 4, video = 5 };
// Document subtypes.
inline constexpr uint8_t kDocModule = 0, kDocHtml = 1, kDocOffice = 2, kDocPdf = 3;
inline constexpr uint8_t kSubtypeExecutable = 255;

struct FileClass {
  FileKind kind;
  uint8_t subtype;
};

// Lower-case extension to kind and subtype: 26 buckets by first letter, each
// entry holding the rest of the extension (up to four characters).
class ExtensionTable {
 public:
  ExtensionTable();
  // `extension` is lower case, without the dot.
  std::optional<FileClass> classify(std::string_view extension) const;
  size_t size() const;

 private:
  struct Entry {
    char rest[5];
    FileKind kind;
    uint8_t subtype;
  };
  // By the first character: a-z, then 0-9 ("7z").
  std::vector<Entry> buckets_[36];
  static int bucketOf(char first);
};

// A file's content hash, when the scan was asked for one: "x1" holds the
// 32 hexadecimal digits of its XXH3-128, "x2" why it is missing or not to
// be trusted (the file changed while it was read, or could not be read).
// Readers that know neither pass them over as other unknown fields.
inline constexpr const char* kContentHashCode = "x1";
inline constexpr const char* kHashProblemCode = "x2";
inline constexpr std::string_view kChangedWhileRead = "changed while read";
// The hash of no bytes at all: an empty file is never opened.
inline constexpr std::string_view kEmptyContentHash = "99aa06d3014798d86001c324468d497f";
// Whether `text` is a content hash as the listing holds it.
bool isContentHash(std::string_view text);

// A video file's fields that no other kind of file has (its length, bit
// rate, picture size, title, artist and comment go into the fields audio
// files and pictures use). The container's code comes first, so that a
// reader knows the title and comment that follow are a video's.
inline constexpr const char* kVideoContainerCode = "x3";
inline constexpr const char* kVideoCodecCode = "x4";
inline constexpr const char* kFrameRateCode = "x5";
inline constexpr const char* kAudioTracksCode = "x6";
inline constexpr const char* kSubtitlesCode = "x7";
inline constexpr const char* kVideoDateCode = "x8";
// The titles of a DVD-Video structure, on its VIDEO_TS.IFO file.
inline constexpr const char* kDvdTitlesCode = "x9";
// Video subtypes: a container, or a DVD-Video information file.
inline constexpr uint8_t kVideoContainer = 0, kVideoDvdInformation = 1;

// Appends a video record's fields: those before a thumbnail's offset to
// `head`, the picture size after it to `tail`.
void appendVideoFields(std::string& head, std::string& tail, const media::VideoRecord& v);

// The image extensions read when nothing but subfolders is wanted (the image
// row of the table without raw and rdi).
bool isImageExtension(std::string_view extension);

// The text after the last "." of a name, ASCII letters lower-cased; empty
// when the name has no ".".
std::string extensionOf(std::string_view name);

// Appends <code>text</code> by the listing's text rule: nothing for an empty
// text; any bytes are made valid (invalid UTF-8 read as Windows-1252,
// characters XML does not allow replaced by "."); a text holding "<", ">" or
// "&" goes into CDATA, split where it holds "]]>"; a carriage return, which
// XML would turn into a line feed, is written as a character reference.
void appendTextElement(std::string& out, const char* code, std::string_view text);
void appendNumberElement(std::string& out, const char* code, const char* format, long long value);
// A picture's or video's width and height, packed into one hex number as
// "z" holds them: the height in the upper 16 bits.
void appendDimension(std::string& out, int width, int height);

// <?xml ...?><a1 xmlns="urn:CDs" i="kind">
std::string listingHeader(int kindCode);
inline constexpr std::string_view kListingFooter = "</a1>";

// fileHexTime with a cache: the local offset only changes on quarter hours.
class HexTimeCache {
 public:
  std::string operator()(std::time_t t);

 private:
  struct Slot {
    long long bucket = -1;
    long long delta = 0;
    bool zero = false;
  };
  Slot slots_[256];
};

}  // namespace tamber::scan
