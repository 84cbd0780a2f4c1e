// Tools > Find duplicates: the library's identical files in groups, most
// space wasted first. Double-clicking a file shows it in the main window.
#pragma once

#include <QDialog>

#include "app/app.h"
#include "catalog/names.h"

class QLabel;
class QTreeWidget;

namespace tamber::gui {

class DuplicatesDialog : public QDialog {
  Q_OBJECT
 public:
  DuplicatesDialog(app::App& app, QWidget* parent);
  QTreeWidget* results() const { return results_; }

 signals:
  void showResult(const catalog::ItemPath& category, long long itemNumber, const QString& path);

 private:
  void fill();

  app::App& app_;
  QLabel* summary_;
  QTreeWidget* results_;
};

}  // namespace tamber::gui
