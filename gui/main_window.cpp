#include "gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QTextBrowser>
#include <QTreeView>
#include <QTreeWidget>

#include "app/csv_export.h"
#include "app/presentation.h"
#include "catalog/catalog_document.h"
#include "disc/track.h"
#include "exchange/exchange.h"
#include "scan/listing.h"
#include "gui/add_disc_dialog.h"
#include "gui/add_folder_dialog.h"
#include "gui/background_work.h"
#include "gui/content_model.h"
#include "gui/find_dialog.h"
#include "gui/help_window.h"
#include "gui/item_dialog.h"
#include "gui/gui_text.h"
#include "gui/library_model.h"
#include "gui/preferences_dialog.h"
#include "gui/player_bar.h"
#include "gui/property_page.h"
#include "gui/report_window.h"
#include "platform/atomic_file.h"
#include "gui/texts.h"

namespace tamber::gui {

namespace {

using catalog::CatalogDocument;

constexpr int kUnset = 65535;  // a window position never stored
constexpr int kFolderRole = Qt::UserRole + 7;  // a folder item's name, not yet read below

}  // namespace

MainWindow::MainWindow(app::App& app, QWidget* parent) : QMainWindow(parent), app_(app) {
  libraryModel_ = new LibraryModel(app, this);
  content_ = new ContentModel(app, this);
  sorted_ = new ContentSorter(this);
  sorted_->setSourceModel(content_);
  sorted_->setSortRole(ContentModel::kSortRole);
  sorted_->setSortCaseSensitivity(Qt::CaseInsensitive);

  tree_ = new QTreeView;
  tree_->setModel(libraryModel_);
  tree_->setHeaderHidden(true);
  tree_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  tree_->setDragDropMode(QAbstractItemView::DragDrop);
  tree_->setDefaultDropAction(Qt::MoveAction);
  tree_->setDropIndicatorShown(true);
  tree_->setObjectName("libraryTree");

  list_ = new QTableView;
  list_->setModel(sorted_);
  list_->setSortingEnabled(true);
  list_->sortByColumn(0, Qt::AscendingOrder);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setShowGrid(false);
  list_->setWordWrap(false);
  list_->verticalHeader()->hide();
  list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 6);
  list_->horizontalHeader()->setHighlightSections(false);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setObjectName("contentList");

  page_ = new QTextBrowser;
  page_->setOpenLinks(false);
  page_->setObjectName("propertyPage");

  auto* right = new QSplitter(Qt::Vertical);
  right->addWidget(list_);
  right->addWidget(page_);
  right->setStretchFactor(0, 3);
  right->setStretchFactor(1, 2);
  auto* main = new QSplitter(Qt::Horizontal);
  main->addWidget(tree_);
  main->addWidget(right);
  main->setStretchFactor(0, 1);
  main->setStretchFactor(1, 3);
  setCentralWidget(main);

  folders_ = new QTreeWidget;
  folders_->setHeaderHidden(true);
  folders_->setObjectName("folderTree");
  dock_ = new QDockWidget;
  dock_->setObjectName("contentsBar");
  dock_->setWidget(folders_);
  addDockWidget(Qt::LeftDockWidgetArea, dock_);
  cover_ = new QLabel;
  cover_->setAlignment(Qt::AlignCenter);
  cover_->setMinimumSize(160, 160);
  cover_->setObjectName("coverPicture");
  coverDock_ = new QDockWidget;
  coverDock_->setObjectName("coverBar");
  coverDock_->setWidget(cover_);
  addDockWidget(Qt::LeftDockWidgetArea, coverDock_);
  player_ = new PlayerBar(app_);
  playerDock_ = new QDockWidget;
  playerDock_->setObjectName("playerBar");
  playerDock_->setWidget(player_);
  playerDock_->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
  addDockWidget(Qt::BottomDockWidgetArea, playerDock_);

  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { showNode(libraryModel_->node(current)); });
  connect(libraryModel_, &LibraryModel::changed, this, &MainWindow::markModified);
  connect(libraryModel_, &LibraryModel::failed, this, &MainWindow::error);
  connect(libraryModel_, &LibraryModel::itemMoved, this, [this](xmlNode* n) { select(n); });
  connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) {
            if (current.isValid()) showEntry(sorted_->mapToSource(current).row());
          });
  connect(list_, &QTableView::activated, this,
          [this](const QModelIndex& index) { activateRow(sorted_->mapToSource(index).row()); });
  connect(folders_, &QTreeWidget::itemExpanded, this, &MainWindow::expandFolder);
  connect(folders_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
    if (!current || !shown_ || !CatalogDocument::isItem(shown_)) return;
    std::vector<std::string> steps;
    for (QTreeWidgetItem* at = current; at && at->parent(); at = at->parent()) {
      steps.insert(steps.begin(), ss(at->data(0, kFolderRole).toString()));
    }
    if (steps != content_->steps() || !content_->showsFolder()) openFolder(steps);
  });

  buildMenus();
  statusBar();
  restorePlacement();
  restoreBars();
  updateTitle();
}

