// Opening a library of 10,000 discs in 500 categories and producing its tree
// and statistics, against the floor of reading the raw "categories" bytes.
//
//   catalog_bench [DIR]

#include <algorithm>
#include <chrono>

#include "bench_util.h"
#include <cstdio>
#include <libxml/parser.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "catalog/library.h"
#include "catalog/library_tree.h"

using namespace tamber;
using namespace tamber::catalog;
using tamber::bench::bestOf;

namespace {


void printTree(const std::vector<TreeNode>& nodes, int depth, std::string& out) {
  for (const auto& n : nodes) {
    out += std::string(depth * 2, ' ') + "#" + std::to_string(n.number) + " " + n.caption + "\n";
    printTree(n.children, depth + 1, out);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path dir = argc > 1 ? argv[1] : "/var/tmp/tamber-catalog-bench";
  std::filesystem::create_directories(dir);
  auto path = dir / "big.cds";
  {
    auto lib = Library::create(path).value();
    CatalogDocument& doc = lib->catalog();
    for (int top = 0; top < 50; ++top) {
      (void)doc.addCategory({}, "Shelf " + std::to_string(top), "");
      for (int sub = 0; sub < 9; ++sub) {
        (void)doc.addCategory({static_cast<uint16_t>(top + 1)}, "Box " + std::to_string(sub), "");
      }
    }
    for (int i = 0; i < 10000; ++i) {
      ItemPath cat{static_cast<uint16_t>(i % 50 + 1), static_cast<uint16_t>(i / 50 % 9 + 1)};
      xmlNode* e = doc.addItem(cat).value();
      doc.setField(e, kLabel, "Disc number " + std::to_string(i));
      doc.setField(e, kOriginalName, "VOLUME_" + std::to_string(i));
      doc.setField(e, kKind, std::to_string(i % 3 == 0 ? 1 : i % 19));
      doc.setField(e, kCapacity, "650");
      doc.setField(e, kTracks, std::to_string(i % 20));
      doc.setField(e, kPrice, "12.50");
      doc.setField(e, kComment, i % 7 ? "bought in Paris & Rome" : "gift");
      doc.setField(e, kLocation, "Shelf " + std::to_string(i % 50));
      doc.setField(e, kFolders, std::to_string(i % 300));
      doc.setField(e, kFiles, std::to_string(i * 7 % 5000));
      doc.setField(e, kDepth, "4");
    }
    if (Status st = lib->save(); !st) {
      std::fprintf(stderr, "catalog_bench: %s\n", st.message().c_str());
      return 1;
    }
  }
  size_t bytes = 0;
  double floor = bestOf(7, [&] {
    auto f = storage::CompoundFile::open(path, storage::OpenMode::read_only);
    bytes = f->root().openStream(kCatalogStreamName)->readAll().value().size();
  });
  std::string raw;
  {
    auto f = storage::CompoundFile::open(path, storage::OpenMode::read_only);
    raw = f->root().openStream(kCatalogStreamName)->readAll().value();
  }
  double parse = bestOf(7, [&] {
    xmlDocPtr d = xmlReadMemory(raw.data(), static_cast<int>(raw.size()), nullptr, "UTF-8", 0);
    xmlFreeDoc(d);
  });
  size_t lines = 0;
  LibraryStatistics stats;
  double full = bestOf(7, [&] {
    auto lib = Library::open(path).value();
    auto tree = buildLibraryTree(lib->catalog().currentText()).value();
    std::string out;
    printTree(tree, 0, out);
    lines = static_cast<size_t>(std::count(out.begin(), out.end(), '\n'));
    stats = lib->catalog().libraryStatistics();
  });
  std::printf("catalog of %zu bytes: %d categories, %d discs, %d folders, %lld tracks, %.2f total\n",
              bytes, stats.categories, stats.discs, stats.folders, stats.audioTracks,
              stats.totalPrice);
  std::printf("floor (open file, read the raw catalog stream): %.2f ms\n", floor * 1e3);
  std::printf("libxml2 parse of the same bytes alone:            %.2f ms\n", parse * 1e3);
  std::printf("open, parse, tree (%zu lines) and statistics:   %.2f ms  (%.1f x the floor)\n",
              lines, full * 1e3, full / floor);
  std::filesystem::remove_all(dir);
  return 0;
}
