#include "catalog/catalog_document.h"

#include <algorithm>
#include <cerrno>
#include <map>

#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstdlib>
#include <cctype>
#include <cmath>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "platform/hex_time.h"
#include "platform/text.h"

namespace tamber::catalog {

using xml::c;
using xml::u;

namespace {

const char* kB = "b";
const char* kE = "e";
const char* kG = "g";

xml::Doc emptyDocument() {
  xml::Doc doc(xmlNewDoc(u("1.0")));
  xmlNode* root = xmlNewDocNode(doc.get(), nullptr, u(nameCode(kRootElement)), nullptr);
  xmlDocSetRootElement(doc.get(), root);
  return doc;
}

bool named(const xmlNode* n, const char* name) {
  return n && n->type == XML_ELEMENT_NODE && xmlStrcmp(n->name, u(name)) == 0;
}

// The text of an attribute or element held in one text node, without a
// copy; null when it is held otherwise (then the caller copies it out).
const xmlChar* singleText(const xmlNode* children) {
  return children && children->type == XML_TEXT_NODE && !children->next && children->content
             ? children->content
             : nullptr;
}

// The text of child element `name`, without a copy when it is one text
// node; `copy` holds it otherwise.
std::string_view childText(const xmlNode* element, const char* name, std::string& copy) {
  const xmlNode* child = xml::childElement(element, name);
  if (!child) return {};
  if (const xmlChar* t = singleText(child->children)) return c(t);
  copy = xml::content(child);
  return copy;
}

std::string parseError(const char* what) {
  const xmlError* e = xmlGetLastError();
  if (!e || !e->message) return std::string(what) + ": not well-formed XML";
  std::string msg = e->message;
  while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' ')) msg.pop_back();
  return std::string(what) + ": line " + std::to_string(e->line) + ", column " +
         std::to_string(e->int2) + ": " + msg + " (error " + std::to_string(e->code) + ")";
}

}  // namespace

void setFieldText(xmlNode* node, std::string_view value) {
  std::string text = xmlSafe(value);
  while (node->children) {
    xmlNode* child = node->children;
    xmlUnlinkNode(child);
    xmlFreeNode(child);
  }
  if (text.find_first_of("<>&") == std::string::npos) {
    xmlAddChild(node, xmlNewDocText(node->doc, u(text.c_str())));
    return;
  }
  // A CDATA section cannot hold "]]>": split it between "]]" and ">" into
  // consecutive sections, which read back as the one text.
  size_t start = 0;
  while (true) {
    size_t cut = text.find("]]>", start);
    size_t end = cut == std::string::npos ? text.size() : cut + 2;
    xmlAddChild(node, xmlNewCDataBlock(node->doc, u(text.c_str() + start),
                                       static_cast<int>(end - start)));
    if (cut == std::string::npos) break;
    start = end;
  }
}

namespace {

// The bytes that entity references below `node` stand for once expanded,
// counted per entity once (memoised), stopping as soon as `limit` is passed.
struct EntitySizer {
  uint64_t limit;
  std::map<const xmlNode*, uint64_t> sizes;

  uint64_t entity(const xmlNode* ref, int depth) {
    auto* ent = reinterpret_cast<const xmlEntity*>(ref->children);
    if (!ent || ent->type != XML_ENTITY_DECL) ent = xmlGetDocEntity(ref->doc, ref->name);
    if (!ent) return 0;
    auto key = reinterpret_cast<const xmlNode*>(ent);
    if (auto it = sizes.find(key); it != sizes.end()) return it->second;
    if (depth > 40) return limit + 1;  // a loop, or nesting no real file needs
    sizes[key] = limit + 1;             // in progress: a loop counts as too much
    uint64_t n = ent->content ? static_cast<uint64_t>(xmlStrlen(ent->content)) : 0;
    n = std::max(n, children(reinterpret_cast<const xmlNode*>(ent), depth + 1, true));
    sizes[key] = n;
    return n;
  }

  // `inEntity`: the text below counts (it is copied by each reference).
  uint64_t children(const xmlNode* parent, int depth, bool inEntity) {
    uint64_t total = 0;
    for (const xmlNode* n = parent->children; n && total <= limit; n = n->next) {
      if (n->type == XML_ENTITY_REF_NODE) {
        total += entity(n, depth);
      } else if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
        if (inEntity && n->content) total += static_cast<uint64_t>(xmlStrlen(n->content));
      } else if (n->type == XML_ELEMENT_NODE) {
        total += children(n, depth, inEntity);
      }
    }
    return total;
  }
};

}  // namespace

