// A file the readers read by position. Private to TamberMedia.
//
// Only a regular file opens. Small reads are served from a few cached 16 KB
// blocks, so a reader that asks for a header field at a time, or a library
// that reads 2 KB at a time and returns to the file's head, costs one system
// call per block; reads of a block or more go straight to the file.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace tamber::media {

class MediaFile {
 public:
  // The cached blocks. A reader keeps one and lends it to the file it reads,
  // so that the memory is not allocated again for every file.
  class Cache {
   public:
    Cache() = default;
    Cache(const Cache&) = delete;
    Cache& operator=(const Cache&) = delete;

   private:
    friend class MediaFile;
    struct Block {
      uint64_t index = UINT64_MAX;
      size_t length = 0;
      uint64_t lastUse = 0;
      std::unique_ptr<uint8_t[]> data;
    };
    std::array<Block, 8> blocks{};
    uint64_t clock = 0;
  };

  // Opens `path`; the file's reads go through `cache`, which must outlive
  // the file and serve no other file meanwhile.
  MediaFile(const std::string& path, Cache& cache);
  ~MediaFile();
  MediaFile(const MediaFile&) = delete;
  MediaFile& operator=(const MediaFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  uint64_t size() const { return size_; }
  // Reads what exists of [off, off + n); returns the count.
  size_t read(uint64_t off, void* buf, size_t n) const;
  // All of [off, off + n), or false.
  bool readAll(uint64_t off, void* buf, size_t n) const { return read(off, buf, n) == n; }

  static constexpr size_t kBlockBytes = 16 * 1024;

 private:
  size_t readDirect(uint64_t off, void* buf, size_t n) const;
  // The cached block of number `index`, loaded when missing; null when
  // nothing could be read.
  const uint8_t* block(uint64_t index, size_t& length) const;

  int fd_ = -1;
  uint64_t size_ = 0;
  Cache& cache_;
};

// A read position over an MediaFile, for the libraries that read through
// callbacks (libvorbisfile, libopusfile).
struct MediaCursor {
  MediaCursor(const std::string& path, MediaFile::Cache& cache) : file(path, cache) {}
  // Reads up to `n` bytes at the position and moves past them.
  size_t read(void* buf, size_t n) {
    size_t got = file.read(pos, buf, n);
    pos += got;
    return got;
  }
  // fseek's rules: SEEK_SET, SEEK_CUR or SEEK_END; false for a position
  // before the start.
  bool seek(int64_t offset, int whence);

  MediaFile file;
  uint64_t pos = 0;
};

}  // namespace tamber::media
