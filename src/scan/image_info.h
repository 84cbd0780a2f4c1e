// Picture information for the catalogue: size and colour depth as a Windows
// imaging library reports them, camera properties from EXIF, and a small
// thumbnail encoded as PNG (pictures with alpha) or JPEG.
//
// Decoding, scaling and encoding are libvips' (shrink-on-load); EXIF comes
// from libexif with the raw types. Bits per pixel follow this table:
//   1/4/8 bpp indexed (PNG palette, GIF, BMP 1-8, grey JPEG and PNG) 1/4/8
//   16 bpp BMP 16;  24 bpp RGB 24;  32 bpp RGB 32;  32 bpp ARGB 32 + alpha
//   48 bpp RGB 48;  64 bpp ARGB 64 + alpha;  anything else 0
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tamber::scan {

struct ImageProperties {
  std::u16string exposureTime;  // "%d/%d"
  std::u16string fNumber;       // "%.1f"
  std::u16string takenDate;     // "%4s-%2s-%2sT%2s:%2s:%2s"
  std::u16string comment;
  std::u16string cameraMake;
  std::u16string cameraModel;
  uint8_t exposureProgram = 0;
};

struct PixelFormat {
  int bitsPerPixel = 0;
  bool hasAlpha = false;        // from the pixel format
  bool paletteAlpha = false;    // a palette with transparency
};

// A decoded picture or its thumbnail; owned by the caller.
class Picture {
 public:
  ~Picture();
  Picture(Picture&&) noexcept;
  Picture& operator=(Picture&&) noexcept;
  int width() const;
  int height() const;

 private:
  friend class ImageInfoReader;
  struct Impl;
  explicit Picture(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

class ImageInfoReader {
 public:
  ImageInfoReader();
  ~ImageInfoReader();

  // Reads a picture: its size and depth, its properties when `props` is
  // given, and, for a box larger than 0 x 0 that the picture does not fit,
  // a thumbnail of the size the box rule gives. Nothing when the picture
  // cannot be loaded; for pictures the decoder cannot read but whose header
  // is simple (EMF, BMP variants) width, height and depth are still set.
  std::optional<Picture> read(const std::string& path, int boxWidth, int boxHeight, int& width,
                              int& height, int& bitsPerPixel, ImageProperties* props,
                              bool keepAspect);
  // The thumbnail of a picture given as RGB pixels (a video's frame), by
  // the rule read() follows; nothing when it cannot be made.
  std::optional<Picture> thumbnailOfRgb(const std::string& rgb, int width, int height, int boxWidth,
                                        int boxHeight);
  // PNG when the picture has alpha (pixel format or palette), else JPEG.
  bool encodeThumbnail(const Picture& picture, std::string& bytes);
  // Alpha from the pixel format or from a palette with transparency.
  bool hasAlpha() const { return hasAlpha_ || paletteAlpha_; }

 private:
  bool hasAlpha_ = false;
  bool paletteAlpha_ = false;
};

// Picture formats by their first bytes; a file's name says nothing.
enum class PictureFormat { unknown, jpeg, png, gif, bmp, tiff, ico, webp };
PictureFormat pictureFormat(std::string_view head);
// The format an output file's name asks for: PNG for ".png", JPEG for
// ".jpg" and ".jpeg", else unknown.
PictureFormat pictureFormatForName(const std::string& name);
// Picture bytes in the `target` format (PNG or JPEG): as they are when they
// are in it already, else re-encoded; nothing for bytes that are no picture.
std::optional<std::string> encodePictureAs(std::string_view bytes, PictureFormat target);
// The bytes are a picture of a known format that decodes.
bool isDecodablePicture(std::string_view bytes);

// The pieces, for tests and fuzzers.
struct ThumbnailSize {
  int width = 0, height = 0;
};
ThumbnailSize thumbnailSize(int width, int height, int boxWidth, int boxHeight, bool keepAspect);
// The pixel format a Windows imaging library would report for the file's
// bytes (its first kilobytes suffice), or nothing when the header says nothing.
std::optional<PixelFormat> pixelFormatFromHeader(std::string_view head);
// Comment by type: 2 text, 7 character code + text, 1/3/4/5/9/10 UTF-16 bytes.
std::optional<std::u16string> decodeComment(int exifType, std::string_view value, bool bigEndian);
// "2003:05:12 14:30:00" to "2003-05-12T14:30:00", with the short-item defaults.
std::u16string decodeTakenDate(std::string_view value);
// Width, height and depth from the header of an EMF or BMP file.
struct HeaderSize {
  int width = 0, height = 0, bitsPerPixel = 0;
};
std::optional<HeaderSize> sizeFromHeader(std::string_view head);
// All properties from an EXIF block (as in a JPEG APP1 segment after "Exif\0\0").
ImageProperties propertiesFromExif(const uint8_t* data, size_t size);

}  // namespace tamber::scan
