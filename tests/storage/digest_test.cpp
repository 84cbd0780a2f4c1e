// Our SHA-1 and SHA-256 against the published examples and against
// OpenSSL on every length around the block boundaries, fed in pieces.

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>

#include "platform/digest.h"
#include "platform/text.h"

namespace tamber {
namespace {

template <class D>
std::string hexOf(std::string_view text, size_t piece = 0) {
  D d;
  if (piece == 0) piece = text.size() + 1;
  for (size_t at = 0; at < text.size(); at += piece) d.update(text.data() + at, std::min(piece, text.size() - at));
  auto out = d.finish();
  return hexDigits(out.data(), out.size());
}

std::string openssl(const EVP_MD* md, std::string_view text) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(text.data(), text.size(), out, &n, md, nullptr);
  return hexDigits(out, n);
}

TEST(Digest, PublishedExamples) {
  EXPECT_EQ(hexOf<Sha1>("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(hexOf<Sha1>(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(hexOf<Sha256>("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hexOf<Sha256>("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  std::string million(1000000, 'a');
  EXPECT_EQ(hexOf<Sha256>(million, 4093), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  EXPECT_EQ(hexOf<Sha1>(million, 65), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Digest, EqualsOpenSslOnEveryLengthAndPiece) {
  std::mt19937 rng(11);
  std::string bytes(300, '\0');
  for (auto& c : bytes) c = static_cast<char>(rng());
  for (size_t n = 0; n <= bytes.size(); ++n) {
    std::string_view text(bytes.data(), n);
    for (size_t piece : {size_t{0}, size_t{1}, size_t{7}, size_t{63}, size_t{64}, size_t{65}}) {
      ASSERT_EQ(hexOf<Sha1>(text, piece), openssl(EVP_sha1(), text)) << n << " in " << piece;
      ASSERT_EQ(hexOf<Sha256>(text, piece), openssl(EVP_sha256(), text)) << n << " in " << piece;
    }
  }
}

}  // namespace
}  // namespace tamber
