#include "media/media_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tamber::media {

MediaFile::MediaFile(const std::string& path, Cache& cache) : cache_(cache) {
  for (auto& b : cache_.blocks) b.index = UINT64_MAX;
  // Non-blocking, so that a FIFO swapped in under the name cannot hold the
  // open; it is refused by the type check right after.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return;
  }
  fd_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
}

MediaFile::~MediaFile() {
  if (fd_ >= 0) ::close(fd_);
}

size_t MediaFile::readDirect(uint64_t off, void* buf, size_t n) const {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd_, static_cast<char*>(buf) + done, n - done, static_cast<off_t>(off + done));
    if (r <= 0) break;
    done += static_cast<size_t>(r);
  }
  return done;
}

const uint8_t* MediaFile::block(uint64_t index, size_t& length) const {
  Cache::Block* victim = &cache_.blocks[0];
  for (Cache::Block& b : cache_.blocks) {
    if (b.index == index) {
      b.lastUse = ++cache_.clock;
      length = b.length;
      return b.data.get();
    }
    if (b.lastUse < victim->lastUse) victim = &b;
  }
  if (!victim->data) victim->data.reset(new uint8_t[kBlockBytes]);
  uint8_t* p = victim->data.get();
  uint64_t start = index * kBlockBytes;
  size_t want = static_cast<size_t>(std::min<uint64_t>(kBlockBytes, size_ - start));
  size_t got = readDirect(start, p, want);
  if (got == 0) {
    victim->index = UINT64_MAX;
    return nullptr;
  }
  victim->index = index;
  victim->length = got;
  victim->lastUse = ++cache_.clock;
  length = got;
  return p;
}

size_t MediaFile::read(uint64_t off, void* buf, size_t n) const {
  if (fd_ < 0 || off >= size_) return 0;
  n = static_cast<size_t>(std::min<uint64_t>(n, size_ - off));
  if (n >= kBlockBytes) return readDirect(off, buf, n);
  size_t done = 0;
  while (done < n) {
    uint64_t at = off + done;
    size_t length = 0;
    const uint8_t* p = block(at / kBlockBytes, length);
    size_t inBlock = static_cast<size_t>(at % kBlockBytes);
    if (!p || inBlock >= length) break;
    size_t take = std::min(n - done, length - inBlock);
    std::memcpy(static_cast<char*>(buf) + done, p + inBlock, take);
    done += take;
  }
  return done;
}

bool MediaCursor::seek(int64_t offset, int whence) {
  int64_t base = whence == SEEK_SET ? 0
                 : whence == SEEK_CUR ? static_cast<int64_t>(pos)
                 : whence == SEEK_END ? static_cast<int64_t>(file.size())
                                      : -1;
  if (base < 0 || offset < -base || offset > INT64_MAX - base) return false;
  pos = static_cast<uint64_t>(base + offset);
  return true;
}

}  // namespace tamber::media
