#include "media/asf/asf_audio_reader.h"


#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "media/media.h"
#include "media/text_util.h"

namespace tamber::media {

namespace {

using Guid = uint8_t[16];

// GUIDs as they lie in the file (the first three fields little-endian).
constexpr Guid kHeader = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                          0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                  0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kStreamProperties = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                    0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kContentDescription = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kExtendedContentDescription = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                              0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
constexpr Guid kCodecList = {0x40, 0x52, 0xD1, 0x86, 0x1D, 0x31, 0xD0, 0x11,
                             0xA3, 0xA4, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0xF6};

// Strings keep at most 250 characters.
constexpr size_t kMaxChars = 250;

// Reads of a file by position, never past its end.
class Reader {
 public:
  explicit Reader(const MediaFile& file) : file_(file) {}
  uint64_t pos = 0;
  uint64_t size() const { return file_.size(); }
  bool bytes(void* out, size_t n) {
    if (pos > size() || n > size() - pos || !file_.readAll(pos, out, n)) return false;
    pos += n;
    return true;
  }
  bool u16(uint32_t& v) { return number(v, 2); }
  bool u32(uint32_t& v) { return number(v, 4); }
  bool u64(uint64_t& v) {
    uint8_t b[8];
    if (!bytes(b, 8)) return false;
    v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | b[i];
    return true;
  }
  // A UTF-16 little-endian text of `byteCount` bytes: 250 characters at
  // most, the rest passed over, zero characters dropped.
  bool text(size_t byteCount, std::u16string& out) {
    std::string raw(std::min(byteCount, kMaxChars * 2), '\0');
    if (!bytes(raw.data(), raw.size())) return false;
    pos += byteCount - raw.size();
    out.clear();
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
      char16_t c = static_cast<char16_t>(static_cast<uint8_t>(raw[i]) | static_cast<uint8_t>(raw[i + 1]) << 8);
      if (c) out += c;
    }
    return true;
  }

 private:
  bool number(uint32_t& v, size_t n) {
    uint8_t b[4] = {};
    if (!bytes(b, n)) return false;
    v = 0;
    for (size_t i = n; i-- > 0;) v = v << 8 | b[i];
    return true;
  }
  const MediaFile& file_;
};

struct State {
  uint64_t fileLength = 0;
  uint32_t maxBitRate = 0;
  uint64_t playDuration = 0;  // 100-ns units, the preroll included
  uint64_t prerollMs = 0;
  uint32_t channels = 0, sampleRate = 0, averageBytes = 0;
  int32_t track = 0;
  std::u16string codecName, codecDescription, title, author, album, year, genre, description, lyrics;
  std::string codecInformation;
  bool tags = false;
};

std::u16string trimmedUpper(const std::u16string& s) {
  std::u16string out = trimmed(s);
  for (char16_t& c : out) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return out;
}

void contentDescription(Reader& r, State& s) {
  uint32_t len[5];
  for (auto& l : len) {
    if (!r.u16(l)) return;
  }
  std::u16string copyright, rating;
  if (!r.text(len[0], s.title) || !r.text(len[1], s.author) || !r.text(len[2], copyright) ||
      !r.text(len[3], s.description) || !r.text(len[4], rating)) {
    return;
  }
  s.tags = true;
}

void extendedContentDescription(Reader& r, State& s) {
  uint32_t count;
  if (!r.u16(count)) return;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t nameLength, type, valueLength;
    std::u16string name;
    if (!r.u16(nameLength) || !r.text(nameLength, name) || !r.u16(type) || !r.u16(valueLength)) return;
    uint64_t valueEnd = r.pos + valueLength;
    std::u16string text;
    uint32_t number = 0;
    bool isText = type == 0, isNumber = type >= 2 && type <= 5;
    if (isText) {
      if (!r.text(valueLength, text)) return;
    } else if (isNumber) {
      uint8_t b[8] = {};
      if (!r.bytes(b, std::min<size_t>(valueLength, 8))) return;
      for (int k = 3; k >= 0; --k) number = number << 8 | b[k];
    }
    // Every value is consumed by its length, whatever its type.
    r.pos = valueEnd;
    std::u16string key = trimmedUpper(name);
    auto store = [&](std::u16string& field) {
      if (isText) {
        field = text;
        s.tags = true;
      }
    };
    if (key == u"WM/TITLE") store(s.title);
    else if (key == u"WM/AUTHOR") store(s.author);
    else if (key == u"WM/ALBUMTITLE") store(s.album);
    else if (key == u"WM/YEAR") store(s.year);
    else if (key == u"WM/GENRE") store(s.genre);
    else if (key == u"WM/DESCRIPTION") store(s.description);
    else if (key == u"WM/LYRICS") store(s.lyrics);
    else if (key == u"WM/TRACKNUMBER") {
      // A number, or a text read up to its first non-digit ("5/12").
      if (isNumber) s.track = static_cast<int32_t>(number);
      if (isText) s.track = leadingNumber(text);
    }
  }
}

