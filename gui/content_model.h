// The list on the right: the categories, discs and folders of a category,
// or the entries of a folder inside a disc or folder (read from its listing
// when shown; only that folder is read). Rows are made when the view asks
// for them: no widget per row, so a folder of 100,000 files opens at once.
#pragma once

#include <QAbstractTableModel>
#include <QCache>
#include <QIcon>
#include <QImage>
#include <QSortFilterProxyModel>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "app/app.h"
#include "gui/file_icons.h"
#include "scan/listing_reader.h"

namespace tamber::gui {

class ContentModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit ContentModel(app::App& app, QObject* parent = nullptr);
  ~ContentModel() override;

  enum Column { name, size, modified, created, kind, files, folders, duration, title, artist, album, picture };
  // The value to sort by (numbers as numbers, times as times).
  static constexpr int kSortRole = Qt::UserRole + 1;
  // A file's stored thumbnail (a QImage), else nothing.
  static constexpr int kThumbnailRole = Qt::UserRole + 2;

  // The children of a category (or of the library root).
  void showCategory(xmlNode* category);
  // The entries of the folder `steps` names inside `item`. Its first
  // kFirstRows entries are read at once; the rest of a larger folder is read
  // on a worker and comes in as rows while the window goes on (reading()).
  Status showFolder(xmlNode* item, const std::vector<std::string>& steps);
  static constexpr size_t kFirstRows = 2000;
  // Whether rows of the folder shown are still being read.
  bool reading() const { return reader_ != nullptr; }
  // Waits for the rest of the folder being read and shows it: before the
  // library changes (its committed state may then go), and where every row
  // is needed.
  void finishReading();
  // The recorded members of the archive file `steps` names inside `item`,
  // those in its folder `inside` (the archive's top when empty); folders
  // that only members' paths name are shown too.
  Status showArchive(xmlNode* item, const std::vector<std::string>& steps, const std::vector<std::string>& inside);
  void clear();

  bool showsFolder() const { return folderMode_; }
  bool showsArchive() const { return archiveMode_; }
  // Inside an archive: the folder of the archive shown.
  const std::vector<std::string>& archiveSteps() const { return inside_; }
  // Whether a row is a file with a stored archive listing.
  bool isArchive(int row) const;
  // A file's stored thumbnail, read when first asked for and kept for a
  // while; a null image when it has none.
  QImage thumbnail(int row) const;
  xmlNode* item() const { return item_; }
  const std::vector<std::string>& steps() const { return steps_; }
  // The row's catalog element (category mode) or listing entry (folder mode).
  xmlNode* nodeAt(int row) const;
  const scan::ListingEntry* entryAt(int row) const;
  // Re-reads the texts of the headers (after a language switch).
  void retranslate();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  // Categories, discs and folders are renamed in place: the window is asked
  // to do it (renameRequested), as everything it changes can be undone.
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  // Whether names may be edited in place (not while a job writes).
  void setEditable(bool editable) { editable_ = editable; }

  // Row `left` before row `right` by `column`, compared without building
  // values, where the model can (a folder's names and sizes); else nothing.
  std::optional<bool> lessThan(int left, int right, int column) const;

 signals:
  void renameRequested(xmlNode* node, const QString& name);
  // The whole folder is in the rows now.
  void folderRead();

 private:
  void setEntries(std::vector<scan::ListingEntry> entries);
  static QString nameKey(const scan::ListingEntry& e, size_t index);
  void stopReading();
  void takeRows();
  struct Reader;
  QVariant categoryData(int row, int column, int role) const;
  QVariant folderData(int row, int column, int role) const;
  std::vector<Column> columns() const;

  app::App& app_;
  bool folderMode_ = false;
  bool archiveMode_ = false;
  bool editable_ = true;
  std::vector<std::string> inside_;
  mutable QCache<int, QImage> thumbnails_{4000};
  // The thumbnail stream of the folder shown, laid out when it was shown
  // (read with readAt, so that painting never uses the file's handles).
  std::optional<storage::StreamLayout> thumbnailLayout_;
  std::unique_ptr<Reader> reader_;
  class WindowQueue* queue_;
  mutable FileIcons icons_;
  std::vector<xmlNode*> nodes_;
  xmlNode* item_ = nullptr;
  std::vector<std::string> steps_;
  std::vector<scan::ListingEntry> entries_;
  std::vector<QString> nameKeys_;  // what the name column sorts by, made once per folder
};

// Sorts the list: the model's own comparison where it has one (sorting a
// folder of 100,000 names by its keys takes a fraction of the time that
// comparing values takes), else the values of the sort role.
class ContentSorter : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

 protected:
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
};

}  // namespace tamber::gui
