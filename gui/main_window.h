// The main window: the library tree on the left; on the right the list of a
// category's discs and folders or of a folder's files (as details or as a
// grid of thumbnails), with the property page of what is selected below
// it; a docking bar with the recorded folder tree of the selected disc or
// folder; a toolbar and a path bar with Back, Forward and Up.
#pragma once

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/undo.h"
#include "exchange/exchange.h"

class QFileSystemWatcher;
class QTimer;
class QDockWidget;
class QLabel;
class QMenu;
class QSortFilterProxyModel;
class QStackedWidget;
class QTableView;
class QListView;
class QTextBrowser;
class QToolBar;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;
class QAbstractItemView;

namespace tamber::gui {

class ContentModel;
class LibraryModel;

// What the list shows, by numbers and names that outlive a reading of the
// catalog afresh: the library, a category, or a folder inside a disc or
// folder (or inside an archive file there).
struct Location {
  catalog::ItemPath category;          // the category shown, or the item's
  long item = -1;                      // the item's number; -1: a category
  std::vector<std::string> steps;      // the folder inside the item
  bool archive = false;                // the last step names an archive file
  std::vector<std::string> inArchive;  // the folder inside the archive
  bool operator==(const Location&) const = default;
};

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(app::App& app, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Opens a library (the default one for an empty path); says why not, and
  // then keeps the library that was open, open and shown.
  bool openLibrary(const QString& path);
  // Makes a new library at `path` and shows it; says why not, and keeps the
  // library that was open.
  bool newLibrary(const QString& path);
  // What a second start of the program hands over: the library it was
  // given (opened as openLibrary does; empty: none), then the window comes
  // to the front.
  void handOver(const QString& path);
  // Saves the library, the placement and the column widths, and the
  // settings; what closing the window does.
  bool shutdown();
  // Keeps the placement, the bars and the column widths in the settings.
  void storeSettings();

  // Selects a catalog element in the tree (and shows it).
  void select(xmlNode* node);
  // Shows the folder `steps` of the selected disc or folder.
  void openFolder(const std::vector<std::string>& steps);
  // Shows `to`; `remember` puts where the window was on the Back list.
  bool go(const Location& to, bool remember = true);
  const Location& location() const { return current_; }
  void goBack();
  void goForward();
  void goUp();
  // The details (false) or the thumbnails (true) of a folder.
  void showIcons(bool icons);
  bool showsIcons() const;
  void switchLanguage(const QString& code);
  // Shows a search result: the item, the folder, the entry selected.
  void showHit(const catalog::ItemPath& category, long long itemNumber, const QString& path);
  // Opens the find dialog (window-modal); it is deleted when closed.
  class FindDialog* find();
  // Opens Tools > Find duplicates over the library; deleted when closed.
  class DuplicatesDialog* findDuplicates();
  // Tools > Shared catalogue; connected at once when an address is kept.
  class SharedCatalogueDialog* sharedCatalogue();
  // Verify (no folder) or Compare with a folder: reads it again beside the
  // item's record and lists the differences.
  class VerifyDialog* verifyItem(xmlNode* item, const QString& folder = {});
  // Opens the add-folder dialog; the new item is selected when its job
  // ends. Deleted when closed. While it is open the window browses but does
  // not change the library (busy()). With `update`, the dialog re-scans
  // that folder item.
  class AddFolderDialog* addFolder(xmlNode* update = nullptr);
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
  bool exportXmlTo(const QString& path, const exchange::XmlExportOptions& options = {});
  // File > Export as XML: the dialog, then the export it describes.
  void exportXml();
  bool exportLibraryTo(const QString& path);
  bool importLibraryFrom(const QString& path);
  bool exportCsvTo(const QString& path);
  // The library's selected part as a web site in `folder` (new or empty;
  // an earlier export there is replaced when the user says so).
  bool exportHtmlTo(const QString& folder);
  // Opens the report window for what the tree has selected.
  class ReportWindow* report();

  // The edits, each recorded for undo. They act on the element given.
  bool renameNode(xmlNode* node, const QString& name);
  bool moveNode(xmlNode* node, xmlNode* targetCategory);
  bool deleteNode(xmlNode* node);
  bool setCoverFrom(xmlNode* item, const QString& picture);
  bool undo();
  bool redo();
  const app::UndoHistory& undoHistory() const { return undo_; }
  // What a command of the Edit menu acts on: the selection of the view
  // that has the focus (a category, disc or folder), else nothing.
  xmlNode* target() const;

  // The context menu of a view at a place in it (its viewport's
  // coordinates), as the right mouse button shows it; for tests.
  QMenu* contextMenu(QWidget* view, const QPoint& at);

  QTreeView* tree() const { return tree_; }
  QTableView* list() const { return list_; }
  QListView* icons() const { return icons_; }
  QTextBrowser* page() const { return page_; }
  LibraryModel* libraryModel() const { return libraryModel_; }
  ContentModel* contentModel() const { return content_; }
  QTreeWidget* folders() const { return folders_; }
  QLabel* cover() const { return cover_; }
  QToolBar* pathBar() const { return pathBar_; }
  QToolBar* toolBar() const { return toolBar_; }
  class QuickFind* quickFind() const { return quickFind_; }
  class PlayerBar* player() const { return player_; }
  QAction* action(const char* name) const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Backspace in the list goes up, as in a file manager: the list itself
  // would take it as a key typed to find a name.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void createActions();
  void translateActions();
  void buildMenus();
  void buildBars();
  void retranslate();
  void updateTitle();
  void updateActions();
  void updatePathBar();
  void markModified();
  // The folder shown is read whole before the library changes (its reader
  // reads the committed state, which a change may end).
  void beforeChange();
  void showCounts();
  void restorePlacement();
  void storePlacement();
  void restoreBars();
  void storeBars();
  // Where each docking bar last floated: it floats there again.
  QHash<QDockWidget*, QPoint> floatedAt_;
  void restoreColumns();
  void storeColumns();
  // The library shown anew after it was opened, made or changed whole.
  void libraryReplaced();
  // A library that another program writes is opened for reading: the
  // window says so in its title, and shows each state that program
  // commits (for writing again once it has ended).
  void watchWriter(const QString& writer);
  void writerCommitted();
  // The catalog read afresh after an edit; where the window was is shown
  // again (or the nearest place that still exists).
  void reloadCatalog(const Location& then);
  Location locationOf(xmlNode* node) const;
  xmlNode* nodeOf(const Location& at) const;
  void showAt(const Location& at, xmlNode* node);
  void showEntry(int row);
  void activateRow(int row);
  void fillFolders(xmlNode* item);
  void followFolders(const std::vector<std::string>& steps);
  void expandFolder(QTreeWidgetItem* folder);
  void fillRecent();
  void setBusy(bool busy);
  void error(const QString& message);
  // Names the damaged listings an export went past (it holds the others);
  // whether there were none.
  bool sayDamaged(const std::vector<std::string>& damaged);
  QAbstractItemView* currentView() const;
  // Edits.
  void renameSelected();
  void deleteSelected();
  void newCategory();
  void editItem();
  void setCover();
  void copyPath();
  // A path as the command line takes it: the category names, the label,
  // the folders, the archive and its folders, then `entry`.
  QString pathText(const Location& at, const std::string& entry = {}) const;
  void saveThumbnail();
  void showCover(xmlNode* item);
  // Undo (`back`) or redo, then the window shows the catalog afresh.
  bool takeStep(bool back);
  // Back (`back`) or forward in the places shown.
  void travel(bool back);
  // The label of an undo step: text `id` with the element's name.
  std::string stepLabel(int id, const xmlNode* node) const;
  // File menu.
  void chooseLibrary();
  void chooseNewLibrary();
  void preferences();
  xmlNode* selectedCategory();
  QString libraryFolder() const;

  app::App& app_;
  app::UndoHistory undo_;
  bool shutDown_ = false;
  LibraryModel* libraryModel_;
  ContentModel* content_;
  QSortFilterProxyModel* sorted_;
  QTreeView* tree_;
  QTableView* list_;
  QListView* icons_;
  QStackedWidget* views_;
  QTextBrowser* page_;
  QDockWidget* dock_;
  QDockWidget* coverDock_;
  QDockWidget* playerDock_;
  QToolBar* toolBar_ = nullptr;
  class QuickFind* quickFind_ = nullptr;
  QToolBar* pathBar_ = nullptr;
  class PlayerBar* player_;
  QLabel* cover_;
  QTreeWidget* folders_;
  QMenu* recent_ = nullptr;
  QList<QAction*> changing_;
  QHash<QString, QAction*> actions_;
  QList<QMenu*> menus_;
  // The path bar's parts after Back, Forward and Up, and where each leads.
  QList<QAction*> crumbs_;
  QPointer<class AddFolderDialog> adding_;
  bool busy_ = false;
  QString writtenBy_;  // the program that writes the library opened for reading
  QFileSystemWatcher* watcher_ = nullptr;
  QTimer* reloadTimer_ = nullptr;
  QTimer* writerPoll_ = nullptr;  // asks now and then whether the writer has ended
  bool navigating_ = false;  // the tree's selection is being set by go()
  QString simulatedDrive_;
  xmlNode* shown_ = nullptr;  // the tree's selected element
  Location current_;
  std::vector<Location> back_, forward_;
};

}  // namespace tamber::gui
