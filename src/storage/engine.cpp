#include "storage/engine.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace tamber::storage::detail {

void fail(Errc code, std::string message) { throw Failure{Error{code, std::move(message)}}; }

namespace {

[[noreturn]] void corrupt(const std::string& what) {
  fail(Errc::corrupt, "the file is damaged: " + what);
}

uint64_t ceilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

}  // namespace

// ---------------------------------------------------------------------------
// What a transaction overwrote

void Stash::keep(uint64_t key, const uint8_t* bytes, size_t n) {
  if (where_.count(key)) return;
  unit_ = n;
  if (memory_.size() + n <= kMemory || (!spill_ && !(spill_ = std::tmpfile()))) {
    where_[key] = memory_.size();
    memory_.append(reinterpret_cast<const char*>(bytes), n);
    return;
  }
  if (std::fwrite(bytes, 1, n, spill_) != n) {
    // A temporary file that cannot take more: memory then.
    where_[key] = memory_.size();
    memory_.append(reinterpret_cast<const char*>(bytes), n);
    return;
  }
  where_[key] = kMemory + spilled_;  // past any memory offset: in the file
  spilled_ += n;
}

void Stash::each(const std::function<void(uint64_t, const uint8_t*, size_t)>& f) {
  std::vector<uint8_t> buf(unit_);
  if (spill_) std::fflush(spill_);
  for (const auto& [key, at] : where_) {
    if (at < kMemory || !spill_) {
      f(key, reinterpret_cast<const uint8_t*>(memory_.data() + at), unit_);
      continue;
    }
    if (::fseeko(spill_, static_cast<off_t>(at - kMemory), SEEK_SET) == 0 &&
        std::fread(buf.data(), 1, unit_, spill_) == unit_) {
      f(key, buf.data(), unit_);
    }
  }
}

void Stash::clear() {
  where_.clear();
  memory_.clear();
  memory_.shrink_to_fit();
  if (spill_) std::fclose(spill_);
  spill_ = nullptr;
  spilled_ = 0;
}

// ---------------------------------------------------------------------------
// Creating and loading

Engine::~Engine() { rollback(); }

std::shared_ptr<Engine> Engine::create(std::unique_ptr<FileIo> io, int version) {
  if (version != 3 && version != 4) fail(Errc::invalid_argument, "version must be 3 or 4");
  std::shared_ptr<Engine> e(new Engine);
  e->io_ = std::move(io);
  e->sharing_ = e->io_->sharing();
  e->initNewFile(version);
  return e;
}

std::shared_ptr<Engine> Engine::open(std::unique_ptr<FileIo> io, bool readOnly) {
  std::shared_ptr<Engine> e(new Engine);
  e->io_ = std::move(io);
  e->sharing_ = e->io_->sharing();
  e->readOnly_ = readOnly;
  e->load();
  return e;
}

void Engine::clearState() {
  fat_.clear();
  committedUsed_.clear();
  reserved_.clear();
  fatSectors_.clear();
  fatDirty_.clear();
  difatSectors_.clear();
  difatDirty_.clear();
  free_.clear();
  pendingFree_.clear();
  entries_.clear();
  serials_.clear();
  parent_.clear();
  dir_.clear();
  dirDirty_.clear();
  freeEntries_.clear();
  repairedTrees_.clear();
  miniFat_.clear();
  miniFatChain_.clear();
  miniFatDirty_.clear();
  miniFree_.clear();
  container_.clear();
  containerFresh_.clear();
  miniSize_ = 0;
  end_ = 0;
  held_.clear();
  heldGroups_.clear();
  allocsSinceRelease_ = 0;
  for (auto& [id, s] : open_) s->generation = 0;  // the handles are closed
  open_.clear();
  ++generation_;
  broken_ = false;
  brokenCause_.clear();
}

void Engine::initNewFile(int version) {
  clearState();
  version_ = version;
  shift_ = version == 3 ? 9 : 12;
  sectorSize_ = 1u << shift_;
  fatPerSector_ = sectorSize_ / 4;
  entriesPerSector_ = sectorSize_ / kDirEntryBytes;
  transaction_ = 0;
  fileSectors_ = 0;
  // The header sector, zero past the header fields (a version 4 header sector
  // is 4096 bytes long).
  scratch_.assign(sectorSize_, 0);
  Status s = io_->truncate(0);
  if (s) s = io_->write(0, scratch_.data(), sectorSize_);
  if (!s) fail(s.error().code, s.message());
  // One directory sector holding the root entry; the rest is written by the
  // first commit, which makes the file valid.
  entries_.resize(entriesPerSector_);
  serials_.assign(entriesPerSector_, 0);
  parent_.assign(entriesPerSector_, kNoStream);
  entries_[0].name = u"Root Entry";
  entries_[0].type = kTypeRoot;
  entries_[0].color = kBlack;
  entries_[0].start = kEndOfChain;
  serials_[0] = nextSerial_++;
  for (uint32_t i = 1; i < entriesPerSector_; ++i) freeEntries_.insert(i);
  dir_.push_back(kFreeSect);
  dirDirty_.push_back(1);
  commit();
}

