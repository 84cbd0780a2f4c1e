#include "gui/find_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QMenu>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/presentation.h"
#include "catalog/catalog_document.h"
#include "platform/hex_time.h"
#include "scan/listing_reader.h"
#include "gui/background_work.h"
#include "gui/gui_text.h"
#include "gui/help_window.h"
#include "gui/property_page.h"
#include "gui/texts.h"
#include "gui/window_queue.h"

namespace tamber::gui {

namespace {

using catalog::CatalogDocument;

constexpr int kCategoryRole = Qt::UserRole + 1;  // the item's category path
constexpr int kNumberRole = Qt::UserRole + 2;
constexpr int kPathRole = Qt::UserRole + 3;


constexpr int kItemPathRole = Qt::UserRole + 6;  // the item as "/"-joined names

QString slashed(const std::string& path) { return qs(path).replace('\\', '/'); }

enum Column { kItemColumn, kPathColumn, kFieldColumn, kSizeColumn, kModifiedColumn, kKeptColumn };
constexpr int kSortKeyRole = Qt::UserRole + 4;  // a number to sort the size and time by

// A result sorts by the column clicked, numbers as numbers; rows that tie
// keep the search's order (by item, then path).
class ResultRow : public QTreeWidgetItem {
 public:
  using QTreeWidgetItem::QTreeWidgetItem;
  bool operator<(const QTreeWidgetItem& other) const override {
    int column = treeWidget() ? treeWidget()->sortColumn() : 0;
    auto key = [&](const QTreeWidgetItem& row) {
      QVariant number = row.data(column, kSortKeyRole);
      return number.isValid() ? QVariant(number.toLongLong()) : QVariant(row.text(column).toLower());
    };
    QVariant a = key(*this), b = key(other);
    if (a != b) return QVariant::compare(a, b) == QPartialOrdering::Less;
    return data(0, kOrderRole).toLongLong() < other.data(0, kOrderRole).toLongLong();
  }
  static constexpr int kOrderRole = Qt::UserRole + 5;
};

}  // namespace

FindDialog::FindDialog(app::App& app, xmlNode* scope, QWidget* parent)
    : QDialog(parent), app_(app), scope_(scope), queue_(new WindowQueue(this)) {
  setWindowTitle(plain(text(app, kFind)));
  auto sw = search::loadSwitches(app.settings());

  text_ = new QComboBox;
  text_->setEditable(true);
  text_->setInsertPolicy(QComboBox::NoInsert);
  for (const auto& h : search::loadHistory(app.settings())) text_->addItem(qs(h));
  text_->setCurrentText(text_->count() ? text_->itemText(0) : QString());
  text_->lineEdit()->selectAll();
  case_ = new QCheckBox(text(app, kCase));
  case_->setChecked(sw.caseSensitive);
  whole_ = new QCheckBox(text(app, kWhole));
  whole_->setChecked(sw.wholeText);
  regex_ = new QCheckBox(text(app, kRegex));
  archives_ = new QCheckBox(text(app, kInArchives));
  archives_->setChecked(sw.searchArchives);
  auto& doc = app.library()->catalog();
  QString scopeName = scope && scope != doc.root()
                          ? shown(doc.field(scope, CatalogDocument::isCategory(scope) ? catalog::kCategoryName
                                                                                       : catalog::kLabel),
                                  80)
                          : QString();
  only_ = new QCheckBox(text(app, kOnlyBelow, {scopeName}));
  only_->setVisible(!scopeName.isEmpty());

  auto* kinds = new QGroupBox(text(app, kSearchWhat));
  auto* kindsRow = new QHBoxLayout(kinds);
  const int kindTexts[] = {kKindNames, kKindTracks, kKindPictures, kKindTags, kKindDocuments, kKindVideos};
  for (int i = 0; i < 6; ++i) {
    kinds_[i] = new QCheckBox(text(app, kindTexts[i]));
    kinds_[i]->setChecked(sw.kinds & (1 << i));
    kindsRow->addWidget(kinds_[i]);
  }

  dates_ = new QCheckBox(text(app, kDateRange));
  dates_->setChecked(sw.useDateRange);
  from_ = new QDateTimeEdit(QDateTime(QDate::currentDate().addYears(-1), QTime(0, 0)));
  to_ = new QDateTimeEdit(QDateTime(QDate::currentDate(), QTime(23, 59)));
  for (auto* e : {from_, to_}) {
    e->setCalendarPopup(true);
    e->setDisplayFormat("yyyy-MM-dd HH:mm");
  }
  sizes_ = new QCheckBox(text(app, kSizeRange));
  sizes_->setChecked(sw.useSizeRange);
  minGiven_ = new QCheckBox(text(app, kAtLeast));
  minGiven_->setChecked(sw.minGiven);
  maxGiven_ = new QCheckBox(text(app, kAtMost));
  maxGiven_->setChecked(sw.maxGiven);
  min_ = new QSpinBox;
  max_ = new QSpinBox;
  for (auto* s : {min_, max_}) {
    s->setRange(0, 2147483647);
    s->setSingleStep(10);
    s->setGroupSeparatorShown(true);
  }

  find_ = new QPushButton(text(app, kStart));
  find_->setDefault(true);
  stop_ = new QPushButton(text(app, kStop));
  stop_->setEnabled(false);
  connect(find_, &QPushButton::clicked, this, [this] { start(); });
  connect(stop_, &QPushButton::clicked, this, [this] { stop(); });

  results_ = new QTreeWidget;
  results_->setRootIsDecorated(false);
  results_->setUniformRowHeights(true);
  results_->setHeaderLabels({text(app, kColItem), text(app, kColPath), text(app, kColField), text(app, kColSize),
                             text(app, kColModified), text(app, kColKeptAt)});
  results_->header()->resizeSection(kItemColumn, 200);
  results_->header()->resizeSection(kPathColumn, 320);
  results_->header()->resizeSection(kSizeColumn, 90);
  results_->header()->resizeSection(kModifiedColumn, 140);
  results_->setSortingEnabled(true);
  results_->sortByColumn(kItemColumn, Qt::AscendingOrder);
  results_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(results_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QTreeWidgetItem* row = results_->itemAt(at);
    if (!row) return;
    results_->setCurrentItem(row);
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(plain(text(app_, kShowInTree)), this, [this, row] { emit results_->itemActivated(row, 0); });
    menu->addAction(plain(text(app_, kCopyPath)), this, [row] {
      QApplication::clipboard()->setText(row->data(0, kItemPathRole).toString() + "/" + row->text(kPathColumn));
    });
    menu->popup(results_->viewport()->mapToGlobal(at));
  });
  connect(results_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* row) {
    // The window reads the library to show it: the search ends first.
    if (running()) {
      stop();
      wait();
    }
    catalog::ItemPath category;
    for (const auto& n : row->data(0, kCategoryRole).toList()) category.push_back(static_cast<uint16_t>(n.toUInt()));
    emit showResult(category, row->data(0, kNumberRole).toLongLong(), row->data(0, kPathRole).toString());
  });
  status_ = new QLabel;

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(text(app, kFindText)), 0, 0);
  grid->addWidget(text_, 0, 1, 1, 4);
  grid->addWidget(find_, 0, 5);
  grid->addWidget(case_, 1, 1);
  grid->addWidget(whole_, 1, 2);
  grid->addWidget(regex_, 1, 3);
  grid->addWidget(archives_, 1, 4);
  grid->addWidget(stop_, 1, 5);
  grid->addWidget(kinds, 2, 0, 1, 6);
  grid->addWidget(dates_, 3, 0, 1, 2);
  grid->addWidget(from_, 3, 2);
  grid->addWidget(new QLabel(text(app, kAnd)), 3, 3, Qt::AlignCenter);
  grid->addWidget(to_, 3, 4);
  auto* help = new QPushButton(text(app, kHelpMenu).remove(QChar('&')));
  help->setAutoDefault(false);
  connect(help, &QPushButton::clicked, this, [this] { showHelp(this, app_, "find.html"); });
  grid->addWidget(help, 3, 5);
  grid->addWidget(sizes_, 4, 0, 1, 2);
  grid->addWidget(minGiven_, 4, 2);
  grid->addWidget(min_, 4, 3);
  grid->addWidget(maxGiven_, 4, 4);
  grid->addWidget(max_, 4, 5);
  grid->addWidget(only_, 5, 0, 1, 6);
  // The keyboard goes through the dialog as the eye does.
  QWidget* order[] = {text_, find_, case_, whole_, regex_, archives_, stop_, kinds_[0], kinds_[1], kinds_[2],
                      kinds_[3], kinds_[4], kinds_[5], dates_, from_, to_, sizes_, minGiven_, min_, maxGiven_, max_,
                      only_, results_};
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(results_, 1);
  layout->addWidget(status_);
  // Once they are all in the dialog.
  for (size_t i = 1; i < std::size(order); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
  resize(860, 600);
}

