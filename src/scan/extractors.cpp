#include "scan/extractors.h"

#include <cstdio>

#include "scan/module_loader.h"

namespace tamber::scan {

namespace {

using Entry = Extractors* (*)();

Entry load() {
  std::string why;
  auto entry = reinterpret_cast<Entry>(moduleEntry("libtamberextract.so", TAMBER_EXTRACT_MODULE_INSTALLED,
                                                   TAMBER_EXTRACT_MODULE_BUILT, "tamber_new_extractors", why));
  if (entry) {
    std::unique_ptr<Extractors> probe(entry());
    if (probe && probe->version() == kExtractorsVersion) return entry;
    why = "libtamberextract.so belongs to another build";
  }
  std::fprintf(stderr, "tamber: warning: no tags, documents or archives can be read: %s\n", why.c_str());
  return nullptr;
}

}  // namespace

std::unique_ptr<Extractors> newExtractors() {
  static const Entry entry = load();
  return std::unique_ptr<Extractors>(entry ? entry() : nullptr);
}

}  // namespace tamber::scan
