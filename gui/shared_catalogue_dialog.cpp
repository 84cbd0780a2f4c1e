#include "gui/shared_catalogue_dialog.h"

#include <QApplication>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdlib>

#include "app/presentation.h"
#include "gui/gui_text.h"
#include "gui/texts.h"

namespace tamber::gui {

namespace {

constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kLibraryRole = Qt::UserRole + 2;
constexpr int kFilledRole = Qt::UserRole + 3;
// More rows than a person reads; the search says the first ones are shown.
constexpr long long kShownAtMost = 10000;
constexpr const char* kAddressSection = "App-Preference";
constexpr const char* kAddressKey = "SharedCatalogue";

QString whenText(const std::string& iso) {
  if (iso.empty()) return {};
  QDateTime t = QDateTime::fromString(qs(iso), Qt::ISODate);
  return t.isValid() ? t.toLocalTime().toString("yyyy-MM-dd HH:mm") : qs(iso);
}

QString sizeOf(const app::SharedCatalogue::Row& r) {
  return r.size < 0 || r.type == "item" ? QString() : qs(app::sizeText(static_cast<uint64_t>(r.size), true));
}

}  // namespace

SharedCatalogueDialog::SharedCatalogueDialog(app::App& app, QWidget* parent) : QDialog(parent), app_(app) {
  setWindowTitle(plain(text(app, kSharedCatalogue)));
  address_ = new QLineEdit;
  std::string stored = app.settings().getText(kAddressSection, kAddressKey);
  if (stored.empty() && std::getenv("TAMBER_SERVER")) stored = std::getenv("TAMBER_SERVER");
  address_->setText(qs(stored));
  address_->setPlaceholderText("postgresql://user@host/db");
  auto* connectButton = new QPushButton(text(app, kConnect));
  search_ = new QLineEdit;
  search_->setEnabled(false);
  findButton_ = new QPushButton(plain(text(app, kFind)));
  findButton_->setEnabled(false);
  status_ = new QLabel;
  status_->setWordWrap(true);
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  tree_ = new QTreeWidget;
  tree_->setColumnCount(3);
  tree_->setHeaderLabels({text(app, kColName), text(app, kColSize), text(app, kColModified)});
  tree_->setUniformRowHeights(true);
  results_ = new QTreeWidget;
  results_->setColumnCount(4);
  results_->setHeaderLabels({text(app, kColName), text(app, kColLocation), text(app, kColSize), text(app, kColModified)});
  results_->setUniformRowHeights(true);
  results_->setRootIsDecorated(false);
  auto* split = new QSplitter;
  split->addWidget(tree_);
  split->addWidget(results_);

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(text(app, kServerAddress)));
  top->addWidget(address_, 1);
  top->addWidget(connectButton);
  auto* find = new QHBoxLayout;
  find->addWidget(new QLabel(text(app, kFindOnServer)));
  find->addWidget(search_, 1);
  find->addWidget(findButton_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(find);
  layout->addWidget(split, 1);
  layout->addWidget(status_);
  layout->addWidget(buttons);

  connect(connectButton, &QPushButton::clicked, this, [this] { connectToServer(); });
  connect(address_, &QLineEdit::returnPressed, connectButton, &QPushButton::click);
  connect(findButton_, &QPushButton::clicked, this, [this] { search(); });
  connect(search_, &QLineEdit::returnPressed, this, [this] { search(); });
  connect(tree_, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* node) { expand(node); });
  resize(900, 560);
}

SharedCatalogueDialog::~SharedCatalogueDialog() = default;

void SharedCatalogueDialog::say(const QString& message) { status_->setText(message); }

bool SharedCatalogueDialog::connectToServer() {
  server_.reset();
  search_->setEnabled(false);
  findButton_->setEnabled(false);
  tree_->clear();
  results_->clear();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  auto c = app::SharedCatalogue::connect(address_->text().trimmed().toStdString());
  Result<std::vector<std::string>> names = c ? (*c)->libraries() : Result<std::vector<std::string>>(c.error());
  QApplication::restoreOverrideCursor();
  if (!names) {
    say(qs(names.message()));
    return false;
  }
  server_ = std::move(*c);
  search_->setEnabled(true);
  findButton_->setEnabled(true);
  several_ = names->size() > 1;
  QStringList shown;
  for (const auto& n : *names) shown << qs(n);
  say(text(app_, kConnectedTo, {shown.join(", ")}));
  app_.settings().putText(kAddressSection, kAddressKey, address_->text().trimmed().toStdString());
  auto* root = tree_->invisibleRootItem();
  root->setData(0, kPathRole, QString());
  root->setData(0, kFilledRole, false);
  expand(root);
  return true;
}

void SharedCatalogueDialog::expand(QTreeWidgetItem* node) {
  if (!server_ || node->data(0, kFilledRole).toBool()) return;
  node->setData(0, kFilledRole, true);
  qDeleteAll(node->takeChildren());
  QApplication::setOverrideCursor(Qt::WaitCursor);
  std::string path = node->data(0, kPathRole).toString().toStdString();
  std::string library = node->data(0, kLibraryRole).toString().toStdString();
  long long rows = 0;
  Status st = server_->list(path, library, [&](const app::SharedCatalogue::Row& r) {
    QString name = qs(r.name);
    if (several_ && library.empty()) name += " (" + qs(r.library) + ")";
    auto* child = new QTreeWidgetItem(node, {name, sizeOf(r), whenText(r.modified)});
    child->setData(0, kPathRole, qs(r.type == "item" ? r.item : r.type == "category" ? r.path
                                                                : r.item + "/" + r.path));
    child->setData(0, kLibraryRole, qs(r.library));
    if (r.type != "file" && r.type != "link") {
      // Opened on demand: a placeholder shows that it can be.
      child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    }
    return ++rows < kShownAtMost;
  });
  tree_->resizeColumnToContents(0);
  QApplication::restoreOverrideCursor();
  if (!st) say(qs(st.message()));
}

bool SharedCatalogueDialog::search() {
  results_->clear();
  if (!server_) return false;
  app::SharedCatalogue::Query q;
  q.text = search_->text().trimmed().toStdString();
  if (q.text.empty()) return false;
  q.glob = q.text.find_first_of("*?[") != std::string::npos;
  long long found = 0;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QList<QTreeWidgetItem*> rows;
  Status st = server_->find(q, [&](const app::SharedCatalogue::Row& r) {
    QString where = (several_ ? qs(r.library) + ": " : QString()) + qs(r.item + "/" + r.path);
    rows << new QTreeWidgetItem({qs(r.name), where, sizeOf(r), whenText(r.modified)});
    return ++found < kShownAtMost;
  });
  results_->addTopLevelItems(rows);
  results_->resizeColumnToContents(0);
  results_->resizeColumnToContents(1);
  QApplication::restoreOverrideCursor();
  if (!st) {
    say(qs(st.message()));
    return false;
  }
  QString count = text(app_, kFoundCount, {QString::number(found)});
  if (found >= kShownAtMost) count += ", " + text(app_, kFirstShown, {QString::number(kShownAtMost)});
  say(count);
  return true;
}

}  // namespace tamber::gui
