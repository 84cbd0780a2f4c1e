// The engine behind CompoundFile, Storage and Stream. Private to src/storage.
//
// The committed state is what the header on disk reaches. The working state
// (FAT, mini FAT, directory, chains) lives in memory; every sector it changes
// is written to a sector free in both states, so the committed state is never
// touched until the header write of the next commit switches to the new one.
//
// A stream handle keeps its changes in sectors of its own ("reserved": not in
// the FAT, never handed out) or, below the mini stream cutoff, in memory; its
// commit links them into the working state.
//
// Readers in other opens read the committed state they found when they
// opened (FileSharing): a sector that a commit frees is "held" until no
// reader of a state older than that commit is left, and only then reused.
// A transaction that is abandoned puts back what it overwrote (Stash) and
// the file's size and time, so that it leaves the file as it was.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "storage/compound_file.h"
#include "storage/format.h"

namespace tamber::storage::detail {

// Thrown inside the engine and turned into an Error at the public boundary.
struct Failure {
  Error error;
};
[[noreturn]] void fail(Errc code, std::string message);

struct DirEntry {
  std::u16string name;
  uint8_t type = kTypeEmpty;
  uint8_t color = kRed;
  uint32_t left = kNoStream;
  uint32_t right = kNoStream;
  uint32_t child = kNoStream;
  uint8_t clsid[16] = {};
  uint32_t stateBits = 0;
  uint64_t created = 0;
  uint64_t modified = 0;
  uint32_t start = 0;
  uint64_t size = 0;
};

enum SectorState : uint8_t {
  kShared = 0,  // still the sector of the stream's working chain
  kOwned = 1,   // reserved by this handle and written by it
  kZero = 2,    // reads as zeros, no sector yet
};

struct StreamState {
  uint32_t id = 0;
  uint64_t generation = 0;
  uint64_t size = 0;
  uint64_t pos = 0;
  bool dirty = false;
  bool big = false;   // size >= cutoff: data in sectors, else in mem
  std::string mem;    // the whole content of a small stream
  std::vector<uint32_t> sectors;
  std::vector<uint8_t> states;  // SectorState per sector
  // One sector of partial writes, so that small sequential writes cost one
  // sector write each, not one per call.
  int64_t cacheIndex = -1;
  bool cacheDirty = false;
  std::vector<uint8_t> cache;
};

// Whole sectors as they were before a transaction first overwrote them:
// in memory up to a few megabytes, then in an unnamed temporary file.
class Stash {
 public:
  Stash() = default;
  Stash(const Stash&) = delete;
  Stash& operator=(const Stash&) = delete;
  ~Stash() { clear(); }
  bool empty() const { return where_.empty(); }
  bool has(uint64_t key) const { return where_.count(key) != 0; }
  void keep(uint64_t key, const uint8_t* bytes, size_t n);
  // Calls f(key, bytes, n) for every sector kept.
  void each(const std::function<void(uint64_t, const uint8_t*, size_t)>& f);
  void clear();

 private:
  static constexpr size_t kMemory = 16u << 20;
  std::unordered_map<uint64_t, uint64_t> where_;  // key -> offset in the store
  size_t unit_ = 0;
  std::string memory_;
  std::FILE* spill_ = nullptr;
  uint64_t spilled_ = 0;
};

class Engine {
 public:
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  static std::shared_ptr<Engine> create(std::unique_ptr<FileIo> io, int version);
  static std::shared_ptr<Engine> open(std::unique_ptr<FileIo> io, bool readOnly);

  bool readOnly() const { return readOnly_; }
  uint64_t generation() const { return generation_; }
  uint64_t serialOf(uint32_t id) const { return serials_[id]; }
  FileInfo info() const;

  void commit();
  // Puts back what the working state wrote, then loads the committed state
  // afresh (a reader: the newest committed state).
  void revert();
  CheckReport check();

  // Storage operations; `storage` is a directory entry id of a storage.
  void requireStorage(uint32_t storage, uint64_t serial) const;
  std::vector<Element> elements(uint32_t storage) const;
  uint32_t find(uint32_t storage, std::string_view name) const;  // kNoStream if absent
  Element elementOf(uint32_t id) const;
  uint32_t createElement(uint32_t storage, std::string_view name, uint8_t type);
  void destroy(uint32_t storage, std::string_view name);
  void rename(uint32_t storage, std::string_view from, std::string_view to);

