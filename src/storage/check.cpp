// Verification of the committed state on disk: every chain, the free space,
// the directory. Loads the file afresh, read-only, so that what is checked is
// what a reader would see.

#include <algorithm>
#include <cstring>

#include "platform/utf.h"
#include "storage/engine.h"

namespace tamber::storage::detail {

namespace {

// The open file, with the header this open loaded in place of the one on
// disk: a writer may have switched to a newer state since, and the state
// checked must be the one this open's readers' lock keeps.
class BorrowedIo final : public FileIo {
 public:
  BorrowedIo(FileIo& inner, const uint8_t* header) : inner_(inner), header_(header) {}
  Result<size_t> read(uint64_t off, void* buf, size_t n) override {
    auto r = inner_.read(off, buf, n);
    if (r && off < kHeaderBytes) {
      size_t k = std::min<uint64_t>(r.value(), kHeaderBytes - off);
      std::memcpy(buf, header_ + off, k);
    }
    return r;
  }
  Status write(uint64_t, const void*, size_t) override {
    return Error{Errc::read_only, "check does not write"};
  }
  Status sync() override { return {}; }
  Status truncate(uint64_t) override { return Error{Errc::read_only, "check does not write"}; }
  Result<uint64_t> size() override { return inner_.size(); }

 private:
  FileIo& inner_;
  const uint8_t* header_;
};

std::string hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%X", v);
  return b;
}

}  // namespace

