#include "scan/image_info.h"

#include <libexif/exif-data.h>
#include <libexif/exif-loader.h>
#include <libexif/exif-utils.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>

#include "platform/atomic_file.h"
#include "platform/loaded_library.h"
#include "platform/text.h"
#include "platform/utf.h"
#include "scan/picture_codec.h"

namespace tamber::scan {

namespace {

// A decoded image of the picture module.
struct Release {
  void operator()(void* image) const { pictureCodec()->release(image); }
};
using ImagePtr = std::unique_ptr<void, Release>;

struct Described {
  int width = 0, height = 0, bands = 0;
  bool wide = false, alpha = false;
};
Described describe(const void* image) {
  Described d;
  pictureCodec()->describe(image, &d.width, &d.height, &d.bands, &d.wide, &d.alpha);
  return d;
}

// libexif is loaded when the first picture's camera data is read, not at
// every start of the program; without it, pictures are read without that.
#define TAMBER_EXIF_FUNCTIONS(F)                                                                              \
  F(exif_content_get_entry) F(exif_data_get_byte_order) F(exif_data_load_data) F(exif_data_new)               \
  F(exif_data_unref) F(exif_data_unset_option) F(exif_get_rational) F(exif_get_short) F(exif_loader_get_buf)   \
  F(exif_loader_new) F(exif_loader_unref) F(exif_loader_write_file)

struct Exif {
#define TAMBER_EXIF_MEMBER(name) decltype(&::name) name = nullptr;
  TAMBER_EXIF_FUNCTIONS(TAMBER_EXIF_MEMBER)
#undef TAMBER_EXIF_MEMBER
};

const Exif* exifLibrary() {
  static const Exif* loaded = [] {
    static Exif api;
    std::string why;
#define TAMBER_EXIF_SLOT(name) TAMBER_FUNCTION_SLOT(api, name),
    bool ok = platform::loadFunctions("libexif.so.12", "libexif", {TAMBER_EXIF_FUNCTIONS(TAMBER_EXIF_SLOT)}, why);
#undef TAMBER_EXIF_SLOT
    return ok ? &api : nullptr;
  }();
  return loaded;
}

// Only made once the library is loaded.
struct ExifFree {
  void operator()(ExifData* d) const { exifLibrary()->exif_data_unref(d); }
};
struct LoaderFree {
  void operator()(ExifLoader* l) const { exifLibrary()->exif_loader_unref(l); }
};

std::u16string fromCp1252(std::string_view bytes) {
  std::u16string out;
  for (char c : bytes) {
    if (c == 0) break;
    out.push_back(static_cast<char16_t>(cp1252ToUnicode(static_cast<unsigned char>(c))));
  }
  return out;
}

// The UTF-16 scrub: characters XML does not allow become ".".
std::u16string scrub(std::u16string s) {
  for (auto& c : s) {
    bool ok = c == 9 || c == 10 || c == 13 || (c >= 32 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFE);
    if (!ok) c = u'.';
  }
  return s;
}

std::u16string ascii(const char* s) {
  std::u16string out;
  for (; *s; ++s) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*s)));
  return out;
}

uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// Reads up to `n` bytes from the start of a file without blocking on a FIFO.
std::string readHead(const std::string& path, size_t n) {
  std::string head;
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return head;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) head = tamber::readHead(fd, n);
  ::close(fd);
  return head;
}

// The file at `path` decoded as `format`; `shrink` is a JPEG shrink-on-load
// factor (1, 2, 4 or 8). Null when it does not load or pictures cannot be read.
void* load(PictureFormat format, const std::string& path, int shrink = 1) {
  if (format == PictureFormat::unknown || !pictureCodec()) return nullptr;
  return pictureCodec()->load(static_cast<int>(format), path.c_str(), shrink);
}

}  // namespace

struct Picture::Impl {
  ImagePtr image;
};