void Engine::loadHeader(uint8_t* h, uint64_t& fileSize) {
  // A reader chooses its state in the switch's short moment: the header it
  // reads is whole, and its lock on that state is in place before the
  // writer can switch again and look for readers. The size is taken in the
  // same moment: the state's sectors all lie below it.
  FileSharing* shared = readOnly_ ? sharing_ : nullptr;
  if (shared) {
    if (Status st = shared->holdSwitch(false); !st) fail(st.error().code, st.message());
  }
  struct Release {
    FileSharing* s;
    ~Release() {
      if (s) s->releaseSwitch();
    }
  } release{shared};
  auto size = io_->size();
  if (!size) fail(size.error().code, size.message());
  fileSize = size.value();
  if (fileSize < kHeaderBytes) fail(Errc::corrupt, "not a compound file (too short)");
  readBytes(0, h, kHeaderBytes);
  if (shared) {
    if (Status st = shared->readState(getLe32(h + 52)); !st) fail(st.error().code, st.message());
  }
  std::memcpy(header_, h, kHeaderBytes);
}

void Engine::load() {
  clearState();
  uint64_t fileSize = 0;
  uint8_t h[kHeaderBytes];
  loadHeader(h, fileSize);
  if (std::memcmp(h, kSignature, 8) != 0) fail(Errc::corrupt, "not a compound file");
  if (getLe16(h + 28) != 0xFFFE) corrupt("bad byte order mark");
  uint16_t major = getLe16(h + 26);
  uint16_t shift = getLe16(h + 30);
  if (!((major == 3 && shift == 9) || (major == 4 && shift == 12))) {
    fail(Errc::unsupported, "unsupported compound file version " + std::to_string(major) +
                                " with sector shift " + std::to_string(shift));
  }
  if (getLe16(h + 32) != 6) corrupt("mini sector size is not 64");
  if (getLe32(h + 56) != kMiniStreamCutoff) {
    fail(Errc::unsupported, "unsupported mini stream cutoff " + std::to_string(getLe32(h + 56)));
  }
  version_ = major;
  shift_ = shift;
  sectorSize_ = 1u << shift_;
  fatPerSector_ = sectorSize_ / 4;
  entriesPerSector_ = sectorSize_ / kDirEntryBytes;
  minorVersion_ = getLe16(h + 24);
  transaction_ = getLe32(h + 52);
  if (fileSize < sectorSize_) corrupt("truncated header sector");
  fileSectors_ = ceilDiv(fileSize - sectorSize_, sectorSize_);
  if (fileSectors_ >= kMaxRegSect) fail(Errc::too_large, "file too large");

  uint32_t numFat = getLe32(h + 44);
  uint32_t firstDir = getLe32(h + 48);
  uint32_t firstMiniFat = getLe32(h + 60);
  uint32_t firstDifat = getLe32(h + 68);
  uint32_t numDifat = getLe32(h + 72);
  if (numFat > fileSectors_) corrupt("more FAT sectors than the file holds");
  if (numDifat > fileSectors_) corrupt("more DIFAT sectors than the file holds");

  // FAT sector locations: 109 in the header, the rest in the DIFAT chain.
  for (uint32_t i = 0; i < kHeaderDifatEntries && fatSectors_.size() < numFat; ++i) {
    fatSectors_.push_back(getLe32(h + 76 + 4 * i));
  }
  std::vector<uint8_t> buf(sectorSize_);
  std::set<uint32_t> seenDifat;
  uint32_t d = firstDifat;
  for (uint32_t n = 0; n < numDifat && fatSectors_.size() < numFat; ++n) {
    if (d >= fileSectors_) corrupt("DIFAT sector past the end of the file");
    if (!seenDifat.insert(d).second) corrupt("DIFAT chain loops");
    readSector(d, buf.data());
    difatSectors_.push_back(d);
    for (uint32_t i = 0; i + 1 < fatPerSector_ && fatSectors_.size() < numFat; ++i) {
      fatSectors_.push_back(getLe32(buf.data() + 4 * i));
    }
    d = getLe32(buf.data() + sectorSize_ - 4);
  }
  if (fatSectors_.size() < numFat) corrupt("DIFAT lists fewer FAT sectors than the header");

  fat_.resize(static_cast<size_t>(numFat) * fatPerSector_);
  for (size_t k = 0; k < fatSectors_.size(); ++k) {
    if (fatSectors_[k] >= fileSectors_) corrupt("FAT sector past the end of the file");
    readSector(fatSectors_[k], buf.data());
    for (uint32_t i = 0; i < fatPerSector_; ++i) {
      fat_[k * fatPerSector_ + i] = getLe32(buf.data() + 4 * i);
    }
  }
  // Sectors beyond what the FAT covers do not exist for this file.
  end_ = 0;
  for (size_t s = fat_.size(); s-- > 0;) {
    if (fat_[s] != kFreeSect) {
      end_ = static_cast<uint32_t>(s + 1);
      break;
    }
  }
  if (end_ > fileSectors_ && !readOnly_) corrupt("the file is truncated");
  committedUsed_.resize(fat_.size());
  reserved_.assign(fat_.size(), 0);
  for (size_t s = 0; s < fat_.size(); ++s) committedUsed_[s] = fat_[s] != kFreeSect;
  fatDirty_.assign(fatSectors_.size(), 0);
  difatDirty_.assign(difatSectors_.size(), 0);

  // Directory.
  dir_ = loadChain(firstDir, "directory");
  if (dir_.empty()) corrupt("no directory");
  entries_.resize(dir_.size() * entriesPerSector_);
  for (size_t i = 0; i < dir_.size(); ++i) {
    readSector(dir_[i], buf.data());
    for (uint32_t k = 0; k < entriesPerSector_; ++k) {
      parseEntry(buf.data() + k * kDirEntryBytes, entries_[i * entriesPerSector_ + k]);
    }
  }
  dirDirty_.assign(dir_.size(), 0);
  serials_.assign(entries_.size(), 0);
  if (entries_[0].type != kTypeRoot) corrupt("the first directory entry is not the root");
  for (uint32_t i = 0; i < entries_.size(); ++i) {
    uint8_t t = entries_[i].type;
    if (t != kTypeEmpty && t != kTypeStorage && t != kTypeStream && t != kTypeRoot) {
      corrupt("directory entry " + std::to_string(i) + " has unknown type " + std::to_string(t));
    }
    if (t == kTypeEmpty) {
      if (i > 0) freeEntries_.insert(i);
    } else {
      serials_[i] = nextSerial_++;
    }
  }

  // Mini FAT and mini stream.
  if (firstMiniFat != kEndOfChain && firstMiniFat != kFreeSect) {
    miniFatChain_ = loadChain(firstMiniFat, "mini FAT");
  }
  miniFat_.resize(miniFatChain_.size() * fatPerSector_);
  for (size_t k = 0; k < miniFatChain_.size(); ++k) {
    readSector(miniFatChain_[k], buf.data());
    for (uint32_t i = 0; i < fatPerSector_; ++i) {
      miniFat_[k * fatPerSector_ + i] = getLe32(buf.data() + 4 * i);
    }
  }
  miniFatDirty_.assign(miniFatChain_.size(), 0);
  miniSize_ = entries_[0].size;
  if (version_ == 3) miniSize_ &= 0xFFFFFFFFu;
  if (miniSize_ > 0 || (entries_[0].start != kEndOfChain && entries_[0].start != kFreeSect &&
                        entries_[0].start < fat_.size())) {
    container_ = loadChain(entries_[0].start, "mini stream");
  }
  if (miniSize_ > static_cast<uint64_t>(container_.size()) * sectorSize_) {
    corrupt("mini stream shorter than its recorded size");
  }
  containerFresh_.assign(container_.size(), 0);
  for (uint32_t m = 0; m < miniFat_.size(); ++m) {
    // A mini sector past the end of the mini stream belongs to no valid
    // stream, whatever a damaged mini FAT says; it is free for writing.
    if (miniFat_[m] != kFreeSect && (uint64_t{m} + 1) * kMiniSectorBytes > miniSize_) {
      miniFat_[m] = kFreeSect;
      miniFatDirty_[m / fatPerSector_] = 1;
    }
    if (miniFat_[m] == kFreeSect) miniFree_.insert(m);
  }

  for (uint32_t s = 0; s < std::min<uint64_t>(end_, fat_.size()); ++s) {
    if (fat_[s] == kFreeSect) free_.insert(s);
  }
  buildTrees();
  held_.assign(fat_.size(), 0);
  if (!readOnly_) holdForOlderReaders();
  settled();
}