// ------------------------------------------------------------------ menus

void MainWindow::buildMenus() {
  menuBar()->clear();
  QStyle* style = QApplication::style();
  // The actions that change the library or replace it; off while a job
  // writes to it.
  changing_.clear();
  auto changing = [this](QAction* a) { changing_.push_back(a); };
  QMenu* file = menuBar()->addMenu(text(app_, kFileMenu));
  changing(file->addAction(style->standardIcon(QStyle::SP_DialogOpenButton), text(app_, kOpenLibrary),
                           QKeySequence::Open, this, &MainWindow::chooseLibrary));
  changing(file->addAction(text(app_, kNewLibrary), QKeySequence::New, this, &MainWindow::chooseNewLibrary));
  changing(file->addAction(style->standardIcon(QStyle::SP_DialogSaveButton), text(app_, kSave), QKeySequence::Save,
                           this, [this] {
                             if (Status st = app_.saveLibrary(); !st) error(qs(st.message()));
                             updateTitle();
                           }));
  recent_ = file->addMenu(text(app_, kRecent));
  fillRecent();
  file->addSeparator();
  auto choose = [this](bool save, const QString& title, const QString& filter, const char* extension,
                       bool (MainWindow::*run)(const QString&)) {
    return [=, this] {
      QString f = save ? QFileDialog::getSaveFileName(this, title, QString(), filter)
                       : QFileDialog::getOpenFileName(this, title, QString(), filter);
      if (f.isEmpty()) return;
      if (save && QFileInfo(f).suffix().isEmpty()) f += extension;
      (this->*run)(f);
    };
  };
  QString all = text(app_, kAllFiles) + " (*)";
  file->addAction(text(app_, kExportXml), this,
                  choose(true, text(app_, kExportXml).remove('&'), text(app_, kXmlFiles) + " (*.xml);;" + all, ".xml",
                         &MainWindow::exportXmlTo));
  file->addAction(text(app_, kExportLibrary), this,
                  choose(true, text(app_, kExportLibrary).remove('&'), text(app_, kLibraryFiles) + ";;" + all,
                         ".cds", &MainWindow::exportLibraryTo));
  changing(file->addAction(text(app_, kImportLibrary), this,
                           choose(false, text(app_, kImportLibrary).remove('&'), text(app_, kLibraryFiles), "",
                                  &MainWindow::importLibraryFrom)));
  file->addAction(text(app_, kExportCsv), this,
                  choose(true, text(app_, kExportCsv).remove('&'), text(app_, kCsvFiles) + " (*.csv);;" + all,
                         ".csv", &MainWindow::exportCsvTo));
  file->addAction(text(app_, kReportMenu), QKeySequence::Print, this, [this] { report(); });
  file->addSeparator();
  file->addAction(text(app_, kExit), QKeySequence::Quit, this, &QWidget::close);

  QMenu* edit = menuBar()->addMenu(text(app_, kEditMenu));
  changing(edit->addAction(text(app_, kRename), QKeySequence(Qt::Key_F2), this, &MainWindow::renameSelected));
  changing(edit->addAction(text(app_, kDelete), QKeySequence::Delete, this, &MainWindow::deleteSelected));
  changing(edit->addAction(text(app_, kNewCategory), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N), this,
                           &MainWindow::newCategory));
  changing(edit->addAction(text(app_, kEditItem), QKeySequence(Qt::ALT | Qt::Key_Return), this,
                           &MainWindow::editItem));
  changing(edit->addAction(text(app_, kSetCover), this, &MainWindow::setCover));

  QMenu* view = menuBar()->addMenu(text(app_, kViewMenu));
  dock_->setWindowTitle(text(app_, kContentsBar));
  view->addAction(dock_->toggleViewAction());
  coverDock_->setWindowTitle(text(app_, kCover));
  view->addAction(coverDock_->toggleViewAction());
  playerDock_->setWindowTitle(text(app_, kPlayer));
  view->addAction(playerDock_->toggleViewAction());
  player_->retranslate();

  QMenu* tools = menuBar()->addMenu(text(app_, kToolsMenu));
  changing(tools->addAction(style->standardIcon(QStyle::SP_FileDialogNewFolder), text(app_, kAddFolder),
                            QKeySequence(Qt::CTRL | Qt::Key_D), this, [this] { addFolder(); }));
  // The search reads the listings from threads of its own.
  changing(tools->addAction(style->standardIcon(QStyle::SP_DriveCDIcon), text(app_, kAddDisc), this,
                            [this] { addDisc(); }));
  changing(tools->addAction(style->standardIcon(QStyle::SP_FileDialogContentsView), text(app_, kFind),
                            QKeySequence::Find, this, [this] { find(); }));
  tools->addSeparator();
  tools->addAction(text(app_, kPreferences), this, &MainWindow::preferences);

  QMenu* language = menuBar()->addMenu(text(app_, kLanguageMenu));
  for (auto [code, name] : {std::pair{"en", "English"}, {"fr", "Français"}, {"it", "Italiano"}}) {
    QAction* a = language->addAction(QString::fromUtf8(name), this,
                                     [this, c = QString(code)] { switchLanguage(c); });
    a->setCheckable(true);
    a->setChecked(app_.language().code() == code);
  }

  QMenu* help = menuBar()->addMenu(text(app_, kHelpMenu));
  help->addAction(text(app_, kHelpContents), QKeySequence::HelpContents, this,
                  [this] { showHelp(this, app_.language().code()); });
  help->addAction(text(app_, kAbout), this, [this] {
    QMessageBox::about(this, "Tamber+", text(app_, kAboutText, {QApplication::applicationVersion()}));
  });
  setBusy(busy_);
}

