#include "disc/track.h"

#include <cstdio>

namespace tamber::disc {

std::string trackLengthText(uint64_t frames) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(frames / 4500),
                static_cast<unsigned long long>(frames / 75 % 60));
  return text;
}

}  // namespace tamber::disc
