// The report window: the levels and fields a report shows and the order of
// each level, a preview, printing, and saving as HTML, XML, RTF or PDF.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>
#include <vector>

#include "app/app.h"
#include "report/report.h"
#include "report/report_data.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QTextBrowser;
class QTextDocument;
class QTreeWidget;
class QTreeWidgetItem;

namespace tamber::gui {

class ReportWindow : public QDialog {
  Q_OBJECT
 public:
  // A report of `selection` (categories, discs and folders of the open
  // library; the whole library when empty).
  ReportWindow(app::App& app, std::vector<xmlNode*> selection, QWidget* parent = nullptr);
  ~ReportWindow() override;

  QTreeWidget* levels() const { return levels_; }
  QComboBox* sortKey() const { return sort_; }
  QCheckBox* covers() const { return covers_; }
  QLineEdit* stylesheet() const { return stylesheet_; }
  QTextBrowser* preview() const { return preview_; }
  // The page shown in the preview.
  const QString& html() const { return html_; }

  // Makes the report again with the choices shown; says why not.
  bool refresh();
  // Saves the report as what the name's extension says: .html (pictures
  // into "image" beside it), .xml, .rtf or .pdf (the preview's page).
  bool saveAs(const QString& path);
  // The page laid out for paper, as printing and the PDF use it.
  std::unique_ptr<QTextDocument> printable() const;

 private:
  void fillLevels();
  void levelChosen();
  void itemChanged(QTreeWidgetItem* item);
  void sortChosen(int index);
  void print();
  void printPreview();
  void chooseFile();
  bool openReporter();
  report::ReportDataOptions dataOptions();
  void error(const QString& message);

  app::App& app_;
  std::vector<xmlNode*> selection_;
  std::unique_ptr<report::Reporter> reporter_;
  QTreeWidget* levels_;
  QComboBox* sort_;
  QCheckBox* covers_;
  QLineEdit* stylesheet_;
  QTextBrowser* preview_;
  QString html_;
  bool filling_ = false;
};

}  // namespace tamber::gui
