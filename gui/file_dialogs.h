// Choosing a file to write: the name gets its extension before anything
// else, and a file that exists under the final name is replaced only when
// the user says so.
#pragma once

#include <QString>

#include "app/app.h"

class QWidget;

namespace tamber::gui {

// Asks for a file to write with a save dialog showing `filter`. A name
// without an extension gets the one of the chosen filter ("(*.xml)"), else
// `suffix` (".cds"); with `requireSuffix`, every name that does not end in
// `suffix` gets it. When a file of the final name exists, the user is asked
// whether to replace it; no brings the dialog back. Empty when cancelled.
QString chooseFileToWrite(QWidget* parent, const app::App& app, const QString& title, const QString& filter,
                          const QString& suffix, const QString& directory = {}, bool requireSuffix = false);

// The name with the extension a save dialog would give it: `name` itself
// when it has one, else `name` + the first "*.ext" of `chosenFilter`, else
// + `suffix`.
QString withExtension(const QString& name, const QString& chosenFilter, const QString& suffix,
                      bool requireSuffix = false);

// Whether `path` may be written: true when nothing is there, else the
// user's answer to "PATH exists already. Replace it?" (default no).
bool mayReplace(QWidget* parent, const app::App& app, const QString& path);

}  // namespace tamber::gui
