// Fuzz target: EXIF comment and date decoding, and whole EXIF blocks.

#include <cstdint>
#include <string>

#include "scan/image_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 65536) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  int type = data[0] % 12;
  (void)tamber::scan::decodeComment(type, bytes, data[0] & 0x80);
  (void)tamber::scan::decodeTakenDate(bytes);
  (void)tamber::scan::pixelFormatFromHeader(bytes);
  (void)tamber::scan::propertiesFromExif(data, size);
  return 0;
}
