// The add-folder dialog: label, category, comment, depth, the four options,
// subfolder rules, the filter with its history and exclude mode, and update
// mode for a selected folder item; then the job's progress (bar, percent,
// counts, the folder being read, cancel) and the completion message.
#pragma once

#include <QDialog>
#include <memory>
#include <optional>

#include "app/add_folder.h"
#include "app/app.h"
#include "gui/scan_choices.h"

class QCheckBox;
class QKeyEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTableWidget;
class QTimer;

namespace tamber::gui {

// Every category of the catalog as "A/B" (its numbers as data), the
// selected one (or the selected item's) current.
void fillCategoryBox(const catalog::CatalogDocument& doc, xmlNode* selected, QComboBox* box);

class AddFolderDialog : public QDialog {
  Q_OBJECT
 public:
  // `selected` is the tree's selection: its category is proposed, and a
  // folder item can be updated.
  AddFolderDialog(app::App& app, xmlNode* selected, QWidget* parent = nullptr);
  ~AddFolderDialog() override;

  // Checks the entries and starts the job; false (and a message) when they
  // are not complete.
  bool start();
  // Starts the job of options made elsewhere (the add-disc dialog), with
  // its category as a typed path ("Music/Jazz", each missing step made),
  // and shows its progress.
  bool startPrepared(scan::AddFolderOptions o, const QString& categoryText);
  void cancel();
  // Closing the dialog while a job runs cancels the job.
  void reject() override;
  // Closing keeps the folder options for the next time.
  void done(int result) override;
  // Escape alone never stops a running job (hours of reading are not lost
  // to a stray key): only Cancel or closing the window does.
  void keyPressEvent(QKeyEvent* event) override;
  // The options page again, after a job that leaves the dialog open.
  void backToSetup();
  bool running() const { return job_ != nullptr; }
  // Reads the job's counters now instead of at the next tick.
  void refresh() { poll(); }

  QLineEdit* folderEdit() const { return folder_; }
  QLineEdit* labelEdit() const { return label_; }
  QComboBox* categoryBox() const { return category_; }
  QCheckBox* updateBox() const { return update_; }
  QCheckBox* excludeBox() const { return exclude_; }
  QCheckBox* archivesBox() const { return choices_->archives; }
  // The last message shown (validation or completion), for tests.
  const QString& lastMessage() const { return message_; }
  // Tests answer the completion message themselves.
  void setQuiet(bool quiet) { quiet_ = quiet; }

 signals:
  // The job ended: the item added (its category and number) or nothing.
  void finished(bool done, const catalog::ItemPath& category, uint16_t number);

 private:
  void say(const QString& message, bool error);
  void poll();
  void end();
  scan::AddFolderOptions options(QString& problem);

  app::App& app_;
  xmlNode* selected_;
  QStackedWidget* pages_;
  QLineEdit *folder_, *label_, *comment_;
  QComboBox *category_, *filter_;
  std::unique_ptr<ScanChoices> choices_;
  QCheckBox *filterOn_, *exclude_, *update_;
  bool forDisc_ = false;  // the progress of a disc's job
  QPushButton* ok_;
  QProgressBar* bar_;
  QLabel *percent_, *counts_, *current_;
  QTimer* timer_;
  std::unique_ptr<scan::AddFolderJob> job_;
  std::unique_ptr<app::CatalogCheckpoint> checkpoint_;
  scan::AddFolderOptions running_;
  QString message_;
  bool quiet_ = false;
};

}  // namespace tamber::gui
