#include "gui/content_model.h"

#include <QApplication>
#include <QDateTime>
#include <QIcon>
#include <QRegularExpression>
#include <QStyle>
#include <map>

#include "app/presentation.h"
#include "catalog/catalog_document.h"
#include "disc/track.h"
#include "gui/gui_text.h"
#include "gui/texts.h"
#include "gui/window_queue.h"
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

// The rest of a large folder, read on a worker: rows come in batches
// handed over under a lock; the window's thread takes them when told.
struct ContentModel::Reader {
  std::thread thread;
  std::atomic<bool> stop{false};
  std::mutex lock;
  std::vector<std::pair<std::vector<scan::ListingEntry>, std::vector<QString>>> batches;
  bool done = false;  // under the lock: nothing more comes
};

ContentModel::ContentModel(app::App& app, QObject* parent)
    : QAbstractTableModel(parent), app_(app), queue_(new WindowQueue(this)) {
  // Thumbnails are counted by their bytes: at most 32 MB of them are kept.
  thumbnails_.setMaxCost(32 << 20);
}

ContentModel::~ContentModel() { stopReading(); }

void ContentModel::stopReading() {
  if (!reader_) return;
  reader_->stop = true;
  if (reader_->thread.joinable()) reader_->thread.join();
  reader_.reset();
}

void ContentModel::finishReading() {
  if (!reader_) return;
  if (reader_->thread.joinable()) reader_->thread.join();
  takeRows();
}

void ContentModel::takeRows() {
  if (!reader_) return;
  decltype(reader_->batches) batches;
  bool done;
  {
    std::lock_guard<std::mutex> g(reader_->lock);
    batches.swap(reader_->batches);
    done = reader_->done;
  }
  for (auto& [entries, keys] : batches) {
    if (entries.empty()) continue;
    int first = static_cast<int>(entries_.size());
    beginInsertRows({}, first, first + static_cast<int>(entries.size()) - 1);
    for (auto& e : entries) entries_.push_back(std::move(e));
    for (auto& k : keys) nameKeys_.push_back(std::move(k));
    endInsertRows();
  }
  if (done) {
    if (reader_->thread.joinable()) reader_->thread.join();
    reader_.reset();
    emit folderRead();
  }
}

QString ContentModel::nameKey(const scan::ListingEntry& e, size_t index) {
  // Folders first, then files, each by name without case; an audio disc's
  // tracks before them, in disc order.
  return audioTrack(e) ? QString(" %1").arg(index, 5, 10, QChar('0'))
                       : QString(e.folder ? "0" : "1") + qs(e.name).toLower();
}

void ContentModel::clear() { showCategory(nullptr); }

void ContentModel::showCategory(xmlNode* category) {
  stopReading();
  beginResetModel();
  folderMode_ = false;
  archiveMode_ = false;
  inside_.clear();
  thumbnails_.clear();
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
  stopReading();
  auto& lib = *app_.library();
  auto& doc = lib.catalog();
  auto root = lib.file().root();
  auto category = doc.parentPath(item);
  auto number = CatalogDocument::numberOf(item);
  // The first rows at once.
  std::vector<scan::ListingEntry> first;
  bool more = false;
  auto c = scan::collectBelow(
      scan::streamListing(root, category, number), steps, 1,
      [&](scan::ListingEntry& e, int level) {
        if (level != 0) return false;
        if (first.size() < kFirstRows) {
          first.push_back(std::move(e));
        } else {
          more = true;
        }
        return false;
      },
      [&] { return more; });
  if (!c) return c.error();
  if (!c->found || c->file) first.clear();
  // The rest on a worker, from the streams' layouts (the window's thread
  // keeps the file's handles); streams with changes not yet committed have
  // none: then here.
  std::map<int, storage::StreamLayout> layouts;
  bool laidOut = more;
  for (int part = 0, parts = std::max(0, std::atoi(doc.field(item, catalog::kListingParts).c_str()));
       laidOut && part <= std::min(parts, 1 << 16); ++part) {
    auto s = root.openStream(part == 0 ? catalog::streamName(catalog::StreamKind::listing, category, number)
                                       : catalog::streamName(catalog::StreamKind::listing, category, number, part));
    if (!s) continue;
    auto layout = s->layout();
    if (!layout) {
      laidOut = false;
    } else {
      layouts[part] = std::move(*layout);
    }
  }
  if (more && !laidOut) {
    auto all = scan::collectBelow(root, category, number, steps, 1);
    if (!all) return all.error();
    first = all->found && !all->file ? std::move(all->top.children) : std::vector<scan::ListingEntry>{};
    more = false;
  }
  beginResetModel();
  folderMode_ = true;
  archiveMode_ = false;
  inside_.clear();
  nodes_.clear();
  item_ = item;
  steps_ = steps;
  setEntries(std::move(first));
  thumbnailLayout_.reset();
  if (auto t = root.openStream(catalog::streamName(catalog::StreamKind::thumbnails, category, number))) {
    if (auto layout = t->layout()) thumbnailLayout_ = std::move(*layout);
  }
  endResetModel();
  if (!more) return {};
  reader_ = std::make_unique<Reader>();
  Reader* r = reader_.get();
  auto opener = scan::layoutListing(lib.file(), std::move(layouts));
  r->thread = std::thread([this, r, opener, steps] {
    size_t index = 0;
    std::vector<scan::ListingEntry> batch;
    std::vector<QString> keys;
    auto hand = [&](bool done) {
      {
        std::lock_guard<std::mutex> g(r->lock);
        r->batches.emplace_back(std::move(batch), std::move(keys));
        r->done = done;
      }
      batch.clear();
      keys.clear();
      queue_->post([this, r] {
        if (reader_.get() == r) takeRows();
      });
    };
    (void)scan::collectBelow(
        opener, steps, 1,
        [&](scan::ListingEntry& e, int level) {
          if (level != 0 || index++ < kFirstRows) return false;
          keys.push_back(nameKey(e, index - 1));
          batch.push_back(std::move(e));
          if (batch.size() >= 25000) hand(false);
          return false;
        },
        [r] { return r->stop.load(); });
    hand(true);
  });
  return {};
}