uint64_t entityExpansion(const xmlNode* root, uint64_t limit) {
  if (!root || !root->doc || !root->doc->intSubset) return 0;
  EntitySizer sizer{limit, {}};
  return sizer.children(root, 0, false);
}

CatalogDocument::CatalogDocument() : doc_(emptyDocument()) {}

Status CatalogDocument::loadText(std::string_view text) {
  xmlResetLastError();
  // No network, no external entities: the catalog is data from a file.
  xml::Doc doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, "UTF-8",
                             XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!doc) return Error{Errc::corrupt, parseError("the catalog cannot be read")};
  if (!xmlDocGetRootElement(doc.get())) {
    return Error{Errc::corrupt, "the catalog cannot be read: no root element"};
  }
  // A DTD stays as it stands, but its entities may not make the text grow
  // past what the parser itself allows for an expansion.
  uint64_t limit = std::max<uint64_t>(1u << 20, 5 * static_cast<uint64_t>(text.size()));
  if (entityExpansion(xmlDocGetRootElement(doc.get()), limit) > limit) {
    return Error{Errc::corrupt,
                 "the catalog cannot be read: its entity declarations expand it past " +
                     std::to_string(limit) + " bytes"};
  }
  doc_ = std::move(doc);
  modified_ = false;
  loadedText_ = std::string(text);
  return {};
}

Status CatalogDocument::load(storage::Storage storage, const std::string& streamName,
                             bool createIfMissing) {
  auto s = storage.openStream(streamName);
  if (!s) {
    if (s.error().code == Errc::not_found && createIfMissing) {
      doc_ = emptyDocument();
      modified_ = false;
      loadedText_.clear();
      return {};
    }
    return s.error();
  }
  auto text = s->readAll();
  if (!text) return text.error();
  if (text->size() > static_cast<size_t>(INT32_MAX)) {
    return Error{Errc::too_large, "the catalog is too large"};
  }
  return loadText(text.value());
}

std::string CatalogDocument::text() const { return xml::serialize(doc_.get()); }

Status CatalogDocument::save(storage::CompoundFile& file, const std::string& streamName) {
  std::string data = text();
  auto s = file.root().createStream(streamName);
  if (!s) return s.error();
  if (Status st = s->write(data); !st) return st;
  if (Status st = s->commit(); !st) return st;
  s->close();
  if (Status st = file.commit(); !st) return st;
  modified_ = false;
  loadedText_ = std::move(data);
  return {};
}

std::string CatalogDocument::namePath(const xmlNode* element) const {
  std::string out;
  for (const xmlNode* n = element; n && n != root(); n = n->parent) {
    std::string name = field(n, isItem(n) ? kLabel : kCategoryName);
    out = out.empty() ? name : name + "/" + out;
  }
  return out;
}

bool CatalogDocument::isCategory(const xmlNode* n) { return named(n, kB); }
bool CatalogDocument::isItem(const xmlNode* n) { return named(n, kE); }

uint16_t CatalogDocument::numberOf(const xmlNode* element) {
  if (!element || element->type != XML_ELEMENT_NODE) return 0;
  // Read in place: categories of tens of thousands of entries ask this of
  // every sibling.
  const xmlAttr* a = xmlHasProp(element, u(kG));
  if (!a) return 0;
  xml::String copy;
  const xmlChar* t = singleText(a->children);
  if (!t) {
    copy.reset(xmlGetProp(element, u(kG)));
    if (!copy) return 0;
    t = copy.get();
  }
  // As strtol reads it (blanks, a sign, digits), anything past 65535 or
  // below 0 being no number.
  const char* p = c(t);
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  unsigned long v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + static_cast<unsigned long>(*p - '0');
    if (v > 65535) return 0;
  }
  return negative && v != 0 ? 0 : static_cast<uint16_t>(v);
}

long long CatalogDocument::rawNumber(const xmlNode* element) {
  if (!element || element->type != XML_ELEMENT_NODE) return -1;
  xml::String g(xmlGetProp(element, u(kG)));
  if (!g) return -1;
  const char* text = c(g.get());
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || errno == ERANGE || v < 0) return -1;
  return v;
}

