// Texts of the desktop program from the language files, as Qt strings.
#pragma once

#include <QString>

#include "app/app.h"

namespace tamber::gui {

// The text `id` of the current language.
QString text(const app::App& app, int id);
// `id` with its "%s" placeholders filled in order.
QString text(const app::App& app, int id, const QStringList& values);
// UTF-8 to and from Qt strings.
inline QString qs(const std::string& s) { return QString::fromStdString(s); }
inline std::string ss(const QString& s) { return s.toStdString(); }

}  // namespace tamber::gui
