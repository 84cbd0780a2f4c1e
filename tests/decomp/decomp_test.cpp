// The archive lister: archives made by real tools are described into a
// library stream and read back; ARJ and ACE headers byte by byte.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <map>

#include "decomp/extract.h"
#include "decomp/listing.h"
#include "platform/utf.h"
#include "platform/xml.h"
#include "tests/storage/mem_file.h"
#include "tests/storage/storage_helpers.h"

namespace tamber::decomp {
namespace {

using storage::TempDir;

class Archives : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    std::string cmd = std::string(TAMBER_DECOMP_TESTS) + "/make_archives.sh '" + dir_->path.string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  static void TearDownTestSuite() { delete dir_; }

  void SetUp() override {
    file_ = std::make_unique<storage::CompoundFile>(
        std::move(storage::CompoundFile::create(storage::testing::memFile(disk_)).value()));
    stream_ = std::move(file_->root().createStream("arc1-1").value());
  }

  // Lists one archive into the stream; returns the offset (or -1).
  long add(const std::string& name, unsigned char kind) {
    std::u16string path = *utf8ToUtf16((dir_->path / name).string());
    std::string ext = std::filesystem::path(name).extension().string().substr(1);
    std::u16string e(ext.begin(), ext.end());
    unsigned long offset = static_cast<unsigned long>(-1);
    long rc = extract_.WriteDecompressedArchive2Stream(path.c_str(), e.c_str(), 1, kind, &stream_,
                                                       &offset, nullptr);
    if (rc != 0) {
      EXPECT_EQ(offset, static_cast<unsigned long>(-1));
    }
    return rc == 0 ? static_cast<long>(offset) : -1;
  }

  // Reads the description at an offset back: 4-byte length, then the XML.
  std::string descriptionAt(long offset) {
    uint8_t len[4];
    EXPECT_TRUE(stream_.seek(offset));
    EXPECT_EQ(stream_.read(len, 4).value(), 4u);
    size_t n = len[0] | len[1] << 8 | len[2] << 16 | static_cast<size_t>(len[3]) << 24;
    std::string text(n, '\0');
    EXPECT_EQ(stream_.read(text.data(), n).value(), n);
    return text;
  }

  std::map<std::string, int64_t> files(long offset, std::string* comment = nullptr) {
    std::string path;
    auto listing = parseDescription(descriptionAt(offset), &path);
    EXPECT_TRUE(listing);
    std::map<std::string, int64_t> out;
    if (!listing) return out;
    if (comment) *comment = listing->comment;
    for (const auto& m : listing->members) {
      if (!m.folder) out[m.name] = m.size;
    }
    return out;
  }

  static TempDir* dir_;
  std::shared_ptr<storage::testing::Disk> disk_ = std::make_shared<storage::testing::Disk>();
  std::unique_ptr<storage::CompoundFile> file_;
  storage::Stream stream_;
  CExtract extract_;
};
TempDir* Archives::dir_ = nullptr;

const std::map<std::string, int64_t> kAll = {
    {"docs/a.txt", 6}, {"docs/deep/b.txt", 5000}, {"readme.txt", 6}};

TEST_F(Archives, EveryFormatIsListedAndReadsBack) {
  for (auto [name, kind] : std::vector<std::pair<std::string, unsigned char>>{
           {"t.zip", kArchiveZip}, {"t.tar", kArchiveGzipTar}, {"t.tar.gz", kArchiveGzipTar},
           {"t.7z", kArchiveGzipTar}, {"t.cab", kArchiveCab}, {"t.arj", kArchiveArj},
           {"sfx.exe", kArchiveExe}, {"sfx7z.exe", kArchiveExe}, {"sfxcab.exe", kArchiveSfx}}) {
    long at = add(name, kind);
    ASSERT_GE(at, 0) << name;
    EXPECT_EQ(files(at), kAll) << name;
  }
}

TEST_F(Archives, TarsUnderEveryCompressionAreListedWhole) {
  for (const char* ext : {"gz", "bz2", "xz", "lzma", "zst", "lz4", "lz", "Z"}) {
    std::string name = std::string("every.tar.") + ext;
    long at = add(name, kArchiveGzipTar);
    ASSERT_GE(at, 0) << name;
    EXPECT_EQ(files(at), kAll) << name;
    auto listing = parseDescription(descriptionAt(at), nullptr);
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing->partial, "") << name;
  }
}

