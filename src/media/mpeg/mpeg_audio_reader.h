// MPEG audio (layers I-III of MPEG 1, 2 and 2.5): stream properties from the
// first frame (and, for variable-rate files with a Xing/Info header, from all
// frames), and the texts of ID3v1/1.1, Lyrics3 v1/v2 and ID3v2.2/2.3/2.4 tags.
// Positioned reads only; no audio is decoded.
//
// Frame header, a big-endian word:
//   bits 21-31 sync (all set)   19-20 version (11: 1, 10: 2, 00: 2.5)
//   17-18 layer (01: III, 10: II, 11: I)   12-15 bit-rate index
//   10-11 sampling index   9 padding   6-7 channel mode   0-1 emphasis
// ID3v1: the last 128 bytes, "TAG" + title 30, artist 30, album 30, year 4,
// comment 30 (28 + zero + track in 1.1), genre 1. Lyrics3 sits just before it.
// ID3v2: "ID3", version, revision, flags, 4 synchsafe size bytes, frames.
#pragma once

#include <cstdint>
#include <string>

#include "media/media_file.h"
#include "media/audio_reader.h"

namespace tamber::media {

class MpegAudioReader final : public AudioReader {
 public:
  bool open(const std::string& path, AudioValues& out) override;

  // Exposed for tests: the decoded fields of a frame header, if valid.
  struct FrameInfo {
    double version = 0;   // 1, 2 or 2.5
    int layer = 0;        // 1-3
    int bitrateKbps = 0;
    int sampleRate = 0;
    int padding = 0;
    int channelMode = 0;
    int frameLength = 0;
    int samplesPerFrame = 0;
  };
  static bool decodeHeader(uint32_t header, FrameInfo& info);
  // The genre text of an ID3v2 "TCON" frame by the genre rules.
  static std::u16string genreFromFrame(const std::u16string& text);
  static std::u16string genreName(int number);

 private:
  struct State;
  MediaFile::Cache cache_;
};

}  // namespace tamber::media
