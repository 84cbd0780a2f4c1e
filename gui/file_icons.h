// Icons by what an entry is: a file by its MIME type (from its name, and
// the kind its recorded fields tell) through the desktop's icon theme, with
// icons of our own where the theme has none; a disc or folder item by its
// kind (audio CD, CD-Extra, DVD, folder on a hard disk, removable drive,
// network drive ...).
#pragma once

#include <QHash>
#include <QIcon>
#include <QString>

#include "scan/listing_reader.h"

namespace tamber::gui {

class FileIcons {
 public:
  // The icon of a recorded file or folder.
  const QIcon& entry(const scan::ListingEntry& e);
  // The icon of a file of `name` whose recorded fields say `hint` ("audio",
  // "image", "archive", "document" or empty).
  const QIcon& file(const QString& name, const QString& hint = {});
  // A disc or folder item of kind `kind` (0-18).
  static const QIcon& item(int kind);
  static const QIcon& folder();
  static const QIcon& category();
  static const QIcon& library();
  // One of the bundled icons by name ("audio", "cd-data" ...).
  static QIcon bundled(const QString& name);
  // The bundled icon's name for a MIME type name ("audio/mpeg": "audio").
  static QString genericName(const QString& mime);

 private:
  QHash<QString, QIcon> bySuffix_;
};

// What the recorded fields of a file say it is: "audio", "image",
// "archive", "document", or empty.
QString recordedKind(const scan::ListingEntry& e);

}  // namespace tamber::gui
