// ASF files (Windows Media Audio): our own reader of the header objects.
#pragma once

#include <cstdint>
#include <string>

#include "media/media_file.h"
#include "media/audio_reader.h"

namespace tamber::media {

class AsfAudioReader final : public AudioReader {
 public:
  bool open(const std::string& path, AudioValues& out) override;

 private:
  MediaFile::Cache cache_;
};

}  // namespace tamber::media
