#include "media/text_util.h"

#include "media/media.h"
#include "platform/text.h"
#include "platform/utf.h"

namespace tamber::media {

std::u16string fromCodePage(std::string_view bytes, bool untilZero) {
  std::u16string out;
  for (char ch : bytes) {
    if (ch == 0 && untilZero) break;
    out.push_back(static_cast<char16_t>(cp1252ToUnicode(static_cast<unsigned char>(ch))));
  }
  return out;
}

std::u16string fromUtf8(std::string_view bytes, bool untilZero) {
  auto nul = bytes.find('\0');
  if (untilZero && nul != std::string_view::npos) bytes = bytes.substr(0, nul);
  return *utf8ToUtf16(toValidUtf8(bytes));
}

std::string toUtf8(std::u16string_view s) { return utf16ToUtf8(s); }

std::u16string trimmed(std::u16string_view s) {
  auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
  size_t b = 0, e = s.size();
  while (b < e && blank(s[b])) ++b;
  while (e > b && blank(s[e - 1])) --e;
  return std::u16string(s.substr(b, e - b));
}

namespace {

int32_t digitsAt(std::u16string_view s, size_t i) {
  int64_t v = 0;
  for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9' && v < 100000000; ++i) v = v * 10 + (s[i] - u'0');
  return static_cast<int32_t>(v);
}

}  // namespace

int32_t leadingNumber(std::u16string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == u' ') ++i;
  return digitsAt(s, i);
}

int32_t firstNumber(std::u16string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] >= u'0' && s[i] <= u'9') return digitsAt(s, i);
  }
  return 0;
}

std::u16string fromUtf16(std::string_view bytes, bool bigEndian, bool untilZero) {
  std::u16string out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    char16_t unit = static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    if (unit == 0 && untilZero) break;
    out.push_back(unit);
  }
  return out;
}

std::u16string scrubbed(std::u16string s, char16_t replacement) {
  if (!s.empty()) CheckStringForIllegalWChar(s.data(), static_cast<int>(s.size()), replacement);
  return s;
}

}  // namespace tamber::media
