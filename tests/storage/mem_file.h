// In-memory files for the storage tests: count bytes, fail the n-th write, and
// model a power cut (writes since the last sync may or may not have reached
// the disk).
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "storage/file_io.h"

namespace tamber::storage::testing {

// The shared state of a simulated disk; several FileIo objects may open it in
// turn (as a program would after a restart).
struct Disk {
  std::vector<uint8_t> current;  // what reads see
  std::vector<uint8_t> durable;  // what survives a power cut
  struct Pending {
    uint64_t off;
    std::vector<uint8_t> bytes;
    bool truncate = false;
  };
  std::vector<Pending> pending;  // writes since the last sync, in order
  uint64_t writes = 0;           // write calls so far
  uint64_t ops = 0;              // write and sync calls so far
  uint64_t bytesWritten = 0;
  uint64_t syncs = 0;
  uint64_t failAtWrite = 0;  // 0: never; else the write with this number fails
  // 0: never; else the process stops at the write or sync with this number:
  // it and every later write and sync fail.
  uint64_t stopAtOp = 0;
  bool stopped(uint64_t op) const { return stopAtOp && op >= stopAtOp; }

  // The file as it may look after a power cut: the durable image plus a random
  // subset of the pending writes, applied in order.
  std::vector<uint8_t> crashImage(std::mt19937& rng) const {
    std::vector<uint8_t> img = durable;
    std::bernoulli_distribution keep(0.5);
    for (const auto& p : pending) {
      if (!keep(rng)) continue;
      if (p.truncate) {
        img.resize(p.off);
        continue;
      }
      if (img.size() < p.off + p.bytes.size()) img.resize(p.off + p.bytes.size());
      std::memcpy(img.data() + p.off, p.bytes.data(), p.bytes.size());
    }
    return img;
  }
};

class MemFile final : public FileIo {
 public:
  explicit MemFile(std::shared_ptr<Disk> disk) : disk_(std::move(disk)) {}

  Result<size_t> read(uint64_t off, void* buf, size_t n) override {
    auto& c = disk_->current;
    if (off >= c.size()) return size_t{0};
    size_t take = static_cast<size_t>(std::min<uint64_t>(n, c.size() - off));
    std::memcpy(buf, c.data() + off, take);
    return take;
  }

  Status write(uint64_t off, const void* buf, size_t n) override {
    Disk& d = *disk_;
    ++d.writes;
    if (d.failAtWrite && d.writes == d.failAtWrite) return Error{Errc::io, "simulated write failure"};
    if (d.stopped(++d.ops)) return Error{Errc::io, "simulated stop"};
    if (d.current.size() < off + n) d.current.resize(off + n);
    std::memcpy(d.current.data() + off, buf, n);
    const auto* p = static_cast<const uint8_t*>(buf);
    d.pending.push_back({off, std::vector<uint8_t>(p, p + n)});
    d.bytesWritten += n;
    return {};
  }

  Status sync() override {
    Disk& d = *disk_;
    ++d.syncs;
    if (d.stopped(++d.ops)) return Error{Errc::io, "simulated stop"};
    d.durable = d.current;
    d.pending.clear();
    return {};
  }

  Status truncate(uint64_t size) override {
    // A stopped process cuts nothing either.
    if (disk_->stopAtOp && disk_->ops >= disk_->stopAtOp) return Error{Errc::io, "simulated stop"};
    disk_->current.resize(size);
    // Like a write, a truncation may or may not survive a power cut.
    disk_->pending.push_back({size, {}, true});
    return {};
  }

  Result<uint64_t> size() override { return static_cast<uint64_t>(disk_->current.size()); }

 private:
  std::shared_ptr<Disk> disk_;
};

inline std::unique_ptr<FileIo> memFile(const std::shared_ptr<Disk>& d) {
  return std::make_unique<MemFile>(d);
}

inline std::shared_ptr<Disk> diskWith(std::vector<uint8_t> image) {
  auto d = std::make_shared<Disk>();
  d->current = image;
  d->durable = std::move(image);
  return d;
}

// A sparse file in memory for the size-limit tests: blocks that are all zeros
// are not stored.
class SparseFile final : public FileIo {
 public:
  static constexpr size_t kBlock = 4096;

  Result<size_t> read(uint64_t off, void* buf, size_t n) override {
    if (off >= size_) return size_t{0};
    n = static_cast<size_t>(std::min<uint64_t>(n, size_ - off));
    auto* out = static_cast<uint8_t*>(buf);
    for (size_t done = 0; done < n;) {
      uint64_t pos = off + done;
      size_t in = pos % kBlock;
      size_t take = std::min(kBlock - in, n - done);
      auto it = blocks_.find(pos / kBlock);
      if (it == blocks_.end()) {
        std::memset(out + done, 0, take);
      } else {
        std::memcpy(out + done, it->second.data() + in, take);
      }
      done += take;
    }
    return n;
  }

  Status write(uint64_t off, const void* buf, size_t n) override {
    const auto* in = static_cast<const uint8_t*>(buf);
    for (size_t done = 0; done < n;) {
      uint64_t pos = off + done;
      size_t at = pos % kBlock;
      size_t take = std::min(kBlock - at, n - done);
      static const uint8_t kZeros[kBlock] = {};
      bool zero = std::memcmp(in + done, kZeros, take) == 0;
      auto it = blocks_.find(pos / kBlock);
      if (it == blocks_.end() && !zero) {
        it = blocks_.emplace(pos / kBlock, std::vector<uint8_t>(kBlock, 0)).first;
      }
      if (it != blocks_.end()) std::memcpy(it->second.data() + at, in + done, take);
      done += take;
    }
    size_ = std::max(size_, off + n);
    bytesWritten += n;
    return {};
  }

  Status sync() override { return {}; }
  Status truncate(uint64_t size) override {
    size_ = size;
    blocks_.erase(blocks_.lower_bound((size + kBlock - 1) / kBlock), blocks_.end());
    return {};
  }
  Result<uint64_t> size() override { return size_; }

  uint64_t bytesWritten = 0;

 private:
  std::map<uint64_t, std::vector<uint8_t>> blocks_;
  uint64_t size_ = 0;
};

// Forwards to a SparseFile that outlives it, so that a test can reopen.
class SharedFile final : public FileIo {
 public:
  explicit SharedFile(std::shared_ptr<FileIo> f) : f_(std::move(f)) {}
  Result<size_t> read(uint64_t o, void* b, size_t n) override { return f_->read(o, b, n); }
  Status write(uint64_t o, const void* b, size_t n) override { return f_->write(o, b, n); }
  Status sync() override { return f_->sync(); }
  Status truncate(uint64_t s) override { return f_->truncate(s); }
  Result<uint64_t> size() override { return f_->size(); }

 private:
  std::shared_ptr<FileIo> f_;
};

}  // namespace tamber::storage::testing