  // Stream operations.
  std::unique_ptr<StreamState> openStream(uint32_t id);
  // The layout of stream `id` as a handle opened now would see it.
  StreamLayout layoutOfEntry(uint32_t id);
  void closeStream(StreamState& s);
  size_t streamRead(StreamState& s, void* buf, size_t n);
  void streamWrite(StreamState& s, const void* buf, size_t n);
  void streamSetSize(StreamState& s, uint64_t size);
  void streamCommit(StreamState& s);
  void streamRevert(StreamState& s);
  void requireStream(const StreamState& s) const;
  StreamLayout layoutOf(const StreamState& s) const;
  // pread, nothing else: callable from any thread.
  Result<size_t> readRaw(uint64_t off, void* buf, size_t n) const { return io_->read(off, buf, n); }

 private:
  Engine() = default;

  // Loading.
  void load();
  void clearState();
  std::vector<uint32_t> loadChain(uint32_t start, const char* what);
  std::vector<uint32_t> loadMiniChain(uint32_t start, uint64_t size);
  void buildTrees();
  void initNewFile(int version);

  // Sectors.
  uint64_t sectorOffset(uint32_t s) const { return (static_cast<uint64_t>(s) + 1) << shift_; }
  void readSector(uint32_t s, uint8_t* buf);
  void readBytes(uint64_t off, uint8_t* buf, size_t n, bool zeroPastEnd = false);
  void writeBytes(uint64_t off, const uint8_t* buf, size_t n);
  void ioFailed(const Error& e);
  uint32_t allocSector();
  uint32_t allocLinked();
  uint32_t allocReserved();
  void releaseReserved(uint32_t s);
  void freeSector(uint32_t s);
  void setFat(uint32_t s, uint32_t v);
  void ensureFatCovers(uint64_t sectors);
  void linkAt(std::vector<uint32_t>& chain, size_t i);
  bool isFresh(uint32_t s) const { return !committedUsed_[s]; }
  void freeChain(uint32_t start);

  // Sharing with readers.
  void loadHeader(uint8_t* h, uint64_t& fileSize);
  // Sectors free in the state just loaded, and a tail past its end, that a
  // reader of an older state may still use.
  void holdForOlderReaders();
  void hold(std::vector<uint32_t> sectors, uint32_t tag);
  // Frees the held sectors that no live reader's state uses any more.
  void releaseHeld();
  // Keeps the sectors [off, off + n) touches, as they were at the last
  // commit, before they are first overwritten.
  void stashBefore(uint64_t off, size_t n);
  // Puts back what was written since the last commit: the stashed sectors,
  // the file's size and its time.
  void rollback() noexcept;
  void settled();

  // Mini stream.
  uint32_t allocMini();
  void freeMiniChain(uint32_t start, uint64_t size);
  uint32_t writeMiniStream(const std::string& data);
  std::string readMiniStream(uint32_t start, uint64_t size);
  void setMiniFat(uint32_t m, uint32_t v);
  void writeContainer(uint64_t off, const uint8_t* data, size_t n);
  void trimMini();

  // Directory.
  uint32_t allocEntry();
  void freeEntry(uint32_t id);
  void markDirty(uint32_t id) { dirDirty_[id / entriesPerSector_] = 1; }
  void parseEntry(const uint8_t* p, DirEntry& e) const;
  void serializeEntry(const DirEntry& e, uint8_t* p) const;
  void destroySubtree(uint32_t id);
  bool subtreeHasOpenStream(uint32_t id) const;
  void trimDirectory();

  // Red-black tree of one storage's children.
  uint32_t treeFind(uint32_t storage, const std::u16string& name) const;
  void treeInsert(uint32_t storage, uint32_t z);
  void treeErase(uint32_t storage, uint32_t z);
  void rotateLeft(uint32_t storage, uint32_t x);
  void rotateRight(uint32_t storage, uint32_t x);
  void transplant(uint32_t storage, uint32_t u, uint32_t v);
  void setLeft(uint32_t x, uint32_t v);
  void setRight(uint32_t x, uint32_t v);
  void setColor(uint32_t x, uint8_t c);
  void setRoot(uint32_t storage, uint32_t v);
  uint8_t colorOf(uint32_t x) const { return x == kNoStream ? kBlack : entries_[x].color; }
  bool treeIsValid(uint32_t storage, const std::vector<uint32_t>& kids) const;
  void rebuildTree(uint32_t storage, std::vector<uint32_t> kids);
  std::vector<uint32_t> inOrder(uint32_t storage) const;

