// Editing a disc's or folder's fields: comment, location, price, and for an
// audio disc its artist, album, genre, year and catalog number. Every
// change is checked by the core before any is stored.
#pragma once

#include <QDialog>
#include <map>
#include <string>

#include "app/app.h"

class QLineEdit;

namespace tamber::gui {

class ItemDialog : public QDialog {
  Q_OBJECT
 public:
  ItemDialog(app::App& app, xmlNode* item, QWidget* parent = nullptr);
  // Checks and stores the changes; false (and a message) when one is wrong.
  bool apply(QString& problem);
  QLineEdit* edit(const std::string& name) const { return edits_.at(name); }

 private:
  app::App& app_;
  xmlNode* item_;
  std::map<std::string, QLineEdit*> edits_;
};

}  // namespace tamber::gui
