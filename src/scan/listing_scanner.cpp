#include "scan/listing_scanner.h"

#include <cstring>

namespace tamber::scan {

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

// "&...;" at `at` into `out`: 1 done, 0 damage (anything but a character
// reference or one of the five predefined entities), -1 the text ends first.
int reference(std::string_view doc, size_t& at, std::string& out) {
  size_t semi = doc.find(';', at);
  if (semi == std::string_view::npos || semi - at > 12) {
    return doc.size() - at <= 12 && (semi == std::string_view::npos) ? -1 : 0;
  }
  std::string_view ref = doc.substr(at + 1, semi - at - 1);
  at = semi + 1;
  if (ref == "lt") return out += '<', 1;
  if (ref == "gt") return out += '>', 1;
  if (ref == "amp") return out += '&', 1;
  if (ref == "quot") return out += '"', 1;
  if (ref == "apos") return out += '\'', 1;
  if (ref.size() < 2 || ref[0] != '#') return 0;
  bool hex = ref[1] == 'x';
  std::string_view digits = ref.substr(hex ? 2 : 1);
  if (digits.empty()) return 0;
  uint32_t c = 0;
  for (char d : digits) {
    int v = d >= '0' && d <= '9' ? d - '0'
            : hex && d >= 'a' && d <= 'f' ? d - 'a' + 10
            : hex && d >= 'A' && d <= 'F' ? d - 'A' + 10
                                          : -1;
    if (v < 0) return 0;
    c = c * (hex ? 16 : 10) + static_cast<uint32_t>(v);
    if (c > 0x10FFFF) return 0;
  }
  if (c == 0 || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  appendUtf8(out, c);
  return 1;
}

constexpr std::string_view kCdataOpen = "<![CDATA[";

// Whether `doc` at `at` starts with `what`, as far as it goes.
bool startsWith(std::string_view doc, size_t at, std::string_view what) {
  return doc.compare(at, what.size(), what) == 0;
}

}  // namespace

ListingScanner::ListingScanner(std::string_view document) : doc_(document) {}

ListingScanner::ListingScanner() : last_(false) {}

void ListingScanner::feed(std::string_view piece, bool last) {
  // Keep only what was not read yet; the names on the stack are copies.
  if (pos_ >= buffer_.size()) {
    base_ += buffer_.size();
    buffer_.assign(piece);
  } else {
    base_ += pos_;
    buffer_.erase(0, pos_);
    buffer_.append(piece);
  }
  pos_ = 0;
  doc_ = buffer_;
  last_ = last;
}

void ListingScanner::resume(std::vector<std::string> open, uint64_t at) {
  stack_ = std::move(open);
  rootSeen_ = true;
  base_ = at;
  buffer_.clear();
  pos_ = 0;
  doc_ = buffer_;
}

bool ListingScanner::attribute(std::string_view wanted, std::string& value) const {
  std::string_view a = attributes_;
  size_t i = 0;
  while (i < a.size()) {
    while (i < a.size() && blank(a[i])) ++i;
    size_t nameStart = i;
    while (i < a.size() && a[i] != '=' && !blank(a[i])) ++i;
    std::string_view name = a.substr(nameStart, i - nameStart);
    while (i < a.size() && blank(a[i])) ++i;
    if (i >= a.size() || a[i] != '=') return false;
    ++i;
    while (i < a.size() && blank(a[i])) ++i;
    if (i >= a.size() || (a[i] != '"' && a[i] != '\'')) return false;
    size_t close = a.find(a[i], i + 1);
    if (close == std::string_view::npos) return false;
    std::string_view raw = a.substr(i + 1, close - i - 1);
    i = close + 1;
    if (name != wanted) continue;
    value.clear();
    for (size_t k = 0; k < raw.size();) {
      if (raw[k] != '&') {
        value += raw[k++];
      } else if (reference(raw, k, value) != 1) {
        return false;
      }
    }
    return true;
  }
  return false;
}

ListingScanner::Event ListingScanner::fail(std::string why) {
  failed_ = true;
  error_ = "the listing is damaged: " + std::move(why);
  return Event::error;
}

ListingScanner::Got ListingScanner::readText(size_t& at) {
  // Text, references and CDATA up to the next tag (or the end).
  text_.clear();
  while (at < doc_.size()) {
    const char* from = doc_.data() + at;
    size_t left = doc_.size() - at;
    const char* lt = static_cast<const char*>(std::memchr(from, '<', left));
    size_t span = lt ? static_cast<size_t>(lt - from) : left;
    const char* amp = static_cast<const char*>(std::memchr(from, '&', span));
    size_t stop = at + (amp ? static_cast<size_t>(amp - from) : span);
    text_.append(doc_.data() + at, stop - at);
    at = stop;
    if (at == doc_.size()) break;
    if (doc_[at] == '&') {
      int r = reference(doc_, at, text_);
      if (r < 0 && !last_) return Got::cut;
      if (r <= 0) {
        error_ = "it holds an entity or a bad character reference";
        return Got::damage;
      }
      continue;
    }
    if (doc_.size() - at < kCdataOpen.size() && !last_ && startsWith(kCdataOpen, 0, doc_.substr(at))) {
      return Got::cut;
    }
    if (startsWith(doc_, at, kCdataOpen)) {
      size_t end = doc_.find("]]>", at + kCdataOpen.size());
      if (end == std::string_view::npos) {
        if (!last_) return Got::cut;
        error_ = "a CDATA section is not closed";
        return Got::damage;
      }
      text_.append(doc_.data() + at + kCdataOpen.size(), end - at - kCdataOpen.size());
      at = end + 3;
      continue;
    }
    return Got::it;  // a tag
  }
  return last_ ? Got::it : Got::cut;
}

ListingScanner::Got ListingScanner::startTag(size_t& at, bool& selfClosing) {
  // At "<name": the name, then attributes up to ">" or "/>".
  size_t start = at + 1;
  size_t i = start;
  while (i < doc_.size() && !blank(doc_[i]) && doc_[i] != '>' && doc_[i] != '/' && doc_[i] != '<') ++i;
  if (i >= doc_.size()) return last_ ? Got::damage : Got::cut;
  if (i == start) return Got::damage;
  name_ = doc_.substr(start, i - start);
  const size_t from = i;
  while (i < doc_.size()) {
    char c = doc_[i];
    if (c == '>') {
      selfClosing = false;
      attributes_ = doc_.substr(from, i - from);
      at = i + 1;
      return Got::it;
    }
    if (c == '/' && i + 1 < doc_.size() && doc_[i + 1] == '>') {
      selfClosing = true;
      attributes_ = doc_.substr(from, i - from);
      at = i + 2;
      return Got::it;
    }
    if (c == '"' || c == '\'') {
      size_t close = doc_.find(c, i + 1);
      if (close == std::string_view::npos) break;
      std::string_view value = doc_.substr(i + 1, close - i - 1);
      if (value.find('<') != std::string_view::npos) return Got::damage;
      i = close + 1;
      continue;
    }
    if (c == '<') return Got::damage;
    ++i;
  }
  return last_ ? Got::damage : Got::cut;
}

ListingScanner::Event ListingScanner::next() {
  if (failed_) return Event::error;
  if (pendingClose_) {
    pendingClose_ = false;
    closed_ = std::move(stack_.back());
    stack_.pop_back();
    name_ = closed_;
    return Event::close;
  }
  // On `more` nothing of the construct was taken: it is read again, whole,
  // from where it starts once the next piece is there.
  Event e = step();
  if (e == Event::more && doc_.size() - pos_ > kMaxElement) return fail("an element is too long");
  return e;
}

ListingScanner::Event ListingScanner::step() {
  for (;;) {
    // Between tags: only what the listing writer puts there (blanks) is
    // expected; other text between child elements is passed over.
    const char* ltp = pos_ < doc_.size()
                          ? static_cast<const char*>(std::memchr(doc_.data() + pos_, '<', doc_.size() - pos_))
                          : nullptr;
    size_t lt = ltp ? static_cast<size_t>(ltp - doc_.data()) : std::string_view::npos;
    if (stack_.empty()) {
      for (size_t i = pos_; i < (lt == std::string_view::npos ? doc_.size() : lt); ++i) {
        if (!blank(doc_[i])) return fail("text outside the root element");
      }
    }
    if (lt == std::string_view::npos) {
      pos_ = doc_.size();
      if (!last_) return Event::more;
      if (!stack_.empty()) return fail("it ends inside <" + stack_.back() + ">");
      if (!rootSeen_) return fail("it holds no element");
      return Event::end;
    }
    pos_ = lt;
    eventAt_ = lt;
    // Every construct below is told by its first nine bytes at most.
    if (!last_ && doc_.size() - pos_ < kCdataOpen.size()) return Event::more;
    const char second = pos_ + 1 < doc_.size() ? doc_[pos_ + 1] : '\0';
    if (second == '?' || (second == '!' && startsWith(doc_, pos_, "<!--"))) {
      bool pi = second == '?';
      size_t end = doc_.find(pi ? "?>" : "-->", pos_ + (pi ? 2 : 4));
      if (end == std::string_view::npos) {
        if (!last_) return Event::more;
        return fail("a comment or declaration is not closed");
      }
      pos_ = end + (pi ? 2 : 3);
      continue;
    }
    if (second == '!') {
      if (!startsWith(doc_, pos_, kCdataOpen)) return fail("it holds a DTD or an entity");
      size_t end = doc_.find("]]>", pos_);
      if (end == std::string_view::npos && !last_) return Event::more;
      if (end == std::string_view::npos || stack_.empty()) return fail("a stray CDATA section");
      pos_ = end + 3;
      continue;
    }
    if (second == '/') {
      const char* gtp = static_cast<const char*>(std::memchr(doc_.data() + pos_, '>', doc_.size() - pos_));
      if (!gtp) {
        if (!last_) return Event::more;
        return fail("a closing tag is not closed");
      }
      size_t gt = static_cast<size_t>(gtp - doc_.data());
      std::string_view closing = doc_.substr(pos_ + 2, gt - pos_ - 2);
      while (!closing.empty() && blank(closing.back())) closing.remove_suffix(1);
      if (stack_.empty() || closing != stack_.back()) return fail("</" + std::string(closing) + "> closes nothing open");
      pos_ = gt + 1;
      closed_ = std::move(stack_.back());
      stack_.pop_back();
      name_ = closed_;
      return Event::close;
    }
    if (stack_.empty() && rootSeen_) return fail("a second root element");
    bool selfClosing = false;
    size_t at = pos_;
    Got tag = startTag(at, selfClosing);
    if (tag == Got::cut) return Event::more;
    if (tag == Got::damage) return fail("a tag is not well formed");
    if (selfClosing) {
      rootSeen_ = true;
      pos_ = at;
      text_.clear();
      if (stack_.empty()) {  // an empty root: it opens and closes
        stack_.emplace_back(name_);
        pendingClose_ = true;
        return Event::open;
      }
      return Event::text;
    }
    // A leaf is text (or nothing) followed by its own closing tag.
    size_t after = at;
    Got text = readText(after);
    if (text == Got::cut) return Event::more;
    if (text == Got::damage) return fail(error_);
    if (!last_ && doc_.size() - after < name_.size() + 3) return Event::more;
    rootSeen_ = true;
    pos_ = at;
    const size_t n = name_.size();
    if (after + 2 + n < doc_.size() && doc_[after] == '<' && doc_[after + 1] == '/' &&
        doc_[after + 2 + n] == '>' && std::memcmp(doc_.data() + after + 2, name_.data(), n) == 0 &&
        !stack_.empty()) {
      pos_ = after + 3 + name_.size();
      return Event::text;
    }
    if (stack_.size() >= kMaxDepth) return fail("its folders nest too deep");
    stack_.emplace_back(name_);
    return Event::open;
  }
}

}  // namespace tamber::scan
