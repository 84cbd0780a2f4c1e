#include "scan/file_reading.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

#include "decomp/extract.h"
#include "platform/atomic_file.h"
#include "platform/text.h"
#include "platform/utf.h"
#include "scan/content_hash.h"
#include "scan/extractors.h"
#include "scan/image_info.h"
#include "scan/scanner.h"
#include "scan/signatures.h"

namespace tamber::scan {

namespace {

// The side of the square a thumbnail fits, of a picture or a video.
constexpr int kThumbnailBox = 64;

// A file opened for the readers: the descriptor, and the path under
// /proc/self/fd through which they read it.
class ReaderFile {
 public:
  ReaderFile() = default;
  explicit ReaderFile(int fd) : fd_(fd), path_("/proc/self/fd/" + std::to_string(fd)) {}
  ReaderFile(ReaderFile&& o) noexcept : fd_(std::exchange(o.fd_, -1)), path_(std::move(o.path_)) {}
  ReaderFile& operator=(ReaderFile&&) = delete;
  ~ReaderFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  explicit operator bool() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Up to `n` bytes from the start of the file.
  std::string head(size_t n) const { return readHead(fd_, n); }

 private:
  int fd_ = -1;
  std::string path_;
};

// Opens without following a link and without blocking (a FIFO swapped in
// since the walk listed the file would block a plain open for good), then
// checks that it is the regular file of the size recorded. `why` says what
// kept it from being opened.
ReaderFile openForReaders(const std::string& path, uint64_t size, std::string* why = nullptr) {
  if (beforeReaderOpenHook) beforeReaderOpenHook(path);
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    if (why) *why = std::strerror(errno);
    return {};
  }
  ReaderFile file(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    if (why) *why = std::strerror(errno);
    return {};
  }
  if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != size) {
    // Swapped or grown since the walk listed it.
    if (why) *why = kChangedWhileRead;
    return {};
  }
  // O_NONBLOCK may stay: reads of a regular file do not heed it, and the
  // readers open the file anew through /proc/self/fd with flags of their own.
  return file;
}

std::string u8(const std::u16string& s) { return utf16ToUtf8(s); }

}  // namespace

struct FileReaders::Impl {
  ImageInfoReader images;
  // Loaded with the first file that is no picture.
  std::unique_ptr<Extractors> extractors;
  ArchiveBudget archiveBudget;
  std::vector<UserReader> userReaders;
  std::vector<std::string> foldedPatterns;  // theirs, case-folded once
  const std::atomic<bool>* running = nullptr;
  bool loaded = false;

  void readContents(FileTask& t, const ReaderFile& file);
  void hash(FileTask& t, const ReaderFile& file);

  Extractors* ex() {
    if (!loaded) {
      extractors = newExtractors();
      loaded = true;
    }
    return extractors.get();
  }

  void readImage(FileTask& t, const std::string& path, bool thumbnail);
  void readTags(FileTask& t, const std::u16string& path, uint8_t subtype);
  void readVideo(FileTask& t, int fd, bool thumbnail);
  void readDvd(FileTask& t);
  void readByUser(FileTask& t);
  void readDocument(FileTask& t, const std::u16string& path, uint8_t subtype);
  void readArchive(FileTask& t, const std::u16string& path, uint8_t subtype);
};

FileReaders::FileReaders() : impl_(std::make_unique<Impl>()) {}
FileReaders::~FileReaders() = default;

void FileReaders::setArchiveBudget(const ArchiveBudget& budget) { impl_->archiveBudget = budget; }
void FileReaders::setUserReaders(const std::vector<UserReader>& readers) {
  impl_->userReaders = readers;
  impl_->foldedPatterns.clear();
  for (const auto& r : readers) impl_->foldedPatterns.push_back(foldCase(r.pattern));
}

void FileReaders::setRunning(const std::atomic<bool>* running) { impl_->running = running; }

void FileReaders::read(FileTask& t) {
  // The file may have been swapped (for a FIFO, a link) since it was listed:
  // the readers get the descriptor opened here, checked to be the regular
  // file of the size recorded, never the name.
  std::string why;
  ReaderFile file = openForReaders(t.path, t.size, &why);
  if (!file) {
    if (t.hash) {
      t.hashFields.clear();
      appendTextElement(t.hashFields, kHashProblemCode, why);
    }
    return;
  }
  if (t.readers && !t.reused) {
    impl_->readContents(t, file);
    impl_->readByUser(t);
  }
  if (t.hash && t.hashFields.empty()) impl_->hash(t, file);
}

