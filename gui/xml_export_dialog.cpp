#include "gui/xml_export_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "gui/file_dialogs.h"
#include "gui/gui_text.h"
#include "gui/help_window.h"
#include "gui/texts.h"

namespace tamber::gui {

namespace {

// The choices as bits of "serialized_param"/"param_xmlexport".
constexpr int kWithSubcategories = 1, kWithListings = 2, kWithCovers = 4;

QString xmlFilter(const app::App& app) {
  return text(app, kXmlFiles) + " (*.xml);;" + text(app, kAllFiles) + " (*)";
}

}  // namespace

XmlExportDialog::XmlExportDialog(app::App& app, const QString& category, const QString& suggested, QWidget* parent)
    : QDialog(parent), app_(app) {
  setWindowTitle(plain(text(app, kExportXml)));
  auto* form = new QFormLayout(this);
  form->addRow(text(app, kCategory), new QLabel(category));
  file_ = new QLineEdit(suggested);
  auto* browse = new QPushButton(text(app, kBrowse));
  connect(browse, &QPushButton::clicked, this, [this] {
    QString f = chooseFileToWrite(this, app_, windowTitle(), xmlFilter(app_), ".xml", file_->text());
    if (!f.isEmpty()) file_->setText(f);
  });
  auto* row = new QHBoxLayout;
  row->addWidget(file_, 1);
  row->addWidget(browse);
  form->addRow(text(app, kXmlFile), row);
  int bits = app.settings().getInt("serialized_param", "param_xmlexport", kWithSubcategories | kWithListings | kWithCovers);
  subcategories_ = new QCheckBox(text(app, kWithSubcategoriesText));
  subcategories_->setChecked(bits & kWithSubcategories);
  listings_ = new QCheckBox(text(app, kWithListingsText));
  listings_->setChecked(bits & kWithListings);
  covers_ = new QCheckBox(text(app, kWithCoversText));
  covers_->setChecked(bits & kWithCovers);
  for (QCheckBox* box : {subcategories_, listings_, covers_}) form->addRow(QString(), box);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help);
  connect(buttons, &QDialogButtonBox::accepted, this, &XmlExportDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::helpRequested, this,
          [this] { showHelp(this, app_, "export-xml.html"); });
  form->addRow(buttons);
  setMinimumWidth(560);
}

QString XmlExportDialog::target() const {
  QString typed = file_->text().trimmed();
  return typed.isEmpty() ? typed : withExtension(typed, "(*.xml)", ".xml");
}

exchange::XmlExportOptions XmlExportDialog::options() const {
  exchange::XmlExportOptions o;
  o.subcategories = subcategories_->isChecked();
  o.listings = listings_->isChecked();
  o.covers = covers_->isChecked();
  return o;
}

void XmlExportDialog::accept() {
  QString path = target();
  if (path.isEmpty() || QFileInfo(path).isDir()) {
    QMessageBox::warning(this, windowTitle(), text(app_, kNameTheXmlFile));
    file_->setFocus();
    return;
  }
  if (!mayReplace(this, app_, path)) return;
  file_->setText(path);
  app_.settings().putInt("serialized_param", "param_xmlexport",
                         (subcategories_->isChecked() ? kWithSubcategories : 0) |
                             (listings_->isChecked() ? kWithListings : 0) | (covers_->isChecked() ? kWithCovers : 0));
  QDialog::accept();
}

}  // namespace tamber::gui
