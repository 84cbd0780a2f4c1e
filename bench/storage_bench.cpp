// Storage engine benchmarks: commit cost against library size, open time,
// and stream throughput against plain file I/O of the same bytes.
//
//   storage_bench [DIR] [--quick]
//
// Bytes are counted at the I/O interface; times are wall-clock, page cache
// warm. Figures go to standard output as a table.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "storage/compound_file.h"

using namespace tamber::storage;
using Clock = std::chrono::steady_clock;

namespace {

struct Counters {
  uint64_t bytesWritten = 0;
  uint64_t writes = 0;
  uint64_t syncs = 0;
};

class CountingFile final : public FileIo {
 public:
  CountingFile(std::unique_ptr<FileIo> inner, Counters* c) : inner_(std::move(inner)), c_(c) {}
  tamber::Result<size_t> read(uint64_t o, void* b, size_t n) override { return inner_->read(o, b, n); }
  tamber::Status write(uint64_t o, const void* b, size_t n) override {
    c_->bytesWritten += n;
    ++c_->writes;
    return inner_->write(o, b, n);
  }
  tamber::Status sync() override {
    ++c_->syncs;
    return inner_->sync();
  }
  tamber::Status truncate(uint64_t s) override { return inner_->truncate(s); }
  tamber::Result<uint64_t> size() override { return inner_->size(); }

