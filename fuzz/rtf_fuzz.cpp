// Fuzz target: the office reader on RTF and other bytes that are no compound file on untrusted bytes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/memfd_file.h"
#include "media/media.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  MemfdFile file(data, size);
  if (!file.ok()) return 0;
  std::vector<uint8_t> scratch(4096);
  COfficeExtract x(file.widePath(), scratch.data(), static_cast<int>(scratch.size()));
  (void)x.getOfficefileInfo();
  return 0;
}
