#include "media/mp4/mp4_audio_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "media/media.h"
#include "media/mpeg/mpeg_audio_reader.h"
#include "media/text_util.h"
#include "media/vorbis_comment.h"

namespace tamber::media {

namespace {

// Boxes nest no deeper than this in the parts read, and no box holds more
// children than this: a file beyond either is not believed further.
constexpr int kMaxDepth = 10;
constexpr int kMaxChildren = 100000;
// Tag values longer than this are passed over.
constexpr uint64_t kMaxValueBytes = 64 * 1024;

uint32_t be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}
uint64_t be64(const uint8_t* p) { return static_cast<uint64_t>(be32(p)) << 32 | be32(p + 4); }
uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

struct Box {
  char type[4];
  uint64_t start;    // of the header
  uint64_t payload;  // where the content starts
  uint64_t end;
};

class Boxes {
 public:
  explicit Boxes(const MediaFile& file) : file_(file) {}

  // Calls `visit` for every box in [from, to); stops at a box that does not
  // fit. Returns false when the boxes did not add up.
  template <typename Visit>
  bool each(uint64_t from, uint64_t to, Visit visit) const {
    uint64_t at = from;
    for (int n = 0; n < kMaxChildren && to - at >= 8; ++n) {
      uint8_t h[16];
      if (!file_.readAll(at, h, 8)) return false;
      Box b{};
      std::memcpy(b.type, h + 4, 4);
      b.start = at;
      uint64_t size = be32(h);
      b.payload = at + 8;
      if (size == 1) {
        if (to - at < 16 || !file_.readAll(at + 8, h + 8, 8)) return false;
        size = be64(h + 8);
        b.payload = at + 16;
      } else if (size == 0) {
        size = to - at;  // to the end of the enclosing box
      }
      if (size < b.payload - at || size > to - at) return false;
      b.end = at + size;
      visit(b);
      at = b.end;
    }
    return at == to;
  }
  bool read(uint64_t at, void* buf, size_t n) const { return file_.readAll(at, buf, n); }

