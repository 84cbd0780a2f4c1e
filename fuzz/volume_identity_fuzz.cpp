// Fuzz target: a file system's first bytes, as read from a device whose
// UUID no other source knows.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/volume_facts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > tamber::kIdentityBytes) return 0;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  auto id = tamber::identifyFileSystem(bytes);
  // What is found is short: a UUID of at most 36 characters, a label of at
  // most 256 bytes.
  if (id && (id->type.empty() || id->uuid.size() > 36 || id->label.size() > 256)) std::abort();
  return 0;
}
