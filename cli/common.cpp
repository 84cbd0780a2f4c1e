#include "common.h"

#include "platform/text.h"

namespace tamber::cli {

Result<Target> resolve(CatalogDocument& doc, const std::string& text) {
  Target t;
  xmlNode* node = doc.root();
  for (std::string_view piece : splitNonEmpty(text, '/')) {
    std::string step(piece);
    if (t.isItem()) return Error{Errc::not_found, text + ": a disc or folder holds no items"};
    xmlNode* next = nullptr;
    if (step.size() > 1 && step[0] == '#') {
      char* end = nullptr;
      long n = std::strtol(step.c_str() + 1, &end, 10);
      if (*end == '\0' && n > 0 && n <= 65535) next = doc.childByNumber(node, static_cast<uint16_t>(n));
    } else {
      next = doc.findByName(node, step, true);
      if (!next) next = doc.findByName(node, step, false);
    }
    if (!next) return Error{Errc::not_found, text + ": no category, disc or folder \"" + step + "\""};
    if (CatalogDocument::isItem(next)) {
      t.number = CatalogDocument::numberOf(next);
    } else {
      t.category.push_back(CatalogDocument::numberOf(next));
    }
    node = next;
  }
  t.node = node;
  return t;
}

Result<ItemPath> makeCategoryPath(CatalogDocument& doc, const std::string& text,
                                  const std::string& comment) {
  auto steps = splitNonEmpty(text, '/');
  if (steps.empty()) return Error{Errc::invalid_argument, "a category name is needed"};
  ItemPath path;
  for (size_t i = 0; i < steps.size(); ++i) {
    auto r = doc.addCategory(path, steps[i], i + 1 == steps.size() ? comment : "");
    if (!r) return r.error();
    path.push_back(r.value());
  }
  return path;
}

}  // namespace tamber::cli
