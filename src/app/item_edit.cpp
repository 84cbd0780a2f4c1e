#include "app/item_edit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "catalog/catalog_document.h"

namespace tamber::app {

namespace {

std::string filled(const App& app, int id, const std::string& value) {
  std::string t = app.text(id);
  if (auto at = t.find("%s"); at != std::string::npos) t.replace(at, 2, value);
  return t;
}

}  // namespace

const std::map<std::string, int>& editableItemFields() {
  static const std::map<std::string, int> m{
      {"comment", catalog::kComment}, {"location", catalog::kLocation},
      {"price", catalog::kPrice},     {"artist", catalog::kArtist},
      {"album", catalog::kAlbum},     {"genre", catalog::kGenre},
      {"year", catalog::kYear},       {"catalog", catalog::kCatalogNumber}};
  return m;
}

bool audioOnlyField(int field) {
  return field != catalog::kComment && field != catalog::kLocation && field != catalog::kPrice;
}

std::string formatPrice(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

std::optional<double> parsePrice(const std::string& text) {
  std::string s = text;
  std::replace(s.begin(), s.end(), ',', '.');
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (s.empty() || *end != '\0' || !std::isfinite(v) || v < 0) return std::nullopt;
  return v;
}

Result<std::vector<std::pair<int, std::string>>> checkItemEdits(
    const App& app, const catalog::CatalogDocument& doc, const xmlNode* item,
    const std::vector<std::pair<std::string, std::string>>& edits) {
  int kind = doc.itemKind(item);
  bool audio = kind == catalog::kKindAudioCd || kind == catalog::kKindCdExtra;
  std::vector<std::pair<int, std::string>> changes;
  for (const auto& [name, given] : edits) {
    auto it = editableItemFields().find(name);
    if (it == editableItemFields().end()) {
      return Error{Errc::invalid_argument, filled(app, kTextNotAField, name + "=" + given)};
    }
    if (audioOnlyField(it->second) && !audio) {
      return Error{Errc::unsupported, filled(app, kTextAudioOnly, name)};
    }
    std::string value = given;
    if (it->second == catalog::kPrice && !value.empty()) {
      auto price = parsePrice(value);
      if (!price) return Error{Errc::invalid_argument, filled(app, kTextPriceNotNumber, value)};
      value = formatPrice(*price);
    }
    changes.emplace_back(it->second, std::move(value));
  }
  return changes;
}

}  // namespace tamber::app
