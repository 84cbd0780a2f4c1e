#include "media/media.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "media/audio_reader.h"
#include "media/ape/ape_audio_reader.h"
#include "media/asf/asf_audio_reader.h"
#include "media/flac/flac_audio_reader.h"
#include "media/mp4/mp4_audio_reader.h"
#include "media/mpeg/mpeg_audio_reader.h"
#include "media/ogg/ogg_vorbis_reader.h"
#include "media/opus/opus_audio_reader.h"
#include "media/pattern.h"
#include "media/text_util.h"

using namespace tamber::media;

// ---------------------------------------------------------------------------
// The audio front

struct CGeneralTagsInfo::Readers {
  MpegAudioReader mpeg;
  OggVorbisReader ogg;
  AsfAudioReader asf;
  ApeAudioReader ape;
  FlacAudioReader flac;
  OpusAudioReader opus;
  Mp4AudioReader mp4;
  AudioReader* forKind(int kind) {
    switch (kind) {
      case kAudioMpeg: return &mpeg;
      case kAudioOggVorbis: return &ogg;
      case kAudioAsf: return &asf;
      case kAudioApe: return &ape;
      case kAudioFlac: return &flac;
      case kAudioOpus: return &opus;
      case kAudioMp4: return &mp4;
      default: return nullptr;
    }
  }
};

int AudioKindOfHead(const void* head, size_t size, int kind) {
  const auto* h = static_cast<const uint8_t*>(head);
  auto starts = [&](size_t at, const void* bytes, size_t n) {
    return size >= at + n && std::memcmp(h + at, bytes, n) == 0;
  };
  static constexpr uint8_t kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                             0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  if (starts(0, "OggS", 4) && size > 27) {
    // The first packet follows the page header and its segment table.
    size_t packet = 27 + h[26];
    if (starts(packet, "\x01vorbis", 7)) return kAudioOggVorbis;
    if (starts(packet, "OpusHead", 8)) return kAudioOpus;
    return kind;
  }
  if (starts(0, "fLaC", 4)) return kAudioFlac;
  if (starts(0, "MAC ", 4)) return kAudioApe;
  if (starts(0, kAsfHeader, 16)) return kAudioAsf;
  if (starts(4, "ftyp", 4)) return kAudioMp4;
  if (starts(0, "ID3", 3)) return kind == kAudioFlac || kind == kAudioApe ? kind : kAudioMpeg;
  // An MPEG audio frame header right at the start.
  if (size >= 2 && h[0] == 0xFF && (h[1] & 0xE0) == 0xE0) return kAudioMpeg;
  return kind;
}

CGeneralTagsInfo::CGeneralTagsInfo() = default;
CGeneralTagsInfo::~CGeneralTagsInfo() = default;

void CGeneralTagsInfo::CreateForAnalysis() {
  try {
    readers_ = std::make_unique<Readers>();
  } catch (...) {
    readers_.reset();
  }
}

void CGeneralTagsInfo::reset() {
  codecText.clear();
  channelsText.clear();
  // bitRateText is not part of the reset: every successful read sets it.
  for (auto* s : {&durationText, &title, &artist, &album, &genre, &comment, &lyrics, &vendorText,
                  &compressionText, &otherTags}) {
    s->clear();
  }
  sampleRate = 0;
  fileSize = 0;
  year = 0;
  track = -1;
}

int CGeneralTagsInfo::loadInfo(const std::u16string& path, int kind) {
  try {
    reset();
    if (!readers_) return 0;
    AudioReader* reader = readers_->forKind(kind);
    if (!reader) return 0;
    AudioValues v;
    if (!reader->open(toUtf8(path), v)) return 0;
    codecText = v.codecText;
    channelsText = v.channelsText;
    bitRateText = v.bitRateText;
    durationText = v.durationText;
    lyrics = v.lyrics;
    vendorText = v.vendorText;
    compressionText = v.compressionText;
    otherTags = v.otherTags;
    sampleRate = v.sampleRate;
    fileSize = v.fileSize;
    track = v.track;
    if (v.tagFound) {
      title = v.title;
      artist = v.artist;
      album = v.album;
      genre = v.genre;
      comment = v.comment;
      year = v.year;
    }
    return 1;
  } catch (...) {
    // Nothing leaves loadInfo; out of memory included.
    try {
      reset();
    } catch (...) {
    }
    return 0;
  }
}

