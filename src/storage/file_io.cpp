#include "storage/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace tamber::storage {

std::string systemMessage(int err) { return std::system_category().message(err); }

namespace {

Error ioError(const std::string& what, int err) {
  return Error{Errc::io, what + ": " + systemMessage(err)};
}

class PosixFile final : public FileIo {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  Result<size_t> read(uint64_t off, void* buf, size_t n) override {
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::pread(fd_, static_cast<char*>(buf) + done, n - done,
                          static_cast<off_t>(off + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        return ioError("read failed", errno);
      }
      if (r == 0) break;
      done += static_cast<size_t>(r);
    }
    return done;
  }

  Status write(uint64_t off, const void* buf, size_t n) override {
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::pwrite(fd_, static_cast<const char*>(buf) + done, n - done,
                           static_cast<off_t>(off + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        return ioError("write failed", errno);
      }
      done += static_cast<size_t>(r);
    }
    return {};
  }

  Status sync() override {
    if (::fdatasync(fd_) != 0) return ioError("sync failed", errno);
    return {};
  }

  Status truncate(uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return ioError("truncate failed", errno);
    return {};
  }

  Result<uint64_t> size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return ioError("stat failed", errno);
    return static_cast<uint64_t>(st.st_size);
  }

 private:
  int fd_;
};

// Locks the whole file; an OFD lock belongs to this open, so a second open in
// the same process conflicts just as one in another process does.
Status lockFile(int fd, bool write, const std::filesystem::path& path) {
  struct flock fl {};
  fl.l_type = write ? F_WRLCK : F_RDLCK;
  fl.l_whence = SEEK_SET;
  if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return {};
  int err = errno;
  if (err == EAGAIN || err == EACCES) {
    return Error{Errc::locked, path.string() + " is in use by another program"};
  }
  return ioError("cannot lock " + path.string(), err);
}

Result<std::unique_ptr<FileIo>> openWith(const std::filesystem::path& path, int flags, bool write) {
  // Without blocking: a FIFO or a device named as a library would hold the
  // open until someone writes to it. What is not a regular file is refused
  // below, before anything is read.
  int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) {
    int err = errno;
    Errc code = err == ENOENT                   ? Errc::not_found
                : err == EACCES || err == EROFS ? Errc::read_only
                                                : Errc::io;
    return Error{code, path.string() + ": " + systemMessage(err)};
  }
  auto file = std::make_unique<PosixFile>(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    return Error{Errc::invalid_argument, path.string() + " is not a regular file"};
  }
  // Regular files never block; the flag goes so that nothing else sees it.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (Status s = lockFile(fd, write, path); !s) return s.error();
  return std::unique_ptr<FileIo>(std::move(file));
}

}  // namespace

Result<std::unique_ptr<FileIo>> adoptPosixFile(int fd, const std::filesystem::path& path) {
  auto file = std::make_unique<PosixFile>(fd);
  if (Status s = lockFile(fd, true, path); !s) return s.error();
  return std::unique_ptr<FileIo>(std::move(file));
}

Result<std::unique_ptr<FileIo>> openPosixFile(const std::filesystem::path& path, OpenMode mode) {
  bool write = mode == OpenMode::read_write;
  return openWith(path, write ? O_RDWR : O_RDONLY, write);
}

Result<std::unique_ptr<FileIo>> createPosixFile(const std::filesystem::path& path) {
  return openWith(path, O_RDWR | O_CREAT | O_EXCL, true);
}

}  // namespace tamber::storage
