#include "gui/library_model.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QMimeData>
#include <QStyle>

#include "catalog/catalog_document.h"
#include "gui/file_icons.h"
#include "gui/gui_text.h"
#include "gui/texts.h"

namespace tamber::gui {

namespace {

using catalog::CatalogDocument;

constexpr const char* kItemMime = "application/x-tamber-item";

catalog::CatalogDocument* catalogOf(app::App& app) {
  return app.library() ? &app.library()->catalog() : nullptr;
}

}  // namespace

LibraryModel::LibraryModel(app::App& app, QObject* parent) : QAbstractItemModel(parent), app_(app) {}

void LibraryModel::reload() {
  beginResetModel();
  children_.clear();
  endResetModel();
}

xmlNode* LibraryModel::node(const QModelIndex& index) const {
  return index.isValid() ? static_cast<xmlNode*>(index.internalPointer()) : nullptr;
}

const QVector<xmlNode*>& LibraryModel::childrenOf(xmlNode* parent) const {
  auto it = children_.find(parent);
  if (it != children_.end()) return *it;
  QVector<xmlNode*> list;
  for (xmlNode* c = parent->children; c; c = c->next) {
    if (CatalogDocument::isCategory(c) || CatalogDocument::isItem(c)) list.push_back(c);
  }
  return *children_.insert(parent, list);
}

int LibraryModel::rowOf(xmlNode* n) const {
  auto* doc = catalogOf(app_);
  if (!doc || n == doc->root()) return 0;
  return static_cast<int>(childrenOf(n->parent).indexOf(n));
}

QModelIndex LibraryModel::indexOf(xmlNode* n) const {
  if (!n) return {};
  int row = rowOf(n);
  return row < 0 ? QModelIndex() : createIndex(row, 0, n);
}

QModelIndex LibraryModel::index(int row, int column, const QModelIndex& parent) const {
  auto* doc = catalogOf(app_);
  if (!doc || column != 0 || row < 0) return {};
  if (!parent.isValid()) return row == 0 ? createIndex(0, 0, doc->root()) : QModelIndex();
  const auto& kids = childrenOf(node(parent));
  return row < kids.size() ? createIndex(row, 0, kids[row]) : QModelIndex();
}

QModelIndex LibraryModel::parent(const QModelIndex& child) const {
  auto* doc = catalogOf(app_);
  xmlNode* n = node(child);
  if (!doc || !n || n == doc->root()) return {};
  return indexOf(n->parent);
}

int LibraryModel::rowCount(const QModelIndex& parent) const {
  auto* doc = catalogOf(app_);
  if (!doc) return 0;
  if (!parent.isValid()) return 1;
  xmlNode* n = node(parent);
  if (CatalogDocument::isItem(n)) return 0;
  return static_cast<int>(childrenOf(n).size());
}

int LibraryModel::columnCount(const QModelIndex&) const { return 1; }

QVariant LibraryModel::data(const QModelIndex& index, int role) const {
  auto* doc = catalogOf(app_);
  xmlNode* n = node(index);
  if (!doc || !n) return {};
  bool root = n == doc->root();
  bool category = CatalogDocument::isCategory(n);
  if (role == Qt::DisplayRole || role == Qt::EditRole) {
    if (root) return text(app_, kLibrary);
    std::string name = doc->field(n, category ? catalog::kCategoryName : catalog::kLabel);
    return role == Qt::DisplayRole ? shown(name) : qs(name);
  }
  if (role == Qt::DecorationRole) {
    // Asked for once: a style makes its icons afresh on every call.
    if (root) return FileIcons::library();
    if (category) return FileIcons::category();
    return FileIcons::item(doc->itemKind(n));
  }
  if (role == Qt::ToolTipRole && CatalogDocument::isItem(n)) return qs(doc->itemSummary(n));
  return {};
}

bool LibraryModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  auto* doc = catalogOf(app_);
  xmlNode* n = node(index);
  if (role != Qt::EditRole || !doc || !n || n == doc->root() || !writable()) return false;
  QString name = value.toString().trimmed();
  if (name.isEmpty() || name == data(index, Qt::EditRole).toString()) return false;
  if (renamer) {
    // After the editor has closed: the window reads the catalog afresh.
    QMetaObject::invokeMethod(this, [this, n, name] { renamer(n, name); }, Qt::QueuedConnection);
    return false;
  }
  if (!doc->rename(n, ss(name))) {
    emit failed(name);
    return false;
  }
  emit dataChanged(index, index);
  emit changed();
  return true;
}

Qt::ItemFlags LibraryModel::flags(const QModelIndex& index) const {
  auto* doc = catalogOf(app_);
  xmlNode* n = node(index);
  if (!doc || !n) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (!writable()) return f;
  if (n != doc->root()) f |= Qt::ItemIsEditable;
  if (CatalogDocument::isItem(n)) f |= Qt::ItemIsDragEnabled;
  if (!CatalogDocument::isItem(n)) f |= Qt::ItemIsDropEnabled;
  return f;
}

bool LibraryModel::writable() const { return app_.library() && !app_.library()->readOnly() && !locked_; }

Qt::DropActions LibraryModel::supportedDropActions() const { return Qt::MoveAction; }

QStringList LibraryModel::mimeTypes() const { return {kItemMime}; }

QMimeData* LibraryModel::mimeData(const QModelIndexList& indexes) const {
  // The dragged element itself: drags stay inside this window.
  if (indexes.size() != 1 || !CatalogDocument::isItem(node(indexes[0]))) return nullptr;
  auto* m = new QMimeData;
  quintptr p = reinterpret_cast<quintptr>(node(indexes[0]));
  m->setData(kItemMime, QByteArray::number(static_cast<qulonglong>(p)));
  return m;
}

bool LibraryModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int, int,
                                const QModelIndex& parent) {
  auto* doc = catalogOf(app_);
  xmlNode* target = node(parent);
  if (!doc || !target || action != Qt::MoveAction || !data->hasFormat(kItemMime) || !writable()) return false;
  if (CatalogDocument::isItem(target)) target = target->parent;
  auto* moved = reinterpret_cast<xmlNode*>(static_cast<quintptr>(data->data(kItemMime).toULongLong()));
  // The element must still be an item of this catalog.
  bool known = false;
  for (xmlNode* up = moved; up; up = up->parent) known = known || up == doc->root();
  if (!known || !CatalogDocument::isItem(moved) || moved->parent == target) return false;
  if (mover) {
    QMetaObject::invokeMethod(this, [this, moved, target] { mover(moved, target); }, Qt::QueuedConnection);
    return false;
  }
  catalog::ItemPath to = target == doc->root() ? catalog::ItemPath{} : doc->parentPath(target);
  if (target != doc->root()) to.push_back(CatalogDocument::numberOf(target));
  auto number = app_.library()->move(moved, to);
  if (!number) {
    emit failed(qs(number.message()));
    return false;
  }
  reload();
  emit changed();
  emit itemMoved(doc->item(to, *number));
  return false;  // the model was read afresh: the view removes nothing itself
}

}  // namespace tamber::gui
