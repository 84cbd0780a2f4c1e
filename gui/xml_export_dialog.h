// The XML export's dialog: the file to write and what goes into it (the
// categories below, the file listings, the cover pictures), the choices
// kept for next time.
#pragma once

#include <QDialog>

#include "app/app.h"
#include "exchange/exchange.h"

class QCheckBox;
class QLineEdit;

namespace tamber::gui {

class XmlExportDialog : public QDialog {
  Q_OBJECT
 public:
  // `category` names what is exported; `suggested` is the file offered.
  XmlExportDialog(app::App& app, const QString& category, const QString& suggested, QWidget* parent = nullptr);

  // The file to write (with ".xml" when typed without an extension).
  QString target() const;
  exchange::XmlExportOptions options() const;
  // OK: a name is needed, and a file of that name is replaced only when
  // the user says so. The choices are kept.
  void accept() override;

  QLineEdit* fileEdit() const { return file_; }
  QCheckBox* subcategoriesBox() const { return subcategories_; }
  QCheckBox* listingsBox() const { return listings_; }
  QCheckBox* coversBox() const { return covers_; }

 private:
  app::App& app_;
  QLineEdit* file_;
  QCheckBox *subcategories_, *listings_, *covers_;
};

}  // namespace tamber::gui
