// Opus files through libopusfile: the stream's header, length, bit rate
// and comments.
#pragma once

#include <string>

#include "media/media_file.h"
#include "media/audio_reader.h"

namespace tamber::media {

class OpusAudioReader final : public AudioReader {
 public:
  bool open(const std::string& path, AudioValues& out) override;

 private:
  MediaFile::Cache cache_;
};

}  // namespace tamber::media
