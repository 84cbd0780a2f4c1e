#include "gui/file_dialogs.h"

#include <sys/stat.h>

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>

#include "gui/gui_text.h"
#include "gui/texts.h"

namespace tamber::gui {

QString withExtension(const QString& name, const QString& chosenFilter, const QString& suffix, bool requireSuffix) {
  if (requireSuffix) return name.endsWith(suffix, Qt::CaseInsensitive) ? name : name + suffix;
  if (!QFileInfo(name).suffix().isEmpty()) return name;
  static const QRegularExpression first("\\*(\\.[A-Za-z0-9]+)");
  auto m = first.match(chosenFilter);
  return name + (m.hasMatch() ? m.captured(1) : suffix);
}

bool mayReplace(QWidget* parent, const app::App& app, const QString& path) {
  // A link, a dangling one included, counts as something there.
  struct ::stat st {};
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return true;
  return QMessageBox::question(parent, "Tamber+", text(app, kReplaceFile, {path}), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

QString chooseFileToWrite(QWidget* parent, const app::App& app, const QString& title, const QString& filter,
                          const QString& suffix, const QString& directory, bool requireSuffix) {
  QString start = directory;
  for (;;) {
    QString chosen;
    // The dialog's own question would be about the name as typed, before
    // the extension is added: ours is asked about the final name.
    QString f = QFileDialog::getSaveFileName(parent, title, start, filter, &chosen,
                                             QFileDialog::DontConfirmOverwrite);
    if (f.isEmpty()) return {};
    f = withExtension(f, chosen, suffix, requireSuffix);
    if (mayReplace(parent, app, f)) return f;
    start = f;
  }
}

}  // namespace tamber::gui