void Engine::holdForOlderReaders() {
  int64_t age = sharing_ ? sharing_->oldestReaderAge(transaction_) : -1;
  if (age <= 0) {
    // A crash after sectors were appended leaves a tail the committed state
    // does not reach; nobody reads an older state that might, so it goes.
    if (fileSectors_ > end_) {
      Status st = io_->truncate(sectorOffset(end_));
      if (!st) fail(st.error().code, st.message());
      fileSectors_ = end_;
    }
    return;
  }
  // A reader of an older state may use any sector this state does not,
  // the tail included: all of them wait until that reader is gone.
  std::vector<uint32_t> sectors(free_.begin(), free_.end());
  free_.clear();
  if (fileSectors_ > end_) {
    ensureFatCovers(fileSectors_);
    for (auto s = static_cast<uint32_t>(end_); s < fileSectors_; ++s) {
      if (version_ == 4 && s == kRangeLockSector4) {
        setFat(s, kEndOfChain);
      } else {
        sectors.push_back(s);
      }
    }
    end_ = static_cast<uint32_t>(fileSectors_);
  }
  hold(std::move(sectors), transaction_);
}

void Engine::hold(std::vector<uint32_t> sectors, uint32_t tag) {
  if (sectors.empty()) return;
  for (uint32_t s : sectors) held_[s] = 1;
  heldGroups_.emplace_back(tag, std::move(sectors));
}

void Engine::releaseHeld() {
  allocsSinceRelease_ = 0;
  if (heldGroups_.empty()) return;
  int64_t age = sharing_ ? sharing_->oldestReaderAge(transaction_) : -1;
  while (!heldGroups_.empty()) {
    auto& [tag, sectors] = heldGroups_.front();
    // The sectors were last used by the states before `tag`: they stay
    // while a reader reads one of those.
    if (age > static_cast<int64_t>(static_cast<uint32_t>(transaction_ - tag))) break;
    for (uint32_t s : sectors) {
      held_[s] = 0;
      if (fat_[s] == kFreeSect && !committedUsed_[s] && !reserved_[s]) free_.insert(s);
    }
    heldGroups_.pop_front();
  }
}

