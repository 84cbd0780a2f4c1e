#include "media/doc/pdf_syntax.h"

#include "media/text_util.h"

namespace tamber::media::pdf {

bool isSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0'; }

bool isDelimiter(char c) {
  return isSpace(c) || c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' ||
         c == '}' || c == '/' || c == '%';
}

size_t skipSpace(std::string_view s, size_t at) {
  while (at < s.size()) {
    if (isSpace(s[at])) {
      ++at;
    } else if (s[at] == '%') {
      while (at < s.size() && s[at] != '\n' && s[at] != '\r') ++at;
    } else {
      break;
    }
  }
  return at;
}

std::optional<int64_t> readInt(std::string_view s, size_t& at) {
  size_t i = skipSpace(s, at);
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  size_t start = i;
  int64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    if (v > (INT64_MAX - 9) / 10) return std::nullopt;
    v = v * 10 + (s[i] - '0');
  }
  if (i == start) return std::nullopt;
  at = i;
  return negative ? -v : v;
}

namespace {

// Past the literal string that opens at `at` ("(" ... ")", nesting and
// escapes counted); the end of `s` when it does not close.
size_t pastLiteral(std::string_view s, size_t at) {
  int depth = 0;
  for (size_t i = at; i < s.size(); ++i) {
    if (s[i] == '\\') {
      ++i;
    } else if (s[i] == '(') {
      ++depth;
    } else if (s[i] == ')' && --depth == 0) {
      return i + 1;
    }
  }
  return s.size();
}

// Past the value that starts at `at`: a string, a dictionary, an array, a
// name, or a run of regular characters.
size_t pastValue(std::string_view s, size_t at) {
  if (at >= s.size()) return at;
  char c = s[at];
  if (c == '(') return pastLiteral(s, at);
  if (c == '<' && at + 1 < s.size() && s[at + 1] == '<') return at + dictionaryAt(s, at).size();
  if (c == '<') {
    size_t end = s.find('>', at);
    return end == std::string_view::npos ? s.size() : end + 1;
  }
  if (c == '[') {
    int depth = 0;
    for (size_t i = at; i < s.size();) {
      if (s[i] == '[') {
        ++depth;
        ++i;
      } else if (s[i] == ']') {
        ++i;
        if (--depth == 0) return i;
      } else if (s[i] == '(' || s[i] == '<') {
        i = pastValue(s, i);
      } else {
        ++i;
      }
    }
    return s.size();
  }
  size_t i = at + 1;
  while (i < s.size() && !isDelimiter(s[i])) ++i;
  return i;
}

std::u16string decodeBytes(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFE && static_cast<uint8_t>(bytes[1]) == 0xFF) {
    return fromUtf16(std::string_view(bytes).substr(2), true, false);
  }
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return fromUtf8(bytes.substr(3), false);
  return fromCodePage(bytes, false);
}

std::string literalBytes(std::string_view s, size_t at) {
  std::string out;
  size_t end = pastLiteral(s, at);
  int depth = 0;
  for (size_t i = at; i < end; ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < end) {
      char e = s[++i];
      switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case '\r':
          if (i + 1 < end && s[i + 1] == '\n') ++i;
          break;
        case '\n': break;
        default:
          if (e >= '0' && e <= '7') {
            int v = e - '0';
            for (int k = 0; k < 2 && i + 1 < end && s[i + 1] >= '0' && s[i + 1] <= '7'; ++k) v = v * 8 + (s[++i] - '0');
            out += static_cast<char>(v & 0xFF);
          } else {
            out += e;
          }
      }
      continue;
    }
    if (c == '(' && depth++ == 0) continue;
    if (c == ')' && --depth == 0) break;
    out += c;
  }
  return out;
}

std::string hexBytes(std::string_view s, size_t at) {
  std::string out;
  int high = -1;
  for (size_t i = at + 1; i < s.size() && s[i] != '>'; ++i) {
    char c = s[i];
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out += static_cast<char>(high << 4 | v);
      high = -1;
    }
  }
  if (high >= 0) out += static_cast<char>(high << 4);
  return out;
}

}  // namespace

std::string_view dictionaryAt(std::string_view s, size_t at) {
  size_t start = s.find("<<", at);
  if (start == std::string_view::npos) return {};
  int depth = 0;
  for (size_t i = start; i < s.size();) {
    if (s.compare(i, 2, "<<") == 0) {
      ++depth;
      i += 2;
    } else if (s.compare(i, 2, ">>") == 0) {
      i += 2;
      if (--depth == 0) return s.substr(start, i - start);
    } else if (s[i] == '(' || s[i] == '<') {
      i = pastValue(s, i);
    } else {
      ++i;
    }
  }
  return s.substr(start);
}

size_t valueOf(std::string_view dict, std::string_view name) {
  // Walk the top level: a key, then its value, pair by pair.
  size_t i = dict.compare(0, 2, "<<") == 0 ? 2 : 0;
  while (true) {
    i = skipSpace(dict, i);
    if (i >= dict.size() || dict[i] != '/') return std::string_view::npos;
    size_t keyEnd = i + 1;
    while (keyEnd < dict.size() && !isDelimiter(dict[keyEnd])) ++keyEnd;
    std::string_view key = dict.substr(i + 1, keyEnd - i - 1);
    size_t value = skipSpace(dict, keyEnd);
    if (key == name) return value;
    if (value >= dict.size()) return std::string_view::npos;
    i = pastValue(dict, value);
    // A reference ("12 0 R") is three tokens.
    size_t j = i;
    if (readInt(dict, j) && (j = skipSpace(dict, j)) < dict.size() && dict[j] == 'R') i = j + 1;
  }
}

std::optional<int64_t> intValue(std::string_view dict, std::string_view name) {
  size_t at = valueOf(dict, name);
  if (at == std::string_view::npos) return std::nullopt;
  return readInt(dict, at);
}

std::optional<int64_t> referenceValue(std::string_view dict, std::string_view name) {
  size_t at = valueOf(dict, name);
  if (at == std::string_view::npos) return std::nullopt;
  auto number = readInt(dict, at);
  if (!number || !readInt(dict, at)) return std::nullopt;
  at = skipSpace(dict, at);
  if (at >= dict.size() || dict[at] != 'R') return std::nullopt;
  return number;
}

std::optional<std::u16string> textValue(std::string_view dict, std::string_view name) {
  size_t at = valueOf(dict, name);
  if (at == std::string_view::npos || at >= dict.size()) return std::nullopt;
  if (dict[at] == '(') return scrubbed(decodeBytes(literalBytes(dict, at)));
  if (dict[at] == '<' && dict.compare(at, 2, "<<") != 0) return scrubbed(decodeBytes(hexBytes(dict, at)));
  return std::nullopt;
}

}  // namespace tamber::media::pdf
