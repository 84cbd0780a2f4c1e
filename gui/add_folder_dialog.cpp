#include "gui/add_folder_dialog.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <filesystem>

#include "app/presentation.h"
#include "catalog/catalog_document.h"
#include "gui/background_work.h"
#include "gui/gui_text.h"
#include "gui/help_window.h"
#include "gui/scan_choices.h"
#include "gui/texts.h"

namespace tamber::gui {

namespace {

using catalog::CatalogDocument;


// Every category of the catalog as "A/B" with its path.
void listCategories(const CatalogDocument& doc, xmlNode* at, const QString& prefix,
                    const catalog::ItemPath& path, QComboBox* box) {
  for (xmlNode* c = at->children; c; c = c->next) {
    if (!CatalogDocument::isCategory(c)) continue;
    QString name = prefix + qs(doc.field(c, catalog::kCategoryName));
    catalog::ItemPath here = path;
    here.push_back(CatalogDocument::numberOf(c));
    QVariantList data;
    for (auto n : here) data.push_back(n);
    box->addItem(name, data);
    listCategories(doc, c, name + "/", here, box);
  }
}

}  // namespace

void fillCategoryBox(const CatalogDocument& doc, xmlNode* selected, QComboBox* box) {
  listCategories(doc, doc.root(), "", {}, box);
  // The selected category (or the selected item's) is proposed.
  xmlNode* proposed = selected && CatalogDocument::isItem(selected) ? selected->parent : selected;
  if (proposed && CatalogDocument::isCategory(proposed)) {
    catalog::ItemPath p = doc.parentPath(proposed);
    p.push_back(CatalogDocument::numberOf(proposed));
    QVariantList data;
    for (auto n : p) data.push_back(n);
    box->setCurrentIndex(std::max(0, box->findData(data)));
  }
}

AddFolderDialog::AddFolderDialog(app::App& app, xmlNode* selected, QWidget* parent)
    : QDialog(parent), app_(app), selected_(selected) {
  setWindowTitle(text(app, kAddFolderTitle));
  auto& doc = app.library()->catalog();
  auto bits = static_cast<uint32_t>(app.settings().getInt("serialized_param", "param_dlgfolder",
                                                          static_cast<int>(scan::kScanAll)));

  folder_ = new QLineEdit;
  auto* browse = new QPushButton(text(app, kBrowse));
  connect(browse, &QPushButton::clicked, this, [this] {
    QString d = QFileDialog::getExistingDirectory(this, text(app_, kChooseFolder), folder_->text());
    if (!d.isEmpty()) folder_->setText(d);
  });
  label_ = new QLineEdit;
  // The folder's name is the label until the user writes one.
  connect(folder_, &QLineEdit::textChanged, this, [this](const QString& path) {
    if (!label_->isModified()) label_->setText(QFileInfo(QDir::cleanPath(path)).fileName());
  });
  category_ = new QComboBox;
  category_->setEditable(true);
  fillCategoryBox(doc, selected, category_);
  comment_ = new QLineEdit;
  choices_ = std::make_unique<ScanChoices>(app, bits, app.settings().getInt("App-Preference", "DefaultDepth", 0), this,
                                           [this] { return folder_->text(); });
  choices_->hash->setChecked(app.settings().getInt("App-Preference", "HashContents", 0) != 0);
  filterOn_ = new QCheckBox(text(app, kFilter));
  filter_ = new QComboBox;
  filter_->setEditable(true);
  for (const auto& f : app::filterHistory(app.settings())) filter_->addItem(qs(f));
  filter_->setCurrentText("*.*");
  exclude_ = new QCheckBox(text(app, kExclude));
  exclude_->setChecked(bits & 0x40);  // the saved word keeps the exclude choice there
  update_ = new QCheckBox(text(app, kUpdate));
  update_->setEnabled(selected && CatalogDocument::isItem(selected) &&
                      catalog::isFolderKind(doc.itemKind(selected)));


  // Update mode takes what the item was scanned with.
  connect(update_, &QCheckBox::toggled, this, [this](bool on) {
    label_->setEnabled(!on);
    category_->setEnabled(!on);
    if (!on) return;
    auto& d = app_.library()->catalog();
    auto o = scan::AddFolderJob::recordedOptions(d, selected_);
    folder_->setText(qs(o.path));
    label_->setText(qs(d.field(selected_, catalog::kLabel)));
    choices_->setFrom(o);
    filterOn_->setChecked(o.filterOn);
    filter_->setCurrentText(qs(o.filter));
    exclude_->setChecked(o.exclude);
  });

  // The form.
  auto* form = new QFormLayout;
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(folder_, 1);
  folderRow->addWidget(browse);
  form->addRow(text(app, kFolder), folderRow);
  form->addRow(text(app, kLabel), label_);
  form->addRow(text(app, kCategory), category_);
  form->addRow(text(app, kComment), comment_);
  form->addRow(text(app, kDepth), choices_->depth);
  form->addRow(choices_->optionGrid());
  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(filterOn_);
  filterRow->addWidget(filter_, 1);
  filterRow->addWidget(exclude_);
  form->addRow(filterRow);
  form->addRow(choices_->rulesBox());
  form->addRow(update_);
  auto* buttons = new QDialogButtonBox;
  ok_ = buttons->addButton(text(app, kAdd), QDialogButtonBox::AcceptRole);
  buttons->addButton(text(app, kCancel), QDialogButtonBox::RejectRole);
  buttons->addButton(QDialogButtonBox::Help);
  connect(buttons, &QDialogButtonBox::helpRequested, this,
          [this] { showHelp(this, app_, "add-folder.html"); });
  connect(ok_, &QPushButton::clicked, this, [this] { start(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* setup = new QWidget;
  auto* setupLayout = new QVBoxLayout(setup);
  setupLayout->addLayout(form);
  setupLayout->addWidget(buttons);

  // The progress.
  bar_ = new QProgressBar;
  bar_->setTextVisible(false);
  percent_ = new QLabel;
  counts_ = new QLabel;
  current_ = new QLabel;
  current_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  current_->setMinimumWidth(420);
  auto* stop = new QPushButton(text(app, kCancel));
  connect(stop, &QPushButton::clicked, this, [this] { cancel(); });
  auto* progress = new QWidget;
  auto* p = new QVBoxLayout(progress);
  auto* barRow = new QHBoxLayout;
  barRow->addWidget(bar_, 1);
  barRow->addWidget(percent_);
  p->addLayout(barRow);
  p->addWidget(counts_);
  p->addWidget(current_);
  p->addStretch();
  auto* stopRow = new QHBoxLayout;
  stopRow->addStretch();
  stopRow->addWidget(stop);
  p->addLayout(stopRow);

  // The keyboard goes through the form as the eye does.
  const ScanChoices& c = *choices_;
  QWidget* order[] = {folder_,      browse,  label_,     category_, comment_,     c.depth,       c.thumbnails,
                      c.tags,       c.documents, c.archives, filterOn_, filter_, exclude_, c.rules,
                      c.addRule,    c.removeRule, update_, ok_};
  pages_ = new QStackedWidget;
  pages_->addWidget(setup);
  pages_->addWidget(progress);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages_);
  // Once they are all in the dialog.
  for (size_t i = 1; i < std::size(order); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
  timer_ = new QTimer(this);
  timer_->setInterval(500);
  connect(timer_, &QTimer::timeout, this, &AddFolderDialog::poll);
}

AddFolderDialog::~AddFolderDialog() {
  if (job_) {
    job_->cancel();
    end();
  }
}

void AddFolderDialog::say(const QString& message, bool error) {
  message_ = message;
  if (quiet_) return;
  if (error) {
    QMessageBox::warning(this, windowTitle(), message);
  } else {
    QMessageBox::information(this, windowTitle(), message);
  }
}

scan::AddFolderOptions AddFolderDialog::options(QString& problem) {
  scan::AddFolderOptions o;
  QString folder = folder_->text().trimmed();
  o.path = folder.isEmpty() ? std::string() : std::filesystem::absolute(ss(folder)).lexically_normal().string();
  while (o.path.size() > 1 && o.path.back() == '/') o.path.pop_back();
  o.label = ss(label_->text().trimmed());
  o.comment = ss(comment_->text());
  choices_->applyTo(o);
  o.filterOn = filterOn_->isChecked();
  o.filter = o.filterOn ? ss(filter_->currentText().trimmed()) : "*.*";
  o.exclude = o.filterOn && exclude_->isChecked();
  if (folder.isEmpty()) problem = text(app_, kChooseFolder);
  return o;
}

bool AddFolderDialog::start() {
  if (job_) return false;
  QString problem;
  scan::AddFolderOptions o = options(problem);
  if (!problem.isEmpty()) {
    say(problem, true);
    return false;
  }
  QString categoryText = category_->currentText().trimmed();
  if (update_->isChecked()) {
    auto& doc = app_.library()->catalog();
    o.category = doc.parentPath(selected_);
    o.update = CatalogDocument::numberOf(selected_);
  }
  return startPrepared(o, categoryText);
}

bool AddFolderDialog::startPrepared(scan::AddFolderOptions o, const QString& categoryText) {
  if (job_) return false;
  forDisc_ = o.disc.has_value();
  if (Status st = scan::AddFolderJob::validate(o); !st) {
    say(qs(st.message()), true);
    return false;
  }
  auto& lib = *app_.library();
  auto& doc = lib.catalog();
  if (!o.update && categoryText.isEmpty()) {
    say(plain(text(app_, kCategory)).remove(':').trimmed() + "?", true);
    return false;
  }
  checkpoint_ = std::make_unique<app::CatalogCheckpoint>(lib);
  if (!o.update) {
    // A category typed in the box is made, each missing step of its path.
    o.category.clear();
    for (const auto& step : categoryText.split('/', Qt::SkipEmptyParts)) {
      xmlNode* parent = doc.category(o.category);
      unsigned long before = parent ? xmlChildElementCount(parent) : 0;
      auto n = doc.addCategory(o.category, ss(step.trimmed()), "");
      if (!n) {
        checkpoint_->restore();
        checkpoint_.reset();
        // A disc's page says it in the words the disc dialog uses.
        say(forDisc_ ? text(app_, app::kTextCategoryRefused) + " " + qs(n.message()) : qs(n.message()), true);
        return false;
      }
      o.category.push_back(*n);
      if (xmlChildElementCount(parent) > before) checkpoint_->noteCreated(doc.category(o.category));
    }
  }
  o.archiveBudget = app::archiveBudget(app_.settings());
  o.userReaders = app::userReaders(app_.settings());
  running_ = o;
  message_.clear();  // what the last job said is not this one's
  job_ = std::make_unique<scan::AddFolderJob>(lib, o);
  job_->start();
  pages_->setCurrentIndex(1);
  bar_->setRange(0, 0);
  current_->setText(text(app_, app::kTextStatistics));
  timer_->start();
  return true;
}

void AddFolderDialog::poll() {
  if (!job_) return;
  if (job_->finished()) {
    // Filing the item changes the catalog: not while a search, a report or
    // an export reads it (the next tick tries again).
    if (!CatalogReading::any()) end();
    return;
  }
  auto& c = job_->counters();
  // The folder being added, then the folder being read.
  current_->setText(qs(app::spokenText(app_.language(), c.text.get())));
  counts_->setText(qs(app::countedText(app_, c.files.load(), app::kTextFileCount) + ", " +
                      app::countedText(app_, c.folders.load(), app::kTextFolderCount)));
  uint64_t progress = c.progress.load(), total = c.total.load();
  if (!job_->walking() || total == 0) {
    bar_->setRange(0, 0);
    percent_->clear();
  } else {
    int pct = static_cast<int>(std::min<uint64_t>(100, progress * 100 / total));
    bar_->setRange(0, 100);
    bar_->setValue(pct);
    percent_->setText(QString::asprintf("%d %%", pct));
  }
}

void AddFolderDialog::cancel() {
  if (!job_) {
    QDialog::reject();
    return;
  }
  job_->cancel();  // clears the running flag and waits for the walk to stop
  if (CatalogReading::any()) {
    // The categories made for the job go once the readers are done.
    timer_->start();
    return;
  }
  end();
}

void AddFolderDialog::reject() {
  if (job_) {
    cancel();  // ends with the dialog rejected
    return;
  }
  QDialog::reject();
}

void AddFolderDialog::keyPressEvent(QKeyEvent* event) {
  if (job_ && event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void AddFolderDialog::done(int result) {
  // The folder options are kept whenever the dialog closes (after a job or
  // not), for the next time it opens; an update's and a disc's are not the
  // user's choice for new folders.
  if (!forDisc_ && !update_->isChecked()) {
    uint32_t bits = choices_->bits();
    if (exclude_->isChecked()) bits |= 0x40;
    app_.settings().putInt("serialized_param", "param_dlgfolder", static_cast<int>(bits));
  }
  QDialog::done(result);
}

void AddFolderDialog::end() {
  timer_->stop();
  const scan::AddFolderResult r = job_->wait();
  std::unique_ptr<scan::AddFolderJob> job = std::move(job_);
  auto& doc = app_.library()->catalog();
  for (const auto& u : r.unreadable) say(text(app_, app::kTextUnreadableFolder, {qs(u)}), true);
  if (r.outcome != scan::JobOutcome::done) {
    checkpoint_->restore();
    checkpoint_.reset();
    // A cancel is the user's own doing: nothing to tell.
    bool cancelled = r.outcome == scan::JobOutcome::cancelled;
    if (!cancelled) say(text(app_, app::kTextScanFailed, {qs(running_.path)}) + " " + qs(r.message), true);
    emit finished(false, {}, 0);
    // A cancel closes the dialog; after a failure its page stays, to be
    // mended and started again (a disc's progress view closes).
    if (cancelled || forDisc_ || update_->isChecked()) {
      QDialog::reject();
    } else {
      backToSetup();
    }
    return;
  }
  checkpoint_.reset();
  app::rememberAddFolder(app_.settings(), *job, running_, r);
  doc.setModified();
  xmlNode* item = doc.item(running_.category, r.number);
  QString where = item ? qs(doc.field(item, catalog::kLabel)) : QString();
  say(text(app_, app::kTextScanDone, {where, qs(app::elapsedText(r.elapsed)), text(app_, app::kTextLibraryUpdated)}),
      false);
  emit finished(true, running_.category, r.number);
  // A re-scan and a disc are done; a new folder leaves the dialog open for
  // the next one, its options as they were.
  if (forDisc_ || update_->isChecked()) {
    accept();
    return;
  }
  folder_->clear();
  label_->clear();
  backToSetup();
}

void AddFolderDialog::backToSetup() {
  pages_->setCurrentIndex(0);
  folder_->setFocus();
}

}  // namespace tamber::gui
