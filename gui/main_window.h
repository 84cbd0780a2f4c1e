// The main window: the library tree on the left; on the right the list of a
// category's discs and folders or of a folder's files, with the property
// page of what is selected below it; a docking bar with the recorded folder
// tree of the selected disc or folder.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <string>
#include <vector>

#include "app/app.h"

class QDockWidget;
class QLabel;
class QMenu;
class QSortFilterProxyModel;
class QTableView;
class QTextBrowser;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace tamber::gui {

class ContentModel;
class LibraryModel;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(app::App& app, QWidget* parent = nullptr);

  // Opens a library (the default one for an empty path); says why not.
  bool openLibrary(const QString& path);
  // Saves the library, the placement and the column widths, and the
  // settings; what closing the window does.
  bool shutdown();

  // Selects a catalog element in the tree (and shows it).
  void select(xmlNode* node);
  // Shows the folder `steps` of the selected disc or folder.
  void openFolder(const std::vector<std::string>& steps);
  void switchLanguage(const QString& code);
  // Shows a search result: the item, the folder, the entry selected.
  void showHit(const catalog::ItemPath& category, long long itemNumber, const QString& path);
  // Opens the find dialog (window-modal); it is deleted when closed.
  class FindDialog* find();
  // Opens the add-folder dialog; the new item is selected when its job
  // ends. Deleted when closed. While it is open the window browses but does
  // not change the library (busy()).
  class AddFolderDialog* addFolder();
  bool busy() const { return busy_; }
  // The drive the add-disc dialog offers first ("sim:FILE", from --drive).
  void setSimulatedDrive(const QString& drive);
  // Opens the add-disc dialog (window-modal). Its Add hands the job to the
  // add-folder dialog's progress view, returned through `started` when
  // given; the disc leaves the drive when the job ends, unless "NotEject".
  class AddDiscDialog* addDisc();
  // Starts the job the add-disc dialog describes; the progress dialog.
  class AddFolderDialog* startDiscJob(class AddDiscDialog* disc);
  // The exchange commands with their file chosen; each runs on a worker
  // thread with a progress dialog, says how it went in the status bar (an
  // error in a message box) and returns whether it worked.
  bool exportXmlTo(const QString& path);
  bool exportLibraryTo(const QString& path);
  bool importLibraryFrom(const QString& path);
  bool exportCsvTo(const QString& path);
  // Opens the report window for what the tree has selected.
  class ReportWindow* report();

  QTreeView* tree() const { return tree_; }
  QTableView* list() const { return list_; }
  QTextBrowser* page() const { return page_; }
  LibraryModel* libraryModel() const { return libraryModel_; }
  ContentModel* contentModel() const { return content_; }
  QTreeWidget* folders() const { return folders_; }
  QLabel* cover() const { return cover_; }
  class PlayerBar* player() const { return player_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenus();
  void retranslate();
  void updateTitle();
  void markModified();
  void restorePlacement();
  void storePlacement();
  void restoreBars();
  void storeBars();
  void restoreColumns();
  void storeColumns();
  void showNode(xmlNode* node);
  void showEntry(int row);
  void activateRow(int row);
  void fillFolders(xmlNode* item);
  void expandFolder(QTreeWidgetItem* folder);
  void fillRecent();
  void setBusy(bool busy);
  void error(const QString& message);
  // Edits.
  void renameSelected();
  void deleteSelected();
  void newCategory();
  void editItem();
  void setCover();
  void showCover(xmlNode* item);
  // File menu.
  void chooseLibrary();
  void chooseNewLibrary();
  void preferences();
  xmlNode* selectedCategory();

  app::App& app_;
  bool shutDown_ = false;
  LibraryModel* libraryModel_;
  ContentModel* content_;
  QSortFilterProxyModel* sorted_;
  QTreeView* tree_;
  QTableView* list_;
  QTextBrowser* page_;
  QDockWidget* dock_;
  QDockWidget* coverDock_;
  QDockWidget* playerDock_;
  class PlayerBar* player_;
  QLabel* cover_;
  QTreeWidget* folders_;
  QMenu* recent_ = nullptr;
  QList<QAction*> changing_;
  QPointer<class AddFolderDialog> adding_;
  bool busy_ = false;
  QString simulatedDrive_;
  xmlNode* shown_ = nullptr;  // the tree's selected element
};

}  // namespace tamber::gui