// A few hundred KB that unpack to 256 MiB of zeros, then a second member.
TEST_F(Archives, BombsAreListedAsFarAsTheBudgetGoesAndMarkedPartial) {
  std::string cmd = std::string(TAMBER_DECOMP_TESTS) + "/make_bombs.sh '" + dir_->path.string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const uint64_t declared = 64ull << 20;
  for (const char* ext : {"gz", "bz2", "xz", "lzma", "zst", "lz4", "lz", "Z"}) {
    std::string name = std::string("bomb.tar.") + ext;
    auto listing = listWithLibarchive((dir_->path / name).string(), Budget{4ull << 20, 0});
    ASSERT_TRUE(listing) << name;
    ASSERT_EQ(listing->members.size(), 1u) << name;
    EXPECT_EQ(listing->members[0].name, "zeros.bin");
    EXPECT_EQ(static_cast<uint64_t>(listing->members[0].size), declared);
    EXPECT_EQ(listing->partial, "bytes") << name;
  }
  // The time budget holds within a member too.
  auto late = listWithLibarchive((dir_->path / "bomb.tar.gz").string(), Budget{0, 1});
  ASSERT_TRUE(late);
  EXPECT_EQ(late->partial, "time");
  // Without a budget the whole stream is read and the second member found.
  auto whole = listWithLibarchive((dir_->path / "bomb.tar.zst").string(), Budget{});
  ASSERT_TRUE(whole);
  ASSERT_EQ(whole->members.size(), 2u);
  EXPECT_EQ(whole->members[1].name, "second.txt");
  EXPECT_EQ(whole->partial, "");
  // The mark is stored with the description and read back; a budget large
  // enough leaves none.
  extract_.SetListingBudget(4ull << 20, 0);
  auto partial = parseDescription(descriptionAt(add("bomb.tar.xz", kArchiveGzipTar)), nullptr);
  ASSERT_TRUE(partial);
  EXPECT_EQ(partial->partial, "bytes");
  EXPECT_EQ(partial->members.size(), 1u);
  extract_.SetListingBudget(1ull << 30, 0);
  auto listed = parseDescription(descriptionAt(add("bomb.tar.zst", kArchiveGzipTar)), nullptr);
  ASSERT_TRUE(listed);
  EXPECT_EQ(listed->partial, "");
  EXPECT_EQ(listed->members.size(), 2u);
}

TEST_F(Archives, CommentsPathsDatesAndPackedSizes) {
  long at = add("t.zip", kArchiveZip);
  std::string comment;
  files(at, &comment);
  EXPECT_EQ(comment, "Comment of the zip");
  xml::Doc doc(xmlReadMemory(descriptionAt(at).data(), static_cast<int>(descriptionAt(at).size()),
                             nullptr, "UTF-8", 0));
  std::u16string c, path;
  EXPECT_EQ(CExtract::GetArchiveComments(doc.get(), c), 1);
  EXPECT_EQ(CExtract::GetArchivefullPath(doc.get(), path), 1);
  EXPECT_EQ(utf16ToUtf8(path), (dir_->path / "t.zip").string());
  // ARJ headers carry the packed sizes and times.
  auto listing = parseDescription(descriptionAt(add("t.arj", kArchiveArj)), nullptr);
  ASSERT_TRUE(listing);
  for (const auto& m : listing->members) {
    EXPECT_GE(m.packed, 0) << m.name;
    std::tm tm{};
    localtime_r(&m.modified, &tm);
    EXPECT_EQ(tm.tm_year + 1900, 2004) << m.name;
  }
}

TEST_F(Archives, DescriptionsFollowEachOtherAndFailuresLeaveTheStreamAsItWas) {
  long first = add("t.zip", kArchiveZip);
  long second = add("t.tar", kArchiveGzipTar);
  EXPECT_GT(second, first);
  uint64_t before = stream_.size();
  EXPECT_EQ(add("damaged.zip", kArchiveZip), -1);
  EXPECT_EQ(add("plain.exe", kArchiveExe), -1);  // a program without an archive
  EXPECT_EQ(add("missing.zip", kArchiveZip), -1);
  EXPECT_EQ(stream_.size(), before);
  long third = add("t.7z", kArchiveGzipTar);
  EXPECT_EQ(static_cast<uint64_t>(third), before);
  EXPECT_EQ(files(first), kAll);
  EXPECT_EQ(files(third), kAll);
  ASSERT_TRUE(stream_.commit());
  ASSERT_TRUE(file_->commit());
}

TEST(Split, PiecesBetweenSeparatorsInBothContainers) {
  std::vector<std::u16string> v;
  EXPECT_EQ(CExtract::GetListBySeperator(u"*.mp3;*.jpg;;x", u";", &v), 3);
  EXPECT_EQ(v, (std::vector<std::u16string>{u"*.mp3", u"*.jpg", u"x"}));
  std::list<std::u16string> l;
  EXPECT_EQ(CExtract::GetListBySeperator(u"a\\b\\c", u"\\", &l), 3);
  EXPECT_EQ(l.back(), u"c");
  EXPECT_EQ(CExtract::GetListBySeperator(nullptr, u";", &v), 0);
}

// ARJ and ACE files built byte by byte.
std::string le16(uint16_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }
std::string le32(uint32_t v) { return le16(static_cast<uint16_t>(v)) + le16(static_cast<uint16_t>(v >> 16)); }

