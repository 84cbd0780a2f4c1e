// Fuzz target: the summary-information property-set reader on untrusted bytes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/memfd_file.h"
#include "media/doc/property_set.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  (void)tamber::media::readSummaryInformation(
      std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
