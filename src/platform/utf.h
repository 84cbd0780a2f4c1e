// UTF-8 inside the program, UTF-16 at the edges that store it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tamber {

// Strict conversion: nullopt when the input is not valid UTF-8.
std::optional<std::u16string> utf8ToUtf16(std::string_view s);

// Lone surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view s);

}  // namespace tamber
