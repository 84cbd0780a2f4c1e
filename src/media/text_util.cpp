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
