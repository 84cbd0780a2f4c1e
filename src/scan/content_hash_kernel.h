// The XXH3-128 kernels content_hash.cpp chooses from by what the processor
// offers: the same digests, computed with SSE2, AVX2 or AVX-512.
#pragma once

#include <cstddef>

#define TAMBER_DECLARE_HASH_KERNEL(ns)                                  \
  namespace tamber::scan::ns {                                          \
  size_t stateSize();                                                   \
  void reset(void* state);                                              \
  void update(void* state, const void* data, size_t n);                 \
  void digest(const void* state, unsigned char out[16]);                \
  }

TAMBER_DECLARE_HASH_KERNEL(hash_generic)
#if defined(__x86_64__)
TAMBER_DECLARE_HASH_KERNEL(hash_avx2)
TAMBER_DECLARE_HASH_KERNEL(hash_avx512)
#endif
