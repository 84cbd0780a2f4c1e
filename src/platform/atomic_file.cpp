#include "platform/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>

namespace tamber {

namespace fs = std::filesystem;

namespace {

std::string errnoText(int err) { return std::system_category().message(err); }

constexpr const char* kTempMark = ".tmp-";

fs::path folderOf(const fs::path& p) { return p.parent_path().empty() ? "." : p.parent_path(); }

std::string hiddenPrefix(const fs::path& target) {
  return "." + target.filename().string() + kTempMark;
}

std::string randomSuffix() {
  static thread_local std::mt19937_64 gen{std::random_device{}()};
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string s;
  for (int i = 0; i < 12; ++i) s.push_back(kChars[gen() % (sizeof kChars - 1)]);
  return s;
}

void syncFolder(const fs::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// Locks the data bytes only: a library made in the file keeps its readers'
// and writer's lock bytes (from 2^62 on) free once the file is in place.
bool lockExclusive(int fd) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_len = off_t{1} << 62;
  return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

Error ioError(const fs::path& p, int err) { return Error{Errc::io, p.string() + ": " + errnoText(err)}; }

}  // namespace

fs::path resolveLinks(const fs::path& path) {
  fs::path p = path;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    auto st = fs::symlink_status(p, ec);
    if (ec || !fs::is_symlink(st)) return p;
    fs::path next = fs::read_symlink(p, ec);
    if (ec) return p;
    p = next.is_absolute() ? next : folderOf(p) / next;
  }
  return p;
}

AtomicFile& AtomicFile::operator=(AtomicFile&& o) noexcept {
  if (this != &o) {
    discard();
    fd_ = std::exchange(o.fd_, -1);
    named_ = o.named_;
    target_ = std::move(o.target_);
    temp_ = std::move(o.temp_);
    replaced_ = o.replaced_;
    mode_ = o.mode_;
  }
  return *this;
}

Result<AtomicFile> AtomicFile::begin(const fs::path& target, mode_t mode) {
  AtomicFile f;
  f.target_ = resolveLinks(target);
  f.mode_ = mode;
  struct stat st {};
  if (::stat(f.target_.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      return Error{Errc::invalid_argument, target.string() + " is not a regular file"};
    }
    f.replaced_ = st;
  }
  fs::path dir = folderOf(f.target_);
  f.fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (f.fd_ < 0) {
    int err = errno;
    if (err != EOPNOTSUPP && err != EISDIR && err != EINVAL) return ioError(dir, err);
    // No unnamed files here: a hidden name, locked for as long as it is in use.
    for (int tries = 0; tries < 100 && f.fd_ < 0; ++tries) {
      f.temp_ = dir / (hiddenPrefix(f.target_) + randomSuffix());
      f.fd_ = ::open(f.temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (f.fd_ < 0 && errno != EEXIST) return ioError(f.temp_, errno);
    }
    if (f.fd_ < 0) return ioError(dir, EEXIST);
    f.named_ = true;
    lockExclusive(f.fd_);
  }
  return f;
}

Status AtomicFile::write(std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ioError(target_, errno);
    }
    done += static_cast<size_t>(n);
  }
  return {};
}

Status AtomicFile::commit() {
  if (fd_ < 0) return Error{Errc::io, target_.string() + ": the file was discarded"};
  // The replaced file's mode and owner; a new file gets `mode` less the umask.
  if (replaced_) {
    (void)::fchown(fd_, replaced_->st_uid, replaced_->st_gid);  // allowed only to some
    if (::fchmod(fd_, replaced_->st_mode & 07777) != 0) return ioError(target_, errno);
  } else {
    mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd_, mode_ & ~mask & 0777) != 0) return ioError(target_, errno);
  }
  if (::fsync(fd_) != 0) return ioError(target_, errno);
  fs::path dir = folderOf(target_);
  if (!named_) {
    // An unnamed file gets a hidden name first, then replaces the target.
    std::string self = "/proc/self/fd/" + std::to_string(fd_);
    for (int tries = 0; tries < 100; ++tries) {
      temp_ = dir / (hiddenPrefix(target_) + randomSuffix());
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp_.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
      int err = errno;
      temp_.clear();
      if (err != EEXIST) return ioError(target_, err);
    }
    if (temp_.empty()) return ioError(target_, EEXIST);
  }
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    int err = errno;
    ::unlink(temp_.c_str());
    temp_.clear();
    return ioError(target_, err);
  }
  temp_.clear();
  named_ = false;
  syncFolder(dir);
  ::close(fd_);
  fd_ = -1;
  return {};
}

void AtomicFile::discard() {
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Status writeFileAtomically(const fs::path& target, std::string_view bytes, mode_t mode) {
  auto f = AtomicFile::begin(target, mode);
  if (!f) return f.error();
  if (Status st = f->write(bytes); !st) return st;
  return f->commit();
}

void removeStaleTemporaries(const fs::path& target) {
  fs::path real = resolveLinks(target);
  fs::path dir = folderOf(real);
  std::string prefix = hiddenPrefix(real);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = ::readdir(d)) {
    if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) != 0) continue;
    fs::path p = dir / e->d_name;
    int fd = ::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    // Only a regular file nobody holds: a writer keeps its lock until it is done.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      struct flock fl {};
      fl.l_type = F_RDLCK;
      fl.l_whence = SEEK_SET;
      if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) ::unlink(p.c_str());
    }
    ::close(fd);
  }
  ::closedir(d);
}

Result<std::string> readRegularFile(const std::filesystem::path& path, uint64_t limit) {
  // Never blocks on a FIFO or a device, never reads without end.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    return Error{err == ENOENT ? Errc::not_found : Errc::io,
                 path.string() + ": " + errnoText(err)};
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Error{Errc::invalid_argument, path.string() + " is not a regular file"};
  }
  if (static_cast<uint64_t>(st.st_size) > limit) {
    ::close(fd);
    return Error{Errc::too_large, path.string() + " is larger than " +
                                      std::to_string(limit >> 20) + " MB"};
  }
  std::string data(static_cast<size_t>(st.st_size), '\0');
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::pread(fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  data.resize(done);
  return data;
}


std::string readHead(int fd, size_t n) {
  std::string out(n, '\0');
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd, out.data() + done, n - done, static_cast<off_t>(done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<size_t>(r);
  }
  out.resize(done);
  return out;
}

}  // namespace tamber
