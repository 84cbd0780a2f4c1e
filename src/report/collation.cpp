#include "report/collation.h"

#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <cstdlib>
#include <memory>
#include <vector>

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

struct Collator {
  std::string locale = localeFromEnvironment();
  UCollator* collator = nullptr;
  Collator() {
    UErrorCode status = U_ZERO_ERROR;
    collator = ucol_open(locale.c_str(), &status);
    if (U_FAILURE(status)) {
      status = U_ZERO_ERROR;
      locale.clear();
      collator = ucol_open("", &status);
    }
  }
  ~Collator() {
    if (collator) ucol_close(collator);
  }
};

const Collator& collator() {
  static const Collator c;
  return c;
}

}  // namespace

std::string collationLocale() { return collator().locale; }

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
  int32_t needed = ucol_getSortKey(c.collator, text.data(), length, small, sizeof small);
  std::vector<uint8_t> large;
  const uint8_t* key = small;
  if (needed > static_cast<int32_t>(sizeof small)) {
    large.resize(static_cast<size_t>(needed));
    ucol_getSortKey(c.collator, text.data(), length, large.data(), needed);
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
