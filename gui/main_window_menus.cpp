// The main window's commands: the menus, the toolbar and the path bar, the
// context menus of its views, and the layout of its bars in the settings.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDockWidget>
#include <QFileDialog>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QStyle>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include "catalog/catalog_document.h"
#include "gui/content_model.h"
#include "gui/file_dialogs.h"
#include "gui/file_icons.h"
#include "gui/gui_text.h"
#include "gui/help_window.h"
#include "gui/library_model.h"
#include "gui/main_window.h"
#include "gui/player_bar.h"
#include "gui/texts.h"
#include "gui/quick_find.h"

namespace tamber::gui {

namespace {

using catalog::CatalogDocument;

struct ActionSpec {
  const char* name;
  int text;
  QKeySequence keys;
  bool changing;  // off while a job writes the library
};

}  // namespace

QAction* MainWindow::action(const char* name) const { return actions_.value(QString::fromLatin1(name)); }

void MainWindow::createActions() {
  QStyle* style = QApplication::style();
  const ActionSpec specs[] = {
      {"open", kOpenLibrary, QKeySequence::Open, true},
      {"new", kNewLibrary, QKeySequence::New, true},
      {"save", kSave, QKeySequence::Save, true},
      {"exportXml", kExportXml, {}, false},
      {"exportLibrary", kExportLibrary, {}, false},
      {"importLibrary", kImportLibrary, {}, true},
      {"exportCsv", kExportCsv, {}, false},
      {"exportHtml", kExportHtml, {}, false},
      {"report", kReportMenu, QKeySequence::Print, false},
      {"exit", kExit, QKeySequence::Quit, false},
      {"undo", kUndoPlain, QKeySequence(Qt::CTRL | Qt::Key_Z), true},
      {"redo", kRedoPlain, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), true},
      {"rename", kRename, QKeySequence(Qt::Key_F2), true},
      {"delete", kDelete, QKeySequence::Delete, true},
      {"newCategory", kNewCategory, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N), true},
      {"edit", kEditItem, QKeySequence(Qt::ALT | Qt::Key_Return), true},
      {"cover", kSetCover, {}, true},
      {"copyPath", kCopyPath, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), false},
      {"saveThumbnail", kSaveThumbnail, {}, false},
      {"viewIcons", kIconsView, QKeySequence(Qt::CTRL | Qt::Key_1), false},
      {"viewDetails", kDetailsView, QKeySequence(Qt::CTRL | Qt::Key_2), false},
      {"back", kBack, QKeySequence(Qt::ALT | Qt::Key_Left), false},
      {"forward", kForward, QKeySequence(Qt::ALT | Qt::Key_Right), false},
      {"up", kUp, QKeySequence(Qt::ALT | Qt::Key_Up), false},
      {"open entry", kOpen, {}, false},
      {"showInTree", kShowInTree, {}, false},
      {"updateItem", kUpdateItem, {}, true},
      {"addFolder", kAddFolder, QKeySequence(Qt::CTRL | Qt::Key_D), true},
      {"addDisc", kAddDisc, {}, true},
      {"find", kFind, QKeySequence::Find, false},
      // Reads every listing: not while a job writes one.
      {"findDuplicates", app::kTextFindDuplicates, {}, true},
      {"sharedCatalogue", kSharedCatalogue, {}, false},
      {"verifyItem", app::kTextVerifyAction, {}, true},
      {"compareItem", app::kTextCompareAction, {}, true},
      {"preferences", kPreferences, {}, false},
      {"help", kHelpContents, QKeySequence::HelpContents, false},
      {"about", kAbout, {}, false},
  };
  for (const auto& spec : specs) {
    auto* a = new QAction(this);
    a->setObjectName(spec.name);
    a->setData(spec.text);
    if (!spec.keys.isEmpty()) a->setShortcut(spec.keys);
    if (spec.changing) changing_.push_back(a);
    addAction(a);  // its keys work whatever menu or bar shows it
    actions_.insert(spec.name, a);
  }
  // Backspace goes up too, as in file managers; redo answers Ctrl+Y as well.
  action("up")->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_Up), QKeySequence(Qt::Key_Backspace)});
  action("redo")->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  action("open")->setIcon(style->standardIcon(QStyle::SP_DialogOpenButton));
  action("save")->setIcon(style->standardIcon(QStyle::SP_DialogSaveButton));
  action("back")->setIcon(style->standardIcon(QStyle::SP_ArrowBack));
  action("forward")->setIcon(style->standardIcon(QStyle::SP_ArrowForward));
  action("up")->setIcon(style->standardIcon(QStyle::SP_ArrowUp));
  action("addFolder")->setIcon(style->standardIcon(QStyle::SP_FileDialogNewFolder));
  action("addDisc")->setIcon(FileIcons::item(0));
  action("find")->setIcon(style->standardIcon(QStyle::SP_FileDialogContentsView));
  action("viewIcons")->setIcon(style->standardIcon(QStyle::SP_FileDialogListView));
  action("viewDetails")->setIcon(style->standardIcon(QStyle::SP_FileDialogDetailedView));
  action("undo")->setIcon(QIcon::fromTheme("edit-undo", FileIcons::bundled("undo")));
  action("redo")->setIcon(QIcon::fromTheme("edit-redo", FileIcons::bundled("redo")));
  action("report")->setIcon(QIcon::fromTheme("document-print", FileIcons::bundled("report")));
  auto* group = new QActionGroup(this);
  for (const char* name : {"viewIcons", "viewDetails"}) {
    action(name)->setCheckable(true);
    group->addAction(action(name));
  }
  action("viewDetails")->setChecked(true);

  connect(action("open"), &QAction::triggered, this, &MainWindow::chooseLibrary);
  connect(action("new"), &QAction::triggered, this, &MainWindow::chooseNewLibrary);
  connect(action("save"), &QAction::triggered, this, [this] {
    beforeChange();
    if (Status st = app_.saveLibrary(); !st) error(qs(st.message()));
    updateTitle();
  });
  // A file to write is asked for with its extension given before the
  // question whether to replace it.
  auto writeTo = [this](int title, const QString& filter, const QString& suffix, bool (MainWindow::*run)(const QString&)) {
    return [=, this] {
      QString f = chooseFileToWrite(this, app_, text(app_, title).remove('&'), filter + ";;" + text(app_, kAllFiles) + " (*)",
                                    suffix, libraryFolder());
      if (!f.isEmpty()) (this->*run)(f);
    };
  };
  connect(action("exportXml"), &QAction::triggered, this, &MainWindow::exportXml);
  connect(action("exportLibrary"), &QAction::triggered, this, [this, writeTo] {
    writeTo(kExportLibrary, text(app_, kLibraryFiles), ".cds", &MainWindow::exportLibraryTo)();
  });
  connect(action("exportCsv"), &QAction::triggered, this,
          [this, writeTo] { writeTo(kExportCsv, text(app_, kCsvFiles) + " (*.csv)", ".csv", &MainWindow::exportCsvTo)(); });
  connect(action("exportHtml"), &QAction::triggered, this, [this] {
    QString f = QFileDialog::getExistingDirectory(this, text(app_, kExportHtml).remove('&'), libraryFolder());
    if (!f.isEmpty()) exportHtmlTo(f);
  });
  connect(action("importLibrary"), &QAction::triggered, this, [this] {
    QString f = QFileDialog::getOpenFileName(this, text(app_, kImportLibrary).remove('&'), libraryFolder(),
                                             text(app_, kLibraryFiles) + ";;" + text(app_, kAllFiles) + " (*)");
    if (!f.isEmpty()) importLibraryFrom(f);
  });
  connect(action("report"), &QAction::triggered, this, [this] { report(); });
  connect(action("exit"), &QAction::triggered, this, &QWidget::close);
  connect(action("undo"), &QAction::triggered, this, [this] { undo(); });
  connect(action("redo"), &QAction::triggered, this, [this] { redo(); });
  connect(action("rename"), &QAction::triggered, this, &MainWindow::renameSelected);
  connect(action("delete"), &QAction::triggered, this, &MainWindow::deleteSelected);
  connect(action("newCategory"), &QAction::triggered, this, &MainWindow::newCategory);
  connect(action("edit"), &QAction::triggered, this, &MainWindow::editItem);
  connect(action("cover"), &QAction::triggered, this, &MainWindow::setCover);
  connect(action("copyPath"), &QAction::triggered, this, &MainWindow::copyPath);
  connect(action("saveThumbnail"), &QAction::triggered, this, &MainWindow::saveThumbnail);
  connect(action("viewIcons"), &QAction::triggered, this, [this] { showIcons(true); });
  connect(action("viewDetails"), &QAction::triggered, this, [this] { showIcons(false); });
  connect(action("back"), &QAction::triggered, this, &MainWindow::goBack);
  connect(action("forward"), &QAction::triggered, this, &MainWindow::goForward);
  connect(action("up"), &QAction::triggered, this, &MainWindow::goUp);
  connect(action("open entry"), &QAction::triggered, this, [this] {
    QWidget* f = focusWidget();
    if (f == tree_) {
      // The element's contents, with the focus on the list.
      currentView()->setFocus();
      return;
    }
    QModelIndex current = currentView()->currentIndex();
    if (current.isValid()) activateRow(sorted_->mapToSource(current).row());
  });
  connect(action("showInTree"), &QAction::triggered, this, [this] {
    if (xmlNode* n = target()) {
      select(n);
      tree_->setFocus();
    }
  });
  connect(action("updateItem"), &QAction::triggered, this, [this] {
    xmlNode* n = target();
    if (n && CatalogDocument::isItem(n)) addFolder(n);
  });
  connect(action("addFolder"), &QAction::triggered, this, [this] { addFolder(); });
  connect(action("addDisc"), &QAction::triggered, this, [this] { addDisc(); });
  connect(action("find"), &QAction::triggered, this, [this] { find(); });
  connect(action("findDuplicates"), &QAction::triggered, this, [this] { findDuplicates(); });
  connect(action("sharedCatalogue"), &QAction::triggered, this, [this] { sharedCatalogue(); });
  connect(action("verifyItem"), &QAction::triggered, this, [this] {
    xmlNode* n = target();
    if (n && CatalogDocument::isItem(n)) verifyItem(n);
  });
  connect(action("compareItem"), &QAction::triggered, this, [this] {
    xmlNode* n = target();
    if (!n || !CatalogDocument::isItem(n)) return;
    QString folder = QFileDialog::getExistingDirectory(this, plain(text(app_, app::kTextCompareAction)));
    if (!folder.isEmpty()) verifyItem(n, folder);
  });
  connect(action("preferences"), &QAction::triggered, this, &MainWindow::preferences);
  connect(action("help"), &QAction::triggered, this, [this] { showHelp(this, app_); });
  connect(action("about"), &QAction::triggered, this, [this] {
    QMessageBox::about(this, "Tamber+", text(app_, kAboutText, {QApplication::applicationVersion()}));
  });
}

