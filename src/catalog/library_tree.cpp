#include "catalog/library_tree.h"

#include <cstdlib>
#include <cstring>

#include "platform/xml.h"

namespace tamber::catalog {

namespace {

// Element names are compared on their first 9 characters.
bool is(const xmlChar* name, const char* want) {
  return name && std::strncmp(xml::c(name), want, 9) == 0 && std::strlen(xml::c(name)) <= 9 &&
         std::strlen(xml::c(name)) == std::strlen(want);
}

}  // namespace

Result<std::vector<TreeNode>> buildLibraryTree(std::string_view text) {
  xml::TextReader reader(xmlReaderForMemory(text.data(), static_cast<int>(text.size()), nullptr,
                                            "UTF-8",
                                            XML_PARSE_NONET | XML_PARSE_NOERROR |
                                                XML_PARSE_NOWARNING));
  if (!reader) return Error{Errc::io, "cannot read the catalog"};
  TreeNode root;
  // The chain of open "b"/"e" nodes, with the reader depth of each.
  std::vector<std::pair<TreeNode*, int>> open{{&root, 0}};
  enum class Want { none, caption, kind } want = Want::none;
  int wantDepth = -1;
  int rc;
  while ((rc = xmlTextReaderRead(reader.get())) == 1) {
    int type = xmlTextReaderNodeType(reader.get());
    int depth = xmlTextReaderDepth(reader.get());
    if (type == XML_READER_TYPE_ELEMENT) {
      const xmlChar* name = xmlTextReaderConstName(reader.get());
      bool empty = xmlTextReaderIsEmptyElement(reader.get());
      if ((is(name, "b") || is(name, "e")) && depth >= 1) {
        TreeNode node;
        node.isCategory = is(name, "b");
        xml::String g(xmlTextReaderGetAttribute(reader.get(), xml::u("g")));
        node.number = g ? std::strtoll(xml::c(g.get()), nullptr, 10) : -1;
        // A node belongs to the innermost open node shallower than it.
        while (open.size() > 1 && open.back().second >= depth) open.pop_back();
        TreeNode* parent = open.back().first;
        parent->children.push_back(std::move(node));
        if (!empty) open.push_back({&parent->children.back(), depth});
        continue;
      }
      while (open.size() > 1 && open.back().second >= depth) open.pop_back();
      // Fields count only as direct children of the node.
      if (open.size() > 1 && open.back().second == depth - 1) {
        TreeNode* node = open.back().first;
        if ((node->isCategory && is(name, "c")) || (!node->isCategory && is(name, "h"))) {
          want = Want::caption;
          wantDepth = depth + 1;
        } else if (!node->isCategory && is(name, "p")) {
          want = Want::kind;
          wantDepth = depth + 1;
        }
      }
      continue;
    }
    if ((type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA) && want != Want::none &&
        depth == wantDepth) {
      const xmlChar* value = xmlTextReaderConstValue(reader.get());
      TreeNode* node = open.back().first;
      if (want == Want::caption) {
        node->caption += xml::c(value);
        continue;  // a caption may come in several sections
      }
      node->kind = std::atoi(xml::c(value));
      want = Want::none;
      continue;
    }
    if (type == XML_READER_TYPE_END_ELEMENT) want = Want::none;
  }
  if (rc < 0) return Error{Errc::corrupt, "the catalog is not well-formed XML"};
  return std::move(root.children);
}

}  // namespace tamber::catalog
