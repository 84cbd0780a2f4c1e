#include "gui/main_window.h"

#include "gui/quick_find.h"
#include "gui/xml_export_dialog.h"

#include <QAction>
#include <QDir>
#include <QCheckBox>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTableView>
#include <QTextBrowser>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>

#include "app/csv_export.h"
#include "app/html_export.h"
#include "app/presentation.h"
#include "catalog/catalog_document.h"
#include "disc/track.h"
#include "exchange/exchange.h"
#include "scan/listing.h"
#include "gui/add_disc_dialog.h"
#include "gui/add_folder_dialog.h"
#include "gui/background_work.h"
#include "gui/content_model.h"
#include "gui/content_views.h"
#include "gui/file_icons.h"
#include "gui/find_dialog.h"
#include "gui/duplicates_dialog.h"
#include "gui/shared_catalogue_dialog.h"
#include "gui/verify_dialog.h"
#include "gui/gui_text.h"
#include "gui/library_model.h"
#include "gui/player_bar.h"
#include "gui/preferences_dialog.h"
#include "gui/property_page.h"
#include "gui/report_window.h"
#include "platform/atomic_file.h"
#include "storage/file_io.h"
#include "gui/texts.h"

namespace tamber::gui {

namespace {

using catalog::CatalogDocument;

constexpr int kUnset = 65535;  // a window position never stored
constexpr int kFolderRole = Qt::UserRole + 7;  // a folder item's name, not yet read below

}  // namespace

MainWindow::MainWindow(app::App& app, QWidget* parent) : QMainWindow(parent), app_(app) {
  libraryModel_ = new LibraryModel(app, this);
  libraryModel_->renamer = [this](xmlNode* n, const QString& name) { return renameNode(n, name); };
  libraryModel_->mover = [this](xmlNode* n, xmlNode* target) { return moveNode(n, target); };
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
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);
  tree_->setObjectName("libraryTree");

  list_ = new ContentTable;
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
  list_->setEditTriggers(QAbstractItemView::EditKeyPressed);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  list_->setObjectName("contentList");

  icons_ = new ThumbnailView;
  icons_->setModel(sorted_);
  icons_->setSelectionModel(list_->selectionModel());
  icons_->setContextMenuPolicy(Qt::CustomContextMenu);
  icons_->setObjectName("contentIcons");
  views_ = new QStackedWidget;
  views_->addWidget(list_);
  views_->addWidget(icons_);

  page_ = new QTextBrowser;
  page_->setOpenLinks(false);
  page_->setObjectName("propertyPage");

  auto* right = new QSplitter(Qt::Vertical);
  right->addWidget(views_);
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
  folders_->setContextMenuPolicy(Qt::CustomContextMenu);
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
  for (QDockWidget* d : {dock_, coverDock_}) {
    // A bar taken out of its dock floats where it floated last.
    connect(d, &QDockWidget::topLevelChanged, this, [this, d](bool floating) {
      if (floating && floatedAt_.contains(d)) d->move(floatedAt_[d]);
    });
  }

  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this](const QModelIndex& current) {
    if (navigating_) return;
    xmlNode* n = libraryModel_->node(current);
    if (!n || !app_.library()) return;
    Location to = locationOf(n);
    // The same element chosen again: its top, unless the list already shows it.
    if (n == shown_ && to.item < 0) return;
    shown_ = nullptr;  // shown afresh, whatever its number says
    navigating_ = true;
    go(to);
    navigating_ = false;
  });
  connect(libraryModel_, &LibraryModel::failed, this, &MainWindow::error);
  connect(content_, &ContentModel::folderRead, this, &MainWindow::showCounts);
  connect(content_, &ContentModel::renameRequested, this, [this](xmlNode* n, const QString& name) {
    // After the editor has closed: the rename reads the catalog afresh.
    QMetaObject::invokeMethod(this, [this, n, name] { renameNode(n, name); }, Qt::QueuedConnection);
  });
  connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& current) {
    if (current.isValid()) showEntry(sorted_->mapToSource(current).row());
    updateActions();
  });
  auto activate = [this](const QModelIndex& index) { activateRow(sorted_->mapToSource(index).row()); };
  connect(list_, &QTableView::activated, this, activate);
  connect(icons_, &QListView::activated, this, activate);
  connect(folders_, &QTreeWidget::itemExpanded, this, &MainWindow::expandFolder);
  connect(folders_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
    if (!current || !shown_ || !CatalogDocument::isItem(shown_)) return;
    std::vector<std::string> steps;
    for (QTreeWidgetItem* at = current; at && at->parent(); at = at->parent()) {
      steps.insert(steps.begin(), ss(at->data(0, kFolderRole).toString()));
    }
    if (steps != content_->steps() || !content_->showsFolder() || content_->showsArchive()) openFolder(steps);
  });
  for (QWidget* view : std::initializer_list<QWidget*>{tree_, list_, icons_, folders_}) {
    connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& at) {
      if (QMenu* m = contextMenu(view, at)) {
        m->setAttribute(Qt::WA_DeleteOnClose);
        QWidget* port = qobject_cast<QAbstractScrollArea*>(view) ? qobject_cast<QAbstractScrollArea*>(view)->viewport()
                                                                 : view;
        m->popup(port->mapToGlobal(at));
      }
    });
  }
  list_->installEventFilter(this);
  icons_->installEventFilter(this);
  // The Edit menu follows the view with the focus.
  connect(qApp, &QApplication::focusChanged, this, [this] { updateActions(); });

  useQtTexts(qs(app_.language().code()));
  buildBars();
  buildMenus();
  statusBar();
  restorePlacement();
  restoreBars();
  updateTitle();
}