bool CatalogDocument::hasOwnNumber(const xmlNode* element) const {
  for (const xmlNode* n = element; n && n != root(); n = n->parent) {
    long long number = rawNumber(n);
    if (number < 1 || number > 65535) return false;
    if (numberCounts_) {
      auto [at, made] = numberCounts_->try_emplace(n->parent);
      if (made) {
        for (const xmlNode* s = n->parent ? n->parent->children : nullptr; s; s = s->next) {
          if (named(s, kB) || named(s, kE)) ++at->second[rawNumber(s)];
        }
      }
      if (at->second[number] > 1) return false;
      continue;
    }
    for (const xmlNode* s = n->parent ? n->parent->children : nullptr; s; s = s->next) {
      if (s != n && (named(s, kB) || named(s, kE)) && rawNumber(s) == number) return false;
    }
  }
  return true;
}

CatalogDocument::NumberCounts::NumberCounts(const CatalogDocument& doc) : doc_(doc), outer_(!doc.numberCounts_) {
  if (outer_) doc_.numberCounts_ = std::make_unique<std::unordered_map<const xmlNode*, std::unordered_map<long long, int>>>();
}

CatalogDocument::NumberCounts::~NumberCounts() {
  if (outer_) doc_.numberCounts_.reset();
}

xmlNode* CatalogDocument::childByNumber(xmlNode* parent, uint16_t number) const {
  if (!parent) return nullptr;
  for (xmlNode* n = parent->children; n; n = n->next) {
    if ((named(n, kB) || named(n, kE)) && numberOf(n) == number) return n;
  }
  return nullptr;
}

xmlNode* CatalogDocument::category(const ItemPath& path) const {
  xmlNode* node = root();
  for (uint16_t number : path) {
    xmlNode* next = childByNumber(node, number);
    if (!named(next, kB)) return nullptr;
    node = next;
  }
  return node;
}

xmlNode* CatalogDocument::item(const ItemPath& categoryPath, uint16_t number) const {
  xmlNode* n = childByNumber(category(categoryPath), number);
  return named(n, kE) ? n : nullptr;
}

xmlNode* CatalogDocument::findByName(xmlNode* parent, std::string_view name,
                                     bool isCategory) const {
  if (!parent) return nullptr;
  std::string copy;
  const char* code = nameCode(isCategory ? kCategoryName : kLabel);
  for (xmlNode* n = parent->children; n; n = n->next) {
    if (!named(n, isCategory ? kB : kE)) continue;
    if (childText(n, code, copy) == name) return n;
  }
  return nullptr;
}

std::vector<uint16_t> CatalogDocument::itemNumbers(const ItemPath& path) const {
  std::vector<uint16_t> out;
  xmlNode* cat = category(path);
  if (!cat) return out;
  for (xmlNode* n = cat->children; n; n = n->next) {
    if (named(n, kE)) out.push_back(numberOf(n));
  }
  return out;
}

ItemPath CatalogDocument::parentPath(const xmlNode* element) const {
  ItemPath path;
  for (const xmlNode* p = element ? element->parent : nullptr; p && p != root(); p = p->parent) {
    path.insert(path.begin(), numberOf(p));
  }
  return path;
}

int CatalogDocument::itemKind(const xmlNode* itemNode) const {
  std::string p = field(itemNode, kKind);
  return p.empty() ? -1 : std::atoi(p.c_str());
}

Result<uint16_t> CatalogDocument::nextItemNumber(const xmlNode* parent) const {
  unsigned greatest = 0;
  for (xmlNode* n = parent ? parent->children : nullptr; n; n = n->next) {
    if (named(n, kB) || named(n, kE)) greatest = std::max<unsigned>(greatest, numberOf(n));
  }
  if (greatest >= 65535) {
    return Error{Errc::too_large,
                 "item number 65535 is taken in this category: no further item can be added "
                 "to it (move items to a new category)"};
  }
  return static_cast<uint16_t>(greatest + 1);
}

std::string CatalogDocument::field(const xmlNode* element, int fieldIndex,
                                   std::string_view prefix) const {
  const xmlNode* at = element;
  if (!prefix.empty()) at = xml::childElement(at, std::string(prefix).c_str());
  return xml::content(xml::childElement(at, nameCode(fieldIndex)));
}