  // Commit steps.
  // Writes the changed sectors of a metadata chain (directory, mini FAT) to
  // sectors free in both states; `fill` produces sector i's bytes.
  void commitChain(std::vector<uint32_t>& chain, std::vector<uint8_t>& dirty,
                   const std::function<void(size_t, uint8_t*)>& fill);
  void commitDirectory();
  void commitMiniFat();
  void settleFat();
  void writeFatAndDifat();
  void writeHeader();
  void afterCommit();

  // Streams.
  void flushCache(StreamState& s);
  void loadCache(StreamState& s, size_t index);
  void makeOwned(StreamState& s, size_t index);
  void writeBig(StreamState& s, uint64_t off, const uint8_t* buf, size_t n);
  void readBig(StreamState& s, uint64_t off, uint8_t* buf, size_t n);
  void releaseOwned(StreamState& s, size_t from);
  void resetStreamState(StreamState& s);

  void requireWritable() const;
  void requireUsable() const;

  std::unique_ptr<FileIo> io_;
  bool readOnly_ = false;
  bool broken_ = false;
  std::string brokenCause_;  // the failure that broke the file
  uint64_t generation_ = 1;

  int version_ = 4;
  uint32_t shift_ = 12;
  uint32_t sectorSize_ = 4096;
  uint32_t fatPerSector_ = 1024;      // FAT entries in one sector
  uint32_t entriesPerSector_ = 32;   // directory entries in one sector
  uint16_t minorVersion_ = kMinorVersion;
  uint32_t transaction_ = 0;
  uint64_t fileSectors_ = 0;  // sectors the file holds now

  // FAT: working entries, and per sector whether the committed state uses it.
  std::vector<uint32_t> fat_;
  std::vector<uint8_t> committedUsed_;
  std::vector<uint8_t> reserved_;
  std::vector<uint32_t> fatSectors_;   // location of FAT sector k (kFreeSect: not placed yet)
  std::vector<uint8_t> fatDirty_;
  std::vector<uint32_t> difatSectors_;
  std::vector<uint8_t> difatDirty_;
  uint32_t end_ = 0;                   // sectors below end_ may be in use
  std::set<uint32_t> free_;            // free in both states, below end_
  std::vector<uint32_t> pendingFree_;  // committed sectors this transaction freed

  // Directory.
  std::vector<DirEntry> entries_;
  std::vector<uint64_t> serials_;
  std::vector<uint32_t> parent_;
  std::vector<uint32_t> dir_;          // directory chain
  std::vector<uint8_t> dirDirty_;
  std::set<uint32_t> freeEntries_;
  std::vector<uint32_t> repairedTrees_;  // storages whose stored tree was invalid
  uint64_t nextSerial_ = 1;

  // Mini FAT and the mini stream (the root entry's chain, "container").
  std::vector<uint32_t> miniFat_;
  std::vector<uint32_t> miniFatChain_;
  std::vector<uint8_t> miniFatDirty_;
  std::set<uint32_t> miniFree_;
  std::vector<uint32_t> container_;
  std::vector<uint8_t> containerFresh_;  // appended, never written: reads as zeros
  uint64_t miniSize_ = 0;

  // Sharing: sectors free in the committed state that an older state a
  // reader reads may use, by the transaction that freed them (oldest first).
  FileSharing* sharing_ = nullptr;
  std::vector<uint8_t> held_;
  std::deque<std::pair<uint32_t, std::vector<uint32_t>>> heldGroups_;
  uint32_t allocsSinceRelease_ = 0;
  // The committed file: its size, the header it was loaded from, and what
  // this transaction overwrote of it.
  uint64_t committedSize_ = 0;
  uint8_t header_[kHeaderBytes] = {};
  Stash stash_;
  bool changed_ = false;  // written or truncated since the last commit

  std::unordered_map<uint32_t, StreamState*> open_;
  std::vector<uint8_t> scratch_;
  std::recursive_mutex mutex_;

 public:
  // Held by every call of the public handles, so that one thread may read
  // while another writes other streams of the same file.
  std::recursive_mutex& mutex() { return mutex_; }
};

int compareNames(const std::u16string& a, const std::u16string& b);

}  // namespace tamber::storage::detail
