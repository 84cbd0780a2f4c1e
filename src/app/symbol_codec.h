// The 6-bit text encoding of the settings file: the bytes as one bit string,
// most significant bit first, every 6 bits one symbol of a 64-symbol
// alphabet; the last 2 or 4 bits are padded with zeros to a symbol. No
// padding character, no line breaks.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tamber::app {

std::string encodeSymbols(std::string_view bytes);
// nullopt when a character is not in the alphabet. Fewer than 2 symbols
// decode to nothing.
std::optional<std::string> decodeSymbols(std::string_view symbols);

}  // namespace tamber::app
