#define TAMBER_HASH_KERNEL hash_generic
#include "scan/content_hash_kernel.inc"
