// The catalog: the XML document of the "categories" stream.
//
//   <a>                                 root
//     <b g="1">                         category number 1
//       <c>Music</c><d>65F0A1B2</d>     name, creation HexTime
//       <f>comment</f>                  only when not empty
//       <b g="2">...</b>                sub-categories and
//       <e g="3"><h>label</h>...</e>    discs and folders, in the order added
//
// A disc or folder holds one element per field, named by its FieldIndex; an
// absent field reads as empty. Item numbers are unique among the "b" and "e"
// children of one parent, 16-bit, and never reused while a greater exists.
#pragma once

#include <libxml/tree.h>

#include <optional>
#include <memory>
#include <string>
#include <unordered_map>
#include <string_view>
#include <vector>

#include "catalog/names.h"
#include "platform/result.h"
#include "platform/xml.h"
#include "storage/compound_file.h"

namespace tamber::catalog {

struct LibraryStatistics {
  int categories = 0;
  int discs = 0;
  int folders = 0;
  long long audioTracks = 0;
  double totalPrice = 0;
};

struct CategoryStatistics {
  int discs = 0;     // directly in the category
  int folders = 0;   // directly in the category
  long long audioTracks = 0;  // below it, sub-categories included
  double totalPrice = 0;      // below it
  std::string created;        // HexTime
  std::string comment;
};

class CatalogDocument {
 public:
  // A document holding the single empty root element "a".
  CatalogDocument();

  bool isOpen() const { return doc_ != nullptr; }
  xmlNode* root() const { return doc_ ? xmlDocGetRootElement(doc_.get()) : nullptr; }

  // Loads the named stream; a missing stream gives an empty catalog when
  // createIfMissing is set (the stream itself is written by the next save).
  Status load(storage::Storage storage, const std::string& streamName, bool createIfMissing);
  Status loadText(std::string_view xml);
  // The catalog text: as loaded or last saved while nothing changed since,
  // else serialised afresh.
  std::string currentText() const { return modified_ || loadedText_.empty() ? text() : loadedText_; }
  // Replaces the named stream with the document's text and commits the file.
  Status save(storage::CompoundFile& file, const std::string& streamName);
  std::string text() const;

  // Lookups. A category path selects a "b" (the root for an empty path).
  xmlNode* category(const ItemPath& path) const;
  xmlNode* item(const ItemPath& category, uint16_t number) const;
  xmlNode* childByNumber(xmlNode* parent, uint16_t number) const;  // "b" or "e"
  xmlNode* findByName(xmlNode* parent, std::string_view name, bool isCategory) const;
  std::vector<uint16_t> itemNumbers(const ItemPath& category) const;
  // The names from the top-level category down to the element, joined by
  // "/" ("Music/Rock/Abbey Road"): how messages and paths name it.
  std::string namePath(const xmlNode* element) const;
  // The path of the element's parent category (the element's own number not included).
  ItemPath parentPath(const xmlNode* element) const;
  static uint16_t numberOf(const xmlNode* element);
  // The number as stored ("g"), -1 when absent or not a number; stored files
  // can hold 0, numbers past 65535 and numbers given twice.
  static long long rawNumber(const xmlNode* element);
  // The element and every category above it have a number of 1 to 65535 that
  // no sibling shares: only then do its streams' names belong to it alone.
  bool hasOwnNumber(const xmlNode* element) const;
  // While one lives, hasOwnNumber counts each category's numbers once
  // instead of looking through the siblings at every call (an export of
  // 20,000 items in one category asked it 20,000 times): for passes that
  // read the catalog and do not change it.
  class NumberCounts {
   public:
    explicit NumberCounts(const CatalogDocument& doc);
    ~NumberCounts();
    NumberCounts(const NumberCounts&) = delete;
    NumberCounts& operator=(const NumberCounts&) = delete;

   private:
    const CatalogDocument& doc_;
    bool outer_;
  };
  static bool isCategory(const xmlNode* n);
  static bool isItem(const xmlNode* n);
  int itemKind(const xmlNode* item) const;

  // 1 + the greatest number among the parent's "b" and "e" children; an
  // error when that would pass 65535.
  Result<uint16_t> nextItemNumber(const xmlNode* parent) const;

  std::string field(const xmlNode* element, int fieldIndex, std::string_view prefix = {}) const;
  // Stores the value as text, or as CDATA when it holds "<", ">" or "&".
  // Characters XML does not allow are replaced by "."; invalid UTF-8 is read
  // as Windows-1252.
  bool setField(xmlNode* element, int fieldIndex, std::string_view value,
                std::string_view prefix = {});

  // Attributes of element nodes; any other node raises the internal error
  // "node isn't a element" (std::logic_error).
  static std::string attribute(const xmlNode* node, const char* name);
  static void setAttribute(xmlNode* node, const char* name, const std::string& value);

  // Sets the name of a category ("c") or the label of a disc or folder ("h");
  // false when that cannot be, also when another category beside it has
  // that name (letter case aside).
  bool rename(xmlNode* element, std::string_view text);
  // The category below `parent` named `name` without regard to letter case
  // (Unicode's), other than `except`; null when there is none.
  xmlNode* categoryNamed(xmlNode* parent, std::string_view name, const xmlNode* except = nullptr) const;

  // Deep-copies `element` and makes the copy the document element.
  void replaceRoot(const xmlNode* element);

  // Edits that touch only the document.
  Result<uint16_t> addCategory(const ItemPath& parent, std::string_view name,
                               std::string_view comment);
  // Adds a category as the last child of `parent` without looking for one of
  // that name: for a caller that keeps its own index of the names (an
  // import of many categories). `name` must be XML-safe and not empty;
  // `number`, when given, one not taken in `parent`.
  Result<xmlNode*> appendCategory(xmlNode* parent, std::string_view name, std::string_view comment,
                                  uint16_t number = 0);
  // Adds a disc or folder element with its number (fields are set after).
  Result<xmlNode*> addItem(const ItemPath& category);

  LibraryStatistics libraryStatistics() const;
  CategoryStatistics categoryStatistics(const xmlNode* category) const;

  // Texts for list views: "12 discs  2024-03-05 14:30" for a category (the
  // word from the language resources), "650M  12 track(s) \"LABEL\"" for an item.
  std::string categorySummary(const xmlNode* category, const std::string& discsWord) const;
  std::string itemSummary(const xmlNode* item) const;

  bool modified() const { return modified_; }
  void setModified(bool m = true) { modified_ = m; }

 private:
  xml::Doc doc_;
  bool modified_ = false;
  // Per category (by element): how many siblings bear each number; kept
  // while a NumberCounts lives.
  mutable std::unique_ptr<std::unordered_map<const xmlNode*, std::unordered_map<long long, int>>> numberCounts_;
  std::string loadedText_;
};

// The bytes the entity references below `root` stand for once expanded
// (each nested reference counted as often as it is copied); any value past
// `limit` means "too much". 0 for a document without a DTD.
uint64_t entityExpansion(const xmlNode* root, uint64_t limit);

// Sets a node's text by the field text rule (see setField).
void setFieldText(xmlNode* node, std::string_view value);

}  // namespace tamber::catalog