void MainWindow::translateActions() {
  for (QAction* a : std::as_const(actions_)) a->setText(text(app_, a->data().toInt()));
}

void MainWindow::buildBars() {
  if (actions_.isEmpty()) createActions();
  translateActions();
  if (!toolBar_) {
    toolBar_ = new QToolBar(this);
    toolBar_->setObjectName("toolBar");
    toolBar_->setIconSize(QSize(22, 22));
    for (const char* name : std::initializer_list<const char*>{"open", "save", nullptr, "undo", "redo", nullptr,
                                                               "addFolder", "addDisc", "find", "report", nullptr,
                                                               "viewIcons", "viewDetails"}) {
      if (name) {
        toolBar_->addAction(action(name));
      } else {
        toolBar_->addSeparator();
      }
    }
    // Names searched as they are typed, at the end of the toolbar.
    quickFind_ = new QuickFind(app_, this);
    toolBar_->addSeparator();
    toolBar_->addWidget(quickFind_);
    connect(quickFind_, &QuickFind::showResult, this, &MainWindow::showHit);
    addToolBar(Qt::TopToolBarArea, toolBar_);
    addToolBarBreak(Qt::TopToolBarArea);
    pathBar_ = new QToolBar(this);
    pathBar_->setObjectName("pathBar");
    pathBar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    pathBar_->addAction(action("back"));
    pathBar_->addAction(action("forward"));
    pathBar_->addAction(action("up"));
    pathBar_->addSeparator();
    for (QAction* a : {action("back"), action("forward"), action("up")}) {
      if (auto* w = pathBar_->widgetForAction(a)) {
        if (auto* b = qobject_cast<QToolButton*>(w)) b->setToolButtonStyle(Qt::ToolButtonIconOnly);
      }
    }
    addToolBar(Qt::TopToolBarArea, pathBar_);
  }
  quickFind_->retranslate();
  toolBar_->setWindowTitle(text(app_, kToolBar));
  pathBar_->setWindowTitle(text(app_, kPathBar));
  updatePathBar();
}

