// The extractors module: the interface of extractors.h over the TamberMedia
// and TamberDecomp libraries.
#include <vector>

#include "decomp/extract.h"
#include "media/media.h"
#include "scan/extractors.h"

namespace tamber::scan {
namespace {

class ModuleExtractors final : public Extractors {
 public:
  ModuleExtractors() : scratch_(4096, 0) { tags_.CreateForAnalysis(); }
  int version() const override { return kExtractorsVersion; }

  int audioKindOfHead(const void* head, size_t size, int kind) override {
    return AudioKindOfHead(head, size, kind);
  }

  bool tags(const std::u16string& path, int kind, TagRecord& out) override {
    if (!tags_.loadInfo(path, kind)) return false;
    const CGeneralTagsInfo& t = tags_;
    out = TagRecord{t.codecText, t.channelsText, t.bitRateText, t.durationText, t.title,
                    t.artist,    t.album,        t.genre,       t.comment,      t.lyrics,
                    t.vendorText, t.compressionText, t.otherTags, t.sampleRate, t.fileSize,
                    t.year,      t.track};
    return true;
  }

  bool executable(const std::u16string& path, CExecutable::tag_ModuleInfo& out) override {
    CExecutable x(path, scratch_.data(), size());
    return take(x.getfileInfo(), out);
  }
  bool html(const std::u16string& path, const std::u16string& extension,
            CHTMLExtract::tag_HTMLInfo& out) override {
    CHTMLExtract x(path, scratch_.data(), size(), extension.c_str());
    return take(x.getHtmlInfo(), out);
  }
  bool pdf(const std::u16string& path, CPDFExtract::tag_PDFSummary& out) override {
    CPDFExtract x(path, scratch_.data(), size());
    return take(x.getPDFInfo(), out);
  }
  bool office(const std::u16string& path, COfficeExtract::tag_OFFICEPROPS& out) override {
    COfficeExtract x(path, scratch_.data(), size());
    return take(x.getOfficefileInfo(), out);
  }

  bool describeArchive(const std::u16string& path, const std::u16string& extension, int kind,
                       const std::u16string& recorded, std::string& xml) override {
    extract_.SetRecordedPath(recorded.c_str());
    return extract_.DescribeArchive(path.c_str(), extension.c_str(), static_cast<unsigned char>(kind),
                                    &xml) == 0;
  }
  bool video(int fd, int frameBox, media::VideoRecord& out, std::string& why) override {
    media::ProbeOptions options;
    options.frameBox = frameBox;
    return media::probeVideoFd(fd, out, &why, options);
  }
  bool dvdTitles(const std::string& folder, std::vector<media::DvdTitle>& out, std::string& why) override {
    return media::readDvdTitles(folder, out, &why);
  }
  void setArchiveBudget(uint64_t bytes, uint32_t milliseconds) override {
    extract_.SetListingBudget(bytes, milliseconds);
  }

 private:
  int size() const { return static_cast<int>(scratch_.size()); }
  template <class T>
  static bool take(const T* found, T& out) {
    if (!found) return false;
    out = *found;
    return true;
  }

  CGeneralTagsInfo tags_;
  CExtract extract_;
  std::vector<uint8_t> scratch_;
};

}  // namespace
}  // namespace tamber::scan

extern "C" __attribute__((visibility("default"))) tamber::scan::Extractors* tamber_new_extractors() {
  return new tamber::scan::ModuleExtractors();
}
