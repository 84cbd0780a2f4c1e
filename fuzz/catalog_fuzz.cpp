// Fuzz target: catalog text from a library file and settings text from a
// settings file, both outside data. Loads, walks, edits and serialises.

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/symbol_codec.h"
#include "catalog/catalog_document.h"
#include "catalog/library_tree.h"

using namespace tamber;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  (void)catalog::buildLibraryTree(text);
  (void)app::decodeSymbols(text);
  catalog::CatalogDocument doc;
  if (!doc.loadText(text)) return 0;
  (void)doc.libraryStatistics();
  for (xmlNode* n = doc.root()->children; n; n = n->next) {
    if (catalog::CatalogDocument::isCategory(n)) {
      (void)doc.categoryStatistics(n);
      (void)doc.categorySummary(n, "discs");
      (void)doc.nextItemNumber(n);
    } else if (catalog::CatalogDocument::isItem(n)) {
      (void)doc.itemSummary(n);
      doc.setField(n, catalog::kComment, text.substr(0, 64));
    }
  }
  (void)doc.addCategory({}, text.substr(0, 16), "c");
  std::string again = doc.text();
  catalog::CatalogDocument reread;
  // What we write must always read back.
  if (!reread.loadText(again)) __builtin_trap();
  return 0;
}
