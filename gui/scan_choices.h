#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "scan/add_folder_job.h"

class QCheckBox;
class QGridLayout;
class QGroupBox;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QWidget;

namespace tamber::app {
class App;
}

namespace tamber::gui {

// What a folder's or a disc's scan reads, as both add dialogs offer it: the
// depth, the four option boxes (thumbnails, tags, documents, archives) and
// the sub-folder rules. The widgets are made here and placed by the dialog.
class ScanChoices {
 public:
  // `bits` are saved option bits (thumbnails 0x04, tags 0x08, documents
  // 0x10, archives 0x20); `startFolder` is where a new rule's folder
  // chooser opens.
  ScanChoices(const app::App& app, uint32_t bits, int depth, QWidget* dialog, std::function<QString()> startFolder);

  // The options as an item was scanned with (a re-scan).
  void setFrom(const scan::AddFolderOptions& o);
  // Depth, options and rules into `o`.
  void applyTo(scan::AddFolderOptions& o) const;
  // The option bits as saved: all on, less the boxes that are off.
  uint32_t bits() const;

  QGridLayout* optionGrid() const { return grid_; }
  QGroupBox* rulesBox() const { return rulesBox_; }

  QSpinBox* depth;
  QCheckBox *thumbnails, *tags, *documents, *archives;
  QCheckBox* hash;  // a content hash of every file; checked by the dialog from the setting
  QTableWidget* rules;
  QPushButton *addRule, *removeRule;

  void addRow(const scan::SubfolderRow& row);
  // An audio CD has no folders to read: the choices are off, the rules hidden.
  void setEnabled(bool on);

 private:

  QGridLayout* grid_;
  QGroupBox* rulesBox_;
};

}  // namespace tamber::gui