Picture::Picture(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Picture::~Picture() = default;
Picture::Picture(Picture&&) noexcept = default;
Picture& Picture::operator=(Picture&&) noexcept = default;
int Picture::width() const { return describe(impl_->image.get()).width; }
int Picture::height() const { return describe(impl_->image.get()).height; }

PictureFormat pictureFormat(std::string_view h) {
  auto u = reinterpret_cast<const unsigned char*>(h.data());
  if (h.size() >= 3 && u[0] == 0xFF && u[1] == 0xD8 && u[2] == 0xFF) return PictureFormat::jpeg;
  if (h.size() >= 8 && h.substr(0, 8) == "\x89PNG\r\n\x1A\n") return PictureFormat::png;
  if (h.size() >= 6 && (h.substr(0, 6) == "GIF87a" || h.substr(0, 6) == "GIF89a")) return PictureFormat::gif;
  if (h.size() >= 4 && (h.substr(0, 4) == std::string_view("II*\0", 4) ||
                        h.substr(0, 4) == std::string_view("MM\0*", 4))) {
    return PictureFormat::tiff;
  }
  if (h.size() >= 12 && h.substr(0, 4) == "RIFF" && h.substr(8, 4) == "WEBP") return PictureFormat::webp;
  if (h.size() >= 26 && h.substr(0, 2) == "BM") return PictureFormat::bmp;
  // Icons and cursors: reserved 0, type 1 or 2, at least one image.
  if (h.size() >= 22 && u[0] == 0 && u[1] == 0 && (u[2] == 1 || u[2] == 2) && u[3] == 0 &&
      (u[4] | u[5]) != 0) {
    return PictureFormat::ico;
  }
  return PictureFormat::unknown;
}

bool isDecodablePicture(std::string_view bytes) {
  if (pictureFormat(bytes) == PictureFormat::unknown || !pictureCodec()) return false;
  ImagePtr image(pictureCodec()->loadBuffer(bytes.data(), bytes.size()));
  if (!image) return false;
  // The header may be fine while the pixels are not: decode a little of them.
  Described d = describe(image.get());
  return d.width > 0 && d.height > 0 && pictureCodec()->pixelsDecode(image.get());
}

ThumbnailSize thumbnailSize(int width, int height, int boxWidth, int boxHeight, bool keepAspect) {
  ThumbnailSize t;
  if (!keepAspect) {
    t.width = std::min(width, boxWidth);
    t.height = std::min(height, boxHeight);
    return t;
  }
  // The longer side fills the box; the other is rounded up.
  if (height < width) {
    t.width = boxWidth;
    t.height = static_cast<int>((static_cast<int64_t>(height) * boxWidth + width - 1) / width);
  } else {
    t.width = static_cast<int>((static_cast<int64_t>(width) * boxHeight + height - 1) / height);
    t.height = boxHeight;
  }
  return t;
}

std::optional<PixelFormat> pixelFormatFromHeader(std::string_view h) {
  auto u = reinterpret_cast<const unsigned char*>(h.data());
  PixelFormat f;
  if (h.size() >= 29 && h.substr(0, 8) == "\x89PNG\r\n\x1A\n" && h.substr(12, 4) == "IHDR") {
    int depth = u[24], type = u[25];
    switch (type) {
      case 0: f.bitsPerPixel = depth == 16 ? 48 : (depth <= 1 ? 1 : depth <= 4 ? 4 : 8); break;
      case 2: f.bitsPerPixel = depth == 16 ? 48 : 24; break;
      case 3: f.bitsPerPixel = depth <= 1 ? 1 : depth <= 4 ? 4 : 8; break;
      case 4: case 6: f.bitsPerPixel = depth == 16 ? 64 : 32; f.hasAlpha = true; break;
      default: return std::nullopt;
    }
    // A transparency chunk gives a palette (or a colour key) alpha.
    if (type == 3 || type == 0 || type == 2) f.paletteAlpha = h.find("tRNS") != std::string_view::npos;
    return f;
  }
  if (h.size() >= 13 && (h.substr(0, 6) == "GIF87a" || h.substr(0, 6) == "GIF89a")) {
    f.bitsPerPixel = 8;
    // A graphic control extension with the transparency flag.
    for (size_t i = 13; i + 3 < h.size(); ++i) {
      if (u[i] == 0x21 && u[i + 1] == 0xF9 && u[i + 2] == 4 && (u[i + 3] & 1)) {
        f.paletteAlpha = true;
        break;
      }
    }
    return f;
  }
  if (h.size() >= 30 && h.substr(0, 2) == "BM") {
    int bits = le16(u + 28);
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return std::nullopt;
    f.bitsPerPixel = bits;
    return f;
  }
  if (h.size() >= 6 && le16(u) == 0 && le16(u + 2) == 1) {  // ICO
    f.bitsPerPixel = 32;
    f.hasAlpha = true;
    return f;
  }
  if (h.size() >= 4 && u[0] == 0xFF && u[1] == 0xD8) {
    // The frame header (SOF0-SOF15 but DHT, JPG, DAC) gives the components.
    for (size_t i = 2; i + 9 < h.size();) {
      if (u[i] != 0xFF) return std::nullopt;
      unsigned char marker = u[i + 1];
      if (marker == 0xFF) {
        ++i;
        continue;
      }
      size_t len = static_cast<size_t>(u[i + 2]) << 8 | u[i + 3];
      if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
        int components = u[i + 9];
        f.bitsPerPixel = components == 1 ? 8 : components == 3 ? 24 : components == 4 ? 32 : 0;
        return f;
      }
      i += 2 + len;
    }
    return std::nullopt;
  }
  return std::nullopt;
}

