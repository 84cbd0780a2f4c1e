// The report window: the levels and fields a report shows and the order of
// each level, a preview, printing, and saving as HTML, XML, RTF or PDF.
#pragma once

#include <array>

#include <QDialog>
#include <QHash>
#include <QImage>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "app/app.h"
#include "report/report.h"
#include "report/report_data.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTextBrowser;
class QTextDocument;
class QTreeWidget;
class QTreeWidgetItem;

namespace tamber::gui {

class WindowQueue;

class ReportWindow : public QDialog {
  Q_OBJECT
 public:
  // A report of `selection` (categories, discs and folders of the open
  // library; the whole library when empty).
  ReportWindow(app::App& app, std::vector<xmlNode*> selection, QWidget* parent = nullptr);
  ~ReportWindow() override;

  QTreeWidget* levels() const { return levels_; }
  // The sort keys of the chosen level: first, then second and third.
  QComboBox* sortKey(int k = 0) const { return sort_[static_cast<size_t>(k)]; }
  static constexpr int kSortKeys = 3;
  QCheckBox* covers() const { return covers_; }
  report::Reporter* reporter() const { return reporter_.get(); }
  QLineEdit* stylesheet() const { return stylesheet_; }
  QTextBrowser* preview() const { return preview_; }
  // The page shown in the preview: the report's beginning.
  const QString& html() const { return html_; }
  // The preview shows at most this many files and folders (more on "Show
  // more"); saving and printing make the whole report.
  long long previewLimit() const { return previewLimit_; }
  void setPreviewLimit(long long entries) { previewLimit_ = entries; }
  // Whether the preview left entries out; how many the selection holds.
  bool previewCut() const { return previewCut_; }
  long long entriesInSelection() const { return entries_; }
  // Whether a preview is being made.
  bool building() const { return worker_.joinable() && !built_; }
  // Waits for the preview being made (tests).
  bool waitForPreview(int milliseconds = 30000);

  // Makes the preview again with the choices shown, on a worker thread:
  // the window stays responsive, shows its progress and can cancel it;
  // a new choice cancels a preview being made. Says why not.
  bool refresh();
  // Stops the preview being made; nothing of it is shown.
  void cancelPreview();
  // Saves the report as what the name's extension says: .html (pictures
  // into "image" beside it), .xml, .rtf or .pdf (the preview's page).
  bool saveAs(const QString& path);
  // The whole page laid out for paper, as printing and the PDF use it
  // (made with progress and Cancel); nothing when cancelled or failed.
  std::unique_ptr<QTextDocument> printable();

 private:
  void fillLevels();
  void levelChosen();
  void itemChanged(QTreeWidgetItem* item);
  void sortChosen();
  void print();
  void printPreview();
  void chooseFile();
  bool openReporter();
  report::ReportDataOptions dataOptions();
  void error(const QString& message);
  struct PreparedDocument;
  void previewReady(int generation, bool ok, const QString& html, const QString& message, bool cut,
                    QHash<QString, QImage> covers, QTextDocument* document);
  void stopWorker();
  // The report's HTML page, made with `options` (on any one thread).
  Status pageOf(report::ReportDataOptions& options, std::string& page);

  app::App& app_;
  std::vector<xmlNode*> selection_;
  std::unique_ptr<report::Reporter> reporter_;
  QTreeWidget* levels_;
  std::array<QComboBox*, kSortKeys> sort_;
  QCheckBox* covers_;
  QLineEdit* stylesheet_;
  QTextBrowser* preview_;
  QProgressBar* progress_;
  QLabel* notice_;
  QPushButton* cancel_;
  QPushButton* more_;
  QString html_;
  bool filling_ = false;
  long long previewLimit_ = 250;
  long long entries_ = 0;
  bool previewCut_ = false;
  // The worker making the preview, its cancel flag and its result's number
  // (a result of an older preview is dropped).
  std::thread worker_;
  std::shared_ptr<std::atomic<bool>> stop_;
  std::unique_ptr<WindowQueue> queue_;
  int generation_ = 0;
  bool built_ = true;
  QHash<QString, QImage> coverPictures_;
  QTextDocument* previewDocument_ = nullptr;  // the preview's, the browser's child  // the preview's cover pictures, by stream name
};

}  // namespace tamber::gui