void Engine::settled() {
  stash_.clear();
  changed_ = false;
  if (readOnly_) return;
  auto size = io_->size();
  committedSize_ = size ? size.value() : sectorOffset(static_cast<uint32_t>(fileSectors_));
  if (sharing_) sharing_->keepTime();
}

void Engine::stashBefore(uint64_t off, size_t n) {
  if (n == 0) return;
  // Key k is the sector at offset k << shift_ (0: the header's).
  for (uint64_t k = off >> shift_, last = (off + n - 1) >> shift_; k <= last; ++k) {
    if ((k << shift_) >= committedSize_) break;
    if (stash_.has(k)) continue;
    // Not scratch_: the bytes being written may be in it.
    std::vector<uint8_t> old(sectorSize_);
    auto r = io_->read(k << shift_, old.data(), sectorSize_);
    if (!r) ioFailed(r.error());
    stash_.keep(k, old.data(), sectorSize_);
  }
}

void Engine::rollback() noexcept {
  if (readOnly_ || !changed_) return;
  try {
    bool whole = true;
    stash_.each([this, &whole](uint64_t key, const uint8_t* bytes, size_t n) {
      if (!io_->write(key << shift_, bytes, n)) whole = false;
    });
    // The old header must be on disk before the tail its successor may
    // reach is cut off; a file that cannot be written keeps its tail (the
    // next writer cuts it).
    if (whole && (stash_.empty() || io_->sync())) (void)io_->truncate(committedSize_);
    if (sharing_) sharing_->restoreTime();
  } catch (...) {
    // Memory ran out on the way: what is left is free space.
  }
  stash_.clear();
  changed_ = false;
}

std::vector<uint32_t> Engine::loadChain(uint32_t start, const char* what) {
  std::vector<uint32_t> chain;
  if (start == kEndOfChain) return chain;
  // Every sector may stand in the chain once; the bitmap catches loops and
  // bounds the chain by the file.
  std::vector<bool> seen(fat_.size());
  for (uint32_t s = start; s != kEndOfChain; s = fat_[s]) {
    if (s >= fat_.size() || s >= fileSectors_) {
      corrupt(std::string(what) + " chain points past the end of the file");
    }
    if (seen[s]) corrupt(std::string(what) + " chain loops");
    seen[s] = true;
    chain.push_back(s);
  }
  return chain;
}

std::vector<uint32_t> Engine::loadMiniChain(uint32_t start, uint64_t size) {
  std::vector<uint32_t> chain;
  uint64_t need = ceilDiv(size, kMiniSectorBytes);
  std::vector<bool> seen(miniFat_.size());
  uint32_t m = start;
  while (chain.size() < need) {
    if (m >= miniFat_.size()) corrupt("mini chain points past the mini FAT");
    if ((static_cast<uint64_t>(m) + 1) * kMiniSectorBytes > miniSize_) {
      corrupt("mini chain points past the mini stream");
    }
    if (seen[m]) corrupt("mini chain loops");
    seen[m] = true;
    chain.push_back(m);
    m = miniFat_[m];
  }
  return chain;
}

void Engine::parseEntry(const uint8_t* p, DirEntry& e) const {
  uint16_t nameBytes = getLe16(p + 64);
  size_t units = std::min<size_t>(nameBytes / 2, 32);
  e.name.clear();
  for (size_t i = 0; i < units; ++i) {
    char16_t c = static_cast<char16_t>(getLe16(p + 2 * i));
    if (c == 0) break;
    e.name.push_back(c);
  }
  e.type = p[66];
  e.color = p[67] == kRed ? kRed : kBlack;
  e.left = getLe32(p + 68);
  e.right = getLe32(p + 72);
  e.child = getLe32(p + 76);
  std::memcpy(e.clsid, p + 80, 16);
  e.stateBits = getLe32(p + 96);
  e.created = getLe64(p + 100);
  e.modified = getLe64(p + 108);
  e.start = getLe32(p + 116);
  e.size = getLe64(p + 120);
  // Version 3 writers may leave garbage in the high word of the size.
  if (version_ == 3) e.size &= 0xFFFFFFFFu;
}

void Engine::serializeEntry(const DirEntry& e, uint8_t* p) const {
  std::memset(p, 0, kDirEntryBytes);
  if (e.type == kTypeEmpty) {
    putLe32(p + 68, kNoStream);
    putLe32(p + 72, kNoStream);
    putLe32(p + 76, kNoStream);
    return;
  }
  for (size_t i = 0; i < e.name.size() && i < 31; ++i) putLe16(p + 2 * i, e.name[i]);
  putLe16(p + 64, static_cast<uint16_t>((std::min<size_t>(e.name.size(), 31) + 1) * 2));
  p[66] = e.type;
  p[67] = e.color;
  putLe32(p + 68, e.left);
  putLe32(p + 72, e.right);
  putLe32(p + 76, e.child);
  std::memcpy(p + 80, e.clsid, 16);
  putLe32(p + 96, e.stateBits);
  putLe64(p + 100, e.created);
  putLe64(p + 108, e.modified);
  putLe32(p + 116, e.start);
  putLe64(p + 120, e.size);
}

