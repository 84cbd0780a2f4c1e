#include "app/undo.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/digest.h"

namespace tamber::app {

namespace {

constexpr size_t kChunk = 1 << 20;

Error ioError(const char* what) { return Error{Errc::io, std::string(what) + ": " + std::strerror(errno)}; }

}  // namespace

// The kept stream bytes: records appended to an unnamed file in the folder
// for temporary files, each known by its place, length and SHA-256.
class UndoHistory::Blobs {
 public:
  struct Blob {
    uint64_t offset = 0, length = 0;
    std::array<uint8_t, 32> digest{};
  };

  ~Blobs() {
    if (fd_ >= 0) ::close(fd_);
  }

  Status open() {
    if (fd_ >= 0) return {};
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp && *tmp == '/' ? tmp : "/tmp";
    fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      // A file system without unnamed files: a named one, removed at once.
      std::string name = dir + "/tamber-undo-XXXXXX";
      fd_ = ::mkostemp(name.data(), O_CLOEXEC);
      if (fd_ < 0) return ioError("cannot keep what undo needs");
      ::unlink(name.c_str());
    }
    return {};
  }

  // Copies a stream into a new record.
  Result<uint64_t> add(storage::Stream& s) {
    if (Status st = open(); !st) return st.error();
    Blob b;
    b.offset = end_;
    Sha256 sha;
    std::string buffer(kChunk, '\0');
    for (;;) {
      auto n = s.read(buffer.data(), buffer.size());
      if (!n) return n.error();
      if (*n == 0) break;
      sha.update(buffer.data(), *n);
      if (Status st = writeAt(buffer.data(), *n, end_); !st) return st.error();
      end_ += *n;
      b.length += *n;
    }
    b.digest = sha.finish();
    blobs_.push_back(b);
    return blobs_.size() - 1;
  }

  // Writes a record as the whole content of `s`.
  Status copyTo(uint64_t index, storage::Stream& s) const {
    const Blob& b = blobs_.at(index);
    std::string buffer(kChunk, '\0');
    for (uint64_t done = 0; done < b.length;) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, b.length - done));
      ssize_t got = ::pread(fd_, buffer.data(), n, static_cast<off_t>(b.offset + done));
      if (got <= 0) return ioError("cannot read back what undo kept");
      if (Status st = s.write(buffer.data(), static_cast<size_t>(got)); !st) return st;
      done += static_cast<uint64_t>(got);
    }
    return {};
  }

  // Gives the space of a record back to the file system.
  void release(uint64_t index) {
    Blob& b = blobs_.at(index);
    if (b.length) (void)::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, b.offset, b.length);
    b.length = 0;
  }

  const Blob& at(uint64_t index) const { return blobs_.at(index); }

  void clear() {
    blobs_.clear();
    end_ = 0;
    if (fd_ >= 0) (void)::ftruncate(fd_, 0);
  }

 private:
  Status writeAt(const char* p, size_t n, uint64_t at) {
    while (n) {
      ssize_t w = ::pwrite(fd_, p, n, static_cast<off_t>(at));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return ioError("cannot keep what undo needs");
      p += w;
      n -= static_cast<size_t>(w);
      at += static_cast<uint64_t>(w);
    }
    return {};
  }

  int fd_ = -1;
  uint64_t end_ = 0;
  std::vector<Blob> blobs_;
};

UndoHistory::UndoHistory() : blobs_(std::make_unique<Blobs>()) {}
UndoHistory::~UndoHistory() = default;

Result<std::optional<uint64_t>> UndoHistory::keep(catalog::Library& library, const std::string& stream) {
  auto root = library.file().root();
  if (!root.contains(stream)) return std::optional<uint64_t>();
  auto s = root.openStream(stream);
  if (!s) return s.error();
  auto index = blobs_->add(*s);
  if (!index) return index.error();
  return std::optional<uint64_t>(*index);
}

namespace {

Result<std::set<std::string>> rootNames(catalog::Library& library) {
  auto elements = library.file().root().elements();
  if (!elements) return elements.error();
  std::set<std::string> names;
  for (auto& e : *elements) names.insert(std::move(e.name));
  return names;
}

}  // namespace

Result<UndoHistory::Recording> UndoHistory::begin(catalog::Library& library, std::string label,
                                                  std::vector<std::string> streams) {
  Recording r;
  auto names = rootNames(library);
  if (!names) return names.error();
  r.rootNames = std::move(*names);
  r.label = std::move(label);
  r.catalogBefore = library.catalog().text();
  for (const auto& name : streams) {
    if (r.before.count(name)) continue;
    auto kept = keep(library, name);
    if (!kept) return kept.error();
    r.before[name] = *kept;
    r.streams.push_back(name);
  }
  r.active_ = true;
  return r;
}