MainWindow::~MainWindow() {
  // No search of the toolbar box may read the library past this point.
  if (quickFind_) quickFind_->finish();
  // The focus moves while the window is taken down: its actions go first.
  disconnect(qApp, nullptr, this, nullptr);
  actions_.clear();
}

// ---------------------------------------------------------------- library

QString MainWindow::libraryFolder() const {
  return app_.library() ? qs(app_.library()->path().parent_path().string()) : QString();
}

void MainWindow::libraryReplaced() {
  // Nothing of the library before may stay in the views: its catalog is gone.
  undo_.clear();
  back_.clear();
  forward_.clear();
  shown_ = nullptr;
  current_ = {};
  player_->setEntry(nullptr, {}, false);
  if (quickFind_) {
    quickFind_->box()->clear();
    quickFind_->search({});
  }
  content_->clear();
  folders_->clear();
  page_->clear();
  libraryModel_->reload();
  tree_->expandToDepth(0);
  if (app_.library()) go(locationOf(app_.library()->catalog().root()), false);
  fillRecent();
  updateTitle();
  updateActions();
}

bool MainWindow::openLibrary(const QString& path) {
  if (busy_) {
    // Another start handed us a library while a folder is being added.
    error(text(app_, kJobRunning));
    return false;
  }
  beforeChange();
  // The library open stays open and shown when the other cannot be opened.
  std::filesystem::path file(ss(path));
  if (Status st = app_.openLibrary(file); !st) {
    // Another program writes it: it is read meanwhile.
    storage::WriterInfo who = st.error().code == Errc::locked ? storage::describeWriter(file) : storage::WriterInfo{};
    if (!who.present || !app_.openLibrary(file, true)) {
      error(text(app_, kCannotOpen) + ":\n" + qs(st.message()));
      return false;
    }
    watchWriter(qs(app_.writerName(who)));
    libraryReplaced();
    return true;
  }
  watchWriter({});
  libraryReplaced();
  return true;
}

void MainWindow::watchWriter(const QString& writer) {
  writtenBy_ = writer;
  if (!watcher_) {
    watcher_ = new QFileSystemWatcher(this);
    reloadTimer_ = new QTimer(this);
    reloadTimer_->setSingleShot(true);
    reloadTimer_->setInterval(700);
    connect(watcher_, &QFileSystemWatcher::fileChanged, reloadTimer_, qOverload<>(&QTimer::start));
    connect(reloadTimer_, &QTimer::timeout, this, &MainWindow::writerCommitted);
    // A writer that ends without a last commit changes nothing a watcher sees.
    writerPoll_ = new QTimer(this);
    writerPoll_->setInterval(2000);
    connect(writerPoll_, &QTimer::timeout, this, [this] {
      if (app_.library() && !storage::describeWriter(app_.library()->path()).present) writerCommitted();
    });
  }
  if (!watcher_->files().isEmpty()) watcher_->removePaths(watcher_->files());
  reloadTimer_->stop();
  writerPoll_->stop();
  if (!writer.isEmpty() && app_.library()) {
    watcher_->addPath(qs(app_.library()->path().string()));
    writerPoll_->start();
  }
}

