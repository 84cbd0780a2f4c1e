// The find dialog: the search text with its history, every switch of the
// search, and a results list that fills as the listings are searched.
// Double-clicking a result shows it in the main window.
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "app/app.h"
#include "search/search.h"

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace tamber::gui {

class WindowQueue;

class FindDialog : public QDialog {
  Q_OBJECT
 public:
  // `scope` is the tree's selection (a category or an item, or null).
  FindDialog(app::App& app, xmlNode* scope, QWidget* parent = nullptr);
  ~FindDialog() override;

  // Starts a search with the dialog's settings; false when it cannot start
  // (an empty text, a regular expression that does not compile).
  bool start();
  bool running() const { return worker_.joinable() && !finished_; }
  // Waits for the running search to end (tests).
  void wait();
  QTreeWidget* results() const { return results_; }
  QComboBox* textBox() const { return text_; }
  QCheckBox* caseBox() const { return case_; }
  QCheckBox* archivesBox() const { return archives_; }

 signals:
  // A result was chosen: the item (its category path and number) and the
  // path inside it ("\\" between folders).
  void showResult(const catalog::ItemPath& category, long long itemNumber, const QString& path);
  void searchEnded(int hits);

 private:
  void addHits(const std::vector<search::SearchHit>& hits, const std::vector<search::SearchItem>& items);
  void finish(const QString& error);
  void stop();

  app::App& app_;
  xmlNode* scope_;
  QComboBox* text_;
  QCheckBox *case_, *whole_, *regex_, *archives_, *only_;
  QCheckBox* kinds_[6];
  QCheckBox *dates_, *sizes_, *minGiven_, *maxGiven_;
  QDateTimeEdit *from_, *to_;
  QSpinBox *min_, *max_;
  QPushButton *find_, *stop_;
  QTreeWidget* results_;
  QLabel* status_;
  WindowQueue* queue_;
  std::thread worker_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> finished_{true};
  std::shared_ptr<Result<search::SearchResult>> outcome_;
  QString pattern_;
  int shown_ = 0;
};

}  // namespace tamber::gui