std::optional<HeaderSize> sizeFromHeader(std::string_view h) {
  auto u = reinterpret_cast<const unsigned char*>(h.data());
  auto le32s = [&](size_t at) {
    return static_cast<int32_t>(uint32_t{u[at]} | uint32_t{u[at + 1]} << 8 | uint32_t{u[at + 2]} << 16 |
                                uint32_t{u[at + 3]} << 24);
  };
  HeaderSize s;
  // EMF: the header record (type 1) with its device bounds and " EMF".
  if (h.size() >= 88 && le32s(0) == 1 && h.substr(40, 4) == " EMF") {
    int64_t w = int64_t{le32s(16)} - le32s(8) + 1, hh = int64_t{le32s(20)} - le32s(12) + 1;
    if (w <= 0 || hh <= 0 || w > 1 << 20 || hh > 1 << 20) return std::nullopt;
    s.width = static_cast<int>(w);
    s.height = static_cast<int>(hh);
    s.bitsPerPixel = 32;  // a metafile renders as 32 bpp RGB
    return s;
  }
  // BMP: BITMAPINFOHEADER or later (size 40+) after the 14-byte file header.
  if (h.size() >= 30 && h.substr(0, 2) == "BM" && le32s(14) >= 40) {
    int64_t w = le32s(18), hh = le32s(22);
    if (hh < 0) hh = -hh;  // top-down
    int bits = le16(u + 28);
    if (w <= 0 || hh <= 0 || w > 1 << 20 || hh > 1 << 20) return std::nullopt;
    s.width = static_cast<int>(w);
    s.height = static_cast<int>(hh);
    s.bitsPerPixel = (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32) ? bits : 0;
    return s;
  }
  return std::nullopt;
}

std::optional<std::u16string> decodeComment(int type, std::string_view v, bool bigEndian) {
  // The value ends at its last byte or at a terminator before it. (Writers
  // that store no terminator would otherwise lose their last character.)
  std::string value(v);
  auto utf16 = [&](std::string_view b, bool be) {
    std::u16string out;
    for (size_t i = 0; i + 1 < b.size(); i += 2) {
      auto a = static_cast<unsigned char>(b[i]), c = static_cast<unsigned char>(b[i + 1]);
      char16_t unit = static_cast<char16_t>(be ? (a << 8 | c) : (c << 8 | a));
      if (unit == 0) break;
      out.push_back(unit);
    }
    return out;
  };
  switch (type) {
    case 2:
      // Converted from the code page before the scrub, so accents survive.
      return scrub(fromCp1252(value));
    case 7: {
      if (value.size() < 8) return std::u16string();
      std::string_view code(value.data(), 8);
      std::string_view text(value.data() + 8, value.size() - 8);
      if (code == std::string_view("UNICODE\0", 8)) return scrub(utf16(text, bigEndian));
      return scrub(fromCp1252(text));
    }
    case 1: case 3: case 4: case 5: case 9: case 10:
      return utf16(value, false);
    default:
      return std::nullopt;
  }
}

std::u16string decodeTakenDate(std::string_view v) {
  // Parts by position; a short item keeps the defaults of what it lacks.
  size_t n = v.size();
  auto part = [&](size_t at, size_t len, const char* fallback, bool present) {
    if (!present) return std::string(fallback);
    std::string s(v.substr(at, std::min(len, n > at ? n - at : 0)));
    auto nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
    return s;
  };
  std::string year = part(0, 4, "1971", n >= 4);
  std::string month = part(5, 2, "1", n >= 7);
  std::string day = part(8, 2, "1", n > 9);
  std::string hour = part(11, 2, "0", n >= 13);
  std::string minute = part(14, 2, "0", n >= 16);
  std::string second = part(17, 2, "0", n >= 19);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%4s-%2s-%2sT%2s:%2s:%2s", year.c_str(), month.c_str(), day.c_str(),
                hour.c_str(), minute.c_str(), second.c_str());
  return scrub(fromCp1252(buf));
}

