// Behaviour of the storage engine through its public interface.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "storage/compound_file.h"
#include "storage/format.h"
#include "tests/storage/mem_file.h"
#include "tests/storage/storage_helpers.h"

namespace tamber::storage {
namespace {

using testing::Disk;
using testing::memFile;

class Versions : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Storage, Versions, ::testing::Values(3, 4));

TEST_P(Versions, StreamsOfBoundarySizesRoundTrip) {
  auto disk = std::make_shared<Disk>();
  std::map<std::string, std::string> want;
  {
    auto f = CompoundFile::create(memFile(disk), GetParam());
    ASSERT_TRUE(f) << f.message();
    Storage root = f->root();
    auto sub = root.createStorage("sizes");
    ASSERT_TRUE(sub);
    for (size_t n : {0, 1, 63, 64, 65, 511, 512, 513, 4095, 4096, 4097, 10'000'000}) {
      std::string name = "s" + std::to_string(n);
      std::string data = randomBytes(n, static_cast<unsigned>(n));
      auto s = sub->createStream(name);
      ASSERT_TRUE(s) << s.message();
      ASSERT_TRUE(s->write(data));
      ASSERT_TRUE(s->commit());
      want["sizes/" + name] = data;
    }
    ASSERT_TRUE(f->commit());
  }
  auto f = CompoundFile::open(memFile(disk), OpenMode::read_only);
  ASSERT_TRUE(f) << f.message();
  EXPECT_EQ(readTree(f.value()), want);
  EXPECT_EQ(f->check().faults, std::vector<std::string>{});
  EXPECT_EQ(f->info().version, GetParam());
}

TEST_P(Versions, GrowingAndShrinkingAcrossTheCutoffKeepsContent) {
  auto disk = std::make_shared<Disk>();
  auto f = CompoundFile::create(memFile(disk), GetParam());
  ASSERT_TRUE(f);
  auto s = f->root().createStream("moving");
  ASSERT_TRUE(s);
  std::string model;
  std::mt19937 rng(7);
  // Sizes that cross 4096 in both directions, and stop exactly on it.
  for (uint64_t size : {100, 5000, 4096, 4095, 3000, 9000, 4097, 0, 4096, 20000, 10}) {
    if (size > model.size()) {
      // Grow by writing past the end: the gap must read as zeros.
      uint64_t gap = (size - model.size()) / 3;
      std::string tail = randomBytes(size - model.size() - gap, rng());
      ASSERT_TRUE(s->seek(static_cast<int64_t>(model.size() + gap)));
      ASSERT_TRUE(s->write(tail));
      model += std::string(gap, '\0') + tail;
    } else {
      ASSERT_TRUE(s->setSize(size));
      model.resize(size);
    }
    ASSERT_TRUE(s->commit());
    ASSERT_TRUE(f->commit());
    auto again = CompoundFile::open(memFile(disk), OpenMode::read_only);
    // The first file holds the lock only for real files; memory files share.
    ASSERT_TRUE(again) << again.message();
    auto r = again->root().openStream("moving");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->readAll().value(), model) << "size " << size;
    EXPECT_EQ(again->check().faults, std::vector<std::string>{}) << "size " << size;
  }
}

