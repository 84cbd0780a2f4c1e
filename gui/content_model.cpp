#include "gui/content_model.h"

#include <QApplication>
#include <QDateTime>
#include <QIcon>
#include <QStyle>

#include "app/presentation.h"
#include "catalog/catalog_document.h"
#include "disc/track.h"
#include "gui/gui_text.h"
#include "gui/texts.h"
#include "platform/hex_time.h"

namespace tamber::gui {

namespace {

using catalog::CatalogDocument;

QVariant timeValue(const std::string& hex, int role) {
  auto t = parseHexTime(hex);
  if (!t || !*t) return role == ContentModel::kSortRole ? QVariant(qlonglong(0)) : QVariant();
  if (role == ContentModel::kSortRole) return qlonglong(*t);
  return qs(app::localTimeText(hex));
}

QString fieldText(const scan::ListingEntry& e, const char* code) {
  const std::string* v = e.field(code);
  return v ? qs(*v) : QString();
}

bool audioTrack(const scan::ListingEntry& e) {
  const std::string* type = e.field("f");
  return !e.folder && disc::isAudioTrackItem(e.name, type ? *type : std::string());
}

}  // namespace

ContentModel::ContentModel(app::App& app, QObject* parent) : QAbstractTableModel(parent), app_(app) {
  // Asked for once: a style makes its icons afresh on every call.
  QStyle* style = QApplication::style();
  folderIcon_ = style->standardIcon(QStyle::SP_DirIcon);
  fileIcon_ = style->standardIcon(QStyle::SP_FileIcon);
  categoryIcon_ = folderIcon_;
  discIcon_ = style->standardIcon(QStyle::SP_DriveCDIcon);
  driveIcon_ = style->standardIcon(QStyle::SP_DriveHDIcon);
}

void ContentModel::clear() { showCategory(nullptr); }

void ContentModel::showCategory(xmlNode* category) {
  beginResetModel();
  folderMode_ = false;
  nodes_.clear();
  entries_.clear();
  nameKeys_.clear();
  item_ = nullptr;
  steps_.clear();
  for (xmlNode* c = category ? category->children : nullptr; c; c = c->next) {
    if (CatalogDocument::isCategory(c) || CatalogDocument::isItem(c)) nodes_.push_back(c);
  }
  endResetModel();
}

Status ContentModel::showFolder(xmlNode* item, const std::vector<std::string>& steps) {
  auto& doc = app_.library()->catalog();
  auto c = scan::collectBelow(app_.library()->file().root(), doc.parentPath(item),
                              CatalogDocument::numberOf(item), steps, 1);
  if (!c) return c.error();
  beginResetModel();
  folderMode_ = true;
  nodes_.clear();
  item_ = item;
  steps_ = steps;
  entries_ = c->found && !c->file ? std::move(c->top.children) : std::vector<scan::ListingEntry>{};
  // Folders first, then files, each by name without case.
  nameKeys_.clear();
  nameKeys_.reserve(entries_.size());
  // An audio disc's tracks come first, in disc order.
  for (const auto& e : entries_) {
    nameKeys_.push_back(audioTrack(e) ? QString(" %1").arg(nameKeys_.size(), 5, 10, QChar('0'))
                                      : QString(e.folder ? "0" : "1") + qs(e.name).toLower());
  }
  endResetModel();
  return {};
}

xmlNode* ContentModel::nodeAt(int row) const {
  return !folderMode_ && row >= 0 && row < static_cast<int>(nodes_.size()) ? nodes_[row] : nullptr;
}

const scan::ListingEntry* ContentModel::entryAt(int row) const {
  return folderMode_ && row >= 0 && row < static_cast<int>(entries_.size()) ? &entries_[row] : nullptr;
}

std::vector<ContentModel::Column> ContentModel::columns() const {
  if (folderMode_) return {name, size, modified, duration, title, artist, album, picture};
  return {name, kind, files, folders, size, created};
}

void ContentModel::retranslate() { emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1); }

int ContentModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return static_cast<int>(folderMode_ ? entries_.size() : nodes_.size());
}

int ContentModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns().size());
}

QVariant ContentModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  auto cols = columns();
  if (section < 0 || section >= static_cast<int>(cols.size())) return {};
  static const int ids[] = {kColName, kColSize, kColModified, kColCreated, kColKind, kColFiles,
                            kColFolders, kColDuration, kColTitle, kColArtist, kColAlbum, kColPicture};
  return text(app_, ids[cols[static_cast<size_t>(section)]]);
}

