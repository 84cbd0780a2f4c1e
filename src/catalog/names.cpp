#include "catalog/names.h"

#include <array>

namespace tamber::catalog {

namespace {

const std::array<std::string, kNameCodeCount>& table() {
  static const auto t = [] {
    std::array<std::string, kNameCodeCount> names;
    for (int i = 0; i < 26; ++i) names[i] = std::string(1, static_cast<char>('a' + i));
    for (int i = 26; i < 35; ++i) names[i] = "a" + std::to_string(i - 25);
    for (int i = 35; i < 45; ++i) names[i] = "b" + std::to_string(i - 35);
    for (int i = 45; i < 55; ++i) names[i] = "c" + std::to_string(i - 45);
    for (int i = 55; i < 65; ++i) names[i] = "d" + std::to_string(i - 55);
    for (int i = 65; i < 72; ++i) names[i] = "e" + std::to_string(i - 65);
    return names;
  }();
  return t;
}

}  // namespace

const char* nameCode(int fieldIndex) {
  if (fieldIndex < 0 || fieldIndex >= kNameCodeCount) return "";
  return table()[fieldIndex].c_str();
}

int fieldIndexOf(const std::string& name) {
  for (int i = 0; i < kNameCodeCount; ++i) {
    if (table()[i] == name) return i;
  }
  return -1;
}

std::string joinPath(const ItemPath& path) {
  std::string out;
  for (size_t i = 0; i < path.size(); ++i) {
    if (i) out += '-';
    out += std::to_string(path[i]);
  }
  return out;
}

std::string streamName(StreamKind kind, const ItemPath& category, uint16_t number, int part) {
  static constexpr const char* kPrefix[] = {"col", "img", "thu", "arc", "nix"};
  std::string name = kPrefix[static_cast<int>(kind)] + joinPath(category);
  if (number != 0) name += "-" + std::to_string(number);
  if (kind == StreamKind::listing) name += part > 0 ? "-" + std::to_string(part) : ".xml";
  return name;
}

}  // namespace tamber::catalog
