// The pattern dialect of the document readers, translated once into PCRE2.
//
//   {x}     capturing group (the value taken)     (x)   group, not capturing
//   [a-z]   class; [^..] complement; inside, \t is a tab and \X is X
//   * + ?   greedy; *? +? ?? lazy                 .     any character, line breaks too
//   |       alternatives                          \X    X literally
//   \a \b \c \d \h \n \q \w \z   abbreviations: [a-zA-Z0-9], [ \t], [a-zA-Z], [0-9],
//           [0-9a-fA-F], (\r|(\r?\n)), ("[^"]*")|('[^']*'), [a-zA-Z]+, [0-9]+
#pragma once

#include <optional>
#include <string>

namespace tamber::media {

// The PCRE2 form of a dialect pattern; nothing when the pattern is malformed
// (an unclosed class or an escape at its end).
std::optional<std::string> translatePattern(const std::string& dialect);

// The first group of the first match, as UTF-16 (8-bit text is Windows-1252).
std::optional<std::u16string> matchFirstGroup(const void* text, const std::string& pattern,
                                              bool wide, bool caseless = true);

}  // namespace tamber::media
