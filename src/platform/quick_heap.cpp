#include "platform/quick_heap.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace tamber::platform {

void prepareQuickHeap(size_t bytes) {
  constexpr uintptr_t kPage = 4096;
  // Blocks up to twice `bytes` come from the heap (not from a mapping of
  // their own), and what is freed stays in it.
  ::mallopt(M_MMAP_THRESHOLD, static_cast<int>(bytes * 2));
  ::mallopt(M_TRIM_THRESHOLD, static_cast<int>(bytes * 4));
  void* block = std::malloc(bytes);
  if (!block) return;
  const uintptr_t from = (reinterpret_cast<uintptr_t>(block) + kPage - 1) & ~(kPage - 1);
  const uintptr_t to = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kPage - 1);
#ifdef MADV_POPULATE_WRITE
  // A kernel before 5.14 refuses; the pages then come as they are touched.
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#endif
  std::free(block);
}

}  // namespace tamber::platform