// The hash is read through the same descriptor as the readers read, after
// them: a picture or a tag block just read is still in the page cache.
void FileReaders::Impl::hash(FileTask& t, const ReaderFile& file) {
  HashOptions options;
  if (running) options.progress = [this](uint64_t) { return running->load(std::memory_order_relaxed); };
  auto h = hashDescriptor(file.fd(), options);
  if (!h) {
    // A stopped scan records nothing it did not finish.
    if (h.error().code != Errc::cancelled) appendTextElement(t.hashFields, kHashProblemCode, h.error().message);
    return;
  }
  appendTextElement(t.hashFields, kContentHashCode, h->hex);
  if (h->changedWhileRead || h->bytes != t.size) appendTextElement(t.hashFields, kHashProblemCode, kChangedWhileRead);
}

void FileReaders::Impl::readContents(FileTask& t, const ReaderFile& file) {
  const std::string& fdPath = file.path();
  if (t.picture) {
    // Bytes that are no picture (zeros from a failed copy, another format
    // under a picture's name) go no further than their first few KB.
    std::string head = file.head(4096);
    if (pictureFormat(head) == PictureFormat::unknown && !sizeFromHeader(head)) return;
    readImage(t, fdPath, t.flags != kScanSubfolders && (t.flags & kScanThumbnails));
    return;
  }
  // Every other reader is chosen by the file's first bytes, its name only
  // having said which are worth trying: bytes that carry no signature of
  // theirs (zeros, another format under the name) are read no further.
  std::string head = file.head(kSignatureBytes);
  auto wide = utf8ToUtf16(fdPath);
  if (!wide || !t.cls || !ex()) return;
  ex()->setArchiveBudget(archiveBudget.bytes, archiveBudget.milliseconds);
  ArchiveFormat archive = archiveFormatOf(head);
  // A head of zeros carries no signature; only an MPEG audio stream may
  // start later, and its reader gives up on zeros by itself.
  if (allZero(head) && !(t.cls->kind == FileKind::audio && t.cls->subtype == kAudioMpeg)) return;
  switch (t.cls->kind) {
    case FileKind::archive:
      if (int lister = listerFor(archive, *t.cls); (t.flags & kScanArchives) && lister >= 0) {
        readArchive(t, *wide, static_cast<uint8_t>(lister));
      }
      break;
    case FileKind::document:
      if (!(t.flags & kScanDocuments)) break;
      if (t.cls->subtype == kDocModule && !isWindowsProgramHead(head)) break;
      if (t.cls->subtype == kDocOffice && !isOfficeHead(head)) break;
      // PDF and HTML readers look for their text within their first window.
      readDocument(t, *wide, t.cls->subtype);
      break;
    case FileKind::audio:
      // The extension says it is audio; the first bytes say which reader
      // (an Opus stream in an .ogg file, MP3 under a .wma name).
      if (t.flags & kScanTags) {
        int kind = ex()->audioKindOfHead(head.data(), std::min<size_t>(head.size(), 64), t.cls->subtype);
        readTags(t, *wide, static_cast<uint8_t>(kind));
      }
      break;
    case FileKind::executable:
      // A program's version information, and an archive appended to it or
      // under its name.
      if ((t.flags & kScanDocuments) && isWindowsProgramHead(head)) {
        readDocument(t, *wide, kSubtypeExecutable);
      }
      if (int lister = listerFor(archive, *t.cls); (t.flags & kScanArchives) && lister >= 0) {
        readArchive(t, *wide, static_cast<uint8_t>(lister));
      }
      break;
    case FileKind::video:
      // Containers with a signature of their own; the rest (raw MPEG
      // streams, zeros) are not handed to the container readers.
      if (!(t.flags & kScanTags)) break;
      if (t.cls->subtype == kVideoDvdInformation) {
        // The disc's own information file names the titles of its folder.
        if (head.compare(0, 12, "DVDVIDEO-VMG") == 0) readDvd(t);
      } else if (media::isVideoHead(head.data(), head.size())) {
        readVideo(t, file.fd(), t.flags != kScanSubfolders && (t.flags & kScanThumbnails));
      }
      break;
    case FileKind::image:
      break;
  }
}

// The first of the user's readers for the file's name that says something
// gives its description, unless a reader of ours gave one (a program's
// version information). Only where documents are read.
void FileReaders::Impl::readByUser(FileTask& t) {
  if (userReaders.empty() || !(t.flags & kScanDocuments) || t.flags == kScanSubfolders) return;
  if (t.head.find("<b2>") != std::string::npos) return;
  std::string name = foldCase(std::string_view(t.path).substr(t.path.find_last_of('/') + 1));
  for (size_t i = 0; i < userReaders.size(); ++i) {
    const auto& r = userReaders[i];
    if (!userReaderMatchesFolded(r, foldedPatterns[i], name)) continue;
    if (auto text = runUserReader(r, t.path)) {
      appendTextElement(t.head, "b2", *text);
      return;
    }
  }
}

