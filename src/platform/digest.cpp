#include "platform/digest.h"

#include <cstring>

namespace tamber {

namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
inline uint32_t be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// Feeds bytes through 64-byte blocks; shared by both digests.
template <class D>
void feed(D& d, uint8_t* buffer, size_t& used, uint64_t& length, const void* data, size_t size) {
  auto* p = static_cast<const uint8_t*>(data);
  length += size;
  if (used > 0) {
    size_t take = std::min(size, 64 - used);
    std::memcpy(buffer + used, p, take);
    used += take;
    p += take;
    size -= take;
    if (used < 64) return;
    d(buffer);
    used = 0;
  }
  for (; size >= 64; p += 64, size -= 64) d(p);
  std::memcpy(buffer, p, size);
  used = size;
}

// The padding: 0x80, zeros, the length in bits as 64-bit big-endian.
template <class D>
void pad(D& d, uint8_t* buffer, size_t used, uint64_t length) {
  buffer[used++] = 0x80;
  if (used > 56) {
    std::memset(buffer + used, 0, 64 - used);
    d(buffer);
    used = 0;
  }
  std::memset(buffer + used, 0, 56 - used);
  uint64_t bits = length * 8;
  for (int i = 0; i < 8; ++i) buffer[56 + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  d(buffer);
}

template <size_t N>
std::array<uint8_t, N * 4> bigEndian(const uint32_t* h) {
  std::array<uint8_t, N * 4> out{};
  for (size_t i = 0; i < N; ++i) {
    for (int b = 0; b < 4; ++b) out[i * 4 + static_cast<size_t>(b)] = static_cast<uint8_t>(h[i] >> (24 - 8 * b));
  }
  return out;
}

constexpr uint32_t kSha256K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

}  // namespace

Sha1::Sha1() : h_{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0} {}

void Sha1::block(const uint8_t* p) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i) w[i] = be32(p + 4 * i);
  for (int i = 16; i < 80; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    uint32_t t = rotl(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = rotl(b, 30);
    b = a;
    a = t;
  }
  h_[0] += a;
  h_[1] += b;
  h_[2] += c;
  h_[3] += d;
  h_[4] += e;
}

void Sha1::update(const void* data, size_t size) {
  auto d = [this](const uint8_t* p) { block(p); };
  feed(d, buffer_, used_, length_, data, size);
}

std::array<uint8_t, 20> Sha1::finish() {
  auto d = [this](const uint8_t* p) { block(p); };
  pad(d, buffer_, used_, length_);
  return bigEndian<5>(h_);
}

Sha256::Sha256()
    : h_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::block(const uint8_t* p) {
  uint32_t w[64];
  for (int i = 0; i < 16; ++i) w[i] = be32(p + 4 * i);
  for (int i = 16; i < 64; ++i) {
    uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
  for (int i = 0; i < 64; ++i) {
    uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kSha256K[i] + w[i];
    uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  h_[0] += a;
  h_[1] += b;
  h_[2] += c;
  h_[3] += d;
  h_[4] += e;
  h_[5] += f;
  h_[6] += g;
  h_[7] += h;
}

void Sha256::update(const void* data, size_t size) {
  auto d = [this](const uint8_t* p) { block(p); };
  feed(d, buffer_, used_, length_, data, size);
}

std::array<uint8_t, 32> Sha256::finish() {
  auto d = [this](const uint8_t* p) { block(p); };
  pad(d, buffer_, used_, length_);
  return bigEndian<8>(h_);
}

}  // namespace tamber
