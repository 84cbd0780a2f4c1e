// What a video file's container says about it: length, codecs, picture
// size, frame rate, audio and subtitle tracks, and the container's tags.
//
// The probe reads the file through a descriptor of its own: the container
// readers of libavformat get no way to open anything else (no protocols,
// no references to other files, no playlists or image sequences), read at
// most kProbeBytes past the headers, and give up after kProbeMilliseconds.
// Nothing is decoded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tamber::media {

struct AudioTrack {
  std::string codec;     // as ffprobe names it: "aac", "ac3", "opus"
  int channels = 0;
  std::string language;  // the track's language tag ("eng"), or empty
};

struct VideoRecord {
  std::string container;  // the container reader's short name: "mov", "matroska"
  double seconds = 0;     // 0 when unknown
  int64_t bitRate = 0;    // bits per second of the whole file, 0 when unknown
  std::string videoCodec;  // empty for a file without a picture stream
  int width = 0, height = 0;
  double frameRate = 0;
  std::vector<AudioTrack> audio;
  std::vector<std::string> subtitleLanguages;  // "und" where a track names none
  std::string title, artist, date, comment;
  // A key frame near a tenth of the length, scaled down to fit the frame
  // box (RGB, three bytes a pixel, rows without padding); empty when none
  // was asked for or none could be decoded. The thumbnail is made from it
  // as a picture's is.
  std::string frameRgb;
  int frameWidth = 0, frameHeight = 0;
};

inline constexpr int64_t kProbeBytes = 4 << 20;
inline constexpr int kProbeMilliseconds = 5000;
// A frame larger than this many pixels is not decoded for a thumbnail.
inline constexpr int64_t kMaxFramePixels = 40'000'000;

// What a probe is asked for beyond the container's facts: a frame scaled
// to fit a square of this side (0: none).
struct ProbeOptions {
  int frameBox = 0;
};

// Probes the file at `path` (opened without following a link at its end
// and without blocking); false with `why` said when it is no video of a
// container we read, or cannot be read.
bool probeVideo(const std::string& path, VideoRecord& out, std::string* why = nullptr,
                const ProbeOptions& options = {});

// The same through a descriptor open for reading (left open; read with
// pread, so its offset does not matter).
bool probeVideoFd(int fd, VideoRecord& out, std::string* why = nullptr, const ProbeOptions& options = {});

// The same over bytes in memory (the fuzz target's way in).
bool probeVideoBytes(const uint8_t* data, size_t size, VideoRecord& out, std::string* why = nullptr,
                     const ProbeOptions& options = {});

// The container reader a file's first bytes call for, by libavformat's
// name ("mov", "matroska", "avi", "mpeg", "mpegts", "flv", "asf"); null
// for bytes of no container we read.
const char* videoDemuxerOfHead(const void* head, size_t size);
bool isVideoHead(const void* head, size_t size);

// "01:02:03" or "02:03", as audio durations are written.
std::string durationText(double seconds);
// "1234 kbps", as audio bit rates are written.
std::string bitRateText(int64_t bitsPerSecond);
// "25", "29.97": at most two decimals, none when whole.
std::string frameRateText(double rate);
// The audio tracks as one text: "aac 2ch eng; ac3 6ch".
std::string audioTracksText(const std::vector<AudioTrack>& tracks);
// "ger, eng": the subtitle tracks' languages as they follow each other.
std::string subtitlesText(const std::vector<std::string>& languages);

}  // namespace tamber::media
