// The little of PDF syntax the document-information reader needs: white
// space, integers, dictionary bounds, names and string values. Private to
// TamberMedia.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tamber::media::pdf {

bool isSpace(char c);
bool isDelimiter(char c);
// The position of the first character after white space (and comments) from `at`.
size_t skipSpace(std::string_view s, size_t at);
// An integer (optionally signed) at `at` after white space; `at` moves past it.
std::optional<int64_t> readInt(std::string_view s, size_t& at);
// The dictionary that starts at the first "<<" at or after `at`, up to its
// matching ">>" (strings and nested dictionaries skipped); to the end of `s`
// when it does not close there.
std::string_view dictionaryAt(std::string_view s, size_t at);
// Where the value of the top-level key `/name` of a dictionary's text starts
// (after white space); npos when the key is absent.
size_t valueOf(std::string_view dict, std::string_view name);
// The integer value of a key.
std::optional<int64_t> intValue(std::string_view dict, std::string_view name);
// The object number of a key's indirect reference ("12 0 R").
std::optional<int64_t> referenceValue(std::string_view dict, std::string_view name);
// The text of a key's string value, literal "( )" with its escapes or
// hexadecimal "< >": UTF-16 big-endian after a byte-order mark, UTF-8 after
// its mark, else 8-bit text in the code page. Scrubbed with ".".
std::optional<std::u16string> textValue(std::string_view dict, std::string_view name);

}  // namespace tamber::media::pdf
