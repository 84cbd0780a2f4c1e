#define PCRE2_CODE_UNIT_WIDTH 0
#include "media/pattern.h"

#include <pcre2.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "media/media.h"
#include "media/text_util.h"
#include "platform/text.h"

namespace tamber::media {

namespace {

const char* abbreviation(char c) {
  switch (c) {
    case 'a': return "[a-zA-Z0-9]";
    case 'b': return "[ \\t]";
    case 'c': return "[a-zA-Z]";
    case 'd': return "[0-9]";
    case 'h': return "[0-9a-fA-F]";
    case 'n': return "(?:\\r|(?:\\r?\\n))";
    case 'q': return "(?:(?:\"[^\"]*\")|(?:'[^']*'))";
    case 'w': return "[a-zA-Z]+";
    case 'z': return "[0-9]+";
    default: return nullptr;
  }
}

// A character as a PCRE2 literal.
std::string literal(char c) {
  if (std::isalnum(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) >= 0x80) {
    return std::string(1, c);
  }
  if (c == '\t') return "\\t";
  if (c == '\n') return "\\n";
  if (c == '\r') return "\\r";
  if (c == 0) return "\\x00";
  return std::string("\\") + c;
}

}  // namespace

std::optional<std::string> translatePattern(const std::string& p) {
  std::string out;
  for (size_t i = 0; i < p.size(); ++i) {
    char c = p[i];
    switch (c) {
      case '{': out += "("; break;
      case '}': out += ")"; break;
      case '(': out += "(?:"; break;
      case ')': out += ")"; break;
      case '\\': {
        if (i + 1 >= p.size()) return std::nullopt;
        char n = p[++i];
        const char* abbr = abbreviation(n);
        out += abbr ? abbr : literal(n);
        break;
      }
      case '[': {
        out += "[";
        ++i;
        if (i < p.size() && p[i] == '^') {
          out += "^";
          ++i;
        }
        bool closed = false;
        for (bool first = true; i < p.size(); ++i, first = false) {
          char k = p[i];
          if (k == ']' && !first) {
            closed = true;
            break;
          }
          if (k == '\\') {
            if (i + 1 >= p.size()) return std::nullopt;
            char n = p[++i];
            out += n == 't' ? "\\t" : literal(n);
          } else if (k == '-') {
            out += "-";
          } else {
            out += literal(k);
          }
        }
        if (!closed) return std::nullopt;
        out += "]";
        break;
      }
      case '.': case '*': case '+': case '?': case '|': case '^': case '$':
        out.push_back(c);
        break;
      default:
        out += literal(c);
    }
  }
  return out;
}

namespace {

struct Code8 {
  void operator()(pcre2_code_8* c) const { pcre2_code_free_8(c); }
};
struct Code16 {
  void operator()(pcre2_code_16* c) const { pcre2_code_free_16(c); }
};
struct Match8 {
  void operator()(pcre2_match_data_8* m) const { pcre2_match_data_free_8(m); }
};
struct Match16 {
  void operator()(pcre2_match_data_16* m) const { pcre2_match_data_free_16(m); }
};

// Compiled patterns are immutable and shared; match data is per call.
struct Compiled {
  std::unique_ptr<pcre2_code_8, Code8> narrow;
  std::unique_ptr<pcre2_code_16, Code16> wide;
  bool failed = false;
};

const Compiled& compiled(const std::string& pattern, bool wide, bool caseless) {
  static std::mutex mu;
  static std::map<std::string, Compiled> cache;  // Guarded by mu.
  std::string key = std::string(wide ? "w" : "n") + (caseless ? "i" : "c") + pattern;
  std::lock_guard lock(mu);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  Compiled& c = cache[key];
  auto translated = translatePattern(pattern);
  if (!translated) {
    c.failed = true;
    return c;
  }
  uint32_t options = PCRE2_DOTALL | (caseless ? PCRE2_CASELESS : 0);
  int err = 0;
  PCRE2_SIZE offset = 0;
  if (wide) {
    std::u16string units(translated->begin(), translated->end());
    c.wide.reset(pcre2_compile_16(reinterpret_cast<PCRE2_SPTR16>(units.data()), units.size(),
                                  options, &err, &offset, nullptr));
    if (c.wide) pcre2_jit_compile_16(c.wide.get(), PCRE2_JIT_COMPLETE);
    c.failed = !c.wide;
  } else {
    c.narrow.reset(pcre2_compile_8(reinterpret_cast<PCRE2_SPTR8>(translated->data()),
                                   translated->size(), options, &err, &offset, nullptr));
    if (c.narrow) pcre2_jit_compile_8(c.narrow.get(), PCRE2_JIT_COMPLETE);
    c.failed = !c.narrow;
  }
  return c;
}

}  // namespace

std::optional<std::u16string> matchFirstGroup(const void* text, const std::string& pattern,
                                              bool wide, bool caseless, Narrow narrow) {
  if (!text) return std::nullopt;
  const Compiled& c = compiled(pattern, wide, caseless);
  if (c.failed) return std::nullopt;
  if (wide) {
    const auto* t = static_cast<const char16_t*>(text);
    size_t len = std::char_traits<char16_t>::length(t);
    std::unique_ptr<pcre2_match_data_16, Match16> md(
        pcre2_match_data_create_from_pattern_16(c.wide.get(), nullptr));
    int rc = pcre2_match_16(c.wide.get(), reinterpret_cast<PCRE2_SPTR16>(t), len, 0, 0, md.get(),
                            nullptr);
    if (rc < 2) return std::nullopt;  // no match, or no group
    PCRE2_SIZE* ov = pcre2_get_ovector_pointer_16(md.get());
    if (ov[2] == PCRE2_UNSET) return std::nullopt;
    return scrubbed(std::u16string(t + ov[2], t + ov[3]));
  }
  const auto* t = static_cast<const char*>(text);
  size_t len = std::strlen(t);
  std::unique_ptr<pcre2_match_data_8, Match8> md(
      pcre2_match_data_create_from_pattern_8(c.narrow.get(), nullptr));
  int rc = pcre2_match_8(c.narrow.get(), reinterpret_cast<PCRE2_SPTR8>(t), len, 0, 0, md.get(),
                         nullptr);
  if (rc < 2) return std::nullopt;
  PCRE2_SIZE* ov = pcre2_get_ovector_pointer_8(md.get());
  if (ov[2] == PCRE2_UNSET) return std::nullopt;
  // Converted first, then scrubbed as UTF-16, so that accented letters
  // survive.
  std::string_view group(t + ov[2], ov[3] - ov[2]);
  if (narrow == Narrow::utf8IfValid && toValidUtf8(group) == group) return scrubbed(fromUtf8(group, false));
  return scrubbed(fromCodePage(group));
}

std::optional<std::vector<std::string>> matchGroups(std::string_view text, const std::string& pattern,
                                                    bool caseless) {
  const Compiled& c = compiled(pattern, false, caseless);
  if (c.failed) return std::nullopt;
  std::unique_ptr<pcre2_match_data_8, Match8> md(pcre2_match_data_create_from_pattern_8(c.narrow.get(), nullptr));
  int rc = pcre2_match_8(c.narrow.get(), reinterpret_cast<PCRE2_SPTR8>(text.data()), text.size(), 0, 0, md.get(),
                         nullptr);
  if (rc < 1) return std::nullopt;
  PCRE2_SIZE* ov = pcre2_get_ovector_pointer_8(md.get());
  uint32_t pairs = pcre2_get_ovector_count_8(md.get());
  std::vector<std::string> groups;
  for (uint32_t g = 1; g < pairs; ++g) {
    if (ov[2 * g] == PCRE2_UNSET) {
      groups.emplace_back();
    } else {
      groups.emplace_back(text.substr(ov[2 * g], ov[2 * g + 1] - ov[2 * g]));
    }
  }
  return groups;
}

}  // namespace tamber::media
