// Preferences: the library opened at start ("DefaultLib"), the default
// folder depth of add jobs ("DefaultDepth"), the language, the report
// stylesheet, the disc database's greeting and proxy, the readers of the
// user's own, and whether the watch of mounted volumes runs.
#pragma once

#include <QDialog>
#include <vector>

#include "app/app.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QSpinBox;

namespace tamber::gui {

class PreferencesDialog : public QDialog {
  Q_OBJECT
 public:
  PreferencesDialog(app::App& app, QWidget* parent = nullptr);
  // The language code chosen ("en", "fr", "it").
  QString language() const;
  // Stores the choices in the settings (the language is switched by the caller).
  void store();

 private:
  app::App& app_;
  QLineEdit* library_;
  QSpinBox* depth_;
  QComboBox* language_;
  QLineEdit* stylesheet_;
  QLineEdit* email_;
  QLineEdit* proxy_;
  QLineEdit* proxyUser_;
  QLineEdit* proxyPassword_;
  // The watch of mounted volumes, a user service switched with systemctl;
  // whether it is enabled is asked beside the window, and the box is usable
  // once the answer is in.
  QCheckBox* watch_;
  bool watching_ = false;
  bool watchKnown_ = false;

  // The readers of the user's own (sections UserReader1 to 4).
  struct ReaderRow {
    QLineEdit* pattern;
    QLineEdit* command;
    QSpinBox* seconds;
    QSpinBox* bytes;
  };
  std::vector<ReaderRow> readers_;

  QGroupBox* discDatabaseGroup();
  QGroupBox* userReadersGroup();

 public:
  QLineEdit* stylesheetEdit() const { return stylesheet_; }
  const std::vector<ReaderRow>& readerRows() const { return readers_; }
  QLineEdit* emailEdit() const { return email_; }
  QLineEdit* proxyEdit() const { return proxy_; }
  QCheckBox* watchBox() const { return watch_; }
};

}  // namespace tamber::gui