bool CatalogDocument::setField(xmlNode* element, int fieldIndex, std::string_view value,
                               std::string_view prefix) {
  if (!element || element->type != XML_ELEMENT_NODE) return false;
  xmlNode* at = element;
  if (!prefix.empty()) {
    std::string p(prefix);
    at = xml::childElement(element, p.c_str());
    if (!at) at = xmlNewChild(element, nullptr, u(p.c_str()), nullptr);
  }
  xmlNode* node = xml::childElement(at, nameCode(fieldIndex));
  if (!node) node = xmlNewChild(at, nullptr, u(nameCode(fieldIndex)), nullptr);
  if (!node) return false;
  setFieldText(node, value);
  modified_ = true;
  return true;
}

namespace {
void requireElement(const xmlNode* node) {
  if (!node || node->type != XML_ELEMENT_NODE) throw std::logic_error("node isn't a element");
}
}  // namespace

std::string CatalogDocument::attribute(const xmlNode* node, const char* name) {
  requireElement(node);
  xml::String v(xmlGetProp(node, u(name)));
  return v ? std::string(c(v.get())) : std::string();
}

void CatalogDocument::setAttribute(xmlNode* node, const char* name, const std::string& value) {
  requireElement(node);
  xmlSetProp(node, u(name), u(xmlSafe(value).c_str()));
}

bool CatalogDocument::rename(xmlNode* element, std::string_view text) {
  if (isCategory(element)) {
    if (categoryNamed(element->parent, xmlSafe(text), element)) return false;
    return setField(element, kCategoryName, text);
  }
  if (isItem(element)) return setField(element, kLabel, text);
  return false;
}

void CatalogDocument::replaceRoot(const xmlNode* element) {
  xmlNode* copy = xmlDocCopyNode(const_cast<xmlNode*>(element), doc_.get(), 1);
  xmlNode* old = xmlDocSetRootElement(doc_.get(), copy);
  loadedText_.clear();
  if (old) xmlFreeNode(old);
  modified_ = true;
}

Result<uint16_t> CatalogDocument::addCategory(const ItemPath& parentPath, std::string_view name,
                                              std::string_view comment) {
  xmlNode* parent = category(parentPath);
  if (!parent) return Error{Errc::not_found, "the parent category does not exist"};
  std::string wanted = xmlSafe(name);
  if (wanted.empty()) return Error{Errc::invalid_argument, "a category needs a name"};
  // Names are unique among siblings without regard to letter case: an
  // existing one is returned unchanged.
  if (xmlNode* n = categoryNamed(parent, wanted)) return numberOf(n);
  auto b = appendCategory(parent, wanted, comment);
  if (!b) return b.error();
  return numberOf(*b);
}

xmlNode* CatalogDocument::categoryNamed(xmlNode* parent, std::string_view name, const xmlNode* except) const {
  if (!parent) return nullptr;
  std::string wanted = foldCase(name), copy;
  for (xmlNode* n = parent->children; n; n = n->next) {
    if (n != except && named(n, kB) && foldCase(childText(n, nameCode(kCategoryName), copy)) == wanted) return n;
  }
  return nullptr;
}

Result<xmlNode*> CatalogDocument::appendCategory(xmlNode* parent, std::string_view name, std::string_view comment,
                                                 uint16_t given) {
  Result<uint16_t> number = given;
  if (given == 0) number = nextItemNumber(parent);
  if (!number) return number.error();
  xmlNode* b = xmlNewChild(parent, nullptr, u(kB), nullptr);
  xmlSetProp(b, u(kG), u(std::to_string(number.value()).c_str()));
  setField(b, kCategoryName, name);
  setField(b, kCreated, hexTime(std::time(nullptr)));
  if (!comment.empty()) setField(b, kComment, comment);
  modified_ = true;
  return b;
}

Result<xmlNode*> CatalogDocument::addItem(const ItemPath& categoryPath) {
  xmlNode* parent = category(categoryPath);
  if (!parent || parent == root()) {
    return Error{Errc::not_found, "discs and folders are filed in a category"};
  }
  auto number = nextItemNumber(parent);
  if (!number) return number.error();
  xmlNode* e = xmlNewChild(parent, nullptr, u(kE), nullptr);
  xmlSetProp(e, u(kG), u(std::to_string(number.value()).c_str()));
  modified_ = true;
  return e;
}

