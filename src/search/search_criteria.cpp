#include "search/search_criteria.h"

#include <chrono>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <unicode/uchar.h>

#include <algorithm>

#include "app/settings_store.h"

namespace tamber::search {

namespace {

// UTF-8 to code points; a byte that starts no valid sequence stands for
// itself (as U+DC00 + byte), so any bytes compare exactly.
// With `lower`, in lower case (ASCII without asking ICU).
void decodeInto(std::string_view s, std::u32string& out, bool lower);

std::u32string decode(std::string_view s) {
  std::u32string out;
  decodeInto(s, out, false);
  return out;
}

char32_t lower(char32_t c) { return static_cast<char32_t>(u_tolower(static_cast<UChar32>(c))); }

void decodeInto(std::string_view s, std::u32string& out, bool toLower) {
  // At most one character a byte: written in place, then cut to length.
  out.resize(s.size());
  char32_t* o = out.data();
  for (size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      *o++ = toLower && b >= 'A' && b <= 'Z' ? b + 32 : b;
      ++i;
      continue;
    }
    int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    bool ok = len > 0 && i + static_cast<size_t>(len) <= s.size();
    for (int k = 1; ok && k < len; ++k) {
      auto cont = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
      ok = (cont & 0xC0) == 0x80;
      c = (c << 6) | (cont & 0x3F);
    }
    if (!ok) {
      *o++ = 0xDC00 + b;
      ++i;
      continue;
    }
    *o++ = toLower ? lower(c) : c;
    i += static_cast<size_t>(len);
  }
  out.resize(static_cast<size_t>(o - out.data()));
}

char32_t upper(char32_t c) { return static_cast<char32_t>(u_toupper(static_cast<UChar32>(c))); }

std::u32string lowered(std::u32string s) {
  for (auto& c : s) c = lower(c);
  return s;
}

// The set opening at pattern[p] ("["): whether `c` is in it, and where the
// pattern goes on. An unterminated set gives nothing.
struct SetResult {
  bool terminated = false;
  bool member = false;
  size_t next = 0;
};

SetResult matchSet(const std::u32string& pattern, size_t p, char32_t c, bool caseSensitive) {
  SetResult r;
  // Sets compare in upper case: "[a-c]" takes "B" when case does not count.
  char32_t x = caseSensitive ? c : upper(c);
  size_t i = p + 1;
  while (i < pattern.size() && pattern[i] != U']') {
    char32_t from = caseSensitive ? pattern[i] : upper(pattern[i]);
    if (i + 2 < pattern.size() && pattern[i + 1] == U'-' && pattern[i + 2] != U']') {
      char32_t to = caseSensitive ? pattern[i + 2] : upper(pattern[i + 2]);
      if (from <= x && x <= to) r.member = true;
      i += 3;
    } else {
      if (from == x) r.member = true;
      ++i;
    }
  }
  if (i >= pattern.size()) return {};
  r.terminated = true;
  r.next = i + 1;
  return r;
}

bool matchDecoded(const std::u32string& text, const std::u32string& pattern, bool caseSensitive,
                  bool anchored = false) {
  size_t p = 0, t = 0;
  size_t star = std::u32string::npos, starText = 0;
  for (;;) {
    // Unanchored, the rest of the text does not matter; anchored, it must be
    // used up, else the last "*" takes more.
    if (p == pattern.size()) {
      if (!anchored || t == text.size()) return true;
      if (star == std::u32string::npos) return false;
      p = star + 1;
      t = ++starText;
      continue;
    }
    if (pattern[p] == U'*') {
      star = p++;
      starText = t;
      continue;
    }
    if (t == text.size()) {
      // Text used up: only stars may remain.
      while (p < pattern.size() && pattern[p] == U'*') ++p;
      return p == pattern.size();
    }
    size_t next = 0;
    bool ok = false;
    if (pattern[p] == U'?') {
      ok = true;
      next = p + 1;
    } else if (pattern[p] == U'[') {
      SetResult s = matchSet(pattern, p, text[t], caseSensitive);
      if (!s.terminated) return false;
      ok = s.member;
      next = s.next;
    } else {
      ok = pattern[p] == text[t];
      next = p + 1;
    }
    if (ok) {
      p = next;
      ++t;
      continue;
    }
    // Let the last "*" take one more character, if there was one.
    if (star == std::u32string::npos) return false;
    p = star + 1;
    t = ++starText;
  }
}

}  // namespace

