// Fuzz target: the pattern translation and PatternMatch. The input is a
// pattern, a zero byte, then the text.

#include <cstdint>
#include <cstring>
#include <string>

#include "media/media.h"
#include "media/pattern.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  std::string all(reinterpret_cast<const char*>(data), size);
  size_t cut = all.find('\0');
  if (cut == std::string::npos) return 0;
  std::string pattern = all.substr(0, cut);
  std::string text = all.substr(cut + 1);  // zero-terminated by std::string
  (void)tamber::media::translatePattern(pattern);
  std::u16string out;
  PatternMatch(text.c_str(), pattern.c_str(), out, false);
  std::u16string wide(text.begin(), text.end());
  PatternMatch(wide.c_str(), pattern.c_str(), out, true);
  return 0;
}
