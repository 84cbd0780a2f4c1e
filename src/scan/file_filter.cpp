#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstring>
#include <vector>

#include "platform/text.h"
#include "platform/utf.h"
#include "scan/scanner.h"

namespace tamber::scan {

namespace {

// The patterns between the ";", blanks around them and empty ones left out.
std::vector<std::string> splitPatterns(const std::string& text) {
  std::vector<std::string> out;
  const std::string valid = toValidUtf8(text);
  for (std::string_view s : splitNonEmpty(valid, ';')) {
    size_t a = s.find_first_not_of(" \t");
    size_t b = s.find_last_not_of(" \t");
    if (a != std::string::npos) out.emplace_back(s.substr(a, b - a + 1));
  }
  return out;
}

// The patterns' expression compiled as filters match: without case, over
// UTF-8 names that may be invalid; nullptr (and `err`) when it does not compile.
pcre2_code* compileExpression(const std::string& expr, int& err) {
  PCRE2_SIZE at = 0;
  return pcre2_compile(reinterpret_cast<PCRE2_SPTR>(expr.data()), expr.size(),
                       PCRE2_CASELESS | PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_DOLLAR_ENDONLY | PCRE2_DOTALL,
                       &err, &at, nullptr);
}

}  // namespace

struct FileFilter::Code {
  pcre2_code* code = nullptr;
  pcre2_match_data* match = nullptr;
  ~Code() {
    pcre2_match_data_free(match);
    pcre2_code_free(code);
  }
};

FileFilter::FileFilter() = default;
FileFilter::~FileFilter() = default;
FileFilter::FileFilter(FileFilter&&) noexcept = default;
FileFilter& FileFilter::operator=(FileFilter&&) noexcept = default;

// Each pattern must match the whole name: "*" any run of characters, "?" one
// character, "." itself; everything else is taken as a regular expression
// writes it, so that "[ab]*" keeps the names that begin with a or b (and a
// pattern that does not compile is refused).
std::string FileFilter::expression(const std::string& patterns) {
  std::string out;
  for (const std::string& p : splitPatterns(patterns)) {
    if (p == "*" || p == "*.*") return {};
    if (!out.empty()) out += '|';
    out += "^(?:";
    for (char c : p) {
      if (c == '*') {
        out += ".*";
      } else if (c == '?') {
        out += '.';
      } else if (c == '.') {
        out += "\\.";
      } else {
        out += c;
      }
    }
    out += ")$";
  }
  return out;
}

FileFilter::Outcome FileFilter::compile(const std::string& patterns, FileFilter& out) {
  out.code_.reset();
  std::string expr = expression(patterns);
  if (expr.empty()) return Outcome::none;
  int err = 0;
  auto code = std::make_shared<Code>();
  code->code = compileExpression(expr, err);
  if (!code->code) return Outcome::invalid;
  pcre2_jit_compile(code->code, PCRE2_JIT_COMPLETE);
  code->match = pcre2_match_data_create_from_pattern(code->code, nullptr);
  if (!code->match) return Outcome::invalid;
  out.code_ = std::move(code);
  return Outcome::filter;
}

std::string FileFilter::problem(const std::string& patterns) {
  std::string expr = expression(patterns);
  if (expr.empty()) return {};
  int err = 0;
  pcre2_code* code = compileExpression(expr, err);
  if (code) {
    pcre2_code_free(code);
    return {};
  }
  PCRE2_UCHAR text[256];
  if (pcre2_get_error_message(err, text, sizeof text) < 0) return "it does not compile";
  return reinterpret_cast<const char*>(text);
}

bool FileFilter::matches(std::string_view name) const {
  if (!code_) return true;
  // Names that are not UTF-8 are matched as Windows-1252, as they are listed.
  for (unsigned char ch : name) {
    if (ch >= 0x80) {
      std::string valid = toValidUtf8(name);
      if (valid != name) {
        int rc = pcre2_match(code_->code, reinterpret_cast<PCRE2_SPTR>(valid.data()), valid.size(),
                             0, 0, code_->match, nullptr);
        return rc >= 0;
      }
      break;
    }
  }
  int rc = pcre2_match(code_->code, reinterpret_cast<PCRE2_SPTR>(name.data()), name.size(), 0, 0,
                       code_->match, nullptr);
  return rc >= 0;
}

}  // namespace tamber::scan
