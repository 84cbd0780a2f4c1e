// The texts a video record is written as; kept apart from the probe so that
// the scanner writes them without linking FFmpeg.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "media/video/dvd_video.h"
#include "media/video/video_probe.h"

namespace tamber::media {

const char* videoDemuxerOfHead(const void* head, size_t n) {
  const auto* b = static_cast<const uint8_t*>(head);
  auto at = [&](size_t i, const char* text, size_t len) { return n >= i + len && std::memcmp(b + i, text, len) == 0; };
  if (n >= 4 && b[0] == 0x1A && b[1] == 0x45 && b[2] == 0xDF && b[3] == 0xA3) return "matroska";
  if (at(0, "RIFF", 4) && (at(8, "AVI ", 4) || at(8, "AVIX", 4))) return "avi";
  if (at(0, "FLV\x01", 4)) return "flv";
  static const uint8_t asf[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                  0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  if (n >= 16 && std::memcmp(b, asf, 16) == 0) return "asf";
  for (const char* box : {"ftyp", "moov", "mdat", "free", "wide", "skip", "pnot"}) {
    if (at(4, box, 4)) return "mov";
  }
  if (n >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == 0xBA) return "mpeg";
  // Transport streams: a sync byte every 188 bytes, or every 192 with a
  // four-byte time code before each packet (M2TS).
  if (n >= 3 * 188 + 1 && b[0] == 0x47 && b[188] == 0x47 && b[376] == 0x47) return "mpegts";
  if (n >= 3 * 192 + 5 && b[4] == 0x47 && b[196] == 0x47 && b[388] == 0x47) return "mpegts";
  return nullptr;
}

bool isVideoHead(const void* head, size_t size) { return videoDemuxerOfHead(head, size) != nullptr; }

std::string durationText(double seconds) {
  long long s = seconds > 0 && seconds < 3.2e9 ? std::llround(std::floor(seconds)) : 0;
  char buf[48];
  if (s < 3600) {
    std::snprintf(buf, sizeof buf, "%02lld:%02lld", s / 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  }
  return buf;
}

std::string bitRateText(int64_t bitsPerSecond) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.1f kbps", static_cast<double>(std::max<int64_t>(bitsPerSecond, 0)) * 0.001);
  return buf;
}

std::string frameRateText(double rate) {
  if (!(rate > 0) || rate > 1e6) return {};
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.2f", rate);
  std::string s = buf;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

std::string subtitlesText(const std::vector<std::string>& languages) {
  std::string out;
  for (const auto& l : languages) out += (out.empty() ? "" : ", ") + l;
  return out;
}

std::string audioTracksText(const std::vector<AudioTrack>& tracks) {
  std::string s;
  for (const auto& t : tracks) {
    if (!s.empty()) s += "; ";
    s += t.codec;
    if (t.channels > 0) s += " " + std::to_string(t.channels) + "ch";
    if (!t.language.empty()) s += " " + t.language;
  }
  return s;
}

std::string dvdTitlesText(const std::vector<DvdTitle>& titles) {
  std::string s;
  for (const auto& t : titles) {
    if (!s.empty()) s += "; ";
    // Titles are written with hours, as players show them.
    long long secs = t.seconds > 0 ? static_cast<long long>(t.seconds) : 0;
    char time[32];
    std::snprintf(time, sizeof time, "%02lld:%02lld:%02lld", secs / 3600, secs / 60 % 60, secs % 60);
    s += std::to_string(t.number) + ": " + time + ", " + std::to_string(t.chapters) +
         (t.chapters == 1 ? " chapter" : " chapters");
    if (t.angles > 1) s += ", " + std::to_string(t.angles) + " angles";
    for (size_t i = 0; i < t.audioLanguages.size(); ++i) s += (i ? " " : ", ") + t.audioLanguages[i];
  }
  return s;
}

}  // namespace tamber::media
