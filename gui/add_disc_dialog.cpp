#include "gui/add_disc_dialog.h"

#include "app/add_folder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/disc_database.h"
#include "app/language.h"
#include "app/presentation.h"
#include "catalog/catalog_document.h"
#include "disc/cd_text.h"
#include "disc/cddb.h"
#include "disc/track.h"
#include "gui/add_folder_dialog.h"
#include "gui/background_work.h"
#include "gui/gui_text.h"
#include "gui/help_window.h"
#include "gui/texts.h"
#include "gui/window_queue.h"

namespace tamber::gui {

namespace {

enum Column { kTitleCell, kPerformerCell, kComposerCell, kSongwriterCell, kIsrcCell, kLengthCell, kColumns };

QTableWidgetItem* cell(const std::string& value, bool editable) {
  auto* item = new QTableWidgetItem(qs(value));
  if (!editable) item->setFlags(item->flags() & ~Qt::ItemIsEditable);
  return item;
}

}  // namespace

AddDiscDialog::AddDiscDialog(app::App& app, xmlNode* selected, const QString& simulatedDrive, QWidget* parent)
    : QDialog(parent), app_(app), selected_(selected), simulated_(simulatedDrive), queue_(new WindowQueue(this)) {
  setWindowTitle(text(app_, kAddDiscTitle));
  resize(860, 640);
  auto& doc = app_.library()->catalog();

  drive_ = new QComboBox;
  auto* read = new QPushButton(text(app_, kReadDisc));
  auto* tray = new QPushButton(text(app_, kTray));
  tray_ = new QLabel;
  info_ = new QLabel;
  info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  note_ = new QLabel;
  note_->setWordWrap(true);
  auto* driveRow = new QHBoxLayout;
  driveRow->addWidget(drive_, 1);
  driveRow->addWidget(read);
  driveRow->addWidget(tray);

  label_ = new QLineEdit;
  category_ = new QComboBox;
  category_->setEditable(true);
  fillCategoryBox(doc, selected, category_);
  comment_ = new QLineEdit;
  artist_ = new QLineEdit;
  album_ = new QLineEdit;
  genre_ = new QLineEdit;
  year_ = new QLineEdit;
  catalog_ = new QLineEdit;

  tracks_ = new QTableWidget(0, kColumns);
  tracks_->setHorizontalHeaderLabels({text(app_, kColTitle), text(app_, kPerformer), text(app_, kComposer),
                                      text(app_, kSongwriter), text(app_, kIsrc), text(app_, kLength)});
  tracks_->horizontalHeader()->setSectionResizeMode(kTitleCell, QHeaderView::Stretch);
  tracks_->verticalHeader()->setDefaultSectionSize(22);

  server_ = new QComboBox;
  server_->setEditable(true);
  auto site = app::cddbServer(app_.settings(), "");
  auto serverText = [](const disc::CddbSite& s) { return qs(s.host + ":" + std::to_string(s.port) + s.path); };
  if (site) {
    // The server last answered comes first (the setting), as it is written.
    server_->addItem(serverText(*site), serverText(*site));
    // The watcher adds the mirrors the server lists once it is reached, and
    // the box says when it cannot be.
    watcher_ = std::make_unique<disc::CddbServerWatcher>(
        *site, [this, serverText](bool reachable, const std::vector<disc::CddbSite>& sites) {
          // The mirrors the server lists, as "HOST, PORT, DESCRIPTION".
          QList<QPair<QString, QString>> mirrors;
          for (const auto& s : sites) {
            mirrors.append({QString("%1, %2, %3").arg(qs(s.host)).arg(s.port).arg(qs(s.description)), serverText(s)});
          }
          queue_->post([this, reachable, mirrors] {
            for (const auto& [shown, address] : mirrors) {
              if (server_->findData(address) < 0) server_->addItem(shown, address);
            }
            server_->setToolTip(reachable ? QString() : text(app_, kServerUnreachable));
          });
        });
  }
  auto* lookUpButton = new QPushButton(text(app_, kLookUp));
  auto* serverRow = new QHBoxLayout;
  serverRow->addWidget(new QLabel(text(app_, kServer)));
  serverRow->addWidget(server_, 1);
  serverRow->addWidget(lookUpButton);

  autoLookUp_ = new QCheckBox(text(app_, kAutoLookUp));
  autoLookUp_->setChecked(app_.settings().getInt(app::kCddbSection, "auto_lookup", 1) != 0);
  connect(autoLookUp_, &QCheckBox::toggled, this,
          [this](bool on) { app_.settings().putInt(app::kCddbSection, "auto_lookup", on ? 1 : 0); });
  notEject_ = new QCheckBox(text(app_, kNotEject));
  notEject_->setChecked(app_.settings().getInt("App-Preference", "NotEject", 0) != 0);
  // The data session's options come back as the last disc was added.
  choices_ = std::make_unique<ScanChoices>(
      app_,
      static_cast<uint32_t>(
          app_.settings().getInt("serialized_param", "param_addcd", static_cast<int>(scan::kScanAll))),
      app_.settings().getInt("App-Preference", "DefaultDepth", 0), this,
      [this] { return driveIndex_ >= 0 ? qs(drives_.mountPoint(driveIndex_)) : QString(); });
  choices_->hash->setChecked(app_.settings().getInt("App-Preference", "HashContents", 0) != 0);

  auto* form = new QFormLayout;
  form->addRow(text(app_, kDrive), driveRow);
  form->addRow(QString(), tray_);
  form->addRow(QString(), info_);
  form->addRow(text(app_, kLabel), label_);
  form->addRow(text(app_, kCategory), category_);
  form->addRow(text(app_, kComment), comment_);
  form->addRow(text(app_, kDepth), choices_->depth);
  form->addRow(choices_->optionGrid());
  auto* fields = new QGridLayout;
  fields->addWidget(new QLabel(text(app_, kColArtist) + ":"), 0, 0);
  fields->addWidget(artist_, 0, 1);
  fields->addWidget(new QLabel(text(app_, kColAlbum) + ":"), 0, 2);
  fields->addWidget(album_, 0, 3);
  fields->addWidget(new QLabel(text(app_, kGenre) + ":"), 1, 0);
  fields->addWidget(genre_, 1, 1);
  fields->addWidget(new QLabel(text(app_, kYear) + ":"), 1, 2);
  fields->addWidget(year_, 1, 3);
  fields->addWidget(new QLabel(text(app_, kCatalogNumber) + ":"), 2, 0);
  fields->addWidget(catalog_, 2, 1);

  auto* buttons = new QDialogButtonBox;
  QPushButton* add = buttons->addButton(text(app_, kAdd), QDialogButtonBox::AcceptRole);
  buttons->addButton(text(app_, kCancel), QDialogButtonBox::RejectRole);
  buttons->addButton(QDialogButtonBox::Help);
  for (QPushButton* b : {read, tray, lookUpButton}) b->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(fields);
  layout->addWidget(tracks_, 1);
  layout->addWidget(choices_->rulesBox());
  layout->addWidget(note_);
  layout->addLayout(serverRow);
  layout->addWidget(autoLookUp_);
  layout->addWidget(notEject_);
  layout->addWidget(buttons);

  connect(read, &QPushButton::clicked, this, [this] { readDisc(); });
  connect(tray, &QPushButton::clicked, this, [this] {
    int index = drive_->currentData().toInt();
    if (index < 0) return;
    if (Status st = drives_.toggleTray(index); !st) say(qs(st.message()), true);
    showTray();
  });
  connect(drive_, &QComboBox::currentIndexChanged, this, [this] { showTray(); });
  connect(lookUpButton, &QPushButton::clicked, this, [this] { lookUp(); });
  connect(add, &QPushButton::clicked, this, [this] {
    scan::AddFolderOptions o;
    QString categoryText;
    if (jobOptions(o, categoryText)) accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::helpRequested, this,
          [this] { showHelp(this, app_, "add-disc.html"); });
  fillDrives();
}

AddDiscDialog::~AddDiscDialog() {
  // The watcher's reports go to this dialog: it stops first.
  if (watcher_) watcher_->stop();
}

void AddDiscDialog::say(const QString& message, bool error) {
  message_ = message;
  if (quiet_) return;
  if (error) {
    QMessageBox::warning(this, windowTitle(), message);
  } else {
    note_->setText(message);
  }
}

void AddDiscDialog::fillDrives() {
  drive_->clear();
  if (!simulated_.isEmpty()) {
    auto index = drives_.addDrive(ss(simulated_));
    if (index) drive_->addItem(text(app_, kSimulatedDrive, {simulated_.mid(4)}), *index);
  }
  drives_.enumerate();
  for (int i = 0; i < drives_.driveCount(); ++i) {
    const disc::DriveRecord* r = drives_.record(i);
    if (drive_->findData(i) >= 0) continue;
    drive_->addItem(qs(r->device + "  " + r->driveName), i);
  }
  if (drive_->count() == 0) drive_->addItem(text(app_, app::kTextNoDrive), -1);
  showTray();
}

void AddDiscDialog::showTray() {
  int index = drive_->currentData().toInt();
  if (index < 0) {
    tray_->clear();
    return;
  }
  drives_.refreshTrayStates();
  const disc::DriveRecord* r = drives_.record(index);
  tray_->setText(r && r->eventStatusSupported && r->trayOpen ? text(app_, kTrayOpen) : QString());
}

bool AddDiscDialog::readDisc(const std::function<int(const QStringList& matches)>& choose) {
  int index = drive_->currentData().toInt();
  if (index < 0) {
    say(text(app_, app::kTextNoDrive), true);
    return false;
  }
  Status st = drives_.readDisc(index);
  if (!st) {
    say(qs(app_.text(app::kTextNoReadableDisc) + " (" + st.message() + ")"), true);
    return false;
  }
  driveIndex_ = index;
  const disc::DriveRecord& r = *drives_.record(index);
  rows_.clear();
  texts_ = {};
  note_->clear();
  bool audio = r.discType == disc::kDiscAudio || r.discType == disc::kDiscEnhanced;
  choices_->setEnabled(r.discType != disc::kDiscAudio);  // an audio CD has no files
  if (audio) {
    rows_ = disc::trackRows(r, app_.text(app::kTextTrack));
    auto packs = drives_.readCdText(index);
    disc::CdText cdText = packs ? disc::decodeCdText(*packs) : disc::CdText{};
    if (!cdText.empty()) {
      disc::applyCdText(cdText, rows_, texts_);
      note_->setText(text(app_, kCdTextFound));
    }
  }
  info_->setText(text(app_, kDiscInfo,
                      {qs(app::kindText(app_, r.discType)), qs(r.label), QString::number(r.capacityBytes / 1048576),
                       QString::number(r.trackCount)}));
  artist_->setText(qs(texts_.artist));
  album_->setText(qs(texts_.album));
  genre_->setText(qs(texts_.genre));
  year_->setText(qs(texts_.year));
  catalog_->setText(qs(!r.catalogNumber.empty() ? r.catalogNumber : texts_.upc));
  label_->setText(qs(!texts_.album.empty() ? texts_.album : r.label));
  fillTracks();
  // Tracks without names of their own are named from the disc database
  // (or the entry this drive's disc had last time) at once.
  if (audio && texts_.artist.empty() && texts_.album.empty() && note_->text().isEmpty() && autoLookUp_->isChecked()) {
    lookUp(choose, true);
  }
  return true;
}

void AddDiscDialog::fillTracks() {
  tracks_->setRowCount(static_cast<int>(rows_.size()));
  readTitles_.clear();
  for (size_t i = 0; i < rows_.size(); ++i) {
    const disc::TrackRow& t = rows_[i];
    int row = static_cast<int>(i);
    tracks_->setItem(row, kTitleCell, cell(t.name, true));
    tracks_->setItem(row, kPerformerCell, cell(t.performer, true));
    tracks_->setItem(row, kComposerCell, cell(t.composer, true));
    tracks_->setItem(row, kSongwriterCell, cell(t.songwriter, true));
    tracks_->setItem(row, kIsrcCell, cell(t.isrc, false));
    tracks_->setItem(row, kLengthCell, cell(disc::trackLengthText(t.lengthFrames), false));
    readTitles_.push_back(t.name);
  }
}

void AddDiscDialog::takeTracks() {
  for (size_t i = 0; i < rows_.size() && static_cast<int>(i) < tracks_->rowCount(); ++i) {
    int row = static_cast<int>(i);
    rows_[i].name = ss(tracks_->item(row, kTitleCell)->text());
    rows_[i].performer = ss(tracks_->item(row, kPerformerCell)->text());
    rows_[i].composer = ss(tracks_->item(row, kComposerCell)->text());
    rows_[i].songwriter = ss(tracks_->item(row, kSongwriterCell)->text());
  }
}

bool AddDiscDialog::lookUp(const std::function<int(const QStringList& matches)>& choose, bool automatic) {
  if (driveIndex_ < 0 || rows_.empty()) {
    say(text(app_, kNoDisc), true);
    return false;
  }
  takeTracks();
  disc::DiscIdentity id;
  if (!disc::computeDiscIdentity(drives_.record(driveIndex_)->toc, id)) return false;
  if (auto cached = entries_.find(driveIndex_); cached != entries_.end() && cached->second.first == id.discId) {
    applyEntry(cached->second.second);
    return true;
  }
  disc::CddbClient client;
  // An entry of the list stands for its server; a typed text is the server.
  int listed = server_->currentIndex();
  QString typed = server_->currentText().trimmed();
  std::string server = ss(listed >= 0 && server_->itemText(listed) == typed && server_->itemData(listed).isValid()
                              ? server_->itemData(listed).toString()
                              : typed);
  if (Status st = app::configureCddbClient(app_.settings(), {server, "", ""}, client); !st) {
    say(qs(st.message()), !automatic);
    return false;
  }
  auto site = app::cddbServer(app_.settings(), server);
  if (!site) {
    say(qs(site.message()), !automatic);
    return false;
  }
  // The server is asked on a worker thread; the dialog waits with a
  // progress window that can stop it.
  std::vector<disc::CddbMatch> matches;
  bool found = false;
  QString failure;
  bool stopped = false;
  (void)runInBackground(this, text(app_, kLookUp), text(app_, kCancel), [&](const StepFunction& step) -> Status {
    // Cancel ends the request at its next wait.
    client.cancelled = [&step] { return !step(0, 0); };
    found = client.query(*site, id, matches);
    client.cancelled = nullptr;
    stopped = client.lastError() == disc::kCddbCancelled;
    if (!found && !stopped && (client.lastError() != 0 || client.status() == 0)) {
      failure = qs(app_.text(app::kTextCddbFailed) + " " + client.errorText());
    }
    return {};
  });
  if (stopped) return false;  // a cancel is silent
  if (!failure.isEmpty()) {
    say(failure, !automatic);
    return false;
  }
  // The server answered: it is the one offered first next time.
  if (!server.empty()) app_.settings().putText(app::kCddbSection, "site_name", server);
  if (!found || matches.empty()) {
    say(text(app_, kNoMatch), false);
    return false;
  }
  int chosen = 0;
  if (matches.size() > 1) {
    QStringList texts;
    for (const auto& m : matches) {
      texts << qs(m.category + "  " + disc::discIdText(m.discId) + "  " + m.artist + (m.artist.empty() ? "" : " / ") +
                  m.title);
    }
    if (choose) {
      chosen = choose(texts);
    } else {
      bool ok = false;
      QString pick = QInputDialog::getItem(this, windowTitle(), text(app_, kChooseMatch), texts, 0, false, &ok);
      chosen = ok ? static_cast<int>(texts.indexOf(pick)) : -1;
    }
    if (chosen < 0 || chosen >= static_cast<int>(matches.size())) return false;
  }
  disc::DiscEntry entry;
  bool read = false;
  (void)runInBackground(this, text(app_, kLookUp), text(app_, kCancel), [&](const StepFunction& step) -> Status {
    client.cancelled = [&step] { return !step(0, 0); };
    read = client.read(*site, matches[static_cast<size_t>(chosen)].category,
                       matches[static_cast<size_t>(chosen)].discId, entry);
    client.cancelled = nullptr;
    return {};
  });
  if (!read && client.lastError() == disc::kCddbCancelled) return false;
  if (!read) {
    say(qs(app_.text(app::kTextCddbFailed) + " " + client.errorText()), !automatic);
    return false;
  }
  entries_[driveIndex_] = {id.discId, entry};
  applyEntry(entry);
  return true;
}

void AddDiscDialog::applyEntry(const disc::DiscEntry& entry) {
  // The entry names the tracks; what the user typed stays.
  std::vector<disc::TrackRow> named = rows_;
  disc::DiscTexts texts;
  disc::applyDiscEntry(entry, named, texts);
  QStringList kept;
  for (size_t i = 0; i < rows_.size(); ++i) {
    bool edited = i < readTitles_.size() && rows_[i].name != readTitles_[i];
    if (edited) {
      if (named[i].name != rows_[i].name) kept << QString::number(i + 1);
      named[i].name = rows_[i].name;
    }
    for (auto field : {&disc::TrackRow::performer, &disc::TrackRow::composer, &disc::TrackRow::songwriter}) {
      if (!(rows_[i].*field).empty()) named[i].*field = rows_[i].*field;
    }
  }
  rows_ = std::move(named);
  for (auto [edit, value] : {std::pair{artist_, &texts.artist}, std::pair{album_, &texts.album},
                             std::pair{genre_, &texts.genre}, std::pair{year_, &texts.year}}) {
    if (edit->text().trimmed().isEmpty()) edit->setText(qs(*value));
  }
  if (label_->text().trimmed().isEmpty() || label_->text() == qs(drives_.record(driveIndex_)->label)) {
    if (!album_->text().trimmed().isEmpty()) label_->setText(album_->text().trimmed());
  }
  // The titles now shown count as read, but for the user's own, which a
  // later lookup keeps too.
  std::vector<std::string> before = readTitles_;
  fillTracks();
  for (size_t i = 0; i < readTitles_.size() && i < before.size(); ++i) {
    if (kept.contains(QString::number(i + 1))) readTitles_[i] = before[i];
  }
  note_->setText(kept.isEmpty() ? text(app_, kNamedFromDatabase) : text(app_, kKeptEdits, {kept.join(", ")}));
}

bool AddDiscDialog::jobOptions(scan::AddFolderOptions& o, QString& categoryText) {
  if (driveIndex_ < 0) {
    say(text(app_, kNoDisc), true);
    return false;
  }
  takeTracks();
  const disc::DriveRecord& r = *drives_.record(driveIndex_);
  categoryText = category_->currentText().trimmed();
  if (categoryText.isEmpty()) {
    say(qs(std::string("Please specify a category for this disk!")), true);
    return false;
  }
  scan::DiscJob job = app::discJobOf(r);
  job.catalogNumber = ss(catalog_->text().trimmed());
  bool audio = r.discType == disc::kDiscAudio || r.discType == disc::kDiscEnhanced;
  if (audio) {
    job.tracks = rows_;
    job.texts = {ss(artist_->text().trimmed()), ss(album_->text().trimmed()), ss(genre_->text().trimmed()),
                 ss(year_->text().trimmed()), texts_.upc};
  }
  o = {};
  o.label = ss(label_->text().trimmed());
  if (o.label.empty()) o.label = audio ? job.texts.album : r.label;
  o.comment = ss(comment_->text());
  choices_->applyTo(o);
  if (r.discType != disc::kDiscAudio) {
    o.path = drives_.mountPoint(driveIndex_);
    if (o.path.empty()) {
      say(qs(r.device + ": the disc's files are not mounted; mount the disc (udisksctl mount -b " + r.device +
             ") and add it again"),
          true);
      return false;
    }
  }
  o.disc = std::move(job);
  // A data disc's files are read as a folder's are: within the archive
  // budget, with the readers of the user's own.
  o.archiveBudget = app::archiveBudget(app_.settings());
  o.userReaders = app::userReaders(app_.settings());
  if (Status st = scan::AddFolderJob::validate(o); !st) {
    say(qs(st.message()), true);
    return false;
  }
  app_.settings().putInt("App-Preference", "NotEject", notEject_->isChecked() ? 1 : 0);
  return true;
}

void AddDiscDialog::holdDisc(bool hold) {
  if (driveIndex_ >= 0) (void)drives_.lockMedium(driveIndex_, !hold);
}

void AddDiscDialog::ejectIfWanted() {
  if (driveIndex_ < 0 || notEject_->isChecked()) return;
  drives_.refreshTrayStates();
  const disc::DriveRecord* r = drives_.record(driveIndex_);
  if (r && !r->trayOpen) (void)drives_.toggleTray(driveIndex_);
}

}  // namespace tamber::gui
