#include "gui/player_bar.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QPushButton>
#include <QStyle>
#include <QUrl>

#include "app/disc_presence.h"
#include "gui/gui_text.h"
#include "gui/texts.h"

namespace tamber::gui {

PlayerBar::PlayerBar(app::App& app, QWidget* parent) : QWidget(parent), app_(app) {
  play_ = new QPushButton(style()->standardIcon(QStyle::SP_MediaPlay), QString());
  stop_ = new QPushButton(style()->standardIcon(QStyle::SP_MediaStop), QString());
  status_ = new QLabel;
  status_->setWordWrap(true);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(play_);
  layout->addWidget(stop_);
  layout->addWidget(status_, 1);
  connect(play_, &QPushButton::clicked, this, [this] {
    if (player_ && player_->playbackState() == QMediaPlayer::PlayingState) {
      player_->pause();
    } else if (player_ && player_->playbackState() == QMediaPlayer::PausedState) {
      player_->play();
    } else {
      play();
    }
  });
  connect(stop_, &QPushButton::clicked, this, &PlayerBar::stop);
  retranslate();
  setEntry(nullptr, {}, false);
}

PlayerBar::~PlayerBar() = default;

QMediaPlayer* PlayerBar::mediaPlayer() {
  // Made on the first play: the media back end loads then, not at start.
  if (!player_) {
    player_ = new QMediaPlayer(this);
    output_ = new QAudioOutput(this);
    player_->setAudioOutput(output_);
    connect(player_, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState s) {
      play_->setIcon(style()->standardIcon(s == QMediaPlayer::PlayingState ? QStyle::SP_MediaPause
                                                                           : QStyle::SP_MediaPlay));
    });
    connect(player_, &QMediaPlayer::errorOccurred, this,
            [this](QMediaPlayer::Error, const QString& message) { status_->setText(message); });
  }
  return player_;
}

void PlayerBar::retranslate() {
  play_->setToolTip(text(app_, kPlay) + " / " + text(app_, kPause));
  stop_->setToolTip(text(app_, kStop).remove('&'));
}

void PlayerBar::setEntry(xmlNode* item, const std::vector<std::string>& steps, bool audio, int track) {
  item_ = item;
  steps_ = steps;
  audio_ = audio;
  track_ = track;
  bool playable = item && audio;
  play_->setEnabled(playable);
  if (!player_ || player_->playbackState() == QMediaPlayer::StoppedState) {
    status_->setText(playable ? qs(steps.empty() ? std::string() : steps.back()) : text(app_, kNothingToPlay));
  }
}

bool PlayerBar::play() {
  if (!item_ || !audio_ || !app_.library()) return false;
  disc::CdDriveManager drives;
  if (!simulated_.isEmpty()) (void)drives.addDrive(ss(simulated_));
  else drives.enumerate();
  // A track is looked for by its number; a file by its path.
  app::Located at = app::locate(app_, *app_.library(), item_, track_ ? std::vector<std::string>{} : steps_, drives,
                                track_);
  if (!at.present) {
    status_->setText(qs(at.message));
    return false;
  }
  source_ = track_ ? QString("cdda://%1#%2").arg(qs(at.device)).arg(at.track) : qs(at.path);
  // Without a sound output (no sound server, no device) the media back end
  // has nowhere to play to, and its renderer has been seen to crash on the
  // sink it could not open: say so instead.
  if (QMediaDevices::audioOutputs().isEmpty()) {
    status_->setText(text(app_, kNoSoundOutput, {qs(steps_.empty() ? std::string() : steps_.back())}));
    return false;
  }
  QMediaPlayer* p = mediaPlayer();
  p->setSource(track_ ? QUrl(source_) : QUrl::fromLocalFile(source_));
  p->play();
  status_->setText(text(app_, kPlaying, {qs(steps_.empty() ? std::string() : steps_.back())}));
  return true;
}

void PlayerBar::stop() {
  if (player_) player_->stop();
  setEntry(item_, steps_, audio_, track_);
}

}  // namespace tamber::gui
