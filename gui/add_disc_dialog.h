// The add-disc dialog: the drives with their trays, the disc read from one
// (its kind, label, capacity), the audio page with its track rows (titles,
// performers, composers and songwriters editable; ISRC and length as read),
// CD-TEXT when the disc has it, the disc database lookup with a choice
// between several matches, the disc's fields, label, category and comment.
// Add hands the job to the add-folder dialog's progress view.
#pragma once

#include <QDialog>
#include <functional>
#include <map>
#include <memory>

#include "app/app.h"
#include "disc/audio_disc.h"
#include "disc/cddb.h"
#include "disc/drive_manager.h"
#include "scan/add_folder_job.h"
#include "gui/scan_choices.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace tamber::gui {

class WindowQueue;

class AddDiscDialog : public QDialog {
  Q_OBJECT
 public:
  // `simulatedDrive` ("sim:FILE", from the program's --drive) is offered
  // first among the machine's drives.
  AddDiscDialog(app::App& app, xmlNode* selected, const QString& simulatedDrive, QWidget* parent = nullptr);
  ~AddDiscDialog() override;

  // Reads the disc in the chosen drive and fills the page: the tracks named
  // from CD-TEXT when the disc has it, else (the box "look up discs without
  // CD-TEXT", on by default) from the disc database, `choose` as lookUp's.
  // False, with a message, without a disc.
  bool readDisc(const std::function<int(const QStringList& matches)>& choose = {});
  // Asks the disc database (the chosen server) and names the tracks from
  // the entry chosen: `choose` picks among several matches (their texts;
  // -1 for none), by default the user in a list. A track whose title the
  // user changed keeps it, and the page says which were kept; a disc field
  // the user filled keeps its text. The entry read is kept for the drive
  // while the dialog is open: the same disc read again there is named from
  // it without asking the server. `automatic` (a lookup the user did not
  // ask for) says a failure on the page rather than in a box.
  bool lookUp(const std::function<int(const QStringList& matches)>& choose = {}, bool automatic = false);
  // The job the page describes; false with a message when it is not
  // complete. `categoryText` gets the typed category path.
  bool jobOptions(scan::AddFolderOptions& options, QString& categoryText);
  // A message about the page (a job that could not start), as an error.
  void tell(const QString& message) { say(message, true); }
  // After the job: the tray opens unless "NotEject" or the box says not to.
  void ejectIfWanted();

  QComboBox* driveBox() const { return drive_; }
  QComboBox* serverBox() const { return server_; }
  QTableWidget* tracks() const { return tracks_; }
  QLineEdit* labelEdit() const { return label_; }
  QComboBox* categoryBox() const { return category_; }
  QLineEdit* artistEdit() const { return artist_; }
  QLineEdit* albumEdit() const { return album_; }
  QLabel* discInfo() const { return info_; }
  QLabel* note() const { return note_; }
  QCheckBox* notEjectBox() const { return notEject_; }
  QCheckBox* autoLookUpBox() const { return autoLookUp_; }
  ScanChoices& scanChoices() const { return *choices_; }
  const QString& lastMessage() const { return message_; }
  // Tests answer the messages themselves (the job's progress view too).
  void setQuiet(bool quiet) { quiet_ = quiet; }
  bool quiet() const { return quiet_; }
  // Keeps the disc in the drive while it is read (true), or lets it go.
  void holdDisc(bool hold);

 private:
  void fillDrives();
  void showTray();
  void fillTracks();
  void takeTracks();  // the table's edits into rows_
  void say(const QString& message, bool error);
  void applyEntry(const disc::DiscEntry& entry);

  app::App& app_;
  xmlNode* selected_;
  QString simulated_;
  disc::CdDriveManager drives_;
  int driveIndex_ = -1;  // the drive whose disc was read
  std::vector<disc::TrackRow> rows_;
  std::vector<std::string> readTitles_;  // the titles as filled, to tell the user's edits
  disc::DiscTexts texts_;
  QComboBox *drive_, *category_, *server_;
  QLabel *tray_, *info_, *note_;
  QLineEdit *label_, *comment_, *artist_, *album_, *genre_, *year_, *catalog_;
  QTableWidget* tracks_;
  QCheckBox* notEject_;
  QCheckBox* autoLookUp_;
  // Per drive index: the disc id and the disc database entry last read.
  std::map<int, std::pair<uint32_t, disc::DiscEntry>> entries_;
  std::unique_ptr<ScanChoices> choices_;  // what the data session's scan reads
  QString message_;
  bool quiet_ = false;
  // The watcher's findings reach the window through the queue; the watcher
  // ends before the queue (a child of the dialog) is destroyed.
  WindowQueue* queue_;
  std::unique_ptr<disc::CddbServerWatcher> watcher_;
};

}  // namespace tamber::gui
