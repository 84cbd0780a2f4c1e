#include "scan/scanner.h"

#include <dirent.h>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "decomp/extract.h"
#include "media/media.h"
#include "platform/mounts.h"
#include "platform/text.h"
#include "platform/atomic_file.h"
#include "platform/utf.h"
#include "scan/image_info.h"

namespace tamber::scan {

void (*beforeReaderOpenHook)(const std::string& path) = nullptr;

namespace {

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
  const std::string& path() const { return path_; }
  // Up to `n` bytes from the start of the file.
  std::string head(size_t n) const { return readHead(fd_, n); }

 private:
  int fd_ = -1;
  std::string path_;
};

// Opens without following a link and without blocking (a FIFO swapped in
// since the walk listed the file would block a plain open for good), then
// checks that it is the regular file of the size recorded.
ReaderFile openForReaders(const std::string& path, uint64_t size) {
  if (beforeReaderOpenHook) beforeReaderOpenHook(path);
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return {};
  ReaderFile file(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != size) {
    return {};
  }
  // Of the flags F_SETFL changes only O_NONBLOCK was set: 0 clears it.
  if (::fcntl(fd, F_SETFL, 0) != 0) return {};
  return file;
}

constexpr uint32_t kInlineLimit = 1000;
// The root's entries go to a temporary file past this size.
constexpr size_t kRootSpill = 4 << 20;

struct Entry {
  std::string name;
  bool isDir = false;
  bool isRegular = false;
  uint64_t size = 0;
  std::time_t modified = 0;
  std::time_t created = 0;
  dev_t dev = 0;
};

bool statEntry(int dirFd, const char* name, Entry& e) {
  struct statx sx;
  if (statx(dirFd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
            STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_BTIME, &sx) != 0) {
    return false;
  }
  e.name = name;
  e.isDir = S_ISDIR(sx.stx_mode);
  e.isRegular = S_ISREG(sx.stx_mode);
  e.size = sx.stx_size;
  e.modified = static_cast<std::time_t>(sx.stx_mtime.tv_sec);
  e.created = (sx.stx_mask & STATX_BTIME) ? static_cast<std::time_t>(sx.stx_btime.tv_sec)
                                          : e.modified;
  e.dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
  return true;
}

// Names compared as upper case (ASCII letters; other bytes as they are, so
// UTF-8 names go by code point), then byte by byte to settle a tie.
bool nameOrderLess(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

std::string childPath(const std::string& parent, std::string_view name) {
  std::string p = parent;
  if (p.empty() || p.back() != '/') p += '/';
  p += name;
  return p;
}

// Reads a folder's entries straight from getdents64: no stream object, so
// no fcntl and fstat per folder as fdopendir does. Owns the descriptor.
class DirReader {
 public:
  explicit DirReader(int fd) : fd_(fd), buf_(new char[kSize]) {}
  ~DirReader() { close(fd_); }
  DirReader(const DirReader&) = delete;
  DirReader& operator=(const DirReader&) = delete;
  int fd() const { return fd_; }
  // The next entry; nullptr at the end, with error() set when reading failed.
  const dirent64* next() {
    if (pos_ >= len_) {
      ssize_t n = getdents64(fd_, buf_.get(), kSize);
      if (n <= 0) {
        if (n < 0) error_ = errno;
        return nullptr;
      }
      len_ = static_cast<size_t>(n);
      pos_ = 0;
    }
    auto* d = reinterpret_cast<const dirent64*>(buf_.get() + pos_);
    pos_ += d->d_reclen;
    return d;
  }
  int error() const { return error_; }

 private:
  static constexpr size_t kSize = 16384;
  int fd_;
  std::unique_ptr<char[]> buf_;
  size_t len_ = 0, pos_ = 0;
  int error_ = 0;
};

// The pseudo file systems mounted below `root` (none for ordinary folders,
// so nothing needs checking there).
std::set<dev_t> pseudoDevicesBelow(const std::string& root) {
  char resolved[PATH_MAX];
  if (!realpath(root.c_str(), resolved)) return {};
  std::string prefix = resolved;
  if (prefix != "/") prefix += '/';
  std::vector<MountEntry> below;
  for (auto& m : currentMounts()) {
    if (m.mountPoint.compare(0, prefix.size(), prefix) == 0) below.push_back(std::move(m));
  }
  return pseudoFileSystemDevices(below);
}
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::string u8(const std::u16string& s) { return utf16ToUtf8(s); }

template <class T>
void bump(std::atomic<T>& cell, T by) {
  cell.store(cell.load(std::memory_order_relaxed) + by, std::memory_order_relaxed);
}

void countTree(int fd, int level, int maxDepth, TreeCounts& counts,
               const std::atomic<bool>& running, const FileFilter* filter,
               const std::set<dev_t>& pseudo) {
  DirReader dir(fd);
  bool holdsMatch = false;
  while (running.load(std::memory_order_relaxed)) {
    const dirent64* de = dir.next();
    if (!de) break;
    const char* name = de->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    bool isDir = de->d_type == DT_DIR;
    if (de->d_type == DT_UNKNOWN) {
      struct stat st;
      if (fstatat(dir.fd(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      isDir = S_ISDIR(st.st_mode);
    }
    if (!isDir) {
      if (!filter) {
        ++counts.files;
      } else if (filter->matches(name)) {
        ++counts.files;
        holdsMatch = true;
      }
      continue;
    }
    int child = openat(dir.fd(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child < 0) {
      if (!filter) ++counts.folders;
      continue;
    }
    struct stat st;
    if (!pseudo.empty() && fstat(child, &st) == 0 && pseudo.count(st.st_dev)) {
      close(child);
      continue;
    }
    if (!filter) ++counts.folders;
    if (level >= maxDepth) {
      close(child);
      continue;
    }
    countTree(child, level + 1, maxDepth, counts, running, filter, pseudo);
  }
  if (filter && holdsMatch) ++counts.folders;
}

TreeCounts countFrom(const std::string& root, const std::atomic<bool>& running,
                     const FileFilter* filter, int maxDepth) {
  TreeCounts counts;
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return counts;
  countTree(fd, 1, maxDepth, counts, running, filter, pseudoDevicesBelow(root));
  return counts;
}

}  // namespace

TreeCounts statisticsPass(const std::string& root, const std::atomic<bool>& running,
                          int maxDepth) {
  return countFrom(root, running, nullptr, maxDepth);
}

TreeCounts statisticsPassFiltered(const std::string& root, const FileFilter& filter,
                                  const std::atomic<bool>& running, int maxDepth) {
  return countFrom(root, running, &filter, maxDepth);
}

// ---------------------------------------------------------------- progress

void ProgressText::set(const std::string& root, std::string_view relative) {
  std::string t = root;
  t += '\n';
  t += relative;
  setText(std::move(t));
}

void ProgressText::setText(std::string text) {
  // Cut after kMaxCharacters characters, never inside one.
  size_t chars = 0, i = 0;
  while (i < text.size() && chars < kMaxCharacters) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    i += len;
    ++chars;
  }
  if (i < text.size()) text.resize(i);
  std::lock_guard<std::mutex> lock(mutex_);
  text_ = std::move(text);
}

std::string ProgressText::get() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_;
}

// ---------------------------------------------------------------- scanner

struct Scanner::Impl {
  Impl() { tags.CreateForAnalysis(); }

  ScanContext* ctx = nullptr;
  storage::Storage library;
  std::string rootPath;
  std::string rootLabel;
  size_t rootLength = 0;
  bool countBytes = false;
  bool disc = false;
  FileFilter filter;
  bool filterOn = false;
  int kindCode = 0;

  storage::Stream listing;
  storage::Stream thumbnails;
  uint64_t thumbnailsEnd = 0;
  storage::Stream archives;
  std::vector<std::string> created;
  std::vector<std::string> unreadable;

  std::vector<std::string> folderStack;
  uint16_t splitNumber = 0;
  std::vector<std::pair<std::string, uint16_t>> splitIndex;
  std::unique_ptr<std::FILE, FileCloser> rootSpill;
  std::vector<uint8_t> scratch;

  ExtensionTable extensions;
  CGeneralTagsInfo tags;
  CExtract extract;
  ImageInfoReader images;
  HexTimeCache hexTimes;
  std::set<dev_t> pseudo;
  SubfolderOpener openSubfolder = [](int dirFd, const char* name) {
    return openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  };

  bool running() const { return ctx->cells->running.load(std::memory_order_relaxed); }
  ScanCounters& cells() { return *ctx->cells; }

  void fail(int code, std::string text = {}) {
    if (ctx->error == kScanOk) {
      ctx->error = code;
      ctx->errorText = std::move(text);
    }
  }

  std::string name(catalog::StreamKind kind, int part = 0) const {
    return catalog::streamName(kind, ctx->itemPath, ctx->listingNumber, part);
  }

  Result<storage::Stream> create(const std::string& streamName) {
    auto s = library.createStream(streamName);
    if (s) created.push_back(streamName);
    return s;
  }

  void raiseDeepest(int level) {
    auto& d = cells().deepestLevel;
    if (d.load(std::memory_order_relaxed) < level) d.store(level, std::memory_order_relaxed);
  }

  void progressFor(const std::string& path) {
    std::string_view rel;
    if (path.size() > rootLength) rel = std::string_view(path).substr(rootLength);
    cells().text.set(rootLabel, xmlSafe(rel));
  }

  void writeFolderInfo(std::string& out, const Entry& e, uint16_t part) {
    out += "<a>";
    appendTextElement(out, "c", e.name);
    appendTextElement(out, "d", hexTimes(e.modified));
    appendTextElement(out, "e6", hexTimes(e.created));
    if (part != 0) appendNumberElement(out, "d7", "%lld", part);
  }

  uint32_t walk(int parentFd, const Entry* own, const std::string& path, int level, uint32_t flags,
                std::string* parent);
  uint32_t finish(const Entry* own, uint32_t count, std::string& buffer, std::string* parent,
                  bool keepEmpty);
  bool flushRoot(std::string& buffer);
  bool writeListing(std::string_view bytes);

  void writeFileRecord(std::string& out, const Entry& e, const std::string& path, int level,
                       uint32_t flags);
  void writeImage(std::string& out, const std::string& path, bool thumbnail);
  void writeTags(std::string& out, const std::u16string& path, uint8_t subtype);
  void writeDocument(std::string& out, const std::u16string& path, uint8_t subtype,
                     const std::string& ext);
  void writeArchive(std::string& out, const std::u16string& path, const std::string& ext,
                    int level, uint8_t subtype, const std::string& recordedPath);
};

bool Scanner::Impl::writeListing(std::string_view bytes) {
  if (bytes.empty()) return true;
  if (Status st = listing.write(bytes); !st) {
    fail(kScanWriteFailed, st.message());
    return false;
  }
  return true;
}

bool Scanner::Impl::flushRoot(std::string& buffer) {
  if (!rootSpill) {
    rootSpill.reset(std::tmpfile());
    if (!rootSpill) {
      fail(kScanWriteFailed, std::string("no temporary file: ") + std::strerror(errno));
      return false;
    }
  }
  if (std::fwrite(buffer.data(), 1, buffer.size(), rootSpill.get()) != buffer.size()) {
    fail(kScanWriteFailed, std::string("temporary file: ") + std::strerror(errno));
    return false;
  }
  buffer.clear();
  return true;
}

uint32_t Scanner::Impl::walk(int parentFd, const Entry* own, const std::string& path, int level,
                             uint32_t flags, std::string* parent) {
  std::string buffer;
  progressFor(path);
  if (!running()) {
    fail(kScanCancelled);
    return 0;
  }
  if (level > ctx->maxDepth) {
    cells().deepestLevel.store(ctx->maxDepth, std::memory_order_relaxed);
    writeFolderInfo(*parent, *own, 0);
    *parent += "</a>";
    return 1;
  }
  int fd = own ? openSubfolder(parentFd, own->name.c_str())
               : open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int openError = errno;
  if (fd < 0) {
    if (!own) {
      if (cells().deepestLevel.load(std::memory_order_relaxed) < level - 1) raiseDeepest(level - 1);
      fail(kScanUnreadable, path + ": " + std::strerror(openError));
      return 0;
    }
    // A subfolder that cannot be read stays in the listing, empty, and is
    // reported at the end.
    unreadable.push_back(path + ": " + std::strerror(openError));
    raiseDeepest(level);
    return finish(own, 0, buffer, parent, true);
  }
  DirReader dir(fd);
  raiseDeepest(level);
  uint32_t count = 0;
  std::string nextPath;
  // Entries are recorded in name order without regard to case, not in the
  // order the directory returns them: two scans of one tree give the same
  // listing.
  std::vector<std::string> names;
  for (;;) {
    const dirent64* de = dir.next();
    if (!de) {
      if (dir.error() != 0) unreadable.push_back(path + ": " + std::strerror(dir.error()));
      break;
    }
    const char* n = de->d_name;
    if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
    names.emplace_back(n);
  }
  std::sort(names.begin(), names.end(), nameOrderLess);
  for (const std::string& name : names) {
    const char* n = name.c_str();
    Entry e;
    if (!statEntry(dir.fd(), n, e)) continue;  // vanished meanwhile
    nextPath = childPath(path, e.name);
    if (!e.isDir) {
      if (!disc) {
        if (countBytes) bump(cells().progress, e.size);
        if (filterOn) {
          bool match = filter.matches(e.name);
          if (ctx->excludeMode ? match : !match) continue;
        }
      } else if (countBytes) {
        bump(cells().progress, e.size);
      }
      if (!countBytes) bump<uint64_t>(cells().progress, 1);
      bump<uint32_t>(cells().files, 1);
      ++count;
      buffer += "<b>";
      writeFileRecord(buffer, e, nextPath, level, flags);
      buffer += "</b>";
      bump(cells().totalBytes, e.size);
    } else if (!(level == 1 && !disc && e.name[0] == '.') && !pseudo.count(e.dev)) {
      folderStack.push_back(e.name);
      uint32_t childFlags = flags;
      if (ctx->ruleLevels != 0 && level < 32 && (ctx->ruleLevels >> level) & 1) {
        for (const auto& rule : ctx->rules) {
          if (rule.path == nextPath) {
            childFlags = rule.flags | (flags & (kScanTags | kScanDocuments));
            break;
          }
        }
      }
      if (childFlags & kScanSubfolders) {
        uint32_t r = walk(dir.fd(), &e, nextPath, level + 1, childFlags, &buffer);
        if (r != 0) {
          count += r;
          bump<uint32_t>(cells().folders, 1);
        }
      }
      folderStack.pop_back();
      progressFor(path);
    }
    if (ctx->error != kScanOk) break;
    if (!own && buffer.size() > kRootSpill && !flushRoot(buffer)) break;
    if (!running()) break;
  }
  if (!running()) {
    fail(kScanCancelled);
    return 0;
  }
  if (ctx->error != kScanOk) return 0;
  return finish(own, count, buffer, parent, false);
}

uint32_t Scanner::Impl::finish(const Entry* own, uint32_t count, std::string& buffer,
                               std::string* parent, bool keepEmpty) {
  if (!own) {
    if (!splitIndex.empty()) {
      std::string index = "<e2>";
      for (const auto& [rel, k] : splitIndex) {
        index += "<d8>";
        appendTextElement(index, "d9", rel);
        appendNumberElement(index, "e0", "%lld", k);
        index += "</d8>";
      }
      index += "</e2>";
      if (!writeListing(index)) return 0;
    }
    if (rootSpill) {
      std::rewind(rootSpill.get());
      std::string chunk(1 << 20, '\0');
      size_t n;
      while ((n = std::fread(chunk.data(), 1, chunk.size(), rootSpill.get())) > 0) {
        if (!writeListing(std::string_view(chunk.data(), n))) return 0;
      }
      rootSpill.reset();
    }
    if (!writeListing(buffer)) return 0;
    cells().splitCount.store(splitNumber, std::memory_order_relaxed);
    return count;
  }
  if (count <= kInlineLimit) {
    if (count == 0 && filterOn && !keepEmpty) return 0;
    writeFolderInfo(*parent, *own, 0);
    *parent += buffer;
    *parent += "</a>";
    return count + 1;
  }
  if (ctx->listingNumber == 0 || splitNumber == 0xFFFF) {
    fail(kScanPartName);
    return 0;
  }
  ++splitNumber;
  std::string relative;
  for (const auto& n : folderStack) {
    if (!relative.empty()) relative += '\\';
    relative += n;
  }
  splitIndex.emplace_back(relative, splitNumber);
  auto part = create(name(catalog::StreamKind::listing, splitNumber));
  if (!part) {
    fail(kScanWriteFailed, part.error().message);
    return 0;
  }
  std::string head = listingHeader(-1);
  appendTextElement(head, "e3", relative);
  Status st = part->write(head);
  if (st) st = part->write(buffer);
  if (st) st = part->write(kListingFooter);
  if (st) st = part->commit();
  if (!st) {
    fail(kScanWriteFailed, st.message());
    return 0;
  }
  writeFolderInfo(*parent, *own, splitNumber);
  *parent += "</a>";
  return 1;
}

void Scanner::Impl::writeFileRecord(std::string& out, const Entry& e, const std::string& path,
                                    int level, uint32_t flags) {
  appendTextElement(out, "c", e.name);
  std::string ext = extensionOf(e.name);
  char size[24];
  std::snprintf(size, sizeof size, "%" PRIu64, e.size);
  appendTextElement(out, "e", size);
  appendTextElement(out, "d", hexTimes(e.modified));
  appendTextElement(out, "e6", hexTimes(e.created));
  // Links, devices and pipes keep their record only: nothing reads through them.
  // Nor does anything read an empty file.
  if (!e.isRegular || e.size == 0) return;
  auto cls = extensions.classify(ext);
  bool picture = flags == kScanSubfolders ? isImageExtension(ext) : cls && cls->kind == FileKind::image;
  if (!picture && (flags == kScanSubfolders || !cls)) return;
  // A file no reader is switched on for is not opened at all.
  if (!picture) {
    bool wanted = false;
    switch (cls->kind) {
      case FileKind::archive: wanted = (flags & kScanArchives) != 0; break;
      case FileKind::document: wanted = (flags & kScanDocuments) != 0; break;
      case FileKind::audio: wanted = (flags & kScanTags) != 0; break;
      case FileKind::executable: wanted = (flags & (kScanDocuments | kScanArchives)) != 0; break;
      case FileKind::image: break;
    }
    if (!wanted) return;
  }
  // The file may have been swapped (for a FIFO, a link) since it was listed:
  // the readers get the descriptor opened here, checked to be the regular
  // file of the size recorded, never the name.
  ReaderFile file = openForReaders(path, e.size);
  if (!file) return;
  const std::string& fdPath = file.path();
  if (picture) {
    // Bytes that are no picture (zeros from a failed copy, another format
    // under a picture's name) go no further than their first few KB.
    std::string head = file.head(4096);
    if (pictureFormat(head) == PictureFormat::unknown && !sizeFromHeader(head)) return;
    writeImage(out, fdPath, flags != kScanSubfolders && (flags & kScanThumbnails));
    return;
  }
  // The other readers take UTF-16 paths.
  auto wide = utf8ToUtf16(fdPath);
  if (!wide) return;
  switch (cls->kind) {
    case FileKind::archive:
      if (flags & kScanArchives) writeArchive(out, *wide, ext, level, cls->subtype, path);
      break;
    case FileKind::document:
      if (flags & kScanDocuments) writeDocument(out, *wide, cls->subtype, ext);
      break;
    case FileKind::audio:
      // The extension says it is audio; the first bytes say which reader
      // (an Opus stream in an .ogg file, MP3 under a .wma name).
      if (flags & kScanTags) {
        std::string head = file.head(64);
        writeTags(out, *wide, static_cast<uint8_t>(AudioKindOfHead(head.data(), head.size(), cls->subtype)));
      }
      break;
    case FileKind::executable:
      if (flags & kScanDocuments) writeDocument(out, *wide, kSubtypeExecutable, ext);
      if (flags & kScanArchives) writeArchive(out, *wide, ext, level, cls->subtype, path);
      break;
    case FileKind::image:
      break;
  }
}

void Scanner::Impl::writeImage(std::string& out, const std::string& path, bool thumbnail) {
  int width = 0, height = 0, bpp = 0;
  ImageProperties props;
  std::optional<Picture> picture;
  try {
    picture = images.read(path, thumbnail ? 64 : 0, thumbnail ? 64 : 0, width, height, bpp, &props,
                          true);
  } catch (const std::exception&) {
    return;
  }
  if (!picture && width == 0 && height == 0) return;
  std::string offsetText;
  if (thumbnail && picture) {
    std::string bytes;
    if (!images.encodeThumbnail(*picture, bytes)) return;
    if (!thumbnails.isOpen()) {
      auto s = create(name(catalog::StreamKind::thumbnails));
      if (s) {
        thumbnails = std::move(*s);
        thumbnailsEnd = 0;
      }
    }
    if (thumbnails.isOpen()) {
      uint8_t len[4];
      uint32_t n = static_cast<uint32_t>(bytes.size());
      for (int i = 0; i < 4; ++i) len[i] = static_cast<uint8_t>(n >> (8 * i));
      Status st = thumbnails.write(len, 4);
      if (st) st = thumbnails.write(bytes);
      if (st) {
        char buf[24];
        std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(thumbnailsEnd));
        offsetText = buf;
        thumbnailsEnd += 4 + bytes.size();
      } else {
        // Whatever part of the record reached the stream is cut off again.
        (void)thumbnails.setSize(thumbnailsEnd);
        (void)thumbnails.seek(static_cast<int64_t>(thumbnailsEnd));
      }
    }
  }
  appendTextElement(out, "v", u8(props.comment));
  appendTextElement(out, "a2", u8(props.takenDate));
  appendTextElement(out, "a3", u8(props.cameraMake));
  appendTextElement(out, "a4", u8(props.cameraModel));
  appendTextElement(out, "a5", u8(props.exposureTime));
  appendTextElement(out, "a6", u8(props.fNumber));
  if (props.exposureProgram != 0) appendNumberElement(out, "a7", "%lld", props.exposureProgram);
  appendTextElement(out, "y", offsetText);
  uint32_t dimension = (static_cast<uint32_t>(height & 0xFFFF) << 16) |
                       static_cast<uint32_t>(width & 0xFFFF);
  appendNumberElement(out, "z", "%llX", dimension);
  appendNumberElement(out, "h", "%lld", bpp);
}

void Scanner::Impl::writeTags(std::string& out, const std::u16string& path, uint8_t subtype) {
  if (!tags.loadInfo(path, subtype)) return;
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

void Scanner::Impl::writeDocument(std::string& out, const std::u16string& path, uint8_t subtype,
                                  const std::string& ext) {
  const int size = static_cast<int>(scratch.size());
  try {
    if (subtype == kDocModule || subtype == kSubtypeExecutable) {
      CExecutable x(path, scratch.data(), size);
      if (auto* i = x.getfileInfo()) {
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
      std::u16string ext16 = utf8ToUtf16(ext).value_or(u"");
      CHTMLExtract x(path, scratch.data(), size, ext16.c_str());
      if (auto* i = x.getHtmlInfo()) {
        out += "<c2>0</c2>";
        appendTextElement(out, "r", u8(i->title));
        appendTextElement(out, "b2", u8(i->description));
        appendTextElement(out, "c5", u8(i->keywords));
      }
    } else if (subtype == kDocPdf) {
      CPDFExtract x(path, scratch.data(), size);
      if (auto* i = x.getPDFInfo()) {
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
      COfficeExtract x(path, scratch.data(), size);
      if (auto* i = x.getOfficefileInfo()) {
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
    // The file keeps what was written so far.
  }
}

void Scanner::Impl::writeArchive(std::string& out, const std::u16string& path,
                                 const std::string& ext, int level, uint8_t subtype,
                                 const std::string& recordedPath) {
  if (!archives.isOpen()) {
    auto s = create(name(catalog::StreamKind::archives));
    if (!s) return;
    archives = std::move(*s);
  }
  std::u16string ext16 = utf8ToUtf16(ext).value_or(u"");
  unsigned long offset = static_cast<unsigned long>(-1);
  // The description records where the archive was, not the descriptor it
  // was read through.
  if (auto wide = utf8ToUtf16(recordedPath)) extract.SetRecordedPath(wide->c_str());
  long rc = extract.WriteDecompressedArchive2Stream(path.c_str(), ext16.c_str(), level, subtype,
                                                    &archives, &offset, nullptr);
  if (rc == 0 && offset != static_cast<unsigned long>(-1)) {
    appendNumberElement(out, "a9", "%llX", static_cast<long long>(offset));
  }
}

// ---------------------------------------------------------------- interface

Scanner::Scanner() : impl_(std::make_unique<Impl>()) {}
Scanner::~Scanner() = default;

void Scanner::begin(ScanContext& context, storage::Storage library, const std::string& rootPath,
                    bool countBytes) {
  Impl& m = *impl_;
  m.ctx = &context;
  m.library = std::move(library);
  m.filterOn = false;
  m.splitNumber = 0;
  m.folderStack.clear();
  m.splitIndex.clear();
  m.listing = storage::Stream();
  m.rootSpill.reset();
  m.created.clear();
  m.unreadable.clear();
  context.cells->text.setText({});
  context.cells->splitCount.store(0, std::memory_order_relaxed);
  context.error = kScanOk;
  context.errorText.clear();
  m.rootPath = rootPath;
  std::string label = rootPath;
  while (!label.empty() && label.back() == '/') label.pop_back();
  label += '/';
  m.rootLabel = xmlSafe(label);
  m.rootLength = label.size();
  m.countBytes = countBytes;
  m.scratch.assign(4096, 0);
  m.pseudo = pseudoDevicesBelow(rootPath);
}

bool Scanner::setFilter(const std::string& patterns) {
  impl_->filterOn = FileFilter::compile(patterns, impl_->filter) == FileFilter::Outcome::filter;
  return impl_->filterOn;
}

bool Scanner::filterOn() const { return impl_->filterOn; }

bool Scanner::startListing(int kindCode) {
  Impl& m = *impl_;
  if (m.ctx->listingNumber == 0) {
    m.fail(kScanPartName);
    return false;
  }
  auto s = m.create(m.name(catalog::StreamKind::listing));
  if (!s) {
    m.fail(kScanWriteFailed, s.error().message);
    return false;
  }
  m.listing = std::move(*s);
  m.kindCode = kindCode;
  return m.writeListing(listingHeader(kindCode));
}

bool Scanner::writeRootItem(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string out = "<b>";
  for (const auto& [code, text] : fields) appendTextElement(out, code.c_str(), text);
  out += "</b>";
  return impl_->writeListing(out);
}

uint32_t Scanner::walkFolder(const std::string& path, uint32_t flags) {
  impl_->disc = false;
  return walkRoot(path, flags);
}

uint32_t Scanner::walkDisc(const std::string& path, uint32_t flags) {
  impl_->disc = true;
  impl_->countBytes = true;
  return walkRoot(path, flags);
}

uint32_t Scanner::walkRoot(const std::string& path, uint32_t flags) {
  try {
    return impl_->walk(AT_FDCWD, nullptr, path, 1, flags, nullptr);
  } catch (const std::bad_alloc&) {
    // Every folder's buffer unwinds with the stack; nothing half-written
    // reaches the listing.
    impl_->fail(kScanOutOfMemory, "out of memory");
    return 0;
  }
}

bool Scanner::endListing() {
  Impl& m = *impl_;
  if (!m.listing.isOpen()) return false;
  bool ok = m.writeListing(kListingFooter);
  Status st = ok ? m.listing.commit() : m.listing.revert();
  if (ok && !st) {
    m.fail(kScanWriteFailed, st.message());
    ok = false;
  }
  for (storage::Stream* s : {&m.thumbnails, &m.archives}) {
    if (!s->isOpen()) continue;
    if (Status c = s->commit(); !c && ok) {
      m.fail(kScanWriteFailed, c.message());
      ok = false;
    }
    s->close();
  }
  m.listing.close();
  return ok;
}

void Scanner::setSubfolderOpener(SubfolderOpener opener) { impl_->openSubfolder = opener; }

std::vector<std::string> Scanner::streamsCreated() const { return impl_->created; }

const std::vector<std::string>& Scanner::unreadableFolders() const { return impl_->unreadable; }

}  // namespace tamber::scan
