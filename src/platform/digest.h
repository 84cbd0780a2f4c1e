// SHA-1 and SHA-256 (FIPS 180-4): the disc id of an audio CD is a SHA-1 of
// its table of contents, and the storage listing prints a SHA-256 of every
// stream. Small enough to carry ourselves rather than load a cryptography
// library at the start of every command.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tamber {

class Sha1 {
 public:
  Sha1();
  void update(const void* data, size_t size);
  std::array<uint8_t, 20> finish();

 private:
  void block(const uint8_t* p);
  uint32_t h_[5];
  uint8_t buffer_[64];
  size_t used_ = 0;
  uint64_t length_ = 0;
};

class Sha256 {
 public:
  Sha256();
  void update(const void* data, size_t size);
  std::array<uint8_t, 32> finish();

 private:
  void block(const uint8_t* p);
  uint32_t h_[8];
  uint8_t buffer_[64];
  size_t used_ = 0;
  uint64_t length_ = 0;
};

}  // namespace tamber
