// Fuzz target: reading an archive description back, and writing what was
// read (it must read back again).

#include <cstdint>
#include <string>

#include "decomp/listing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::string path;
  auto listing = tamber::decomp::parseDescription(
      std::string_view(reinterpret_cast<const char*>(data), size), &path);
  if (!listing) return 0;
  std::string again = tamber::decomp::describe(path, *listing);
  if (!tamber::decomp::parseDescription(again, nullptr)) __builtin_trap();
  return 0;
}
