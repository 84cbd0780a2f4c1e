#include "gui/report_window.h"

#include "report/collation.h"

#include <malloc.h>

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/presentation.h"
#include "catalog/catalog_document.h"
#include "gui/background_work.h"
#include "gui/file_dialogs.h"
#include "gui/gui_text.h"
#include "gui/help_window.h"
#include "gui/texts.h"
#include "gui/window_queue.h"
#include "platform/atomic_file.h"
#include "report/report_data.h"

namespace tamber::gui {

namespace {

using catalog::CatalogDocument;

constexpr report::Level kAllLevels[] = {report::Level::category,     report::Level::fileStructure,
                                     report::Level::fileItems,    report::Level::audioDetails,
                                     report::Level::trackItem,    report::Level::summary};

// The page as Qt shows and prints it. Cover references
// ("tamber://pointer=|N|stream=|NAME|", their bars maybe escaped) are no
// URLs Qt can parse: the page refers to the pictures as "tamber-cover:NAME".
// The preview lays out at most this much of a report: the rich text view
// takes time and memory far beyond the page's size (a report of 200,000
// files held the window for over a minute and took 2.4 GB). Saving and
// printing use the whole report.
constexpr qsizetype kLongestPreview = 512 * 1024;

// A break opportunity (a zero-width space) in every run of text of more
// than 200 characters without one: the layout of a long unbroken word takes
// time that grows with its square. Tags and character references are left
// whole.
QString withBreaks(const QString& html) {
  constexpr int kLongestRun = 200;
  QString out;
  out.reserve(html.size() + html.size() / 64);
  int run = 0;
  bool inTag = false, inReference = false;
  for (QChar c : html) {
    out += c;
    if (inTag) {
      inTag = c != u'>';
      continue;
    }
    if (c == u'<') {
      inTag = true;
      run = 0;
      continue;
    }
    if (inReference) {
      inReference = c != u';';
      continue;
    }
    if (c == u'&') inReference = true;
    if (c.isSpace()) {
      run = 0;
    } else if (++run >= kLongestRun && !inReference) {
      out += QChar(0x200B);
      run = 0;
    }
  }
  return out;
}

// What the preview shows of `html`: its beginning, cut after a whole row and
// followed by `notice` when it is long.
QString previewPart(const QString& html, const QString& notice) {
  if (html.size() <= kLongestPreview) return withBreaks(html);
  qsizetype end = html.lastIndexOf("</tr>", kLongestPreview, Qt::CaseInsensitive);
  end = end < 0 ? kLongestPreview : end + 5;
  return withBreaks(html.left(end)) + "</table><p><i>" + notice.toHtmlEscaped() + "</i></p></body></html>";
}

QString withCoverUrls(const QString& html) {
  static const QRegularExpression reference(
      "tamber://pointer=(?:\\||%7C)[0-9]+(?:\\||%7C)stream=(?:\\||%7C)([A-Za-z0-9_-]+)(?:\\||%7C)",
      QRegularExpression::CaseInsensitiveOption);
  // Qt's rich text knows no flexible boxes or margins on spans: the facts
  // that a browser sets apart by their gaps get spaces between them.
  static const QRegularExpression adjacent("</span>\\s*<span");
  static const QRegularExpression kind("\\s*<span class=\"kind\">");
  QString shown = html;
  shown.replace(reference, "tamber-cover:\\1");
  shown.replace(adjacent, "</span>&nbsp;&nbsp;&nbsp; <span");
  shown.replace(kind, " &nbsp;<span class=\"kind\">");
  // Nor widths of empty spans: a file's depth becomes blank space.
  static const QRegularExpression indent("<span class=\"indent\" style=\"width: ([0-9.]+)em\"></span>");
  QString out;
  qsizetype from = 0;
  for (auto it = indent.globalMatch(shown); it.hasNext();) {
    auto m = it.next();
    out += QStringView(shown).mid(from, m.capturedStart() - from);
    int spaces = static_cast<int>(m.captured(1).toDouble() * 2 + 0.5);
    for (int i = 0; i < std::min(spaces, 400); ++i) out += "&nbsp;";
    from = m.capturedEnd();
  }
  out += QStringView(shown).mid(from);
  return out;
}

// The stored cover picture a "tamber-cover:" URL names.
QVariant coverResource(app::App& app, const QUrl& url) {
  std::string stream = ss(url.path());
  if (!app.library() || stream.empty() || stream.rfind("img", 0) != 0) return {};
  auto s = app.library()->file().root().openStream(stream);
  if (!s) return {};
  auto bytes = s->readAll();
  if (!bytes) return {};
  QImage image = QImage::fromData(QByteArray::fromStdString(*bytes));
  if (image.isNull()) return {};
  return image.scaled(72, 72, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// The preview shows the cover pictures its worker read: the window's
// thread never reads the library while a worker may.
class CoverBrowser : public QTextBrowser {
 public:
  CoverBrowser(const QHash<QString, QImage>& covers, QWidget* parent) : QTextBrowser(parent), covers_(covers) {}
  QVariant loadResource(int type, const QUrl& url) override {
    if (type == QTextDocument::ImageResource && url.scheme() == "tamber-cover") {
      auto it = covers_.find(url.path());
      if (it != covers_.end()) return *it;
    }
    return {};  // the report refers to nothing else
  }

 private:
  const QHash<QString, QImage>& covers_;
};

// The scaled picture of every cover the page refers to.
QHash<QString, QImage> readCovers(app::App& app, const QString& page) {
  static const QRegularExpression reference("tamber-cover:([A-Za-z0-9_-]+)");
  QHash<QString, QImage> covers;
  for (auto it = reference.globalMatch(page); it.hasNext();) {
    QString stream = it.next().captured(1);
    if (covers.contains(stream)) continue;
    QVariant image = coverResource(app, QUrl("tamber-cover:" + stream));
    covers.insert(stream, image.value<QImage>());
  }
  return covers;
}

class CoverDocument : public QTextDocument {
 public:
  explicit CoverDocument(app::App& app) : app_(app) {}
  QVariant loadResource(int type, const QUrl& url) override {
    if (type == QTextDocument::ImageResource && url.scheme() == "tamber-cover") return coverResource(app_, url);
    return {};
  }

 private:
  app::App& app_;
};

}  // namespace

// A document parsed on the worker, handed to the window's thread; deleted
// with the last holder when no window took it.
struct ReportWindow::PreparedDocument {
  QTextDocument* document = nullptr;
  QTextDocument* take() { return std::exchange(document, nullptr); }
  ~PreparedDocument() {
    if (document) document->deleteLater();
  }
};

ReportWindow::ReportWindow(app::App& app, std::vector<xmlNode*> selection, QWidget* parent)
    : QDialog(parent), app_(app), selection_(std::move(selection)) {
  setWindowTitle(text(app_, kReportTitle));
  setSizeGripEnabled(true);
  resize(1100, 760);
  if (selection_.empty() && app_.library()) {
    auto& doc = app_.library()->catalog();
    for (xmlNode* c = doc.root()->children; c; c = c->next) {
      if (CatalogDocument::isCategory(c) || CatalogDocument::isItem(c)) selection_.push_back(c);
    }
  }

  auto* choices = new QWidget;
  auto* left = new QVBoxLayout(choices);
  left->setContentsMargins(0, 0, 0, 0);
  left->addWidget(new QLabel(text(app_, kLevels)));
  levels_ = new QTreeWidget;
  levels_->setHeaderHidden(true);
  left->addWidget(levels_, 1);
  // Up to three keys, as `tamber report --sort LEVEL=A,B,C` gives them.
  auto* sortRow = new QGridLayout;
  for (int k = 0; k < kSortKeys; ++k) {
    sortRow->addWidget(new QLabel(text(app_, k == 0 ? kSortBy : kThenBy)), k, 0);
    sort_[static_cast<size_t>(k)] = new QComboBox;
    sortRow->addWidget(sort_[static_cast<size_t>(k)], k, 1);
  }
  sortRow->setColumnStretch(1, 1);
  left->addLayout(sortRow);
  covers_ = new QCheckBox(text(app_, kShowCovers));
  left->addWidget(covers_);
  auto* styleRow = new QHBoxLayout;
  styleRow->addWidget(new QLabel(text(app_, kStylesheet)));
  stylesheet_ = new QLineEdit(qs(app_.settings().getText("App-Preference", "DefaultXSLFile")));
  stylesheet_->setPlaceholderText(text(app_, kDefaultStylesheet));
  styleRow->addWidget(stylesheet_, 1);
  auto* browse = new QPushButton("…");
  browse->setAutoDefault(false);
  styleRow->addWidget(browse);
  left->addLayout(styleRow);

  preview_ = new CoverBrowser(coverPictures_, this);
  preview_->setOpenLinks(false);
  preview_->setObjectName("reportPreview");
  queue_ = std::make_unique<WindowQueue>();
  // Below the preview: how far the preview has come (with its Cancel), or
  // how much of the report it shows (with Show more).
  auto* status = new QHBoxLayout;
  progress_ = new QProgressBar;
  progress_->setRange(0, 0);
  progress_->setTextVisible(true);
  progress_->setMaximumWidth(260);
  progress_->hide();
  notice_ = new QLabel;
  notice_->setWordWrap(true);
  notice_->setObjectName("previewNotice");
  more_ = new QPushButton(text(app_, kShowMore));
  more_->setAutoDefault(false);
  more_->hide();
  cancel_ = new QPushButton(text(app_, kCancel));
  cancel_->setAutoDefault(false);
  cancel_->hide();
  status->addWidget(progress_);
  status->addWidget(notice_, 1);
  status->addWidget(more_);
  status->addWidget(cancel_);
  auto* split = new QSplitter;
  split->addWidget(choices);
  split->addWidget(preview_);
  split->setStretchFactor(1, 3);
  split->setSizes({300, 800});

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close | QDialogButtonBox::Help);
  auto add = [&](int id) {
    auto* b = buttons->addButton(text(app_, id).remove('&'), QDialogButtonBox::ActionRole);
    b->setAutoDefault(false);
    return b;
  };
  QPushButton* refreshButton = add(kRefresh);
  QPushButton* printButton = add(kPrint);
  QPushButton* previewButton = add(kPrintPreview);
  QPushButton* saveButton = add(kSaveAs);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(split, 1);
  layout->addLayout(status);
  layout->addWidget(buttons);
  connect(cancel_, &QPushButton::clicked, this, &ReportWindow::cancelPreview);
  connect(more_, &QPushButton::clicked, this, [this] {
    previewLimit_ *= 4;
    refresh();
  });

  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::helpRequested, this,
          [this] { showHelp(this, app_, "report.html"); });
  connect(refreshButton, &QPushButton::clicked, this, [this] { refresh(); });
  connect(printButton, &QPushButton::clicked, this, &ReportWindow::print);
  connect(previewButton, &QPushButton::clicked, this, &ReportWindow::printPreview);
  connect(saveButton, &QPushButton::clicked, this, &ReportWindow::chooseFile);
  connect(browse, &QPushButton::clicked, this, [this] {
    QString f = QFileDialog::getOpenFileName(this, text(app_, kStylesheet), QString(), "XSLT (*.xsl *.xslt);;*");
    if (f.isEmpty()) return;
    stylesheet_->setText(f);
    if (openReporter()) refresh();
  });
  connect(stylesheet_, &QLineEdit::editingFinished, this, [this] {
    if (openReporter()) refresh();
  });
  connect(levels_, &QTreeWidget::currentItemChanged, this, [this] { levelChosen(); });
  connect(levels_, &QTreeWidget::itemChanged, this, &ReportWindow::itemChanged);
  for (QComboBox* box : sort_) connect(box, &QComboBox::activated, this, [this] { sortChosen(); });
  connect(covers_, &QCheckBox::toggled, this, [this] { refresh(); });