void MainWindow::setBusy(bool busy) {
  busy_ = busy;
  libraryModel_->setLocked(busy);
  for (QAction* a : changing_) a->setEnabled(!busy);
  if (recent_) recent_->setEnabled(!busy && !recent_->isEmpty());
}

void MainWindow::fillRecent() {
  recent_->clear();
  for (const auto& path : app_.recent().entries()) {
    recent_->addAction(qs(app::RecentLibraryList::caption(path)), this,
                       [this, p = qs(path)] { openLibrary(p); });
  }
  recent_->setEnabled(!busy_ && !recent_->isEmpty());
}

void MainWindow::retranslate() {
  buildMenus();
  content_->retranslate();
  xmlNode* keep = shown_;
  libraryModel_->reload();
  tree_->expandToDepth(0);
  if (keep) select(keep);
}

void MainWindow::switchLanguage(const QString& code) {
  if (Status st = app_.switchLanguage(ss(code)); !st) {
    error(qs(st.message()));
    return;
  }
  retranslate();
}

// ---------------------------------------------------------------- library

bool MainWindow::openLibrary(const QString& path) {
  if (busy_) {
    // Another start handed us a library while a folder is being added.
    error(text(app_, kJobRunning));
    return false;
  }
  shown_ = nullptr;
  content_->clear();
  folders_->clear();
  page_->clear();
  if (Status st = app_.openLibrary(std::filesystem::path(ss(path))); !st) {
    libraryModel_->reload();
    updateTitle();
    error(text(app_, kCannotOpen) + ":\n" + qs(st.message()));
    return false;
  }
  libraryModel_->reload();
  tree_->expandToDepth(0);
  select(app_.library()->catalog().root());
  fillRecent();
  updateTitle();
  return true;
}

void MainWindow::updateTitle() { setWindowTitle(qs(catalog::windowTitle(app_.library()))); }

void MainWindow::markModified() {
  app_.library()->catalog().setModified();
  updateTitle();
}

void MainWindow::error(const QString& message) { QMessageBox::warning(this, "Tamber+", message); }

void MainWindow::chooseLibrary() {
  QString f = QFileDialog::getOpenFileName(this, text(app_, kOpenLibrary).remove('&'), QString(),
                                           text(app_, kLibraryFiles));
  if (!f.isEmpty()) openLibrary(f);
}

void MainWindow::chooseNewLibrary() {
  QString f = QFileDialog::getSaveFileName(this, text(app_, kNewLibrary).remove('&'), QString(),
                                           text(app_, kLibraryFiles));
  if (f.isEmpty()) return;
  if (!f.endsWith(".cds")) f += ".cds";
  if (Status st = app_.createLibrary(std::filesystem::path(ss(f))); !st) {
    error(qs(st.message()));
    return;
  }
  openLibrary(f);
}

void MainWindow::preferences() {
  PreferencesDialog d(app_, this);
  if (d.exec() != QDialog::Accepted) return;
  d.store();
  if (d.language() != qs(app_.language().code())) switchLanguage(d.language());
  if (Status st = app_.settings().save(); !st) error(qs(st.message()));
}

// -------------------------------------------------------------- exchange

xmlNode* MainWindow::selectedCategory() {
  xmlNode* n = app_.library() ? libraryModel_->node(tree_->currentIndex()) : nullptr;
  if (!n || !CatalogDocument::isCategory(n)) {
    error(text(app_, kChooseCategory));
    return nullptr;
  }
  return n;
}

bool MainWindow::exportXmlTo(const QString& path) {
  xmlNode* category = selectedCategory();
  if (!category || busy_) return false;
  auto done = runInBackground<exchange::XmlExport>(
      this, text(app_, kExporting), text(app_, kCancel), [&](const StepFunction& step) {
        return exchange::exportXml(*app_.library(), category, ss(path), [&](int d, int t) { return step(d, t); });
      });
  if (!done) {
    error(qs(done.message()));
    return false;
  }
  statusBar()->showMessage(
      text(app_, app::kTextExportedXml, {path, QString::number(done->items), QString::number(done->pictures)}));
  return true;
}