void ContentModel::setEntries(std::vector<scan::ListingEntry> entries) {
  entries_ = std::move(entries);
  thumbnails_.clear();
  nameKeys_.clear();
  nameKeys_.reserve(entries_.size());
  for (const auto& e : entries_) nameKeys_.push_back(nameKey(e, nameKeys_.size()));
}

Status ContentModel::showArchive(xmlNode* item, const std::vector<std::string>& steps,
                                 const std::vector<std::string>& inside) {
  stopReading();
  auto& doc = app_.library()->catalog();
  auto bytes = scan::fileRecord(app_.library()->file().root(), doc.parentPath(item), CatalogDocument::numberOf(item),
                                steps, "a9", catalog::StreamKind::archives);
  if (!bytes) return bytes.error();
  auto archive = scan::parseStoredArchive(*bytes);
  if (!archive) return Error{Errc::corrupt, app_.text(app::kTextArchiveListingDamaged)};
  // Members are stored with their whole paths ("sub/deep/b.txt"); those
  // below `inside` make the rows, a folder once however many members name it.
  std::vector<scan::ListingEntry> rows;
  std::map<std::string, size_t> folders;
  for (const auto& m : archive->members) {
    QStringList parts = qs(m.name).split(QRegularExpression("[/\\\\]"), Qt::SkipEmptyParts);
    if (parts.size() <= static_cast<qsizetype>(inside.size())) continue;
    bool below = true;
    for (size_t i = 0; i < inside.size() && below; ++i) below = ss(parts[static_cast<qsizetype>(i)]) == inside[i];
    if (!below) continue;
    std::string name = ss(parts[static_cast<qsizetype>(inside.size())]);
    bool folder = m.folder || parts.size() > static_cast<qsizetype>(inside.size()) + 1;
    if (folder) {
      auto [at, made] = folders.emplace(name, rows.size());
      if (!made) {
        if (m.folder && parts.size() == static_cast<qsizetype>(inside.size()) + 1) rows[at->second].modified = m.modified;
        continue;
      }
    }
    scan::ListingEntry e;
    e.name = name;
    e.folder = folder;
    e.size = folder ? 0 : std::strtoull(m.size.c_str(), nullptr, 10);
    if (!folder || parts.size() == static_cast<qsizetype>(inside.size()) + 1) e.modified = m.modified;
    rows.push_back(std::move(e));
  }
  beginResetModel();
  folderMode_ = true;
  archiveMode_ = true;
  nodes_.clear();
  item_ = item;
  steps_ = steps;
  inside_ = inside;
  setEntries(std::move(rows));
  endResetModel();
  return {};
}

bool ContentModel::isArchive(int row) const {
  const scan::ListingEntry* e = entryAt(row);
  return e && !archiveMode_ && !e->folder && e->field("a9");
}

QImage ContentModel::thumbnail(int row) const {
  const scan::ListingEntry* e = entryAt(row);
  const std::string* offset = e && !archiveMode_ ? e->field("y") : nullptr;
  if (!offset || !app_.library()) return {};
  if (QImage* kept = thumbnails_.object(row)) return *kept;
  auto& doc = app_.library()->catalog();
  uint64_t at = std::strtoull(offset->c_str(), nullptr, 16);
  QImage image;
  // From the layout taken when the folder was shown: painting may happen
  // while a worker uses the file's handles (an export, a search).
  auto bytes = thumbnailLayout_ ? scan::readRecord(app_.library()->file(), *thumbnailLayout_, at)
                                : scan::readRecord(app_.library()->file().root(),
                                                   catalog::streamName(catalog::StreamKind::thumbnails,
                                                                       doc.parentPath(item_),
                                                                       CatalogDocument::numberOf(item_)),
                                                   at);
  // A record that is not a picture (a damaged library) shows the file's icon.
  if (bytes && bytes->size() < (1u << 20)) image.loadFromData(QByteArray::fromStdString(*bytes));
  auto* kept = new QImage(image);
  thumbnails_.insert(row, kept, std::max<qsizetype>(1, image.sizeInBytes()));
  return image;
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
      if (role == Qt::DecorationRole) return category ? FileIcons::category() : FileIcons::item(doc.itemKind(n));
      if (role == Qt::EditRole) return qs(doc.field(n, category ? catalog::kCategoryName : catalog::kLabel));
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
  if (column == name && role == Qt::DecorationRole) return icons_.entry(e);
  if (column == name && role == kThumbnailRole) {
    QImage t = thumbnail(row);
    return t.isNull() ? QVariant() : QVariant(t);
  }
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

Qt::ItemFlags ContentModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  xmlNode* n = index.column() == 0 ? nodeAt(index.row()) : nullptr;
  if (n && editable_ && app_.library() && !app_.library()->readOnly()) f |= Qt::ItemIsEditable;
  return f;
}

bool ContentModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  xmlNode* n = role == Qt::EditRole && index.column() == 0 ? nodeAt(index.row()) : nullptr;
  if (!n) return false;
  emit renameRequested(n, value.toString());
  return false;  // the window reads the catalog afresh
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
