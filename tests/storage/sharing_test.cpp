// One writer and many readers of the same file: who may open it, what each
// reader sees while the writer commits, and what an abandoned transaction
// leaves behind.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "tests/storage/storage_helpers.h"
#include "tests/storage/workload.h"

namespace tamber::storage {
namespace {

using Tree = std::map<std::string, std::string>;

std::string fileBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// "" when equal, else where the two first differ.
std::string bytesDiff(const std::string& got, const std::string& want) {
  if (got == want) return "";
  size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
  return std::to_string(got.size()) + " bytes, want " + std::to_string(want.size()) +
         ", first difference at " + std::to_string(at);
}

struct timespec mtimeOf(const std::filesystem::path& p) {
  struct stat st {};
  ::stat(p.c_str(), &st);
  return st.st_mtim;
}

size_t treeHash(const Tree& t) {
  size_t h = 0;
  for (const auto& [k, v] : t) h = h * 1000003u ^ std::hash<std::string>{}(k) ^ (std::hash<std::string>{}(v) << 1);
  return h;
}

TEST(Sharing, OneWriterAndAnyNumberOfReaders) {
  TempDir dir;
  auto path = dir.path / "lib.cds";
  auto f = CompoundFile::create(path);
  ASSERT_TRUE(f);
  // A second writer is refused at once, told who writes and since when.
  auto second = CompoundFile::open(path, OpenMode::read_write);
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().code, Errc::locked);
  EXPECT_NE(second.message().find("lib.cds is being written by storage_tests"), std::string::npos)
      << second.message();
  EXPECT_NE(second.message().find("(process " + std::to_string(::getpid()) + ") since "), std::string::npos)
      << second.message();
  WriterInfo who = describeWriter(path);
  EXPECT_TRUE(who.present);
  EXPECT_EQ(who.pid, ::getpid());
  EXPECT_LE(std::abs(who.since - static_cast<int64_t>(std::time(nullptr))), 5);
  EXPECT_FALSE(CompoundFile::create(path));
  // Readers open beside the writer, in this process and in another.
  auto r1 = CompoundFile::open(path, OpenMode::read_only);
  ASSERT_TRUE(r1) << r1.message();
  pid_t pid = fork();
  if (pid == 0) {
    bool reads = static_cast<bool>(CompoundFile::open(path, OpenMode::read_only));
    bool writes = static_cast<bool>(CompoundFile::open(path, OpenMode::read_write));
    _exit(reads && !writes ? 0 : 3);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // Once the writer has gone, the next writer opens while readers read.
  f = Error{};
  EXPECT_FALSE(describeWriter(path).present);
  auto w2 = CompoundFile::open(path, OpenMode::read_write);
  ASSERT_TRUE(w2) << w2.message();
  auto r2 = CompoundFile::open(path, OpenMode::read_only);
  EXPECT_TRUE(r1 && r2);
}

// A reader keeps the state it opened while the writer commits hundreds of
// times, and every new reader gets the newest committed state, whole.
TEST(Sharing, AReaderKeepsItsStateWhileTheWriterCommits) {
  TempDir dir;
  auto path = dir.path / "lib.cds";
  auto w = CompoundFile::create(path);
  ASSERT_TRUE(w);
  Workload work(7);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(work.runTransaction(w.value()));
  auto reader = CompoundFile::open(path, OpenMode::read_only);
  ASSERT_TRUE(reader);
  Tree first = readTree(reader.value());
  ASSERT_EQ(treeDiff(first, work.committed()), "");
  std::vector<CompoundFile> readers;
  std::vector<Tree> seen;
  for (int tx = 0; tx < 300; ++tx) {
    ASSERT_TRUE(work.runTransaction(w.value())) << work.lastOps();
    if (tx % 30 == 0) {
      auto r = CompoundFile::open(path, OpenMode::read_only);
      ASSERT_TRUE(r) << r.message();
      ASSERT_EQ(treeDiff(readTree(r.value()), work.committed()), "") << "transaction " << tx;
      seen.push_back(work.committed());
      readers.push_back(std::move(r.value()));
    }
    if (tx % 10 == 0) {
      ASSERT_EQ(treeDiff(readTree(reader.value()), first), "") << "transaction " << tx;
    }
  }
  for (size_t i = 0; i < readers.size(); ++i) {
    EXPECT_EQ(treeDiff(readTree(readers[i]), seen[i]), "") << "reader " << i;
    EXPECT_TRUE(readers[i].check().ok());
  }
  EXPECT_TRUE(reader->check().ok());
  // Reverting a reader moves it to the newest state.
  ASSERT_TRUE(reader->revert());
  EXPECT_EQ(treeDiff(readTree(reader.value()), work.committed()), "");
}

// What a commit frees waits for the readers of older states; once they
// have gone, the space is used again and the file stops growing.
TEST(Sharing, FreedSectorsWaitForOlderReadersThenAreReused) {
  TempDir dir;
  auto path = dir.path / "lib.cds";
  auto w = CompoundFile::create(path);
  ASSERT_TRUE(w);
  auto rewrite = [&](int round) {
    putStream(w->root(), "big", randomBytes(1 << 20, static_cast<unsigned>(round)));
    ASSERT_TRUE(w->commit());
  };
  rewrite(0);
  uint64_t alone = std::filesystem::file_size(path);
  {
    auto reader = CompoundFile::open(path, OpenMode::read_only);
    ASSERT_TRUE(reader);
    for (int i = 1; i <= 5; ++i) rewrite(i);
    // Five copies kept beside the one the reader reads.
    EXPECT_GT(std::filesystem::file_size(path), alone + (5u << 20));
    EXPECT_EQ(readTree(reader.value())["big"], randomBytes(1 << 20, 0));
  }
  for (int i = 6; i <= 12; ++i) rewrite(i);
  EXPECT_LE(std::filesystem::file_size(path), 2 * alone + 65536);
  // A writer that opens while an old state is read holds everything free.
  auto reader = CompoundFile::open(path, OpenMode::read_only);
  ASSERT_TRUE(reader);
  w = Error{};
  w = CompoundFile::open(path, OpenMode::read_write);
  ASSERT_TRUE(w);
  for (int i = 13; i <= 16; ++i) rewrite(i);
  EXPECT_EQ(readTree(reader.value())["big"], randomBytes(1 << 20, 12));
  EXPECT_TRUE(w->check().ok());
}

// A transaction that is given up leaves every byte, the size and the time
// of the file as they were, whether it is reverted or the file is closed.
TEST(Sharing, AnAbandonedTransactionLeavesTheFileAsItWas) {
  TempDir dir;
  auto path = dir.path / "lib.cds";
  {
    auto w = CompoundFile::create(path);
    ASSERT_TRUE(w);
    for (int i = 0; i < 20; ++i) putStream(w->root(), "s" + std::to_string(i), randomBytes(3000 * i, i));
    ASSERT_TRUE(w->commit());
    // Free space inside the file, which the next transaction will fill.
    for (int i = 0; i < 20; i += 2) ASSERT_TRUE(w->root().destroy("s" + std::to_string(i)));
    ASSERT_TRUE(w->commit());
  }
  std::string before = fileBytes(path);
  struct timespec t0 = mtimeOf(path);
  ::usleep(20000);
  for (bool revert : {true, false}) {
    auto w = CompoundFile::open(path, OpenMode::read_write);
    ASSERT_TRUE(w);
    for (int i = 0; i < 40; ++i) putStream(w->root(), "n" + std::to_string(i), randomBytes(5000 * i, 100 + i));
    ASSERT_TRUE(w->root().destroy("s1"));
    {
      auto sub = w->root().createStorage("folder");
      ASSERT_TRUE(sub);
      putStream(sub.value(), "x", randomBytes(100, 1));
    }
    EXPECT_NE(bytesDiff(fileBytes(path), before), "");
    if (revert) {
      ASSERT_TRUE(w->revert());
      EXPECT_EQ(bytesDiff(fileBytes(path), before), "");
      EXPECT_TRUE(w->check().ok());
      // ... and the next transaction works from there.
      putStream(w->root(), "n0", "abc");
      ASSERT_TRUE(w->revert());
    }
    w = Error{};
    EXPECT_EQ(bytesDiff(fileBytes(path), before), "") << (revert ? "revert" : "close");
    struct timespec t = mtimeOf(path);
    EXPECT_TRUE(t.tv_sec == t0.tv_sec && t.tv_nsec == t0.tv_nsec) << (revert ? "revert" : "close");
  }
}

// A killed writer may leave a tail past what the FAT covers: a viewer
// names it and leaves it, the next writer cuts it.
TEST(Sharing, ATailLeftByAKilledWriterIsNamedAndCutByTheNextWriter) {
  TempDir dir;
  auto path = dir.path / "lib.cds";
  {
    auto w = CompoundFile::create(path);
    ASSERT_TRUE(w);
    putStream(w->root(), "s", randomBytes(20000, 3));
    ASSERT_TRUE(w->commit());
  }
  uint64_t size = std::filesystem::file_size(path);
  {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << std::string(3 * 4096, 'x');
  }
  {
    auto r = CompoundFile::open(path, OpenMode::read_only);
    ASSERT_TRUE(r);
    auto report = r->check();
    ASSERT_EQ(report.faults.size(), 1u);
    EXPECT_EQ(report.faults[0],
              "the file ends 12288 bytes past its last sector in use (left by an interrupted "
              "change, or kept for a reader); the next change to the file cuts them off");
    EXPECT_EQ(readTree(r.value())["s"], randomBytes(20000, 3));
  }
  EXPECT_EQ(std::filesystem::file_size(path), size + 3 * 4096);
  auto w = CompoundFile::open(path, OpenMode::read_write);
  ASSERT_TRUE(w);
  EXPECT_EQ(std::filesystem::file_size(path), size);
  EXPECT_TRUE(w->check().ok());
}

// Threads of one process, each with its own open: one writer runs random
// transactions (some reverted) while readers open, read everything and
// compare it with the states the writer made; a reader that stays open
// reads the same state again later.
TEST(Sharing, ReadersInThreadsSeeOnlyWholeCommittedStates) {
  TempDir dir;
  auto path = dir.path / "lib.cds";
  auto w = CompoundFile::create(path);
  ASSERT_TRUE(w);
  std::mutex m;
  std::set<size_t> states{treeHash({})};  // committed, or about to be
  std::atomic<bool> done{false};
  std::atomic<int> reads{0};
  std::vector<std::string> errors;
  auto fault = [&](std::string e) {
    std::lock_guard lock(m);
    if (errors.size() < 5) errors.push_back(std::move(e));
  };
  auto reader = [&](int n) {
    std::optional<CompoundFile> kept;
    size_t keptHash = 0;
    for (int i = 0; !done; ++i) {
      auto r = CompoundFile::open(path, OpenMode::read_only);
      if (!r) return fault("open: " + r.message());
      Tree t;
      std::string why;
      if (!readStreams(r->root(), "", t, why)) return fault("read: " + why);
      size_t h = treeHash(t);
      {
        std::lock_guard lock(m);
        if (!states.count(h)) return fault("reader " + std::to_string(n) + " saw a state never committed");
      }
      if (kept) {
        Tree again;
        if (!readStreams(kept->root(), "", again, why)) return fault("reread: " + why);
        if (treeHash(again) != keptHash) return fault("a kept reader's state changed");
      }
      if (i % 7 == 0) {
        kept.emplace(std::move(r.value()));
        keptHash = h;
      }
      ++reads;
    }
  };
  std::vector<std::thread> threads;
  for (int n = 0; n < 3; ++n) threads.emplace_back(reader, n);
  Workload work(11, true);
  work.setBeforeCommit([&](CompoundFile&, uint64_t) {
    std::lock_guard lock(m);
    states.insert(treeHash(work.attempted()));
    return true;
  });
  for (int tx = 0; tx < (kInstrumented ? 500 : 1500) && errors.empty(); ++tx) {
    if (!work.runTransaction(w.value())) {
      fault("writer: " + work.lastOps());
      break;
    }
  }
  done = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(errors, std::vector<std::string>{});
  EXPECT_GT(reads.load(), kInstrumented ? 30 : 100);
  EXPECT_TRUE(w->check().ok());
}

}  // namespace
}  // namespace tamber::storage
