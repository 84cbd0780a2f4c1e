// Size limits: version 3 files stop below 2 GB, version 4 files and streams
// pass 4 GB. Run on a sparse in-memory file so that gigabytes cost nothing.

#include <gtest/gtest.h>

#include "storage/compound_file.h"
#include "storage/format.h"
#include "tests/storage/mem_file.h"
#include "tests/storage/storage_helpers.h"

namespace tamber::storage {
namespace {

using testing::SharedFile;
using testing::SparseFile;

std::unique_ptr<FileIo> share(const std::shared_ptr<SparseFile>& f) {
  return std::make_unique<SharedFile>(f);
}

TEST(Limits, Version3FilesRefuseToPassTwoGigabytes) {
  auto sparse = std::make_shared<SparseFile>();
  auto f = CompoundFile::create(share(sparse), 3);
  ASSERT_TRUE(f);
  Storage root = f->root();
  auto huge = root.createStream("huge");
  auto refused = huge->setSize(detail::kVersion3Limit);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().code, Errc::too_large);
  huge->close();
  // Streams that fit one by one but not together: the commit that would pass
  // 2 GB fails with a clear error, and the file stays as last committed.
  int committed = 0;
  Status last;
  for (int i = 0; i < 5 && last; ++i) {
    auto s = root.createStream("part" + std::to_string(i));
    ASSERT_TRUE(s);
    last = s->setSize(600'000'000);
    if (last) last = s->seek(599'999'990).status();
    if (last) last = s->write("0123456789");
    if (last) last = s->commit();
    if (last) last = f->commit();
    if (last) ++committed;
  }
  ASSERT_FALSE(last);
  EXPECT_EQ(last.error().code, Errc::too_large) << last.message();
  EXPECT_EQ(committed, 3);
  ASSERT_TRUE(f->revert());
  EXPECT_TRUE(f->check().ok());
  auto again = CompoundFile::open(share(sparse), OpenMode::read_only);
  ASSERT_TRUE(again);
  EXPECT_LT(sparse->size().value(), 0x80000000ull);
  auto s = again->root().openStream("part2");
  ASSERT_TRUE(s);
  std::string tail(10, '\0');
  ASSERT_TRUE(s->seek(599'999'990));
  ASSERT_EQ(s->read(tail.data(), 10).value(), 10u);
  EXPECT_EQ(tail, "0123456789");
}

TEST(Limits, Version4StreamsPassFourGigabytes) {
  auto sparse = std::make_shared<SparseFile>();
  const uint64_t size = 4'700'000'000ull;
  {
    auto f = CompoundFile::create(share(sparse), 4);
    ASSERT_TRUE(f);
    putStream(f->root(), "before", "small");
    auto s = f->root().createStream("huge");
    ASSERT_TRUE(s->setSize(size));
    ASSERT_TRUE(s->seek(static_cast<int64_t>(size - 8)));
    ASSERT_TRUE(s->write("the tail"));
    ASSERT_TRUE(s->seek(3'000'000'000));
    ASSERT_TRUE(s->write("middle"));
    ASSERT_TRUE(s->commit());
    ASSERT_TRUE(f->commit());
  }
  auto f = CompoundFile::open(share(sparse), OpenMode::read_write);
  ASSERT_TRUE(f) << f.message();
  auto s = f->root().openStream("huge");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->size(), size);
  std::string got(8, '\0');
  ASSERT_TRUE(s->seek(static_cast<int64_t>(size - 8)));
  ASSERT_EQ(s->read(got.data(), 8).value(), 8u);
  EXPECT_EQ(got, "the tail");
  got.assign(6, '\0');
  ASSERT_TRUE(s->seek(3'000'000'000));
  ASSERT_EQ(s->read(got.data(), 6).value(), 6u);
  EXPECT_EQ(got, "middle");
  s->close();
  // More than 109 FAT sectors: the DIFAT chain holds the rest (two sectors
  // here), and the range-lock sector is kept out of every chain.
  EXPECT_TRUE(f->check().ok()) << f->check().faults[0];
  EXPECT_EQ(rawFatEntry(*sparse, detail::kRangeLockSector4), detail::kEndOfChain);
  EXPECT_EQ(f->root().openStream("before")->readAll().value(), "small");
}

}  // namespace
}  // namespace tamber::storage