std::string prepareSearchText(std::string_view typed, bool wholeText) {
  constexpr std::string_view kBlanks = " \t\r\n";
  size_t b = typed.find_first_not_of(kBlanks), e = typed.find_last_not_of(kBlanks);
  std::string text(b == std::string_view::npos ? std::string_view() : typed.substr(b, e - b + 1));
  if (text.empty() || wholeText || text[0] == '*' || text[0] == '?') return text;
  return "*" + text;
}

struct Matcher::Regex {
  pcre2_code* code = nullptr;
  pcre2_match_data* data = nullptr;
  // Steps and depth are set per attempt; the compiled code's own stack
  // grows to 8 MB, so that a long name is decided rather than given up on.
  pcre2_match_context* context = nullptr;
  pcre2_jit_stack* stack = nullptr;
  ~Regex() {
    pcre2_match_data_free(data);
    pcre2_match_context_free(context);
    pcre2_jit_stack_free(stack);
    pcre2_code_free(code);
  }
};

Matcher::Matcher(std::string_view pattern, bool caseSensitive, bool wholeText, bool regex, bool anchored)
    : caseSensitive_(caseSensitive), wholeText_(wholeText), anchored_(anchored) {
  if (!regex) {
    pattern_ = decode(pattern);
    if (!caseSensitive_) pattern_ = lowered(pattern_);
    return;
  }
  // Texts that are not valid UTF-8 are searched, not refused.
  uint32_t options = PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF;
  if (!caseSensitive) options |= PCRE2_CASELESS;
  if (wholeText) options |= PCRE2_ANCHORED | PCRE2_ENDANCHORED;
  int code = 0;
  PCRE2_SIZE offset = 0;
  regex_ = std::make_unique<Regex>();
  regex_->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options,
                               &code, &offset, nullptr);
  if (!regex_->code) {
    PCRE2_UCHAR message[256];
    pcre2_get_error_message(code, message, sizeof message);
    error_ = std::string(reinterpret_cast<const char*>(message)) + " at offset " + std::to_string(offset);
    regex_.reset();
    return;
  }
  pcre2_jit_compile(regex_->code, PCRE2_JIT_COMPLETE);  // faster where JIT is there
  regex_->data = pcre2_match_data_create_from_pattern(regex_->code, nullptr);
  regex_->context = pcre2_match_context_create(nullptr);
  regex_->stack = pcre2_jit_stack_create(64 * 1024, 8 * 1024 * 1024, nullptr);
  if (regex_->context && regex_->stack) pcre2_jit_stack_assign(regex_->context, nullptr, regex_->stack);
}

Matcher::~Matcher() = default;
Matcher::Matcher(Matcher&&) noexcept = default;

bool Matcher::matches(std::string_view text) const {
  if (!error_.empty()) return false;
  if (regex_) {
    gaveUp_ = false;
    // A first attempt of a few milliseconds at most; then, while the time a
    // text may take is not used up, ten times the steps.
    const auto start = std::chrono::steady_clock::now();
    uint32_t limit = 200'000;
    for (;;) {
      if (regex_->context) {
        pcre2_set_match_limit(regex_->context, limit);
        pcre2_set_depth_limit(regex_->context, limit);
      }
      int rc = pcre2_match(regex_->code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0,
                           regex_->data, regex_->context);
      if (rc >= 0) return true;
      if (rc == PCRE2_ERROR_NOMATCH || rc == PCRE2_ERROR_PARTIAL) return false;
      bool limited = rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT || rc == PCRE2_ERROR_HEAPLIMIT ||
                     rc == PCRE2_ERROR_JIT_STACKLIMIT;
      double used = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      // More steps cannot help a stack that is full.
      if (!limited || rc == PCRE2_ERROR_JIT_STACKLIMIT || limit >= 400'000'000u || used * 11 > secondsPerText_) {
        gaveUp_ = true;
        return false;
      }
      limit *= 10;
    }
  }
  decodeInto(text, text_, !caseSensitive_);
  if (wholeText_) return text_ == pattern_;
  return matchDecoded(text_, pattern_, caseSensitive_, anchored_);
}