Status UndoHistory::commit(Recording& recording, catalog::Library& library,
                           const std::vector<std::string>& madeStreams) {
  if (!recording.active_) return {};
  recording.active_ = false;
  Step step;
  step.label = std::move(recording.label);
  step.catalogBefore = std::move(recording.catalogBefore);
  step.catalogAfter = library.catalog().text();
  step.before = std::move(recording.before);
  std::vector<std::string> names = std::move(recording.streams);
  names.insert(names.end(), madeStreams.begin(), madeStreams.end());
  auto now = rootNames(library);
  if (!now) return now.error();
  for (const auto& name : *now) {
    if (!recording.rootNames.count(name)) names.push_back(name);
  }
  for (const auto& name : recording.rootNames) {
    if (!now->count(name) && !step.before.count(name)) {
      clear();
      return Error{Errc::unsupported, "this change cannot be undone: " + name + " was removed unrecorded"};
    }
  }
  for (const auto& name : names) {
    if (step.after.count(name)) continue;
    auto kept = keep(library, name);
    if (!kept) return kept.error();
    step.after[name] = *kept;
    if (!step.before.count(name)) step.before[name] = std::nullopt;  // made by the change
  }
  // Whether anything changed: the catalog text, or a stream's presence or bytes.
  bool changed = step.catalogBefore != step.catalogAfter;
  for (const auto& [name, was] : step.before) {
    const auto& now = step.after[name];
    if (was.has_value() != now.has_value()) changed = true;
    if (was && now && (blobs_->at(*was).length != blobs_->at(*now).length ||
                       blobs_->at(*was).digest != blobs_->at(*now).digest)) {
      changed = true;
    }
  }
  if (!changed) {
    for (const auto& [name, b] : step.before) if (b) blobs_->release(*b);
    for (const auto& [name, b] : step.after) if (b) blobs_->release(*b);
    return {};
  }
  for (const auto& [name, b] : step.before) if (b) step.bytes += blobs_->at(*b).length;
  for (const auto& [name, b] : step.after) if (b) step.bytes += blobs_->at(*b).length;
  for (Step& s : undone_) {
    for (const auto& [name, b] : s.before) if (b) blobs_->release(*b);
    for (const auto& [name, b] : s.after) if (b) blobs_->release(*b);
  }
  undone_.clear();
  done_.push_back(std::move(step));
  trim();
  return {};
}

void UndoHistory::trim() {
  auto total = [&] {
    uint64_t n = 0;
    for (const auto& s : done_) n += s.bytes;
    for (const auto& s : undone_) n += s.bytes;
    return n;
  };
  while (done_.size() > 1 && (done_.size() > kMaxSteps || total() > kMaxBytes)) {
    for (const auto& [name, b] : done_.front().before) if (b) blobs_->release(*b);
    for (const auto& [name, b] : done_.front().after) if (b) blobs_->release(*b);
    done_.pop_front();
  }
}

Status UndoHistory::apply(catalog::Library& library, const std::string& catalogText,
                          const std::map<std::string, std::optional<uint64_t>>& streams) {
  if (library.readOnly()) return Error{Errc::read_only, library.path().string() + ": the library is read-only"};
  // The catalog is checked first: a text that does not load changes nothing.
  catalog::CatalogDocument check;
  if (Status st = check.loadText(catalogText); !st) return st;
  auto root = library.file().root();
  for (const auto& [name, blob] : streams) {
    if (!blob) {
      if (root.contains(name)) {
        if (Status st = root.destroy(name); !st) return st;
      }
      continue;
    }
    auto s = root.createStream(name);
    if (!s) return s.error();
    if (Status st = blobs_->copyTo(*blob, *s); !st) return st;
    if (Status st = s->commit(); !st) return st;
  }
  library.noteStreamsChanged();
  if (Status st = library.catalog().loadText(catalogText); !st) return st;
  library.catalog().setModified();
  return {};
}

const std::string& UndoHistory::undoLabel() const {
  static const std::string none;
  return done_.empty() ? none : done_.back().label;
}

const std::string& UndoHistory::redoLabel() const {
  static const std::string none;
  return undone_.empty() ? none : undone_.back().label;
}

Status UndoHistory::undo(catalog::Library& library) {
  if (done_.empty()) return {};
  Step& s = done_.back();
  if (Status st = apply(library, s.catalogBefore, s.before); !st) return st;
  undone_.push_back(std::move(s));
  done_.pop_back();
  return {};
}

Status UndoHistory::redo(catalog::Library& library) {
  if (undone_.empty()) return {};
  Step& s = undone_.back();
  if (Status st = apply(library, s.catalogAfter, s.after); !st) return st;
  done_.push_back(std::move(s));
  undone_.pop_back();
  return {};
}

void UndoHistory::clear() {
  done_.clear();
  undone_.clear();
  blobs_->clear();
}

}  // namespace tamber::app
