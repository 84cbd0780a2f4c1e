#include "storage/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <system_error>
#include <thread>

namespace tamber::storage {

std::string systemMessage(int err) { return std::system_category().message(err); }

namespace {

Error ioError(const std::string& what, int err) {
  return Error{Errc::io, what + ": " + systemMessage(err)};
}

// The lock bytes (see FileSharing): far past the end of any file, below
// 2^63 so that every offset is a valid off_t.
constexpr int64_t kLockBase = int64_t{1} << 62;
constexpr int64_t kSwitchByte = kLockBase;
constexpr int64_t kWriterByte = kLockBase + 1;
constexpr int64_t kWriterPidBase = kLockBase + (int64_t{1} << 32);
constexpr int64_t kWriterSinceBase = kLockBase + (int64_t{1} << 36);
constexpr int64_t kReaderBase = kLockBase + (int64_t{1} << 40);
constexpr int64_t kStates = int64_t{1} << 32;

bool setLock(int fd, short type, int64_t start, int64_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// Where the first lock of another open that meets [start, start + length)
// begins (possibly before start); -1 when there is none.
int64_t holderIn(int fd, int64_t start, int64_t length) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0 || fl.l_type == F_UNLCK) return -1;
  return fl.l_start;
}

// The lowest place at which another open's lock begins in [low, high]; a
// lock that reaches into the range from below gives its own start.
int64_t lowestHolder(int fd, int64_t low, int64_t high) {
  int64_t found = -1;
  while (low <= high) {
    int64_t at = holderIn(fd, low, high - low + 1);
    if (at < 0) break;
    found = at;
    if (at <= low) break;
    high = at - 1;
  }
  return found;
}

// The command line of the process `pid` if it holds the file open as `fd`
// (same device and inode); empty when it cannot be told (another user's
// process, another machine's, a process that has ended).
std::string programHolding(long pid, int fd) {
  struct stat mine {};
  if (pid <= 0 || ::fstat(fd, &mine) != 0) return {};
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* d = ::opendir(dir.c_str());
  if (!d) return {};
  bool holds = false;
  while (dirent* e = ::readdir(d)) {
    struct stat st {};
    if (e->d_name[0] != '.' && ::fstatat(::dirfd(d), e->d_name, &st, 0) == 0 &&
        st.st_dev == mine.st_dev && st.st_ino == mine.st_ino) {
      holds = true;
      break;
    }
  }
  ::closedir(d);
  if (!holds) return {};
  int c = ::open(("/proc/" + std::to_string(pid) + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC);
  if (c < 0) return {};
  char buf[512];
  ssize_t n = ::read(c, buf, sizeof buf);
  ::close(c);
  if (n <= 0) return {};
  std::string line(buf, static_cast<size_t>(n));
  while (!line.empty() && line.back() == '\0') line.pop_back();
  for (char& ch : line) {
    if (ch == '\0') ch = ' ';
  }
  // The program's own name rather than the path it was started by.
  size_t space = line.find(' ');
  size_t slash = line.rfind('/', space);
  if (slash != std::string::npos) line.erase(0, slash + 1);
  if (line.size() > 100) line = line.substr(0, 97) + "...";
  return line;
}

WriterInfo writerOf(int fd) {
  WriterInfo who;
  who.present = holderIn(fd, kWriterByte, 1) >= 0;
  if (!who.present) return who;
  int64_t pid = holderIn(fd, kWriterPidBase, kStates);
  if (pid >= kWriterPidBase) who.pid = static_cast<long>(pid - kWriterPidBase);
  int64_t since = holderIn(fd, kWriterSinceBase, int64_t{1} << 36);
  if (since >= kWriterSinceBase) who.since = since - kWriterSinceBase;
  who.program = programHolding(who.pid, fd);
  if (who.program.empty()) who.pid = 0;
  return who;
}

Error writtenError(int fd, const std::filesystem::path& path) {
  WriterInfo who = writerOf(fd);
  std::string since = writerSince(who);
  return Error{Errc::locked, path.string() + " is being written by " + writerName(who) +
                                 (since.empty() ? "" : " since " + since) +
                                 "; it can be viewed meanwhile, and changed when that ends"};
}

class PosixFile final : public FileIo, public FileSharing {
 public:
  PosixFile(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
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

  FileSharing* sharing() override { return this; }

  Status holdSwitch(bool exclusive) override {
    // Held for one header read or write; a holder that keeps it for
    // seconds is stuck (or is a program that locks the whole file).
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    auto pause = std::chrono::microseconds(100);
    while (!setLock(fd_, exclusive ? F_WRLCK : F_RDLCK, kSwitchByte, 1)) {
      int err = errno;
      if (err != EAGAIN && err != EACCES) return ioError("cannot lock " + path_.string(), err);
      if (std::chrono::steady_clock::now() > until) {
        return Error{Errc::locked, path_.string() + " is in use by another program"};
      }
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
    return {};
  }

  void releaseSwitch() override { setLock(fd_, F_UNLCK, kSwitchByte, 1); }

  Status readState(uint32_t transaction) override {
    if (reading_ && state_ == transaction) return {};
    if (!setLock(fd_, F_RDLCK, kReaderBase + transaction, 1)) {
      return ioError("cannot lock " + path_.string(), errno);
    }
    if (reading_) setLock(fd_, F_UNLCK, kReaderBase + state_, 1);
    reading_ = true;
    state_ = transaction;
    return {};
  }

  int64_t oldestReaderAge(uint32_t current) override {
    // States numbered above the current one were committed before the
    // counter wrapped: they are the oldest.
    const int64_t oldest = kStates - 1;
    if (current < kStates - 1) {
      int64_t at = lowestHolder(fd_, kReaderBase + current + 1, kReaderBase + kStates - 1);
      if (at >= 0) return at < kReaderBase + current + 1 ? oldest : (current - (at - kReaderBase)) & oldest;
    }
    int64_t at = lowestHolder(fd_, kReaderBase, kReaderBase + current);
    if (at < 0) return -1;
    return at < kReaderBase ? oldest : current - (at - kReaderBase);
  }

  bool writerPresent() override { return holderIn(fd_, kWriterByte, 1) >= 0; }

  void keepTime() override {
    struct stat st {};
    if (::fstat(fd_, &st) == 0) {
      time_ = st.st_mtim;
      timeKept_ = true;
    }
  }

  void restoreTime() override {
    if (!timeKept_) return;
    struct timespec times[2] = {{0, UTIME_OMIT}, time_};
    (void)::futimens(fd_, times);  // only the owner may; others leave the time as it is
  }

  // Takes the writer byte, and says who this writer is and since when.
  Status becomeWriter() {
    if (!setLock(fd_, F_WRLCK, kWriterByte, 1)) {
      int err = errno;
      if (err == EAGAIN || err == EACCES) return writtenError(fd_, path_);
      return ioError("cannot lock " + path_.string(), err);
    }
    setLock(fd_, F_RDLCK, kWriterPidBase + ::getpid(), 1);
    int64_t now = static_cast<int64_t>(std::time(nullptr));
    if (now > 0 && now < (int64_t{1} << 36)) setLock(fd_, F_RDLCK, kWriterSinceBase + now, 1);
    return {};
  }

 private:
  int fd_;
  std::filesystem::path path_;
  bool reading_ = false;
  uint32_t state_ = 0;
  bool timeKept_ = false;
  struct timespec time_ {};
};

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
  auto file = std::make_unique<PosixFile>(fd, path);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    return Error{Errc::invalid_argument, path.string() + " is not a regular file"};
  }
  // Regular files never block; the flag goes so that nothing else sees it.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  // A reader takes its locks when it reads the header (Engine::load).
  if (write) {
    if (Status s = file->becomeWriter(); !s) return s.error();
  }
  return std::unique_ptr<FileIo>(std::move(file));
}

}  // namespace

Result<std::unique_ptr<FileIo>> adoptPosixFile(int fd, const std::filesystem::path& path) {
  auto file = std::make_unique<PosixFile>(fd, path);
  if (Status s = file->becomeWriter(); !s) return s.error();
  return std::unique_ptr<FileIo>(std::move(file));
}

WriterInfo describeWriter(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  struct stat st {};
  WriterInfo who;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) who = writerOf(fd);
  ::close(fd);
  return who;
}

std::string writerName(const WriterInfo& who) {
  if (who.program.empty()) return "another program";
  return who.program + (who.pid > 0 ? " (process " + std::to_string(who.pid) + ")" : "");
}

std::string writerSince(const WriterInfo& who) {
  if (who.since <= 0) return {};
  std::time_t at = static_cast<std::time_t>(who.since);
  std::time_t now = std::time(nullptr);
  struct tm then {}, today {};
  if (!::localtime_r(&at, &then) || !::localtime_r(&now, &today)) return {};
  char buf[32];
  bool sameDay = then.tm_year == today.tm_year && then.tm_yday == today.tm_yday;
  std::strftime(buf, sizeof buf, sameDay ? "%H:%M" : "%Y-%m-%d %H:%M", &then);
  return buf;
}

Result<std::unique_ptr<FileIo>> openPosixFile(const std::filesystem::path& path, OpenMode mode) {
  bool write = mode == OpenMode::read_write;
  return openWith(path, write ? O_RDWR : O_RDONLY, write);
}

Result<std::unique_ptr<FileIo>> createPosixFile(const std::filesystem::path& path) {
  return openWith(path, O_RDWR | O_CREAT | O_EXCL, true);
}

}  // namespace tamber::storage
