#include "scan/content_hash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "scan/content_hash_kernel.h"

namespace tamber::scan {

namespace {

// The kernel for this processor, chosen once.
struct Kernel {
  size_t (*stateSize)();
  void (*reset)(void*);
  void (*update)(void*, const void*, size_t);
  void (*digest)(const void*, unsigned char*);
};

const Kernel& kernel() {
  static const Kernel chosen = [] {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) {
      return Kernel{hash_avx512::stateSize, hash_avx512::reset, hash_avx512::update, hash_avx512::digest};
    }
    if (__builtin_cpu_supports("avx2")) {
      return Kernel{hash_avx2::stateSize, hash_avx2::reset, hash_avx2::update, hash_avx2::digest};
    }
#endif
    return Kernel{hash_generic::stateSize, hash_generic::reset, hash_generic::update, hash_generic::digest};
  }();
  return chosen;
}

struct FreeState {
  void operator()(void* p) const { std::free(p); }
};

Error failure(Errc code, const std::string& what) { return Error{code, what}; }

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

Result<ContentHash> hashDescriptor(int fd, const HashOptions& options) {
  struct stat before {};
  if (::fstat(fd, &before) != 0) return failure(Errc::io, std::strerror(errno));
  if (!S_ISREG(before.st_mode)) return failure(Errc::invalid_argument, "not a regular file");
  const Kernel& k = kernel();
  // The state and the block are the thread's own, made once: a scan hashes
  // hundreds of thousands of small files, and neither is cleared between
  // them (reset sets the state; a block holds only what pread put there).
  struct Buffers {
    std::unique_ptr<void, FreeState> state;
    std::unique_ptr<char[]> block;
    size_t blockSize = 0;
  };
  thread_local Buffers buffers;
  if (!buffers.state) buffers.state.reset(std::aligned_alloc(64, (k.stateSize() + 63) / 64 * 64));
  if (!buffers.state) return failure(Errc::io, "out of memory");
  const size_t blockSize = options.blockSize < 4096 ? 4096 : options.blockSize;
  if (buffers.blockSize != blockSize) {
    buffers.block.reset(new (std::nothrow) char[blockSize]);
    buffers.blockSize = buffers.block ? blockSize : 0;
    if (!buffers.block) return failure(Errc::io, "out of memory");
  }
  void* state = buffers.state.get();
  char* block = buffers.block.get();
  k.reset(state);
  // A file of more than one block is read ahead: the kernel is told it is
  // read in order, and asked for the next few blocks before they are wanted,
  // so that reading and hashing overlap.
  const bool large = static_cast<uint64_t>(before.st_size) > blockSize;
  if (large) (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  ContentHash out;
  off_t at = 0, asked = 0;
  const off_t ahead = static_cast<off_t>(blockSize) * 8;
  while (true) {
    if (large && at + ahead > asked) {
      (void)::posix_fadvise(fd, asked, ahead, POSIX_FADV_WILLNEED);
      asked += ahead;
    }
    ssize_t n = ::pread(fd, block, blockSize, at);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failure(Errc::io, std::strerror(errno));
    }
    if (n == 0) break;
    k.update(state, block, static_cast<size_t>(n));
    at += n;
    out.bytes += static_cast<uint64_t>(n);
    if (options.progress && !options.progress(out.bytes)) return failure(Errc::cancelled, "cancelled");
    // The size it had is read: a file that grew meanwhile is caught below.
    if (at >= before.st_size) break;
  }
  struct stat after {};
  if (::fstat(fd, &after) != 0) return failure(Errc::io, std::strerror(errno));
  out.changedWhileRead = !sameFile(before, after) || out.bytes != static_cast<uint64_t>(before.st_size);
  unsigned char digest[16];
  k.digest(state, digest);
  static const char digits[] = "0123456789abcdef";
  out.hex.reserve(32);
  for (unsigned char b : digest) {
    out.hex += digits[b >> 4];
    out.hex += digits[b & 15];
  }
  return out;
}

Result<ContentHash> hashFile(const std::string& path, const HashOptions& options) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    int err = errno;
    return failure(err == ENOENT ? Errc::not_found : Errc::io,
                   err == ELOOP ? "a symbolic link" : std::strerror(err));
  }
  auto result = hashDescriptor(fd, options);
  ::close(fd);
  return result;
}

}  // namespace tamber::scan