bool MainWindow::exportLibraryTo(const QString& path) {
  xmlNode* category = selectedCategory();
  if (!category || busy_) return false;
  if (exchange::sameFile(ss(path), app_.library()->path())) {
    error(text(app_, app::kTextSameLibrary));
    return false;
  }
  auto done = runInBackground<exchange::Copied>(
      this, text(app_, kExporting), text(app_, kCancel), [&](const StepFunction& step) {
        return exchange::exportLibrary(*app_.library(), category, ss(path), [&](int d, int t) { return step(d, t); });
      });
  if (!done) {
    error(qs(done.message()));
    return false;
  }
  statusBar()->showMessage(text(app_, app::kTextExportedLibrary,
                                {qs(app_.library()->catalog().field(category, catalog::kCategoryName)), path,
                                 QString::number(done->items)}));
  return true;
}

bool MainWindow::importLibraryFrom(const QString& path) {
  auto* lib = app_.library();
  if (!lib || lib->readOnly() || busy_) return false;
  if (exchange::sameFile(ss(path), lib->path())) {
    error(text(app_, app::kTextSameLibrary));
    return false;
  }
  exchange::Copied copied;
  Status st = runInBackground(this, text(app_, kImporting), text(app_, kCancel), [&](const StepFunction& step) {
    auto r = exchange::importLibrary(*lib, ss(path), nullptr, [&](int d, int t) { return step(d, t); }, &copied);
    return r ? Status() : Status(r.error());
  });
  // What was copied stays (each disc or folder whole), and the library is
  // marked changed; saving it is the user's choice, as for any edit.
  libraryModel_->reload();
  tree_->expandToDepth(0);
  if (copied.items || copied.categories) markModified();
  if (!st) {
    error(qs(st.message()));
    return false;
  }
  statusBar()->showMessage(text(app_, app::kTextImportedLibrary,
                                {path, QString::number(copied.categories), QString::number(copied.items),
                                 QString::number(copied.relabelled)}));
  return true;
}

ReportWindow* MainWindow::report() {
  if (!app_.library() || busy_) return nullptr;
  std::vector<xmlNode*> selection;
  xmlNode* n = libraryModel_->node(tree_->currentIndex());
  if (n && n != app_.library()->catalog().root()) selection.push_back(n);
  // Window-modal: the catalog does not change under the report.
  auto* w = new ReportWindow(app_, selection, this);
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->setWindowModality(Qt::WindowModal);
  w->show();
  return w;
}

bool MainWindow::exportCsvTo(const QString& path) {
  xmlNode* n = app_.library() ? libraryModel_->node(tree_->currentIndex()) : nullptr;
  if (!app_.library() || busy_) return false;
  if (!n) n = app_.library()->catalog().root();
  long long rows = 0;
  Status st = runInBackground(this, text(app_, kExporting), text(app_, kCancel), [&](const StepFunction& step) {
    auto file = AtomicFile::begin(ss(path));
    if (!file) return Status(file.error());
    auto r = app::exportCsv(
        *app_.library(), {n}, [&](std::string_view bytes) { return file->write(bytes); },
        [&](long long r) { return step(r, 0); });
    if (!r) return Status(r.error());
    rows = *r;
    return file->commit();
  });
  if (!st) {
    error(qs(st.message()));
    return false;
  }
  statusBar()->showMessage(text(app_, app::kTextExportedCsv, {path, QString::number(rows)}));
  return true;
}

// --------------------------------------------------------------- showing

void MainWindow::select(xmlNode* node) {
  QModelIndex index = libraryModel_->indexOf(node);
  if (!index.isValid()) return;
  tree_->setCurrentIndex(index);
  tree_->scrollTo(index);
  showNode(node);
}

void MainWindow::showNode(xmlNode* node) {
  if (!node || !app_.library()) return;
  if (node == shown_ && (content_->showsFolder() || !CatalogDocument::isItem(node))) return;
  storeColumns();
  shown_ = node;
  auto& lib = *app_.library();
  showCover(CatalogDocument::isItem(node) ? node : nullptr);
  if (CatalogDocument::isItem(node)) {
    page_->setHtml(itemPage(app_, lib, node));
    fillFolders(node);
    openFolder({});
    return;
  }
  folders_->clear();
  content_->showCategory(node);
  restoreColumns();
  statusBar()->clearMessage();
  page_->setHtml(node == lib.catalog().root() ? libraryPage(app_, lib) : categoryPage(app_, lib, node));
}