 private:
  const MediaFile& file_;
};

bool is(const Box& b, const char* type) { return std::memcmp(b.type, type, 4) == 0; }

struct Track {
  bool sound = false;
  uint32_t timescale = 0;
  uint64_t duration = 0;
  char format[4] = {};
  int channels = 0;
  uint32_t sampleRate = 0;
  int bitsPerSample = 0;
  uint32_t averageBitRate = 0;
  int objectType = 0;       // of the decoder configuration: 0x40 MPEG-4 audio, 0x69/0x6B MPEG audio
  int audioObjectType = 0;  // of an MPEG-4 audio configuration: 2 LC, 5 SBR, 29 PS
  int configChannels = 0;   // of that configuration; 0 when it leaves them to the entry
};

struct State {
  uint32_t movieTimescale = 0;
  uint64_t movieDuration = 0;
  uint64_t mediaBytes = 0;
  Track track;  // the first sound track
  bool haveTrack = false;
  std::u16string tool;
};

// The length that an MPEG-4 descriptor states (up to four bytes of seven bits).
bool descriptorLength(const uint8_t*& p, const uint8_t* end, uint32_t& length) {
  length = 0;
  for (int i = 0; i < 4; ++i) {
    if (p >= end) return false;
    uint8_t b = *p++;
    length = length << 7 | (b & 0x7F);
    if (!(b & 0x80)) return true;
  }
  return true;
}

// The elementary stream descriptor of an "esds" box: the decoder
// configuration's object type and average bit rate, and the audio object
// type of the configuration that follows.
void elementaryStream(const uint8_t* p, const uint8_t* end, Track& t) {
  uint32_t length = 0;
  auto skip = [&](ptrdiff_t n) {
    if (end - p < n) return false;
    p += n;
    return true;
  };
  if (!skip(4) || p == end || *p++ != 0x03 || !descriptorLength(p, end, length) || end - p < 3) return;
  uint8_t flags = p[2];
  p += 3;
  if ((flags & 0x80) && !skip(2)) return;                 // depends on a stream
  if ((flags & 0x40) && (p == end || !skip(1 + *p))) return;  // URL
  if ((flags & 0x20) && !skip(2)) return;                 // OCR stream
  if (p == end || *p++ != 0x04 || !descriptorLength(p, end, length) || end - p < 13) return;
  t.objectType = p[0];
  t.averageBitRate = be32(p + 9);
  p += 13;
  if (p == end || *p++ != 0x05 || !descriptorLength(p, end, length)) return;
  // The audio specific configuration, bit by bit: object type (5 bits, or
  // 6 more after 31), sampling frequency index (4 bits, or 24 more after
  // 15), channel configuration (4 bits: 1-6 channels, 7 for 8).
  uint64_t bits = 0;
  int have = 0;
  for (int i = 0; i < 8; ++i) {
    bits = bits << 8 | (p + i < end ? p[i] : 0);
    have += 8;
  }
  size_t used = 0;
  auto take = [&](int n) {
    used += static_cast<size_t>(n);
    return static_cast<int>(bits >> (have - static_cast<int>(used)) & ((1u << n) - 1));
  };
  int aot = take(5);
  if (aot == 31) aot = 32 + take(6);
  if (take(4) == 15) take(24);
  int channels = take(4);
  if (end - p < static_cast<ptrdiff_t>((used + 7) / 8)) return;
  t.audioObjectType = aot;
  t.configChannels = channels == 7 ? 8 : channels;
}

void sampleDescription(const Boxes& boxes, const Box& stsd, Track& t) {
  // Version, flags, entry count, then the first entry.
  uint8_t h[8 + 36];
  if (stsd.end - stsd.payload < sizeof h || !boxes.read(stsd.payload, h, sizeof h)) return;
  const uint8_t* e = h + 8;
  uint64_t entryStart = stsd.payload + 8;
  uint64_t entryEnd = entryStart + be32(e);
  if (entryEnd > stsd.end || entryEnd < entryStart + 36) return;
  std::memcpy(t.format, e + 4, 4);
  // The sound entry: 6 reserved, data reference (2), version (2), revision
  // (2), vendor (4), channels (2), sample size (2), compression (2), packet
  // size (2), sample rate (16.16).
  uint16_t version = be16(e + 16);
  t.channels = be16(e + 24);
  t.bitsPerSample = be16(e + 26);
  t.sampleRate = be32(e + 32) >> 16;
  uint64_t children = entryStart + 36 + (version == 1 ? 16 : version == 2 ? 36 : 0);
  if (children > entryEnd) return;
  boxes.each(children, entryEnd, [&](const Box& b) {
    uint64_t n = b.end - b.payload;
    if (is(b, "esds") && n <= 4096) {
      uint8_t d[4096];
      if (boxes.read(b.payload, d, n)) elementaryStream(d, d + n, t);
    } else if (is(b, "alac") && n >= 28) {
      // Version and flags, frame length (4), compatible version, bit depth,
      // three tuning bytes, channels, maximum run (2), maximum frame bytes
      // (4), average bit rate (4), sample rate (4).
      uint8_t d[28];
      if (!boxes.read(b.payload, d, sizeof d)) return;
      t.bitsPerSample = d[9];
      t.channels = d[13];
      t.averageBitRate = be32(d + 20);
      t.sampleRate = be32(d + 24);
    }
  });
}

// The time scale and duration of a movie or media header: after version and
// flags, the creation and change times, 32 bits each in version 0 and 64 in
// version 1, like the duration.
void timeHeader(const Boxes& boxes, const Box& b, uint32_t& timescale, uint64_t& duration) {
  uint8_t d[32];
  uint64_t n = std::min<uint64_t>(b.end - b.payload, sizeof d);
  if (n < 20 || !boxes.read(b.payload, d, n)) return;
  if (d[0] == 1) {
    if (n < 32) return;
    timescale = be32(d + 20);
    duration = be64(d + 24);
  } else {
    timescale = be32(d + 12);
    duration = be32(d + 16);
  }
}

void mediaBox(const Boxes& boxes, const Box& mdia, Track& t, int depth) {
  boxes.each(mdia.payload, mdia.end, [&](const Box& b) {
    if (is(b, "hdlr")) {
      uint8_t d[12];
      if (b.end - b.payload >= 12 && boxes.read(b.payload, d, 12)) t.sound = std::memcmp(d + 8, "soun", 4) == 0;
    } else if (is(b, "mdhd")) {
      timeHeader(boxes, b, t.timescale, t.duration);
    } else if ((is(b, "minf") || is(b, "stbl")) && depth < kMaxDepth) {
      mediaBox(boxes, b, t, depth + 1);
    } else if (is(b, "stsd")) {
      sampleDescription(boxes, b, t);
    }
  });
}

// One tag item: its "data" box, read as text (type 1, UTF-8) or as the
// binary value of the number items.
void tagItem(const Boxes& boxes, const Box& item, CommentFields& fields, State& s) {
  boxes.each(item.payload, item.end, [&](const Box& data) {
    if (!is(data, "data") || data.end - data.payload < 8) return;
    uint64_t n = data.end - data.payload - 8;
    if (n > kMaxValueBytes) return;
    std::string value(n, '\0');
    uint8_t kind[4];
    if (!boxes.read(data.payload, kind, 4) || !boxes.read(data.payload + 8, value.data(), n)) return;
    uint32_t type = be32(kind) & 0xFFFFFF;
    auto text = [&] { return fromUtf8(value, false); };
    const char* t = item.type;
    if (std::memcmp(t, "trkn", 4) == 0 && n >= 4) {
      uint8_t b[4];
      std::memcpy(b, value.data(), 4);
      fields.set("tracknumber", fromUtf8(std::to_string(be16(b + 2))));
    } else if (std::memcmp(t, "gnre", 4) == 0 && n >= 2) {
      // A number one above the ID3v1 genre.
      uint8_t b[2];
      std::memcpy(b, value.data(), 2);
      uint16_t g = be16(b);
      if (g >= 1 && g <= 126) fields.set("genre", MpegAudioReader::genreName(g - 1));
    } else if (type == 1) {
      if (std::memcmp(t, "\xA9nam", 4) == 0) fields.set("title", text());
      else if (std::memcmp(t, "\xA9" "ART", 4) == 0) fields.set("artist", text());
      else if (std::memcmp(t, "\xA9" "alb", 4) == 0) fields.set("album", text());
      else if (std::memcmp(t, "\xA9gen", 4) == 0) fields.set("genre", text());
      else if (std::memcmp(t, "\xA9" "day", 4) == 0) fields.set("date", text());
      else if (std::memcmp(t, "\xA9" "cmt", 4) == 0) fields.set("comment", text());
      else if (std::memcmp(t, "\xA9lyr", 4) == 0) fields.set("lyrics", text());
      else if (std::memcmp(t, "\xA9too", 4) == 0) s.tool = text();
    }
  });
}

// The item list under "udta" > "meta" > "ilst".
void userData(const Boxes& boxes, const Box& udta, CommentFields& fields, State& s) {
  boxes.each(udta.payload, udta.end, [&](const Box& meta) {
    if (!is(meta, "meta")) return;
    // A full box (version and flags first), except in some files written
    // with the older layout, where a "hdlr" box comes at once.
    uint8_t peek[8];
    uint64_t children = meta.payload;
    if (meta.end - meta.payload >= 8 && boxes.read(meta.payload, peek, 8) &&
        std::memcmp(peek + 4, "hdlr", 4) != 0) {
      children += 4;
    }
    if (children > meta.end) return;
    boxes.each(children, meta.end, [&](const Box& ilst) {
      if (!is(ilst, "ilst")) return;
      boxes.each(ilst.payload, ilst.end, [&](const Box& item) { tagItem(boxes, item, fields, s); });
    });
  });
}

std::u16string codecText(const Track& t) {
  if (std::memcmp(t.format, "alac", 4) == 0) return u"MPEG-4 ALAC";
  if (std::memcmp(t.format, "mp4a", 4) == 0) {
    if (t.objectType == 0x69 || t.objectType == 0x6B) return u"MPEG-4 MPEG Audio";
    switch (t.audioObjectType) {
      case 1: return u"MPEG-4 AAC Main";
      case 2: return u"MPEG-4 AAC LC";
      case 5: return u"MPEG-4 HE-AAC";
      case 29: return u"MPEG-4 HE-AAC v2";
      default: return u"MPEG-4 AAC";
    }
  }
  std::string f;
  for (char c : t.format) f += c >= 0x20 && c < 0x7F ? c : '.';
  return fromUtf8("MPEG-4 " + f);
}

}  // namespace

