// The compound-file storage engine: storages and streams in one file, in the
// standard compound file format (versions 3 and 4 read, version 4 written for
// new files), changed copy-on-write so that the file always holds exactly the
// state of the last completed commit.
//
// Threading: a CompoundFile and its handles are used by one thread at a time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/result.h"
#include "storage/file_io.h"

namespace tamber::storage {

namespace detail {
class Engine;
struct StreamState;
}  // namespace detail

// Streams below this size live in the mini stream, in 64-byte mini sectors.
inline constexpr uint64_t kMiniStreamCutoff = 4096;
// An element name holds 1 to 31 UTF-16 code units.
inline constexpr size_t kMaxNameUnits = 31;

enum class ElementType { storage, stream };

struct Element {
  std::string name;  // UTF-8
  ElementType type = ElementType::stream;
  uint64_t size = 0;
};

enum class Whence { set, current, end };

// Where a stream's committed bytes lie in the file: runs of consecutive
// sectors in stream order or, for a stream below the mini stream cutoff, the
// bytes themselves. With CompoundFile::readAt other threads read the stream
// while this one goes on with the file (the search reads listings so).
struct StreamLayout {
  struct Run {
    uint64_t offset = 0;
    uint64_t length = 0;
  };
  std::vector<Run> runs;
  bool small = false;
  std::string bytes;  // a small stream's content
  uint64_t size = 0;
};

// An open stream. Changes stay private to the handle until commit(); revert()
// or destroying the handle drops them. One handle per stream at a time.
class Stream {
 public:
  Stream();
  Stream(Stream&&) noexcept;
  Stream& operator=(Stream&&) noexcept;
  ~Stream();

  bool isOpen() const { return state_ != nullptr; }
  Result<size_t> read(void* buf, size_t n);
  Status write(const void* buf, size_t n);
  Status write(std::string_view bytes) { return write(bytes.data(), bytes.size()); }
  Result<uint64_t> seek(int64_t offset, Whence whence = Whence::set);
  uint64_t position() const;
  uint64_t size() const;
  Status setSize(uint64_t size);
  Status commit();
  Status revert();
  // Reads the whole stream from the start.
  Result<std::string> readAll();
  // Fails for a stream with uncommitted changes.
  Result<StreamLayout> layout() const;
  // Drops uncommitted changes and releases the stream.
  void close();

 private:
  friend class detail::Engine;
  friend class Storage;
  // Opens the stream of directory entry `id`.
  Stream(std::shared_ptr<detail::Engine> engine, uint32_t id);
  std::shared_ptr<detail::Engine> engine_;
  std::unique_ptr<detail::StreamState> state_;
};

// A storage element (the root or a nested storage).
class Storage {
 public:
  Storage() = default;
  Result<std::vector<Element>> elements() const;
  Result<Element> stat(std::string_view name) const;
  bool contains(std::string_view name) const { return stat(name).isOk(); }
  Result<Stream> openStream(std::string_view name);
  // Where a stream's bytes lie, as opening it and asking its layout() would
  // say, without a handle (a search looks up hundreds of listings).
  Result<StreamLayout> streamLayout(std::string_view name);
  // Creates a stream, replacing any element of that name.
  Result<Stream> createStream(std::string_view name);
  Result<Storage> openStorage(std::string_view name);
  // Creates a storage, replacing any element of that name.
  Result<Storage> createStorage(std::string_view name);
  // Removes an element (a storage with everything below it).
  Status destroy(std::string_view name);
  Status rename(std::string_view from, std::string_view to);

 private:
  friend class detail::Engine;
  friend class CompoundFile;
  // The storage of directory entry `id`, as it is now.
  Storage(std::shared_ptr<detail::Engine> engine, uint32_t id);
  // The entry of `name` if it is of type `want`.
  Result<uint32_t> lookup(std::string_view name, ElementType want) const;
  std::shared_ptr<detail::Engine> engine_;
  uint32_t id_ = 0;
  uint64_t serial_ = 0;
};

struct CheckReport {
  std::vector<std::string> faults;
  bool ok() const { return faults.empty(); }
};

struct FileInfo {
  int version = 4;
  uint32_t sectorSize = 4096;
  uint64_t fileSize = 0;
  uint64_t freeBytes = 0;  // in sectors free after the last commit
  uint32_t transaction = 0;
};

class CompoundFile {
 public:
  // Creates a new file (replacing one of that name), locked, read-write.
  static Result<CompoundFile> create(const std::filesystem::path& path, int version = 4);
  // Creates a new file that stays unnamed until `file` is committed, when
  // it replaces (or becomes) `path`: a file made over a long time (an
  // export) leaves nothing behind when the program is killed on the way.
  static Result<CompoundFile> createUnnamed(const std::filesystem::path& path, AtomicFile& file, int version = 4);
  static Result<CompoundFile> open(const std::filesystem::path& path, OpenMode mode);
  static Result<CompoundFile> create(std::unique_ptr<FileIo> io, int version = 4);
  static Result<CompoundFile> open(std::unique_ptr<FileIo> io, OpenMode mode);

  CompoundFile(CompoundFile&&) noexcept;
  CompoundFile& operator=(CompoundFile&&) noexcept;
  ~CompoundFile();

  Storage root();
  // Makes every committed stream change and every storage change durable.
  Status commit();
  // Returns to the state of the last commit; open streams are closed.
  Status revert();
  bool readOnly() const;
  FileInfo info() const;
  // Reads `n` bytes at a file offset (a StreamLayout run). Safe from any
  // thread while no thread changes the file: only the file is read, nothing
  // of the open state. Fails when the file ends first.
  Status readAt(uint64_t offset, void* buf, size_t n) const;
  // Verifies the last committed state: chains, free space, directory trees.
  CheckReport check();

 private:
  explicit CompoundFile(std::shared_ptr<detail::Engine> e);
  std::shared_ptr<detail::Engine> engine_;
};

// Rewrites the file without free space: into a temporary file beside it, which
// is synced and renamed over the original.
Status compact(const std::filesystem::path& path);

// Checks a name against the format's rules; the message says what is wrong.
Status validateName(std::string_view name);

}  // namespace tamber::storage
