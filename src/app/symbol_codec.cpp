#include "app/symbol_codec.h"

#include <array>
#include <cstdint>

namespace tamber::app {

namespace {

// A fixed order of 64 printable ASCII characters; files written by one build
// are read by the same build.
constexpr char kAlphabet[] = "Qw3Er5Ty7Ui9Op1As2Df4Gh6Jk8Lz0XcVbNmMnBvCxZlKjHgFdSaPoIuYtReWq-_";
static_assert(sizeof kAlphabet == 65);

const std::array<int8_t, 256>& inverse() {
  static const auto table = [] {
    std::array<int8_t, 256> t{};
    t.fill(-1);
    for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    return t;
  }();
  return table;
}

}  // namespace

std::string encodeSymbols(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() * 4 + 2) / 3);
  uint32_t bits = 0;
  int count = 0;
  for (unsigned char b : bytes) {
    bits = (bits << 8) | b;
    count += 8;
    while (count >= 6) {
      count -= 6;
      out.push_back(kAlphabet[(bits >> count) & 0x3F]);
    }
  }
  if (count > 0) out.push_back(kAlphabet[(bits << (6 - count)) & 0x3F]);
  return out;
}

std::optional<std::string> decodeSymbols(std::string_view symbols) {
  std::string out;
  if (symbols.size() < 2) return out;
  out.reserve(symbols.size() * 3 / 4);
  uint32_t bits = 0;
  int count = 0;
  for (unsigned char ch : symbols) {
    int v = inverse()[ch];
    if (v < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

}  // namespace tamber::app
