// Editing a disc's or folder's own fields, the same from every front end:
// which fields may be edited, and every change checked before any is
// stored (all or nothing).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/app.h"

namespace tamber::app {

// The fields a user edits, by name: comment, location, price, and for audio
// discs artist, album, genre, year and catalog (number). The label is
// renamed, not edited here.
const std::map<std::string, int>& editableItemFields();
// Fields only an audio disc (or CD-extra) has.
bool audioOnlyField(int field);

// "12.50" or "12,50"; nothing for text that is not a non-negative number.
std::optional<double> parsePrice(const std::string& text);
// A price as stored: "%.2f".
std::string formatPrice(double v);

// Checks the named changes of `item`; the values to store (prices in their
// stored form) or the first fault, in the user's language: invalid_argument
// for a name that is no field or a price that is no number, unsupported for
// an audio field of an item that is not an audio disc.
Result<std::vector<std::pair<int, std::string>>> checkItemEdits(
    const App& app, const catalog::CatalogDocument& doc, const xmlNode* item,
    const std::vector<std::pair<std::string, std::string>>& edits);

}  // namespace tamber::app
