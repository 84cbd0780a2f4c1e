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
#include <string_view>
#include <vector>

namespace tamber::media {

// The PCRE2 form of a dialect pattern; nothing when the pattern is malformed
// (an unclosed class or an escape at its end).
std::optional<std::string> translatePattern(const std::string& dialect);

// How the 8-bit text of a group is read.
enum class Narrow {
  codePage,      // Windows-1252
  utf8IfValid,   // UTF-8 when the group's bytes are valid UTF-8, else Windows-1252
};

// The first group of the first match, as UTF-16, scrubbed with ".".
std::optional<std::u16string> matchFirstGroup(const void* text, const std::string& pattern,
                                              bool wide, bool caseless = true,
                                              Narrow narrow = Narrow::codePage);

// Every group of the first match in 8-bit `text`, as its bytes (an unset
// group is empty); nothing without a match.
std::optional<std::vector<std::string>> matchGroups(std::string_view text, const std::string& pattern,
                                                    bool caseless = true);

}  // namespace tamber::media
