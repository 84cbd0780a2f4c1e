// The two views of the list on the right: details (a table, one row per
// entry) and icons (a grid of the files' stored thumbnails, their type's
// icon where they have none). Both keep the keys of a file manager: Home
// and End go to the first and last row, typing selects by name.
#pragma once

#include <QListView>
#include <QStyledItemDelegate>
#include <QTableView>

namespace tamber::gui {

class ContentTable : public QTableView {
  Q_OBJECT
 public:
  using QTableView::QTableView;
  // Typing looks in the names, whatever column is current.
  void keyboardSearch(const QString& search) override;

 protected:
  // Home/End (with or without Ctrl) go to the first and last row; the
  // columns stay where they are.
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
};

// Paints a cell of the icon view: the thumbnail (or icon) in a square above
// the name, cut to two lines.
class ThumbnailDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  static constexpr int kPicture = 64, kCellWidth = 112, kCellHeight = 64 + 44;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class ThumbnailView : public QListView {
  Q_OBJECT
 public:
  explicit ThumbnailView(QWidget* parent = nullptr);

 protected:
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
};

}  // namespace tamber::gui
