// Untrusted bytes handed to a reader as a file: an in-memory file named by
// its /proc/self/fd path, closed when the object goes.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

class MemfdFile {
 public:
  MemfdFile(const uint8_t* data, size_t size) : fd_(memfd_create("fuzz", MFD_CLOEXEC)) {
    if (fd_ >= 0 && write(fd_, data, size) != static_cast<ssize_t>(size)) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~MemfdFile() {
    if (fd_ >= 0) close(fd_);
  }
  MemfdFile(const MemfdFile&) = delete;
  MemfdFile& operator=(const MemfdFile&) = delete;
  bool ok() const { return fd_ >= 0; }
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }
  std::u16string widePath() const {
    std::string p = path();
    return std::u16string(p.begin(), p.end());
  }

 private:
  int fd_;
};
