// Listings through libarchive, and the zip comment libarchive does not report.

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "decomp/listing.h"
#include "platform/text.h"

namespace tamber::decomp {

namespace {

struct ReadFree {
  void operator()(archive* a) const { archive_read_free(a); }
};

}  // namespace

std::optional<Listing> listWithLibarchive(const std::string& path) {
  std::unique_ptr<archive, ReadFree> a(archive_read_new());
  if (!a) return std::nullopt;
  archive_read_support_filter_all(a.get());
  archive_read_support_format_all(a.get());
  // "raw" and "empty" would accept any file; a listing needs a real format.
  if (archive_read_open_filename(a.get(), path.c_str(), 65536) != ARCHIVE_OK) return std::nullopt;
  Listing listing;
  archive_entry* e = nullptr;
  int rc;
  while ((rc = archive_read_next_header(a.get(), &e)) == ARCHIVE_OK || rc == ARCHIVE_WARN) {
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
    if (listing.members.size() > 1'000'000) break;  // a hostile archive's endless entries
  }
  if (rc == ARCHIVE_FATAL && listing.members.empty()) return std::nullopt;
  // Some formats accept nearly anything (a lone compressed stream, an empty
  // archive): only a format libarchive named and at least one entry count.
  if (listing.members.empty()) return std::nullopt;
  return listing;
}

std::string zipComment(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat st {};
  std::string comment;
  if (::fstat(fd, &st) == 0 && st.st_size >= 22) {
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
