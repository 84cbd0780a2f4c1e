// Files read and written whole: a file's bytes read without blocking, and
// files written whole or not at all.
//
// A new file is made as an unnamed file in the target's folder (O_TMPFILE)
// and linked into place when complete, so a kill leaves nothing behind. Where
// the file system cannot make unnamed files, a hidden file named
// ".NAME.tmp-XXXXXX" is used instead; it is locked while in use, and
// removeStaleTemporaries() removes those nobody holds.
//
// The target is the file a symbolic link points to (the link stays), and the
// replaced file's mode and owner are kept where the process may set them.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace tamber {

// The file a path names once symbolic links are followed (the path itself
// when it does not exist yet; links into missing files are followed too).
std::filesystem::path resolveLinks(const std::filesystem::path& path);

class AtomicFile {
 public:
  AtomicFile() = default;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  AtomicFile(AtomicFile&& o) noexcept { *this = std::move(o); }
  AtomicFile& operator=(AtomicFile&& o) noexcept;
  ~AtomicFile() { discard(); }

  // Starts a file that will replace (or create) `target`. `mode` is used for
  // a new file (less the umask); a replaced file's own mode wins.
  static Result<AtomicFile> begin(const std::filesystem::path& target, mode_t mode = 0666);

  // The new file's descriptor, open for reading and writing until commit();
  // a caller may write through a duplicate of it.
  int fd() const { return fd_; }

  Status write(std::string_view bytes);
  // Syncs the data and puts the file in place of the target.
  Status commit();
  // Drops the file; nothing is left.
  void discard();

 private:
  int fd_ = -1;
  bool named_ = false;  // a hidden named file rather than an unnamed one
  std::filesystem::path target_;
  std::filesystem::path temp_;  // the hidden name when named_
  std::optional<struct ::stat> replaced_;
  mode_t mode_ = 0666;
};

// Writes `bytes` as the whole new content of `target`.
Status writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                           mode_t mode = 0666);

// Removes the hidden temporaries of `target` that no running writer holds.
void removeStaleTemporaries(const std::filesystem::path& target);

// A regular file's bytes, refused past `limit` bytes; never blocks on a FIFO
// or a device. A missing file is Errc::not_found, one that is not a regular
// file Errc::invalid_argument, one too large Errc::too_large.
Result<std::string> readRegularFile(const std::filesystem::path& path, uint64_t limit);

// Up to `n` bytes from the start of an open file (fewer at its end or on an
// error).
std::string readHead(int fd, size_t n);

}  // namespace tamber
