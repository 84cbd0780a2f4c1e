#include "gui/shared_catalogue_dialog.h"

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
#include "gui/background_work.h"
#include "gui/gui_text.h"
#include "gui/texts.h"

namespace tamber::gui {

using RowFunction = std::function<bool(const app::SharedCatalogue::Row&)>;

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
  // The server is reached on a worker thread: the window stays drawn, and
  // a server slow to answer can be left (the connection gives up after 10 s).
  struct Opened {
    std::unique_ptr<app::SharedCatalogue> server;
    std::vector<std::string> names;
  };
  std::string address = address_->text().trimmed().toStdString();
  auto opened = runInBackground<Opened>(this, text(app_, kConnect), text(app_, kCancel),
                                        [&](const StepFunction&) -> Result<Opened> {
                                          auto c = app::SharedCatalogue::connect(address);
                                          if (!c) return c.error();
                                          auto names = (*c)->libraries();
                                          if (!names) return names.error();
                                          return Opened{std::move(*c), std::move(*names)};
                                        });
  if (!opened) {
    say(qs(opened.message()));
    return false;
  }
  auto* names = &opened->names;
  server_ = std::move(opened->server);
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
  std::string path = node->data(0, kPathRole).toString().toStdString();
  std::string library = node->data(0, kLibraryRole).toString().toStdString();
  std::vector<app::SharedCatalogue::Row> rows;
  Status st = readRows(text(app_, kSharedCatalogue), rows, [&](const RowFunction& take) {
    return server_->list(path, library, take);
  });
  for (const auto& r : rows) {
    QString name = qs(r.name);
    if (several_ && library.empty()) name += " (" + qs(r.library) + ")";
    auto* child = new QTreeWidgetItem(node, {name, sizeOf(r), whenText(r.modified)});
    child->setData(0, kPathRole, qs(r.type == "item" ? r.item : r.type == "category" ? r.path
                                                                : r.item + "/" + r.path));
    child->setData(0, kLibraryRole, qs(r.library));
    if (r.folder || r.type == "item" || r.type == "category") {
      // Opened on demand: a placeholder shows that it can be.
      child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    }
  }
  tree_->resizeColumnToContents(0);
  if (!st) say(qs(st.message()));
}

Status SharedCatalogueDialog::readRows(const QString& label, std::vector<app::SharedCatalogue::Row>& rows,
                                       const std::function<Status(const RowFunction&)>& read) {
  // Rows are gathered on a worker thread and made into the window's items
  // here; Cancel stops at the next row.
  return runInBackground(this, label, text(app_, kCancel), [&](const StepFunction& step) -> Status {
    return read([&](const app::SharedCatalogue::Row& r) {
      rows.push_back(r);
      return static_cast<long long>(rows.size()) < kShownAtMost && step(static_cast<long long>(rows.size()), 0);
    });
  });
}

bool SharedCatalogueDialog::search() {
  results_->clear();
  if (!server_) return false;
  app::SharedCatalogue::Query q;
  q.text = search_->text().trimmed().toStdString();
  if (q.text.empty()) return false;
  q.glob = q.text.find_first_of("*?[") != std::string::npos;
  std::vector<app::SharedCatalogue::Row> rows;
  Status st = readRows(plain(text(app_, kFind)), rows,
                       [&](const RowFunction& take) { return server_->find(q, take); });
  QList<QTreeWidgetItem*> items;
  for (const auto& r : rows) {
    QString where = (several_ ? qs(r.library) + ": " : QString()) + qs(r.item + "/" + r.path);
    items << new QTreeWidgetItem({qs(r.name), where, sizeOf(r), whenText(r.modified)});
  }
  long long found = static_cast<long long>(rows.size());
  results_->addTopLevelItems(items);
  results_->resizeColumnToContents(0);
  results_->resizeColumnToContents(1);
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
