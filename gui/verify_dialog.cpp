#include "gui/verify_dialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/csv_export.h"
#include "app/language.h"
#include "app/presentation.h"
#include "catalog/catalog_document.h"
#include "gui/gui_text.h"
#include "gui/texts.h"
#include "scan/listing_reader.h"

namespace tamber::gui {

namespace {
constexpr int kPathRole = Qt::UserRole + 1;
}  // namespace

VerifyDialog::VerifyDialog(app::App& app, xmlNode* item, const QString& folder, QWidget* parent)
    : QDialog(parent), app_(app), verify_(folder.isEmpty()) {
  auto& doc = app.library()->catalog();
  category_ = doc.parentPath(item);
  number_ = catalog::CatalogDocument::numberOf(item);
  std::string label = doc.namePath(item);
  setWindowTitle(verify_ ? text(app, app::kTextVerifyTitle, {qs(label)})
                         : text(app, app::kTextCompareTitle, {qs(label), folder}));
  summary_ = new QLabel;
  summary_->setWordWrap(true);
  results_ = new QTreeWidget;
  results_->setColumnCount(3);
  results_->setHeaderLabels({text(app, app::kTextDifferenceColumn), text(app, app::kTextPathColumn),
                             text(app, app::kTextDetailsColumn)});
  results_->setRootIsDecorated(false);
  results_->setUniformRowHeights(true);
  results_->header()->setStretchLastSection(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  save_ = buttons->addButton(text(app, app::kTextSaveCsv), QDialogButtonBox::ActionRole);
  save_->setEnabled(false);
  stop_ = buttons->addButton(text(app, kStop), QDialogButtonBox::ActionRole);
  connect(buttons, &QDialogButtonBox::rejected, this, &VerifyDialog::reject);
  connect(stop_, &QPushButton::clicked, this, [this] {
    if (reading_ && !finished_) reading_->job().cancel();
  });
  connect(save_, &QPushButton::clicked, this, [this] {
    QString to = QFileDialog::getSaveFileName(this, plain(text(app_, app::kTextSaveCsv)), {}, "CSV (*.csv)");
    if (!to.isEmpty()) saveCsv(to);
  });
  connect(results_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* row) {
    QString path = row->data(0, kPathRole).toString();
    if (!path.isEmpty()) emit showResult(category_, number_, path);
  });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(results_, 1);
  layout->addWidget(buttons);
  resize(760, 480);

  auto fail = [this](const QString& why) {
    summary_->setText(why);
    stop_->setEnabled(false);
    finished_ = true;
  };
  auto files = app::readFileSet(scan::streamListing(app.library()->file().root(), category_, number_));
  if (!files) {
    fail(qs(label + ": " + files.message()));
    return;
  }
  recorded_ = std::move(files.value());
  if (doc.itemKind(item) == catalog::kKindCdExtra) app::dropTracks(recorded_);
  Result<scan::AddFolderOptions> o = Error{Errc::not_found, ""};
  if (verify_) {
    o = app::verifyOptions(doc, item, {}, recorded_.hashed > 0);
  } else {
    scan::AddFolderOptions options;
    options.path = ss(folder);
    options.hash = recorded_.hashed > 0;
    o = options;
  }
  if (!o) {
    fail(o.error().code == Errc::unsupported
             ? text(app, app::kTextVerifyAudioDisc)
             : text(app, app::kTextVerifyNoFolder, {qs(o.message().empty() ? label : o.message())}));
    return;
  }
  auto reading = app::FolderReading::prepare(*o);
  if (!reading) {
    fail(qs(reading.message()));
    return;
  }
  reading_ = std::move(reading.value());
  reading_->job().start();
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, &VerifyDialog::poll);
  timer_->start(100);
  poll();
}

VerifyDialog::~VerifyDialog() {
  // Nothing runs on after the dialog: the walk is stopped and waited for.
  if (reading_ && !finished_) reading_->job().cancel();
}

void VerifyDialog::reject() {
  if (reading_ && !finished_) reading_->job().cancel();
  QDialog::reject();
}

void VerifyDialog::poll() {
  if (!reading_ || finished_) return;
  if (reading_->job().finished()) return end();
  auto& c = reading_->job().counters();
  summary_->setText(qs(app::countedText(app_, c.files.load(), app::kTextFileCount) + ", " +
                       app::countedText(app_, c.folders.load(), app::kTextFolderCount)));
}

void VerifyDialog::end() {
  finished_ = true;
  if (timer_) timer_->stop();
  stop_->setEnabled(false);
  const auto& r = reading_->job().wait();
  if (r.outcome != scan::JobOutcome::done) {
    summary_->setText(r.outcome == scan::JobOutcome::cancelled ? text(app_, app::kTextCancelled)
                                                                : qs(r.message));
    emit readingEnded();
    return;
  }
  auto files = reading_->files();
  if (!files) {
    summary_->setText(qs(files.message()));
    emit readingEnded();
    return;
  }
  present_ = std::move(files.value());
  comparison_ = app::compareFileSets(recorded_, present_, !verify_);
  fill();
  emit readingEnded();
}

void VerifyDialog::fill() {
  results_->clear();
  for (const auto& d : comparison_.differences) {
    const app::FileFacts* shown = d.before ? d.before : d.after;
    auto* row = new QTreeWidgetItem(results_);
    row->setText(0, qs(app::differenceText(app_, d.kind, verify_)));
    row->setText(1, qs(shown->path));
    row->setText(2, qs(app::differenceDetails(app_, d)));
    // Only what the item recorded can be shown in the library.
    if (d.before) row->setData(0, kPathRole, qs(d.before->path));
  }
  for (int c = 0; c < 2; ++c) results_->resizeColumnToContents(c);
  QString summary = text(app_, app::kTextDiffAlike,
                         {qs(app::countedText(app_, comparison_.same, app::kTextFilesAlikeCount)),
                          QString::number(comparison_.hashCompared)});
  if (recorded_.hashed == 0) summary += " " + text(app_, app::kTextDiffNoHashes);
  if (comparison_.differs()) {
    summary += "\n" + text(app_, app::kTextDiffSummary, {qs(app::differenceCounts(app_, comparison_, verify_))});
  }
  summary_->setText(summary);
  save_->setEnabled(true);
}

bool VerifyDialog::saveCsv(const QString& path) {
  // The file appears whole or not at all.
  QSaveFile file(path);
  std::string out = "status,path,details\r\n";
  for (const auto& d : comparison_.differences) {
    const app::FileFacts* shown = d.before ? d.before : d.after;
    out += app::csvField(app::differenceText(app_, d.kind, verify_)) + "," + app::csvField(shown->path) + "," +
           app::csvField(app::differenceDetails(app_, d)) + "\r\n";
  }
  bool ok = file.open(QIODevice::WriteOnly) &&
            file.write(out.data(), static_cast<qint64>(out.size())) == static_cast<qint64>(out.size()) && file.commit();
  if (!ok) QMessageBox::warning(this, windowTitle(), path + ": " + file.errorString());
  return ok;
}

}  // namespace tamber::gui
