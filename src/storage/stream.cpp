// Stream handles: private changes until commit.
//
// A stream of cutoff size or more keeps a vector of its sectors. Sectors it
// shares with the working state are never written: a write copies the sector
// to one the handle reserves. Below the cutoff the whole content is in memory
// and goes to the mini stream at commit.

#include <algorithm>
#include <cstring>

#include "storage/engine.h"

namespace tamber::storage::detail {

namespace {
uint64_t ceilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }
}  // namespace

void Engine::requireStream(const StreamState& s) const {
  if (s.generation != generation_) {
    fail(Errc::broken, "the stream was closed when its file was reverted");
  }
  requireUsable();
}

void Engine::resetStreamState(StreamState& s) {
  const DirEntry& e = entries_[s.id];
  s.size = e.size;
  s.dirty = false;
  s.cacheIndex = -1;
  s.cacheDirty = false;
  s.sectors.clear();
  s.states.clear();
  s.mem.clear();
  s.big = s.size >= kMiniStreamCutoff;
  if (!s.big) {
    s.mem = readMiniStream(e.start, s.size);
    return;
  }
  s.sectors = loadChain(e.start, "stream");
  uint64_t need = ceilDiv(s.size, sectorSize_);
  if (s.sectors.size() < need) {
    throw Failure{{Errc::corrupt, "the file is damaged: a stream is shorter than its size"}};
  }
  s.sectors.resize(need);
  s.states.assign(need, kShared);
}

std::unique_ptr<StreamState> Engine::openStream(uint32_t id) {
  requireUsable();
  if (entries_[id].type != kTypeStream) fail(Errc::invalid_argument, "not a stream");
  if (open_.count(id)) fail(Errc::in_use, "the stream is open already");
  auto s = std::make_unique<StreamState>();
  s->id = id;
  s->generation = generation_;
  s->cache.resize(sectorSize_);
  resetStreamState(*s);
  open_[id] = s.get();
  return s;
}

StreamLayout Engine::layoutOfEntry(uint32_t id) {
  requireUsable();
  if (entries_[id].type != kTypeStream) fail(Errc::invalid_argument, "not a stream");
  StreamState s;
  s.id = id;
  s.generation = generation_;
  resetStreamState(s);
  return layoutOf(s);
}

void Engine::closeStream(StreamState& s) {
  if (s.generation != generation_) return;
  releaseOwned(s, 0);
  open_.erase(s.id);
  s.generation = 0;
}

void Engine::releaseOwned(StreamState& s, size_t from) {
  for (size_t i = from; i < s.sectors.size(); ++i) {
    if (s.states[i] == kOwned) releaseReserved(s.sectors[i]);
  }
  if (s.cacheIndex >= static_cast<int64_t>(from)) {
    s.cacheIndex = -1;
    s.cacheDirty = false;
  }
  s.sectors.resize(std::min(s.sectors.size(), from));
  s.states.resize(s.sectors.size());
}

void Engine::flushCache(StreamState& s) {
  if (s.cacheIndex < 0 || !s.cacheDirty) return;
  writeBytes(sectorOffset(s.sectors[s.cacheIndex]), s.cache.data(), sectorSize_);
  s.cacheDirty = false;
}

void Engine::makeOwned(StreamState& s, size_t index) {
  if (s.states[index] == kOwned) return;
  s.sectors[index] = allocReserved();
  s.states[index] = kOwned;
}

void Engine::loadCache(StreamState& s, size_t index) {
  if (s.cacheIndex == static_cast<int64_t>(index)) return;
  flushCache(s);
  s.cacheIndex = -1;
  if (s.states[index] == kZero) {
    std::fill(s.cache.begin(), s.cache.end(), 0);
  } else {
    readSector(s.sectors[index], s.cache.data());
  }
  // The cached sector will be written; a shared one moves to a sector of ours.
  makeOwned(s, index);
  s.cacheIndex = static_cast<int64_t>(index);
}

