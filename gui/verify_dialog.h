// Verify and Compare on a disc's or folder's context menu: the folder (or
// disc) is read again on a worker thread while the dialog shows how far it
// got; then the differences from what the item recorded stand in a list
// that can be saved as CSV. A double click on a recorded file shows it in
// the main window.
#pragma once

#include <libxml/tree.h>

#include <QDialog>
#include <memory>

#include "app/app.h"
#include "app/file_comparison.h"
#include "catalog/names.h"

class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;

namespace tamber::gui {

class VerifyDialog : public QDialog {
  Q_OBJECT
 public:
  // Verifies `item` where it was read from (or its volume mounted
  // elsewhere); with `folder`, compares the item with that folder instead.
  VerifyDialog(app::App& app, xmlNode* item, const QString& folder, QWidget* parent);
  ~VerifyDialog() override;

  QTreeWidget* results() const { return results_; }
  QLabel* summary() const { return summary_; }
  // The reading has ended (well or not).
  bool finished() const { return finished_; }
  // Writes the list as CSV (status, path, details); false with the reason
  // shown when it cannot be written.
  bool saveCsv(const QString& path);

 signals:
  void showResult(const catalog::ItemPath& category, long long itemNumber, const QString& path);
  void readingEnded();

 private:
  void poll();
  void end();
  void fill();
  void reject() override;

  app::App& app_;
  catalog::ItemPath category_;
  uint16_t number_ = 0;
  bool verify_ = true;
  app::FileSet recorded_, present_;
  app::Comparison comparison_;
  std::unique_ptr<app::FolderReading> reading_;
  QLabel* summary_;
  QTreeWidget* results_;
  QPushButton* save_;
  QPushButton* stop_;
  QTimer* timer_ = nullptr;
  bool finished_ = false;
};

}  // namespace tamber::gui
