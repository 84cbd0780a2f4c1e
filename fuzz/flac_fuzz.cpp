// Fuzz target: the whole loadInfo of the FLAC reader on untrusted bytes.

#include "fuzz/audio_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzAudioReader(data, size, kAudioFlac);
}