void MainWindow::openFolder(const std::vector<std::string>& steps) {
  if (!shown_ || !CatalogDocument::isItem(shown_)) return;
  storeColumns();
  page_->setHtml(itemPage(app_, *app_.library(), shown_));
  if (Status st = content_->showFolder(shown_, steps); !st) {
    statusBar()->showMessage(qs(st.message()));
  }
  restoreColumns();
  statusBar()->showMessage(QLocale().toString(content_->rowCount()) + " " + text(app_, kColFiles).toLower());
}

void MainWindow::showEntry(int row) {
  auto& lib = *app_.library();
  if (const scan::ListingEntry* e = content_->entryAt(row)) {
    // An audio file, or a track of an audio disc (its number counted in
    // the disc's order), goes to the player.
    std::vector<std::string> steps = content_->steps();
    steps.push_back(e->name);
    const std::string* type = e->field("f");
    bool track = steps.size() == 1 && !e->folder && disc::isAudioTrackItem(e->name, type ? *type : "");
    int number = 0;
    if (track) {
      for (int i = 0; i <= row; ++i) {
        const scan::ListingEntry* t = content_->entryAt(i);
        const std::string* f = t ? t->field("f") : nullptr;
        if (t && !t->folder && disc::isAudioTrackItem(t->name, f ? *f : "")) ++number;
      }
    }
    static const scan::ExtensionTable extensions;
    auto kind = extensions.classify(scan::extensionOf(e->name));
    bool audioFile = !e->folder && ((kind && kind->kind == scan::FileKind::audio) || e->field("m"));
    player_->setEntry(content_->item(), steps, track || audioFile, number);
    FilePage p = filePage(app_, lib, content_->item(), content_->steps(), *e);
    page_->document()->addResource(QTextDocument::ImageResource, QUrl("tamber:thumbnail"), p.thumbnail);
    page_->setHtml(p.html);
  } else if (xmlNode* n = content_->nodeAt(row)) {
    player_->setEntry(nullptr, {}, false);
    page_->setHtml(CatalogDocument::isItem(n) ? itemPage(app_, lib, n) : categoryPage(app_, lib, n));
  }
}

void MainWindow::activateRow(int row) {
  if (const scan::ListingEntry* e = content_->entryAt(row)) {
    if (!e->folder) return;
    auto steps = content_->steps();
    steps.push_back(e->name);
    openFolder(steps);
  } else if (xmlNode* n = content_->nodeAt(row)) {
    select(n);
  }
}

void MainWindow::fillFolders(xmlNode* item) {
  folders_->clear();
  auto* top = new QTreeWidgetItem(folders_, {shown(app_.library()->catalog().field(item, catalog::kLabel))});
  top->setIcon(0, QApplication::style()->standardIcon(QStyle::SP_DriveHDIcon));
  top->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  folders_->blockSignals(true);
  folders_->setCurrentItem(top);
  folders_->blockSignals(false);
  top->setExpanded(true);
}

