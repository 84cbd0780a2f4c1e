// Fuzz target: the property parts of Office Open XML and OpenDocument packages on untrusted bytes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/memfd_file.h"
#include "media/media.h"

namespace tamber::media {
bool readPackagedProperties(const std::string& path, COfficeExtract::tag_OFFICEPROPS& record);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  MemfdFile file(data, size);
  if (!file.ok()) return 0;
  COfficeExtract::tag_OFFICEPROPS record;
  (void)tamber::media::readPackagedProperties(file.path(), record);
  return 0;
}
