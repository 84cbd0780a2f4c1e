// Random sequences of operations against a model of what the file must hold.
// The same workload drives the fault-injection tests.

#include <gtest/gtest.h>

#include "tests/storage/mem_file.h"
#include "tests/storage/storage_helpers.h"
#include "tests/storage/workload.h"

namespace tamber::storage {
namespace {

using testing::Disk;
using testing::memFile;

class ModelSeeds : public ::testing::TestWithParam<unsigned> {};
INSTANTIATE_TEST_SUITE_P(Storage, ModelSeeds, ::testing::Range(1u, 17u));

TEST_P(ModelSeeds, EveryCommittedStateReadsBackExactly) {
  auto disk = std::make_shared<Disk>();
  int version = GetParam() % 3 == 0 ? 3 : 4;
  auto f = CompoundFile::create(memFile(disk), version);
  ASSERT_TRUE(f);
  Workload w(GetParam());
  for (int tx = 0; tx < 30; ++tx) {
    ASSERT_TRUE(w.runTransaction(f.value())) << "transaction " << tx;
    auto again = CompoundFile::open(memFile(disk), OpenMode::read_only);
    ASSERT_TRUE(again) << again.message();
    ASSERT_EQ(treeDiff(readTree(again.value()), w.committed()), "") << "transaction " << tx << ":\n" << w.lastOps();
    auto report = again->check();
    ASSERT_TRUE(report.ok()) << "transaction " << tx << ": " << report.faults[0];
  }
}

}  // namespace
}  // namespace tamber::storage