StreamLayout Engine::layoutOf(const StreamState& s) const {
  requireStream(s);
  if (s.dirty || s.cacheDirty) fail(Errc::in_use, "the stream has changes not committed");
  StreamLayout out;
  out.size = s.size;
  if (!s.big) {
    out.small = true;
    out.bytes = s.mem;
    return out;
  }
  uint64_t left = s.size;
  for (size_t i = 0; i < s.sectors.size() && left > 0; ++i) {
    if (s.states[i] != kShared) fail(Errc::in_use, "the stream has changes not committed");
    if (s.sectors[i] >= fileSectors_) {
      fail(Errc::corrupt, "the file is damaged: sector " + std::to_string(s.sectors[i]) +
                              " past the end of the file");
    }
    uint64_t take = std::min<uint64_t>(sectorSize_, left);
    uint64_t at = sectorOffset(s.sectors[i]);
    if (!out.runs.empty() && out.runs.back().offset + out.runs.back().length == at) {
      out.runs.back().length += take;
    } else {
      out.runs.push_back({at, take});
    }
    left -= take;
  }
  return out;
}

void Engine::readBig(StreamState& s, uint64_t off, uint8_t* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    uint64_t pos = off + done;
    size_t idx = pos >> shift_;
    size_t in = pos & (sectorSize_ - 1);
    size_t take = std::min<size_t>(sectorSize_ - in, n - done);
    if (s.cacheIndex == static_cast<int64_t>(idx)) {
      std::memcpy(buf + done, s.cache.data() + in, take);
    } else if (s.states[idx] == kZero) {
      std::memset(buf + done, 0, take);
    } else {
      // Read a run of consecutive sectors in one call.
      size_t k = idx;
      size_t bytes = take;
      while (done + bytes < n && k + 1 < s.sectors.size() && s.sectors[k + 1] == s.sectors[k] + 1 &&
             s.states[k + 1] != kZero && s.cacheIndex != static_cast<int64_t>(k + 1)) {
        ++k;
        bytes += std::min<size_t>(sectorSize_, n - done - bytes);
      }
      readBytes(sectorOffset(s.sectors[idx]) + in, buf + done, bytes);
      take = bytes;
    }
    done += take;
  }
}

void Engine::writeBig(StreamState& s, uint64_t off, const uint8_t* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    uint64_t pos = off + done;
    size_t idx = pos >> shift_;
    size_t in = pos & (sectorSize_ - 1);
    size_t take = std::min<size_t>(sectorSize_ - in, n - done);
    if (take < sectorSize_) {
      loadCache(s, idx);
      std::memcpy(s.cache.data() + in, buf + done, take);
      s.cacheDirty = true;
      done += take;
      continue;
    }
    // Whole sectors go straight to disk, runs of consecutive ones in one call.
    size_t count = 0;
    while (done + (count + 1) * sectorSize_ <= n && idx + count < s.sectors.size()) {
      size_t k = idx + count;
      if (s.cacheIndex == static_cast<int64_t>(k)) {
        s.cacheIndex = -1;
        s.cacheDirty = false;
      }
      makeOwned(s, k);
      if (count > 0 && s.sectors[k] != s.sectors[k - 1] + 1) break;
      ++count;
    }
    writeBytes(sectorOffset(s.sectors[idx]), buf + done, count * sectorSize_);
    done += count * sectorSize_;
  }
}

size_t Engine::streamRead(StreamState& s, void* buf, size_t n) {
  requireStream(s);
  if (s.pos >= s.size) return 0;
  n = static_cast<size_t>(std::min<uint64_t>(n, s.size - s.pos));
  if (s.big) {
    readBig(s, s.pos, static_cast<uint8_t*>(buf), n);
  } else {
    std::memcpy(buf, s.mem.data() + s.pos, n);
  }
  s.pos += n;
  return n;
}

void Engine::streamWrite(StreamState& s, const void* buf, size_t n) {
  requireStream(s);
  requireWritable();
  if (n == 0) return;
  uint64_t end = s.pos + n;
  if (end < s.pos) fail(Errc::too_large, "stream position overflow");
  if (end > s.size) streamSetSize(s, end);
  if (s.big) {
    writeBig(s, s.pos, static_cast<const uint8_t*>(buf), n);
  } else {
    std::memcpy(s.mem.data() + s.pos, buf, n);
  }
  s.pos = end;
  s.dirty = true;
}

