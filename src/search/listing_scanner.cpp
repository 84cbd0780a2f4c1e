#include "search/listing_scanner.h"

#include <cstring>

namespace tamber::search {

namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void appendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// "&...;" at `at` into `out`; false for anything but a character reference
// or one of the five predefined entities.
bool reference(std::string_view doc, size_t& at, std::string& out) {
  size_t semi = doc.find(';', at);
  if (semi == std::string_view::npos || semi - at > 12) return false;
  std::string_view ref = doc.substr(at + 1, semi - at - 1);
  at = semi + 1;
  if (ref == "lt") return out += '<', true;
  if (ref == "gt") return out += '>', true;
  if (ref == "amp") return out += '&', true;
  if (ref == "quot") return out += '"', true;
  if (ref == "apos") return out += '\'', true;
  if (ref.size() < 2 || ref[0] != '#') return false;
  bool hex = ref[1] == 'x';
  std::string_view digits = ref.substr(hex ? 2 : 1);
  if (digits.empty()) return false;
  uint32_t c = 0;
  for (char d : digits) {
    int v = d >= '0' && d <= '9' ? d - '0'
            : hex && d >= 'a' && d <= 'f' ? d - 'a' + 10
            : hex && d >= 'A' && d <= 'F' ? d - 'A' + 10
                                          : -1;
    if (v < 0) return false;
    c = c * (hex ? 16 : 10) + static_cast<uint32_t>(v);
    if (c > 0x10FFFF) return false;
  }
  if (c == 0 || (c >= 0xD800 && c <= 0xDFFF)) return false;
  appendUtf8(out, c);
  return true;
}

constexpr std::string_view kCdataOpen = "<![CDATA[";

}  // namespace

ListingScanner::ListingScanner(std::string_view document) : doc_(document) {}

ListingScanner::Event ListingScanner::fail(std::string why) {
  failed_ = true;
  error_ = "the listing is damaged: " + std::move(why);
  return Event::error;
}

bool ListingScanner::skipMarkup() {
  // At "<?" or "<!--".
  if (doc_.compare(pos_, 2, "<?") == 0) {
    size_t end = doc_.find("?>", pos_ + 2);
    if (end == std::string_view::npos) return false;
    pos_ = end + 2;
    return true;
  }
  size_t end = doc_.find("-->", pos_ + 4);
  if (end == std::string_view::npos) return false;
  pos_ = end + 3;
  return true;
}

bool ListingScanner::readText(size_t& at) {
  // Text, references and CDATA up to the next tag (or the end).
  text_.clear();
  while (at < doc_.size()) {
    size_t stop = doc_.find_first_of("<&", at);
    if (stop == std::string_view::npos) stop = doc_.size();
    text_.append(doc_.data() + at, stop - at);
    at = stop;
    if (at == doc_.size()) return true;
    if (doc_[at] == '&') {
      if (!reference(doc_, at, text_)) {
        error_ = "it holds an entity or a bad character reference";
        return false;
      }
      continue;
    }
    if (doc_.compare(at, kCdataOpen.size(), kCdataOpen) == 0) {
      size_t end = doc_.find("]]>", at + kCdataOpen.size());
      if (end == std::string_view::npos) {
        error_ = "a CDATA section is not closed";
        return false;
      }
      text_.append(doc_.data() + at + kCdataOpen.size(), end - at - kCdataOpen.size());
      at = end + 3;
      continue;
    }
    return true;  // a tag
  }
  return true;
}