// ---------------------------------------------------------------------------
// Sector I/O and allocation

void Engine::ioFailed(const Error& e) {
  // Memory and disk may now disagree; only a revert (a fresh load of the
  // committed state) makes the file usable again.
  if (!readOnly_ && !broken_) {
    broken_ = true;
    brokenCause_ = e.message;
  }
  fail(e.code, e.message);
}

void Engine::readBytes(uint64_t off, uint8_t* buf, size_t n, bool zeroPastEnd) {
  auto r = io_->read(off, buf, n);
  if (!r) ioFailed(r.error());
  if (r.value() < n) {
    if (!zeroPastEnd) corrupt("the file is truncated");
    std::memset(buf + r.value(), 0, n - r.value());
  }
}

void Engine::readSector(uint32_t s, uint8_t* buf) {
  // Some writers leave the last sector short; what is missing reads as zeros.
  if (s >= fileSectors_) corrupt("sector " + std::to_string(s) + " past the end of the file");
  readBytes(sectorOffset(s), buf, sectorSize_, true);
}

void Engine::writeBytes(uint64_t off, const uint8_t* buf, size_t n) {
  stashBefore(off, n);
  changed_ = true;
  Status st = io_->write(off, buf, n);
  if (!st) ioFailed(st.error());
  uint64_t endSector = ((off + n + sectorSize_ - 1) >> shift_) - 1;
  fileSectors_ = std::max(fileSectors_, endSector);
}

void Engine::ensureFatCovers(uint64_t sectors) {
  while (fat_.size() < sectors) {
    fat_.resize(fat_.size() + fatPerSector_, kFreeSect);
    committedUsed_.resize(fat_.size(), 0);
    reserved_.resize(fat_.size(), 0);
    held_.resize(fat_.size(), 0);
    fatSectors_.push_back(kFreeSect);  // placed by the next commit
    fatDirty_.push_back(1);
  }
}

uint32_t Engine::allocSector() {
  // While the file grows, held sectors are asked about now and then: a
  // reader that has gone lets them be used.
  if (free_.empty() && !heldGroups_.empty() && ++allocsSinceRelease_ >= 256) releaseHeld();
  while (!free_.empty()) {
    uint32_t s = *free_.begin();
    free_.erase(free_.begin());
    if (fat_[s] == kFreeSect && !committedUsed_[s] && !reserved_[s]) return s;
  }
  uint32_t s = end_;
  if (version_ == 4 && s == kRangeLockSector4) {
    ensureFatCovers(static_cast<uint64_t>(s) + 1);
    setFat(s, kEndOfChain);
    s = ++end_;
  }
  if (version_ == 3 && (static_cast<uint64_t>(s) + 2) * sectorSize_ > kVersion3Limit) {
    fail(Errc::too_large, "a version 3 compound file cannot grow past 2 GB");
  }
  if (s >= kMaxRegSect - 1) fail(Errc::too_large, "the file has reached the format's size limit");
  ++end_;
  ensureFatCovers(end_);
  return s;
}

uint32_t Engine::allocLinked() {
  uint32_t s = allocSector();
  setFat(s, kEndOfChain);
  return s;
}

uint32_t Engine::allocReserved() {
  uint32_t s = allocSector();
  reserved_[s] = 1;
  return s;
}

void Engine::releaseReserved(uint32_t s) {
  reserved_[s] = 0;
  if (fat_[s] == kFreeSect && !committedUsed_[s]) free_.insert(s);
}

void Engine::setFat(uint32_t s, uint32_t v) {
  if (fat_[s] == v) return;
  fat_[s] = v;
  fatDirty_[s / fatPerSector_] = 1;
}

void Engine::freeSector(uint32_t s) {
  setFat(s, kFreeSect);
  // A sector of the committed state stays untouched until the next commit
  // no longer needs it.
  if (committedUsed_[s]) {
    pendingFree_.push_back(s);
  } else if (!reserved_[s]) {
    free_.insert(s);
  }
}

void Engine::freeChain(uint32_t start) {
  for (uint32_t s : loadChain(start, "stream")) freeSector(s);
}

void Engine::linkAt(std::vector<uint32_t>& chain, size_t i) {
  if (i > 0) setFat(chain[i - 1], chain[i]);
  setFat(chain[i], i + 1 < chain.size() ? chain[i + 1] : kEndOfChain);
}

// ---------------------------------------------------------------------------
// Mini stream

void Engine::setMiniFat(uint32_t m, uint32_t v) {
  if (miniFat_[m] == v) return;
  miniFat_[m] = v;
  miniFatDirty_[m / fatPerSector_] = 1;
}

uint32_t Engine::allocMini() {
  if (miniFree_.empty()) {
    auto first = static_cast<uint32_t>(miniFat_.size());
    miniFat_.resize(miniFat_.size() + fatPerSector_, kFreeSect);
    miniFatChain_.push_back(kFreeSect);  // placed by the next commit
    miniFatDirty_.push_back(1);
    for (uint32_t m = first; m < miniFat_.size(); ++m) miniFree_.insert(m);
  }
  uint32_t m = *miniFree_.begin();
  miniFree_.erase(miniFree_.begin());
  setMiniFat(m, kEndOfChain);
  return m;
}

