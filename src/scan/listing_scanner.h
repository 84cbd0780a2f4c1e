// A fast forward-only reader of the program's own listing text (and archive
// descriptions): elements, and the decoded text of each leaf element. It
// reads the subset of XML the listing writer produces (elements, attributes,
// text, CDATA, character references and the five predefined entities,
// comments and the XML declaration); a document type, an entity declaration
// or any other entity reference is damage, never expanded. Nesting is kept on
// a stack of its own: no depth of folders recurses.
//
// The text is given whole or fed in pieces: fed, next() answers `more` when
// it needs the next piece, and only the unread rest of the last piece is
// kept, so memory follows the piece size, not the listing's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tamber::scan {

class ListingScanner {
 public:
  enum class Event {
    open,   // an element starts: name()
    text,   // a leaf element's whole text: name() and text()
    close,  // an element ends: name()
    end,    // the document ended well
    error,  // damage: error() says what; no further events
    more,   // fed: the next piece is needed (feed, then next again)
  };

  // The whole document.
  explicit ListingScanner(std::string_view document);
  // A document fed in pieces.
  ListingScanner();
  // The next piece; `last` when the document ends with it.
  void feed(std::string_view piece, bool last);

  Event next();
  std::string_view name() const { return name_; }
  // An attribute of the element just opened (or of an empty one), decoded;
  // false when it has none of that name or its value is damaged.
  bool attribute(std::string_view name, std::string& value) const;
  const std::string& text() const { return text_; }
  const std::string& error() const { return error_; }
  // Open elements, the root being 1.
  size_t depth() const { return stack_.size(); }
  // The names of the open elements, the root first.
  const std::vector<std::string>& openElements() const { return stack_; }
  // Where the construct of the last event starts in the whole document.
  uint64_t eventStart() const { return base_ + eventAt_; }
  // Starts a fed document in its middle, between elements, with `open`
  // open (as openElements() told when it was read whole); offsets count
  // from `at`.
  void resume(std::vector<std::string> open, uint64_t at);

  // The deepest nesting accepted.
  static constexpr size_t kMaxDepth = 1 << 16;
  // The longest element (tag and text) a fed document may hold.
  static constexpr size_t kMaxElement = size_t{64} << 20;

 private:
  // What reading a construct found: it, damage, or the end of a piece
  // that is not the last.
  enum class Got { it, damage, cut };
  Event fail(std::string why);
  Got readText(size_t& at);   // text and CDATA up to the next tag into text_
  Got startTag(size_t& at, bool& selfClosing);
  Event step();

  std::string buffer_;        // fed: the unread rest and the new piece
  std::string_view doc_;
  size_t pos_ = 0;
  uint64_t base_ = 0;     // fed: where buffer_ starts in the document
  size_t eventAt_ = 0;    // where the last construct started in doc_
  bool last_ = true;
  std::vector<std::string> stack_;
  std::string closed_;        // the name of the element that just closed
  std::string_view name_;
  std::string_view attributes_;  // the raw text after the name, until ">" or "/>"
  std::string text_;
  std::string error_;
  bool pendingClose_ = false;  // a "<x/>" still owes its close event
  bool rootSeen_ = false;
  bool failed_ = false;
};

}  // namespace tamber::scan
