#include "gui/gui_text.h"

#include <QLocale>
#include <QStringList>

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

}  // namespace tamber::gui
