// Conformance in both directions with independent implementations: files we
// write are read byte-identical by olefile and by 7-Zip (the strictest reader
// at hand); files libgsf and LibreOffice write are read by us. Also drives the
// `tamber storage` commands end to end.

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/text.h"
#include "tests/run_command.h"
#include "tests/storage/storage_helpers.h"

namespace tamber::storage {
namespace {

const std::filesystem::path kSourceDir = TAMBER_TEST_SOURCE_DIR;

using tamber::test_support::CommandResult;
CommandResult run(const std::string& command) { return tamber::test_support::runCommand(command); }

std::string quote(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

std::string sha256(const std::string& data) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(data.data(), data.size(), md, &len, EVP_sha256(), nullptr);
  return tamber::hexDigits(md, len);
}

// The listing format of ole_list.py: "path<TAB>size<TAB>sha256", sorted.
std::string listing(const std::map<std::string, std::string>& tree) {
  std::vector<std::string> rows;
  for (const auto& [path, data] : tree) {
    rows.push_back(path + "\t" + std::to_string(data.size()) + "\t" + sha256(data));
  }
  std::sort(rows.begin(), rows.end());
  std::string out;
  for (const auto& r : rows) out += r + "\n";
  return out;
}

std::string olefileListing(const std::filesystem::path& file) {
  CommandResult r = run("/usr/bin/python3 " + quote(kSourceDir / "ole_list.py") + " " + quote(file));
  EXPECT_EQ(r.status, 0) << r.out;
  return r.out;
}

// Extracts everything with 7-Zip and lists it as olefile does; fails on any
// warning or error 7-Zip reports.
std::string sevenZipListing(const std::filesystem::path& file, const std::filesystem::path& dir) {
  CommandResult test = run("7zz t " + quote(file));
  EXPECT_EQ(test.status, 0) << test.out;
  EXPECT_NE(test.out.find("Everything is Ok"), std::string::npos) << test.out;
  for (const char* bad : {"Warning", "WARNING", "Error", "ERROR", "Unexpected", "Headers"}) {
    EXPECT_EQ(test.out.find(bad), std::string::npos) << test.out;
  }
  CommandResult x = run("7zz x -y -o" + quote(dir) + " " + quote(file));
  EXPECT_EQ(x.status, 0) << x.out;
  std::map<std::string, std::string> tree;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    tree[std::filesystem::relative(e.path(), dir).string()] = ss.str();
  }
  return listing(tree);
}

// A file with everything the strict readers look at: 30,000 streams in one
// storage with half of them renamed or deleted, the size boundaries, a stream
// moved across the cutoff both ways, a 10 MB stream.
std::map<std::string, std::string> writeDemandingFile(const std::filesystem::path& path,
                                                      int version, size_t many,
                                                      size_t extraMegabytes) {
  std::map<std::string, std::string> want;
  auto f = CompoundFile::create(path, version);
  EXPECT_TRUE(f) << f.message();
  Storage root = f->root();
  auto crowd = root.createStorage("crowd");
  for (size_t i = 0; i < many; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "stream%05zu", i);
    std::string data = randomBytes(i % 97, static_cast<unsigned>(i));
    putStream(*crowd, name, data);
    want[std::string("crowd/") + name] = data;
  }
  EXPECT_TRUE(f->commit());
  for (size_t i = 0; i < many; i += 2) {
    char name[32], renamed[32];
    std::snprintf(name, sizeof name, "stream%05zu", i);
    std::string data = want[std::string("crowd/") + name];
    want.erase(std::string("crowd/") + name);
    if (i % 4 == 0) {
      EXPECT_TRUE(crowd->destroy(name));
    } else {
      std::snprintf(renamed, sizeof renamed, "renamed%05zu", i);
      EXPECT_TRUE(crowd->rename(name, renamed));
      want[std::string("crowd/") + renamed] = data;
    }
  }
  auto sizes = root.createStorage("sizes");
  for (size_t n : {0, 1, 63, 64, 511, 512, 513, 4095, 4096, 4097}) {
    std::string data = randomBytes(n, static_cast<unsigned>(n) + 7);
    putStream(*sizes, "s" + std::to_string(n), data);
    want["sizes/s" + std::to_string(n)] = data;
  }
  {
    auto s = root.createStream("across");
    EXPECT_TRUE(s->write(randomBytes(3000, 1)));
    EXPECT_TRUE(s->commit());
    EXPECT_TRUE(s->write(randomBytes(5000, 2)));  // grows past the cutoff
    EXPECT_TRUE(s->commit());
    EXPECT_TRUE(s->setSize(4000));  // and back below it
    EXPECT_TRUE(s->commit());
    want["across"] = s->readAll().value();
  }
  std::string big = randomBytes(10'000'000, 10);
  putStream(root, "ten-megabytes", big);
  want["ten-megabytes"] = big;
  if (extraMegabytes) {
    std::string filler = randomBytes(extraMegabytes << 20, 11);
    putStream(root, "filler", filler);
    want["filler"] = filler;
  }
  EXPECT_TRUE(f->commit());
  return want;
}

