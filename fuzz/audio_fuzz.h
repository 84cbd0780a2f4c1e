// The fuzz targets of the audio readers: the whole loadInfo of one reader
// on untrusted bytes, handed over as an in-memory file.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "media/media.h"

inline int fuzzAudioReader(const uint8_t* data, size_t size, int kind) {
  if (size > (1u << 20)) return 0;
  static CGeneralTagsInfo* tags = [] {
    auto* t = new CGeneralTagsInfo;
    t->CreateForAnalysis();
    return t;
  }();
  int fd = memfd_create("audio", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (write(fd, data, size) == static_cast<ssize_t>(size)) {
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    tags->loadInfo(std::u16string(path.begin(), path.end()), kind);
  }
  close(fd);
  return 0;
}
