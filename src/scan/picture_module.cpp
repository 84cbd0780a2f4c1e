// The picture module: decoding, scaling and encoding with libvips behind the
// table of picture_codec.h.
#include <vips/vips.h>
#include <vips/vector.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "scan/image_info.h"
#include "scan/picture_codec.h"

namespace tamber::scan {

namespace {

void start() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (VIPS_INIT("tamber") != 0) std::fprintf(stderr, "tamber: libvips could not start\n");
    // Its worker threads end with the program, not after it: a leak check
    // at exit then sees only the program's own threads.
    std::atexit(vips_shutdown);
    vips_cache_set_max(0);  // every picture is read once
    // No run-time generated vector code: with pictures shrunk on several
    // threads at once it crashed the program now and then (a fault inside
    // the code generator), and the shrink-on-load of JPEGs leaves it
    // nothing to gain (800 photographs took the same time without it).
    vips_vector_set_enabled(FALSE);
    // Files from a catalogued disc reach only the loaders their first bytes
    // name: no loader probes a file (some read it whole, some open side files).
    vips_operation_block_set("VipsForeignLoad", TRUE);
    for (const char* loader : {"VipsForeignLoadJpeg", "VipsForeignLoadPng", "VipsForeignLoadNsgif",
                               "VipsForeignLoadTiff", "VipsForeignLoadWebp",
                               "VipsForeignLoadMagick"}) {
      vips_operation_block_set(loader, FALSE);
    }
  });
}

VipsImage* image(void* p) { return static_cast<VipsImage*>(p); }

void* load(int format, const char* path, int shrink) {
  start();
  VipsImage* out = nullptr;
  int rc = -1;
  switch (static_cast<PictureFormat>(format)) {
    case PictureFormat::jpeg:
      rc = vips_jpegload(path, &out, "access", VIPS_ACCESS_SEQUENTIAL, "shrink", shrink, nullptr);
      break;
    case PictureFormat::png:
      rc = vips_pngload(path, &out, "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
      break;
    case PictureFormat::gif:
      rc = vips_gifload(path, &out, "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
      break;
    case PictureFormat::tiff:
      rc = vips_tiffload(path, &out, "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
      break;
    case PictureFormat::webp:
      rc = vips_webpload(path, &out, "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
      break;
    case PictureFormat::bmp:
    case PictureFormat::ico:
      rc = vips_magickload(path, &out, "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
      break;
    case PictureFormat::unknown:
      break;
  }
  if (rc != 0) {
    vips_error_clear();
    return nullptr;
  }
  return out;
}

void* loadBuffer(const void* data, size_t size) {
  start();
  VipsImage* raw = vips_image_new_from_buffer(data, size, "", nullptr);
  if (!raw) vips_error_clear();
  return raw;
}

void release(void* p) {
  if (p) g_object_unref(image(p));
}

void describe(const void* p, int* width, int* height, int* bands, bool* wide, bool* alpha) {
  auto* i = static_cast<VipsImage*>(const_cast<void*>(p));
  *width = vips_image_get_width(i);
  *height = vips_image_get_height(i);
  *bands = vips_image_get_bands(i);
  *wide = vips_image_get_format(i) == VIPS_FORMAT_USHORT;
  *alpha = vips_image_hasalpha(i);
}

bool pixelsDecode(void* p) {
  double avg = 0;
  bool ok = vips_avg(image(p), &avg, nullptr) == 0;
  vips_error_clear();
  return ok;
}

void* thumbnail(void* p, int width, int height) {
  VipsImage* thumb = nullptr;
  if (vips_thumbnail_image(image(p), &thumb, width, "height", height, "size", VIPS_SIZE_FORCE,
                           nullptr) != 0) {
    vips_error_clear();
    return nullptr;
  }
  return thumb;
}

// JPEG has no alpha, so a band the pixel format does not count is dropped.
bool encode(void* p, int target, bool strip, std::string* out) {
  void* buf = nullptr;
  size_t len = 0;
  int rc = -1;
  if (static_cast<PictureFormat>(target) == PictureFormat::png) {
    rc = vips_pngsave_buffer(image(p), &buf, &len, "strip", strip, nullptr);
  } else if (static_cast<PictureFormat>(target) == PictureFormat::jpeg) {
    VipsImage* rgb = nullptr;
    int bands = vips_image_get_bands(image(p));
    if (bands == 2 || bands == 4) {
      if (vips_extract_band(image(p), &rgb, 0, "n", bands - 1, nullptr) != 0) {
        vips_error_clear();
        return false;
      }
    }
    rc = vips_jpegsave_buffer(rgb ? rgb : image(p), &buf, &len, "strip", strip, nullptr);
    if (rgb) g_object_unref(rgb);
  }
  if (rc != 0 || !buf) {
    vips_error_clear();
    return false;
  }
  out->assign(static_cast<const char*>(buf), len);
  g_free(buf);
  return true;
}

// A video's frame may be the first picture of a scan: the library starts
// here too, once (started implicitly by two threads at once, one of them
// failed to make its image).
void* fromRgb(const void* pixels, int width, int height) {
  start();
  VipsImage* im = vips_image_new_from_memory_copy(pixels, static_cast<size_t>(width) * height * 3, width, height,
                                                  3, VIPS_FORMAT_UCHAR);
  if (!im) {
    vips_error_clear();
    return nullptr;
  }
  im->Type = VIPS_INTERPRETATION_sRGB;
  return im;
}

constexpr PictureCodec kCodec = {kPictureCodecVersion, load, loadBuffer, release, describe,
                                 pixelsDecode, thumbnail, encode, fromRgb};

}  // namespace

}  // namespace tamber::scan

extern "C" __attribute__((visibility("default"))) const tamber::scan::PictureCodec* tamber_picture_codec() {
  return &tamber::scan::kCodec;
}