bool Match(std::string_view text, std::string_view pattern, bool caseSensitive, bool wholeText) {
  return Matcher(pattern, caseSensitive, wholeText).matches(text);
}

uint32_t encodeSwitches(const SearchSwitches& s) {
  uint32_t bits = 0;
  if (s.useDateRange) bits |= 1u << 0;
  if (s.useSizeRange) bits |= 1u << 1;
  if (s.minGiven) bits |= 1u << 2;
  if (s.caseSensitive) bits |= 1u << 3;
  if (s.maxGiven) bits |= 1u << 4;
  if (s.searchArchives) bits |= 1u << 5;
  if (s.wholeText) bits |= 1u << 6;
  bits |= static_cast<uint32_t>(s.kinds & kKindsOfOldSettings) << 7;
  // Videos came later: bit 12 says that bit 13 holds them. Settings saved
  // before search videos when every other kind was on.
  bits |= 1u << 12;
  if (s.kinds & kKindVideos) bits |= 1u << 13;
  return bits;
}

SearchSwitches decodeSwitches(uint32_t bits) {
  SearchSwitches s;
  s.useDateRange = bits & (1u << 0);
  s.useSizeRange = bits & (1u << 1);
  s.minGiven = bits & (1u << 2);
  s.caseSensitive = bits & (1u << 3);
  s.maxGiven = bits & (1u << 4);
  s.searchArchives = bits & (1u << 5);
  s.wholeText = bits & (1u << 6);
  s.kinds = static_cast<uint16_t>((bits >> 7) & kKindsOfOldSettings);
  bool videos = (bits & (1u << 12)) ? (bits & (1u << 13)) != 0 : s.kinds == kKindsOfOldSettings;
  if (videos) s.kinds |= kKindVideos;
  return s;
}

SearchSwitches loadSwitches(const app::SettingsStore& settings) {
  // Absent: archives and every kind on, the rest off.
  int bits = settings.getInt("serialized_param", "param_search", -1);
  return bits < 0 ? SearchSwitches{} : decodeSwitches(static_cast<uint32_t>(bits));
}

void saveSwitches(app::SettingsStore& settings, const SearchSwitches& s) {
  settings.putInt("serialized_param", "param_search", static_cast<int>(encodeSwitches(s)));
}

namespace {
constexpr const char* kHistorySection = "SearchCombo/SearchHistoryCombo";
}

std::vector<std::string> loadHistory(const app::SettingsStore& settings) {
  std::vector<std::string> out;
  for (size_t i = 0; i < kHistoryLength; ++i) {
    std::string key = "Last" + std::to_string(i);
    if (!settings.has(kHistorySection, key)) break;
    std::string text = settings.getText(kHistorySection, key);
    if (!text.empty() && std::find(out.begin(), out.end(), text) == out.end()) out.push_back(text);
  }
  return out;
}

void addToHistory(app::SettingsStore& settings, const std::string& text) {
  if (text.empty()) return;
  auto list = loadHistory(settings);
  // Already the latest: the settings stay as they are, unwritten.
  if (!list.empty() && list.front() == text) return;
  list.erase(std::remove(list.begin(), list.end(), text), list.end());
  list.insert(list.begin(), text);
  if (list.size() > kHistoryLength) list.resize(kHistoryLength);
  for (size_t i = 0; i < list.size(); ++i) {
    settings.putText(kHistorySection, "Last" + std::to_string(i), list[i]);
  }
}

}  // namespace tamber::search
