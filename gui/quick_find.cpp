#include "gui/quick_find.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QTreeWidget>

#include <memory>

#include "gui/background_work.h"
#include "gui/gui_text.h"
#include "gui/texts.h"
#include "gui/window_queue.h"

namespace tamber::gui {

namespace {

constexpr int kRowRole = Qt::UserRole + 1;  // the row's place in rows_

}  // namespace

QuickFind::QuickFind(app::App& app, QWidget* window)
    : QWidget(window), app_(app), window_(window), queue_(new WindowQueue(this)) {
  box_ = new QLineEdit(this);
  box_->setObjectName("quickFind");
  box_->setClearButtonEnabled(true);
  box_->setMinimumWidth(180);
  box_->setMaximumWidth(360);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 0, 4, 0);
  layout->addWidget(box_);
  // The list lies over the window, under the box; it never takes the
  // keyboard from the box until Down is pressed.
  results_ = new QTreeWidget(window_);
  results_->setObjectName("quickFindResults");
  results_->setColumnCount(2);
  results_->setRootIsDecorated(false);
  results_->setUniformRowHeights(true);
  results_->header()->setStretchLastSection(false);
  results_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  results_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  results_->setFrameShape(QFrame::Box);
  results_->hide();
  connect(box_, &QLineEdit::textEdited, this, &QuickFind::search);
  connect(box_, &QLineEdit::returnPressed, this, [this] {
    if (results_->isVisible() && results_->topLevelItemCount() > 0) {
      choose(results_->currentItem() ? results_->currentItem() : results_->topLevelItem(0));
    }
  });
  connect(results_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* row) { choose(row); });
  box_->installEventFilter(this);
  results_->installEventFilter(this);
  window_->installEventFilter(this);
  retranslate();
}

void QuickFind::retranslate() {
  box_->setPlaceholderText(text(app_, kQuickFind));
  box_->setToolTip(text(app_, kQuickFindTip));
  results_->setHeaderLabels({text(app_, kColName), text(app_, kColSize)});
}

QuickFind::~QuickFind() { finish(); }

void QuickFind::finish() {
  stop_ = true;
  if (worker_.joinable()) worker_.join();
}

void QuickFind::search(const QString& typed) {
  finish();
  ++generation_;
  results_->clear();
  rows_ = 0;
  QString t = typed.trimmed();
  if (t.isEmpty() || !app_.library()) {
    results_->hide();
    return;
  }
  search::SearchCriteria c;
  c.pattern = search::prepareSearchText(ss(t), false);
  c.kinds = search::kKindNames;
  if (c.pattern.empty()) return;
  place();
  results_->show();
  results_->raise();
  stop_ = false;
  finished_ = false;
  const unsigned generation = generation_;
  // The catalog is read while the window waits for nothing: every change
  // to the library first stops the search (MainWindow::beforeChange), and
  // a job files its item only once no search reads (CatalogReading).
  worker_ = std::thread([this, c, generation, reading = CatalogReading()] {
    search::SearchOptions o;
    o.workers = 3;
    o.stop = &stop_;
    int listed = 0;
    o.ordered = [&](const search::SearchItem& item, std::vector<search::SearchHit>& hits) {
      auto rows = std::make_shared<std::vector<Row>>();
      for (const auto& h : hits) {
        if (listed + static_cast<int>(rows->size()) >= kMaxRows) break;
        // Of a disc's or folder's own fields only its label: the name it is
        // known by.
        if (h.kind == search::SearchHit::Kind::discField && h.field != catalog::nameCode(catalog::kLabel)) continue;
        rows->push_back({item.category, item.itemNumber, item.path, h.path, item.location, h.size, h.hasSize});
      }
      listed += static_cast<int>(rows->size());
      if (!rows->empty()) {
        queue_->post([this, generation, rows] {
          if (generation == generation_) addRows(*rows);
        });
      }
      return listed < kMaxRows;
    };
    auto r = search::runSearch(*app_.library(), c, o);
    finished_ = true;
    const bool stopped = stop_.load();
    queue_->post([this, generation, stopped] {
      if (generation != generation_ || stopped) return;
      if (worker_.joinable()) worker_.join();
      emit searchEnded(rows_);
    });
  });
}

void QuickFind::addRows(const std::vector<Row>& rows) {
  QList<QTreeWidgetItem*> items;
  for (const auto& r : rows) {
    QString where = shown(r.itemPath);
    where.replace('/', "->");
    QString inside = shown(r.path).replace('\\', '/');
    auto* row = new QTreeWidgetItem(QStringList{inside.isEmpty() ? where : where + "  " + inside,
                                                r.hasSize ? QLocale().toString(qulonglong(r.size)) : QString()});
    row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    QVariantList category;
    for (auto n : r.category) category.push_back(n);
    row->setData(0, kRowRole, QVariantList{category, qlonglong(r.number), qs(r.path)});
    if (!r.location.empty()) row->setToolTip(0, shown(r.location));
    items.push_back(row);
  }
  results_->addTopLevelItems(items);
  rows_ += static_cast<int>(items.size());
  if (!results_->currentItem() && results_->topLevelItemCount() > 0) {
    results_->setCurrentItem(results_->topLevelItem(0));
  }
}

void QuickFind::choose(QTreeWidgetItem* row) {
  if (!row) return;
  QVariantList data = row->data(0, kRowRole).toList();
  if (data.size() != 3) return;
  catalog::ItemPath category;
  for (const auto& n : data[0].toList()) category.push_back(static_cast<uint16_t>(n.toUInt()));
  results_->hide();
  emit showResult(category, data[1].toLongLong(), data[2].toString());
}

void QuickFind::place() {
  // Under the box, as wide as half the window (at least the box's width),
  // kept inside the window.
  QPoint under = box_->mapTo(window_, QPoint(0, box_->height() + 2));
  int width = std::max(box_->width(), window_->width() / 2);
  int x = std::min(under.x(), std::max(0, window_->width() - width - 4));
  results_->setGeometry(x, under.y(), width, std::min(360, std::max(120, window_->height() - under.y() - 40)));
}

bool QuickFind::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_ && (event->type() == QEvent::Resize || event->type() == QEvent::Move)) {
    if (results_->isVisible()) place();
  } else if (event->type() == QEvent::KeyPress && (watched == box_ || watched == results_)) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape && results_->isVisible()) {
      finish();
      results_->hide();
      box_->setFocus();
      return true;
    }
    if (watched == box_ && key->key() == Qt::Key_Down && results_->isVisible() && results_->topLevelItemCount() > 0) {
      results_->setFocus();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace tamber::gui
