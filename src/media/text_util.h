// Text conversions of the readers. Private to TamberMedia.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tamber::media {

// Windows-1252 bytes (the "ANSI code page") to UTF-16, up to the first zero
// (or all of them with untilZero false).
std::u16string fromCodePage(std::string_view bytes, bool untilZero = true);
// UTF-8 to UTF-16; invalid bytes read as Windows-1252.
std::u16string fromUtf8(std::string_view bytes, bool untilZero = true);
std::string toUtf8(std::u16string_view s);
// UTF-16 code units from bytes, little- or big-endian, up to the first zero unit.
std::u16string fromUtf16(std::string_view bytes, bool bigEndian, bool untilZero = true);
// Without the blanks (space, tab, CR, LF) at both ends.
std::u16string trimmed(std::u16string_view s);
// The number a text starts with, after leading spaces ("05/12" and " 5" give
// 5); 0 when it starts with no digit.
int32_t leadingNumber(std::u16string_view s);
// The first number anywhere in a text ("May 2003" gives 2003); 0 when none.
int32_t firstNumber(std::u16string_view s);
// The UTF-16 scrub applied to a whole string.
std::u16string scrubbed(std::u16string s, char16_t replacement = u'.');

}  // namespace tamber::media