TEST(Streams, PartialSectorWritesAndReadsAtEveryOffset) {
  auto disk = std::make_shared<Disk>();
  auto f = CompoundFile::create(memFile(disk));
  ASSERT_TRUE(f);
  auto s = f->root().createStream("data");
  std::string model = randomBytes(50'000, 1);
  ASSERT_TRUE(s->write(model));
  ASSERT_TRUE(s->commit());
  std::mt19937 rng(2);
  for (int i = 0; i < 300; ++i) {
    size_t off = rng() % model.size();
    size_t len = std::min<size_t>(rng() % 9000, model.size() - off);
    std::string patch = randomBytes(len, rng());
    ASSERT_TRUE(s->seek(static_cast<int64_t>(off)));
    ASSERT_TRUE(s->write(patch));
    model.replace(off, len, patch);
    size_t roff = rng() % model.size();
    size_t rlen = std::min<size_t>(rng() % 9000, model.size() - roff);
    std::string got(rlen, '\0');
    ASSERT_TRUE(s->seek(static_cast<int64_t>(roff)));
    ASSERT_EQ(s->read(got.data(), rlen).value(), rlen);
    ASSERT_EQ(got, model.substr(roff, rlen)) << "at " << roff;
  }
  ASSERT_TRUE(s->commit());
  ASSERT_TRUE(f->commit());
  auto g = CompoundFile::open(memFile(disk), OpenMode::read_only);
  EXPECT_EQ(g->root().openStream("data")->readAll().value(), model);
}

// The layout of a stream read from other threads gives its bytes exactly:
// streams written in turns (so their sectors interleave), a small one in
// the mini stream, and the one with changes not committed refused.
TEST(Streams, LayoutReadFromThreadsGivesTheCommittedBytes) {
  auto disk = std::make_shared<Disk>();
  auto f = CompoundFile::create(memFile(disk));
  ASSERT_TRUE(f);
  std::map<std::string, std::string> want = {{"a", ""}, {"b", ""}, {"small", randomBytes(700, 9)}};
  {
    auto a = f->root().createStream("a");
    auto b = f->root().createStream("b");
    for (int i = 0; i < 40; ++i) {
      std::string pa = randomBytes(3000 + i * 97, i), pb = randomBytes(5000 - i * 31, 100 + i);
      ASSERT_TRUE(a->write(pa));
      ASSERT_TRUE(b->write(pb));
      want["a"] += pa;
      want["b"] += pb;
    }
    ASSERT_TRUE(a->commit());
    ASSERT_TRUE(b->commit());
    auto small = f->root().createStream("small");
    ASSERT_TRUE(small->write(want["small"]));
    ASSERT_TRUE(small->commit());
  }
  ASSERT_TRUE(f->commit());
  for (const auto& [name, bytes] : want) {
    auto s = f->root().openStream(name);
    auto layout = s->layout();
    ASSERT_TRUE(layout) << layout.message();
    // The same without a handle, even while one is open.
    auto named = f->root().streamLayout(name);
    ASSERT_TRUE(named) << named.message();
    EXPECT_EQ(named->size, layout->size);
    EXPECT_EQ(named->small, layout->small);
    EXPECT_EQ(named->bytes, layout->bytes);
    ASSERT_EQ(named->runs.size(), layout->runs.size());
    for (size_t i = 0; i < named->runs.size(); ++i) {
      EXPECT_EQ(named->runs[i].offset, layout->runs[i].offset);
      EXPECT_EQ(named->runs[i].length, layout->runs[i].length);
    }
    EXPECT_EQ(layout->size, bytes.size());
    std::string got;
    if (layout->small) {
      got = layout->bytes;
    } else {
      std::vector<std::string> pieces(layout->runs.size());
      std::vector<std::thread> readers;
      for (size_t i = 0; i < layout->runs.size(); ++i) {
        readers.emplace_back([&, i] {
          pieces[i].resize(layout->runs[i].length);
          EXPECT_TRUE(f->readAt(layout->runs[i].offset, pieces[i].data(), pieces[i].size()));
        });
      }
      for (auto& t : readers) t.join();
      for (auto& p : pieces) got += p;
      EXPECT_GT(layout->runs.size(), 1u) << name << " lies in one run";
    }
    EXPECT_EQ(got, bytes) << name;
  }
  EXPECT_EQ(f->root().streamLayout("none").error().code, Errc::not_found);
  auto sub = f->root().createStorage("folder");
  ASSERT_TRUE(sub);
  EXPECT_FALSE(f->root().streamLayout("folder"));
  auto s = f->root().openStream("a");
  ASSERT_TRUE(s->write("changed"));
  EXPECT_FALSE(s->layout());
  // A handle's changes are its own until committed: without one, the
  // stream is as the file holds it.
  auto kept = f->root().streamLayout("a");
  ASSERT_TRUE(kept) << kept.message();
  EXPECT_EQ(kept->size, want["a"].size());
  std::string past(100, '\0');
  EXPECT_FALSE(f->readAt(disk->current.size() - 10, past.data(), past.size()));
}

TEST(Transactions, StreamChangesStayPrivateUntilCommitted) {
  auto disk = std::make_shared<Disk>();
  auto f = CompoundFile::create(memFile(disk));
  ASSERT_TRUE(f);
  Storage root = f->root();
  {
    auto s = root.createStream("a");
    ASSERT_TRUE(s->write(std::string(10000, 'x')));
    ASSERT_TRUE(s->commit());
  }
  ASSERT_TRUE(f->commit());
  auto s = root.openStream("a");
  ASSERT_TRUE(s->write("changed"));
  ASSERT_TRUE(s->setSize(20000));
  // A storage commit while the stream holds uncommitted changes keeps the
  // stream's committed content.
  ASSERT_TRUE(f->commit());
  {
    auto g = CompoundFile::open(memFile(disk), OpenMode::read_only);
    EXPECT_EQ(g->root().openStream("a")->readAll().value(), std::string(10000, 'x'));
    EXPECT_TRUE(g->check().ok()) << g->check().faults[0];
  }
  ASSERT_TRUE(s->revert());
  EXPECT_EQ(s->readAll().value(), std::string(10000, 'x'));
  // A second handle on the same stream is refused while the first is open.
  EXPECT_EQ(root.openStream("a").error().code, Errc::in_use);
  // Closing without commit drops the changes too.
  ASSERT_TRUE(s->seek(0));
  ASSERT_TRUE(s->write("yyy"));
  s->close();
  EXPECT_EQ(root.openStream("a")->readAll().value(), std::string(10000, 'x'));
}

TEST(Transactions, StorageRevertReturnsToTheLastCommit) {
  auto disk = std::make_shared<Disk>();
  auto f = CompoundFile::create(memFile(disk));
  Storage root = f->root();
  putStream(root, "keep", "kept");
  ASSERT_TRUE(f->commit());
  putStream(root, "new", std::string(9000, 'n'));
  ASSERT_TRUE(root.destroy("keep"));
  auto open = root.openStream("new");
  ASSERT_TRUE(f->revert());
  // Handles of the dropped state are closed.
  EXPECT_FALSE(open->readAll());
  Storage again = f->root();
  EXPECT_TRUE(again.contains("keep"));
  EXPECT_FALSE(again.contains("new"));
  EXPECT_EQ(again.openStream("keep")->readAll().value(), "kept");
  // And the file keeps working after the revert.
  putStream(again, "after", "x");
  ASSERT_TRUE(f->commit());
  EXPECT_TRUE(f->check().ok());
}

TEST(Names, RulesOfTheFormat) {
  auto f = CompoundFile::create(memFile(std::make_shared<Disk>()));
  Storage root = f->root();
  for (const char* bad : {"", "a/b", "a\\b", "a:b", "a!b"}) {
    EXPECT_EQ(root.createStream(bad).error().code, Errc::invalid_name) << bad;
  }
  EXPECT_TRUE(root.createStream(std::string(31, 'n')));
  EXPECT_EQ(root.createStream(std::string(32, 'n')).error().code, Errc::invalid_name);
  // 31 UTF-16 units, not bytes: "é" is one unit and two bytes.
  std::string accented;
  for (int i = 0; i < 31; ++i) accented += "\xC3\xA9";
  EXPECT_TRUE(root.createStream(accented));
  // Names compare case-insensitively: creating replaces, renaming onto refuses.
  putStream(root, "Report", "one");
  putStream(root, "other", "two");
  putStream(root, "REPORT", "three");
  auto list = root.elements().value();
  EXPECT_EQ(std::count_if(list.begin(), list.end(),
                          [](const Element& e) { return e.name == "Report" || e.name == "REPORT"; }),
            1);
  EXPECT_EQ(root.rename("other", "report").error().code, Errc::exists);
  EXPECT_TRUE(root.rename("other", "Other"));  // a change of case of itself
  EXPECT_EQ(root.openStream("report")->readAll().value(), "three");
}

TEST(Elements, DestroyAndRenameKeepTheFileValid) {
  auto disk = std::make_shared<Disk>();
  auto f = CompoundFile::create(memFile(disk));
  Storage root = f->root();
  auto sub = root.createStorage("dir");
  auto deeper = sub->createStorage("deeper");
  putStream(*deeper, "big", randomBytes(100000, 3));
  putStream(*deeper, "small", "tiny");
  putStream(*sub, "mid", randomBytes(5000, 4));
  putStream(root, "top", "t");
  ASSERT_TRUE(f->commit());
  auto held = deeper->openStream("small");
  EXPECT_EQ(root.destroy("dir").error().code, Errc::in_use);
  held->close();
  ASSERT_TRUE(root.rename("dir", "folder"));
  ASSERT_TRUE(f->commit());
  EXPECT_EQ(readTree(*f).count("folder/deeper/big"), 1u);
  ASSERT_TRUE(root.destroy("folder"));
  ASSERT_TRUE(f->commit());
  EXPECT_EQ(readTree(*f), (std::map<std::string, std::string>{{"top", "t"}}));
  EXPECT_EQ(f->check().faults, std::vector<std::string>{});
  // The stale handle of the destroyed storage no longer works.
  EXPECT_FALSE(deeper->elements());
}

TEST(Trees, ThousandsOfInsertsDeletesAndRenamesStayBalancedAndOrdered) {
  auto disk = std::make_shared<Disk>();
  auto f = CompoundFile::create(memFile(disk));
  Storage root = f->root();
  std::mt19937 rng(11);
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) {
    std::string n = "n" + std::to_string(rng() % 1000000) + (i % 3 ? "x" : "Yy");
    if (root.contains(n)) continue;
    auto s = root.createStream(n);
    ASSERT_TRUE(s) << n;
    names.push_back(n);
  }
  std::shuffle(names.begin(), names.end(), rng);
  for (size_t i = 0; i < names.size() / 2; ++i) ASSERT_TRUE(root.destroy(names[i]));
  for (size_t i = names.size() / 2; i < names.size(); i += 3) {
    ASSERT_TRUE(root.rename(names[i], "r" + names[i]));
  }
  ASSERT_TRUE(f->commit());
  // check() walks every tree and verifies the red-black rules and the order.
  EXPECT_EQ(f->check().faults, std::vector<std::string>{});
}