void Engine::freeMiniChain(uint32_t start, uint64_t size) {
  if (size == 0) return;
  for (uint32_t m : loadMiniChain(start, size)) {
    setMiniFat(m, kFreeSect);
    miniFree_.insert(m);
  }
}

std::string Engine::readMiniStream(uint32_t start, uint64_t size) {
  std::string out(size, '\0');
  auto chain = loadMiniChain(start, size);
  for (size_t i = 0; i < chain.size(); ++i) {
    uint64_t off = static_cast<uint64_t>(chain[i]) * kMiniSectorBytes;
    size_t take = std::min<uint64_t>(kMiniSectorBytes, size - i * kMiniSectorBytes);
    size_t c = off >> shift_;
    if (c >= container_.size()) corrupt("mini chain points past the mini stream");
    auto* dst = reinterpret_cast<uint8_t*>(out.data()) + i * kMiniSectorBytes;
    if (containerFresh_[c]) {
      std::memset(dst, 0, take);
    } else {
      readBytes(sectorOffset(container_[c]) + (off & (sectorSize_ - 1)), dst, take);
    }
  }
  return out;
}

void Engine::writeContainer(uint64_t off, const uint8_t* data, size_t n) {
  size_t c = off >> shift_;
  while (container_.size() <= c) {
    container_.push_back(allocLinked());
    containerFresh_.push_back(1);
    linkAt(container_, container_.size() - 1);
    if (container_.size() == 1) {
      entries_[0].start = container_[0];
      markDirty(0);
    }
  }
  std::vector<uint8_t>& buf = scratch_;
  buf.resize(sectorSize_);
  if (containerFresh_[c]) {
    std::fill(buf.begin(), buf.end(), 0);
  } else {
    readSector(container_[c], buf.data());
  }
  std::memcpy(buf.data() + (off & (sectorSize_ - 1)), data, n);
  if (!isFresh(container_[c])) {
    uint32_t old = container_[c];
    container_[c] = allocLinked();
    linkAt(container_, c);
    freeSector(old);
    if (c == 0) {
      entries_[0].start = container_[0];
      markDirty(0);
    }
  }
  writeBytes(sectorOffset(container_[c]), buf.data(), sectorSize_);
  containerFresh_[c] = 0;
}

uint32_t Engine::writeMiniStream(const std::string& data) {
  if (data.empty()) return kEndOfChain;
  size_t count = ceilDiv(data.size(), kMiniSectorBytes);
  std::vector<uint32_t> chain(count);
  for (size_t i = 0; i < count; ++i) chain[i] = allocMini();
  for (size_t i = 0; i + 1 < count; ++i) setMiniFat(chain[i], chain[i + 1]);
  // Write runs of mini sectors that share a container sector together; a
  // short tail is padded to its mini sector with zeros.
  const auto* src = reinterpret_cast<const uint8_t*>(data.data());
  std::vector<uint8_t> run;
  for (size_t i = 0; i < count;) {
    uint64_t off = static_cast<uint64_t>(chain[i]) * kMiniSectorBytes;
    size_t n = 1;
    while (i + n < count && chain[i + n] == chain[i] + n &&
           ((off + n * kMiniSectorBytes) >> shift_) == (off >> shift_)) {
      ++n;
    }
    size_t bytes = std::min<size_t>(n * kMiniSectorBytes, data.size() - i * kMiniSectorBytes);
    run.assign(n * kMiniSectorBytes, 0);
    std::memcpy(run.data(), src + i * kMiniSectorBytes, bytes);
    writeContainer(off, run.data(), run.size());
    miniSize_ = std::max(miniSize_, off + n * kMiniSectorBytes);
    i += n;
  }
  return chain[0];
}

void Engine::trimMini() {
  // The mini stream ends after its last allocated mini sector.
  uint64_t used = miniFat_.size();
  while (used > 0 && miniFat_[used - 1] == kFreeSect) --used;
  miniSize_ = used * kMiniSectorBytes;
  size_t keepContainer = ceilDiv(miniSize_, sectorSize_);
  while (container_.size() > keepContainer) {
    freeSector(container_.back());
    container_.pop_back();
    containerFresh_.pop_back();
  }
  if (!container_.empty()) setFat(container_.back(), kEndOfChain);
  size_t keepFat = ceilDiv(used, fatPerSector_);
  while (miniFatChain_.size() > keepFat) {
    if (miniFatChain_.back() != kFreeSect) freeSector(miniFatChain_.back());
    miniFatChain_.pop_back();
    miniFatDirty_.pop_back();
  }
  if (miniFat_.size() > keepFat * fatPerSector_) {
    miniFree_.erase(miniFree_.lower_bound(static_cast<uint32_t>(keepFat * fatPerSector_)),
                    miniFree_.end());
    miniFat_.resize(keepFat * fatPerSector_);
  }
  if (!miniFatChain_.empty() && miniFatChain_.back() != kFreeSect) {
    setFat(miniFatChain_.back(), kEndOfChain);
  }
  uint32_t start = container_.empty() ? kEndOfChain : container_[0];
  if (entries_[0].start != start || entries_[0].size != miniSize_) {
    entries_[0].start = start;
    entries_[0].size = miniSize_;
    markDirty(0);
  }
}

