// Ogg Vorbis files through libvorbisfile: stream information and the
// comments.
#pragma once

#include <vorbis/vorbisfile.h>

#include <memory>

#include "media/media_file.h"
#include "media/audio_reader.h"

namespace tamber::media {

class OggVorbisReader final : public AudioReader {
 public:
  OggVorbisReader();
  ~OggVorbisReader() override;
  OggVorbisReader(const OggVorbisReader&) = delete;
  OggVorbisReader& operator=(const OggVorbisReader&) = delete;

  bool open(const std::string& path, AudioValues& out) override;

 private:
  void release();
  // The stream stays attached until the next open or the reader's end;
  // libvorbisfile reads it through callbacks over `source_`.
  MediaFile::Cache cache_;
  std::unique_ptr<MediaCursor> source_;
  OggVorbis_File file_{};
  bool attached_ = false;
};

}  // namespace tamber::media
