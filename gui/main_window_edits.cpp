// The main window's edits: rename, move, delete, new category, the fields
// and cover of a disc or folder, each recorded for undo; what they act on
// (the selection of the view that has the focus).
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTextBrowser>
#include <QTreeView>
#include <QTreeWidget>

#include "catalog/catalog_document.h"
#include "gui/content_model.h"
#include "gui/file_dialogs.h"
#include "gui/gui_text.h"
#include "gui/item_dialog.h"
#include "gui/library_model.h"
#include "gui/main_window.h"
#include "gui/property_page.h"
#include "gui/texts.h"
#include "platform/atomic_file.h"

namespace tamber::gui {

namespace {

using catalog::CatalogDocument;

std::string nameOf(const catalog::CatalogDocument& doc, const xmlNode* n) {
  return doc.field(n, CatalogDocument::isCategory(n) ? catalog::kCategoryName : catalog::kLabel);
}

}  // namespace

xmlNode* MainWindow::target() const {
  if (!app_.library()) return nullptr;
  QWidget* f = focusWidget();
  if (f == list_ || f == icons_) {
    // A file is no entry of the catalog: nothing to rename or delete.
    QModelIndex c = currentView()->currentIndex();
    return c.isValid() ? content_->nodeAt(sorted_->mapToSource(c).row()) : nullptr;
  }
  if (f == folders_) {
    // The Contents bar's top is the disc or folder; its folders are files' places.
    QTreeWidgetItem* c = folders_->currentItem();
    return c && !c->parent() ? shown_ : nullptr;
  }
  return libraryModel_->node(tree_->currentIndex());
}

std::string MainWindow::stepLabel(int id, const xmlNode* node) const {
  return ss(text(app_, id, {shown(nameOf(app_.library()->catalog(), node), 60)}));
}

bool MainWindow::renameNode(xmlNode* node, const QString& name) {
  beforeChange();
  auto* lib = app_.library();
  if (!lib || !node || busy_ || lib->readOnly() || node == lib->catalog().root()) return false;
  QString wanted = name.trimmed();
  if (wanted == qs(nameOf(lib->catalog(), node))) return false;
  if (wanted.isEmpty() || wanted.contains('/')) {
    error(text(app_, wanted.isEmpty() ? app::kTextNameEmpty : app::kTextNameHoldsSlash));
    return false;
  }
  Location here = current_;
  auto recording = undo_.begin(*lib, stepLabel(kStepRename, node), {});
  if (!lib->catalog().rename(node, ss(wanted))) {
    error(text(app_, app::kTextCategoryNameTaken, {wanted}));
    return false;
  }
  if (recording) (void)undo_.commit(*recording, *lib);
  shown_ = nullptr;
  libraryModel_->reload();
  tree_->expandToDepth(0);
  reloadCatalog(here);
  markModified();
  return true;
}

bool MainWindow::moveNode(xmlNode* node, xmlNode* targetCategory) {
  beforeChange();
  auto* lib = app_.library();
  if (!lib || !node || !targetCategory || busy_ || lib->readOnly()) return false;
  auto& doc = lib->catalog();
  catalog::ItemPath to = targetCategory == doc.root() ? catalog::ItemPath{} : doc.parentPath(targetCategory);
  if (targetCategory != doc.root()) to.push_back(CatalogDocument::numberOf(targetCategory));
  auto recording = undo_.begin(*lib, stepLabel(kStepMove, node), lib->streamsOf(node));
  if (!recording) {
    error(qs(recording.message()));
    return false;
  }
  size_t steps = undo_.size();
  std::string label = stepLabel(kStepMove, node);
  auto number = lib->move(node, to);
  if (!number) {
    // A refused move changed nothing; a failed one is taken back whole.
    (void)undo_.commit(*recording, *lib);
    if (undo_.size() > steps) (void)undo_.undo(*lib);
    shown_ = nullptr;
    libraryModel_->reload();
    tree_->expandToDepth(0);
    reloadCatalog(current_);
    error(qs(number.message()));
    return false;
  }
  bool isItem = CatalogDocument::isItem(node);
  xmlNode* moved = isItem ? doc.item(to, *number) : doc.category([&] {
    auto p = to;
    p.push_back(*number);
    return p;
  }());
  if (Status st = undo_.commit(*recording, *lib, moved ? lib->streamsOf(moved) : std::vector<std::string>{}); !st) {
    error(qs(st.message()));
  }
  shown_ = nullptr;
  libraryModel_->reload();
  tree_->expandToDepth(0);
  if (moved) select(moved);
  markModified();
  return true;
}

bool MainWindow::deleteNode(xmlNode* node) {
  beforeChange();
  auto* lib = app_.library();
  if (!lib || !node || busy_ || lib->readOnly() || node == lib->catalog().root()) return false;
  // The streams of what goes are kept by the undo history, so that undo
  // brings them back byte for byte.
  auto recording = undo_.begin(*lib, stepLabel(kStepDelete, node), lib->streamsOf(node));
  if (!recording) {
    error(qs(recording.message()));
    return false;
  }
  Location here = current_;
  xmlNode* parent = node->parent;
  Location up = locationOf(parent);
  if (Status st = lib->remove(node); !st) {
    error(qs(st.message()));
    return false;
  }
  if (Status st = undo_.commit(*recording, *lib); !st) error(qs(st.message()));
  shown_ = nullptr;
  libraryModel_->reload();
  tree_->expandToDepth(0);
  // Where the window was, unless that went with it: then the parent.
  if (!nodeOf(here)) here = up;
  reloadCatalog(here);
  markModified();
  return true;
}

bool MainWindow::undo() { return takeStep(true); }
bool MainWindow::redo() { return takeStep(false); }

bool MainWindow::takeStep(bool back) {
  beforeChange();
  auto* lib = app_.library();
  if (!lib || busy_ || !(back ? undo_.canUndo() : undo_.canRedo())) return false;
  Location here = current_;
  if (Status st = back ? undo_.undo(*lib) : undo_.redo(*lib); !st) {
    error(qs(st.message()));
    return false;
  }
  shown_ = nullptr;
  libraryModel_->reload();
  tree_->expandToDepth(0);
  reloadCatalog(here);
  markModified();
  return true;
}

void MainWindow::renameSelected() {
  if (busy_) return;
  xmlNode* n = target();
  if (!n || n == app_.library()->catalog().root()) return;
  QWidget* f = focusWidget();
  if (f == list_) {
    list_->edit(sorted_->index(list_->currentIndex().row(), 0));
    return;
  }
  if (f == icons_) {
    // The grid edits no names in place: the new one is asked for.
    bool ok = false;
    QString name = QInputDialog::getText(this, "Tamber+", text(app_, kRename).remove('&'), QLineEdit::Normal,
                                         qs(nameOf(app_.library()->catalog(), n)), &ok);
    if (ok) renameNode(n, name);
    return;
  }
  QModelIndex index = libraryModel_->indexOf(n);
  if (index.isValid()) {
    tree_->setCurrentIndex(index);
    tree_->edit(index);
  }
}

void MainWindow::deleteSelected() {
  if (busy_) return;
  auto* lib = app_.library();
  xmlNode* n = target();
  if (!n || !lib || n == lib->catalog().root()) return;
  // The question names exactly what goes.
  bool category = CatalogDocument::isCategory(n);
  QString question =
      text(app_, category ? app::kTextConfirmDeleteCategory : app::kTextConfirmDeleteItem, {shown(nameOf(lib->catalog(), n), 200)});
  if (QMessageBox::question(this, "Tamber+", question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) !=
      QMessageBox::Yes) {
    return;
  }
  deleteNode(n);
}

void MainWindow::editItem() {
  beforeChange();
  if (busy_) return;
  xmlNode* n = target();
  if (!n || !CatalogDocument::isItem(n)) return;
  auto* lib = app_.library();
  auto recording = undo_.begin(*lib, stepLabel(kStepEdit, n), {});
  Location here = current_;
  ItemDialog d(app_, n, this);
  if (d.exec() != QDialog::Accepted) return;
  if (recording) (void)undo_.commit(*recording, *lib);
  shown_ = nullptr;
  libraryModel_->reload();
  tree_->expandToDepth(0);
  reloadCatalog(here);
  updateTitle();
  updateActions();
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
  xmlNode* n = target();
  if (!n || !CatalogDocument::isItem(n)) return;
  QString f = QFileDialog::getOpenFileName(this, text(app_, kSetCover).remove('&').remove(QChar(0x2026)), QString(),
                                           text(app_, kPictureFiles));
  if (!f.isEmpty()) setCoverFrom(n, f);
}

bool MainWindow::setCoverFrom(xmlNode* item, const QString& picture) {
  beforeChange();
  auto* lib = app_.library();
  if (!lib || !item || busy_ || !CatalogDocument::isItem(item)) return false;
  auto recording = undo_.begin(*lib, stepLabel(kStepCover, item), lib->streamsOf(item));
  if (!recording) {
    error(qs(recording.message()));
    return false;
  }
  if (Status st = lib->setCover(item, std::filesystem::path(ss(picture))); !st) {
    error(qs(st.message()));
    return false;
  }
  if (Status st = undo_.commit(*recording, *lib); !st) error(qs(st.message()));
  showCover(item);
  page_->setHtml(itemPage(app_, *lib, item));
  markModified();
  return true;
}

void MainWindow::newCategory() {
  beforeChange();
  if (busy_) return;
  auto* lib = app_.library();
  if (!lib || lib->readOnly()) return;
  xmlNode* at = target();
  if (!at) at = libraryModel_->node(tree_->currentIndex());
  if (!at) at = lib->catalog().root();
  if (CatalogDocument::isItem(at)) at = at->parent;
  bool ok = false;
  QString name = QInputDialog::getText(this, "Tamber+", text(app_, kNewCategoryName), QLineEdit::Normal, {}, &ok)
                     .trimmed();
  if (!ok || name.isEmpty()) return;
  if (name.contains('/')) {
    error(text(app_, app::kTextNameHoldsSlash));
    return;
  }
  auto& doc = lib->catalog();
  catalog::ItemPath parent = at == doc.root() ? catalog::ItemPath{} : doc.parentPath(at);
  if (at != doc.root()) parent.push_back(CatalogDocument::numberOf(at));
  auto recording = undo_.begin(*lib, ss(text(app_, kStepNewCategory, {shown(name, 60)})), {});
  auto number = doc.addCategory(parent, ss(name), "");
  if (!number) {
    error(qs(number.message()));
    return;
  }
  if (recording) (void)undo_.commit(*recording, *lib);
  shown_ = nullptr;
  libraryModel_->reload();
  tree_->expandToDepth(0);
  parent.push_back(*number);
  select(doc.category(parent));
  markModified();
}

void MainWindow::copyPath() {
  if (!app_.library()) return;
  QWidget* f = focusWidget();
  QString path;
  if (f == list_ || f == icons_) {
    QModelIndex c = currentView()->currentIndex();
    int row = c.isValid() ? sorted_->mapToSource(c).row() : -1;
    if (const scan::ListingEntry* e = content_->entryAt(row)) {
      path = pathText(current_, e->name);
    } else if (xmlNode* n = content_->nodeAt(row)) {
      path = pathText(locationOf(n));
    } else {
      path = pathText(current_);
    }
  } else if (f == folders_ || !target()) {
    path = pathText(current_);
  } else {
    path = pathText(locationOf(target()));
  }
  QApplication::clipboard()->setText(path);
  statusBar()->showMessage(path, 4000);
}

void MainWindow::saveThumbnail() {
  QModelIndex c = currentView()->currentIndex();
  int row = c.isValid() ? sorted_->mapToSource(c).row() : -1;
  const scan::ListingEntry* e = content_->entryAt(row);
  if (!e || !e->field("y") || !app_.library()) return;
  auto& doc = app_.library()->catalog();
  auto bytes = scan::readRecord(app_.library()->file().root(),
                                catalog::streamName(catalog::StreamKind::thumbnails, doc.parentPath(content_->item()),
                                                    CatalogDocument::numberOf(content_->item())),
                                std::strtoull(e->field("y")->c_str(), nullptr, 16));
  if (!bytes || bytes->empty()) {
    error(text(app_, kNoThumbnailOf, {qs(e->name)}));
    return;
  }
  // The stored bytes as they are: a JPEG or a PNG, by its first bytes.
  bool png = bytes->rfind("\x89PNG", 0) == 0;
  QString suffix = png ? ".png" : ".jpg";
  QString base = QFileInfo(qs(e->name)).completeBaseName();
  QString f = chooseFileToWrite(this, app_, text(app_, kSaveThumbnail).remove('&').remove(QChar(0x2026)),
                                text(app_, kPictures) + (png ? " (*.png)" : " (*.jpg *.jpeg)"), suffix,
                                QDir(libraryFolder()).filePath(base + "-thumbnail" + suffix));
  if (f.isEmpty()) return;
  if (Status st = writeFileAtomically(ss(f), *bytes); !st) error(qs(st.message()));
}

void MainWindow::chooseNewLibrary() {
  QString f = chooseFileToWrite(this, app_, text(app_, kNewLibrary).remove('&'),
                                text(app_, kLibraryFiles) + ";;" + text(app_, kAllFiles) + " (*)", ".cds",
                                libraryFolder(), true);
  if (!f.isEmpty()) newLibrary(f);
}

}  // namespace tamber::gui
