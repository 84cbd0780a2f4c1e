// Texts of the desktop program from the language files, as Qt strings.
#pragma once

#include <QString>

#include "app/app.h"

namespace tamber::gui {

// The text `id` of the current language.
QString text(const app::App& app, int id);
// `id` with its "%s" placeholders filled in order.
QString text(const app::App& app, int id, const QStringList& values);
// A count with its word in the user's language: text `oneId` ("%s file")
// or `manyId` ("%s files") by that language's rule (French takes the
// singular for 0 and 1), the number written as the language writes it.
QString counted(const app::App& app, long long n, int oneId, int manyId);
// Qt's own texts (standard buttons, file dialogs, a text box's menu) in
// the language `code`, from Qt's translations where they are installed;
// false where they are not (the buttons then stay English).
bool useQtTexts(const QString& code);
// UTF-8 to and from Qt strings.
inline QString qs(const std::string& s) { return QString::fromStdString(s); }
inline std::string ss(const QString& s) { return s.toStdString(); }
// A name or text as a view shows it: at most `longest` characters and "…".
// Views measure what they show, and a damaged library's label of a million
// letters held the window for minutes.
inline QString shown(QString q, qsizetype longest = 1000) {
  if (q.size() > longest) q = q.left(longest) + QChar(0x2026);
  return q;
}
inline QString shown(const std::string& s, qsizetype longest = 1000) { return shown(qs(s), longest); }

// A menu or check-box text without its accelerator mark and ellipsis.
inline QString plain(QString menuText) { return menuText.remove('&').remove(QChar(0x2026)); }

}  // namespace tamber::gui