CheckReport Engine::check() {
  CheckReport report;
  auto& faults = report.faults;
  std::shared_ptr<Engine> t;
  try {
    t = open(std::make_unique<BorrowedIo>(*io_, header_), true);
  } catch (const Failure& f) {
    faults.push_back(f.error.message);
    return report;
  }
  const Engine& e = *t;
  const uint8_t* h = header_;
  uint16_t minor = getLe16(h + 24);
  if (minor != 0x3E && minor != 0x3B) faults.push_back("header: minor version " + hex(minor));
  uint32_t numDir = getLe32(h + 40);
  if (e.version_ == 3 && numDir != 0) {
    faults.push_back("header: a version 3 file must record 0 directory sectors");
  }
  if (e.version_ == 4 && numDir != e.dir_.size()) {
    faults.push_back("header: records " + std::to_string(numDir) + " directory sectors, the chain has " +
                     std::to_string(e.dir_.size()));
  }
  if (getLe32(h + 64) != e.miniFatChain_.size()) {
    faults.push_back("header: mini FAT sector count differs from its chain");
  }

  // Who owns each sector.
  std::vector<uint8_t> owned(e.fat_.size(), 0);
  auto own = [&](uint32_t s, const std::string& what) {
    if (s >= owned.size()) {
      faults.push_back(what + ": sector " + std::to_string(s) + " is outside the FAT");
      return;
    }
    if (owned[s]++) faults.push_back(what + ": sector " + std::to_string(s) + " is in two chains");
  };
  for (uint32_t s : e.fatSectors_) {
    own(s, "FAT");
    if (s < e.fat_.size() && e.fat_[s] != kFatSect) {
      faults.push_back("FAT sector " + std::to_string(s) + " is not marked as a FAT sector");
    }
  }
  for (uint32_t s : e.difatSectors_) {
    own(s, "DIFAT");
    if (s < e.fat_.size() && e.fat_[s] != kDifSect) {
      faults.push_back("DIFAT sector " + std::to_string(s) + " is not marked as a DIFAT sector");
    }
  }
  for (uint32_t s : e.dir_) own(s, "directory");
  for (uint32_t s : e.miniFatChain_) own(s, "mini FAT");
  for (uint32_t s : e.container_) own(s, "mini stream");
  if (e.container_.size() != (e.miniSize_ + e.sectorSize_ - 1) / e.sectorSize_) {
    faults.push_back("the mini stream's chain does not match its size");
  }
  if (e.version_ == 4 && kRangeLockSector4 < e.fat_.size() &&
      e.fat_[kRangeLockSector4] != kFreeSect) {
    if (e.fat_[kRangeLockSector4] != kEndOfChain) {
      faults.push_back("the range lock sector is in a chain");
    }
    own(kRangeLockSector4, "range lock");
  }

  // Walk the directory from the root; what is not reached is an orphan.
  std::vector<uint8_t> reached(e.entries_.size(), 0);
  std::vector<uint8_t> miniOwned(e.miniFat_.size(), 0);
  std::vector<std::pair<uint32_t, std::string>> storages{{0, ""}};
  reached[0] = 1;
  while (!storages.empty()) {
    auto [st, path] = storages.back();
    storages.pop_back();
    std::vector<uint32_t> kids = e.inOrder(st);
    for (size_t i = 0; i < kids.size(); ++i) {
      uint32_t id = kids[i];
      reached[id] = 1;
      const DirEntry& d = e.entries_[id];
      std::string name = path + utf16ToUtf8(d.name);
      if (d.name.empty() || d.name.size() > kMaxNameUnits ||
          d.name.find_first_of(u"/\\:!") != std::u16string::npos) {
        faults.push_back("\"" + name + "\": invalid name");
      }
      if (i > 0 && compareNames(e.entries_[kids[i - 1]].name, d.name) == 0) {
        faults.push_back("\"" + name + "\": two elements share this name");
      }
      if (d.type == kTypeStorage) {
        storages.push_back({id, name + "/"});
        continue;
      }
      if (d.size == 0) {
        if (d.start != kEndOfChain) faults.push_back("\"" + name + "\": empty stream with a chain");
        continue;
      }
      if (d.size < kMiniStreamCutoff) {
        uint64_t need = (d.size + kMiniSectorBytes - 1) / kMiniSectorBytes;
        uint32_t m = d.start;
        for (uint64_t k = 0; k < need; ++k) {
          if (m >= e.miniFat_.size() || (uint64_t{m} + 1) * kMiniSectorBytes > e.miniSize_) {
            faults.push_back("\"" + name + "\": mini chain leaves the mini stream");
            break;
          }
          if (miniOwned[m]++) {
            faults.push_back("\"" + name + "\": mini sector " + std::to_string(m) + " is shared");
            break;
          }
          m = e.miniFat_[m];
          if (k + 1 == need && m != kEndOfChain) {
            faults.push_back("\"" + name + "\": mini chain longer than the stream");
          }
        }
        continue;
      }
      try {
        std::vector<uint32_t> chain = t->loadChain(d.start, "stream");
        uint64_t need = (d.size + e.sectorSize_ - 1) / e.sectorSize_;
        if (chain.size() != need) {
          faults.push_back("\"" + name + "\": chain of " + std::to_string(chain.size()) +
                           " sectors for a size of " + std::to_string(d.size));
        }
        for (uint32_t s : chain) own(s, "\"" + name + "\"");
      } catch (const Failure& f) {
        faults.push_back("\"" + name + "\": " + f.error.message);
      }
    }
  }
  for (uint32_t st : e.repairedTrees_) {
    faults.push_back("the directory tree of \"" + utf16ToUtf8(e.entries_[st].name) +
                     "\" is not a valid red-black tree in name order");
  }
  for (size_t i = 0; i < e.entries_.size(); ++i) {
    if (e.entries_[i].type != kTypeEmpty && !reached[i]) {
      faults.push_back("directory entry " + std::to_string(i) + " is not reachable");
    }
  }
  // Free entries must be all zeros but for their links.
  std::vector<uint8_t> buf(e.sectorSize_);
  for (size_t i = 0; i < e.dir_.size(); ++i) {
    if (auto r = io_->read(e.sectorOffset(e.dir_[i]), buf.data(), buf.size()); !r) continue;
    for (uint32_t k = 0; k < e.entriesPerSector_; ++k) {
      const uint8_t* p = buf.data() + k * kDirEntryBytes;
      if (p[66] != kTypeEmpty) continue;
      bool clean = getLe32(p + 68) == kNoStream && getLe32(p + 72) == kNoStream &&
                   getLe32(p + 76) == kNoStream;
      for (size_t b = 0; b < kDirEntryBytes && clean; ++b) {
        if ((b < 68 || b >= 80) && p[b] != 0) clean = false;
      }
      if (!clean) {
        faults.push_back("free directory entry " + std::to_string(i * e.entriesPerSector_ + k) +
                         " is not zeroed");
      }
    }
  }

  // A tail past the last sector in use is a change that was cut short (a
  // killed writer's) or space a writer kept for a reader of an older state;
  // the next writer cuts it. While a writer works, the tail is its own.
  if (e.fileSectors_ > e.end_ && readOnly_ && !(sharing_ && sharing_->writerPresent())) {
    faults.push_back("the file ends " + std::to_string((e.fileSectors_ - e.end_) * e.sectorSize_) +
                     " bytes past its last sector in use (left by an interrupted change, or kept for "
                     "a reader); the next change to the file cuts them off");
  }

  // Free space: every allocated sector belongs to a chain, nothing past the end.
  for (size_t s = 0; s < e.fat_.size(); ++s) {
    bool used = e.fat_[s] != kFreeSect;
    if (used && s >= e.fileSectors_) {
      faults.push_back("sector " + std::to_string(s) + " is past the end of the file but not free");
    } else if (used && !owned[s]) {
      faults.push_back("sector " + std::to_string(s) + " is allocated but in no chain");
    }
    if (faults.size() > 1000) break;
  }
  for (size_t m = 0; m < e.miniFat_.size(); ++m) {
    if (e.miniFat_[m] != kFreeSect && !miniOwned[m]) {
      faults.push_back("mini sector " + std::to_string(m) + " is allocated but in no stream");
    }
    if (faults.size() > 1000) break;
  }
  return report;
}

}  // namespace tamber::storage::detail