bool Mp4AudioReader::open(const std::string& path, AudioValues& out) {
  MediaFile file(path, cache_);
  if (!file.ok()) return false;
  uint8_t head[8];
  // An MPEG-4 file opens with its file-type box.
  if (!file.readAll(0, head, 8) || std::memcmp(head + 4, "ftyp", 4) != 0) return false;

  Boxes boxes(file);
  State s;
  AudioValues values;
  CommentFields fields(values, true);
  bool sawMovie = false;
  boxes.each(0, file.size(), [&](const Box& top) {
    if (is(top, "mdat")) s.mediaBytes += top.end - top.payload;
    if (!is(top, "moov") || sawMovie) return;
    sawMovie = true;
    boxes.each(top.payload, top.end, [&](const Box& b) {
      if (is(b, "mvhd")) {
        timeHeader(boxes, b, s.movieTimescale, s.movieDuration);
      } else if (is(b, "trak") && !s.haveTrack) {
        Track t;
        boxes.each(b.payload, b.end, [&](const Box& mdia) {
          if (is(mdia, "mdia")) mediaBox(boxes, mdia, t, 0);
        });
        if (t.sound) {
          s.track = t;
          s.haveTrack = true;
        }
      } else if (is(b, "udta")) {
        userData(boxes, b, fields, s);
      }
    });
  });
  if (!sawMovie || !s.haveTrack) return false;

  const Track& t = s.track;
  double seconds = t.timescale ? static_cast<double>(t.duration) / t.timescale
                   : s.movieTimescale ? static_cast<double>(s.movieDuration) / s.movieTimescale
                                      : 0;
  values.codecText = codecText(t);
  // The configuration's channels where it states them: encoders write 2 in
  // the entry of a mono AAC stream.
  values.channelsText = fromUtf8(vorbisChannelText(t.configChannels ? t.configChannels : t.channels));
  values.sampleRate = static_cast<int32_t>(t.sampleRate ? t.sampleRate : t.timescale);
  values.fileSize = static_cast<int32_t>(std::min<uint64_t>(file.size(), INT32_MAX));
  values.durationText = DurationText(seconds > 0 && seconds < 1e9 ? static_cast<int>(seconds) : 0);
  // The bit rate the stream states, else the media bytes over the length.
  // ALAC is variable by nature, and common encoders state the rate of the
  // uncompressed samples in its box: it is measured too.
  bool alac = std::memcmp(t.format, "alac", 4) == 0;
  double bitRate = alac ? 0 : t.averageBitRate;
  if (bitRate == 0 && seconds > 0) bitRate = static_cast<double>(s.mediaBytes) * 8 / seconds;
  values.bitRateText = kbpsText(bitRate);
  values.vendorText = s.tool;
  fields.finish();
  out = std::move(values);
  return true;
}

}  // namespace tamber::media
