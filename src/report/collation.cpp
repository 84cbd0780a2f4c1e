#include "report/collation.h"

#include <unicode/ucol.h>
#include <unicode/ustring.h>
#include <unicode/uvernum.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/loaded_library.h"

namespace tamber::report {

namespace {

std::string localeFromEnvironment() {
  for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* v = std::getenv(name);
    if (!v || !*v) continue;
    std::string locale = v;
    // "fr_FR.UTF-8@euro" names the locale "fr_FR".
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale == "C" || locale == "POSIX") return "";
    return locale;
  }
  return "";
}

// ICU's collation is loaded when the first name is sorted, not at every
// start of the program; its functions carry the version in their names.
struct CollationFunctions {
  decltype(&::ucol_open) open = nullptr;
  decltype(&::ucol_close) close = nullptr;
  decltype(&::ucol_getSortKey) getSortKey = nullptr;
};

struct Collator {
  std::string locale = localeFromEnvironment();
  CollationFunctions icu;
  UCollator* collator = nullptr;
  std::string problem;
  Collator() {
    const std::string suffix = "_" U_ICU_VERSION_SHORT;
    const std::string open = "ucol_open" + suffix, close = "ucol_close" + suffix,
                      sortKey = "ucol_getSortKey" + suffix;
    std::string why;
    if (!platform::loadFunctions(("libicui18n.so." U_ICU_VERSION_SHORT), "ICU's collation",
                                 {{open.c_str(), reinterpret_cast<void**>(&icu.open)},
                                  {close.c_str(), reinterpret_cast<void**>(&icu.close)},
                                  {sortKey.c_str(), reinterpret_cast<void**>(&icu.getSortKey)}},
                                 why)) {
      locale.clear();  // names then sort by their bytes
      problem = why;
      return;
    }
    UErrorCode status = U_ZERO_ERROR;
    collator = icu.open(locale.c_str(), &status);
    if (U_FAILURE(status)) {
      status = U_ZERO_ERROR;
      locale.clear();
      collator = icu.open("", &status);
    }
  }
  ~Collator() {
    if (collator) icu.close(collator);
  }
};

const Collator& collator() {
  static const Collator c;
  return c;
}

}  // namespace

std::string collationLocale() { return collator().locale; }

std::string collationProblem() { return collator().problem; }

std::string collationKey(const std::string& name) {
  const Collator& c = collator();
  if (!c.collator || name.empty()) return {};
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8Lenient(nullptr, 0, &length, name.data(), static_cast<int32_t>(name.size()), &status);
  std::vector<UChar> text(static_cast<size_t>(length) + 1);
  status = U_ZERO_ERROR;
  u_strFromUTF8Lenient(text.data(), length + 1, &length, name.data(), static_cast<int32_t>(name.size()), &status);
  if (U_FAILURE(status)) return {};
  uint8_t small[256];
  int32_t needed = c.icu.getSortKey(c.collator, text.data(), length, small, sizeof small);
  std::vector<uint8_t> large;
  const uint8_t* key = small;
  if (needed > static_cast<int32_t>(sizeof small)) {
    large.resize(static_cast<size_t>(needed));
    c.icu.getSortKey(c.collator, text.data(), length, large.data(), needed);
    key = large.data();
  }
  // The key ends with a zero byte, left out.
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(static_cast<size_t>(needed) * 2);
  for (int32_t i = 0; i + 1 < needed; ++i) {
    out += kHex[key[i] >> 4];
    out += kHex[key[i] & 15];
  }
  return out;
}

}  // namespace tamber::report
