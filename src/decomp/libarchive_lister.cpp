// Listings through libarchive, and the zip comment libarchive does not report.

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string_view>
#include <vector>

#include "decomp/listing.h"
#include "platform/text.h"

namespace tamber::decomp {

namespace {

struct ReadFree {
  void operator()(archive* a) const { archive_read_free(a); }
};

}  // namespace

namespace {

// More members than this are not kept: the listing says it is partial.
constexpr size_t kMostMembers = 1'000'000;

std::optional<Listing> listOpened(archive* a, const Budget& budget);

// libarchive converts member names to the character set of the thread's
// locale: in the "C" locale a UTF-8 name (7z, zip with the UTF-8 flag)
// does not convert and comes back empty. The readers run in a UTF-8 locale
// of their own, whatever the process's is.
class Utf8Names {
 public:
  Utf8Names() {
    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (utf8) previous_ = uselocale(utf8);
  }
  ~Utf8Names() {
    if (previous_) uselocale(previous_);
  }
  Utf8Names(const Utf8Names&) = delete;
  Utf8Names& operator=(const Utf8Names&) = delete;

 private:
  locale_t previous_ = static_cast<locale_t>(nullptr);
};

std::optional<Listing> listFile(const std::string& path, const Budget& budget) {
  // A regular file only, opened without blocking (a FIFO under an archive's
  // name would hold the open).
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  Utf8Names names;
  std::unique_ptr<archive, ReadFree> a(archive_read_new());
  if (!a) return std::nullopt;
  archive_read_support_filter_all(a.get());
  archive_read_support_format_all(a.get());
  if (archive_read_open_fd(a.get(), fd, 65536) != ARCHIVE_OK) return std::nullopt;
  return listOpened(a.get(), budget);
}

std::optional<Listing> listMemory(const char* data, size_t size, const Budget& budget) {
  Utf8Names names;
  std::unique_ptr<archive, ReadFree> a(archive_read_new());
  if (!a) return std::nullopt;
  archive_read_support_filter_all(a.get());
  archive_read_support_format_all(a.get());
  if (archive_read_open_memory(a.get(), data, size) != ARCHIVE_OK) return std::nullopt;
  return listOpened(a.get(), budget);
}

// A program with an archive appended: libarchive finds some of these by
// itself (zip; 7z and rar at the offsets of the usual stubs); any other
// archive signature within the first 16 MiB is tried where it stands.
std::optional<Listing> listAppended(const std::string& path, const Budget& budget) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<Listing> found;
  char head[4] = {};
  bool program = ::pread(fd, head, 4, 0) == 4 &&
                 ((head[0] == 'M' && head[1] == 'Z') || std::string_view(head, 4) == "\x7F" "ELF");
  if (program && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 64) {
    size_t size = static_cast<size_t>(st.st_size);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map != MAP_FAILED) {
      const char* p = static_cast<const char*>(map);
      static constexpr std::string_view kSignatures[] = {
          std::string_view("7z\xBC\xAF\x27\x1C", 6), "MSCF", std::string_view("Rar!\x1A\x07", 6)};
      size_t limit = std::min<size_t>(size, 16u << 20);
      for (size_t at = 1; program && !found && at + 8 < limit; ++at) {
        for (auto sig : kSignatures) {
          if (std::string_view(p + at, sig.size()) == sig) {
            found = listMemory(p + at, size - at, budget);
            if (found) break;
          }
        }
      }
      ::munmap(map, size);
    }
  }
  ::close(fd);
  return found;
}

std::optional<Listing> listOpened(archive* a, const Budget& budget) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(budget.milliseconds);
  auto late = [&] { return budget.milliseconds != 0 && Clock::now() > deadline; };
  Listing listing;
  archive_entry* e = nullptr;
  int rc;
  while ((rc = archive_read_next_header(a, &e)) == ARCHIVE_OK || rc == ARCHIVE_WARN) {
    // A lone compressed stream of text (README.gz) is read by the formats
    // that take anything, a line per "member": those are no archive.
    int format = archive_format(a) & ARCHIVE_FORMAT_BASE_MASK;
    if (format == ARCHIVE_FORMAT_MTREE || format == ARCHIVE_FORMAT_RAW ||
        format == ARCHIVE_FORMAT_EMPTY) {
      return std::nullopt;
    }
    Member m;
    const char* utf8 = archive_entry_pathname_utf8(e);
    const char* raw = archive_entry_pathname(e);
    m.name = xmlSafe(utf8 ? utf8 : raw ? raw : "");
    m.folder = archive_entry_filetype(e) == AE_IFDIR;
    while (m.name.size() > 1 && m.name.back() == '/') m.name.pop_back();
    m.size = archive_entry_size_is_set(e) ? archive_entry_size(e) : -1;
    m.modified = archive_entry_mtime_is_set(e) ? archive_entry_mtime(e) : 0;
    m.attributes = static_cast<uint32_t>(archive_entry_mode(e) & 07777);
    m.unixMode = true;
    listing.members.push_back(std::move(m));
    if (listing.members.size() >= kMostMembers) {  // a hostile archive's endless entries
      listing.partial = "entries";
      return listing;
    }
    // Through a compressed stream the next header is reached only by
    // unpacking this member's data: that is done here, a block at a time,
    // so that the budget is kept within a member too.
    if (archive_filter_code(a, 0) != ARCHIVE_FILTER_NONE) {
      const void* block = nullptr;
      size_t size = 0;
      la_int64_t offset = 0;
      int r;
      while ((r = archive_read_data_block(a, &block, &size, &offset)) == ARCHIVE_OK) {
        if (budget.bytes != 0 && static_cast<uint64_t>(archive_filter_bytes(a, 0)) > budget.bytes) {
          listing.partial = "bytes";
          return listing;
        }
        if (late()) {
          listing.partial = "time";
          return listing;
        }
      }
      if (r == ARCHIVE_FATAL) {
        listing.partial = "damaged";
        return listing;
      }
    }
    if (late()) {
      listing.partial = "time";
      return listing;
    }
  }
  // Some formats accept nearly anything (a lone compressed stream, an empty
  // archive): only a format libarchive named and at least one entry count.
  if (listing.members.empty()) return std::nullopt;
  if (rc == ARCHIVE_FATAL) listing.partial = "damaged";
  return listing;
}

}  // namespace

std::optional<Listing> listWithLibarchive(const std::string& path, const Budget& budget) {
  if (auto listing = listFile(path, budget)) return listing;
  return listAppended(path, budget);
}

std::string zipComment(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  struct stat st {};
  std::string comment;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 22) {
    // The end of central directory record (50 4B 05 06) stands within the
    // last 65,557 bytes: 22 bytes and a comment of up to 65,535.
    size_t want = static_cast<size_t>(std::min<off_t>(st.st_size, 65557));
    std::vector<char> tail(want);
    if (::pread(fd, tail.data(), want, st.st_size - static_cast<off_t>(want)) ==
        static_cast<ssize_t>(want)) {
      for (size_t i = want - 22 + 1; i-- > 0;) {
        if (tail[i] == 'P' && tail[i + 1] == 'K' && tail[i + 2] == 5 && tail[i + 3] == 6) {
          size_t len = static_cast<uint8_t>(tail[i + 20]) | static_cast<uint8_t>(tail[i + 21]) << 8;
          if (i + 22 + len <= want) comment.assign(tail.data() + i + 22, len);
          break;
        }
      }
    }
  }
  ::close(fd);
  return xmlSafe(comment);
}

}  // namespace tamber::decomp