bool ListingScanner::startTag(size_t& at, bool& selfClosing) {
  // At "<name": the name, then attributes up to ">" or "/>".
  size_t start = at + 1;
  size_t i = start;
  while (i < doc_.size() && !blank(doc_[i]) && doc_[i] != '>' && doc_[i] != '/' && doc_[i] != '<') ++i;
  if (i == start || i >= doc_.size()) return false;
  name_ = doc_.substr(start, i - start);
  while (i < doc_.size()) {
    char c = doc_[i];
    if (c == '>') {
      selfClosing = false;
      at = i + 1;
      return true;
    }
    if (c == '/' && i + 1 < doc_.size() && doc_[i + 1] == '>') {
      selfClosing = true;
      at = i + 2;
      return true;
    }
    if (c == '"' || c == '\'') {
      size_t close = doc_.find(c, i + 1);
      if (close == std::string_view::npos) return false;
      std::string_view value = doc_.substr(i + 1, close - i - 1);
      if (value.find('<') != std::string_view::npos) return false;
      i = close + 1;
      continue;
    }
    if (c == '<') return false;
    ++i;
  }
  return false;
}

ListingScanner::Event ListingScanner::next() {
  if (failed_) return Event::error;
  if (pendingClose_) {
    pendingClose_ = false;
    name_ = stack_.back();
    stack_.pop_back();
    return Event::close;
  }
  for (;;) {
    // Between tags: only what the listing writer puts there (blanks) is
    // expected; other text between child elements is passed over.
    size_t lt = doc_.find('<', pos_);
    if (stack_.empty()) {
      for (size_t i = pos_; i < (lt == std::string_view::npos ? doc_.size() : lt); ++i) {
        if (!blank(doc_[i])) return fail("text outside the root element");
      }
    }
    if (lt == std::string_view::npos) {
      if (!stack_.empty()) return fail("it ends inside <" + std::string(stack_.back()) + ">");
      if (!rootSeen_) return fail("it holds no element");
      pos_ = doc_.size();
      return Event::end;
    }
    pos_ = lt;
    if (doc_.compare(pos_, 2, "<?") == 0 || doc_.compare(pos_, 4, "<!--") == 0) {
      if (!skipMarkup()) return fail("a comment or declaration is not closed");
      continue;
    }
    if (doc_.compare(pos_, kCdataOpen.size(), kCdataOpen) == 0) {
      size_t end = doc_.find("]]>", pos_);
      if (end == std::string_view::npos || stack_.empty()) return fail("a stray CDATA section");
      pos_ = end + 3;
      continue;
    }
    if (doc_.compare(pos_, 2, "<!") == 0) return fail("it holds a DTD or an entity");
    if (doc_.compare(pos_, 2, "</") == 0) {
      size_t gt = doc_.find('>', pos_);
      if (gt == std::string_view::npos) return fail("a closing tag is not closed");
      std::string_view closing = doc_.substr(pos_ + 2, gt - pos_ - 2);
      while (!closing.empty() && blank(closing.back())) closing.remove_suffix(1);
      if (stack_.empty() || closing != stack_.back()) return fail("</" + std::string(closing) + "> closes nothing open");
      pos_ = gt + 1;
      name_ = stack_.back();
      stack_.pop_back();
      return Event::close;
    }
    if (stack_.empty() && rootSeen_) return fail("a second root element");
    bool selfClosing = false;
    size_t at = pos_;
    if (!startTag(at, selfClosing)) return fail("a tag is not well formed");
    rootSeen_ = true;
    pos_ = at;
    if (selfClosing) {
      text_.clear();
      if (stack_.empty()) {  // an empty root: it opens and closes
        stack_.push_back(name_);
        pendingClose_ = true;
        return Event::open;
      }
      return Event::text;
    }
    // A leaf is text (or nothing) followed by its own closing tag.
    size_t after = pos_;
    if (!readText(after)) return fail(error_);
    if (after < doc_.size() && doc_.compare(after, 2, "</") == 0 &&
        doc_.compare(after + 2, name_.size(), name_) == 0 && after + 2 + name_.size() < doc_.size() &&
        doc_[after + 2 + name_.size()] == '>' && !stack_.empty()) {
      pos_ = after + 3 + name_.size();
      return Event::text;
    }
    if (stack_.size() >= kMaxDepth) return fail("its folders nest too deep");
    stack_.push_back(name_);
    return Event::open;
  }
}

}  // namespace tamber::search
