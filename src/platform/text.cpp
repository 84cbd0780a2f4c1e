#include "platform/text.h"

#include <clocale>
#include <cstdint>
#include <cwctype>

namespace tamber {

namespace {

// 0x80 to 0x9F in Windows-1252; the five undefined bytes map to themselves.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

size_t decodeUtf8(std::string_view s, size_t i, char32_t& cp) {
  auto c = static_cast<uint8_t>(s[i]);
  size_t len;
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  if ((c & 0xE0) == 0xC0) {
    cp = c & 0x1F;
    len = 2;
  } else if ((c & 0xF0) == 0xE0) {
    cp = c & 0x0F;
    len = 3;
  } else if ((c & 0xF8) == 0xF0) {
    cp = c & 0x07;
    len = 4;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    auto cc = static_cast<uint8_t>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

namespace {

bool xmlAllowed(char32_t cp) {
  if (cp < 0x20) return cp == 0x09 || cp == 0x0A || cp == 0x0D;
  return cp != 0xFFFE && cp != 0xFFFF;
}

}  // namespace

char32_t cp1252ToUnicode(unsigned char b) {
  if (b >= 0x80 && b < 0xA0) return kCp1252High[b - 0x80];
  return b;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string toValidUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    char32_t cp;
    size_t len = decodeUtf8(bytes, i, cp);
    if (len) {
      out.append(bytes.substr(i, len));
      i += len;
    } else {
      appendUtf8(out, cp1252ToUnicode(static_cast<unsigned char>(bytes[i])));
      ++i;
    }
  }
  return out;
}

std::string scrubXml(std::string_view utf8, char replacement) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp;
    size_t len = decodeUtf8(utf8, i, cp);
    if (len == 0) {  // not UTF-8 after all: one replacement per byte
      out.push_back(replacement);
      ++i;
      continue;
    }
    if (xmlAllowed(cp)) {
      out.append(utf8.substr(i, len));
    } else {
      out.push_back(replacement);
    }
    i += len;
  }
  return out;
}

std::vector<std::string_view> splitNonEmpty(std::string_view text, char separator) {
  std::vector<std::string_view> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(separator, pos);
    if (end == std::string_view::npos) end = text.size();
    if (end > pos) out.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return out;
}

std::string hexDigits(const unsigned char* bytes, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

std::string cutToUtf16Units(std::string_view utf8, size_t units) {
  size_t used = 0;
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp;
    size_t n = decodeUtf8(utf8, i, cp);
    if (n == 0) n = 1;
    size_t need = cp >= 0x10000 ? 2 : 1;
    if (used + need > units) return std::string(utf8.substr(0, i));
    used += need;
    i += n;
  }
  return std::string(utf8);
}

std::string foldCase(std::string_view utf8) {
  // The C.UTF-8 locale knows every letter's case, whatever locale the
  // program runs in.
  static const locale_t unicode = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out += static_cast<char>(b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b);
      ++i;
      continue;
    }
    char32_t cp = 0;
    size_t n = decodeUtf8(utf8, i, cp);
    if (n == 0) {
      out += utf8[i++];
      continue;
    }
    if (unicode) cp = static_cast<char32_t>(::towlower_l(static_cast<wint_t>(cp), unicode));
    appendUtf8(out, cp);
    i += n;
  }
  return out;
}

}  // namespace tamber