FindDialog::~FindDialog() {
  stopping_ = true;
  if (worker_.joinable()) worker_.join();
}

bool FindDialog::start() {
  if (running()) return false;
  if (worker_.joinable()) worker_.join();
  QString typed = text_->currentText();
  search::SearchCriteria c;
  c.regex = regex_->isChecked();
  c.caseSensitive = case_->isChecked();
  c.wholeText = whole_->isChecked();
  c.searchArchives = archives_->isChecked();
  c.pattern = search::prepareSearchText(ss(typed), c.wholeText || c.regex);
  if (c.pattern.empty()) return false;
  c.kinds = 0;
  for (int i = 0; i < 6; ++i) c.kinds |= kinds_[i]->isChecked() ? (1 << i) : 0;
  if (c.kinds == 0) c.kinds = search::kKindNames;
  if (dates_->isChecked()) {
    c.useDateRange = true;
    c.dateFrom = from_->dateTime().toSecsSinceEpoch();
    c.dateTo = to_->dateTime().toSecsSinceEpoch() + 59;  // the whole last minute
  }
  if (sizes_->isChecked()) {
    c.useSizeRange = true;
    c.minSizeKB = minGiven_->isChecked() ? min_->value() : 0;
    c.maxSizeKB = maxGiven_->isChecked() ? max_->value() : 0;
    c.maxGiven = maxGiven_->isChecked();
  }
  if (c.regex) {
    search::Matcher check(c.pattern, c.caseSensitive, c.wholeText, true);
    if (!check.error().empty()) {
      // The rows of the search before are not this search's: they go.
      results_->clear();
      shown_ = 0;
      status_->setText(qs(check.error()));
      return false;
    }
  }
  auto& doc = app_.library()->catalog();
  if (only_->isVisible() && only_->isChecked() && scope_ && scope_ != doc.root()) {
    c.scope = doc.parentPath(scope_);
    c.scope.push_back(CatalogDocument::numberOf(scope_));
  }
  // The switches and the text are kept for the next search.
  search::SearchSwitches sw;
  sw.useDateRange = c.useDateRange;
  sw.useSizeRange = c.useSizeRange;
  sw.minGiven = minGiven_->isChecked();
  sw.maxGiven = maxGiven_->isChecked();
  sw.caseSensitive = c.caseSensitive;
  sw.searchArchives = c.searchArchives;
  sw.wholeText = c.wholeText;
  sw.kinds = c.kinds;
  search::saveSwitches(app_.settings(), sw);
  search::addToHistory(app_.settings(), ss(typed.trimmed()));
  text_->clear();
  for (const auto& h : search::loadHistory(app_.settings())) text_->addItem(qs(h));
  text_->setCurrentText(typed);

  results_->clear();
  shown_ = 0;
  pattern_ = qs(c.pattern);
  status_->setText(text(app_, kSearching));
  find_->setEnabled(false);
  stop_->setEnabled(true);
  stopping_ = false;
  finished_ = false;
  outcome_.reset();
  worker_ = std::thread([this, c, reading = CatalogReading()] {
    auto found = [this](const std::vector<search::SearchHit>& hits, const std::vector<search::SearchItem>& items) {
      auto copy = std::make_shared<std::pair<std::vector<search::SearchHit>, std::vector<search::SearchItem>>>();
      copy->first = hits;
      for (const auto& h : hits) {
        if (copy->second.size() <= h.item) copy->second.resize(h.item + 1);
        copy->second[h.item] = items[h.item];
      }
      queue_->post([this, copy] { addHits(copy->first, copy->second); });
    };
    auto r = std::make_shared<Result<search::SearchResult>>(search::runSearch(*app_.library(), c, 5, found, &stopping_));
    finished_ = true;
    queue_->post([this, r] {
      outcome_ = r;
      finish(r->isOk() ? QString() : qs(r->message()));
    });
  });
  return true;
}

