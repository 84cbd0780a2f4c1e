#define TAMBER_HASH_KERNEL hash_avx512
#include "scan/content_hash_kernel.inc"
