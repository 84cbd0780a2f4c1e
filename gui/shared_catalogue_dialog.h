// Tools > Shared catalogue: the catalogue published on a PostgreSQL server
// (tamber publish), browsed and searched read-only from the desktop.
#pragma once

#include <QDialog>
#include <memory>

#include "app/app.h"
#include "app/shared_catalogue.h"

class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace tamber::gui {

class SharedCatalogueDialog : public QDialog {
  Q_OBJECT
 public:
  SharedCatalogueDialog(app::App& app, QWidget* parent);
  ~SharedCatalogueDialog() override;

  // Connects to the address in the box and shows the top of the catalogue;
  // a working address is kept for the next time.
  bool connectToServer();
  // Finds the text of the search box; false when it could not be asked.
  bool search();

  QLineEdit* address() const { return address_; }
  QLineEdit* searchBox() const { return search_; }
  QTreeWidget* tree() const { return tree_; }
  QTreeWidget* results() const { return results_; }
  QLabel* status() const { return status_; }

 private:
  // Fills a folder, category or item of the tree when it is first opened.
  void expand(QTreeWidgetItem* node);
  void say(const QString& text);
  // Runs `read` (a listing or a search of the server) off the window's
  // thread, its rows into `rows`, at most as many as are shown.
  Status readRows(const QString& label, std::vector<app::SharedCatalogue::Row>& rows,
                  const std::function<Status(const std::function<bool(const app::SharedCatalogue::Row&)>&)>& read);

  app::App& app_;
  std::unique_ptr<app::SharedCatalogue> server_;
  bool several_ = false;
  QLineEdit* address_;
  QLineEdit* search_;
  QTreeWidget* tree_;
  QTreeWidget* results_;
  QLabel* status_;
  class QPushButton* findButton_;
};

}  // namespace tamber::gui
