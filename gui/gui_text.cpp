#include "gui/gui_text.h"

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

}  // namespace tamber::gui