void MainWindow::buildMenus() {
  menuBar()->clear();
  qDeleteAll(menus_);
  menus_.clear();
  auto menu = [this](int title) {
    QMenu* m = menuBar()->addMenu(text(app_, title));
    m->setToolTipsVisible(true);  // why a command is off (setBusy)
    menus_.push_back(m);
    return m;
  };
  auto add = [this](QMenu* m, std::initializer_list<const char*> names) {
    for (const char* name : names) {
      if (name) {
        m->addAction(action(name));
      } else {
        m->addSeparator();
      }
    }
  };
  QMenu* file = menu(kFileMenu);
  add(file, {"open", "new", "save"});
  recent_ = file->addMenu(text(app_, kRecent));
  fillRecent();
  add(file, {nullptr, "exportXml", "exportLibrary", "importLibrary", "exportCsv", "exportHtml", "report", nullptr, "exit"});

  QMenu* edit = menu(kEditMenu);
  add(edit, {"undo", "redo", nullptr, "rename", "delete", "newCategory", "edit", "cover", nullptr, "copyPath",
             "saveThumbnail"});

  QMenu* view = menu(kViewMenu);
  add(view, {"viewIcons", "viewDetails", nullptr});
  view->addAction(toolBar_->toggleViewAction());
  view->addAction(pathBar_->toggleViewAction());
  dock_->setWindowTitle(text(app_, kContentsBar));
  view->addAction(dock_->toggleViewAction());
  coverDock_->setWindowTitle(text(app_, kCover));
  view->addAction(coverDock_->toggleViewAction());
  playerDock_->setWindowTitle(text(app_, kPlayer));
  view->addAction(playerDock_->toggleViewAction());
  player_->retranslate();

  QMenu* go = menu(kGoMenu);
  add(go, {"back", "forward", "up"});

  QMenu* tools = menu(kToolsMenu);
  add(tools, {"addFolder", "addDisc", "updateItem", "verifyItem", "compareItem", "find", "findDuplicates", "sharedCatalogue", nullptr,
              "preferences"});

  QMenu* language = menu(kLanguageMenu);
  for (auto [code, name] : {std::pair{"en", "English"}, {"fr", "Français"}, {"it", "Italiano"}}) {
    QAction* a = language->addAction(QString::fromUtf8(name), this, [this, c = QString(code)] { switchLanguage(c); });
    a->setCheckable(true);
    a->setChecked(app_.language().code() == code);
  }

  QMenu* help = menu(kHelpMenu);
  add(help, {"help", "about"});
  setBusy(busy_);
}

