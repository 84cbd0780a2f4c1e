// The one interface through which the storage engine touches its file.
//
// Tests put their own implementation behind it to count bytes, fail a write
// or drop unsynced writes as a power cut would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "platform/result.h"

namespace tamber::storage {

class FileIo {
 public:
  virtual ~FileIo() = default;
  // Reads up to n bytes at off; returns the count read (short only at the end of the file).
  virtual Result<size_t> read(uint64_t off, void* buf, size_t n) = 0;
  // Writes all n bytes at off or fails.
  virtual Status write(uint64_t off, const void* buf, size_t n) = 0;
  // Makes every completed write durable (fdatasync).
  virtual Status sync() = 0;
  virtual Status truncate(uint64_t size) = 0;
  virtual Result<uint64_t> size() = 0;
};

enum class OpenMode { read_only, read_write };

// A regular file, locked for exclusive use with an open-file-description lock:
// a writer excludes every other open of the same file, from this process or
// another; read-only opens share with each other. createPosixFile makes a new
// file and fails when one of that name exists.
Result<std::unique_ptr<FileIo>> openPosixFile(const std::filesystem::path& path, OpenMode mode);
Result<std::unique_ptr<FileIo>> createPosixFile(const std::filesystem::path& path);
// Takes over a descriptor open for reading and writing, locked for writing.
Result<std::unique_ptr<FileIo>> adoptPosixFile(int fd, const std::filesystem::path& path);

// The text of errno for messages.
std::string systemMessage(int err);

}  // namespace tamber::storage
