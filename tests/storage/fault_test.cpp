// Crash safety by fault injection: the workload runs until the process stops
// at its n-th write or sync, for every n. Then the disk is cut as by a power
// loss (writes since the last sync kept or lost at random) and the file must
// open in exactly the last committed state, or the state its interrupted
// commit was making.

#include <gtest/gtest.h>

#include <iostream>

#include "tests/storage/mem_file.h"
#include "tests/storage/storage_helpers.h"
#include "tests/storage/workload.h"

namespace tamber::storage {
namespace {

using testing::Disk;
using testing::diskWith;
using testing::memFile;

constexpr int kTransactions = 60;

// How many writes (or writes and syncs) the whole workload makes when
// nothing fails.
uint64_t totalOps(unsigned seed, int version, bool withSyncs) {
  auto disk = std::make_shared<Disk>();
  auto f = CompoundFile::create(memFile(disk), version);
  uint64_t before = withSyncs ? disk->ops : disk->writes;
  Workload w(seed, true);
  for (int tx = 0; tx < kTransactions; ++tx) EXPECT_TRUE(w.runTransaction(f.value()));
  return (withSyncs ? disk->ops : disk->writes) - before;
}

// Opens a crash image, checks it, compares it with the two allowed states and
// shows that work goes on from there.
void verifyImage(std::vector<uint8_t> image, const Workload& w, const std::string& where) {
  auto disk = diskWith(std::move(image));
  auto f = CompoundFile::open(memFile(disk), OpenMode::read_write);
  ASSERT_TRUE(f) << where << ": " << f.message();
  auto report = f->check();
  ASSERT_TRUE(report.ok()) << where << ": " << report.faults[0];
  auto tree = readTree(f.value());
  bool old = tree == w.committed();
  bool next = tree == w.attempted();
  ASSERT_TRUE(old || next) << where << ": " << treeDiff(tree, w.committed());
  putStream(f->root(), "after-crash", std::string(5000, 'a'));
  ASSERT_TRUE(f->commit());
  ASSERT_TRUE(f->check().ok()) << where;
}

class FaultSeeds : public ::testing::TestWithParam<unsigned> {};
INSTANTIATE_TEST_SUITE_P(Storage, FaultSeeds, ::testing::Values(1u, 2u, 3u));

TEST_P(FaultSeeds, APowerCutAtAnyWriteLeavesTheOldOrTheNewState) {
  unsigned seed = GetParam();
  int version = seed == 3 ? 3 : 4;
  uint64_t total = totalOps(seed, version, true);
  ASSERT_GE(total, 200u);
  std::cout << "[ fault    ] " << total << " stop points\n";
  std::mt19937 rng(seed);
  // Every stop point, or an even sample of 400 of them for long workloads
  // (100 in instrumented builds).
  uint64_t step = std::max<uint64_t>(1, total / (kInstrumented ? 100 : 400));
  int points = 0;
  for (uint64_t n = 1; n <= total; n += step) {
    auto disk = std::make_shared<Disk>();
    Workload w(seed, true);
    {
      auto f = CompoundFile::create(memFile(disk), version);
      ASSERT_TRUE(f);
      disk->stopAtOp = disk->ops + n;
      for (int tx = 0; tx < kTransactions; ++tx) {
        if (!w.runTransaction(f.value())) break;
      }
    }
    std::string where = "operation " + std::to_string(n) + " of " + std::to_string(total);
    for (int cut = 0; cut < 2; ++cut) {
      verifyImage(disk->crashImage(rng), w, where);
      if (::testing::Test::HasFatalFailure()) return;
    }
    ++points;
  }
  EXPECT_GE(points, kInstrumented ? 50 : 200);
}

TEST_P(FaultSeeds, AFailedWriteIsRevertedAndWorkGoesOn) {
  unsigned seed = GetParam();
  uint64_t total = totalOps(seed, 4, false);
  int runs = 0, failures = 0;
  for (uint64_t n = 1; n <= total; n += std::max<uint64_t>(1, total / (kInstrumented ? 50 : 150))) {
    ++runs;
    auto disk = std::make_shared<Disk>();
    auto f = CompoundFile::create(memFile(disk));
    ASSERT_TRUE(f);
    disk->failAtWrite = disk->writes + n;
    Workload w(seed, true);
    bool failed = false;
    for (int tx = 0; tx < kTransactions; ++tx) {
      if (w.runTransaction(f.value())) continue;
      failed = true;
      // Until reverted, the file refuses work instead of building on a state
      // that may differ from the disk.
      // The refusal names the first cause, not only that something failed.
      auto refused = f->root().createStream("x");
      EXPECT_EQ(refused.error().code, Errc::broken);
      EXPECT_NE(refused.message().find("simulated write failure"), std::string::npos) << refused.message();
      ASSERT_TRUE(f->revert());
      ASSERT_EQ(treeDiff(readTree(f.value()), w.committed()), "") << "write " << n;
    }
    // A write that fails while a revert puts back what the transaction
    // overwrote in free space is let go: the committed state is whole.
    failures += failed;
    ASSERT_TRUE(f->check().ok()) << "write " << n;
    if (!w.lastWasCommit()) {
      ASSERT_TRUE(f->revert());
    }
    ASSERT_EQ(treeDiff(readTree(f.value()), w.committed()), "") << "write " << n;
  }
  EXPECT_GE(failures * 10, runs * 8);
}

}  // namespace
}  // namespace tamber::storage