void MainWindow::setBusy(bool busy) {
  busy_ = busy;
  libraryModel_->setLocked(busy);
  content_->setEditable(!busy);
  // A disabled command says why while a job writes the library.
  for (QAction* a : changing_) {
    a->setEnabled(!busy);
    a->setToolTip(busy ? text(app_, kJobWriting) : QString());
    a->setStatusTip(busy ? text(app_, kJobWriting) : QString());
  }
  if (recent_) recent_->setEnabled(!busy && !recent_->isEmpty());
  updateActions();
}

void MainWindow::fillRecent() {
  recent_->clear();
  for (const auto& path : app_.recent().entries()) {
    recent_->addAction(qs(app::RecentLibraryList::caption(path)), this, [this, p = qs(path)] { openLibrary(p); });
  }
  recent_->setEnabled(!busy_ && !recent_->isEmpty());
}

void MainWindow::updateActions() {
  if (actions_.isEmpty()) return;
  auto* lib = app_.library();
  bool writable = lib && !lib->readOnly() && !busy_;
  xmlNode* t = target();
  bool element = t && lib && t != lib->catalog().root();
  bool item = element && CatalogDocument::isItem(t);
  action("undo")->setEnabled(writable && undo_.canUndo());
  action("redo")->setEnabled(writable && undo_.canRedo());
  action("undo")->setText(undo_.canUndo() ? text(app_, kUndoStep, {qs(undo_.undoLabel())}) : text(app_, kUndoPlain));
  action("redo")->setText(undo_.canRedo() ? text(app_, kRedoStep, {qs(undo_.redoLabel())}) : text(app_, kRedoPlain));
  action("rename")->setEnabled(writable && element);
  action("delete")->setEnabled(writable && element);
  action("edit")->setEnabled(writable && item);
  action("cover")->setEnabled(writable && item);
  action("updateItem")->setEnabled(writable && item && catalog::isFolderKind(lib->catalog().itemKind(t)));
  // Reading a folder again never changes the library.
  action("verifyItem")->setEnabled(lib && !busy_ && item && lib->catalog().itemKind(t) != catalog::kKindAudioCd);
  action("compareItem")->setEnabled(lib && !busy_ && item && lib->catalog().itemKind(t) != catalog::kKindAudioCd);
  action("newCategory")->setEnabled(writable);
  action("back")->setEnabled(!back_.empty());
  action("forward")->setEnabled(!forward_.empty());
  action("up")->setEnabled(lib && shown_ && !(current_ == Location{}));
  QModelIndex current = currentView()->currentIndex();
  int row = current.isValid() ? sorted_->mapToSource(current).row() : -1;
  action("saveThumbnail")->setEnabled(focusWidget() != tree_ && row >= 0 && !content_->thumbnail(row).isNull());
}

