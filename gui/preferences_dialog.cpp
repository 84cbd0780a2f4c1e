#include "gui/preferences_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "gui/gui_text.h"
#include "gui/help_window.h"
#include "gui/texts.h"

namespace tamber::gui {

PreferencesDialog::PreferencesDialog(app::App& app, QWidget* parent) : QDialog(parent), app_(app) {
  setWindowTitle(text(app, kPreferences).remove('&').remove(QChar(0x2026)));
  auto* form = new QFormLayout;
  library_ = new QLineEdit(qs(app.settings().getText("App-Preference", "DefaultLib")));
  auto* browse = new QPushButton(text(app, kBrowse));
  connect(browse, &QPushButton::clicked, this, [this] {
    QString f = QFileDialog::getOpenFileName(this, QString(), library_->text(), text(app_, kLibraryFiles));
    if (!f.isEmpty()) library_->setText(f);
  });
  auto* row = new QHBoxLayout;
  row->addWidget(library_, 1);
  row->addWidget(browse);
  form->addRow(text(app, kDefaultLib), row);
  depth_ = new QSpinBox;
  depth_->setRange(0, 255);
  depth_->setValue(app.settings().getInt("App-Preference", "DefaultDepth", 0));
  form->addRow(text(app, kDefaultDepth), depth_);
  language_ = new QComboBox;
  language_->addItem("English", "en");
  language_->addItem(QString::fromUtf8("Français"), "fr");
  language_->addItem("Italiano", "it");
  language_->setCurrentIndex(std::max(0, language_->findData(qs(app.language().code()))));
  form->addRow(text(app, kLanguageMenu).remove('&'), language_);
  // The report stylesheet used instead of the default one ("DefaultXSLFile").
  stylesheet_ = new QLineEdit(qs(app.settings().getText("App-Preference", "DefaultXSLFile")));
  stylesheet_->setPlaceholderText(text(app, kDefaultStylesheet));
  auto* chooseStylesheet = new QPushButton(text(app, kBrowse));
  connect(chooseStylesheet, &QPushButton::clicked, this, [this] {
    QString f = QFileDialog::getOpenFileName(this, QString(), stylesheet_->text(), "XSLT (*.xsl *.xslt);;*");
    if (!f.isEmpty()) stylesheet_->setText(f);
  });
  auto* styleRow = new QHBoxLayout;
  styleRow->addWidget(stylesheet_, 1);
  styleRow->addWidget(chooseStylesheet);
  form->addRow(text(app, kStylesheet), styleRow);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help);
  connect(buttons, &QDialogButtonBox::helpRequested, this,
          [this] { showHelp(this, app_.language().code(), "preferences.html"); });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
  setLayout(form);
}

QString PreferencesDialog::language() const { return language_->currentData().toString(); }

void PreferencesDialog::store() {
  app_.settings().putText("App-Preference", "DefaultLib", ss(library_->text().trimmed()));
  app_.settings().putInt("App-Preference", "DefaultDepth", depth_->value());
  app_.settings().putText("App-Preference", "DefaultXSLFile", ss(stylesheet_->text().trimmed()));
}

}  // namespace tamber::gui