void FindDialog::addHits(const std::vector<search::SearchHit>& hits, const std::vector<search::SearchItem>& items) {
  QList<QTreeWidgetItem*> rows;
  for (const auto& h : hits) {
    const auto& item = items[h.item];
    QString modified = h.modified.empty() ? QString() : qs(app::localTimeText(h.modified));
    // The item as a location, its steps joined by "->"; a hit on another
    // field than the name as "TEXT <FIELD>".
    QString where = shown(item.path);
    where.replace('/', "->");
    bool discField = h.kind == search::SearchHit::Kind::discField;
    auto* row = new ResultRow(QStringList{where, shown(slashed(h.path)),
                                          h.field == "c" ? QString()
                                                         : QString("%1 <%2>").arg(shown(h.text),
                                                                                  recordedFieldName(app_, h.field, discField)),
                                          h.hasSize ? QLocale().toString(qulonglong(h.size)) : QString(), modified,
                                          shown(item.location)});
    row->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    if (h.hasSize) row->setData(kSizeColumn, kSortKeyRole, qlonglong(h.size));
    if (auto t = parseHexTime(h.modified)) row->setData(kModifiedColumn, kSortKeyRole, qlonglong(*t));
    row->setData(0, ResultRow::kOrderRole, qlonglong(shown_ + rows.size()));
    QVariantList category;
    for (auto n : item.category) category.push_back(n);
    row->setData(0, kCategoryRole, category);
    row->setData(0, kNumberRole, qlonglong(item.itemNumber));
    row->setData(0, kPathRole, qs(h.path));
    row->setData(0, kItemPathRole, shown(item.path));
    rows.push_back(row);
  }
  results_->addTopLevelItems(rows);
  shown_ += static_cast<int>(rows.size());
}

void FindDialog::finish(const QString& error) {
  if (worker_.joinable()) worker_.join();
  find_->setEnabled(true);
  stop_->setEnabled(false);
  if (!error.isEmpty()) {
    status_->setText(error);
    emit searchEnded(0);
    return;
  }
  // The rows in their final order: by item, then path.
  const auto& result = outcome_->value();
  results_->clear();
  shown_ = 0;
  addHits(result.hits, result.items);
  // " %d %s %s": the count, the language's word, the search in brackets.
  status_->setText(QString(" %1 %2 %3").arg(result.hits.size()).arg(text(app_, app::kTextHitsFor),
                                                                     "[\"" + pattern_ + "\"]"));
  emit searchEnded(static_cast<int>(result.hits.size()));
}

void FindDialog::stop() { stopping_ = true; }

void FindDialog::wait() {
  while (!finished_ || worker_.joinable()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (finished_ && !worker_.joinable()) break;
  }
}

}  // namespace tamber::gui