void FileReaders::Impl::readDvd(FileTask& t) {
  std::vector<media::DvdTitle> titles;
  std::string why;
  size_t slash = t.path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return;
  if (!ex()->dvdTitles(t.path.substr(0, slash), titles, why)) return;
  appendTextElement(t.head, kDvdTitlesCode, media::dvdTitlesText(titles));
}

void FileReaders::Impl::readVideo(FileTask& t, int fd, bool thumbnail) {
  media::VideoRecord v;
  std::string why;
  // The frame comes a little larger than the thumbnail, which is then made
  // from it as a picture's is.
  if (!ex()->video(fd, thumbnail ? 4 * kThumbnailBox : 0, v, why)) return;
  if (!v.frameRgb.empty()) {
    try {
      auto picture = images.thumbnailOfRgb(v.frameRgb, v.frameWidth, v.frameHeight, kThumbnailBox, kThumbnailBox);
      std::string bytes;
      if (picture && images.encodeThumbnail(*picture, bytes)) t.thumbnail = std::move(bytes);
    } catch (const std::exception&) {
      // A thumbnail that cannot be made leaves the video's fields.
    }
  }
  appendVideoFields(t.head, t.tail, v);
}

void FileReaders::Impl::readImage(FileTask& t, const std::string& path, bool thumbnail) {
  int width = 0, height = 0, bpp = 0;
  ImageProperties props;
  std::optional<Picture> picture;
  try {
    picture = images.read(path, thumbnail ? kThumbnailBox : 0, thumbnail ? kThumbnailBox : 0, width, height, bpp, &props,
                          true);
  } catch (const std::exception&) {
    return;
  }
  if (!picture && width == 0 && height == 0) return;
  if (thumbnail && picture) {
    std::string bytes;
    if (!images.encodeThumbnail(*picture, bytes)) return;
    t.thumbnail = std::move(bytes);
  }
  std::string& out = t.head;
  appendTextElement(out, "v", u8(props.comment));
  appendTextElement(out, "a2", u8(props.takenDate));
  appendTextElement(out, "a3", u8(props.cameraMake));
  appendTextElement(out, "a4", u8(props.cameraModel));
  appendTextElement(out, "a5", u8(props.exposureTime));
  appendTextElement(out, "a6", u8(props.fNumber));
  if (props.exposureProgram != 0) appendNumberElement(out, "a7", "%lld", props.exposureProgram);
  // The thumbnail's offset goes between the two.
  appendDimension(t.tail, width, height);
  appendNumberElement(t.tail, "h", "%lld", bpp);
}

void FileReaders::Impl::readTags(FileTask& t, const std::u16string& path, uint8_t subtype) {
  TagRecord tags;
  if (!ex()->tags(path, subtype, tags)) return;
  std::string& out = t.head;
  appendTextElement(out, "m", u8(tags.codecText));
  appendTextElement(out, "n", u8(tags.channelsText));
  appendTextElement(out, "o", u8(tags.bitRateText));
  if (tags.sampleRate != 0) appendNumberElement(out, "p", "%lld", tags.sampleRate);
  appendTextElement(out, "q", u8(tags.durationText));
  appendTextElement(out, "r", u8(tags.title));
  appendTextElement(out, "s", u8(tags.artist));
  appendTextElement(out, "t", u8(tags.album));
  appendTextElement(out, "u", u8(tags.genre));
  appendTextElement(out, "v", u8(tags.comment));
  appendTextElement(out, "b0", u8(tags.vendorText));
  if (tags.year != 0) appendNumberElement(out, "w", "%lld", tags.year);
  if (tags.track != -1) appendNumberElement(out, "a8", "%lld", tags.track);
  appendTextElement(out, "x", u8(tags.lyrics));
  appendTextElement(out, "e4", u8(tags.compressionText));
  appendTextElement(out, "e5", u8(tags.otherTags));
}