namespace {

// The number an XPath comparison sees in a text: optional white space, an
// optional "-", digits with an optional fraction; anything else is NaN.
double xpathNumber(const std::string& text) {
  size_t b = text.find_first_not_of(" \t\r\n");
  size_t e = text.find_last_not_of(" \t\r\n");
  if (b == std::string::npos) return std::nan("");
  std::string t = text.substr(b, e - b + 1);
  size_t i = t[0] == '-' ? 1 : 0;
  bool digits = false;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) i++, digits = true;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) i++, digits = true;
  }
  if (!digits || i != t.size()) return std::nan("");
  return std::strtod(t.c_str(), nullptr);
}

// Everything the statistics need from the discs and folders below (and, for
// `direct`, at) one node, in a single walk. The rules are those of the XPath
// expressions the figures are defined by: an item counts as a disc when any
// "p" child is below 13 (e[p < 13]), as a folder when any is above 12; its
// "n" children count as audio tracks once for a "p" of "1" and once for a
// "p" of "3"; every "s" child of every item adds its price; text that is not
// a number adds 0.
struct ItemTotals {
  int discs = 0, folders = 0;
  long long tracks = 0;
  double price = 0;
};

void addItemTotals(const xmlNode* e, ItemTotals& t, bool countKinds) {
  bool disc = false, folder = false, audioCd = false, cdExtra = false;
  long long tracks = 0;
  for (const xmlNode* f = e->children; f; f = f->next) {
    if (f->type != XML_ELEMENT_NODE || f->name[0] == 0 || f->name[1] != 0) continue;
    switch (f->name[0]) {
      case 'p': {
        std::string text = xml::content(f);
        double v = xpathNumber(text);
        disc |= v < 13;
        folder |= v > 12;
        audioCd |= text == "1";
        cdExtra |= text == "3";
        break;
      }
      case 'n': {
        std::string text = xml::content(f);
        char* end = nullptr;
        long long v = std::strtoll(text.c_str(), &end, 10);
        if (end != text.c_str()) tracks += v;
        break;
      }
      case 's': {
        std::string text = xml::content(f);
        char* end = nullptr;
        double v = std::strtod(text.c_str(), &end);
        if (end != text.c_str()) t.price += v;
        break;
      }
      default:
        break;
    }
  }
  t.tracks += tracks * (int{audioCd} + int{cdExtra});
  if (countKinds) {
    t.discs += disc;
    t.folders += folder;
  }
}

// Every "b" and "e" below `node`, wherever the document puts them.
void walkItems(const xmlNode* node, ItemTotals& t, int& categories) {
  for (const xmlNode* n = node->children; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    if (named(n, kE)) addItemTotals(n, t, true);
    if (named(n, kB)) ++categories;
    walkItems(n, t, categories);
  }
}

}  // namespace

LibraryStatistics CatalogDocument::libraryStatistics() const {
  LibraryStatistics s;
  ItemTotals t;
  walkItems(root(), t, s.categories);
  s.discs = t.discs;
  s.folders = t.folders;
  s.audioTracks = t.tracks;
  s.totalPrice = t.price;
  return s;
}

CategoryStatistics CatalogDocument::categoryStatistics(const xmlNode* cat) const {
  CategoryStatistics s;
  ItemTotals below;
  int categories = 0;
  walkItems(cat, below, categories);
  s.audioTracks = below.tracks;
  s.totalPrice = below.price;
  ItemTotals direct;
  for (const xmlNode* n = cat->children; n; n = n->next) {
    if (named(n, kE)) addItemTotals(n, direct, true);
  }
  s.discs = direct.discs;
  s.folders = direct.folders;
  s.created = field(cat, kCreated);
  s.comment = field(cat, kComment);
  return s;
}

std::string CatalogDocument::categorySummary(const xmlNode* cat,
                                             const std::string& discsWord) const {
  std::string out = std::to_string(categoryStatistics(cat).discs) + " " + discsWord;
  if (auto t = parseHexTime(field(cat, kCreated))) out += " " + displayTime(*t);
  return out;
}

std::string CatalogDocument::itemSummary(const xmlNode* it) const {
  std::string out = field(it, kCapacity) + "M  " + field(it, kTracks) + " track(s)";
  out += " \"" + field(it, kOriginalName) + "\"";
  return out;
}

}  // namespace tamber::catalog
