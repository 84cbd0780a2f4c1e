#include "catalog/catalog_document.h"

#include <libxml/xmlerror.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

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

// Evaluates `expr` with `context` as the context node.
xml::XPathObject evaluate(xmlDoc* doc, const xmlNode* context, const std::string& expr) {
  xml::XPathContext ctx(xmlXPathNewContext(doc));
  if (!ctx) return nullptr;
  ctx->node = const_cast<xmlNode*>(context);
  return xml::XPathObject(xmlXPathEvalExpression(u(expr.c_str()), ctx.get()));
}

int countNodes(xmlDoc* doc, const xmlNode* context, const std::string& expr) {
  auto obj = evaluate(doc, context, expr);
  if (!obj || obj->type != XPATH_NODESET || !obj->nodesetval) return 0;
  return obj->nodesetval->nodeNr;
}

// Sums the text of every selected node; text that is not a number counts 0.
template <class T>
T sumNodes(xmlDoc* doc, const xmlNode* context, const std::string& expr) {
  auto obj = evaluate(doc, context, expr);
  T total = 0;
  if (!obj || obj->type != XPATH_NODESET || !obj->nodesetval) return total;
  for (int i = 0; i < obj->nodesetval->nodeNr; ++i) {
    std::string text = xml::content(obj->nodesetval->nodeTab[i]);
    char* end = nullptr;
    if constexpr (std::is_floating_point_v<T>) {
      double v = std::strtod(text.c_str(), &end);
      if (end != text.c_str()) total += v;
    } else {
      long long v = std::strtoll(text.c_str(), &end, 10);
      if (end != text.c_str()) total += v;
    }
  }
  return total;
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
  doc_ = std::move(doc);
  modified_ = false;
  return {};
}

Status CatalogDocument::load(storage::Storage storage, const std::string& streamName,
                             bool createIfMissing) {
  auto s = storage.openStream(streamName);
  if (!s) {
    if (s.error().code == Errc::not_found && createIfMissing) {
      doc_ = emptyDocument();
      modified_ = false;
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

std::string CatalogDocument::text() const {
  xmlChar* buf = nullptr;
  int len = 0;
  xmlDocDumpMemoryEnc(doc_.get(), &buf, &len, "UTF-8");
  std::string out(c(buf), static_cast<size_t>(len));
  xmlFree(buf);
  return out;
}

Status CatalogDocument::save(storage::CompoundFile& file, const std::string& streamName) {
  std::string data = text();
  auto s = file.root().createStream(streamName);
  if (!s) return s.error();
  if (Status st = s->write(data); !st) return st;
  if (Status st = s->commit(); !st) return st;
  s->close();
  if (Status st = file.commit(); !st) return st;
  modified_ = false;
  return {};
}

bool CatalogDocument::isCategory(const xmlNode* n) { return named(n, kB); }
bool CatalogDocument::isItem(const xmlNode* n) { return named(n, kE); }

uint16_t CatalogDocument::numberOf(const xmlNode* element) {
  if (!element || element->type != XML_ELEMENT_NODE) return 0;
  xml::String g(xmlGetProp(element, u(kG)));
  if (!g) return 0;
  long v = std::strtol(c(g.get()), nullptr, 10);
  return v < 0 || v > 65535 ? 0 : static_cast<uint16_t>(v);
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
  for (xmlNode* n = parent->children; n; n = n->next) {
    if (!named(n, isCategory ? kB : kE)) continue;
    if (field(n, isCategory ? kCategoryName : kLabel) == name) return n;
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

void CatalogDocument::replaceRoot(const xmlNode* element) {
  xmlNode* copy = xmlDocCopyNode(const_cast<xmlNode*>(element), doc_.get(), 1);
  xmlNode* old = xmlDocSetRootElement(doc_.get(), copy);
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
  auto lower = [](std::string s) {
    for (auto& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
  };
  for (xmlNode* n = parent->children; n; n = n->next) {
    if (named(n, kB) && lower(field(n, kCategoryName)) == lower(wanted)) return numberOf(n);
  }
  auto number = nextItemNumber(parent);
  if (!number) return number;
  xmlNode* b = xmlNewChild(parent, nullptr, u(kB), nullptr);
  xmlSetProp(b, u(kG), u(std::to_string(number.value()).c_str()));
  setField(b, kCategoryName, wanted);
  setField(b, kCreated, hexTime(std::time(nullptr)));
  if (!comment.empty()) setField(b, kComment, comment);
  modified_ = true;
  return number;
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

LibraryStatistics CatalogDocument::libraryStatistics() const {
  LibraryStatistics s;
  xmlDoc* d = doc_.get();
  s.categories = countNodes(d, root(), ".//b");
  s.discs = countNodes(d, root(), "//*/e[p < 13]");
  s.folders = countNodes(d, root(), "//*/e[p > 12]");
  s.audioTracks = sumNodes<long long>(d, root(), ".//e[p=\"1\"]/n") +
                  sumNodes<long long>(d, root(), ".//e[p=\"3\"]/n");
  s.totalPrice = sumNodes<double>(d, root(), ".//e/s");
  return s;
}

CategoryStatistics CatalogDocument::categoryStatistics(const xmlNode* cat) const {
  CategoryStatistics s;
  xmlDoc* d = doc_.get();
  s.discs = countNodes(d, cat, "e[p < 13]");
  s.folders = countNodes(d, cat, "e[p > 12]");
  s.audioTracks = sumNodes<long long>(d, cat, ".//e[p=\"1\"]/n") +
                  sumNodes<long long>(d, cat, ".//e[p=\"3\"]/n");
  s.totalPrice = sumNodes<double>(d, cat, ".//e/s");
  s.created = field(cat, kCreated);
  s.comment = field(cat, kComment);
  return s;
}

std::string CatalogDocument::categorySummary(const xmlNode* cat,
                                             const std::string& discsWord) const {
  std::string out = std::to_string(countNodes(doc_.get(), cat, "e[p < 13]")) + " " + discsWord;
  if (auto t = parseHexTime(field(cat, kCreated))) out += " " + displayTime(*t);
  return out;
}

std::string CatalogDocument::itemSummary(const xmlNode* it) const {
  std::string out = field(it, kCapacity) + "M  " + field(it, kTracks) + " track(s)";
  out += " \"" + field(it, kOriginalName) + "\"";
  return out;
}

}  // namespace tamber::catalog
