// The public face of the engine: every call turns internal failures into
// results, and std::bad_alloc into an out-of-memory error.

#include "storage/compound_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/atomic_file.h"
#include "platform/utf.h"
#include "storage/engine.h"

namespace tamber::storage {

using detail::Engine;
using detail::Failure;

namespace {

// The file that will replace `real` once complete (`tmp`), and the engine's
// handle on it, locked for writing.
Result<std::unique_ptr<FileIo>> beginReplacement(const std::filesystem::path& real, AtomicFile& tmp) {
  auto started = AtomicFile::begin(real);
  if (!started) return started.error();
  tmp = std::move(started.value());
  int fd = ::fcntl(tmp.fd(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return Error{Errc::io, real.string() + ": " + systemMessage(errno)};
  return adoptPosixFile(fd, real);
}

template <class F>
auto guarded(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const Failure& e) {
    return e.error;
  } catch (const std::bad_alloc&) {
    return Error{Errc::io, "out of memory"};
  }
}

// The same, holding the engine's lock.
template <class F>
auto guarded(Engine& engine, F&& f) -> decltype(f()) {
  std::lock_guard<std::recursive_mutex> hold(engine.mutex());
  return guarded(std::forward<F>(f));
}

Status run(Engine& engine, auto&& f) {
  return guarded(engine, [&]() -> Status {
    f();
    return {};
  });
}

}  // namespace

Status validateName(std::string_view name) {
  auto u = utf8ToUtf16(name);
  if (!u) return Error{Errc::invalid_name, "the name is not valid UTF-8"};
  if (u->empty()) return Error{Errc::invalid_name, "the name is empty"};
  if (u->size() > kMaxNameUnits) {
    return Error{Errc::invalid_name,
                 "the name \"" + std::string(name) + "\" is longer than 31 characters"};
  }
  for (char16_t c : *u) {
    if (c == u'/' || c == u'\\' || c == u':' || c == u'!') {
      return Error{Errc::invalid_name,
                   "the name \"" + std::string(name) + "\" holds one of / \\ : !"};
    }
    if (c == 0) return Error{Errc::invalid_name, "the name holds a NUL character"};
  }
  return {};
}

// ---------------------------------------------------------------------------
// CompoundFile

CompoundFile::CompoundFile(std::shared_ptr<Engine> e) : engine_(std::move(e)) {}
CompoundFile::CompoundFile(CompoundFile&&) noexcept = default;
CompoundFile& CompoundFile::operator=(CompoundFile&&) noexcept = default;
CompoundFile::~CompoundFile() = default;

Result<CompoundFile> CompoundFile::create(std::unique_ptr<FileIo> io, int version) {
  return guarded([&]() -> Result<CompoundFile> {
    return CompoundFile(Engine::create(std::move(io), version));
  });
}

Result<CompoundFile> CompoundFile::open(std::unique_ptr<FileIo> io, OpenMode mode) {
  return guarded([&]() -> Result<CompoundFile> {
    return CompoundFile(Engine::open(std::move(io), mode == OpenMode::read_only));
  });
}

Result<CompoundFile> CompoundFile::create(const std::filesystem::path& path, int version) {
  // A file that another program holds is not replaced.
  std::filesystem::path real = resolveLinks(path);
  std::unique_ptr<FileIo> existing;
  std::error_code ec;
  if (std::filesystem::exists(real, ec)) {
    auto held = openPosixFile(real, OpenMode::read_write);
    if (!held && held.error().code == Errc::locked) return held.error();
    if (held) existing = std::move(held.value());
  }
  // The new file is made complete beside the old one and put in its place
  // (the real file behind a link, with the old file's mode), so that a crash
  // leaves either the old file or the new one, never half of one.
  AtomicFile tmp;
  auto io = beginReplacement(real, tmp);
  if (!io) return Error{io.error().code, path.string() + ": " + io.message()};
  auto f = create(std::move(io.value()), version);
  if (f) {
    if (Status st = tmp.commit(); !st) f = st.error();
  }
  if (!f) return Error{f.error().code, path.string() + ": " + f.message()};
  return f;
}

Result<CompoundFile> CompoundFile::createUnnamed(const std::filesystem::path& path, AtomicFile& file, int version) {
  auto io = beginReplacement(resolveLinks(path), file);
  if (!io) return Error{io.error().code, path.string() + ": " + io.message()};
  auto f = create(std::move(io.value()), version);
  if (!f) return Error{f.error().code, path.string() + ": " + f.message()};
  return f;
}

Result<CompoundFile> CompoundFile::open(const std::filesystem::path& path, OpenMode mode) {
  auto io = openPosixFile(path, mode);
  if (!io) return io.error();
  auto f = open(std::move(io.value()), mode);
  if (!f) return Error{f.error().code, path.string() + ": " + f.message()};
  // The writer may clear what a killed writer left behind (a reader might
  // take a temporary that a writer is still making for one left over).
  if (mode == OpenMode::read_write) removeStaleTemporaries(path);
  return f;
}

Storage CompoundFile::root() {
  std::lock_guard<std::recursive_mutex> hold(engine_->mutex());
  return Storage(engine_, 0);
}

Status CompoundFile::commit() {
  return run(*engine_, [&] { engine_->commit(); });
}

Status CompoundFile::revert() {
  return run(*engine_, [&] { engine_->revert(); });
}

bool CompoundFile::readOnly() const { return engine_->readOnly(); }
FileInfo CompoundFile::info() const {
  std::lock_guard<std::recursive_mutex> hold(engine_->mutex());
  return engine_->info();
}

Status CompoundFile::readAt(uint64_t offset, void* buf, size_t n) const {
  auto r = engine_->readRaw(offset, buf, n);
  if (!r) return r.status();
  if (r.value() < n) return Error{Errc::corrupt, "the file is damaged: it is truncated"};
  return {};
}

CheckReport CompoundFile::check() {
  std::lock_guard<std::recursive_mutex> hold(engine_->mutex());
  try {
    return engine_->check();
  } catch (const Failure& e) {
    return CheckReport{{e.error.message}};
  } catch (const std::bad_alloc&) {
    return CheckReport{{"out of memory"}};
  }
}

// ---------------------------------------------------------------------------
// Storage

Storage::Storage(std::shared_ptr<Engine> engine, uint32_t id)
    : engine_(std::move(engine)), id_(id), serial_(engine_->serialOf(id)) {}

Result<uint32_t> Storage::lookup(std::string_view name, ElementType want) const {
  const char* kind = want == ElementType::stream ? "stream" : "storage";
  uint32_t id = engine_->find(id_, name);
  if (id == detail::kNoStream) {
    return Error{Errc::not_found, std::string("no ") + kind + " named \"" + std::string(name) + "\""};
  }
  if (engine_->elementOf(id).type != want) {
    return Error{Errc::invalid_argument, "\"" + std::string(name) + "\" is a " +
                                             (want == ElementType::stream ? "storage" : "stream")};
  }
  return id;
}

Result<std::vector<Element>> Storage::elements() const {
  return guarded(*engine_, [&]() -> Result<std::vector<Element>> {
    engine_->requireStorage(id_, serial_);
    return engine_->elements(id_);
  });
}

Result<Element> Storage::stat(std::string_view name) const {
  return guarded(*engine_, [&]() -> Result<Element> {
    engine_->requireStorage(id_, serial_);
    uint32_t id = engine_->find(id_, name);
    if (id == detail::kNoStream) {
      return Error{Errc::not_found, "no element named \"" + std::string(name) + "\""};
    }
    return engine_->elementOf(id);
  });
}

Result<Stream> Storage::openStream(std::string_view name) {
  return guarded(*engine_, [&]() -> Result<Stream> {
    engine_->requireStorage(id_, serial_);
    auto id = lookup(name, ElementType::stream);
    if (!id) return id.error();
    return Stream(engine_, id.value());
  });
}

Result<StreamLayout> Storage::streamLayout(std::string_view name) {
  return guarded(*engine_, [&]() -> Result<StreamLayout> {
    engine_->requireStorage(id_, serial_);
    auto id = lookup(name, ElementType::stream);
    if (!id) return id.error();
    return engine_->layoutOfEntry(id.value());
  });
}

Result<Stream> Storage::createStream(std::string_view name) {
  return guarded(*engine_, [&]() -> Result<Stream> {
    engine_->requireStorage(id_, serial_);
    return Stream(engine_, engine_->createElement(id_, name, detail::kTypeStream));
  });
}

Result<Storage> Storage::openStorage(std::string_view name) {
  return guarded(*engine_, [&]() -> Result<Storage> {
    engine_->requireStorage(id_, serial_);
    auto id = lookup(name, ElementType::storage);
    if (!id) return id.error();
    return Storage(engine_, id.value());
  });
}

Result<Storage> Storage::createStorage(std::string_view name) {
  return guarded(*engine_, [&]() -> Result<Storage> {
    engine_->requireStorage(id_, serial_);
    return Storage(engine_, engine_->createElement(id_, name, detail::kTypeStorage));
  });
}

Status Storage::destroy(std::string_view name) {
  return run(*engine_, [&] {
    engine_->requireStorage(id_, serial_);
    engine_->destroy(id_, name);
  });
}

Status Storage::rename(std::string_view from, std::string_view to) {
  return run(*engine_, [&] {
    engine_->requireStorage(id_, serial_);
    engine_->rename(id_, from, to);
  });
}

// ---------------------------------------------------------------------------
// Stream

Stream::Stream() = default;
Stream::Stream(std::shared_ptr<Engine> engine, uint32_t id)
    : engine_(std::move(engine)), state_(engine_->openStream(id)) {}
Stream::Stream(Stream&&) noexcept = default;
Stream& Stream::operator=(Stream&& o) noexcept {
  if (this != &o) {
    close();
    engine_ = std::move(o.engine_);
    state_ = std::move(o.state_);
  }
  return *this;
}
Stream::~Stream() { close(); }

void Stream::close() {
  if (!state_) return;
  {
    std::lock_guard<std::recursive_mutex> hold(engine_->mutex());
    engine_->closeStream(*state_);
  }
  state_.reset();
  engine_.reset();
}

static Error notOpen() { return Error{Errc::invalid_argument, "the stream is not open"}; }

Result<size_t> Stream::read(void* buf, size_t n) {
  if (!state_) return notOpen();
  return guarded(*engine_, [&]() -> Result<size_t> { return engine_->streamRead(*state_, buf, n); });
}

Status Stream::write(const void* buf, size_t n) {
  if (!state_) return notOpen();
  return run(*engine_, [&] { engine_->streamWrite(*state_, buf, n); });
}

Result<uint64_t> Stream::seek(int64_t offset, Whence whence) {
  if (!state_) return notOpen();
  int64_t base = whence == Whence::set       ? 0
                 : whence == Whence::current ? static_cast<int64_t>(state_->pos)
                                             : static_cast<int64_t>(state_->size);
  int64_t pos = base + offset;
  if (pos < 0) return Error{Errc::invalid_argument, "seek before the start of the stream"};
  state_->pos = static_cast<uint64_t>(pos);
  return state_->pos;
}

uint64_t Stream::position() const { return state_ ? state_->pos : 0; }
uint64_t Stream::size() const { return state_ ? state_->size : 0; }

Status Stream::setSize(uint64_t size) {
  if (!state_) return notOpen();
  return run(*engine_, [&] { engine_->streamSetSize(*state_, size); });
}

Status Stream::commit() {
  if (!state_) return notOpen();
  return run(*engine_, [&] { engine_->streamCommit(*state_); });
}

Status Stream::revert() {
  if (!state_) return notOpen();
  return run(*engine_, [&] { engine_->streamRevert(*state_); });
}

Result<StreamLayout> Stream::layout() const {
  if (!state_) return notOpen();
  return guarded(*engine_, [&]() -> Result<StreamLayout> { return engine_->layoutOf(*state_); });
}

Result<std::string> Stream::readAll() {
  if (!state_) return notOpen();
  return guarded(*engine_, [&]() -> Result<std::string> {
    std::string out(state_->size, '\0');
    state_->pos = 0;
    size_t n = engine_->streamRead(*state_, out.data(), out.size());
    out.resize(n);
    return out;
  });
}

// ---------------------------------------------------------------------------
// Compact

namespace {

Status copyTree(Storage& from, Storage& to) {
  auto list = from.elements();
  if (!list) return list.status();
  for (const Element& el : list.value()) {
    if (el.type == ElementType::storage) {
      auto src = from.openStorage(el.name);
      if (!src) return src.status();
      auto dst = to.createStorage(el.name);
      if (!dst) return dst.status();
      if (Status s = copyTree(src.value(), dst.value()); !s) return s;
      continue;
    }
    auto src = from.openStream(el.name);
    if (!src) return src.status();
    auto dst = to.createStream(el.name);
    if (!dst) return dst.status();
    std::vector<char> buf(1 << 20);
    for (;;) {
      auto n = src->read(buf.data(), buf.size());
      if (!n) return n.status();
      if (n.value() == 0) break;
      if (Status s = dst->write(buf.data(), n.value()); !s) return s;
    }
    if (Status s = dst->commit(); !s) return s;
  }
  return {};
}

}  // namespace

Status compact(const std::filesystem::path& path) {
  std::filesystem::path real = resolveLinks(path);
  auto src = CompoundFile::open(real, OpenMode::read_write);
  if (!src) return src.status();
  // The copy is an unnamed file until it is complete: a kill leaves nothing.
  AtomicFile tmp;
  auto io = beginReplacement(real, tmp);
  if (!io) return io.status();
  auto dst = CompoundFile::create(std::move(io.value()), src->info().version);
  if (!dst) return dst.status();
  Storage from = src->root();
  Storage to = dst->root();
  Status s = copyTree(from, to);
  if (s) s = dst->commit();
  if (s) s = tmp.commit();  // syncs, keeps the mode, replaces the original
  return s;
}

}  // namespace tamber::storage
