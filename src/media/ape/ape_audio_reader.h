// Monkey's Audio files (.ape, .mac, and .apl links to them): our own reader
// of what the format's information calls give (version, compression level,
// sizes, channels, rate, depth, length, bit rate) and of the APE tag
// (versions 1000 and 2000) or, without one, the ID3v1 tag.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media/media_file.h"
#include "media/audio_reader.h"

namespace tamber::media {

struct ApeInfo {
  int version = 0;           // 3990 for 3.99
  int compressionLevel = 0;  // 1000 fast .. 5000 insane
  uint64_t totalBytes = 0;
  int channels = 0, sampleRate = 0, bitsPerSample = 0;
  int64_t lengthMs = 0;
  double averageBitRate = 0;  // kbps
};

struct ApeTagItem {
  std::string name;
  std::string value;  // the bytes as stored
};

struct ApeTag {
  int version = 0;  // 1000 or 2000 for an APE tag, -1 for an ID3v1 tag only
  std::vector<ApeTagItem> items;
};

// The stream information of the file's first bytes; false when they are no
// Monkey's Audio header.
bool readApeInfo(const MediaFile& file, ApeInfo& info);
// The tag at the end of the file; false when there is none.
bool readApeTag(const MediaFile& file, ApeTag& tag);

class ApeAudioReader final : public AudioReader {
 public:
  bool open(const std::string& path, AudioValues& out) override;

 private:
  MediaFile::Cache cache_;
};

}  // namespace tamber::media
