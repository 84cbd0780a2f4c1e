// What every audio reader offers CGeneralTagsInfo. Private to TamberMedia.
#pragma once

#include <cstdint>
#include <string>

namespace tamber::media {

struct AudioValues {
  std::u16string codecText, channelsText, bitRateText, durationText, title, artist, album, genre,
      comment, lyrics, vendorText, compressionText, otherTags;
  int32_t sampleRate = 0;
  int32_t fileSize = 0;
  int32_t year = 0;
  int32_t track = 0;
  bool tagFound = false;  // title .. comment and year are copied only then
};

class AudioReader {
 public:
  virtual ~AudioReader() = default;
  // Resets, reads the file, fills `out`; false when the file is not recognised.
  virtual bool open(const std::string& path, AudioValues& out) = 0;
};

}  // namespace tamber::media