QString MainWindow::pathText(const Location& at, const std::string& entry) const {
  if (!app_.library()) return {};
  auto& doc = app_.library()->catalog();
  QStringList parts;
  xmlNode* n = nodeOf(at);
  for (xmlNode* up = n; up && up != doc.root(); up = up->parent) {
    parts.prepend(qs(doc.field(up, CatalogDocument::isItem(up) ? catalog::kLabel : catalog::kCategoryName)));
  }
  for (const auto& s : at.steps) parts << qs(s);
  for (const auto& s : at.inArchive) parts << qs(s);
  if (!entry.empty()) parts << qs(entry);
  return parts.join('/');
}

void MainWindow::updatePathBar() {
  if (!pathBar_) return;
  for (QAction* a : crumbs_) {
    pathBar_->removeAction(a);
    delete a;
  }
  crumbs_.clear();
  if (!app_.library()) return;
  // Every place from the library down to the one shown, each leading
  // there: the elements above the one shown, then its folders.
  auto& doc = app_.library()->catalog();
  std::vector<std::pair<QString, Location>> parts;
  std::vector<xmlNode*> chain;
  for (xmlNode* n = shown_; n && n != doc.root(); n = n->parent) chain.insert(chain.begin(), n);
  parts.push_back({text(app_, kLibrary), Location{}});
  for (xmlNode* n : chain) {
    bool item = CatalogDocument::isItem(n);
    parts.push_back({shown(doc.field(n, item ? catalog::kLabel : catalog::kCategoryName), 60), locationOf(n)});
  }
  if (current_.item >= 0 && !chain.empty()) {
    Location at = parts.back().second;
    for (size_t k = 0; k < current_.steps.size(); ++k) {
      at.steps.push_back(current_.steps[k]);
      at.archive = current_.archive && k + 1 == current_.steps.size();
      parts.push_back({shown(current_.steps[k], 60), at});
    }
    for (const auto& s : current_.inArchive) {
      at.inArchive.push_back(s);
      parts.push_back({shown(s, 60), at});
    }
  }
  for (size_t k = 0; k < parts.size(); ++k) {
    auto* a = new QAction(parts[k].first.replace('&', "&&") + (k + 1 < parts.size() ? "  ›" : ""), pathBar_);
    Location to = parts[k].second;
    connect(a, &QAction::triggered, this, [this, to] { go(to); });
    if (k + 1 == parts.size()) {
      QFont f = a->font();
      f.setBold(true);
      a->setFont(f);
    }
    pathBar_->addAction(a);
    crumbs_.push_back(a);
  }
}

