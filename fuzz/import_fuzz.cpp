// Fuzz target: another library imported into ours, then exported again as
// XML, so that its catalog, listings, thumbnails and archive descriptions
// all pass through the code that trusts nothing of them.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "catalog/library.h"
#include "exchange/exchange.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("tamber-import-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(d);
    return d;
  }();
  fs::path source = dir / "source.cds", target = dir / "target.cds", xml = dir / "out.xml";
  {
    std::ofstream out(source, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::error_code ec;
  fs::remove(target, ec);
  auto library = tamber::catalog::Library::create(target);
  if (!library) return 0;
  auto copied = tamber::exchange::importLibrary(**library, source, nullptr);
  auto& doc = (*library)->catalog();
  for (xmlNode* n = doc.root()->children; n; n = n->next) {
    if (tamber::catalog::CatalogDocument::isCategory(n)) {
      (void)tamber::exchange::exportXml(**library, n, xml);
    }
  }
  (void)copied;
  return 0;
}
