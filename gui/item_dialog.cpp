#include "gui/item_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "app/item_edit.h"
#include "catalog/catalog_document.h"
#include "gui/gui_text.h"
#include "gui/help_window.h"
#include "gui/texts.h"

namespace tamber::gui {

ItemDialog::ItemDialog(app::App& app, xmlNode* item, QWidget* parent) : QDialog(parent), app_(app), item_(item) {
  auto& doc = app.library()->catalog();
  setWindowTitle(shown(doc.field(item, catalog::kLabel)));
  int kind = doc.itemKind(item);
  bool audio = kind == catalog::kKindAudioCd || kind == catalog::kKindCdExtra;
  auto* form = new QFormLayout(this);
  // In the order a person fills them in.
  // Each field under the name the property page gives it.
  const std::pair<const char*, int> captions[] = {
      {"comment", kFieldComment}, {"location", kFieldLocation}, {"price", kFieldPrice},
      {"artist", kFieldArtist},   {"album", kFieldAlbum},       {"genre", kFieldGenre},
      {"year", kFieldYear},       {"catalog", kFieldCatalogNumber}};
  for (auto [name, captionId] : captions) {
    int field = app::editableItemFields().at(name);
    auto* e = new QLineEdit(qs(doc.field(item, field)));
    e->setEnabled(audio || !app::audioOnlyField(field));
    e->setReadOnly(app.library()->readOnly());
    edits_[name] = e;
    form->addRow(text(app, captionId) + (app.language().code() == "fr" ? " :" : ":"), e);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help);
  connect(buttons, &QDialogButtonBox::helpRequested, this,
          [this] { showHelp(this, app_, "main-window.html"); });
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    QString problem;
    if (apply(problem)) {
      accept();
    } else {
      QMessageBox::warning(this, windowTitle(), problem);
    }
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
}

bool ItemDialog::apply(QString& problem) {
  auto& doc = app_.library()->catalog();
  std::vector<std::pair<std::string, std::string>> changed;
  for (const auto& [name, e] : edits_) {
    if (!e->isEnabled()) continue;
    std::string value = ss(e->text().trimmed());
    if (value != doc.field(item_, app::editableItemFields().at(name))) changed.emplace_back(name, value);
  }
  auto checked = app::checkItemEdits(app_, doc, item_, changed);
  if (!checked) {
    problem = qs(checked.message());
    return false;
  }
  for (const auto& [field, value] : *checked) doc.setField(item_, field, value);
  if (!checked->empty()) doc.setModified();
  return true;
}

}  // namespace tamber::gui
