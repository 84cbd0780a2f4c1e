// Ogg Vorbis files through libvorbisfile: stream information and the
// comments.
#pragma once

#include <vorbis/vorbisfile.h>

#include <memory>

#include "media/audio_file.h"
#include "media/audio_reader.h"

namespace tamber::media {

struct OggSource;

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
  AudioFile::Cache cache_;
  std::unique_ptr<OggSource> source_;
  OggVorbis_File file_{};
  bool attached_ = false;
};

// What a channel count is called: "monophonic" (1 and 0), "stereo", ...,
// "5,1 surround"; empty from 7 channels on.
const char* vorbisChannelText(int channels);

}  // namespace tamber::media
