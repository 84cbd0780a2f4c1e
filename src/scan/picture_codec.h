// The picture decoder and encoder live in a module of their own,
// libtamberpicture.so, loaded the first time a picture is read or written.
// The decoding library and the hundred libraries it pulls in cost 40 ms at
// the start of every command; most commands (find, ls, show) never decode a
// picture and no longer pay it.
//
// The module and the program are built together, so the table passes C++
// types; kPictureCodecVersion guards against a stray module of another build.
#pragma once

#include <cstddef>
#include <string>

namespace tamber::scan {

inline constexpr int kPictureCodecVersion = 2;

struct PictureCodec {
  int version;
  // Decodes the file at `path` in `format` (a PictureFormat); `shrink` is a
  // JPEG shrink-on-load factor. Null when it does not load.
  void* (*load)(int format, const char* path, int shrink);
  // Decodes picture bytes of any format the decoder knows; null when it cannot.
  void* (*loadBuffer)(const void* data, size_t size);
  void (*release)(void* image);
  // Size, bands, 16-bit samples, alpha.
  void (*describe)(const void* image, int* width, int* height, int* bands, bool* wide, bool* alpha);
  // Decodes a little of the pixels: false when they are damaged.
  bool (*pixelsDecode)(void* image);
  // A new image of exactly width x height.
  void* (*thumbnail)(void* image, int width, int height);
  // PNG (a PictureFormat) or JPEG bytes; `strip` drops metadata.
  bool (*encode)(void* image, int target, bool strip, std::string* out);
  // An sRGB image of 8-bit RGB pixels (rows of 3 x width bytes), copied.
  void* (*fromRgb)(const void* pixels, int width, int height);
};

// The table of the loaded module, or null (said once on standard error) when
// the module cannot be loaded.
const PictureCodec* pictureCodec();

}  // namespace tamber::scan

// The module's one exported function.
extern "C" const tamber::scan::PictureCodec* tamber_picture_codec();