QMenu* MainWindow::contextMenu(QWidget* view, const QPoint& at) {
  if (!app_.library()) return nullptr;
  auto* m = new QMenu(this);
  auto add = [&](std::initializer_list<const char*> names) {
    for (const char* name : names) {
      if (name) {
        m->addAction(action(name));
      } else {
        m->addSeparator();
      }
    }
  };
  view->setFocus();
  if (view == tree_) {
    // The element under the mouse becomes the selection the commands act on.
    QModelIndex index = tree_->indexAt(at);
    if (index.isValid()) tree_->setCurrentIndex(index);
    xmlNode* n = libraryModel_->node(tree_->currentIndex());
    if (!n) return delete m, nullptr;
    if (n == app_.library()->catalog().root()) {
      add({"newCategory", nullptr, "report", "exportCsv"});
    } else if (CatalogDocument::isItem(n)) {
      add({"open entry", "edit", "rename", "delete", "cover", "updateItem", "verifyItem", "compareItem", nullptr, "report", "exportCsv", "copyPath"});
    } else {
      add({"open entry", "newCategory", "rename", "delete", nullptr, "report", "exportXml", "exportLibrary",
           "exportCsv", "copyPath"});
    }
  } else if (view == list_ || view == icons_) {
    auto* v = static_cast<QAbstractItemView*>(view);
    QModelIndex index = v->indexAt(at);
    if (index.isValid()) v->setCurrentIndex(index);
    int row = index.isValid() ? sorted_->mapToSource(index).row() : -1;
    if (row < 0) {
      add({"up", "back", "forward", nullptr, "viewIcons", "viewDetails"});
      if (content_->showsFolder()) add({nullptr, "copyPath"});
    } else if (xmlNode* n = content_->nodeAt(row)) {
      if (CatalogDocument::isItem(n)) {
        add({"open entry", "showInTree", "edit", "rename", "delete", "cover", "updateItem", "verifyItem", "compareItem", nullptr, "report",
             "exportCsv", "copyPath"});
      } else {
        add({"open entry", "showInTree", "rename", "delete", nullptr, "report", "exportXml", "exportLibrary",
             "exportCsv", "copyPath"});
      }
    } else if (const scan::ListingEntry* e = content_->entryAt(row)) {
      if (e->folder || content_->isArchive(row)) add({"open entry"});
      add({"copyPath"});
      if (!content_->thumbnail(row).isNull()) add({"saveThumbnail"});
    }
  } else if (view == folders_) {
    QTreeWidgetItem* item = folders_->itemAt(at);
    if (item) folders_->setCurrentItem(item);
    add({"copyPath", nullptr, "up", "back", "forward"});
  } else {
    return delete m, nullptr;
  }
  updateActions();
  return m;
}

// The bars' layout under the profile "BarState": a summary section (how
// many bars, the screen's size when saved) and a section per bar with its
// id, whether it shows and floats, where it docks and its size. The docking
// bars are 0 (contents), 1 (cover) and 2 (player); the toolbar 3 and the
// path bar 4.
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

Qt::ToolBarArea toolAreaOf(int code) {
  switch (code) {
    case 0: return Qt::LeftToolBarArea;
    case 2: return Qt::RightToolBarArea;
    case 3: return Qt::BottomToolBarArea;
    default: return Qt::TopToolBarArea;
  }
}

int codeOf(Qt::ToolBarArea area) {
  switch (area) {
    case Qt::LeftToolBarArea: return 0;
    case Qt::RightToolBarArea: return 2;
    case Qt::BottomToolBarArea: return 3;
    default: return 1;
  }
}

}  // namespace