TEST(Conformance, Version4FilesWeWriteAreReadByOlefileAnd7Zip) {
  TempDir dir;
  auto path = dir.path / "library.cds";
  auto want = writeDemandingFile(path, 4, 30000, 0);
  EXPECT_EQ(olefileListing(path), listing(want));
  EXPECT_EQ(sevenZipListing(path, dir.path / "x"), listing(want));
  auto f = CompoundFile::open(path, OpenMode::read_only);
  EXPECT_TRUE(f->check().ok());
}

TEST(Conformance, Version3FilesWithTwoDifatSectorsAreReadByOlefileAnd7Zip) {
  TempDir dir;
  auto path = dir.path / "library3.cds";
  // 109 FAT sectors of a version 3 file cover 7 MB; the first DIFAT sector 8 MB
  // more: 16 MB of data needs the second DIFAT sector.
  auto want = writeDemandingFile(path, 3, 3000, 8);
  uint8_t h[512];
  std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(h), 512);
  EXPECT_GE(detail::getLe32(h + 72), 2u) << "DIFAT sectors";
  EXPECT_EQ(olefileListing(path), listing(want));
  EXPECT_EQ(sevenZipListing(path, dir.path / "x"), listing(want));
}

TEST(Conformance, FilesLibgsfWritesAreReadByUs) {
  for (int version : {3, 4}) {
    TempDir dir;
    auto path = dir.path / "gsf.cfb";
    CommandResult r = run(std::string(TAMBER_GSF_WRITER) + " " + quote(path) + " " +
                std::to_string(version));
    ASSERT_EQ(r.status, 0) << r.out;
    auto f = CompoundFile::open(path, OpenMode::read_only);
    ASSERT_TRUE(f) << f.message();
    EXPECT_EQ(f->info().version, version);
    auto tree = readTree(f.value());
    EXPECT_EQ(listing(tree), olefileListing(path));
    ASSERT_EQ(tree.count("stream10"), 1u);
    EXPECT_EQ(tree["stream10"].size(), 100000u);
    EXPECT_EQ(static_cast<uint8_t>(tree["stream10"][99999]), (10 * 7 + 99999) & 0xFF);
    EXPECT_EQ(tree.count("Nested/inner9"), 1u);
  }
}

TEST(Conformance, DocumentsLibreOfficeWritesAreReadByUs) {
  for (const char* name : {"office-letter.doc", "office-sales.xls"}) {
    auto path = kSourceDir / "fixtures" / name;
    auto f = CompoundFile::open(path, OpenMode::read_only);
    ASSERT_TRUE(f) << name << ": " << f.message();
    std::ifstream in(path.string() + ".list");
    std::stringstream want;
    want << in.rdbuf();
    EXPECT_EQ(listing(readTree(f.value())), want.str()) << name;
  }
}

TEST(CommandLine, StorageCommandsEndToEnd) {
  TempDir dir;
  auto lib = quote(dir.path / "cli.cds");
  const std::string tamber = TAMBER_CLI;
  std::ofstream(dir.path / "a.bin", std::ios::binary) << randomBytes(12345, 1);
  std::ofstream(dir.path / "b.txt") << "hello\n";
  EXPECT_EQ(run(tamber + " storage put " + lib + " docs/a " + quote(dir.path / "a.bin")).status, 0);
  EXPECT_EQ(run(tamber + " storage put " + lib + " b " + quote(dir.path / "b.txt")).status, 0);
  CommandResult ls = run(tamber + " storage ls --hash " + lib);
  EXPECT_EQ(ls.status, 0);
  EXPECT_NE(ls.out.find("docs/a\t12345\t" + sha256(randomBytes(12345, 1))), std::string::npos)
      << ls.out;
  EXPECT_EQ(run(tamber + " storage cat " + lib + " b").out, "hello\n");
  EXPECT_EQ(run(tamber + " storage mv " + lib + " docs/a docs/c").status, 0);
  EXPECT_EQ(run(tamber + " storage cat " + lib + " docs/a").status, 1);
  EXPECT_EQ(run(tamber + " storage rm " + lib + " b").status, 0);
  CommandResult check = run(tamber + " storage check " + lib);
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_EQ(run(tamber + " storage compact " + lib).status, 0);
  EXPECT_EQ(run(tamber + " storage ls " + lib).out, "docs/\ndocs/c\t12345\n");
  // Damage: check reports faults and exits 1; a usage error exits 2.
  {
    std::fstream f(dir.path / "cli.cds", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(44);
    f.put('\x7F');
  }
  EXPECT_EQ(run(tamber + " storage check " + lib).status, 1);
  EXPECT_EQ(run(tamber + " storage nonsense").status, 2);
  EXPECT_EQ(run(tamber + " storage cat " + quote(dir.path / "missing.cds") + " x").status, 1);
}

}  // namespace
}  // namespace tamber::storage
