// Content hashes: XXH3-128 of a file's bytes, read front to back in large
// blocks, as `xxhsum -H2` gives them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/result.h"

namespace tamber::scan {

struct ContentHash {
  std::string hex;       // 32 lower-case hexadecimal digits, xxhsum's canonical form
  uint64_t bytes = 0;    // how many bytes were hashed
  // The file's size or modification time differed after the read from
  // before it: the hash is of no one state of the file.
  bool changedWhileRead = false;
};

struct HashOptions {
  size_t blockSize = 1 << 20;
  // Called after each block with the bytes hashed so far; false stops the
  // read (the hash then fails with Errc::cancelled).
  std::function<bool(uint64_t)> progress;
};

// Hashes the regular file at `path`, opened without following a link and
// without blocking (a FIFO or a device is refused, not waited for). An
// unreadable file gives its reason.
Result<ContentHash> hashFile(const std::string& path, const HashOptions& options = {});
// The same for an open descriptor, read from its start; a file that
// changes while it is read is hashed as it was read and marked.
Result<ContentHash> hashDescriptor(int fd, const HashOptions& options = {});

}  // namespace tamber::scan