void MainWindow::restoreBars() {
  auto& s = app_.settings();
  int bars = s.getInt("BarState-Summary", "Bars", 0);
  QDockWidget* docks[] = {dock_, coverDock_, playerDock_};
  QToolBar* tools[] = {toolBar_, pathBar_};
  for (int i = 0; i < bars && i < 5; ++i) {
    std::string section = "BarState-Bar" + std::to_string(i);
    int id = s.getInt(section, "BarID", -1);
    if (id < 0 || id > 4) continue;
    std::string sizes = "BarState-SCBar-" + std::to_string(id);
    if (id >= 3) {
      QToolBar* t = tools[id - 3];
      addToolBar(toolAreaOf(s.getInt(section, "Docking", 1)), t);
      t->setVisible(s.getInt(section, "Visible", 1) != 0);
      continue;
    }
    QDockWidget* d = docks[id];
    if (s.has(section, "MRUFloatXPos") && s.has(section, "MRUFloatYPos")) {
      floatedAt_[d] = QPoint(s.getInt(section, "MRUFloatXPos", 0), s.getInt(section, "MRUFloatYPos", 0));
    }
    addDockWidget(areaOf(s.getInt(section, "Docking", id == 2 ? 3 : 0)), d);
    d->setFloating(s.getInt(section, "Floating", 0) != 0);
    int x = s.getInt(section, "XPos", -1), y = s.getInt(section, "YPos", -1);
    int w = s.getInt(sizes, "sizeFloatCX", 0), h = s.getInt(sizes, "sizeFloatCY", 0);
    if (d->isFloating() && x >= 0 && y >= 0 && w > 50 && h > 50) d->setGeometry(x, y, w, h);
    // A bar docked at a side keeps its width, one at the top or bottom its height.
    bool side = dockWidgetArea(d) == Qt::LeftDockWidgetArea || dockWidgetArea(d) == Qt::RightDockWidgetArea;
    int width = s.getInt(sizes, "sizeHorzCX", 0), height = s.getInt(sizes, "sizeVertCY", 0);
    if (!d->isFloating() && side && width > 50) resizeDocks({d}, {width}, Qt::Horizontal);
    if (!d->isFloating() && height > 50) resizeDocks({d}, {height}, Qt::Vertical);
    d->setVisible(s.getInt(section, "Visible", 1) != 0);
  }
}

void MainWindow::storeBars() {
  auto& s = app_.settings();
  QDockWidget* docks[] = {dock_, coverDock_, playerDock_};
  s.putInt("BarState-Summary", "Bars", 5);
  if (QScreen* screen = QApplication::primaryScreen()) {
    s.putInt("BarState-Summary", "ScreenCX", screen->size().width());
    s.putInt("BarState-Summary", "ScreenCY", screen->size().height());
  }
  for (int id = 0; id < 5; ++id) {
    std::string section = "BarState-Bar" + std::to_string(id);
    std::string sizes = "BarState-SCBar-" + std::to_string(id);
    s.putInt(section, "BarID", id);
    if (id >= 3) {
      QToolBar* t = id == 3 ? toolBar_ : pathBar_;
      s.putInt(section, "Visible", t->isHidden() ? 0 : 1);
      s.putInt(section, "Horz", 1);
      s.putInt(section, "Floating", t->isFloating() ? 1 : 0);
      s.putInt(section, "Docking", codeOf(toolBarArea(t)));
      continue;
    }
    QDockWidget* d = docks[id];
    // The most recent docked place (while docked) and floating place.
    if (d->isFloating()) {
      floatedAt_[d] = d->pos();
    } else {
      QRect r = d->geometry();
      s.putInt(section, "MRUDockID", codeOf(dockWidgetArea(d)));
      s.putInt(section, "MRUDockLeftPos", r.left());
      s.putInt(section, "MRUDockTopPos", r.top());
      s.putInt(section, "MRUDockRightPos", r.right() + 1);
      s.putInt(section, "MRUDockBottomPos", r.bottom() + 1);
    }
    if (floatedAt_.contains(d)) {
      s.putInt(section, "MRUFloatXPos", floatedAt_[d].x());
      s.putInt(section, "MRUFloatYPos", floatedAt_[d].y());
    }
    s.putInt(section, "MRUFloatStyle", 0);
    s.putInt(section, "Visible", d->isHidden() ? 0 : 1);
    s.putInt(section, "Horz", id == 2 ? 1 : 0);
    s.putInt(section, "Floating", d->isFloating() ? 1 : 0);
    s.putInt(section, "Docking", codeOf(dockWidgetArea(d)));
    s.putInt(section, "XPos", d->isFloating() ? d->x() : -1);
    s.putInt(section, "YPos", d->isFloating() ? d->y() : -1);
    s.putInt(section, "MRUWidth", d->width());
    s.putInt(sizes, "sizeHorzCX", d->width());
    s.putInt(sizes, "sizeHorzCY", d->height());
    s.putInt(sizes, "sizeVertCX", d->width());
    s.putInt(sizes, "sizeVertCY", d->height());
    s.putInt(sizes, "sizeFloatCX", d->width());
    s.putInt(sizes, "sizeFloatCY", d->height());
  }
}

}  // namespace tamber::gui
