#include "search/literal_filter.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tamber::search {

namespace {

// Bytes the listing writer may not store as themselves: markup characters
// (escaped or in CDATA), the carriage return (a character reference) and
// other control characters (replaced).
bool storedAsIs(unsigned char c) {
  return c >= 0x20 && c != '<' && c != '>' && c != '&' && c != '"' && c != '\'';
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// The longest run of `text` whose bytes all pass `keep`.
std::string_view longestRun(std::string_view text, bool (*keep)(unsigned char, bool), bool caseSensitive) {
  std::string_view best;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && keep(static_cast<unsigned char>(text[i]), caseSensitive)) continue;
    if (i - start > best.size()) best = text.substr(start, i - start);
    start = i + 1;
  }
  return best;
}

bool plainByte(unsigned char c, bool caseSensitive) {
  // Without case, a non-ASCII character has case forms of other bytes.
  return storedAsIs(c) && (caseSensitive || c < 0x80);
}

}  // namespace

LiteralFilter::LiteralFilter(std::string_view pattern, bool caseSensitive, bool wholeText, bool regex) {
  if (regex) return;
  // The plain runs between wildcards and sets; a whole-text pattern is
  // compared as it stands, wildcards included.
  std::string_view best;
  auto consider = [&](std::string_view run) {
    std::string_view usable = longestRun(run, plainByte, caseSensitive);
    if (usable.size() > best.size()) best = usable;
  };
  if (wholeText) {
    consider(pattern);
  } else {
    size_t start = 0, i = 0;
    while (i < pattern.size()) {
      char c = pattern[i];
      if (c == '*' || c == '?' || c == '[') {
        consider(pattern.substr(start, i - start));
        if (c == '[') {
          size_t close = pattern.find(']', i + 1);
          if (close == std::string_view::npos) break;
          i = close;
        }
        start = i + 1;
      }
      ++i;
    }
    if (i >= pattern.size() && start < pattern.size()) consider(pattern.substr(start));
  }
  if (best.empty()) return;
  Needle main;
  for (char c : best) {
    main.lower += caseSensitive ? c : lowerAscii(c);
    main.upper += caseSensitive ? c : upperAscii(c);
  }
  literal_ = main.lower;
  needles_.push_back(main);
  // A character reference may spell any text.
  needles_.push_back({"&#", "&#"});
  if (!caseSensitive) {
    // The two characters outside ASCII whose lower case is an ASCII letter.
    if (literal_.find('i') != std::string::npos) needles_.push_back({"\xC4\xB0", "\xC4\xB0"});
    if (literal_.find('k') != std::string::npos) needles_.push_back({"\xE2\x84\xAA", "\xE2\x84\xAA"});
  }
  for (const auto& n : needles_) overlap_ = std::max(overlap_, n.lower.size() - 1);
}

bool LiteralFilter::find(const Needle& n, std::string_view bytes) const {
  const size_t len = n.lower.size();
  if (bytes.size() < len) return false;
  const char* p = bytes.data();
  const size_t last = bytes.size() - len;  // the last start position
  const char* lo = n.lower.data();
  const char* up = n.upper.data();
  auto equalAt = [&](size_t at) {
    for (size_t j = 0; j < len; ++j) {
      char c = p[at + j];
      if (c != lo[j] && c != up[j]) return false;
    }
    return true;
  };
  size_t i = 0;
#if defined(__SSE2__)
  // Sixteen start positions at a time: the first and the last byte of the
  // needle must both fit before the whole needle is compared.
  const size_t k = len - 1;
  const __m128i f0 = _mm_set1_epi8(lo[0]), f1 = _mm_set1_epi8(up[0]);
  const __m128i l0 = _mm_set1_epi8(lo[k]), l1 = _mm_set1_epi8(up[k]);
  for (; i + 16 <= last + 1; i += 16) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + k));
    __m128i hit = _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi8(a, f0), _mm_cmpeq_epi8(a, f1)),
                                _mm_or_si128(_mm_cmpeq_epi8(b, l0), _mm_cmpeq_epi8(b, l1)));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    while (mask) {
      unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
      if (equalAt(i + bit)) return true;
      mask &= mask - 1;
    }
  }
#endif
  for (; i <= last; ++i) {
    if ((p[i] == lo[0] || p[i] == up[0]) && equalAt(i)) return true;
  }
  return false;
}

bool LiteralFilter::mayMatch(std::string_view bytes) const {
  if (needles_.empty()) return true;
  for (const auto& n : needles_) {
    if (find(n, bytes)) return true;
  }
  return false;
}

}  // namespace tamber::search
