#include "gui/scan_choices.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/gui_text.h"
#include "gui/texts.h"
#include "app/language.h"

namespace tamber::gui {

namespace {

QTableWidgetItem* flag(bool on) {
  auto* item = new QTableWidgetItem;
  item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  return item;
}

bool checked(const QTableWidget* table, int row, int column) {
  return table->item(row, column)->checkState() == Qt::Checked;
}

}  // namespace

ScanChoices::ScanChoices(const app::App& app, uint32_t bits, int depthEntry, QWidget* dialog,
                         std::function<QString()> startFolder) {
  depth = new QSpinBox;
  depth->setRange(0, 255);
  depth->setValue(depthEntry < 0 || depthEntry > 255 ? 0 : depthEntry);
  thumbnails = new QCheckBox(text(app, kThumbnails));
  thumbnails->setChecked(bits & scan::kScanThumbnails);
  tags = new QCheckBox(text(app, kTags));
  tags->setChecked(bits & scan::kScanTags);
  documents = new QCheckBox(text(app, kDocuments));
  documents->setChecked(bits & scan::kScanDocuments);
  archives = new QCheckBox(text(app, kArchives));
  archives->setChecked(bits & scan::kScanArchives);
  grid_ = new QGridLayout;
  grid_->addWidget(thumbnails, 0, 0);
  grid_->addWidget(tags, 0, 1);
  grid_->addWidget(documents, 1, 0);
  grid_->addWidget(archives, 1, 1);
  // Not one of the saved option bits: its default is a setting of its own.
  hash = new QCheckBox(text(app, app::kTextRecordHashes));
  hash->setToolTip(text(app, app::kTextRecordHashesTip));
  grid_->addWidget(hash, 2, 0, 1, 2);

  rules = new QTableWidget(0, 4);
  rules->setHorizontalHeaderLabels({plain(text(app, kFolder)).remove(':').trimmed(), text(app, kSkip),
                                    text(app, kNoThumbnails), text(app, kNoArchives)});
  rules->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  rules->verticalHeader()->hide();
  rules->setMinimumHeight(90);
  addRule = new QPushButton(text(app, kAddRule));
  removeRule = new QPushButton(text(app, kRemoveRule));
  QString title = text(app, kChooseFolder);
  QObject::connect(addRule, &QPushButton::clicked, dialog, [this, dialog, title, startFolder] {
    QString d = QFileDialog::getExistingDirectory(dialog, title, startFolder());
    if (!d.isEmpty()) addRow({QDir::cleanPath(d).toStdString(), true, false, false});
  });
  QObject::connect(removeRule, &QPushButton::clicked, dialog, [this] {
    if (rules->currentRow() >= 0) rules->removeRow(rules->currentRow());
  });
  rulesBox_ = new QGroupBox(text(app, kRules));
  auto* layout = new QVBoxLayout(rulesBox_);
  layout->addWidget(rules);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(addRule);
  buttons->addWidget(removeRule);
  layout->addLayout(buttons);
}

void ScanChoices::addRow(const scan::SubfolderRow& r) {
  int row = rules->rowCount();
  rules->insertRow(row);
  rules->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(r.path)));
  rules->setItem(row, 1, flag(r.skip));
  rules->setItem(row, 2, flag(r.noThumbnails));
  rules->setItem(row, 3, flag(r.noArchives));
}

void ScanChoices::setEnabled(bool on) {
  for (QWidget* w : std::initializer_list<QWidget*>{depth, thumbnails, tags, documents, archives, hash}) {
    w->setEnabled(on);
  }
  rulesBox_->setVisible(on);  // its room goes to what there is
}

void ScanChoices::setFrom(const scan::AddFolderOptions& o) {
  depth->setValue(o.depthEntry);
  thumbnails->setChecked(o.thumbnails);
  tags->setChecked(o.tags);
  documents->setChecked(o.documents);
  archives->setChecked(o.archives);
  rules->setRowCount(0);
  for (const auto& r : o.rows) addRow(r);
}

void ScanChoices::applyTo(scan::AddFolderOptions& o) const {
  o.depthEntry = depth->value();
  o.thumbnails = thumbnails->isChecked();
  o.tags = tags->isChecked();
  o.documents = documents->isChecked();
  o.archives = archives->isChecked();
  o.hash = hash->isChecked();
  o.rows.clear();
  for (int r = 0; r < rules->rowCount(); ++r) {
    o.rows.push_back({rules->item(r, 0)->text().toStdString(), checked(rules, r, 1), checked(rules, r, 2),
                      checked(rules, r, 3)});
  }
}

uint32_t ScanChoices::bits() const {
  uint32_t b = scan::kScanAll & ~0xC0u;
  if (!thumbnails->isChecked()) b &= ~scan::kScanThumbnails;
  if (!tags->isChecked()) b &= ~scan::kScanTags;
  if (!documents->isChecked()) b &= ~scan::kScanDocuments;
  if (!archives->isChecked()) b &= ~scan::kScanArchives;
  return b;
}

}  // namespace tamber::gui
