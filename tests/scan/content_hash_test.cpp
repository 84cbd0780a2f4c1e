// Content hashes: the same digests as xxhsum -H2 whatever the block size,
// files that are not regular refused without waiting, a file that changes
// while it is read marked as such, and `tamber hash` in the order given.
#include "scan/content_hash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <random>
#include <sstream>

#include "tests/run_command.h"
#include "tests/storage/storage_helpers.h"

namespace tamber::scan {
namespace {

using storage::TempDir;
using test_support::runCommand;
using test_support::shellQuote;

void writeRandom(const std::filesystem::path& p, size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (auto& c : bytes) c = static_cast<char>(random());
  std::ofstream(p, std::ios::binary) << bytes;
}

std::string xxhsum(const std::filesystem::path& p) {
  auto r = runCommand("xxhsum -H2 " + shellQuote(p.string()), false);
  EXPECT_EQ(r.status, 0) << r.out;
  return r.out.substr(0, r.out.find(' '));
}

TEST(ContentHash, DigestsAreXxhsumsAtEveryBlockSize) {
  TempDir dir;
  const size_t sizes[] = {0, 1, 4095, 4096, 4097, (1u << 20) - 1, 1u << 20, (3u << 20) + 7};
  for (size_t size : sizes) {
    auto file = dir.path / ("f" + std::to_string(size));
    writeRandom(file, size, static_cast<unsigned>(size));
    std::string expected = xxhsum(file);
    ASSERT_EQ(expected.size(), 32u);
    for (size_t block : {size_t{4096}, size_t{65536}, size_t{1} << 20}) {
      HashOptions o;
      o.blockSize = block;
      auto h = hashFile(file.string(), o);
      ASSERT_TRUE(h) << h.message();
      EXPECT_EQ(h->hex, expected) << size << " in blocks of " << block;
      EXPECT_EQ(h->bytes, size);
      EXPECT_FALSE(h->changedWhileRead);
    }
  }
}

TEST(ContentHash, WhatIsNoRegularFileIsRefusedAtOnce) {
  TempDir dir;
  writeRandom(dir.path / "real", 10, 1);
  std::filesystem::create_symlink(dir.path / "real", dir.path / "link");
  ASSERT_EQ(::mkfifo((dir.path / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(dir.path / "folder");
  auto link = hashFile((dir.path / "link").string());
  ASSERT_FALSE(link);
  EXPECT_EQ(link.message(), "a symbolic link");
  // A FIFO with no writer would block a plain open for good.
  auto fifo = hashFile((dir.path / "fifo").string());
  ASSERT_FALSE(fifo);
  EXPECT_EQ(fifo.error().code, Errc::invalid_argument);
  EXPECT_FALSE(hashFile((dir.path / "folder").string()));
  auto missing = hashFile((dir.path / "missing").string());
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().code, Errc::not_found);
}

TEST(ContentHash, AFileThatChangesWhileReadIsMarkedAndAStopIsHonoured) {
  TempDir dir;
  auto file = dir.path / "growing";
  writeRandom(file, 3 << 16, 7);
  HashOptions o;
  o.blockSize = 1 << 16;
  bool appended = false;
  o.progress = [&](uint64_t) {
    if (!appended) std::ofstream(file, std::ios::binary | std::ios::app) << "more";
    appended = true;
    return true;
  };
  auto h = hashFile(file.string(), o);
  ASSERT_TRUE(h) << h.message();
  EXPECT_TRUE(h->changedWhileRead);
  // Read again, left alone, it is whole.
  auto again = hashFile(file.string());
  ASSERT_TRUE(again);
  EXPECT_FALSE(again->changedWhileRead);
  EXPECT_EQ(again->hex, xxhsum(file));

  int blocks = 0;
  o.progress = [&](uint64_t) { return ++blocks < 2; };
  auto stopped = hashFile(file.string(), o);
  ASSERT_FALSE(stopped);
  EXPECT_EQ(stopped.error().code, Errc::cancelled);
  EXPECT_EQ(blocks, 2);
}

TEST(ContentHash, TheCommandPrintsInTheOrderGivenAsXxhsumDoes) {
  TempDir dir;
  std::string names;
  for (int i = 0; i < 12; ++i) {
    // Sizes that make the later files finish first with several jobs.
    auto file = dir.path / ("n " + std::to_string(i));
    writeRandom(file, static_cast<size_t>(12 - i) * 300000, static_cast<unsigned>(i));
    names += " " + shellQuote(file.string());
  }
  auto expected = runCommand("xxhsum -H2" + names, false);
  ASSERT_EQ(expected.status, 0);
  for (const char* jobs : {"1", "3"}) {
    auto r = runCommand(std::string(TAMBER_CLI) + " hash -j " + jobs + names, false);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expected.out) << jobs << " jobs";
  }
  // One file that cannot be read fails the command, the others are said.
  auto r = runCommand(std::string(TAMBER_CLI) + " hash " + shellQuote((dir.path / "n 0").string()) + " " +
                      shellQuote((dir.path / "absent").string()));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("absent: No such file or directory"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(xxhsum(dir.path / "n 0")), 0u) << r.out;
}

}  // namespace
}  // namespace tamber::scan
