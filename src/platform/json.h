// JSON output helpers.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace tamber {

// A JSON string literal; the text is UTF-8 and passes through unchanged but
// for quotes, backslashes and control characters.
inline std::string jsonString(std::string_view s) {
  std::string out = "\"";
  for (unsigned char ch : s) {
    switch (ch) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (ch < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", ch);
          out += buf;
        } else {
          out.push_back(static_cast<char>(ch));
        }
    }
  }
  return out + "\"";
}

}  // namespace tamber
