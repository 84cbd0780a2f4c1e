// The search box of the toolbar: names are searched as they are typed and
// the first rows are listed under the box while the search runs; a new
// keystroke stops the search still running and starts the next. Enter or a
// double click shows the row in the window; Escape closes the list. The
// Find dialog keeps every other criterion.
#pragma once

#include <QWidget>
#include <atomic>
#include <thread>

#include "app/app.h"
#include "search/search.h"

class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace tamber::gui {

class WindowQueue;

class QuickFind : public QWidget {
  Q_OBJECT
 public:
  // The list of rows is shown over `window`, under the box.
  QuickFind(app::App& app, QWidget* window);
  ~QuickFind() override;

  // Searches `typed` at once (each keystroke calls it); an empty text
  // closes the list.
  void search(const QString& typed);
  // Stops the running search and waits for it: before the library changes
  // or closes.
  void finish();
  bool running() const { return worker_.joinable() && !finished_; }
  // Its texts in the language now chosen.
  void retranslate();
  QLineEdit* box() const { return box_; }
  QTreeWidget* results() const { return results_; }
  // The most rows listed; the Find dialog shows every hit.
  static constexpr int kMaxRows = 200;

 signals:
  void showResult(const catalog::ItemPath& category, long long itemNumber, const QString& path);
  // A search ended (not stopped by the next): the rows listed.
  void searchEnded(int rows);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Row {
    catalog::ItemPath category;
    long long number = 0;
    std::string itemPath, path, location;
    uint64_t size = 0;
    bool hasSize = false;
  };
  void addRows(const std::vector<Row>& rows);
  void place();
  void choose(QTreeWidgetItem* row);

  app::App& app_;
  QWidget* window_;
  QLineEdit* box_;
  QTreeWidget* results_;
  WindowQueue* queue_;
  std::thread worker_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{true};
  // Which search the rows handed over belong to: those of a stopped one are
  // dropped.
  unsigned generation_ = 0;
  int rows_ = 0;
};

}  // namespace tamber::gui