// ---------------------------------------------------------------------------
// Commit

void Engine::requireWritable() const {
  if (readOnly_) fail(Errc::read_only, "the file is open read-only");
  requireUsable();
}

void Engine::requireUsable() const {
  if (broken_) {
    // The first cause is what the user needs to know ("No space left on device").
    fail(Errc::broken, brokenCause_.empty()
                           ? "an earlier write failed; the file must be reverted before further use"
                           : brokenCause_ + " (an earlier write failed; the file must be reverted "
                                            "before further use)");
  }
}

void Engine::commitChain(std::vector<uint32_t>& chain, std::vector<uint8_t>& dirty,
                         const std::function<void(size_t, uint8_t*)>& fill) {
  // Place every sector that changed on a sector free in both states, then
  // link the chain and write.
  std::vector<uint8_t> write(chain.size(), 0);
  for (size_t i = 0; i < chain.size(); ++i) {
    if (chain[i] == kFreeSect) {
      chain[i] = allocLinked();
      write[i] = 1;
    } else if (dirty[i]) {
      if (!isFresh(chain[i])) {
        uint32_t old = chain[i];
        chain[i] = allocLinked();
        freeSector(old);
      }
      write[i] = 1;
    }
  }
  for (size_t i = 0; i < chain.size(); ++i) {
    if (write[i]) linkAt(chain, i);
  }
  std::vector<uint8_t> buf(sectorSize_);
  for (size_t i = 0; i < chain.size(); ++i) {
    if (!write[i]) continue;
    fill(i, buf.data());
    writeBytes(sectorOffset(chain[i]), buf.data(), sectorSize_);
    dirty[i] = 0;
  }
}

void Engine::commitDirectory() {
  trimDirectory();
  commitChain(dir_, dirDirty_, [this](size_t i, uint8_t* buf) {
    for (uint32_t k = 0; k < entriesPerSector_; ++k) {
      serializeEntry(entries_[i * entriesPerSector_ + k], buf + k * kDirEntryBytes);
    }
  });
}

void Engine::commitMiniFat() {
  commitChain(miniFatChain_, miniFatDirty_, [this](size_t i, uint8_t* buf) {
    for (uint32_t k = 0; k < fatPerSector_; ++k) {
      putLe32(buf + 4 * k, miniFat_[i * fatPerSector_ + k]);
    }
  });
}

void Engine::settleFat() {
  // Placing a FAT or DIFAT sector changes FAT entries, which dirties FAT
  // sectors, which need places of their own: repeat until nothing moves. Each
  // sector moves at most once, since a new place is fresh.
  const size_t perDifat = fatPerSector_ - 1;
  for (bool changed = true; changed;) {
    changed = false;
    for (size_t k = 0; k < fatSectors_.size(); ++k) {
      uint32_t old = fatSectors_[k];
      if (old != kFreeSect && !(fatDirty_[k] && !isFresh(old))) continue;
      uint32_t s = allocSector();
      setFat(s, kFatSect);
      fatSectors_[k] = s;
      if (old != kFreeSect) freeSector(old);
      // The DIFAT sector that lists k changes; one not made yet is born dirty.
      if (k >= kHeaderDifatEntries) {
        size_t j = (k - kHeaderDifatEntries) / perDifat;
        if (j < difatDirty_.size()) difatDirty_[j] = 1;
      }
      changed = true;
    }
    size_t need = fatSectors_.size() > kHeaderDifatEntries
                      ? ceilDiv(fatSectors_.size() - kHeaderDifatEntries, perDifat)
                      : 0;
    while (difatSectors_.size() < need) {
      uint32_t s = allocSector();
      setFat(s, kDifSect);
      if (!difatSectors_.empty()) difatDirty_.back() = 1;  // its next pointer changes
      difatSectors_.push_back(s);
      difatDirty_.push_back(1);
      changed = true;
    }
    for (size_t j = 0; j < difatSectors_.size(); ++j) {
      if (!difatDirty_[j] || isFresh(difatSectors_[j])) continue;
      uint32_t old = difatSectors_[j];
      uint32_t s = allocSector();
      setFat(s, kDifSect);
      difatSectors_[j] = s;
      freeSector(old);
      if (j > 0) difatDirty_[j - 1] = 1;
      changed = true;
    }
  }
}

void Engine::writeFatAndDifat() {
  std::vector<uint8_t> buf(sectorSize_);
  for (size_t k = 0; k < fatSectors_.size(); ++k) {
    if (!fatDirty_[k]) continue;
    for (uint32_t i = 0; i < fatPerSector_; ++i) {
      putLe32(buf.data() + 4 * i, fat_[k * fatPerSector_ + i]);
    }
    writeBytes(sectorOffset(fatSectors_[k]), buf.data(), sectorSize_);
  }
  const size_t perDifat = fatPerSector_ - 1;
  for (size_t j = 0; j < difatSectors_.size(); ++j) {
    if (!difatDirty_[j]) continue;
    for (size_t i = 0; i < perDifat; ++i) {
      size_t k = kHeaderDifatEntries + j * perDifat + i;
      putLe32(buf.data() + 4 * i, k < fatSectors_.size() ? fatSectors_[k] : kFreeSect);
    }
    putLe32(buf.data() + 4 * perDifat,
            j + 1 < difatSectors_.size() ? difatSectors_[j + 1] : kEndOfChain);
    writeBytes(sectorOffset(difatSectors_[j]), buf.data(), sectorSize_);
  }
}