 private:
  std::unique_ptr<FileIo> inner_;
  Counters* c_;
};

double seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

std::string bytes(size_t n, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::string s(n, '\0');
  for (size_t i = 0; i + 8 <= n; i += 8) {
    uint64_t v = rng();
    std::memcpy(&s[i], &v, 8);
  }
  return s;
}

void die(const std::string& what, const tamber::Status& s) {
  std::fprintf(stderr, "storage_bench: %s: %s\n", what.c_str(), s.message().c_str());
  std::exit(1);
}

void must(const tamber::Status& s) {
  if (!s) die("storage", s);
}

CompoundFile openCounted(const std::filesystem::path& p, Counters* c) {
  auto io = openPosixFile(p, OpenMode::read_write);
  if (!io) die("open", io.status());
  auto f = CompoundFile::open(std::make_unique<CountingFile>(std::move(io.value()), c),
                              OpenMode::read_write);
  if (!f) die("open", f.status());
  return std::move(f.value());
}

// A library of about `total` bytes in `streams` streams spread over 50
// storages, like the item streams of a large catalogue.
void buildLibrary(const std::filesystem::path& p, uint64_t total, size_t streams) {
  auto f = CompoundFile::create(p);
  if (!f) die("create", f.status());
  Storage root = f->root();
  std::vector<Storage> dirs;
  for (int i = 0; i < 50; ++i) dirs.push_back(root.createStorage("d" + std::to_string(i)).value());
  uint64_t avg = total / streams;
  std::string pool = bytes(std::max<uint64_t>(avg * 4, 1 << 20), 1);
  std::mt19937 rng(2);
  for (size_t i = 0; i < streams; ++i) {
    // Many small streams and a few large ones, averaging `avg`.
    size_t n = i % 10 == 0 ? static_cast<size_t>(avg * 5.5) : static_cast<size_t>(avg / 2);
    n = std::min(n, pool.size());
    auto s = dirs[i % 50].createStream("s" + std::to_string(i));
    if (!s) die("create stream", s.status());
    size_t at = rng() % (pool.size() - n + 1);
    if (auto st = s->write(pool.data() + at, n); !st) die("write", st);
    if (auto st = s->commit(); !st) die("commit", st);
  }
  {
    auto s = root.createStream("changing");
    must(s->write(bytes(10240, 3)));
    must(s->commit());
  }
  if (auto st = f->commit(); !st) die("commit", st);
}

void commitCost(const std::filesystem::path& dir, const char* label, uint64_t total,
                size_t streams) {
  auto p = dir / ("lib-" + std::string(label) + ".cds");
  auto t0 = Clock::now();
  buildLibrary(p, total, streams);
  double build = seconds(t0, Clock::now());
  auto size = std::filesystem::file_size(p);
  Counters c;
  CompoundFile f = openCounted(p, &c);
  std::string mb = bytes(1 << 20, 4);
  // Adding one 1 MB stream.
  Counters before = c;
  auto t1 = Clock::now();
  {
    auto s = f.root().createStream("added");
    must(s->write(mb.data(), mb.size()));
    must(s->commit());
  }
  if (auto st = f.commit(); !st) die("commit", st);
  double addTime = seconds(t1, Clock::now());
  uint64_t addBytes = c.bytesWritten - before.bytesWritten;
  // Changing one 10 KB stream.
  std::string patch = bytes(10240, 5);
  before = c;
  auto t2 = Clock::now();
  {
    auto s = f.root().openStream("changing");
    must(s->write(patch.data(), patch.size()));
    must(s->commit());
  }
  if (auto st = f.commit(); !st) die("commit", st);
  double changeTime = seconds(t2, Clock::now());
  uint64_t changeBytes = c.bytesWritten - before.bytesWritten;
  std::printf("%-8s %9.1f MB %7zu streams (built in %5.1f s) | add 1 MB: %8llu B written, %6.2f ms"
              " | change 10 KB: %6llu B written, %6.2f ms\n",
              label, size / 1e6, streams, build, static_cast<unsigned long long>(addBytes),
              addTime * 1e3, static_cast<unsigned long long>(changeBytes), changeTime * 1e3);
}

void openTime(const std::filesystem::path& dir) {
  auto p = dir / "open20k.cds";
  buildLibrary(p, 60'000'000, 20000);
  double best = 1e9;
  for (int i = 0; i < 5; ++i) {
    auto t0 = Clock::now();
    auto f = CompoundFile::open(p, OpenMode::read_only);
    if (!f) die("open", f.status());
    auto list = f->root().elements();
    best = std::min(best, seconds(t0, Clock::now()));
  }
  std::printf("open a library of 20,000 streams (%.1f MB): %.2f ms (best of 5)\n",
              std::filesystem::file_size(p) / 1e6, best * 1e3);
}

void throughput(const std::filesystem::path& dir, size_t total) {
  std::string chunk = bytes(1 << 20, 6);
  auto plainPath = dir / "plain.bin";
  auto t0 = Clock::now();
  {
    int fd = ::open(plainPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (size_t done = 0; done < total; done += chunk.size()) {
      if (::write(fd, chunk.data(), chunk.size()) < 0) std::exit(1);
    }
    ::fdatasync(fd);
    ::close(fd);
  }
  double plainWrite = seconds(t0, Clock::now());
  auto libPath = dir / "stream.cds";
  auto t1 = Clock::now();
  {
    auto f = CompoundFile::create(libPath);
    auto s = f->root().createStream("data");
    for (size_t done = 0; done < total; done += chunk.size()) must(s->write(chunk.data(), chunk.size()));
    must(s->commit());
    if (auto st = f->commit(); !st) die("commit", st);
  }
  double streamWrite = seconds(t1, Clock::now());
  std::vector<char> buf(1 << 20);
  auto t2 = Clock::now();
  {
    int fd = ::open(plainPath.c_str(), O_RDONLY);
    while (::read(fd, buf.data(), buf.size()) > 0) {
    }
    ::close(fd);
  }
  double plainRead = seconds(t2, Clock::now());
  auto t3 = Clock::now();
  {
    auto f = CompoundFile::open(libPath, OpenMode::read_only);
    auto s = f->root().openStream("data");
    while (s->read(buf.data(), buf.size()).value() > 0) {
    }
  }
  double streamRead = seconds(t3, Clock::now());
  double mb = total / 1e6;
  std::printf("sequential write %zu MB: stream %.0f MB/s, plain file %.0f MB/s, ratio %.2f\n",
              total >> 20, mb / streamWrite, mb / plainWrite, streamWrite / plainWrite);
  std::printf("sequential read  %zu MB: stream %.0f MB/s, plain file %.0f MB/s, ratio %.2f\n",
              total >> 20, mb / streamRead, mb / plainRead, streamRead / plainRead);
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "tamber-storage-bench";
  bool quick = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else {
      dir = argv[i];
    }
  }
  std::filesystem::create_directories(dir);
  std::printf("== commit cost (bytes counted at the I/O interface)\n");
  commitCost(dir, "10 MB", 10'000'000, 3000);
  commitCost(dir, "100 MB", 100'000'000, 30000);
  if (!quick) commitCost(dir, "1 GB", 1'000'000'000, 30000);
  std::printf("== open\n");
  openTime(dir);
  std::printf("== throughput\n");
  throughput(dir, quick ? (64u << 20) : (512u << 20));
  std::filesystem::remove_all(dir);
  return 0;
}
