// MPEG-4 audio files (.m4a): our own reader of the boxes that describe the
// first sound track and of the item list that holds the tags.
#pragma once

#include <string>

#include "media/media_file.h"
#include "media/audio_reader.h"

namespace tamber::media {

class Mp4AudioReader final : public AudioReader {
 public:
  bool open(const std::string& path, AudioValues& out) override;

 private:
  MediaFile::Cache cache_;
};

}  // namespace tamber::media