// ---------------------------------------------------------------------------
// Functions

void CheckStringForIllegalChar(char* s, int length, char replacement) {
  if (!s || length < 0) return;
  for (int i = 0; (length == 0 || i < length) && s[i] != 0; ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    bool allowed = c == 9 || c == 10 || c == 13 || (c >= 32 && c <= 127);
    if (!allowed) s[i] = replacement;
  }
}

void CheckStringForIllegalWChar(char16_t* s, int length, char16_t replacement) {
  if (!s || length < 0) return;
  for (int i = 0; (length == 0 || i < length) && s[i] != 0; ++i) {
    char16_t c = s[i];
    bool allowed = c == 9 || c == 10 || c == 13 || (c >= 32 && c <= 0xD7FF) ||
                   (c >= 0xE000 && c <= 0xFFFE);
    if (!allowed) s[i] = replacement;
  }
}

int PatternMatch(const void* text, const char* pattern, std::u16string& out, bool wide) {
  try {
    if (!pattern) return 0;
    auto group = matchFirstGroup(text, pattern, wide);
    if (!group) return 0;
    out = std::move(*group);
    return 1;
  } catch (...) {
    return 0;
  }
}

std::optional<std::u16string> HexTimeOfLocalTime(const std::tm& local) {
  if (local.tm_year < 0) return std::nullopt;  // before 1900
  std::tm copy = local;
  copy.tm_isdst = -1;  // the platform decides daylight saving
  std::time_t t = std::mktime(&copy);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", static_cast<uint32_t>(t));
  return std::u16string(buf, buf + std::strlen(buf));
}

std::u16string DurationText(int seconds) {
  int s = seconds, m = s / 60, h = m / 60;
  char buf[32];
  if (h == 0) {
    std::snprintf(buf, sizeof buf, "%02d:%02d", m % 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, m % 60, s % 60);
  }
  return std::u16string(buf, buf + std::strlen(buf));
}

int FillWaveFormatEx(WAVEFORMATEX* f, int sampleRate, int bitsPerSample, int channels) {
  if (!f) return -1;
  f->cbSize = 0;
  f->wFormatTag = 1;  // PCM
  f->nChannels = static_cast<uint16_t>(channels);
  f->nSamplesPerSec = static_cast<uint32_t>(sampleRate);
  f->wBitsPerSample = static_cast<uint16_t>(bitsPerSample);
  f->nBlockAlign = static_cast<uint16_t>(bitsPerSample / 8 * channels);
  f->nAvgBytesPerSec = f->nBlockAlign * static_cast<uint32_t>(sampleRate);
  return 0;
}

int FillWaveHeader(WAVE_HEADER* h, int audioBytes, WAVEFORMATEX* f, int terminatingBytes) {
  if (!h || !f) return -1;
  std::memcpy(h->cRIFFHeader, "RIFF", 4);
  h->nRIFFBytes = static_cast<uint32_t>(sizeof(WAVE_HEADER) - 8 + audioBytes + terminatingBytes);
  std::memcpy(h->cDataTypeID, "WAVE", 4);
  std::memcpy(h->cFormatHeader, "fmt ", 4);
  h->nFormatBytes = 16;
  h->nFormatTag = f->wFormatTag;
  h->nChannels = f->nChannels;
  h->nSamplesPerSec = f->nSamplesPerSec;
  h->nAvgBytesPerSec = f->nAvgBytesPerSec;
  h->nBlockAlign = f->nBlockAlign;
  h->nBitsPerSample = f->wBitsPerSample;
  std::memcpy(h->cDataHeader, "data", 4);
  h->nDataBytes = static_cast<uint32_t>(audioBytes);
  return 0;
}
