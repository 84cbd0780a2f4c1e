// Damaged and foreign files: every damage gives a clear error or a readable
// file, never a crash, a hang or an allocation beyond the file's size. Trees
// that other writers build (deep chains, wrong order, all red) are read in
// full and repaired by the next commit.

#include <gtest/gtest.h>

#include <random>

#include "storage/format.h"
#include "tests/storage/mem_file.h"
#include "tests/storage/storage_helpers.h"

namespace tamber::storage {
namespace {

using namespace detail;
using testing::Disk;
using testing::diskWith;
using testing::memFile;

std::vector<uint8_t> sampleFile(int version) {
  auto disk = std::make_shared<Disk>();
  auto f = CompoundFile::create(memFile(disk), version);
  Storage root = f->root();
  auto sub = root.createStorage("folder");
  putStream(root, "categories", std::string(3000, 'c'));
  putStream(*sub, "col1-1.xml", randomBytes(9000, 1));
  putStream(*sub, "thu1-1", randomBytes(300, 2));
  putStream(root, "img1-1", randomBytes(20000, 3));
  for (int i = 0; i < 20; ++i) putStream(root, "s" + std::to_string(i), randomBytes(i * 40, i));
  EXPECT_TRUE(f->commit());
  return disk->current;
}

// Opens, walks and checks whatever the bytes are; only crashes, hangs and
// sanitizer reports can fail this.
void exercise(const std::vector<uint8_t>& image) {
  for (auto mode : {OpenMode::read_only, OpenMode::read_write}) {
    auto f = CompoundFile::open(memFile(diskWith(image)), mode);
    if (!f) {
      EXPECT_FALSE(f.message().empty());
      continue;
    }
    (void)f->check();
    std::vector<Storage> todo{f->root()};
    while (!todo.empty()) {
      Storage st = todo.back();
      todo.pop_back();
      auto list = st.elements();
      if (!list) continue;
      for (const auto& el : list.value()) {
        if (el.type == ElementType::storage) {
          if (auto sub = st.openStorage(el.name)) todo.push_back(sub.value());
          continue;
        }
        if (auto s = st.openStream(el.name)) (void)s->readAll();
      }
    }
    if (mode == OpenMode::read_write) {
      if (auto s = f->root().createStream("new")) {
        (void)s->write(std::string(5000, 'n'));
        (void)s->commit();
      }
      (void)f->commit();
    }
  }
}

TEST(Damage, TruncatedAtEverySectorBoundary) {
  for (int version : {3, 4}) {
    auto image = sampleFile(version);
    size_t sector = version == 3 ? 512 : 4096;
    for (size_t cut = 0; cut <= image.size(); cut += sector / 2) {
      exercise(std::vector<uint8_t>(image.begin(), image.begin() + static_cast<ptrdiff_t>(cut)));
      if (HasFailure()) return;
    }
  }
}

TEST(Damage, RandomByteFlipsGiveErrorsNotCrashes) {
  std::mt19937 rng(1234);
  for (int version : {3, 4}) {
    auto image = sampleFile(version);
    for (int round = 0; round < 1500; ++round) {
      auto bad = image;
      int flips = 1 + static_cast<int>(rng() % 8);
      for (int i = 0; i < flips; ++i) {
        // Most flips land in the structures at the front of the file.
        size_t limit = rng() % 2 ? std::min<size_t>(bad.size(), 3 * 4096) : bad.size();
        bad[rng() % limit] ^= static_cast<uint8_t>(1 + rng() % 255);
      }
      exercise(bad);
      if (HasFailure()) return;
    }
  }
}

// Raw access to a file's directory for building foreign trees.
struct RawDirectory {
  std::vector<uint8_t>& image;
  uint32_t sectorSize;
  std::vector<uint64_t> offsets;  // file offset of entry i

