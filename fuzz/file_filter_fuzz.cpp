// Fuzz target: file-name patterns as users type them, matched against names.
// Input: the patterns, a line feed, then names separated by line feeds.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "scan/scanner.h"

using namespace tamber;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t nl = input.find('\n');
  std::string patterns = input.substr(0, nl);
  scan::FileFilter filter;
  auto outcome = scan::FileFilter::compile(patterns, filter);
  // A pattern that does not compile says why, and only then.
  bool refused = !scan::FileFilter::problem(patterns).empty();
  if ((outcome == scan::FileFilter::Outcome::invalid) != refused) std::abort();
  if (outcome == scan::FileFilter::Outcome::invalid) return 0;
  if (nl == std::string::npos) {
    // A single pattern of letters, digits, ".", "_" and "-" (nothing a
    // regular expression reads otherwise) matches itself.
    bool plain = outcome == scan::FileFilter::Outcome::filter && !patterns.empty();
    for (unsigned char c : patterns) {
      plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '_' || c == '-');
    }
    if (plain && !filter.matches(patterns)) std::abort();
    return 0;
  }
  size_t pos = nl + 1;
  while (pos <= input.size()) {
    size_t end = input.find('\n', pos);
    if (end == std::string::npos) end = input.size();
    (void)filter.matches(std::string_view(input).substr(pos, end - pos));
    pos = end + 1;
  }
  return 0;
}
