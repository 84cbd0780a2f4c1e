#include "gui/gui_text.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QStringList>
#include <QTranslator>

#include <memory>

namespace tamber::gui {

QString text(const app::App& app, int id) { return qs(app.text(id)); }

QString text(const app::App& app, int id, const QStringList& values) {
  QString t = text(app, id);
  for (const auto& v : values) {
    int at = t.indexOf("%s");
    if (at < 0) break;
    t.replace(at, 2, v);
  }
  return t;
}

QString counted(const app::App& app, long long n, int oneId, int manyId) {
  const std::string& code = app.language().code();
  bool one = code == "fr" ? (n == 0 || n == 1) : n == 1;
  QLocale locale(qs(code));
  return text(app, one ? oneId : manyId, {locale.toString(n)});
}

bool useQtTexts(const QString& code) {
  // One translator for the program's life, swapped with the language.
  static std::unique_ptr<QTranslator> current;
  if (current) QCoreApplication::removeTranslator(current.get());
  current.reset();
  if (code == "en") return true;
  auto next = std::make_unique<QTranslator>();
  if (!next->load("qtbase_" + code, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) return false;
  QCoreApplication::installTranslator(next.get());
  current = std::move(next);
  return true;
}

}  // namespace tamber::gui
