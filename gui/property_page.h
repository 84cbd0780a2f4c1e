// The property pages: HTML for the text browser below the list, made from
// the catalog and the listings by the core's presentation functions.
#pragma once

#include <QImage>
#include <QString>
#include <string>
#include <vector>

#include "app/app.h"
#include "scan/listing_reader.h"

namespace tamber::gui {

// The library: its file and statistics.
QString libraryPage(const app::App& app, catalog::Library& library);
// A category: its statistics, creation time and comment.
QString categoryPage(const app::App& app, catalog::Library& library, xmlNode* category);
// A disc or folder: every recorded field.
QString itemPage(const app::App& app, catalog::Library& library, xmlNode* item);
// A recorded field by its name in the user's language: a disc's or
// folder's own (`discField`) or a file's ("Artist" for "s").
QString recordedFieldName(const app::App& app, const std::string& code, bool discField);

struct FilePage {
  QString html;     // shows the thumbnail as "tamber:thumbnail"
  QImage thumbnail;  // null when the file has none
};
// A file (or folder) inside a disc or folder: every recorded field, its
// thumbnail and its archive listing.
FilePage filePage(const app::App& app, catalog::Library& library, xmlNode* item,
                  const std::vector<std::string>& folder, const scan::ListingEntry& entry);

// A member of an archive file (`archive` its steps inside the item), in the
// archive's folder `inside`: what the archive's listing recorded of it.
QString memberPage(const app::App& app, catalog::Library& library, xmlNode* item,
                   const std::vector<std::string>& archive, const std::vector<std::string>& inside,
                   const scan::ListingEntry& member);

}  // namespace tamber::gui
