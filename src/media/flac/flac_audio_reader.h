// FLAC files: our own reader of the stream information and the Vorbis
// comments among the metadata blocks that open the file.
#pragma once

#include <string>

#include "media/media_file.h"
#include "media/audio_reader.h"

namespace tamber::media {

class FlacAudioReader final : public AudioReader {
 public:
  bool open(const std::string& path, AudioValues& out) override;

 private:
  MediaFile::Cache cache_;
};

// Where the "fLaC" marker stands: 0, or past an ID3v2 tag some programs put
// in front of it; nullopt-like UINT64_MAX when the file is no FLAC file.
uint64_t flacMarkerOffset(const MediaFile& file);

}  // namespace tamber::media