  explicit RawDirectory(std::vector<uint8_t>& img) : image(img) {
    sectorSize = 1u << getLe16(img.data() + 30);
    std::vector<uint32_t> fat;
    for (uint32_t k = 0; k < getLe32(img.data() + 44); ++k) {
      uint32_t where = getLe32(img.data() + 76 + 4 * k);
      for (uint32_t i = 0; i < sectorSize / 4; ++i) {
        fat.push_back(getLe32(img.data() + (where + 1) * sectorSize + 4 * i));
      }
    }
    for (uint32_t s = getLe32(img.data() + 48); s != kEndOfChain; s = fat[s]) {
      for (uint32_t k = 0; k < sectorSize / kDirEntryBytes; ++k) {
        offsets.push_back(uint64_t{s + 1} * sectorSize + k * kDirEntryBytes);
      }
    }
  }
  uint8_t* entry(uint32_t id) { return image.data() + offsets[id]; }
  std::u16string name(uint32_t id) {
    std::u16string n;
    for (int i = 0; i < 32 && getLe16(entry(id) + 2 * i); ++i) n += char16_t(getLe16(entry(id) + 2 * i));
    return n;
  }
  uint32_t find(const std::u16string& n) {
    for (uint32_t i = 0; i < offsets.size(); ++i) {
      if (entry(i)[66] != kTypeEmpty && name(i) == n) return i;
    }
    return kNoStream;
  }
  void link(uint32_t id, uint32_t left, uint32_t right, uint8_t color) {
    putLe32(entry(id) + 68, left);
    putLe32(entry(id) + 72, right);
    entry(id)[67] = color;
  }
};

enum class Shape { deep_chain, wrong_order, all_red };

TEST(ForeignTrees, DeepChainsWrongOrderAndAllRedTreesAreReadAndRepaired) {
  for (Shape shape : {Shape::deep_chain, Shape::wrong_order, Shape::all_red}) {
    auto disk = std::make_shared<Disk>();
    std::map<std::string, std::string> want;
    std::vector<std::u16string> names;
    {
      auto f = CompoundFile::create(memFile(disk));
      for (int i = 0; i < 5000; ++i) {
        char n[16];
        std::snprintf(n, sizeof n, "n%05d", i);
        std::string data = i % 100 == 0 ? randomBytes(5000, i) : std::to_string(i);
        putStream(f->root(), n, data);
        want[n] = data;
        names.push_back(std::u16string(n, n + 6));
      }
      ASSERT_TRUE(f->commit());
    }
    auto image = disk->current;
    RawDirectory dir(image);
    std::map<std::u16string, uint32_t> byName;
    for (uint32_t i = 0; i < dir.offsets.size(); ++i) {
      if (dir.entry(i)[66] != kTypeEmpty) byName[dir.name(i)] = i;
    }
    std::vector<uint32_t> ids;
    for (const auto& n : names) ids.push_back(byName.at(n));
    if (shape == Shape::deep_chain) {
      // 5000 deep, every node the right child of the one before.
      for (size_t i = 0; i < ids.size(); ++i) {
        dir.link(ids[i], kNoStream, i + 1 < ids.size() ? ids[i + 1] : kNoStream, kBlack);
      }
      putLe32(dir.entry(0) + 76, ids[0]);
    } else if (shape == Shape::wrong_order) {
      // A chain in reverse order: every name on the wrong side.
      for (size_t i = 0; i < ids.size(); ++i) {
        dir.link(ids[i], kNoStream, i > 0 ? ids[i - 1] : kNoStream, kBlack);
      }
      putLe32(dir.entry(0) + 76, ids.back());
    } else {
      for (uint32_t id : ids) dir.entry(id)[67] = kRed;
    }
    {
      auto f = CompoundFile::open(memFile(diskWith(image)), OpenMode::read_only);
      ASSERT_TRUE(f) << f.message();
      EXPECT_EQ(treeDiff(readTree(f.value()), want), "");
      auto report = f->check();
      ASSERT_FALSE(report.ok());
      EXPECT_NE(report.faults[0].find("red-black"), std::string::npos) << report.faults[0];
      EXPECT_TRUE(f->root().contains("n04999"));
    }
    // The next commit writes a valid tree.
    auto rw = diskWith(image);
    auto f = CompoundFile::open(memFile(rw), OpenMode::read_write);
    ASSERT_TRUE(f);
    putStream(f->root(), "added", "x");
    want["added"] = "x";
    ASSERT_TRUE(f->commit());
    auto again = CompoundFile::open(memFile(rw), OpenMode::read_only);
    EXPECT_EQ(again->check().faults, std::vector<std::string>{});
    EXPECT_EQ(treeDiff(readTree(again.value()), want), "");
  }
}

TEST(ForeignFields, MinorVersion3BAndGarbageInTheVersion3SizeHighWordAreRead) {
  auto image = sampleFile(3);
  putLe16(image.data() + 24, 0x3B);
  RawDirectory dir(image);
  for (uint32_t id = 0; id < dir.offsets.size(); ++id) {
    if (dir.entry(id)[66] == kTypeStream) putLe32(dir.entry(id) + 124, 0xDEADBEEF);
  }
  auto f = CompoundFile::open(memFile(diskWith(image)), OpenMode::read_only);
  ASSERT_TRUE(f) << f.message();
  auto tree = readTree(f.value());
  EXPECT_EQ(tree["img1-1"], randomBytes(20000, 3));
  EXPECT_EQ(tree["folder/col1-1.xml"], randomBytes(9000, 1));
}

TEST(Damage, HostileFieldsGiveClearErrors) {
  auto base = sampleFile(3);
  auto expectError = [&](std::vector<uint8_t> image, const std::string& what, Errc code) {
    auto f = CompoundFile::open(memFile(diskWith(std::move(image))), OpenMode::read_only);
    ASSERT_FALSE(f) << what;
    EXPECT_EQ(f.error().code, code) << what << ": " << f.message();
  };
  {
    auto img = base;
    putLe32(img.data() + 44, 0x7FFFFFFF);  // a FAT larger than any disk
    expectError(img, "FAT sector count", Errc::corrupt);
  }
  {
    auto img = base;
    img[0] ^= 1;
    expectError(img, "signature", Errc::corrupt);
  }
  {
    auto img = base;
    putLe16(img.data() + 30, 20);  // 1 MB sectors
    expectError(img, "sector shift", Errc::unsupported);
  }
  {
    // The root's child points at the root: a directory cycle.
    auto img = base;
    RawDirectory dir(img);
    putLe32(dir.entry(dir.find(u"categories")) + 68, 0);
    expectError(img, "directory cycle", Errc::corrupt);
  }
  {
    // A stream whose size is absurd: refused when opened, nothing allocated.
    auto img = base;
    RawDirectory dir(img);
    uint32_t id = dir.find(u"img1-1");
    putLe32(dir.entry(id) + 120, 0x7FFFFFF0);
    auto f = CompoundFile::open(memFile(diskWith(img)), OpenMode::read_only);
    ASSERT_TRUE(f);
    auto s = f->root().openStream("img1-1");
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().code, Errc::corrupt);
  }
  {
    // A stream chain that loops back on itself.
    auto img = base;
    RawDirectory dir(img);
    uint32_t start = getLe32(dir.entry(dir.find(u"img1-1")) + 116);
    uint32_t where = getLe32(img.data() + 76);  // the first FAT sector
    putLe32(img.data() + (where + 1) * 512 + 4 * (start + 1), start);
    auto f = CompoundFile::open(memFile(diskWith(img)), OpenMode::read_only);
    ASSERT_TRUE(f);
    auto s = f->root().openStream("img1-1");
    ASSERT_FALSE(s);
    EXPECT_NE(s.message().find("loops"), std::string::npos) << s.message();
    EXPECT_FALSE(f->check().ok());
  }
}

}  // namespace
}  // namespace tamber::storage