void MainWindow::expandFolder(QTreeWidgetItem* folder) {
  if (folder->childCount() > 0 || !shown_ || !CatalogDocument::isItem(shown_)) return;
  std::vector<std::string> steps;
  for (QTreeWidgetItem* at = folder; at && at->parent(); at = at->parent()) {
    steps.insert(steps.begin(), ss(at->data(0, kFolderRole).toString()));
  }
  auto& doc = app_.library()->catalog();
  // Only the folders below this one are kept, whatever the number of files.
  std::vector<std::string> names;
  auto c = scan::collectBelow(app_.library()->file().root(), doc.parentPath(shown_),
                              CatalogDocument::numberOf(shown_), steps, 1,
                              [&](scan::ListingEntry& e, int) {
                                if (e.folder) names.push_back(e.name);
                                return false;
                              });
  if (!c) return;
  QIcon icon = QApplication::style()->standardIcon(QStyle::SP_DirIcon);
  for (const auto& name : names) {
    auto* child = new QTreeWidgetItem(folder, {shown(name)});
    child->setData(0, kFolderRole, qs(name));
    child->setIcon(0, icon);
    child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  }
  if (names.empty()) folder->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

// ------------------------------------------------------------------- find

FindDialog* MainWindow::find() {
  if (!app_.library() || busy_) return nullptr;
  auto* d = new FindDialog(app_, shown_, this);
  d->setAttribute(Qt::WA_DeleteOnClose);
  d->setWindowModality(Qt::WindowModal);
  connect(d, &FindDialog::showResult, this, &MainWindow::showHit);
  d->show();
  return d;
}

AddFolderDialog* MainWindow::addFolder() {
  if (!app_.library() || busy_) return nullptr;
  if (app_.library()->readOnly()) {
    error(qs(app_.library()->path().string() + ": " + app_.text(app::kTextLibraryReadOnly)));
    return nullptr;
  }
  // The dialog leaves the window free: while it is open the library is
  // browsed, sorted and searched for nothing else, but not changed.
  auto* d = new AddFolderDialog(app_, shown_, this);
  d->setAttribute(Qt::WA_DeleteOnClose);
  adding_ = d;
  setBusy(true);
  connect(d, static_cast<void (QDialog::*)(int)>(&QDialog::finished), this, [this] { setBusy(false); });
  connect(d, &AddFolderDialog::finished, this, [this](bool done, const catalog::ItemPath& category, uint16_t number) {
    shown_ = nullptr;
    libraryModel_->reload();
    tree_->expandToDepth(0);
    auto& doc = app_.library()->catalog();
    xmlNode* item = done ? doc.item(category, number) : nullptr;
    select(item ? item : doc.root());
    if (done) {
      markModified();
    } else {
      updateTitle();
    }
  });
  d->show();
  return d;
}

void MainWindow::setSimulatedDrive(const QString& drive) {
  simulatedDrive_ = drive;
  player_->setSimulatedDrive(drive);
}

AddDiscDialog* MainWindow::addDisc() {
  if (!app_.library() || busy_) return nullptr;
  if (app_.library()->readOnly()) {
    error(qs(app_.library()->path().string() + ": " + app_.text(app::kTextLibraryReadOnly)));
    return nullptr;
  }
  auto* d = new AddDiscDialog(app_, shown_, simulatedDrive_, this);
  d->setAttribute(Qt::WA_DeleteOnClose, false);
  d->setWindowModality(Qt::WindowModal);
  connect(d, &QDialog::accepted, this, [this, d] { startDiscJob(d); });
  connect(d, &QDialog::rejected, d, &QObject::deleteLater);
  d->show();
  return d;
}

AddFolderDialog* MainWindow::startDiscJob(AddDiscDialog* disc) {
  scan::AddFolderOptions o;
  QString categoryText;
  if (!disc->jobOptions(o, categoryText)) {
    disc->deleteLater();
    return nullptr;
  }
  AddFolderDialog* progress = addFolder();
  if (!progress) {
    disc->deleteLater();
    return nullptr;
  }
  progress->setWindowTitle(disc->windowTitle());
  progress->setQuiet(disc->quiet());
  // The disc dialog holds the drive: the disc stays in while it is read,
  // the tray opens when the job is done, and the dialog goes with the
  // progress view.
  disc->holdDisc(true);
  connect(progress, &AddFolderDialog::finished, disc, [disc](bool done) {
    disc->holdDisc(false);
    if (done) disc->ejectIfWanted();
  });
  connect(progress, &QObject::destroyed, disc, &QObject::deleteLater);
  if (!progress->startPrepared(o, categoryText)) {
    disc->holdDisc(false);
    progress->close();
  }
  return progress;
}

void MainWindow::showHit(const catalog::ItemPath& category, long long itemNumber, const QString& path) {
  auto& doc = app_.library()->catalog();
  if (itemNumber < 0 || itemNumber > 65535) return;
  xmlNode* item = doc.item(category, static_cast<uint16_t>(itemNumber));
  if (!item) return;
  select(item);
  if (path.isEmpty()) return;
  std::vector<std::string> steps;
  for (const auto& s : path.split('\\', Qt::SkipEmptyParts)) steps.push_back(ss(s));
  // The deepest folder on the path that the listing has (an archive
  // member's path runs on inside its archive), with its entry selected.
  for (size_t keep = steps.size(); keep-- > 0;) {
    std::vector<std::string> folder(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(keep));
    openFolder(folder);
    for (int r = 0; r < sorted_->rowCount(); ++r) {
      if (sorted_->index(r, 0).data().toString() == qs(steps[keep])) {
        list_->setCurrentIndex(sorted_->index(r, 0));
        list_->scrollTo(sorted_->index(r, 0));
        return;
      }
    }
  }
}

// ------------------------------------------------------------------ edits

void MainWindow::renameSelected() {
  if (busy_) return;
  QModelIndex index = tree_->currentIndex();
  if (index.isValid() && index.parent().isValid()) tree_->edit(index);
}

void MainWindow::deleteSelected() {
  if (busy_) return;
  xmlNode* n = libraryModel_->node(tree_->currentIndex());
  auto* lib = app_.library();
  if (!n || !lib || n == lib->catalog().root()) return;
  bool category = CatalogDocument::isCategory(n);
  QString name = qs(lib->catalog().field(n, category ? catalog::kCategoryName : catalog::kLabel));
  QString question = text(app_, category ? app::kTextConfirmDeleteCategory : app::kTextConfirmDeleteItem, {name});
  if (QMessageBox::question(this, "Tamber+", question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) !=
      QMessageBox::Yes) {
    return;
  }
  xmlNode* parent = n->parent;
  if (Status st = lib->remove(n); !st) {
    error(qs(st.message()));
    return;
  }
  shown_ = nullptr;
  libraryModel_->reload();
  tree_->expandToDepth(0);
  select(parent);
  markModified();
}

void MainWindow::editItem() {
  if (busy_) return;
  if (!shown_ || !CatalogDocument::isItem(shown_)) return;
  ItemDialog d(app_, shown_, this);
  if (d.exec() != QDialog::Accepted) return;
  page_->setHtml(itemPage(app_, *app_.library(), shown_));
  updateTitle();
}

void MainWindow::showCover(xmlNode* item) {
  QPixmap picture;
  auto bytes = item ? app_.library()->cover(item) : Result<std::string>(Error{Errc::not_found, ""});
  if (bytes) picture.loadFromData(QByteArray::fromStdString(*bytes));
  if (picture.isNull()) {
    cover_->setPixmap({});
    cover_->setText(item ? text(app_, kNoCover) : QString());
    return;
  }
  QSize box = cover_->size().boundedTo(QSize(512, 512)).expandedTo(QSize(160, 160));
  qreal ratio = cover_->devicePixelRatioF();
  QPixmap scaled = picture.scaled(box * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  scaled.setDevicePixelRatio(ratio);
  cover_->setPixmap(scaled);
}

void MainWindow::setCover() {
  if (busy_) return;
  if (!shown_ || !CatalogDocument::isItem(shown_)) return;
  QString f = QFileDialog::getOpenFileName(this, text(app_, kSetCover).remove('&').remove(QChar(0x2026)), QString(),
                                           text(app_, kPictureFiles));
  if (f.isEmpty()) return;
  if (Status st = app_.library()->setCover(shown_, std::filesystem::path(ss(f))); !st) {
    error(qs(st.message()));
    return;
  }
  showCover(shown_);
  markModified();
}

void MainWindow::newCategory() {
  if (busy_) return;
  auto* lib = app_.library();
  if (!lib || lib->readOnly()) return;
  xmlNode* at = libraryModel_->node(tree_->currentIndex());
  if (!at) at = lib->catalog().root();
  if (CatalogDocument::isItem(at)) at = at->parent;
  bool ok = false;
  QString name = QInputDialog::getText(this, "Tamber+", text(app_, kNewCategoryName), QLineEdit::Normal, {}, &ok)
                     .trimmed();
  if (!ok || name.isEmpty()) return;
  auto& doc = lib->catalog();
  catalog::ItemPath parent = at == doc.root() ? catalog::ItemPath{} : doc.parentPath(at);
  if (at != doc.root()) parent.push_back(CatalogDocument::numberOf(at));
  auto number = doc.addCategory(parent, ss(name), "");
  if (!number) {
    error(qs(number.message()));
    return;
  }
  libraryModel_->reload();
  tree_->expandToDepth(0);
  parent.push_back(*number);
  select(doc.category(parent));
  markModified();
}

// ----------------------------------------------------- placement, shutdown

void MainWindow::restorePlacement() {
  auto& s = app_.settings();
  QRect fallback(0, 0, 1100, 720);
  if (QScreen* screen = QApplication::primaryScreen()) {
    fallback.moveCenter(screen->availableGeometry().center());
  }
  int l = s.getInt("window_size", "window_leftPos", kUnset), t = s.getInt("window_size", "window_topPos", kUnset);
  int r = s.getInt("window_size", "window_rightPos", kUnset), b = s.getInt("window_size", "window_bottomPos", kUnset);
  bool saved = l != kUnset && t != kUnset && r != kUnset && b != kUnset && b - t > 100;
  setGeometry(saved ? QRect(QPoint(l, t), QPoint(r - 1, b - 1)) : fallback);
  if (s.getInt("window_size", "maximized", 0) != 0) setWindowState(windowState() | Qt::WindowMaximized);
  // The frame's size right after creation.
  s.putInt("window_size", "cx_win_af", frameGeometry().width());
  s.putInt("window_size", "cy_win_af", frameGeometry().height());
}

// The docking bars' layout under the profile "BarState": a summary section
// (how many bars, the screen's size when saved) and a section per bar with
// its id, whether it shows and floats, where it docks and its size.
namespace {

Qt::DockWidgetArea areaOf(int code) {
  switch (code) {
    case 1: return Qt::TopDockWidgetArea;
    case 2: return Qt::RightDockWidgetArea;
    case 3: return Qt::BottomDockWidgetArea;
    default: return Qt::LeftDockWidgetArea;
  }
}

int codeOf(Qt::DockWidgetArea area) {
  switch (area) {
    case Qt::TopDockWidgetArea: return 1;
    case Qt::RightDockWidgetArea: return 2;
    case Qt::BottomDockWidgetArea: return 3;
    default: return 0;
  }
}

}  // namespace

void MainWindow::restoreBars() {
  auto& s = app_.settings();
  int bars = s.getInt("BarState-Summary", "Bars", 0);
  QDockWidget* docks[] = {dock_, coverDock_};
  for (int i = 0; i < bars && i < 2; ++i) {
    std::string section = "BarState-Bar" + std::to_string(i);
    int id = s.getInt(section, "BarID", -1);
    if (id < 0 || id > 1) continue;
    QDockWidget* d = docks[id];
    addDockWidget(areaOf(s.getInt(section, "Docking", 0)), d);
    d->setFloating(s.getInt(section, "Floating", 0) != 0);
    int x = s.getInt(section, "XPos", -1), y = s.getInt(section, "YPos", -1);
    int w = s.getInt("BarState-SCBar-" + std::to_string(id), "sizeFloatCX", 0);
    int h = s.getInt("BarState-SCBar-" + std::to_string(id), "sizeFloatCY", 0);
    if (d->isFloating() && x >= 0 && y >= 0 && w > 50 && h > 50) d->setGeometry(x, y, w, h);
    int size = s.getInt("BarState-SCBar-" + std::to_string(id), "sizeVertCY", 0);
    if (!d->isFloating() && size > 50) resizeDocks({d}, {size}, Qt::Vertical);
    d->setVisible(s.getInt(section, "Visible", 1) != 0);
  }
}

void MainWindow::storeBars() {
  auto& s = app_.settings();
  QDockWidget* docks[] = {dock_, coverDock_};
  s.putInt("BarState-Summary", "Bars", 2);
  if (QScreen* screen = QApplication::primaryScreen()) {
    s.putInt("BarState-Summary", "ScreenCX", screen->size().width());
    s.putInt("BarState-Summary", "ScreenCY", screen->size().height());
  }
  for (int id = 0; id < 2; ++id) {
    QDockWidget* d = docks[id];
    std::string section = "BarState-Bar" + std::to_string(id);
    s.putInt(section, "BarID", id);
    s.putInt(section, "Visible", d->isHidden() ? 0 : 1);
    s.putInt(section, "Horz", 0);
    s.putInt(section, "Floating", d->isFloating() ? 1 : 0);
    s.putInt(section, "Docking", codeOf(dockWidgetArea(d)));
    s.putInt(section, "XPos", d->isFloating() ? d->x() : -1);
    s.putInt(section, "YPos", d->isFloating() ? d->y() : -1);
    std::string sizes = "BarState-SCBar-" + std::to_string(id);
    s.putInt(sizes, "sizeVertCX", d->width());
    s.putInt(sizes, "sizeVertCY", d->height());
    s.putInt(sizes, "sizeFloatCX", d->width());
    s.putInt(sizes, "sizeFloatCY", d->height());
  }
}

void MainWindow::storePlacement() {
  auto& s = app_.settings();
  s.putInt("window_size", "maximized", isMaximized() ? 1 : 0);
  QRect r = isMaximized() ? normalGeometry() : geometry();
  s.putInt("window_size", "window_leftPos", r.left());
  s.putInt("window_size", "window_topPos", r.top());
  s.putInt("window_size", "window_rightPos", r.right() + 1);
  s.putInt("window_size", "window_bottomPos", r.bottom() + 1);
}

// Column widths per kind of list: "cx_listctrl_cols/<list>", items "cx_d".
void MainWindow::restoreColumns() {
  const char* name = content_->showsFolder() ? "cx_listctrl_cols/files" : "cx_listctrl_cols/items";
  auto widths = app_.settings().getList(name, "cx_d");
  // Until the user sizes them: wide enough for a name, a time or a number.
  static const int folderWidths[] = {300, 100, 150, 80, 170, 150, 150, 90};
  static const int itemWidths[] = {260, 190, 80, 80, 90, 150};
  const int* fallback = content_->showsFolder() ? folderWidths : itemWidths;
  for (int i = 0; i < content_->columnCount(); ++i) {
    int w = i < static_cast<int>(widths.size()) ? std::atoi(widths[static_cast<size_t>(i)].c_str()) : 0;
    list_->setColumnWidth(i, w > 10 ? w : fallback[i]);
  }
}

void MainWindow::storeColumns() {
  if (content_->columnCount() == 0 || (!shown_ && !content_->showsFolder())) return;
  const char* name = content_->showsFolder() ? "cx_listctrl_cols/files" : "cx_listctrl_cols/items";
  std::vector<std::string> widths;
  for (int i = 0; i < content_->columnCount(); ++i) widths.push_back(std::to_string(list_->columnWidth(i)));
  app_.settings().putList(name, "cx_d", widths);
}

bool MainWindow::shutdown() {
  if (shutDown_) return true;
  storeColumns();
  storePlacement();
  storeBars();
  if (Status st = app_.shutdown(); !st) {
    error(qs(st.message()));
    return false;
  }
  shutDown_ = true;
  return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (adding_) {
    // A job still running is cancelled: it leaves the library as it was.
    adding_->setQuiet(true);
    adding_->cancel();
    delete adding_;
  }
  if (shutdown()) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace tamber::gui