void Engine::streamSetSize(StreamState& s, uint64_t size) {
  requireStream(s);
  requireWritable();
  if (size == s.size) return;
  if (version_ == 3 && size >= kVersion3Limit) {
    fail(Errc::too_large, "a version 3 compound file cannot hold a stream of 2 GB or more");
  }
  s.dirty = true;
  if (size < kMiniStreamCutoff) {
    if (s.big) {
      std::string data(size, '\0');
      readBig(s, 0, reinterpret_cast<uint8_t*>(data.data()), size);
      releaseOwned(s, 0);
      s.big = false;
      s.mem = std::move(data);
    } else {
      s.mem.resize(size, '\0');
    }
    s.size = size;
    return;
  }
  if (!s.big) {
    // Moving across the cutoff: the content moves from memory to sectors.
    std::string data = std::move(s.mem);
    s.mem.clear();
    s.big = true;
    s.sectors.assign(ceilDiv(size, sectorSize_), kFreeSect);
    s.states.assign(s.sectors.size(), kZero);
    s.size = size;
    if (!data.empty()) writeBig(s, 0, reinterpret_cast<const uint8_t*>(data.data()), data.size());
    return;
  }
  if (size < s.size) {
    releaseOwned(s, ceilDiv(size, sectorSize_));
    s.size = size;
    return;
  }
  // Growing: the rest of the last sector must read as zeros from now on.
  uint64_t tail = s.size & (sectorSize_ - 1);
  if (tail != 0 && s.states.back() != kZero) {
    size_t idx = s.sectors.size() - 1;
    loadCache(s, idx);
    std::fill(s.cache.begin() + static_cast<ptrdiff_t>(tail), s.cache.end(), 0);
    s.cacheDirty = true;
  }
  size_t count = ceilDiv(size, sectorSize_);
  s.sectors.resize(count, kFreeSect);
  s.states.resize(count, kZero);
  s.size = size;
}

void Engine::streamCommit(StreamState& s) {
  requireStream(s);
  if (!s.dirty) return;
  requireWritable();
  flushCache(s);
  DirEntry& e = entries_[s.id];
  // Give back what the old content used and the new one does not share.
  if (e.size < kMiniStreamCutoff) {
    freeMiniChain(e.start, e.size);
  } else {
    std::vector<uint32_t> old = loadChain(e.start, "stream");
    for (size_t i = 0; i < old.size(); ++i) {
      bool shared = s.big && i < s.sectors.size() && s.states[i] == kShared;
      if (!shared) freeSector(old[i]);
    }
  }
  uint32_t start;
  if (!s.big) {
    start = s.size == 0 ? kEndOfChain : writeMiniStream(s.mem);
  } else {
    // Sectors never written become real zero sectors, written in runs.
    std::vector<uint8_t> zeros;
    for (size_t i = 0; i < s.sectors.size();) {
      if (s.states[i] != kZero) {
        ++i;
        continue;
      }
      if (zeros.empty()) zeros.assign(size_t{256} * sectorSize_, 0);
      size_t run = 0;
      while (i + run < s.sectors.size() && s.states[i + run] == kZero && run < 256) {
        s.sectors[i + run] = allocReserved();
        s.states[i + run] = kOwned;
        if (run > 0 && s.sectors[i + run] != s.sectors[i + run - 1] + 1) {
          ++run;
          break;
        }
        ++run;
      }
      // The last sector of the run may stand apart; write it on its own.
      size_t contiguous = run;
      if (run > 1 && s.sectors[i + run - 1] != s.sectors[i + run - 2] + 1) contiguous = run - 1;
      writeBytes(sectorOffset(s.sectors[i]), zeros.data(), contiguous * sectorSize_);
      if (contiguous < run) {
        writeBytes(sectorOffset(s.sectors[i + run - 1]), zeros.data(), sectorSize_);
      }
      i += run;
    }
    for (size_t i = 0; i < s.sectors.size(); ++i) {
      if (s.states[i] == kOwned) reserved_[s.sectors[i]] = 0;
      setFat(s.sectors[i], i + 1 < s.sectors.size() ? s.sectors[i + 1] : kEndOfChain);
      s.states[i] = kShared;
    }
    start = s.sectors[0];
  }
  // The cached sector is part of the working state now; the next write to it
  // must copy it again.
  s.cacheIndex = -1;
  s.cacheDirty = false;
  e.start = start;
  e.size = s.size;
  markDirty(s.id);
  s.dirty = false;
}

void Engine::streamRevert(StreamState& s) {
  requireStream(s);
  releaseOwned(s, 0);
  resetStreamState(s);
}

}  // namespace tamber::storage::detail
