// Fuzz target: the PDF reader (and libqpdf behind it) on untrusted bytes.
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
  CPDFExtract x(file.widePath(), scratch.data(), static_cast<int>(scratch.size()));
  (void)x.getPDFInfo();
  return 0;
}
