// Fuzz target: our ARJ and ACE header readers.

#include <cstdint>
#include <string_view>

#include "decomp/listing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  (void)tamber::decomp::listArj(bytes);
  (void)tamber::decomp::listAce(bytes);
  return 0;
}
