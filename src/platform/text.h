// Text rules shared by everything that writes XML.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tamber {

// Valid UTF-8 stays as it is; every byte that is not part of a valid UTF-8
// sequence is read as Windows-1252 (the code page of names from older media).
std::string toValidUtf8(std::string_view bytes);

// Replaces every character XML 1.0 does not allow (controls other than tab,
// line feed and carriage return, U+FFFE, U+FFFF) by `replacement`. The input
// must be valid UTF-8.
std::string scrubXml(std::string_view utf8, char replacement = '.');

// Both of the above: any bytes in, text that XML accepts out.
inline std::string xmlSafe(std::string_view bytes) { return scrubXml(toValidUtf8(bytes)); }

// Windows-1252 byte to Unicode code point.
char32_t cp1252ToUnicode(unsigned char b);

void appendUtf8(std::string& out, char32_t cp);

// The length of the valid UTF-8 sequence at s[i] with its code point in `cp`,
// or 0 when the bytes there are not valid UTF-8 (overlong forms, surrogates
// and values past U+10FFFF included).
size_t decodeUtf8(std::string_view s, size_t i, char32_t& cp);

// Valid UTF-8 cut at a character boundary to at most `units` UTF-16 code
// units (fields that other programs keep in fixed UTF-16 buffers).
std::string cutToUtf16Units(std::string_view utf8, size_t units);

// `utf8` with every letter in its lower-case form, by Unicode's simple case
// mapping ("Été" and "ÉTÉ" give "été"): names that differ only in letter case
// give the same text. Bytes that are not valid UTF-8 stay as they are.
std::string foldCase(std::string_view utf8);
inline bool sameName(std::string_view a, std::string_view b) { return foldCase(a) == foldCase(b); }

// The pieces of `text` between occurrences of `separator`, empty ones left out.
std::vector<std::string_view> splitNonEmpty(std::string_view text, char separator);

// Lower-case hexadecimal digits of the bytes ("0a1b...").
std::string hexDigits(const unsigned char* bytes, size_t size);

}  // namespace tamber