TEST(ReadOnly, ChangesAreRefused) {
  auto disk = std::make_shared<Disk>();
  {
    auto f = CompoundFile::create(memFile(disk));
    putStream(f->root(), "s", "data");
    ASSERT_TRUE(f->commit());
  }
  auto f = CompoundFile::open(memFile(disk), OpenMode::read_only);
  ASSERT_TRUE(f);
  Storage root = f->root();
  EXPECT_EQ(root.createStream("x").error().code, Errc::read_only);
  EXPECT_EQ(root.destroy("s").error().code, Errc::read_only);
  auto s = root.openStream("s");
  EXPECT_EQ(s->write("zz").error().code, Errc::read_only);
  EXPECT_EQ(f->commit().error().code, Errc::read_only);
  EXPECT_EQ(s->readAll().value(), "data");
}

TEST(Commit, CostFollowsTheChangeNotTheFileSize) {
  auto disk = std::make_shared<Disk>();
  auto f = CompoundFile::create(memFile(disk));
  Storage root = f->root();
  for (int i = 0; i < 5000; ++i) {
    putStream(root, "s" + std::to_string(i), randomBytes(i % 7 == 0 ? 20000 : 700, i));
  }
  ASSERT_TRUE(f->commit());
  uint64_t before = disk->bytesWritten;
  auto s = root.openStream("s700");  // 20,000 bytes
  ASSERT_TRUE(s->write(randomBytes(10000, 99)));
  ASSERT_TRUE(s->commit());
  ASSERT_TRUE(f->commit());
  uint64_t written = disk->bytesWritten - before;
  // Three data sectors, a directory sector, a FAT sector or two and the header.
  EXPECT_LE(written, 8u * 4096) << written;
  before = disk->bytesWritten;
  putStream(root, "small-change", "x");
  ASSERT_TRUE(f->commit());
  EXPECT_LE(disk->bytesWritten - before, 8u * 4096);
}