QVariant ContentModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  auto cols = columns();
  if (index.column() >= static_cast<int>(cols.size())) return {};
  Column c = cols[static_cast<size_t>(index.column())];
  if (role == Qt::TextAlignmentRole && (c == size || c == files || c == folders || c == duration)) {
    return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  }
  return folderMode_ ? folderData(index.row(), c, role) : categoryData(index.row(), c, role);
}

QVariant ContentModel::categoryData(int row, int column, int role) const {
  auto& doc = app_.library()->catalog();
  xmlNode* n = nodes_[static_cast<size_t>(row)];
  bool category = CatalogDocument::isCategory(n);
  auto number = [&](int field) -> QVariant {
    if (category) return role == kSortRole ? QVariant(qlonglong(-1)) : QVariant();
    qlonglong v = std::atoll(doc.field(n, field).c_str());
    return role == kSortRole ? QVariant(v) : QVariant(QLocale().toString(v));
  };
  switch (column) {
    case name:
      if (role == Qt::DecorationRole) {
        if (category) return categoryIcon_;
        return catalog::isFolderKind(doc.itemKind(n)) ? driveIcon_ : discIcon_;
      }
      if (role == Qt::DisplayRole || role == kSortRole) {
        // Categories first, then discs and folders, each by name.
        QString label = shown(doc.field(n, category ? catalog::kCategoryName : catalog::kLabel));
        return role == kSortRole ? QString(category ? "0" : "1") + label.toLower() : label;
      }
      return {};
    case kind:
      if (role != Qt::DisplayRole && role != kSortRole) return {};
      return category ? QVariant() : QVariant(qs(app::kindText(app_, doc.itemKind(n))));
    case files:
      return role == Qt::DisplayRole || role == kSortRole ? number(catalog::kFiles) : QVariant();
    case folders:
      return role == Qt::DisplayRole || role == kSortRole ? number(catalog::kFolders) : QVariant();
    case size:
      if (role == kSortRole) return number(catalog::kCapacity);
      if (role == Qt::DisplayRole && !category) return number(catalog::kCapacity).toString() + " MB";
      return {};
    case created:
      return role == Qt::DisplayRole || role == kSortRole ? timeValue(doc.field(n, catalog::kCreated), role)
                                                          : QVariant();
    default:
      return {};
  }
}

QVariant ContentModel::folderData(int row, int column, int role) const {
  const scan::ListingEntry& e = entries_[static_cast<size_t>(row)];
  if (column == name && role == Qt::DecorationRole) return e.folder ? folderIcon_ : fileIcon_;
  if (role != Qt::DisplayRole && role != kSortRole) return {};
  switch (column) {
    case name:
      return role == kSortRole ? nameKeys_[static_cast<size_t>(row)] : shown(e.name);
    case size:
      if (role == kSortRole) return e.folder ? qlonglong(-1) : qlonglong(e.size);
      // An audio track's "size" is its length, shown as its duration.
      if (e.folder || audioTrack(e)) return {};
      return QLocale().toString(qulonglong(e.size));
    case modified:
      return timeValue(e.modified, role);
    case duration:
      if (audioTrack(e)) return role == kSortRole ? QVariant(qlonglong(e.size)) : qs(disc::trackLengthText(e.size));
      return fieldText(e, "q");
    case title:
      return fieldText(e, "r");
    case artist:
      return fieldText(e, "s");
    case album:
      return fieldText(e, "t");
    case picture: {
      for (const auto& [key, value] : app::propertiesText(e.fields)) {
        if (key == "size") return qs(value);
      }
      return {};
    }
    default:
      return {};
  }
}

std::optional<bool> ContentModel::lessThan(int left, int right, int column) const {
  if (!folderMode_ || left < 0 || right < 0 || left >= rowCount() || right >= rowCount()) return {};
  auto l = static_cast<size_t>(left), r = static_cast<size_t>(right);
  switch (columns()[static_cast<size_t>(column)]) {
    case name:
      return nameKeys_[l] < nameKeys_[r];
    case size: {
      // Folders (no size) before files.
      auto key = [&](size_t i) { return entries_[i].folder ? -1 : static_cast<long long>(entries_[i].size); };
      return key(l) < key(r);
    }
    default:
      return {};
  }
}

bool ContentSorter::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  if (auto* model = qobject_cast<const ContentModel*>(sourceModel()); model && left.column() == right.column()) {
    if (auto less = model->lessThan(left.row(), right.row(), left.column())) return *less;
  }
  return QSortFilterProxyModel::lessThan(left, right);
}

}  // namespace tamber::gui
