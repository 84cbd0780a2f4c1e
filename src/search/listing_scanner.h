// A fast forward-only reader of the program's own listing text (and archive
// descriptions): elements, and the decoded text of each leaf element. It
// reads the subset of XML the listing writer produces (elements, attributes,
// text, CDATA, character references and the five predefined entities,
// comments and the XML declaration); a document type, an entity declaration
// or any other entity reference is damage, never expanded. Nesting is kept on
// a stack of its own: no depth of folders recurses.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tamber::search {

class ListingScanner {
 public:
  enum class Event {
    open,   // an element starts: name()
    text,   // a leaf element's whole text: name() and text()
    close,  // an element ends: name()
    end,    // the document ended well
    error,  // damage: error() says what; no further events
  };

  explicit ListingScanner(std::string_view document);

  Event next();
  std::string_view name() const { return name_; }
  const std::string& text() const { return text_; }
  const std::string& error() const { return error_; }
  // Open elements, the root being 1.
  size_t depth() const { return stack_.size(); }

  // The deepest nesting accepted.
  static constexpr size_t kMaxDepth = 1 << 16;

 private:
  Event fail(std::string why);
  bool skipMarkup();           // "<?...?>", "<!--...-->"; false on damage
  bool readText(size_t& at);   // text and CDATA up to the next tag into text_
  bool startTag(size_t& at, bool& selfClosing);

  std::string_view doc_;
  size_t pos_ = 0;
  std::vector<std::string_view> stack_;
  std::string_view name_;
  std::string text_;
  std::string error_;
  bool pendingClose_ = false;  // a "<x/>" still owes its close event
  bool rootSeen_ = false;
  bool failed_ = false;
};

}  // namespace tamber::search
