// Vorbis comments ("KEY=value", UTF-8), as Ogg Vorbis, Opus and FLAC files
// carry them, and the tag fields of the record they fill. Private to
// TamberMedia.
#pragma once

#include <string>
#include <string_view>

#include "media/audio_reader.h"

namespace tamber::media {

class CommentFields {
 public:
  // `readTrack`: "tracknumber" sets the track (its leading number); without
  // it the track stays 0, as Ogg Vorbis files have always been recorded.
  CommentFields(AudioValues& out, bool readTrack) : out_(out), readTrack_(readTrack) {}

  // One comment. Keys compare lower-cased; a later comment with the same key
  // replaces the earlier; a comment without "=" is passed over.
  void add(std::string_view comment);
  // Also for tags that are not comments (MPEG-4): one field by its key.
  void set(std::string_view lowerKey, std::u16string value);
  // The year from the first number of the date ("2003-05-01" and "May 2003"
  // give 2003), the track, and the record marked as tagged.
  void finish();

 private:
  AudioValues& out_;
  bool readTrack_;
  std::u16string date_, track_;
};

// What a channel count is called: "monophonic" (1 and 0), "stereo", ...,
// "5,1 surround"; empty from 7 channels on.
const char* vorbisChannelText(int channels);

// "%.1f kbps" of a bit rate in bits per second; 0.0 for a negative one.
std::u16string kbpsText(double bitsPerSecond);

}  // namespace tamber::media
