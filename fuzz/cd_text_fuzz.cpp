// Fuzz target: CD-TEXT packs as a drive returns them.

#include <cstdint>
#include <string>

#include "disc/cd_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  auto text = tamber::disc::decodeCdText(std::string_view(reinterpret_cast<const char*>(data), size));
  if (text.tracks.size() > 99) __builtin_trap();
  (void)tamber::disc::discArtist(text);
  return 0;
}
