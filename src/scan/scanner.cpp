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
#include <unordered_map>
#include <utility>

#include "platform/mounts.h"
#include "platform/text.h"
#include "platform/atomic_file.h"
#include "platform/utf.h"
#include "scan/file_reading.h"
#include "scan/image_info.h"
#include "scan/previous_scan.h"

namespace tamber::scan {

void (*beforeReaderOpenHook)(const std::string& path) = nullptr;

namespace {

constexpr uint32_t kInlineLimit = 1000;
// The root's entries go to a temporary file past this size.
constexpr size_t kRootSpill = 4 << 20;

struct Entry {
  std::string name;
  bool isDir = false;
  bool isRegular = false;
  bool isLink = false;
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
  e.isLink = S_ISLNK(sx.stx_mode);
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
// A folder's entries as written so far, with the places where the records
// of files still being read go: (offset in the text, the task's number).
struct Out {
  std::string text;
  std::vector<std::pair<size_t, uint64_t>> holes;

  void append(Out&& o) {
    for (auto& [at, seq] : o.holes) holes.emplace_back(text.size() + at, seq);
    text += o.text;
  }
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

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

  ExtensionTable extensions;
  HexTimeCache hexTimes;
  // The files being read: on this thread (readers) or on the pool, taken
  // back in the order handed over.
  FileReaders readers;
  std::unique_ptr<ReadPool> pool;
  size_t window = 0;
  uint64_t nextTask = 0;      // the number the next task gets
  uint64_t nextTaken = 0;     // the number of the next task to take back
  std::unordered_map<uint64_t, std::string> taken;  // records waiting for their place
  PreviousScan* previous = nullptr;
  KindCounts kinds;
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

  void writeFolderInfo(Out& o, const Entry& e, uint16_t part) {
    std::string& out = o.text;
    out += "<a>";
    appendTextElement(out, "c", e.name);
    appendTextElement(out, "d", hexTimes(e.modified));
    appendTextElement(out, "e6", hexTimes(e.created));
    if (part != 0) appendNumberElement(out, "d7", "%lld", part);
  }

  uint32_t walk(int parentFd, const Entry* own, const std::string& path, int level, uint32_t flags,
                Out* parent);
  uint32_t finish(const Entry* own, uint32_t count, Out& buffer, Out* parent, bool keepEmpty);
  bool flushRoot(Out& buffer);
  bool writeListing(std::string_view bytes);

