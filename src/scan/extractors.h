// The metadata extractors (audio tags, document properties, program version
// information, archive listings) live in a module of their own,
// libtamberextract.so, loaded the first time a file is read. They bring the
// audio decoders, the PDF library and the archive library with them, which
// would otherwise be loaded at the start of every command.
//
// The module and the program are built together, so the interface passes
// C++ types; kExtractorsVersion guards against a stray module of another
// build. Each thread that reads files makes its own Extractors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/media.h"  // the record structures and kinds only; nothing is linked
#include "media/video/dvd_video.h"    // the DVD title record only
#include "media/video/video_probe.h"  // the video record only

namespace tamber::scan {

inline constexpr int kExtractorsVersion = 3;

// What the audio readers find (the general tag record).
struct TagRecord {
  std::u16string codecText, channelsText, bitRateText, durationText, title, artist, album, genre,
      comment, lyrics, vendorText, compressionText, otherTags;
  int32_t sampleRate = 0;
  int32_t fileSize = 0;
  int32_t year = 0;
  int32_t track = -1;
};

class Extractors {
 public:
  virtual ~Extractors() = default;
  virtual int version() const = 0;
  // The audio reader a file's first bytes call for (see AudioKindOfHead).
  virtual int audioKindOfHead(const void* head, size_t size, int kind) = 0;
  // Reads a file's tags with the reader of `kind` (an AudioKind).
  virtual bool tags(const std::u16string& path, int kind, TagRecord& out) = 0;
  // Document properties; false when the file gives none. Exceptions of the
  // extractors (out of memory) come through.
  virtual bool executable(const std::u16string& path, CExecutable::tag_ModuleInfo& out) = 0;
  virtual bool html(const std::u16string& path, const std::u16string& extension,
                    CHTMLExtract::tag_HTMLInfo& out) = 0;
  virtual bool pdf(const std::u16string& path, CPDFExtract::tag_PDFSummary& out) = 0;
  virtual bool office(const std::u16string& path, COfficeExtract::tag_OFFICEPROPS& out) = 0;
  // An archive's description (see decomp/extract.h); `recorded` is the path
  // it records, `kind` an ArchiveKind. False when it cannot be listed.
  virtual bool describeArchive(const std::u16string& path, const std::u16string& extension, int kind,
                               const std::u16string& recorded, std::string& xml) = 0;
  // A video file's container, codecs and tags, read through `fd` (left
  // open), and a frame scaled to fit a square of `frameBox` (0: none);
  // false with `why` said when it is no video we read.
  virtual bool video(int fd, int frameBox, media::VideoRecord& out, std::string& why) = 0;
  // The titles of the DVD-Video structure in `folder` (VIDEO_TS).
  virtual bool dvdTitles(const std::string& folder, std::vector<media::DvdTitle>& out, std::string& why) = 0;
  // What listing one archive may cost (bytes unpacked, milliseconds; 0: no
  // limit); a listing that reaches it is kept as far as it got, marked.
  virtual void setArchiveBudget(uint64_t bytes, uint32_t milliseconds) = 0;
};

// New extractors from the module, or null (said once on standard error)
// when the module cannot be loaded.
std::unique_ptr<Extractors> newExtractors();

}  // namespace tamber::scan

// The module's one exported function: a new set of extractors.
extern "C" tamber::scan::Extractors* tamber_new_extractors();