std::string arjHeader(uint8_t type, const std::string& name, uint32_t packed, uint32_t size,
                      const std::string& comment = "") {
  std::string h;
  h += static_cast<char>(30);  // first header size
  h += std::string("\x0B\x01\x00\x00\x00", 5);  // versions, host DOS, flags, method
  h += static_cast<char>(type);
  h += '\0';
  h += le32(0x30430000);  // 2004-02-03 00:00 in DOS format
  h += le32(packed) + le32(size) + le32(0) + le16(0) + le16(0x20) + le16(0);
  h += name + '\0' + comment + '\0';
  return "\x60\xEA" + le16(static_cast<uint16_t>(h.size())) + h + le32(0) + le16(0);
}

TEST(ArjAce, HeadersAreReadAndHostileSizesRefused) {
  std::string arj = arjHeader(2, "T.ARJ", 0, 0, "archive comment") +
                    arjHeader(0, "DIR\\FILE.TXT", 4, 10) + "data" + arjHeader(3, "DIR", 0, 0) +
                    "\x60\xEA" + le16(0);
  auto listing = listArj(arj);
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->comment, "archive comment");
  ASSERT_EQ(listing->members.size(), 2u);
  EXPECT_EQ(listing->members[0].name, "DIR/FILE.TXT");
  EXPECT_EQ(listing->members[0].size, 10);
  EXPECT_EQ(listing->members[0].packed, 4);
  EXPECT_TRUE(listing->members[1].folder);
  // A packed size past the end, a header size past the end, no end header.
  EXPECT_FALSE(listArj(arjHeader(2, "T", 0, 0) + arjHeader(0, "F", 999999, 1) + "x"));
  EXPECT_FALSE(listArj(arj.substr(0, arj.size() - 20)));
  EXPECT_FALSE(listArj("not an archive"));

  auto aceBlock = [](const std::string& header, const std::string& data = "") {
    return le16(0) + le16(static_cast<uint16_t>(header.size())) + header + data;
  };
  std::string main = std::string("\x00", 1) + le16(0) + "**ACE**" + std::string("\x14\x14\x02\x00", 4) + le32(0) +
                     std::string(8, '\0') + std::string(1, '\0');
  std::string file = std::string("\x01", 1) + le16(1) + le32(3) + le32(7) + le32(0x30430000) +
                     le32(0x20) + le32(0) + le32(0) + le16(0) + le16(8) + "PIC\\A.GIF";
  file = file.substr(0, file.size() - 1);  // eight characters: "PIC\A.GI"
  std::string ace = aceBlock(main) + aceBlock(file, "abc");
  auto a = listAce(ace);
  ASSERT_TRUE(a);
  ASSERT_EQ(a->members.size(), 1u);
  EXPECT_EQ(a->members[0].name, "PIC/A.GI");
  EXPECT_EQ(a->members[0].size, 7);
  EXPECT_EQ(a->members[0].packed, 3);
  EXPECT_FALSE(listAce("**ACE** is not enough"));
}

TEST(ArjAce, ALargeArchiveIsListedThroughItsHeaders) {
  // 100 MB of stored data between the headers, as a sparse file.
  TempDir dir;
  auto path = dir.path / "big.arj";
  const uint32_t big = 100u << 20;
  std::string head = arjHeader(2, "BIG.ARJ", 0, 0) + arjHeader(0, "HUGE.BIN", big, big);
  std::string tail = arjHeader(0, "AFTER.TXT", 0, 0) + "\x60\xEA" + le16(0);
  {
    std::ofstream out(path, std::ios::binary);
    out << head;
    out.seekp(static_cast<std::streamoff>(head.size() + big));
    out << tail;
  }
  CExtract extract;
  auto disk = std::make_shared<storage::testing::Disk>();
  auto f = storage::CompoundFile::create(storage::testing::memFile(disk));
  auto stream = f->root().createStream("arc");
  unsigned long offset = static_cast<unsigned long>(-1);
  std::u16string p = *utf8ToUtf16(path.string());
  ASSERT_EQ(extract.WriteDecompressedArchive2Stream(p.c_str(), u"arj", 1, kArchiveArj, &stream.value(),
                                                    &offset, nullptr),
            0);
  ASSERT_TRUE(stream->seek(static_cast<int64_t>(offset) + 4));
  std::string xml(stream->size() - offset - 4, '\0');
  ASSERT_TRUE(stream->read(xml.data(), xml.size()));
  auto listing = parseDescription(xml, nullptr);
  ASSERT_TRUE(listing);
  ASSERT_EQ(listing->members.size(), 2u);
  EXPECT_EQ(listing->members[0].size, big);
  EXPECT_EQ(listing->members[1].name, "AFTER.TXT");
}

}  // namespace
}  // namespace tamber::decomp