  void writeFileRecord(Out& out, const Entry& e, const std::string& path, int level,
                       uint32_t flags);
  void hand(Out& out, std::unique_ptr<FileTask> task);
  void takeBack(bool wait);
  std::string place(FileTask& task);
  void resolve(Out& out);
  void stopPool() { pool.reset(); }
};

bool Scanner::Impl::writeListing(std::string_view bytes) {
  if (bytes.empty() || ctx->countOnly) return true;
  if (Status st = listing.write(bytes); !st) {
    fail(kScanWriteFailed, st.message());
    return false;
  }
  return true;
}

bool Scanner::Impl::flushRoot(Out& out) {
  resolve(out);
  std::string& buffer = out.text;
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
                             uint32_t flags, Out* parent) {
  Out buffer;
  progressFor(path);
  if (!running()) {
    fail(kScanCancelled);
    return 0;
  }
  if (level > ctx->maxDepth) {
    cells().deepestLevel.store(ctx->maxDepth, std::memory_order_relaxed);
    writeFolderInfo(*parent, *own, 0);
    parent->text += "</a>";
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
        if (filterOn) {
          bool match = filter.matches(e.name);
          // A file left out still counts for a progress that counts bytes.
          if (ctx->excludeMode ? match : !match) {
            if (countBytes) bump(cells().progress, e.size);
            continue;
          }
        }
      }
      bump<uint32_t>(cells().files, 1);
      ++count;
      buffer.text += "<b>";
      writeFileRecord(buffer, e, nextPath, level, flags);
      buffer.text += "</b>";
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
    if (!own && buffer.text.size() > kRootSpill && !flushRoot(buffer)) break;
    if (!running()) break;
  }
  if (!running()) {
    fail(kScanCancelled);
    return 0;
  }
  if (ctx->error != kScanOk) return 0;
  return finish(own, count, buffer, parent, false);
}

uint32_t Scanner::Impl::finish(const Entry* own, uint32_t count, Out& out, Out* parent,
                               bool keepEmpty) {
  std::string& buffer = out.text;
  if (!own) {
    resolve(out);
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
    parent->append(std::move(out));
    parent->text += "</a>";
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
  if (ctx->countOnly) {
    writeFolderInfo(*parent, *own, splitNumber);
    parent->text += "</a>";
    return 1;
  }
  auto part = create(name(catalog::StreamKind::listing, splitNumber));
  if (!part) {
    fail(kScanWriteFailed, part.error().message);
    return 0;
  }
  resolve(out);
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
  parent->text += "</a>";
  return 1;
}

void Scanner::Impl::writeFileRecord(Out& o, const Entry& e, const std::string& path, int level,
                                    uint32_t flags) {
  std::string& out = o.text;
  uint64_t progress = countBytes ? e.size : 1;
  appendTextElement(out, "c", e.name);
  std::string ext = extensionOf(e.name);
  char size[24];
  std::snprintf(size, sizeof size, "%" PRIu64, e.size);
  appendTextElement(out, "e", size);
  std::string modified = hexTimes(e.modified);
  appendTextElement(out, "d", modified);
  appendTextElement(out, "e6", hexTimes(e.created));
  // A symbolic link records where it points (it is never followed).
  if (e.isLink) {
    char target[4096];
    ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    if (n > 0) appendTextElement(out, "l9", std::string_view(target, static_cast<size_t>(n)));
  }
  auto done = [&] { bump(cells().progress, progress); };
  // Links, devices and pipes keep their record only: nothing reads through them.
  if (!e.isRegular) return done();
  const bool hashing = ctx->hash && !ctx->countOnly;
  // Nor does anything read an empty file; its hash is known.
  if (e.size == 0) {
    if (hashing) appendTextElement(out, kContentHashCode, kEmptyContentHash);
    return done();
  }
  auto cls = extensions.classify(ext);
  bool picture = flags == kScanSubfolders ? isImageExtension(ext) : cls && cls->kind == FileKind::image;
  // A file no reader is switched on for is not opened for its contents.
  bool wanted = picture;
  if (!picture && flags != kScanSubfolders && cls) {
    switch (cls->kind) {
      case FileKind::archive: wanted = (flags & kScanArchives) != 0; break;
      case FileKind::document: wanted = (flags & kScanDocuments) != 0; break;
      case FileKind::audio:
      case FileKind::video: wanted = (flags & kScanTags) != 0; break;
      case FileKind::executable: wanted = (flags & (kScanDocuments | kScanArchives)) != 0; break;
      case FileKind::image: break;
    }
  }
  // A reader of the user's own is run where documents are read.
  if (!wanted && flags != kScanSubfolders && (flags & kScanDocuments)) {
    for (const auto& r : ctx->userReaders) {
      if (userReaderMatches(r, e.name)) {
        wanted = true;
        break;
      }
    }
  }
  std::string_view rel = std::string_view(path).substr(std::min(rootLength, path.size()));
  if (!wanted && !hashing) {
    // A re-scan without hashes keeps those of unchanged files.
    if (previous) {
      if (const auto* r = previous->find(rel, e.size, modified)) out += r->hashFields;
    }
    return done();
  }
  if (ctx->countOnly) {
    ++(picture ? kinds.pictures
       : !cls ? kinds.documents
       : cls->kind == FileKind::audio || cls->kind == FileKind::video ? kinds.audio
       : cls->kind == FileKind::document ? kinds.documents
                                         : kinds.archives);
    return done();
  }
  auto task = std::make_unique<FileTask>();
  task->path = path;
  task->size = e.size;
  task->ext = std::move(ext);
  task->cls = cls;
  task->picture = picture;
  task->readers = wanted;
  task->hash = hashing;
  task->flags = flags;
  task->level = level;
  task->progress = progress;
  // A file unchanged since the previous scan is taken from its record (and
  // only hashed when the record has no hash to trust).
  if (previous) {
    if (const auto* r = previous->find(rel, e.size, modified)) previous->fill(*r, *task);
  }
  hand(o, std::move(task));
}

void Scanner::Impl::hand(Out& out, std::unique_ptr<FileTask> task) {
  task->seq = nextTask++;
  bump<uint64_t>(task->reused ? cells().reused : cells().readAnew, 1);
  if (!pool) {
    if (!task->done) readers.read(*task);
    ++nextTaken;
    out.text += place(*task);
    return;
  }
  out.holes.emplace_back(out.text.size(), task->seq);
  pool->submit(std::move(task));
  // The window bounds the memory the records waiting for their turn take.
  while (pool->pending() > window) takeBack(true);
  takeBack(false);
}

void Scanner::Impl::takeBack(bool wait) {
  while (auto t = pool->takeFront(wait)) {
    taken.emplace(t->seq, place(*t));
    ++nextTaken;
    if (wait) return;
  }
}

// Writes the task's thumbnail and archive description to the item's
// streams (in the order tasks were handed over) and returns its fields with
// their offsets.
std::string Scanner::Impl::place(FileTask& t) {
  bump(cells().progress, t.progress);
  std::string out = std::move(t.head);
  if (t.thumbnail) {
    const std::string& bytes = *t.thumbnail;
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
        appendNumberElement(out, "y", "%llX", static_cast<long long>(thumbnailsEnd));
        thumbnailsEnd += 4 + bytes.size();
      } else {
        // Whatever part of the record reached the stream is cut off again.
        (void)thumbnails.setSize(thumbnailsEnd);
        (void)thumbnails.seek(static_cast<int64_t>(thumbnailsEnd));
      }
    }
  }
  out += t.tail;
  if (t.archiveTried && !archives.isOpen()) {
    if (auto s = create(name(catalog::StreamKind::archives))) archives = std::move(*s);
  }
  if (t.archive && archives.isOpen()) {
    const std::string& xml = *t.archive;
    if (auto end = archives.seek(0, storage::Whence::end)) {
      uint64_t at = *end;
      uint8_t length[4];
      for (int i = 0; i < 4; ++i) length[i] = static_cast<uint8_t>(xml.size() >> (8 * i));
      // Nothing half-written: a failed write is cut back off.
      if (archives.write(length, 4) && archives.write(xml.data(), xml.size())) {
        appendNumberElement(out, "a9", "%llX", static_cast<long long>(at));
      } else {
        (void)archives.setSize(at);
      }
    }
  }
  // The hash goes last, after the archive's offset, so that the fields
  // before it stand where a scan without hashes writes them.
  out += t.hashFields;
  return out;
}

// Puts the records of the tasks the text waits for in their places.
void Scanner::Impl::resolve(Out& o) {
  if (o.holes.empty()) return;
  std::string text;
  text.reserve(o.text.size() + 256 * o.holes.size());
  size_t from = 0;
  for (auto [at, seq] : o.holes) {
    while (nextTaken <= seq) takeBack(true);
    text.append(o.text, from, at - from);
    auto it = taken.find(seq);
    text += it->second;
    taken.erase(it);
    from = at;
  }
  text.append(o.text, from, std::string::npos);
  o.text = std::move(text);
  o.holes.clear();
}

// ---------------------------------------------------------------- interface

Scanner::Scanner() : impl_(std::make_unique<Impl>()) {}
Scanner::~Scanner() {
  // The workers go before the streams and counters they were reading for.
  if (impl_) impl_->stopPool();
}

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
  m.pseudo = pseudoDevicesBelow(rootPath);
  m.previous = context.previous;
  m.kinds = {};
  m.nextTask = m.nextTaken = 0;
  m.taken.clear();
  // One job reads on the walk's own thread; more read on as many workers,
  // the walk taking their records back in order.
  m.pool.reset();
  m.readers.setArchiveBudget(context.archiveBudget);
  m.readers.setUserReaders(context.userReaders);
  m.readers.setRunning(&context.cells->running);
  int jobs = context.jobs > 0 ? context.jobs : availableProcessors();
  if (jobs > 1 && !context.countOnly) {
    m.pool = std::make_unique<ReadPool>(jobs, context.cells->running, context.archiveBudget, context.userReaders);
    m.window = static_cast<size_t>(jobs) * 16;
  }
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
  if (m.ctx->countOnly) {
    m.kindCode = kindCode;
    return true;
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
  // Every record was taken back with the root's entries; a walk that ended
  // early leaves tasks nobody waits for.
  m.stopPool();
  if (m.ctx->countOnly) return m.ctx->error == kScanOk;
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

const KindCounts& Scanner::kindCounts() const { return impl_->kinds; }

std::vector<std::string> Scanner::streamsCreated() const { return impl_->created; }

const std::vector<std::string>& Scanner::unreadableFolders() const { return impl_->unreadable; }

}  // namespace tamber::scan
