// Picture information: pictures made by ImageMagick with EXIF written by
// exiftool, and EXIF blocks built byte by byte for what no tool writes.

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "platform/utf.h"
#include "scan/image_info.h"
#include "tests/storage/storage_helpers.h"

namespace tamber::scan {
namespace {

using storage::TempDir;

std::string s8(const std::u16string& s) { return utf16ToUtf8(s); }

class Pictures : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    std::string cmd = std::string(TAMBER_SCAN_TESTS) + "/make_images.sh '" + dir_->path.string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  static void TearDownTestSuite() { delete dir_; }

  struct Read {
    std::optional<Picture> picture;
    int width = 0, height = 0, bits = 0;
    ImageProperties props;
  };
  Read read(const std::string& name, int box = 64) {
    Read r;
    r.picture = reader_.read((dir_->path / name).string(), box, box, r.width, r.height, r.bits,
                             &r.props, true);
    return r;
  }

  static TempDir* dir_;
  ImageInfoReader reader_;
};
TempDir* Pictures::dir_ = nullptr;

TEST_F(Pictures, DepthFollowsThePixelFormatTable) {
  const std::map<std::string, std::pair<int, bool>> want = {
      {"photo.jpg", {24, false}},     {"grey.jpg", {8, false}},   {"small.png", {24, false}},
      {"rgba.png", {32, true}},       {"palette.png", {8, true}}, {"deep.png", {48, false}},
      {"deep-alpha.png", {64, true}}, {"gif.gif", {8, false}},    {"bmp8.bmp", {8, false}},
      {"bmp24.bmp", {24, false}},     {"icon.ico", {32, true}},   {"tiff.tif", {48, false}}};
  for (const auto& [name, depth] : want) {
    auto r = read(name);
    ASSERT_TRUE(r.picture) << name;
    EXPECT_EQ(r.bits, depth.first) << name;
    EXPECT_EQ(reader_.hasAlpha(), depth.second) << name;
  }
  EXPECT_FALSE(read("broken.jpg").picture);
  EXPECT_FALSE(read("missing.png").picture);
}

TEST_F(Pictures, ThumbnailSizesAndEncoders) {
  auto photo = read("photo.jpg");
  ASSERT_TRUE(photo.picture);
  EXPECT_EQ(photo.width, 3000);
  EXPECT_EQ(photo.picture->width(), 64);
  EXPECT_EQ(photo.picture->height(), 43);  // 2000 x 64 / 3000 = 42.67, rounded up
  std::string bytes;
  ASSERT_TRUE(reader_.encodeThumbnail(*photo.picture, bytes));
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xD8");  // JPEG
  auto portrait = read("portrait.jpg");
  EXPECT_EQ(portrait.picture->width(), 43);
  EXPECT_EQ(portrait.picture->height(), 64);
  auto small = read("small.png");
  EXPECT_EQ(small.picture->width(), 50);  // never enlarged
  EXPECT_EQ(small.picture->height(), 40);
  for (const char* alpha : {"rgba.png", "palette.png", "icon.ico"}) {
    auto r = read(alpha);
    ASSERT_TRUE(reader_.encodeThumbnail(*r.picture, bytes)) << alpha;
    EXPECT_EQ(bytes.substr(0, 4), "\x89PNG") << alpha;
  }
  // A box of 0 x 0 returns the picture itself.
  EXPECT_EQ(read("photo.jpg", 0).picture->width(), 3000);
  EXPECT_EQ(thumbnailSize(3000, 2000, 64, 64, true).height, 43);
  EXPECT_EQ(thumbnailSize(100, 100, 64, 64, true).width, 64);
  EXPECT_EQ(thumbnailSize(100, 30, 64, 64, false).height, 30);
}

TEST_F(Pictures, CameraPropertiesWrittenByExiftool) {
  auto p = read("photo.jpg").props;
  EXPECT_EQ(s8(p.cameraMake), "Canon");
  EXPECT_EQ(s8(p.cameraModel), "EOS 5D");
  EXPECT_EQ(s8(p.takenDate), "2003-05-12T14:30:00");
  EXPECT_EQ(s8(p.exposureTime), "1/125");
  EXPECT_EQ(s8(p.fNumber), "2.8");
  EXPECT_EQ(p.exposureProgram, 2);
  EXPECT_EQ(s8(p.comment), "Plain ASCII comment");
  EXPECT_EQ(s8(read("dateonly.jpg").props.takenDate), "2011-02-03T04:05:06");
  EXPECT_EQ(s8(read("unicode.jpg").props.comment), "Ça coûte 5 €");
  EXPECT_EQ(s8(read("xpcomment.jpg").props.comment), "Windows picture comment");
  auto none = read("portrait.jpg").props;
  EXPECT_TRUE(none.comment.empty() && none.takenDate.empty() && none.cameraMake.empty());
  EXPECT_EQ(none.exposureProgram, 0);
}

// "Exif\0\0", a little-endian TIFF header, IFD0 with the EXIF pointer, and an
// EXIF IFD with the given entries (tag, type, count, value bytes).
struct Entry {
  uint16_t tag, type;
  uint32_t count;
  std::string value;
};
std::string le16(uint16_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }
std::string le32(uint32_t v) { return le16(static_cast<uint16_t>(v)) + le16(static_cast<uint16_t>(v >> 16)); }

std::string exifBlock(const std::vector<Entry>& entries) {
  std::string tiff = "II*" + std::string(1, '\0') + le32(8);
  tiff += le16(1) + le16(0x8769) + le16(4) + le32(1) + le32(26) + le32(0);  // IFD0
  uint32_t data = 26 + 2 + static_cast<uint32_t>(entries.size()) * 12 + 4;
  std::string ifd = le16(static_cast<uint16_t>(entries.size())), blob;
  for (const auto& e : entries) {
    ifd += le16(e.tag) + le16(e.type) + le32(e.count);
    if (e.value.size() <= 4) {
      ifd += e.value + std::string(4 - e.value.size(), '\0');
    } else {
      ifd += le32(data + static_cast<uint32_t>(blob.size()));
      blob += e.value;
    }
  }
  ifd += le32(0);
  return std::string("Exif\0\0", 6) + tiff + ifd + blob;
}

TEST(Exif, RulesForWhatNoToolWrites) {
  std::u16string utf16 = u"Grüße";
  std::string unicode("UNICODE\0", 8);
  for (char16_t c : utf16) unicode += le16(c);
  unicode += le16(0);
  std::string block = exifBlock({{0x829A, 5, 1, le32(10) + le32(10)},
                                 {0x9286, 7, static_cast<uint32_t>(unicode.size()), unicode},
                                 {0x8822, 3, 1, le16(0x0105)}});
  auto p = propertiesFromExif(reinterpret_cast<const uint8_t*>(block.data()), block.size());
  EXPECT_EQ(s8(p.exposureTime), "1/1");  // 10/10
  EXPECT_EQ(s8(p.comment), "Grüße");
  EXPECT_EQ(p.exposureProgram, 5);  // the low byte
  // A character code of eight zeros: 8-bit text, converted before the scrub.
  auto eight = decodeComment(7, std::string(8, '\0') + "Caf\xE9\x01", false);
  EXPECT_EQ(s8(*eight), "Caf\xC3\xA9.");
  EXPECT_EQ(s8(*decodeComment(2, "Na\xEFve\x02", false)), "Na\xC3\xAFve.");
  EXPECT_EQ(s8(*decodeComment(1, std::string("H\0i\0", 4), false)), "Hi");
  EXPECT_FALSE(decodeComment(11, "x", false));
  // Dates by position, with the defaults of short items.
  EXPECT_EQ(s8(decodeTakenDate(std::string("2003:05:12 14:30:00\0", 20))), "2003-05-12T14:30:00");
  EXPECT_EQ(s8(decodeTakenDate("2003:05:12 14:30")), "2003-05-12T14:30: 0");
  EXPECT_EQ(s8(decodeTakenDate("2003")), "2003- 1- 1T 0: 0: 0");
  EXPECT_EQ(s8(decodeTakenDate("")), "1971- 1- 1T 0: 0: 0");
  // Damaged blocks give empty properties, never a crash.
  for (size_t cut = 0; cut < block.size(); cut += 3) {
    (void)propertiesFromExif(reinterpret_cast<const uint8_t*>(block.data()), cut);
  }
}

TEST(Headers, PicturesTheDecoderCannotReadStillGiveTheirSize) {
  // A minimal EMF header record: bounds 0,0 - 639,479, " EMF" at offset 40.
  std::string emf = le32(1) + le32(108) + le32(0) + le32(0) + le32(639) + le32(479) +
                    std::string(16, '\0') + " EMF" + std::string(64, '\0');
  TempDir dir;
  auto path = dir.path / "drawing.emf";
  { std::ofstream(path, std::ios::binary) << emf; }
  ImageInfoReader reader;
  int w = 0, h = 0, bits = 0;
  EXPECT_FALSE(reader.read(path.string(), 64, 64, w, h, bits, nullptr, true));
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  EXPECT_EQ(bits, 32);
  EXPECT_EQ(sizeFromHeader("BM" + std::string(12, '\0') + le32(40) + le32(100) + le32(-50) + le16(1) +
                           le16(8))->height, 50);
  EXPECT_FALSE(sizeFromHeader("BM" + std::string(12, '\0') + le32(40) + le32(0) + le32(5) + le16(1) + le16(8)));
}

TEST(Headers, PixelFormatsFromTheFirstBytes) {
  std::string bmp = "BM" + std::string(26, '\0') + le16(16);
  EXPECT_EQ(pixelFormatFromHeader(bmp)->bitsPerPixel, 16);
  EXPECT_FALSE(pixelFormatFromHeader("BM" + std::string(26, '\0') + le16(7)));
  EXPECT_FALSE(pixelFormatFromHeader("nothing known"));
  std::string gif = "GIF89a" + std::string(7, '\0') + "\x21\xF9\x04\x01";
  EXPECT_TRUE(pixelFormatFromHeader(gif)->paletteAlpha);
}

}  // namespace
}  // namespace tamber::scan
