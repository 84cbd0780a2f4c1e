// Fuzz target: the whole loadInfo of the Monkey's Audio reader on untrusted bytes,
// handed over as an in-memory file.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "media/media.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  static CGeneralTagsInfo* tags = [] {
    auto* t = new CGeneralTagsInfo;
    t->CreateForAnalysis();
    return t;
  }();
  int fd = memfd_create("ape", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (write(fd, data, size) == static_cast<ssize_t>(size)) {
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    tags->loadInfo(std::u16string(path.begin(), path.end()), kAudioApe);
  }
  close(fd);
  return 0;
}