ImageProperties propertiesFromExif(const uint8_t* data, size_t size) {
  ImageProperties p;
  const Exif* x = exifLibrary();
  if (!x) return p;
  std::unique_ptr<ExifData, ExifFree> exif(x->exif_data_new());
  if (!exif) return p;
  // The values as stored: libexif's conformance repairs are switched off.
  x->exif_data_unset_option(exif.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  x->exif_data_unset_option(exif.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
  x->exif_data_load_data(exif.get(), data, static_cast<unsigned>(size));
  ExifByteOrder order = x->exif_data_get_byte_order(exif.get());
  bool be = order == EXIF_BYTE_ORDER_MOTOROLA;
  auto entry = [&](ExifTag tag) -> ExifEntry* {
    // The first of the picture's blocks (IFD 0, 1, the camera's, ...) that holds it.
    ExifEntry* e = nullptr;
    for (int i = 0; i < EXIF_IFD_COUNT && !e; ++i) e = x->exif_content_get_entry(exif->ifd[i], tag);
    return e && e->data && e->size > 0 ? e : nullptr;
  };
  auto value = [](ExifEntry* e) {
    return std::string_view(reinterpret_cast<const char*>(e->data), e->size);
  };
  // Comment: the user comment, else the picture comment.
  ExifEntry* c = entry(EXIF_TAG_USER_COMMENT);
  if (!c) c = entry(static_cast<ExifTag>(0x9C9C));
  if (c) {
    if (auto text = decodeComment(c->format, value(c), be)) p.comment = *text;
  }
  // Taken date: the date taken when its item (16-byte header included) is at
  // least 32 bytes long, else the date-time.
  ExifEntry* d = entry(EXIF_TAG_DATE_TIME_ORIGINAL);
  if (!d || d->size + 16 < 32) d = entry(EXIF_TAG_DATE_TIME);
  if (d && d->format == EXIF_FORMAT_ASCII) p.takenDate = decodeTakenDate(value(d));
  if (ExifEntry* e = entry(EXIF_TAG_EXPOSURE_TIME); e && e->format == EXIF_FORMAT_RATIONAL && e->size >= 8) {
    ExifRational r = x->exif_get_rational(e->data, order);
    if (r.numerator == r.denominator) r.numerator = r.denominator = 1;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d/%d", static_cast<int>(r.numerator), static_cast<int>(r.denominator));
    p.exposureTime = ascii(buf);
  }
  if (ExifEntry* e = entry(EXIF_TAG_FNUMBER); e && e->format == EXIF_FORMAT_RATIONAL && e->size >= 8) {
    ExifRational r = x->exif_get_rational(e->data, order);
    if (r.denominator != 0) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(r.numerator) / r.denominator);
      p.fNumber = ascii(buf);
    }
  }
  if (ExifEntry* e = entry(EXIF_TAG_MAKE); e && e->format == EXIF_FORMAT_ASCII) p.cameraMake = fromCp1252(value(e));
  if (ExifEntry* e = entry(EXIF_TAG_MODEL); e && e->format == EXIF_FORMAT_ASCII) p.cameraModel = fromCp1252(value(e));
  if (ExifEntry* e = entry(EXIF_TAG_EXPOSURE_PROGRAM); e && e->format == EXIF_FORMAT_SHORT && e->size >= 2) {
    p.exposureProgram = static_cast<uint8_t>(x->exif_get_short(e->data, order) & 0xFF);
  }
  return p;
}

ImageInfoReader::ImageInfoReader() = default;
ImageInfoReader::~ImageInfoReader() = default;