void MainWindow::writerCommitted() {
  auto* lib = app_.library();
  if (writtenBy_.isEmpty() || !lib || !lib->readOnly()) return;
  // Not while a search, a report or a dialog has the catalog: later.
  bool dialogOpen = false;
  for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) dialogOpen = dialogOpen || (w->isWindow() && w->isVisible());
  if (busy_ || dialogOpen || CatalogReading::any() || QApplication::activeModalWidget()) {
    reloadTimer_->start();
    return;
  }
  beforeChange();
  // Nothing of the catalog before stays in the views; the place shown does.
  Location at = current_;
  shown_ = nullptr;
  player_->setEntry(nullptr, {}, false);
  content_->clear();
  folders_->clear();
  storage::WriterInfo who = storage::describeWriter(lib->path());
  if (app_.reopenLibrary(who.present)) {
    undo_.clear();
    watchWriter(who.present ? writtenBy_ : QString());
  } else {
    reloadTimer_->start();
  }
  libraryModel_->reload();
  tree_->expandToDepth(0);
  reloadCatalog(at);
  updateTitle();
  updateActions();
}

bool MainWindow::newLibrary(const QString& path) {
  if (busy_) return false;
  beforeChange();
  if (Status st = app_.createLibrary(std::filesystem::path(ss(path))); !st) {
    error(qs(st.message()));
    return false;
  }
  watchWriter({});
  libraryReplaced();
  return true;
}

void MainWindow::handOver(const QString& path) {
  if (!path.isEmpty()) openLibrary(path);
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
}

void MainWindow::updateTitle() {
  QString title = qs(catalog::windowTitle(app_.library()));
  if (!writtenBy_.isEmpty()) title += " (" + text(app_, kReadOnlyWhileWritten, {writtenBy_}) + ")";
  setWindowTitle(title);
}

void MainWindow::markModified() {
  app_.library()->catalog().setModified();
  updateTitle();
  updateActions();
}

void MainWindow::error(const QString& message) {
  QMessageBox::warning(this, "Tamber+", qs(app::spokenText(app_.language(), message.toStdString())));
}

bool MainWindow::sayDamaged(const std::vector<std::string>& damaged) {
  if (damaged.empty()) return true;
  QStringList lines;
  for (const auto& d : damaged) lines << shown(d, 300);
  error(lines.join('\n'));
  return false;
}

void MainWindow::chooseLibrary() {
  QString f = QFileDialog::getOpenFileName(this, text(app_, kOpenLibrary).remove('&'), libraryFolder(),
                                           text(app_, kLibraryFiles) + ";;" + text(app_, kAllFiles) + " (*)");
  if (!f.isEmpty()) openLibrary(f);
}

void MainWindow::preferences() {
  PreferencesDialog d(app_, this);
  if (d.exec() != QDialog::Accepted) return;
  d.store();
  if (d.language() != qs(app_.language().code())) switchLanguage(d.language());
  if (Status st = app_.settings().save(); !st) error(qs(st.message()));
}

void MainWindow::switchLanguage(const QString& code) {
  if (Status st = app_.switchLanguage(ss(code)); !st) {
    error(qs(st.message()));
    return;
  }
  retranslate();
}

