// The quick look that lets the search pass over most listing text without
// reading it as XML: a text can only match where the longest plain run of
// the pattern (no wildcard, no set) stands in the raw bytes. A listing whose
// bytes hold no such run, and no character reference that could spell one,
// holds no match.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tamber::search {

class LiteralFilter {
 public:
  // `pattern` as prepared for the wildcard matcher; `regex` turns the filter off.
  LiteralFilter(std::string_view pattern, bool caseSensitive, bool wholeText, bool regex);

  // False when every listing must be read in full (no usable run).
  bool active() const { return !needles_.empty(); }
  // The bytes a needle may straddle: a buffer should start with this many
  // bytes of the one before.
  size_t overlap() const { return overlap_; }
  // Whether `bytes` may hold a match.
  bool mayMatch(std::string_view bytes) const;
  // The run looked for (in lower case without case), for tests.
  const std::string& literal() const { return literal_; }

 private:
  struct Needle {
    std::string lower, upper;  // equal when case counts
  };
  bool find(const Needle& n, std::string_view bytes) const;
  std::vector<Needle> needles_;
  std::string literal_;
  size_t overlap_ = 0;
};

}  // namespace tamber::search