  if (openReporter()) refresh();
}

ReportWindow::~ReportWindow() {
  stopWorker();
  // What the preview and its worker took goes back to the system.
  preview_->clear();
  html_.clear();
  coverPictures_.clear();
  ::malloc_trim(0);
}

void ReportWindow::stopWorker() {
  if (stop_) stop_->store(true);
  if (worker_.joinable()) worker_.join();
  ++generation_;  // what it posted is dropped
  built_ = true;
}

void ReportWindow::cancelPreview() {
  stopWorker();
  progress_->hide();
  cancel_->hide();
}

bool ReportWindow::waitForPreview(int milliseconds) {
  QElapsedTimer t;
  t.start();
  while (!built_ && t.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 20);
  return built_;
}

void ReportWindow::error(const QString& message) { QMessageBox::warning(this, "Tamber+", message); }

bool ReportWindow::openReporter() {
  stopWorker();
  // The choices made so far go over to the new stylesheet.
  xml::Doc kept;
  if (reporter_) kept.reset(xmlCopyDoc(reporter_->fields(), 1));
  auto r = report::Reporter::open(ss(stylesheet_->text().trimmed()));
  if (!r) {
    error(qs(r.message()));
    return false;
  }
  reporter_ = std::move(*r);
  if (kept) {
    xmlNode* from = xmlDocGetRootElement(kept.get());
    xmlNode* to = xmlDocGetRootElement(reporter_->fields());
    xmlNode* copy = xmlDocCopyNode(from, reporter_->fields(), 1);
    if (copy && to) xmlFreeNode(xmlReplaceNode(to, copy));
  }
  reporter_->setStandardParameters([this](int id) { return app_.text(id); }, app_.language().code());
  fillLevels();
  return true;
}

namespace {

// What a person reads for a level or field of the report-fields document:
// its name there is the report data's element name.
QString reportLabel(const app::App& app, const std::string& name, bool level) {
  static const char* const kLevels[] = {"category", "file-structure", "file-items", "audio-details", "track-item",
                                        "summary"};
  static const char* const kFields[] = {
      "name",          "creation-date",   "cddvd-number",   "audio-tracks",   "price",         "comment",
      "cd-name",       "media-type",      "cd-capacity",    "recording-depth", "location",     "tracks",
      "file-items",    "file-name",       "file-size",      "modification-date", "properties", "album",
      "artist",        "genre",           "year",           "cd-type",        "length",        "catalog-number",
      "track-item",    "track-name",      "track-length",   "track-ISRC",     "track-performer", "track-composer",
      "track-songwriter"};
  int id = kReportLabelFirst;
  for (const char* l : kLevels) {
    if (level && name == l) return text(app, id);
    ++id;
  }
  for (const char* f : kFields) {
    if (!level && name == f) return text(app, id);
    ++id;
  }
  return qs(name);
}

// The name in the report-fields document, kept with each row.
constexpr int kNameRole = Qt::UserRole + 1;

}  // namespace

void ReportWindow::fillLevels() {
  filling_ = true;
  levels_->clear();
  auto lists = report::fieldLists(reporter_->fields());
  for (size_t i = 0; i < std::size(kAllLevels); ++i) {
    report::Level level = kAllLevels[i];
    report::LevelChoice c = report::readChoice(reporter_->fields(), level);
    auto* top = new QTreeWidgetItem(levels_, {reportLabel(app_, report::levelName(level), true)});
    top->setData(0, kNameRole, QString::fromUtf8(report::levelName(level)));
    top->setData(0, Qt::UserRole, static_cast<int>(i));
    top->setFlags(top->flags() | Qt::ItemIsUserCheckable);
    xmlNode* e = report::levelElement(reporter_->fields(), level);
    bool on = e && CatalogDocument::attribute(e, "sel") != "0";
    top->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
    const auto& names = i + 1 < lists.size() ? lists[i + 1] : std::vector<std::string>{};
    for (size_t f = 0; f < names.size() && f < 32; ++f) {
      auto* child = new QTreeWidgetItem(top, {reportLabel(app_, names[f], false)});
      child->setData(0, kNameRole, qs(names[f]));
      child->setData(0, Qt::UserRole, static_cast<int>(f));
      child->setFlags(child->flags() | Qt::ItemIsUserCheckable);
      child->setCheckState(0, (c.fieldMask >> f & 1) || (!on && names.size()) ? Qt::Checked : Qt::Unchecked);
    }
  }
  levels_->expandAll();
  levels_->setCurrentItem(levels_->topLevelItem(0));
  filling_ = false;
  levelChosen();
}

void ReportWindow::levelChosen() {
  QTreeWidgetItem* item = levels_->currentItem();
  if (!item) return;
  if (item->parent()) item = item->parent();
  report::Level level = kAllLevels[item->data(0, Qt::UserRole).toInt()];
  for (QComboBox* box : sort_) {
    box->clear();
    box->setEnabled(level != report::Level::summary);
  }
  if (level == report::Level::summary) return;
  report::LevelChoice c = report::readChoice(reporter_->fields(), level);
  for (size_t k = 0; k < sort_.size(); ++k) {
    QComboBox* box = sort_[k];
    box->addItem("—", -1);
    for (int f = 0; f < item->childCount(); ++f) {
      if (!report::sortElements(level, f).empty()) box->addItem(item->child(f)->text(0), f);
    }
    int key = k < c.sortKeys.size() ? c.sortKeys[k] : -1;
    box->setCurrentIndex(std::max(0, box->findData(key)));
    // A later key means something only after an earlier one.
    box->setEnabled(k == 0 || k <= c.sortKeys.size());
  }
}

void ReportWindow::itemChanged(QTreeWidgetItem* item) {
  if (filling_) return;
  stopWorker();  // the worker reads the choices being changed
  QTreeWidgetItem* top = item->parent() ? item->parent() : item;
  report::Level level = kAllLevels[top->data(0, Qt::UserRole).toInt()];
  xmlNode* e = report::levelElement(reporter_->fields(), level);
  if (!e) return;
  if (!item->parent()) {
    xmlSetProp(e, xml::u("sel"), xml::u(item->checkState(0) == Qt::Checked ? "1" : "0"));
  } else {
    std::vector<std::string> shown;
    for (int f = 0; f < top->childCount(); ++f) {
      if (top->child(f)->checkState(0) == Qt::Checked) shown.push_back(ss(top->child(f)->data(0, kNameRole).toString()));
    }
    bool on = CatalogDocument::attribute(e, "sel") != "0";
    if (Status st = report::chooseFields(reporter_->fields(), level, shown); !st) error(qs(st.message()));
    // Choosing the fields does not turn a level on or off.
    xmlSetProp(e, xml::u("sel"), xml::u(on ? "1" : "0"));
  }
  refresh();
}

void ReportWindow::sortChosen() {
  QTreeWidgetItem* item = levels_->currentItem();
  if (!item) return;
  if (item->parent()) item = item->parent();
  report::Level level = kAllLevels[item->data(0, Qt::UserRole).toInt()];
  stopWorker();
  // The keys in order up to the first box left empty, each field once.
  std::vector<std::string> names;
  std::vector<int> taken;
  for (QComboBox* box : sort_) {
    int field = box->currentData().toInt();
    if (field < 0) break;
    if (std::find(taken.begin(), taken.end(), field) != taken.end()) continue;
    taken.push_back(field);
    names.push_back(ss(item->child(field)->data(0, kNameRole).toString()));
  }
  if (Status st = report::chooseSort(reporter_->fields(), level, names); !st) error(qs(st.message()));
  levelChosen();  // the boxes as the choice now stands
  refresh();
}

report::ReportDataOptions ReportWindow::dataOptions() {
  report::ReportDataOptions options;
  options.title = app_.library() ? app_.library()->path().stem().string() : "";
  options.kindName = [this](int kind) { return app::kindText(app_, kind); };
  options.properties = [](const std::vector<std::pair<std::string, std::string>>& fields) {
    return app::propertiesText(fields);
  };
  options.propertyLabel = [this](const std::string& key) { return app::propertyLabel(app_, key); };
  options.collationKey = report::collationKey;
  options.libraryIdentity = static_cast<long long>(reinterpret_cast<intptr_t>(app_.library()));
  return options;
}

bool ReportWindow::refresh() {
  if (!reporter_ || !app_.library()) return false;
  stopWorker();
  reporter_->coversInFiles = reporter_->coversInAudio = covers_->isChecked();
  reporter_->applyChoices();
  // How many files and folders the selection holds, as the catalog counts them.
  auto& doc = app_.library()->catalog();
  entries_ = 0;
  std::function<void(xmlNode*)> count = [&](xmlNode* n) {
    if (CatalogDocument::isItem(n)) {
      entries_ += std::atoll(doc.field(n, catalog::kFiles).c_str()) + std::atoll(doc.field(n, catalog::kFolders).c_str());
      return;
    }
    for (xmlNode* c = n->children; c; c = c->next) count(c);
  };
  for (xmlNode* n : selection_) count(n);
  int generation = ++generation_;
  built_ = false;
  auto stop = std::make_shared<std::atomic<bool>>(false);
  stop_ = stop;
  progress_->setRange(0, 0);
  progress_->setFormat(text(app_, kMakingReport));
  progress_->show();
  cancel_->show();
  more_->hide();
  notice_->clear();
  report::ReportDataOptions options = dataOptions();
  options.entryLimit = previewLimit_;
  QString notice = text(app_, kPreviewCut);
  QString read = text(app_, kEntriesRead);
  worker_ = std::thread([this, generation, stop, options, notice, read, reading = CatalogReading()]() mutable {
    bool cut = false;
    options.limitReached = &cut;
    options.progress = [&](long long files) {
      queue_->post([this, generation, files, read] {
        if (generation == generation_) progress_->setFormat(QString(read).replace("%s", QLocale().toString(files)));
      });
      return !stop->load();
    };
    std::string page;
    Status st = pageOf(options, page);
    if (stop->load()) return;
    // The page is parsed into its document here, so that the window's
    // thread only lays out what comes into sight; the covers are read here.
    QString html = st ? withCoverUrls(previewPart(qs(page), notice)) : QString();
    QHash<QString, QImage> covers = st ? readCovers(app_, html) : QHash<QString, QImage>();
    auto made = std::make_shared<PreparedDocument>();
    if (st) {
      made->document = new QTextDocument;
      made->document->setHtml(html);
      made->document->moveToThread(thread());
    }
    queue_->post([this, generation, st, html, cut, covers, made]() mutable {
      previewReady(generation, static_cast<bool>(st), html, st ? QString() : qs(st.message()), cut, std::move(covers),
                   made->take());
    });
  });
  return true;
}

Status ReportWindow::pageOf(report::ReportDataOptions& options, std::string& page) {
  reporter_->setRowsPerBlock(0);  // the preview shows one table as it is
  return reporter_->writeHtml(
      [&](const report::PieceHandler* pieces) {
        options.pieces = pieces ? *pieces : report::PieceHandler();
              options.fileItemsSort = pieces ? reporter_->fileItemsSort() : std::vector<report::ReportDataOptions::SortKey>{};
        return report::buildReportData(*app_.library(), selection_, options);
      },
      [](std::string html) -> Result<std::string> { return html; },
      [&](std::string_view bytes) -> Status {
        page += bytes;
        return {};
      });
}

void ReportWindow::previewReady(int generation, bool ok, const QString& html, const QString& message, bool cut,
                                QHash<QString, QImage> covers, QTextDocument* document) {
  if (generation != generation_) {
    delete document;
    return;
  }
  if (worker_.joinable()) worker_.join();
  built_ = true;
  progress_->hide();
  cancel_->hide();
  if (!ok) {
    delete document;
    error(message);
    return;
  }
  coverPictures_ = std::move(covers);
  html_ = html;
  previewCut_ = cut;
  // The browser asks for the cover pictures through the document's parent.
  document->setParent(preview_);
  QTextDocument* before = previewDocument_;
  preview_->setDocument(document);
  previewDocument_ = document;
  delete before;
  more_->setVisible(cut);
  notice_->setText(cut ? text(app_, kPreviewShows, {QLocale().toString(previewLimit_), QLocale().toString(entries_)})
                       : QString());
}

std::unique_ptr<QTextDocument> ReportWindow::printable() {
  if (!reporter_ || !app_.library()) return nullptr;
  stopWorker();
  // The whole report, made with progress and Cancel.
  std::string page;
  report::ReportDataOptions options = dataOptions();
  Status st = runInBackground(this, text(app_, kReportTitle), text(app_, kCancel), [&](const StepFunction& step) {
    options.progress = [&](long long files) { return step(files, entries_); };
    return pageOf(options, page);
  });
  if (!st) {
    error(qs(st.message()));
    return nullptr;
  }
  auto doc = std::make_unique<CoverDocument>(app_);
  doc->setHtml(withCoverUrls(qs(page)));
  return doc;
}

bool ReportWindow::saveAs(const QString& path) {
  if (!reporter_ || !app_.library()) return false;
  stopWorker();
  QString suffix = QFileInfo(path).suffix().toLower();
  std::filesystem::path target = ss(path);
  report::ReportDataOptions options = dataOptions();
  std::vector<std::string> damaged;
  options.damaged = &damaged;
  Status st;
  if (suffix == "pdf") {
    // The preview's page laid out on A4 by Qt's PDF writer, written to a
    // new file put in place when complete.
    QBuffer bytes;
    bytes.open(QIODevice::WriteOnly);
    {
      QPdfWriter pdf(&bytes);
      pdf.setPageSize(QPageSize(QPageSize::A4));
      pdf.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
      pdf.setTitle(windowTitle());
      pdf.setCreator("Tamber+");
      auto doc = printable();
      if (!doc) return false;
      doc->print(&pdf);
    }
    st = writeFileAtomically(target, std::string_view(bytes.data().constData(), bytes.data().size()));
  } else if (suffix == "rtf") {
    st = runInBackground(this, text(app_, kReportTitle), text(app_, kCancel), [&](const StepFunction&) -> Status {
      auto data = report::buildReportData(*app_.library(), selection_, options);
      if (!data) return data.error();
      return reporter_->rtf(data->get(), target);
    });
  } else {
    std::vector<std::filesystem::path> madePictures;
    auto begun = AtomicFile::begin(target);
    if (!begun) {
      st = begun.error();
    } else {
      auto out = [&](std::string_view bytes) { return begun->write(bytes); };
      st = runInBackground(this, text(app_, kReportTitle), text(app_, kCancel), [&](const StepFunction&) -> Status {
        if (suffix == "xml") {
          // The saved data is not sorted by a stylesheet: no keys in it.
          options.collationKey = nullptr;
          return report::writeReportData(*app_.library(), selection_, options, out);
        }
        reporter_->setRowsPerBlock(500);  // a saved page opens quickly in a browser
        return reporter_->writeHtml(
            [&](const report::PieceHandler* pieces) {
              options.pieces = pieces ? *pieces : report::PieceHandler();
              options.fileItemsSort = pieces ? reporter_->fileItemsSort() : std::vector<report::ReportDataOptions::SortKey>{};
              return report::buildReportData(*app_.library(), selection_, options);
            },
            [&](std::string html) {
              return report::writeCoverPictures(
                  std::move(html), target,
                  [this](const std::string& stream) -> Result<std::string> {
                    auto s = app_.library()->file().root().openStream(stream);
                    if (!s) return s.error();
                    return s->readAll();
                  },
                  &madePictures);
            },
            out);
      });
      if (st) st = begun->commit();
      if (!st) report::removeMade(madePictures);
    }
  }
  if (!st) {
    error(path + ": " + qs(st.message()));
    return false;
  }
  // Saved with the other listings; the damaged ones are named.
  if (!damaged.empty()) {
    QStringList lines;
    for (const auto& d : damaged) lines << shown(d, 300);
    error(lines.join('\n'));
    return false;
  }
  return true;
}

void ReportWindow::chooseFile() {
  QString f = chooseFileToWrite(this, app_, text(app_, kSaveAs).remove('&'), text(app_, kReportFiles), ".html",
                                app_.library() ? qs(app_.library()->path().parent_path().string()) : QString());
  if (!f.isEmpty()) saveAs(f);
}

void ReportWindow::print() {
  QPrinter printer(QPrinter::HighResolution);
  QPrintDialog dialog(&printer, this);
  if (dialog.exec() != QDialog::Accepted) return;
  if (auto doc = printable()) doc->print(&printer);
}

void ReportWindow::printPreview() {
  QPrinter printer(QPrinter::HighResolution);
  QPrintPreviewDialog dialog(&printer, this);
  auto doc = printable();
  if (!doc) return;
  connect(&dialog, &QPrintPreviewDialog::paintRequested, this, [&doc](QPrinter* p) { doc->print(p); });
  dialog.exec();
}

}  // namespace tamber::gui
