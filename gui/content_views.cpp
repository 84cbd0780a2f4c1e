#include "gui/content_views.h"

#include <QApplication>
#include <QPainter>

#include "gui/content_model.h"

namespace tamber::gui {

namespace {

QModelIndex endRow(QAbstractItemView* view, bool last) {
  QAbstractItemModel* m = view->model();
  if (!m || m->rowCount() == 0) return {};
  // The name's column: the row's start is in sight.
  return m->index(last ? m->rowCount() - 1 : 0, 0);
}

}  // namespace

void ContentTable::keyboardSearch(const QString& search) {
  // Qt's search (which gathers the keys typed in quick succession) starts
  // from the current cell's column: the name column it is.
  QModelIndex c = currentIndex();
  if (c.isValid() && c.column() != 0) {
    selectionModel()->setCurrentIndex(c.siblingAtColumn(0), QItemSelectionModel::NoUpdate);
  }
  QTableView::keyboardSearch(search);
}

QModelIndex ContentTable::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  if (action == MoveHome || action == MoveEnd) return endRow(this, action == MoveEnd);
  return QTableView::moveCursor(action, modifiers);
}

ThumbnailView::ThumbnailView(QWidget* parent) : QListView(parent) {
  // A grid laid out once for rows of equal size: a folder of 100,000 files
  // is laid out at once, and only the cells in sight are painted (their
  // thumbnails read as they come into sight).
  setViewMode(QListView::ListMode);
  setFlow(QListView::LeftToRight);
  setWrapping(true);
  setResizeMode(QListView::Adjust);
  setUniformItemSizes(true);
  setLayoutMode(QListView::SinglePass);
  setMovement(QListView::Static);
  setSpacing(4);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setItemDelegate(new ThumbnailDelegate(this));
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
}

QModelIndex ThumbnailView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  if (action == MoveHome || action == MoveEnd) return endRow(this, action == MoveEnd);
  return QListView::moveCursor(action, modifiers);
}

QSize ThumbnailDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
  return {kCellWidth, kCellHeight};
}

void ThumbnailDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem o = option;
  initStyleOption(&o, index);
  QStyle* style = o.widget ? o.widget->style() : QApplication::style();
  // The selection's background, without the text and icon of the row.
  o.text.clear();
  o.icon = QIcon();
  style->drawPrimitive(QStyle::PE_PanelItemViewItem, &o, painter, o.widget);
  QRect cell = option.rect;
  QRect picture(cell.left() + (cell.width() - kPicture) / 2, cell.top() + 4, kPicture, kPicture);
  QVariant thumbnail = index.data(ContentModel::kThumbnailRole);
  painter->save();
  if (thumbnail.canConvert<QImage>() && !thumbnail.value<QImage>().isNull()) {
    QImage image = thumbnail.value<QImage>();
    QSize size = image.size().scaled(picture.size(), Qt::KeepAspectRatio);
    if (image.width() <= kPicture && image.height() <= kPicture) size = image.size();  // never enlarged
    QRect at(picture.left() + (picture.width() - size.width()) / 2,
             picture.top() + (picture.height() - size.height()) / 2, size.width(), size.height());
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->drawImage(at, image);
  } else {
    QIcon icon = qvariant_cast<QIcon>(index.data(Qt::DecorationRole));
    icon.paint(painter, picture.adjusted(8, 8, -8, -8));
  }
  QRect label(cell.left() + 4, picture.bottom() + 4, cell.width() - 8, cell.bottom() - picture.bottom() - 6);
  painter->setPen(option.state & QStyle::State_Selected ? option.palette.highlightedText().color()
                                                        : option.palette.text().color());
  QString name = index.data(Qt::DisplayRole).toString();
  QFontMetrics fm(option.font);
  // Two lines at most, the second cut with "…".
  QString first = name, second;
  int fit = name.size();
  while (fit > 0 && fm.horizontalAdvance(name.left(fit)) > label.width()) --fit;
  if (fit < name.size()) {
    first = name.left(std::max(1, fit));
    second = fm.elidedText(name.mid(first.size()), Qt::ElideRight, label.width());
  }
  painter->drawText(QRect(label.left(), label.top(), label.width(), fm.height()), Qt::AlignHCenter, first);
  if (!second.isEmpty()) {
    painter->drawText(QRect(label.left(), label.top() + fm.height(), label.width(), fm.height()), Qt::AlignHCenter,
                      second);
  }
  painter->restore();
}

}  // namespace tamber::gui