void codecList(Reader& r, State& s, uint64_t end) {
  auto inside = [&](uint64_t n) { return r.pos + n <= end; };
  r.pos += 16;  // reserved
  uint32_t count, type, nameLength, descriptionLength, informationLength;
  if (!inside(4) || !r.u32(count) || count == 0) return;
  if (!inside(2) || !r.u16(type) || type != 2) return;
  if (!inside(2) || !r.u16(nameLength) || !inside(nameLength * 2ull) || !r.text(nameLength * 2ull, s.codecName)) {
    return;
  }
  if (!inside(2) || !r.u16(descriptionLength) || !inside(descriptionLength * 2ull) ||
      !r.text(descriptionLength * 2ull, s.codecDescription)) {
    return;
  }
  if (!inside(2) || !r.u16(informationLength) || !inside(informationLength)) return;
  s.codecInformation.assign(informationLength, '\0');
  if (!r.bytes(s.codecInformation.data(), informationLength)) s.codecInformation.clear();
}

}  // namespace

bool AsfAudioReader::open(const std::string& path, AudioValues& out) {
  MediaFile file(path, cache_);
  if (!file.ok()) return false;
  State s;
  s.fileLength = file.size();
  Reader r(file);
  uint8_t guid[16];
  uint64_t endOfHeader = 0;
  if (r.bytes(guid, 16) && std::memcmp(guid, kHeader, 16) == 0) {
    uint32_t objects = 0;
    r.pos += 8;
    if (r.u32(objects)) {
      r.pos += 2;
      for (uint32_t i = 0; i < objects; ++i) {
        uint64_t start = r.pos;
        uint64_t size64;
        if (!r.bytes(guid, 16) || !r.u64(size64)) break;
        uint64_t size = size64 & 0xFFFFFFFFu;
        // An object too small to hold its own header ends the walk.
        if (size < 24) break;
        uint64_t end = start + size;
        if (std::memcmp(guid, kFileProperties, 16) == 0) {
          uint64_t data = r.pos;
          r.pos = data + 40;
          (void)r.u64(s.playDuration);
          r.pos = data + 56;
          (void)r.u64(s.prerollMs);
          r.pos = data + 76;
          (void)r.u32(s.maxBitRate);
        } else if (std::memcmp(guid, kStreamProperties, 16) == 0) {
          r.pos += 56;
          uint32_t channels, rate, bytes;
          if (r.u16(channels) && r.u32(rate) && r.u32(bytes)) {
            s.channels = channels;
            s.sampleRate = rate;
            s.averageBytes = bytes;
          }
        } else if (std::memcmp(guid, kContentDescription, 16) == 0) {
          contentDescription(r, s);
        } else if (std::memcmp(guid, kExtendedContentDescription, 16) == 0) {
          extendedContentDescription(r, s);
        } else if (std::memcmp(guid, kCodecList, 16) == 0) {
          codecList(r, s, end);
        }
        r.pos = end;
        endOfHeader = end;
      }
    }
  }
  // Values a real audio file has; anything else is not recognised.
  if (s.maxBitRate == 0 || s.maxBitRate >= 320000 || (s.channels != 1 && s.channels != 2) || s.sampleRate < 8000 ||
      s.sampleRate > 96000 || s.averageBytes == 0 || s.averageBytes >= 40000) {
    return false;
  }
  out = AudioValues{};
  // The play duration the file states, less its preroll; a file that
  // states none is timed by its bytes after the header at the maximum bit
  // rate (which counts the packets' overhead as sound: a 4-minute WMA file
  // would last 18 s longer).
  uint64_t seconds = 0;
  uint64_t playMs = s.playDuration / 10000;
  if (playMs > s.prerollMs && playMs - s.prerollMs < 1000ull * 3600 * 24 * 365) {
    seconds = (playMs - s.prerollMs) / 1000;
  } else {
    uint64_t audioBytes = s.fileLength > endOfHeader ? s.fileLength - endOfHeader : 0;
    seconds = audioBytes * 8 / s.maxBitRate;
  }
  out.durationText = DurationText(static_cast<int>(std::min<uint64_t>(seconds, INT32_MAX)));
  out.codecText = s.codecName;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%u %s", s.channels, s.channels == 1 ? "Mono" : "Stereo");
  out.channelsText = fromUtf8(buf);
  std::snprintf(buf, sizeof buf, "%u kbps", s.averageBytes * 8 / 1000);
  out.bitRateText = fromUtf8(buf);
  out.sampleRate = static_cast<int32_t>(s.sampleRate);
  out.fileSize = static_cast<int32_t>(std::min<uint64_t>(s.fileLength, INT32_MAX));
  out.title = s.title;
  out.artist = s.author;
  out.album = s.album;
  out.genre = s.genre;
  out.comment = s.description;
  out.lyrics = s.lyrics;
  out.year = leadingNumber(s.year);
  out.track = s.track;
  out.tagFound = s.tags;
  return true;
}

}  // namespace tamber::media