void Engine::writeHeader() {
  uint8_t h[kHeaderBytes] = {};
  std::memcpy(h, kSignature, 8);
  putLe16(h + 24, kMinorVersion);
  putLe16(h + 26, static_cast<uint16_t>(version_));
  putLe16(h + 28, 0xFFFE);
  putLe16(h + 30, static_cast<uint16_t>(shift_));
  putLe16(h + 32, 6);
  putLe32(h + 40, version_ == 3 ? 0 : static_cast<uint32_t>(dir_.size()));
  putLe32(h + 44, static_cast<uint32_t>(fatSectors_.size()));
  putLe32(h + 48, dir_[0]);
  putLe32(h + 52, transaction_ + 1);
  putLe32(h + 56, kMiniStreamCutoff);
  putLe32(h + 60, miniFatChain_.empty() ? kEndOfChain : miniFatChain_[0]);
  putLe32(h + 64, static_cast<uint32_t>(miniFatChain_.size()));
  putLe32(h + 68, difatSectors_.empty() ? kEndOfChain : difatSectors_[0]);
  putLe32(h + 72, static_cast<uint32_t>(difatSectors_.size()));
  for (uint32_t i = 0; i < kHeaderDifatEntries; ++i) {
    putLe32(h + 76 + 4 * i, i < fatSectors_.size() ? fatSectors_[i] : kFreeSect);
  }
  writeBytes(0, h, kHeaderBytes);
  std::memcpy(header_, h, kHeaderBytes);
}

void Engine::commit() {
  requireWritable();
  trimMini();
  commitMiniFat();
  commitDirectory();
  settleFat();
  writeFatAndDifat();
  // Everything the new header reaches is on disk before the header is; the
  // header write is the single switch from the old state to the new one,
  // the only moment readers wait for (they never read half a header).
  if (Status s = io_->sync(); !s) ioFailed(s.error());
  if (sharing_) {
    if (Status s = sharing_->holdSwitch(true); !s) ioFailed(s.error());
  }
  try {
    writeHeader();
  } catch (...) {
    if (sharing_) sharing_->releaseSwitch();
    throw;
  }
  if (sharing_) sharing_->releaseSwitch();
  if (Status s = io_->sync(); !s) ioFailed(s.error());
  ++transaction_;
  afterCommit();
}

void Engine::afterCommit() {
  for (size_t k = 0; k < fatSectors_.size(); ++k) {
    if (!fatDirty_[k]) continue;
    size_t first = k * fatPerSector_;
    for (size_t s = first; s < first + fatPerSector_; ++s) {
      committedUsed_[s] = fat_[s] != kFreeSect;
    }
    fatDirty_[k] = 0;
  }
  std::fill(difatDirty_.begin(), difatDirty_.end(), 0);
  // What the last state used and this one does not waits for the readers
  // of the last state (and older ones) to go.
  std::vector<uint32_t> freed;
  for (uint32_t s : pendingFree_) {
    if (fat_[s] == kFreeSect && !committedUsed_[s] && !reserved_[s]) freed.push_back(s);
  }
  pendingFree_.clear();
  hold(std::move(freed), transaction_);
  releaseHeld();
  // Free sectors at the end of the file are given back to the file system.
  uint32_t oldEnd = end_;
  while (end_ > 0) {
    uint32_t s = end_ - 1;
    if (fat_[s] != kFreeSect || reserved_[s] || committedUsed_[s] || held_[s]) break;
    free_.erase(s);
    --end_;
  }
  if (end_ < oldEnd || fileSectors_ > end_) {
    // The committed state is complete without the tail; a failed truncate
    // only leaves free space behind.
    if (io_->truncate(sectorOffset(end_))) fileSectors_ = end_;
  }
  settled();
}

void Engine::revert() {
  rollback();
  try {
    load();
  } catch (const Failure& f) {
    if (!readOnly_ && !broken_) {
      broken_ = true;
      brokenCause_ = f.error.message;
    }
    throw;
  } catch (...) {
    if (!readOnly_) broken_ = true;
    throw;
  }
}

FileInfo Engine::info() const {
  FileInfo i;
  i.version = version_;
  i.sectorSize = sectorSize_;
  i.fileSize = sectorOffset(static_cast<uint32_t>(fileSectors_));
  uint64_t freeSectors = 0;
  for (uint32_t s = 0; s < std::min<uint64_t>(end_, fat_.size()); ++s) {
    if (!committedUsed_[s]) ++freeSectors;
  }
  i.freeBytes = freeSectors * sectorSize_;
  i.transaction = transaction_;
  return i;
}

}  // namespace tamber::storage::detail
