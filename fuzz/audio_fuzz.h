// The fuzz targets of the audio readers: the whole loadInfo of one reader
// on untrusted bytes, handed over as an in-memory file.
#pragma once

#include <cstdint>
#include <string>

#include "fuzz/memfd_file.h"
#include "media/media.h"

inline int fuzzAudioReader(const uint8_t* data, size_t size, int kind) {
  if (size > (1u << 20)) return 0;
  static CGeneralTagsInfo* tags = [] {
    auto* t = new CGeneralTagsInfo;
    t->CreateForAnalysis();
    return t;
  }();
  MemfdFile file(data, size);
  if (file.ok()) tags->loadInfo(file.widePath(), kind);
  return 0;
}