std::optional<Picture> ImageInfoReader::read(const std::string& path, int boxWidth, int boxHeight,
                                             int& width, int& height, int& bitsPerPixel,
                                             ImageProperties* props, bool keepAspect) {
  hasAlpha_ = false;
  paletteAlpha_ = false;
  width = height = bitsPerPixel = 0;
  // The file's first bytes choose the loader and tell the depth where the
  // decoder hides it.
  // A few KB tell the format (and the size of the formats read from their
  // header); a JPEG's depth may sit further in, behind its EXIF block.
  constexpr size_t kShortHead = 4096;
  std::string head = readHead(path, kShortHead);
  PictureFormat format0 = pictureFormat(head);
  if (format0 != PictureFormat::unknown && head.size() == kShortHead) head = readHead(path, 65536);
  ImagePtr image(load(format0, path));
  if (!image) {
    if (auto s = sizeFromHeader(head)) {
      width = s->width;
      height = s->height;
      bitsPerPixel = s->bitsPerPixel;
    }
    return std::nullopt;
  }
  Described d = describe(image.get());
  width = d.width;
  height = d.height;
  auto format = pixelFormatFromHeader(head);
  if (!format) {
    PixelFormat f;
    int bands = d.bands;
    bool wide = d.wide;
    bool alpha = d.alpha;
    if (bands == 1) f.bitsPerPixel = wide ? 48 : 8;
    else if (bands == 2) f.bitsPerPixel = wide ? 64 : 32;
    else if (bands == 3) f.bitsPerPixel = wide ? 48 : 24;
    else if (bands == 4) f.bitsPerPixel = wide ? 64 : 32;
    f.hasAlpha = alpha && f.bitsPerPixel >= 32;
    format = f;
  }
  bitsPerPixel = format->bitsPerPixel;
  hasAlpha_ = format->hasAlpha;
  paletteAlpha_ = format->paletteAlpha;
  if (props && (format0 == PictureFormat::jpeg || format0 == PictureFormat::tiff ||
                format0 == PictureFormat::webp || format0 == PictureFormat::png)) {
    const Exif* x = exifLibrary();
    std::unique_ptr<ExifLoader, LoaderFree> loader(x ? x->exif_loader_new() : nullptr);
    if (loader) {
      x->exif_loader_write_file(loader.get(), path.c_str());
      const unsigned char* buf = nullptr;
      unsigned int size = 0;
      x->exif_loader_get_buf(loader.get(), &buf, &size);
      if (buf && size > 0) *props = propertiesFromExif(buf, size);
    }
  }
  auto pic = std::make_unique<Picture::Impl>();
  if (boxWidth == 0 || boxHeight == 0 || (width <= boxWidth && height <= boxHeight)) {
    pic->image = std::move(image);
    return Picture(std::move(pic));
  }
  ThumbnailSize t = thumbnailSize(width, height, boxWidth, boxHeight, keepAspect);
  image.reset();
  // Shrink-on-load where the format has it (JPEG by 2, 4 or 8), then the
  // exact size the rule gives.
  int shrink = 1;
  if (format0 == PictureFormat::jpeg) {
    while (shrink < 8 && width / (shrink * 2) >= t.width && height / (shrink * 2) >= t.height) {
      shrink *= 2;
    }
  }
  ImagePtr source(load(format0, path, shrink));
  if (!source) return std::nullopt;
  pic->image.reset(pictureCodec()->thumbnail(source.get(), t.width, t.height));
  if (!pic->image) return std::nullopt;
  return Picture(std::move(pic));
}

namespace {

std::optional<std::string> encode(void* image, PictureFormat target, bool strip) {
  std::string out;
  if (!pictureCodec()->encode(image, static_cast<int>(target), strip, &out)) return std::nullopt;
  return out;
}

}  // namespace

std::optional<Picture> ImageInfoReader::thumbnailOfRgb(const std::string& rgb, int width, int height,
                                                       int boxWidth, int boxHeight) {
  if (width <= 0 || height <= 0 || rgb.size() != static_cast<size_t>(width) * height * 3 || !pictureCodec()) {
    return std::nullopt;
  }
  hasAlpha_ = paletteAlpha_ = false;
  ImagePtr image(pictureCodec()->fromRgb(rgb.data(), width, height));
  if (!image) return std::nullopt;
  auto pic = std::make_unique<Picture::Impl>();
  if (width <= boxWidth && height <= boxHeight) {
    pic->image = std::move(image);
  } else {
    ThumbnailSize t = thumbnailSize(width, height, boxWidth, boxHeight, true);
    pic->image.reset(pictureCodec()->thumbnail(image.get(), t.width, t.height));
    if (!pic->image) return std::nullopt;
  }
  return Picture(std::move(pic));
}

bool ImageInfoReader::encodeThumbnail(const Picture& picture, std::string& bytes) {
  auto out = encode(picture.impl_->image.get(),
                    hasAlpha() ? PictureFormat::png : PictureFormat::jpeg, true);
  if (!out) return false;
  bytes = std::move(*out);
  return true;
}

PictureFormat pictureFormatForName(const std::string& name) {
  std::string ext = std::filesystem::path(name).extension().string();
  for (auto& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (ext == ".png") return PictureFormat::png;
  if (ext == ".jpg" || ext == ".jpeg") return PictureFormat::jpeg;
  return PictureFormat::unknown;
}

std::optional<std::string> encodePictureAs(std::string_view bytes, PictureFormat target) {
  PictureFormat format = pictureFormat(bytes);
  if (format == PictureFormat::unknown) return std::nullopt;
  if (format == target) return std::string(bytes);
  if (!pictureCodec()) return std::nullopt;
  ImagePtr image(pictureCodec()->loadBuffer(bytes.data(), bytes.size()));
  if (!image) return std::nullopt;
  return encode(image.get(), target, false);
}

}  // namespace tamber::scan
