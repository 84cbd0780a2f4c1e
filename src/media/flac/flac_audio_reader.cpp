#include "media/flac/flac_audio_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "media/media.h"
#include "media/text_util.h"
#include "media/vorbis_comment.h"

namespace tamber::media {

namespace {

constexpr uint8_t kStreamInfo = 0;
constexpr uint8_t kVorbisComment = 4;
// A file with more metadata blocks than this is not believed.
constexpr int kMaxBlocks = 4096;
// Comments longer than this (pictures in comments, mostly) are passed over.
constexpr uint32_t kMaxCommentBytes = 64 * 1024;

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

struct StreamInfo {
  uint32_t sampleRate = 0;
  int channels = 0;
  int bitsPerSample = 0;
  uint64_t totalSamples = 0;
};

StreamInfo decodeStreamInfo(const uint8_t* b) {
  // Bytes 10-17: sample rate (20 bits), channels - 1 (3), bits per sample - 1
  // (5), total samples (36).
  StreamInfo si;
  si.sampleRate = static_cast<uint32_t>(b[10]) << 12 | b[11] << 4 | b[12] >> 4;
  si.channels = ((b[12] >> 1) & 7) + 1;
  si.bitsPerSample = ((b[12] & 1) << 4 | b[13] >> 4) + 1;
  si.totalSamples = static_cast<uint64_t>(b[13] & 0x0F) << 32 | static_cast<uint64_t>(b[14]) << 24 |
                    static_cast<uint64_t>(b[15]) << 16 | static_cast<uint64_t>(b[16]) << 8 | b[17];
  return si;
}

// The comments of a block of `length` bytes at `at`, read one by one so
// that a large picture among them is passed over unread.
void readComments(const MediaFile& file, uint64_t at, uint64_t length, AudioValues& out,
                  CommentFields& fields) {
  uint64_t end = at + length;
  uint8_t n[4];
  auto number = [&](uint32_t& v) {
    if (at + 4 > end || !file.readAll(at, n, 4)) return false;
    v = le32(n);
    at += 4;
    return true;
  };
  uint32_t vendorBytes = 0;
  if (!number(vendorBytes) || vendorBytes > end - at) return;
  std::string text(std::min(vendorBytes, kMaxCommentBytes), '\0');
  if (!file.readAll(at, text.data(), text.size())) return;
  out.vendorText = fromUtf8(text, false);
  at += vendorBytes;
  uint32_t count = 0;
  if (!number(count)) return;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t bytes = 0;
    if (!number(bytes) || bytes > end - at) return;
    if (bytes <= kMaxCommentBytes) {
      text.resize(bytes);
      if (!file.readAll(at, text.data(), text.size())) return;
      fields.add(text);
    }
    at += bytes;
  }
}

}  // namespace

uint64_t flacMarkerOffset(const MediaFile& file) {
  uint8_t h[10];
  uint64_t at = 0;
  if (file.readAll(0, h, 10) && std::memcmp(h, "ID3", 3) == 0 &&
      !((h[6] | h[7] | h[8] | h[9]) & 0x80)) {
    at = 10 + (static_cast<uint64_t>(h[6]) << 21 | h[7] << 14 | h[8] << 7 | h[9]);
    if (h[5] & 0x10) at += 10;  // footer
  }
  uint8_t marker[4];
  return file.readAll(at, marker, 4) && std::memcmp(marker, "fLaC", 4) == 0 ? at : UINT64_MAX;
}

bool FlacAudioReader::open(const std::string& path, AudioValues& out) {
  MediaFile file(path, cache_);
  if (!file.ok()) return false;
  uint64_t at = flacMarkerOffset(file);
  if (at == UINT64_MAX) return false;
  at += 4;

  AudioValues values;
  CommentFields fields(values, true);
  StreamInfo si;
  bool sawInfo = false, last = false;
  for (int i = 0; i < kMaxBlocks && !last; ++i) {
    uint8_t h[4];
    if (!file.readAll(at, h, 4)) return false;
    last = (h[0] & 0x80) != 0;
    uint8_t type = h[0] & 0x7F;
    uint64_t length = static_cast<uint64_t>(h[1]) << 16 | h[2] << 8 | h[3];
    at += 4;
    if (length > file.size() - std::min(at, file.size())) return false;
    if (i == 0) {
      // The stream information always comes first.
      uint8_t b[34];
      if (type != kStreamInfo || length < 34 || !file.readAll(at, b, 34)) return false;
      si = decodeStreamInfo(b);
      sawInfo = true;
    } else if (type == kVorbisComment) {
      readComments(file, at, length, values, fields);
    } else if (type == 127) {
      return false;  // reserved as invalid
    }
    at += length;
  }
  if (!sawInfo || si.sampleRate == 0) return false;

  char buf[64];
  std::snprintf(buf, sizeof buf, "FLAC %d-bit", si.bitsPerSample);
  values.codecText = fromUtf8(buf);
  values.channelsText = fromUtf8(vorbisChannelText(si.channels));
  values.sampleRate = static_cast<int32_t>(si.sampleRate);
  values.fileSize = static_cast<int32_t>(std::min<uint64_t>(file.size(), INT32_MAX));
  // An encoder that did not know the length writes 0 samples: no duration
  // and no bit rate then.
  double seconds = static_cast<double>(si.totalSamples) / si.sampleRate;
  values.durationText = DurationText(seconds < 1e9 ? static_cast<int>(seconds) : 0);
  uint64_t audioBytes = file.size() > at ? file.size() - at : 0;
  values.bitRateText = kbpsText(seconds > 0 ? static_cast<double>(audioBytes) * 8 / seconds : 0);
  fields.finish();
  out = std::move(values);
  return true;
}

}  // namespace tamber::media
