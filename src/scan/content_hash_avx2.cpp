#define TAMBER_HASH_KERNEL hash_avx2
#include "scan/content_hash_kernel.inc"
