// The media-player page: plays the selected audio file of a folder or disc,
// or an audio disc's track, when the disc or folder is at hand (the disc in
// the drive checked to be the one catalogued); otherwise it says the disc
// is away and which to insert.
#pragma once

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "disc/drive_manager.h"

class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QPushButton;

namespace tamber::gui {

class PlayerBar : public QWidget {
  Q_OBJECT
 public:
  PlayerBar(app::App& app, QWidget* parent = nullptr);
  ~PlayerBar() override;

  // What the list has selected: a file of `item` at `steps` (its name
  // last), an audio disc's track (`track` from 1, `steps` its title), or
  // nothing (null item).
  void setEntry(xmlNode* item, const std::vector<std::string>& steps, bool audio, int track = 0);
  // Locates the entry and plays it; false (and the reason shown) when it is
  // not at hand. `drive` adds a simulated drive first ("sim:FILE").
  bool play();
  void stop();
  void setSimulatedDrive(const QString& drive) { simulated_ = drive; }

  QLabel* status() const { return status_; }
  QPushButton* playButton() const { return play_; }
  // The media player (made on first use).
  QMediaPlayer* mediaPlayer();
  // The source of the last play (a file, or "cdda://DEVICE#TRACK").
  const QString& source() const { return source_; }
  void retranslate();

 private:
  app::App& app_;
  xmlNode* item_ = nullptr;
  std::vector<std::string> steps_;
  bool audio_ = false;
  int track_ = 0;
  QString simulated_, source_;
  QLabel* status_;
  QPushButton *play_, *stop_;
  QMediaPlayer* player_ = nullptr;
  QAudioOutput* output_ = nullptr;
};

}  // namespace tamber::gui
