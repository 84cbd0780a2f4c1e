// Owners for libxml2 resources.
#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlreader.h>
#include <libxml/xpath.h>

#include <memory>
#include <string>

namespace tamber::xml {

template <auto Free>
struct CFree {
  void operator()(auto* p) const noexcept { Free(p); }
};
template <class T, auto Free>
using CPtr = std::unique_ptr<T, CFree<Free>>;

using Doc = CPtr<xmlDoc, xmlFreeDoc>;
using XPathContext = CPtr<xmlXPathContext, xmlXPathFreeContext>;
using XPathObject = CPtr<xmlXPathObject, xmlXPathFreeObject>;
using TextReader = CPtr<xmlTextReader, xmlFreeTextReader>;

// xmlFree is a variable in libxml2, so it cannot be a template argument.
struct XmlCharFree {
  void operator()(xmlChar* p) const noexcept { xmlFree(p); }
};
using String = std::unique_ptr<xmlChar, XmlCharFree>;

inline const xmlChar* u(const char* s) { return reinterpret_cast<const xmlChar*>(s); }
inline const char* c(const xmlChar* s) { return reinterpret_cast<const char*>(s); }

// The text content of a node ("" for none).
inline std::string content(const xmlNode* n) {
  if (!n) return {};
  String s(xmlNodeGetContent(n));
  return s ? std::string(c(s.get())) : std::string();
}

// The document as UTF-8 XML text.
inline std::string serialize(xmlDoc* doc) {
  xmlChar* buf = nullptr;
  int len = 0;
  xmlDocDumpMemoryEnc(doc, &buf, &len, "UTF-8");
  std::string out(c(buf), static_cast<size_t>(len));
  xmlFree(buf);
  return out;
}

// The first element child of `parent` named `name`.
inline xmlNode* childElement(const xmlNode* parent, const char* name) {
  if (!parent) return nullptr;
  for (xmlNode* n = parent->children; n; n = n->next) {
    if (n->type == XML_ELEMENT_NODE && xmlStrcmp(n->name, u(name)) == 0) return n;
  }
  return nullptr;
}

}  // namespace tamber::xml
