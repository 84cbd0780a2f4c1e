// What the document readers share. Private to TamberMedia.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "media/text_util.h"

namespace tamber::media {

// The caller's scratch buffer, zeroed; a missing one is the out-of-memory
// error the constructors let through.
inline void requireScratch(uint8_t* scratch, int size) {
  if (!scratch || size <= 0) throw std::bad_alloc();
  std::memset(scratch, 0, static_cast<size_t>(size));
}

// The path the readers open: the UTF-8 form of the caller's UTF-16 path.
inline std::string nativePath(const std::u16string& path) { return toUtf8(path); }

}  // namespace tamber::media
