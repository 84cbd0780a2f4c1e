#include "gui/duplicates_dialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/duplicates.h"
#include "app/language.h"
#include "app/presentation.h"
#include "gui/gui_text.h"
#include "gui/texts.h"

namespace tamber::gui {

namespace {

constexpr int kCategoryRole = Qt::UserRole + 1;
constexpr int kNumberRole = Qt::UserRole + 2;
constexpr int kPathRole = Qt::UserRole + 3;

QString fillIn(const app::App& app, int id, const QStringList& values) { return text(app, id, values); }

}  // namespace

DuplicatesDialog::DuplicatesDialog(app::App& app, QWidget* parent) : QDialog(parent), app_(app) {
  setWindowTitle(plain(text(app, app::kTextFindDuplicates)));
  summary_ = new QLabel;
  summary_->setWordWrap(true);
  results_ = new QTreeWidget;
  results_->setColumnCount(3);
  results_->setHeaderLabels({text(app, kColName), text(app, kColSize), text(app, kColLocation)});
  results_->setUniformRowHeights(true);
  results_->header()->setStretchLastSection(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(results_, 1);
  layout->addWidget(buttons);
  connect(results_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* row) {
    if (!row->parent()) return;  // a group's row: it opens and closes
    catalog::ItemPath category;
    for (const QVariant& n : row->data(0, kCategoryRole).toList()) category.push_back(static_cast<uint16_t>(n.toUInt()));
    emit showResult(category, row->data(0, kNumberRole).toLongLong(), row->data(0, kPathRole).toString());
  });
  resize(760, 480);
  fill();
}

void DuplicatesDialog::fill() {
  auto* library = app_.library();
  if (!library) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // Hashes where there are any, else names and sizes (said above the list).
  auto by = app::DuplicatesBy::hash;
  auto finder = std::make_unique<app::DuplicateFinder>(by, 1);
  Status st = finder->add(*library, 0, {});
  if (st && !finder->anyHashed()) {
    by = app::DuplicatesBy::nameSize;
    finder = std::make_unique<app::DuplicateFinder>(by, 1);
    st = finder->add(*library, 0, {});
  }
  uint64_t wasted = 0;
  size_t groups = finder->forEachGroup([&](const app::DuplicateGroup& g) {
    wasted += g.wasted();
    auto* top = new QTreeWidgetItem(results_, {qs(g.key), qs(app::sizeText(g.size, true)),
                                               fillIn(app_, app::kTextDupesWasted, {qs(app::sizeText(g.wasted(), true))})});
    top->setFirstColumnSpanned(false);
    for (const auto& f : g.files) {
      auto* row = new QTreeWidgetItem(top, {qs(f.item + "/" + f.path()), qs(app::sizeText(g.size, true)), qs(f.location)});
      QVariantList category;
      for (uint16_t n : f.category) category.push_back(n);
      row->setData(0, kCategoryRole, category);
      row->setData(0, kNumberRole, static_cast<qlonglong>(f.itemNumber));
      // Paths inside an item are shown with "/" and kept as the tree keeps them.
      row->setData(0, kPathRole, qs(f.path()).replace('/', '\\'));
    }
    return true;
  });
  QApplication::restoreOverrideCursor();
  QStringList lines;
  if (!st) lines << qs(st.message());
  if (by == app::DuplicatesBy::nameSize) lines << text(app_, app::kTextDupesByNameSize);
  lines << (groups == 0 ? text(app_, app::kTextDupesNone)
                        : qs(app::countedText(app_, groups, app::kTextDupesGroups)) + ", " +
                              fillIn(app_, app::kTextDupesWasted, {qs(app::sizeText(wasted, true))}));
  summary_->setText(lines.join("\n"));
  results_->expandAll();
  results_->resizeColumnToContents(0);
}

}  // namespace tamber::gui