TEST(Compact, ReclaimsFreeSpaceAndKeepsContent) {
  TempDir dir;
  auto path = dir.path / "lib.cds";
  std::map<std::string, std::string> want;
  {
    auto f = CompoundFile::create(path);
    Storage root = f->root();
    for (int i = 0; i < 40; ++i) {
      std::string data = randomBytes(i % 2 ? 300000 : 1000, i);
      putStream(root, "s" + std::to_string(i), data);
      if (i % 4) want["s" + std::to_string(i)] = data;
    }
    ASSERT_TRUE(f->commit());
    for (int i = 0; i < 40; i += 4) ASSERT_TRUE(root.destroy("s" + std::to_string(i)));
    for (int i = 1; i < 40; i += 2) ASSERT_TRUE(root.destroy("s" + std::to_string(i)));
    for (int i = 1; i < 40; i += 2) want.erase("s" + std::to_string(i));
    ASSERT_TRUE(f->commit());
  }
  auto before = std::filesystem::file_size(path);
  ASSERT_TRUE(compact(path));
  auto after = std::filesystem::file_size(path);
  EXPECT_LT(after, before);
  auto f = CompoundFile::open(path, OpenMode::read_only);
  EXPECT_EQ(readTree(*f), want);
  EXPECT_LE(f->info().freeBytes, 4u * 4096);
  EXPECT_TRUE(f->check().ok());
}

}  // namespace
}  // namespace tamber::storage