void MainWindow::retranslate() {
  useQtTexts(qs(app_.language().code()));
  buildBars();
  buildMenus();
  content_->retranslate();
  Location here = current_;
  shown_ = nullptr;
  libraryModel_->reload();
  tree_->expandToDepth(0);
  if (app_.library()) reloadCatalog(here);
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

void MainWindow::exportXml() {
  xmlNode* category = selectedCategory();
  if (!category) return;
  QString name = qs(app_.library()->catalog().field(category, catalog::kCategoryName));
  QString suggested = QDir(libraryFolder().isEmpty() ? QDir::homePath() : libraryFolder())
                          .filePath(QString(name).replace('/', '_') + ".xml");
  XmlExportDialog d(app_, shown(name), suggested, this);
  if (d.exec() == QDialog::Accepted) exportXmlTo(d.target(), d.options());
}

bool MainWindow::exportXmlTo(const QString& path, const exchange::XmlExportOptions& options) {
  xmlNode* category = selectedCategory();
  if (!category) return false;
  beforeChange();
  auto done = runInBackground<exchange::XmlExport>(
      this, text(app_, kExporting), text(app_, kCancel), [&](const StepFunction& step) {
        return exchange::exportXml(*app_.library(), category, ss(path), [&](int d, int t) { return step(d, t); },
                                   options);
      });
  if (!done) {
    error(qs(done.message()));
    return false;
  }
  statusBar()->showMessage(
      text(app_, app::kTextExportedXml,
           {path, qs(app::countedText(app_, static_cast<uint64_t>(done->items), app::kTextItemCount)),
            qs(app::countedText(app_, static_cast<uint64_t>(done->pictures), app::kTextCoverCount))}));
  return sayDamaged(done->damaged);
}

bool MainWindow::exportLibraryTo(const QString& path) {
  xmlNode* category = selectedCategory();
  if (!category) return false;
  beforeChange();
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
  statusBar()->showMessage(qs(app::exportedLibraryText(app_, app_.library()->catalog().field(category, catalog::kCategoryName),
                                                       ss(path), static_cast<uint64_t>(done->items))));
  return true;
}

bool MainWindow::importLibraryFrom(const QString& path) {
  auto* lib = app_.library();
  if (!lib || lib->readOnly() || busy_) return false;
  if (exchange::sameFile(ss(path), lib->path())) {
    error(text(app_, app::kTextSameLibrary));
    return false;
  }
  beforeChange();
  Location here = current_;
  auto recording = undo_.begin(*lib, ss(text(app_, kStepImport, {QFileInfo(path).fileName()})), {});
  exchange::Copied copied;
  Status st = runInBackground(this, text(app_, kImporting), text(app_, kCancel), [&](const StepFunction& step) {
    auto r = exchange::importLibrary(*lib, ss(path), nullptr, [&](int d, int t) { return step(d, t); }, &copied);
    return r ? Status() : Status(r.error());
  });
  // What was copied stays (each disc or folder whole), and the library is
  // marked changed; saving it is the user's choice, as for any edit. The
  // import is one step to undo, what it copied in all.
  if (recording) {
    if (Status kept = undo_.commit(*recording, *lib); !kept) error(qs(kept.message()));
  }
  shown_ = nullptr;
  libraryModel_->reload();
  tree_->expandToDepth(0);
  reloadCatalog(here);
  if (copied.items || copied.categories) markModified();
  if (!st) {
    error(qs(st.message()));
    return false;
  }
  statusBar()->showMessage(qs(app::importedLibraryText(app_, ss(path), static_cast<uint64_t>(copied.categories),
                                                       static_cast<uint64_t>(copied.items),
                                                       static_cast<uint64_t>(copied.relabelled))));
  return true;
}

ReportWindow* MainWindow::report() {
  if (!app_.library()) return nullptr;
  beforeChange();
  std::vector<xmlNode*> selection;
  xmlNode* n = target();
  if (!n) n = libraryModel_->node(tree_->currentIndex());
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
  if (!app_.library()) return false;
  if (!n) n = app_.library()->catalog().root();
  beforeChange();
  long long rows = 0;
  std::vector<std::string> damaged;
  Status st = runInBackground(this, text(app_, kExporting), text(app_, kCancel), [&](const StepFunction& step) {
    auto file = AtomicFile::begin(ss(path));
    if (!file) return Status(file.error());
    auto r = app::exportCsv(
        *app_.library(), {n}, [&](std::string_view bytes) { return file->write(bytes); },
        [&](long long r) { return step(r, 0); }, &damaged);
    if (!r) return Status(r.error());
    rows = *r;
    return file->commit();
  });
  if (!st) {
    error(qs(st.message()));
    return false;
  }
  statusBar()->showMessage(
      text(app_, app::kTextExportedCsv, {path, qs(app::countedText(app_, static_cast<uint64_t>(rows), app::kTextRowCount))}));
  return sayDamaged(damaged);
}

bool MainWindow::exportHtmlTo(const QString& folder) {
  if (!app_.library()) return false;
  xmlNode* n = libraryModel_->node(tree_->currentIndex());
  if (!n) n = app_.library()->catalog().root();
  beforeChange();
  app::HtmlExportOptions options;
  app::speakUsersLanguage(options, app_);
  if (QFileInfo::exists(QDir(folder).filePath(app::kHtmlExportMark))) {
    if (QMessageBox::question(this, "Tamber+", text(app_, kReplaceExport, {folder}), QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) != QMessageBox::Yes) {
      return false;
    }
    options.replace = true;
  }
  // A folder of other files is refused before any work.
  bool exists = false;
  if (Status st = app::checkHtmlTarget(ss(folder), options.replace, exists); !st) {
    error(qs(st.message()));
    return false;
  }
  app::HtmlExportStats stats;
  Status st = runInBackground(this, text(app_, kExporting), text(app_, kCancel), [&](const StepFunction& step) {
    auto r = app::exportHtml(*app_.library(), {n}, ss(folder), options, [&](long long e) { return step(e, 0); });
    if (!r) return Status(r.error());
    stats = std::move(*r);
    return Status{};
  });
  if (!st) {
    error(qs(st.message()));
    return false;
  }
  statusBar()->showMessage(text(app_, app::kTextExportedHtml,
                                {QDir(folder).filePath("index.html"),
                                 qs(app::countedText(app_, static_cast<uint64_t>(stats.items), app::kTextItemCount)),
                                 qs(app::groupedNumber(static_cast<uint64_t>(stats.entries), app_.language().code()))}));
  return sayDamaged(stats.damaged);
}

// --------------------------------------------------------------- showing

Location MainWindow::locationOf(xmlNode* node) const {
  Location at;
  if (!node || !app_.library()) return at;
  auto& doc = app_.library()->catalog();
  if (node == doc.root()) return at;
  at.category = doc.parentPath(node);
  if (CatalogDocument::isItem(node)) {
    at.item = CatalogDocument::numberOf(node);
  } else {
    at.category.push_back(CatalogDocument::numberOf(node));
  }
  return at;
}

xmlNode* MainWindow::nodeOf(const Location& at) const {
  if (!app_.library()) return nullptr;
  auto& doc = app_.library()->catalog();
  if (at.item >= 0) return at.item <= 65535 ? doc.item(at.category, static_cast<uint16_t>(at.item)) : nullptr;
  return at.category.empty() ? doc.root() : doc.category(at.category);
}

void MainWindow::select(xmlNode* node) {
  if (!node || !libraryModel_->indexOf(node).isValid()) return;
  shown_ = nullptr;
  Location to = locationOf(node);
  if (!(to == current_)) {
    back_.push_back(current_);
    forward_.clear();
  }
  showAt(to, node);
}

bool MainWindow::go(const Location& to, bool remember) {
  xmlNode* node = nodeOf(to);
  if (!node) return false;
  if (remember && !(to == current_) && shown_) {
    back_.push_back(current_);
    forward_.clear();
  }
  showAt(to, node);
  return true;
}

void MainWindow::goBack() { travel(true); }
void MainWindow::goForward() { travel(false); }

void MainWindow::travel(bool back) {
  auto& from = back ? back_ : forward_;
  auto& to = back ? forward_ : back_;
  while (!from.empty()) {
    Location there = from.back();
    from.pop_back();
    Location here = current_;
    if (go(there, false)) {
      to.push_back(here);
      updateActions();
      return;
    }
  }
}

void MainWindow::goUp() {
  if (!app_.library() || !shown_) return;
  Location up = current_;
  if (up.archive && !up.inArchive.empty()) {
    up.inArchive.pop_back();
  } else if (up.archive) {
    up.archive = false;
    up.steps.pop_back();
  } else if (up.item >= 0 && !up.steps.empty()) {
    up.steps.pop_back();
  } else if (up.item >= 0) {
    up.item = -1;
  } else if (!up.category.empty()) {
    up.category.pop_back();
  } else {
    return;
  }
  // Back at the place above, with where the window came from selected.
  std::string from = current_.archive && !current_.inArchive.empty() ? current_.inArchive.back()
                     : !current_.steps.empty()                      ? current_.steps.back()
                                                                    : std::string();
  xmlNode* fromNode = current_.steps.empty() && !current_.archive ? shown_ : nullptr;
  go(up);
  content_->finishReading();
  for (int r = 0; r < sorted_->rowCount(); ++r) {
    int row = sorted_->mapToSource(sorted_->index(r, 0)).row();
    const scan::ListingEntry* e = content_->entryAt(row);
    if ((e && !from.empty() && e->name == from) || (fromNode && content_->nodeAt(row) == fromNode)) {
      currentView()->setCurrentIndex(sorted_->index(r, 0));
      currentView()->scrollTo(sorted_->index(r, 0));
      break;
    }
  }
}

void MainWindow::showAt(const Location& at, xmlNode* node) {
  if (!node || !app_.library()) return;
  storeColumns();
  auto& lib = *app_.library();
  bool itemChanged = node != shown_;
  shown_ = node;
  current_ = at;
  // The tree follows without showing the element a second time.
  bool was = navigating_;
  navigating_ = true;
  QModelIndex index = libraryModel_->indexOf(node);
  tree_->setCurrentIndex(index);
  tree_->scrollTo(index);
  navigating_ = was;
  if (itemChanged) showCover(CatalogDocument::isItem(node) ? node : nullptr);
  player_->setEntry(nullptr, {}, false);
  if (CatalogDocument::isItem(node)) {
    page_->setHtml(itemPage(app_, lib, node));
    if (itemChanged || folders_->topLevelItemCount() == 0) fillFolders(node);
    Status st = at.archive ? content_->showArchive(node, at.steps, at.inArchive) : content_->showFolder(node, at.steps);
    followFolders(at.archive ? std::vector<std::string>(at.steps.begin(), at.steps.end() - 1) : at.steps);
    restoreColumns();
    if (!st) {
      statusBar()->showMessage(qs(st.message()));
    } else {
      showCounts();
    }
  } else {
    folders_->clear();
    content_->showCategory(node);
    restoreColumns();
    statusBar()->clearMessage();
    page_->setHtml(node == lib.catalog().root() ? libraryPage(app_, lib) : categoryPage(app_, lib, node));
  }
  content_->setEditable(!busy_);
  // Icons show a folder's files; a category's entries are listed.
  views_->setCurrentWidget(content_->showsFolder() && action("viewIcons") && action("viewIcons")->isChecked()
                               ? static_cast<QWidget*>(icons_)
                               : list_);
  updatePathBar();
  updateActions();
}

void MainWindow::showCounts() {
  long long folders = 0, files = 0;
  for (int r = 0; r < content_->rowCount(); ++r) (content_->entryAt(r)->folder ? folders : files) += 1;
  QString counts = counted(app_, folders, kFolderOne, kFolderMany) + ", " + counted(app_, files, kFileOne, kFileMany);
  statusBar()->showMessage(content_->reading() ? counts + " …" : counts);
}

void MainWindow::beforeChange() {
  content_->finishReading();
  if (quickFind_) quickFind_->finish();
}

void MainWindow::reloadCatalog(const Location& then) {
  // The nearest place that still exists: the folder, else the item, else
  // the categories above.
  Location to = then;
  shown_ = nullptr;
  if (go(to, false)) return;
  to.archive = false;
  to.inArchive.clear();
  to.steps.clear();
  if (go(to, false)) return;
  to.item = -1;
  while (!to.category.empty()) {
    if (go(to, false)) return;
    to.category.pop_back();
  }
  go(to, false);
}

void MainWindow::openFolder(const std::vector<std::string>& steps) {
  if (!shown_ || !CatalogDocument::isItem(shown_)) return;
  Location to = current_;
  to.steps = steps;
  to.archive = false;
  to.inArchive.clear();
  if (to == current_) {
    showAt(to, shown_);  // read afresh
    return;
  }
  back_.push_back(current_);
  forward_.clear();
  showAt(to, shown_);
}

void MainWindow::showEntry(int row) {
  auto& lib = *app_.library();
  if (const scan::ListingEntry* e = content_->entryAt(row)) {
    if (content_->showsArchive()) {
      player_->setEntry(nullptr, {}, false);
      page_->setHtml(memberPage(app_, lib, content_->item(), content_->steps(), content_->archiveSteps(), *e));
      return;
    }
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
    Location to = current_;
    if (content_->showsArchive()) {
      if (!e->folder) return;
      to.inArchive.push_back(e->name);
    } else if (e->folder) {
      to.steps.push_back(e->name);
    } else if (content_->isArchive(row)) {
      // An archive opens like a folder: its recorded members.
      to.steps.push_back(e->name);
      to.archive = true;
    } else {
      return;
    }
    go(to);
  } else if (xmlNode* n = content_->nodeAt(row)) {
    select(n);
  }
}

QAbstractItemView* MainWindow::currentView() const {
  return views_->currentWidget() == icons_ ? static_cast<QAbstractItemView*>(icons_) : list_;
}

void MainWindow::showIcons(bool icons) {
  if (QAction* a = action("viewIcons")) a->setChecked(icons);
  if (QAction* a = action("viewDetails")) a->setChecked(!icons);
  QModelIndex current = currentView()->currentIndex();
  views_->setCurrentWidget(icons && content_->showsFolder() ? static_cast<QWidget*>(icons_) : list_);
  if (current.isValid()) currentView()->scrollTo(current);
}

bool MainWindow::showsIcons() const { return views_->currentWidget() == icons_; }

void MainWindow::fillFolders(xmlNode* item) {
  folders_->clear();
  auto* top = new QTreeWidgetItem(folders_, {shown(app_.library()->catalog().field(item, catalog::kLabel))});
  top->setIcon(0, FileIcons::item(app_.library()->catalog().itemKind(item)));
  top->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  folders_->blockSignals(true);
  folders_->setCurrentItem(top);
  folders_->blockSignals(false);
  top->setExpanded(true);
}

void MainWindow::followFolders(const std::vector<std::string>& steps) {
  // The Contents bar selects the folder the list shows, opening the
  // folders on the way.
  QTreeWidgetItem* at = folders_->topLevelItem(0);
  if (!at) return;
  for (const auto& step : steps) {
    at->setExpanded(true);
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; i < at->childCount() && !next; ++i) {
      if (at->child(i)->data(0, kFolderRole).toString() == qs(step)) next = at->child(i);
    }
    if (!next) break;
    at = next;
  }
  folders_->blockSignals(true);
  folders_->setCurrentItem(at);
  folders_->blockSignals(false);
  folders_->scrollToItem(at);
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
  for (const auto& name : names) {
    auto* child = new QTreeWidgetItem(folder, {shown(name)});
    child->setData(0, kFolderRole, qs(name));
    child->setIcon(0, FileIcons::folder());
    child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  }
  if (names.empty()) folder->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

// ------------------------------------------------------------------- jobs

FindDialog* MainWindow::find() {
  // Also while a job writes the library: it files its item when the
  // search is done (CatalogReading).
  if (!app_.library()) return nullptr;
  beforeChange();
  auto* d = new FindDialog(app_, shown_, this);
  d->setAttribute(Qt::WA_DeleteOnClose);
  d->setWindowModality(Qt::WindowModal);
  connect(d, &FindDialog::showResult, this, &MainWindow::showHit);
  d->show();
  return d;
}

DuplicatesDialog* MainWindow::findDuplicates() {
  if (!app_.library() || busy_) return nullptr;
  beforeChange();
  auto* d = new DuplicatesDialog(app_, this);
  d->setAttribute(Qt::WA_DeleteOnClose);
  connect(d, &DuplicatesDialog::showResult, this, &MainWindow::showHit);
  d->show();
  return d;
}

SharedCatalogueDialog* MainWindow::sharedCatalogue() {
  auto* d = new SharedCatalogueDialog(app_, this);
  d->setAttribute(Qt::WA_DeleteOnClose);
  d->show();
  if (!d->address()->text().isEmpty()) d->connectToServer();
  return d;
}

VerifyDialog* MainWindow::verifyItem(xmlNode* item, const QString& folder) {
  if (!app_.library() || busy_ || !item) return nullptr;
  auto* d = new VerifyDialog(app_, item, folder, this);
  d->setAttribute(Qt::WA_DeleteOnClose);
  connect(d, &VerifyDialog::showResult, this, &MainWindow::showHit);
  d->show();
  return d;
}

AddFolderDialog* MainWindow::addFolder(xmlNode* update) {
  if (!app_.library() || busy_) return nullptr;
  if (app_.library()->readOnly()) {
    error(qs(app_.library()->path().string() + ": " + app_.text(app::kTextLibraryReadOnly)));
    return nullptr;
  }
  beforeChange();
  // The dialog leaves the window free: while it is open the library is
  // browsed, sorted and searched for nothing else, but not changed.
  auto* d = new AddFolderDialog(app_, update ? update : shown_, this);
  if (update) d->updateBox()->setChecked(true);
  d->setAttribute(Qt::WA_DeleteOnClose);
  adding_ = d;
  setBusy(true);
  connect(d, static_cast<void (QDialog::*)(int)>(&QDialog::finished), this, [this] { setBusy(false); });
  connect(d, &AddFolderDialog::finished, this, [this](bool done, const catalog::ItemPath& category, uint16_t number) {
    // What the job wrote is not a step of the undo history, and the steps
    // before it would take its item out of the catalog again.
    if (done) undo_.clear();
    shown_ = nullptr;
    libraryModel_->reload();
    tree_->expandToDepth(0);
    auto& doc = app_.library()->catalog();
    xmlNode* item = done ? doc.item(category, number) : nullptr;
    if (item) {
      select(item);
    } else {
      reloadCatalog(current_);
    }
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
  auto goes = connect(progress, &QObject::destroyed, disc, &QObject::deleteLater);
  progress->setQuiet(true);  // a job that cannot start is said by the disc's page
  if (!progress->startPrepared(o, categoryText)) {
    // A job that could not start (a category the library refuses) leaves
    // the disc's page open, to be mended.
    disc->holdDisc(false);
    disconnect(goes);
    QString why = progress->lastMessage();
    progress->close();
    disc->show();
    disc->tell(why);
    return nullptr;
  }
  progress->setQuiet(disc->quiet());
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
    content_->finishReading();
    for (int r = 0; r < sorted_->rowCount(); ++r) {
      if (sorted_->index(r, 0).data().toString() == qs(steps[keep])) {
        currentView()->setCurrentIndex(sorted_->index(r, 0));
        currentView()->scrollTo(sorted_->index(r, 0));
        return;
      }
    }
  }
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
  // A window that closed maximized opens maximized over the default
  // rectangle, which is also where it goes when made normal.
  bool maximized = s.getInt("window_size", "maximized", 0) != 0;
  setGeometry(saved && !maximized ? QRect(QPoint(l, t), QPoint(r - 1, b - 1)) : fallback);
  if (maximized) setWindowState(windowState() | Qt::WindowMaximized);
  // The frame's size right after creation.
  s.putInt("window_size", "cx_win_af", frameGeometry().width());
  s.putInt("window_size", "cy_win_af", frameGeometry().height());
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

void MainWindow::storeSettings() {
  storeColumns();
  storePlacement();
  storeBars();
}

bool MainWindow::shutdown() {
  if (shutDown_) return true;
  beforeChange();
  storeSettings();
  if (Status st = app_.shutdown(); !st) {
    error(qs(st.message()));
    return false;
  }
  shutDown_ = true;
  return true;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // The list would keep Backspace and Alt with the arrows for itself (a key
  // typed to find a name, a move of the cursor): the window's Back,
  // Forward and Up have them.
  if ((watched == list_ || watched == icons_) && event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    QKeySequence pressed(key->keyCombination());
    bool editing = list_->findChild<QLineEdit*>() && list_->findChild<QLineEdit*>()->hasFocus();
    for (const char* name : {"up", "back", "forward"}) {
      if (!editing && action(name) && action(name)->shortcuts().contains(pressed)) {
        event->ignore();
        return true;
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
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