void FileReaders::Impl::readDocument(FileTask& t, const std::u16string& path, uint8_t subtype) {
  std::string& out = t.head;
  Extractors& x = *ex();
  try {
    if (subtype == kDocModule || subtype == kSubtypeExecutable) {
      CExecutable::tag_ModuleInfo info;
      if (auto* i = x.executable(path, info) ? &info : nullptr) {
        out += "<c2>3</c2>";
        appendTextElement(out, "v", u8(i->comments));
        appendTextElement(out, "b1", u8(i->companyName));
        appendTextElement(out, "b2", u8(i->fileDescription));
        appendTextElement(out, "b3", u8(i->fileVersion));
        appendTextElement(out, "b4", u8(i->languages));
        appendTextElement(out, "b5", u8(i->internalName));
        appendTextElement(out, "b6", u8(i->legalCopyright));
        appendTextElement(out, "b7", u8(i->legalTrademarks));
        appendTextElement(out, "b8", u8(i->originalFileName));
        appendTextElement(out, "b9", u8(i->productName));
        appendTextElement(out, "c0", u8(i->productVersion));
        appendTextElement(out, "c1", u8(i->specialBuild));
      }
    } else if (subtype == kDocHtml) {
      std::u16string ext16 = utf8ToUtf16(t.ext).value_or(u"");
      CHTMLExtract::tag_HTMLInfo info;
      if (auto* i = x.html(path, ext16, info) ? &info : nullptr) {
        out += "<c2>0</c2>";
        appendTextElement(out, "r", u8(i->title));
        appendTextElement(out, "b2", u8(i->description));
        appendTextElement(out, "c5", u8(i->keywords));
      }
    } else if (subtype == kDocPdf) {
      CPDFExtract::tag_PDFSummary info;
      if (auto* i = x.pdf(path, info) ? &info : nullptr) {
        out += "<c2>1</c2>";
        appendTextElement(out, "r", u8(i->title));
        appendTextElement(out, "c3", u8(i->subject));
        appendTextElement(out, "c4", u8(i->author));
        appendTextElement(out, "c5", u8(i->keywords));
        appendTextElement(out, "d5", u8(i->creator));
        appendTextElement(out, "d6", u8(i->producer));
        appendTextElement(out, "b3", u8(i->version));
        appendTextElement(out, "d3", u8(i->creationDate));
        appendTextElement(out, "d4", u8(i->modificationDate));
        if ((i->pageCount & 0xFFFF) != 0) appendNumberElement(out, "d0", "%llX", i->pageCount & 0xFFFF);
      }
    } else if (subtype == kDocOffice) {
      COfficeExtract::tag_OFFICEPROPS info;
      if (auto* i = x.office(path, info) ? &info : nullptr) {
        out += "<c2>2</c2>";
        appendTextElement(out, "r", u8(i->title));
        appendTextElement(out, "c3", u8(i->subject));
        appendTextElement(out, "c4", u8(i->author));
        appendTextElement(out, "c5", u8(i->keywords));
        appendTextElement(out, "v", u8(i->comments));
        appendTextElement(out, "c6", u8(i->templateName));
        appendTextElement(out, "c7", u8(i->lastAuthor));
        appendTextElement(out, "c8", u8(i->applicationName));
        if (i->revisionNumber >= 0) appendNumberElement(out, "c9", "%llX", i->revisionNumber);
        if (i->pageCount > 0) appendNumberElement(out, "d0", "%llX", i->pageCount);
        appendTextElement(out, "d1", u8(i->editTime));
        appendTextElement(out, "d2", u8(i->lastPrinted));
        appendTextElement(out, "d3", u8(i->created));
        appendTextElement(out, "d4", u8(i->lastSaved));
      }
    }
  } catch (const std::exception&) {
    // The file keeps what was read so far.
  }
}

void FileReaders::Impl::readArchive(FileTask& t, const std::u16string& path, uint8_t subtype) {
  t.archiveTried = true;
  std::u16string ext16 = utf8ToUtf16(t.ext).value_or(u"");
  // The description records where the archive was, not the descriptor it
  // was read through.
  std::u16string recorded = utf8ToUtf16(t.path).value_or(u"");
  std::string xml;
  if (ex()->describeArchive(path, ext16, subtype, recorded, xml)) t.archive = std::move(xml);
}

// ---------------------------------------------------------------- pool

ReadPool::ReadPool(int threads, const std::atomic<bool>& running, const ArchiveBudget& budget,
                   const std::vector<UserReader>& userReaders)
    : running_(running) {
  threads_.reserve(static_cast<size_t>(threads));
  for (int i = 0; i < threads; ++i) {
    threads_.emplace_back([this, budget, userReaders] {
      FileReaders readers;
      readers.setArchiveBudget(budget);
      readers.setUserReaders(userReaders);
      readers.setRunning(&running_);
      work(readers);
    });
  }
}

ReadPool::~ReadPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  threads_.clear();  // joins
}

void ReadPool::submit(std::unique_ptr<FileTask> task) {
  FileTask* t = task.get();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    order_.push_back(std::move(task));
    if (t->done) return;
    queue_.push_back(t);
  }
  wake_.notify_one();
}

std::unique_ptr<FileTask> ReadPool::takeFront(bool wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (order_.empty()) return nullptr;
  if (wait) {
    done_.wait(lock, [this] { return order_.front()->done; });
  } else if (!order_.front()->done) {
    return nullptr;
  }
  auto t = std::move(order_.front());
  order_.pop_front();
  return t;
}

void ReadPool::work(FileReaders& readers) {
  for (;;) {
    FileTask* t = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      t = queue_.front();
      queue_.pop_front();
    }
    // A cancelled scan takes its tasks back unread.
    if (running_.load(std::memory_order_relaxed)) readers.read(*t);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      t->done = true;
    }
    done_.notify_all();
  }
}

int availableProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int>(n) : 1;
}

}  // namespace tamber::scan
