// Build step: encodes a report resource document (a stylesheet or the
// report-fields document) into the symbol text the program loads.
//
//   tamber_encode_resource IN OUT
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "app/symbol_codec.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tamber_encode_resource IN OUT\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "tamber_encode_resource: cannot read %s\n", argv[1]);
    return 1;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << tamber::app::encodeSymbols(bytes) << "\n";
  return out ? 0 : 1;
}
