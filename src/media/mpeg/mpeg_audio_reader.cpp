#include "media/mpeg/mpeg_audio_reader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "media/media.h"
#include "media/text_util.h"

namespace tamber::media {

namespace {

// Bit rates in kbps by index 1-14: ISO/IEC 11172-3 (MPEG 1, one table per
// layer) and ISO/IEC 13818-3 (MPEG 2 and 2.5: layer I, then II and III).
constexpr int kRates1[3][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}};
constexpr int kRates2[2][15] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
constexpr int kSampleRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

constexpr const char* kChannelModes[4] = {"Stereo", "Joint Stereo", "Dual Channel", "Single Channel"};

// The first frame must start within this many bytes of where the search starts.
constexpr uint64_t kSearchWindow = 204800;
// Bytes that are all zero this far hold no stream: the search gives up.
constexpr uint64_t kZeroWindow = 32768;

constexpr const char* kGenres[126] = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno",
    "Industrial", "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno",
    "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental",
    "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "AlternRock", "Bass", "Soul",
    "Punk", "Space", "Meditative", "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic",
    "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream",
    "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle",
    "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave", "Showtunes", "Trailer",
    "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll",
    "Hard Rock", "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin",
    "Revival", "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock",
    "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening",
    "Acoustic", "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony",
    "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba",
    "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock",
    "Drum Solo", "Acapella", "Euro-House", "Dance Hall"};

std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

uint32_t be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint32_t synchsafe(const uint8_t* p) {
  return uint32_t{p[0] & 0x7Fu} << 21 | uint32_t{p[1] & 0x7Fu} << 14 | uint32_t{p[2] & 0x7Fu} << 7 |
         (p[3] & 0x7Fu);
}

// The leading integer of a text ("3/12" gives 3), 0 when there is none.
long leadingInt(const std::u16string& s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
  bool negative = i < s.size() && s[i] == u'-';
  if (negative || (i < s.size() && s[i] == u'+')) ++i;
  long v = 0;
  for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9' && v < 100000000; ++i) v = v * 10 + (s[i] - u'0');
  return negative ? -v : v;
}

std::string formatVersion(double v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

// Trailing blanks and zero bytes of a fixed ID3v1 field go.
std::u16string id3v1Text(const uint8_t* p, size_t n) {
  std::string s(reinterpret_cast<const char*>(p), n);
  auto nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return fromCodePage(s);
}

}  // namespace

bool MpegAudioReader::decodeHeader(uint32_t h, FrameInfo& f) {
  if ((h & 0xFFE00000u) != 0xFFE00000u) return false;
  uint32_t version = (h >> 19) & 3, layer = (h >> 17) & 3, rate = (h >> 12) & 15,
           sampling = (h >> 10) & 3, emphasis = h & 3;
  if (version == 1 || layer == 0 || rate == 0 || rate == 15 || sampling == 3 || emphasis == 2) {
    return false;
  }
  int v = version == 3 ? 0 : version == 2 ? 1 : 2;  // MPEG 1, 2, 2.5
  f.version = v == 0 ? 1 : v == 1 ? 2 : 2.5;
  f.layer = 4 - static_cast<int>(layer);
  f.bitrateKbps = v == 0 ? kRates1[f.layer - 1][rate] : kRates2[f.layer == 1 ? 0 : 1][rate];
  f.sampleRate = kSampleRates[v][sampling];
  f.padding = (h >> 9) & 1;
  f.channelMode = (h >> 6) & 3;
  if (f.layer == 1) {
    f.frameLength = (12000 * f.bitrateKbps / f.sampleRate + f.padding) * 4;
    f.samplesPerFrame = 384;
  } else {
    f.frameLength = (v == 0 ? 144000 : 72000) * f.bitrateKbps / f.sampleRate + f.padding;
    f.samplesPerFrame = v == 0 ? 1152 : 576;
  }
  return true;
}

std::u16string MpegAudioReader::genreName(int number) {
  if (number < 0 || number > 125) return u"not supported";
  return u16(kGenres[number]);
}

std::u16string MpegAudioReader::genreFromFrame(const std::u16string& text) {
  std::u16string result;
  size_t p = 0;
  while (true) {
    size_t open = text.find(u'(', p);
    if (open == std::u16string::npos) {
      result += u" " + text.substr(p);
      break;
    }
    size_t close = text.find(u')', open + 1);
    if (close == std::u16string::npos) {
      result += u" " + text.substr(open);
      break;
    }
    std::u16string inside = text.substr(open + 1, close - open - 1);
    long n = leadingInt(inside);
    bool digits = !inside.empty() && inside[0] >= u'0' && inside[0] <= u'9';
    if (n >= 1 && n <= 125) {
      result = genreName(static_cast<int>(n));
    } else if (n != 0) {
      result = u"not supported";
    } else if (digits && inside[0] == u'0') {
      result = u"Blues";
    } else {
      result = u"(" + inside + u")";
    }
    p = close + 1;
  }
  size_t b = result.find_first_not_of(u" \t\r\n");
  size_t e = result.find_last_not_of(u" \t\r\n");
  return b == std::u16string::npos ? std::u16string() : result.substr(b, e - b + 1);
}

// ---------------------------------------------------------------------------

struct MpegAudioReader::State {
  explicit State(const MediaFile& f) : file(f), audioBytes(static_cast<int64_t>(f.size())) {}
  const MediaFile& file;
  uint32_t header = 0;
  FrameInfo first;
  int64_t audioBytes;
  int sampleRate = 0;
  int durationSeconds = 0;
  int bitRateKbps = 0;
  bool isVbr = false;
  bool vbrComputed = false;
  struct {
    bool present = false;
    bool variable = false;  // "Xing"; "Info" is the constant-rate form
    bool mpeg1 = false;
    uint32_t flags = 0;
    bool framesKnown = false;
    uint32_t frames = 0;
    uint32_t bytes = 0;
  } xing;
  std::u16string codecText, title, artist, composer, album, yearText, isrc, genre, comment, lyrics;
  int track = 0;
  uint8_t tagVersion = 255;
  bool tagFound = false;

  bool firstFrameSearch(uint64_t start);
  void readXing(uint64_t frameStart);
  int averageBitRate(uint64_t afterHeader, int length, bool overPresent);
  bool id3v1Pass();
  void lyrics3(const uint8_t* tail15);
  void readLyricsBlock(uint64_t start, uint64_t length, bool version2);
  bool id3v2Pass();
  void frame(const std::string& id, const uint8_t* data, size_t n, std::u16string& tdrc);
};

bool MpegAudioReader::State::firstFrameSearch(uint64_t start) {
  // Headers are tested in 4-byte steps from the start; the bytes come in
  // windows so that the search costs a read or two, not one per step.
  std::vector<uint8_t> window;
  uint64_t windowStart = start;
  bool onlyZeros = true;
  for (uint64_t pos = start; pos <= start + kSearchWindow; pos += 4) {
    if (pos + 4 > windowStart + window.size()) {
      // A file of zeros (a failed copy) is not searched to the window's end.
      if (onlyZeros && pos - start >= kZeroWindow) return false;
      windowStart = pos;
      window.resize(16384);
      window.resize(file.read(pos, window.data(), window.size()));
      if (window.size() < 4) return false;  // end of file
      onlyZeros = onlyZeros && std::all_of(window.begin(), window.end(), [](uint8_t b) { return b == 0; });
    }
    FrameInfo f;
    uint32_t h = be32(window.data() + (pos - windowStart));
    if (!decodeHeader(h, f)) continue;
    header = h;
    first = f;
    sampleRate = f.sampleRate;
    readXing(pos);
    codecText = u16("MPEG " + formatVersion(f.version) + " Layer " + std::string(f.layer, 'I'));
    if (vbrComputed) return true;
    bitRateKbps = f.bitrateKbps;
    durationSeconds = static_cast<int>((audioBytes * 8 / 1000) / bitRateKbps);
    isVbr = xing.present && xing.variable;
    if (xing.present && xing.framesKnown) {
      durationSeconds = static_cast<int>(uint64_t{xing.frames} * static_cast<uint64_t>(f.samplesPerFrame) /
                                         static_cast<uint64_t>(f.sampleRate));
      // An "Info" header marks a constant rate: the first frame's holds.
      // A variable rate is the stream's bytes over its duration when the
      // header counts them (the header's own frame left out, as the walk
      // leaves it out); only without that count are the frames walked, a
      // read of the whole file.
      // A file cut short (a broken download) holds fewer bytes than its
      // header counts: the average is then that of the frames present.
      const bool cut = (xing.flags & 2) && xing.bytes > file.size() - pos;
      if (xing.variable && cut) {
        bitRateKbps = averageBitRate(pos + 4, f.frameLength, true);
      } else if (xing.variable && (xing.flags & 2) && xing.bytes > static_cast<uint32_t>(f.frameLength)) {
        double seconds = static_cast<double>(xing.frames) * f.samplesPerFrame / f.sampleRate;
        bitRateKbps = static_cast<int>((xing.bytes - static_cast<uint32_t>(f.frameLength)) * 8.0 / seconds / 1000 + 0.5);
      } else if (xing.variable) {
        bitRateKbps = averageBitRate(pos + 4, f.frameLength, false);
      }
      vbrComputed = true;
    }
    return true;
  }
  return false;
}

void MpegAudioReader::State::readXing(uint64_t frameStart) {
  xing = {};
  uint8_t b[136] = {};
  if (file.read(frameStart, b, sizeof b) < 40) return;
  bool mpeg1 = (b[1] >> 3) & 1;
  bool mono = b[3] >= 192;
  size_t off = mpeg1 ? (mono ? 21 : 36) : (mono ? 13 : 21);
  const uint8_t* t = b + off;
  std::string_view tag(reinterpret_cast<const char*>(t), 4);
  if (tag != "Xing" && tag != "Info") return;
  xing.present = true;
  xing.variable = tag == "Xing";
  xing.mpeg1 = mpeg1;
  xing.flags = be32(t + 4);
  size_t p = off + 8;
  if (xing.flags & 1) {
    xing.frames = be32(b + p);
    xing.framesKnown = xing.frames != 0 && xing.frames != 0xFFFFFFFFu;
    p += 4;
  }
  if (xing.flags & 2) xing.bytes = be32(b + p);
}

int MpegAudioReader::State::averageBitRate(uint64_t pos, int length, bool overPresent) {
  // Frame by frame through the file in 64 KiB windows; each step lands on
  // where the next header should be. The sum goes over the header's frame
  // count, or over the frames found (`overPresent`).
  uint64_t sum = 0, found = 0;
  std::vector<uint8_t> window(65536);
  uint64_t windowStart = 0, windowEnd = 0;
  uint64_t end = file.size() >= 3 ? file.size() - 3 : 0;
  while (pos < end) {
    pos += static_cast<uint64_t>(length - 4);
    if (pos + 4 > windowEnd || pos < windowStart) {
      windowStart = pos;
      windowEnd = pos + file.read(pos, window.data(), window.size());
    }
    if (pos + 4 > windowEnd) break;
    uint32_t h = be32(window.data() + (pos - windowStart));
    pos += 4;
    FrameInfo f;
    if (decodeHeader(h, f)) {
      length = f.frameLength;
      sum += static_cast<uint64_t>(f.bitrateKbps);
      ++found;
    }
  }
  if (overPresent) return found == 0 ? first.bitrateKbps : static_cast<int>(static_cast<double>(sum) / found + 0.5);
  return static_cast<int>(static_cast<double>(sum) / xing.frames + 0.5);
}

bool MpegAudioReader::State::id3v1Pass() {
  if (!firstFrameSearch(0)) return false;
  uint64_t size = file.size();
  if (size < 128) return true;
  uint8_t tail[143] = {};
  size_t tailLen = static_cast<size_t>(std::min<uint64_t>(143, size));
  file.read(size - tailLen, tail + (143 - tailLen), tailLen);
  const uint8_t* area = tail + 15;
  if (std::memcmp(area, "TAG", 3) != 0) return true;
  audioBytes -= 128;
  if (title.empty()) title = id3v1Text(area + 3, 30);
  if (artist.empty()) artist = id3v1Text(area + 33, 30);
  if (album.empty()) album = id3v1Text(area + 63, 30);
  if (yearText.empty()) yearText = id3v1Text(area + 93, 4);
  size_t commentLen = 30;
  if (area[125] == 0 && area[126] != 0) {
    tagVersion = 1;
    commentLen = 28;
    if (track == 0) track = area[126];
  } else {
    tagVersion = 0;
  }
  if (comment.empty()) comment = scrubbed(id3v1Text(area + 97, commentLen));
  // Genre byte 255 is how taggers write "no genre".
  if (genre.empty() && area[127] != 255) genre = genreName(area[127]);
  tagFound = true;
  if (lyrics.empty() && size >= 143) lyrics3(tail);
  return true;
}

void MpegAudioReader::State::readLyricsBlock(uint64_t start, uint64_t length, bool version2) {
  // A block that would start before the file or run past it counts as absent.
  if (length < 11 || start > file.size() || length > file.size() - start) return;
  audioBytes -= static_cast<int64_t>(length);
  std::vector<uint8_t> block(static_cast<size_t>(length));
  if (file.read(start, block.data(), block.size()) < block.size()) return;
  if (std::memcmp(block.data(), "LYRICSBEGIN", 11) != 0) return;
  if (!version2) {
    size_t n = std::min<size_t>(5080, block.size() - 11);
    lyrics = scrubbed(fromCodePage(std::string_view(reinterpret_cast<char*>(block.data()) + 11, n)));
    return;
  }
  for (size_t p = 11; p + 8 <= block.size();) {
    std::string id(reinterpret_cast<char*>(block.data()) + p, 3);
    std::string digits(reinterpret_cast<char*>(block.data()) + p + 3, 5);
    char* endp = nullptr;
    long fieldSize = std::strtol(digits.c_str(), &endp, 10);
    if (endp == digits.c_str() || fieldSize < 0) break;
    p += 8;
    if (static_cast<size_t>(fieldSize) > block.size() - p) break;  // runs past the block
    if (id == "LYR") {
      lyrics = scrubbed(fromCodePage(
          std::string_view(reinterpret_cast<char*>(block.data()) + p, static_cast<size_t>(fieldSize))));
    }
    p += static_cast<size_t>(fieldSize);
  }
}

void MpegAudioReader::State::lyrics3(const uint8_t* t) {
  uint64_t size = file.size();
  auto leadingSize = [](const uint8_t* p) {
    std::string d(reinterpret_cast<const char*>(p), 6);
    return static_cast<uint64_t>(std::max(0L, std::strtol(d.c_str(), nullptr, 10)));
  };
  if (std::memcmp(t + 6, "LYRICSEND", 9) == 0) {
    if (size >= 5228) readLyricsBlock(size - 5228, 5100, false);
    return;
  }
  if (std::memcmp(t + 6, "LYRICS200", 9) == 0) {
    uint64_t n = leadingSize(t);
    if (n + 143 <= size) readLyricsBlock(size - (n + 143), n + 15, true);
    return;
  }
  // The marker may stand elsewhere in the 15 bytes when the block ends the file.
  char text[16] = {};
  std::memcpy(text, t, 15);
  size_t len = std::strlen(text);
  if (len < 11) return;
  std::string marker(text + len - 10, 9);
  if (marker == "LYRICSEND") {
    if (size >= 5100) readLyricsBlock(size - 5100, 5100, false);
  } else if (marker == "LYRICS200") {
    uint64_t n = leadingSize(t);
    if (n + 15 <= size) readLyricsBlock(size - (n + 15), n + 15, true);
  }
}

namespace {

// The whole text of a frame body in its encoding: 0 the code page, 1 UTF-16
// after a byte-order mark, 2 UTF-16 big-endian, 3 UTF-8. Zeros are kept.
std::u16string decodeBody(uint8_t enc, std::string_view body) {
  auto byte = [&](size_t i) { return static_cast<uint8_t>(body[i]); };
  if (enc == 1) {
    if (body.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) return fromUtf16(body.substr(2), false, false);
    if (body.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) return fromUtf16(body.substr(2), true, false);
    return fromCodePage(body, false);
  }
  if (enc == 2) return fromUtf16(body, true, false);
  if (enc == 3) return fromUtf8(body, false);
  return fromCodePage(body, false);
}

// The text of a frame: encoding byte, then the text up to its terminator, or
// with `zerosAsBlanks` all of it with every zero a blank (the several values
// of a version 2.4 frame).
std::u16string frameText(const uint8_t* d, size_t n, bool zerosAsBlanks = false) {
  if (n < 1) return {};
  std::u16string text =
      decodeBody(d[0], std::string_view(reinterpret_cast<const char*>(d) + 1, n - 1));
  if (zerosAsBlanks) {
    std::replace(text.begin(), text.end(), u'\0', u' ');
  } else if (auto z = text.find(u'\0'); z != std::u16string::npos) {
    text.resize(z);
  }
  return text;
}

// The text of a "COMM"/"USLT" frame: encoding, language, a content
// descriptor up to its terminator, then the text.
std::u16string describedText(const uint8_t* d, size_t n) {
  if (n < 5) return {};
  uint8_t enc = d[0];
  size_t p = 4;
  if (enc == 1 || enc == 2) {
    while (p + 1 < n && !(d[p] == 0 && d[p + 1] == 0)) p += 2;
    p += 2;
  } else {
    while (p < n && d[p] != 0) ++p;
    p += 1;
  }
  if (p >= n) return {};
  std::string body(reinterpret_cast<const char*>(d) + p, n - p);
  if (enc == 1) {
    bool be = body.size() >= 2 && static_cast<uint8_t>(body[0]) == 0xFE && static_cast<uint8_t>(body[1]) == 0xFF;
    bool bom = be || (body.size() >= 2 && static_cast<uint8_t>(body[0]) == 0xFF &&
                      static_cast<uint8_t>(body[1]) == 0xFE);
    return fromUtf16(std::string_view(body).substr(bom ? 2 : 0), be);
  }
  if (enc == 2) return fromUtf16(body, true);
  if (enc == 3) return fromUtf8(body);
  return fromCodePage(body);
}

bool plausibleFrameStart(const uint8_t* p, size_t avail, size_t idLen) {
  if (avail == 0) return true;  // exactly the end of the tag
  if (p[0] == 0) return true;   // padding
  if (avail < idLen) return false;
  for (size_t i = 0; i < idLen; ++i) {
    bool ok = (p[i] >= 'A' && p[i] <= 'Z') || (p[i] >= '0' && p[i] <= '9');
    if (!ok) return false;
  }
  return true;
}

}  // namespace

void MpegAudioReader::State::frame(const std::string& id, const uint8_t* d, size_t n,
                                   std::u16string& tdrc) {
  if (id == "TIT2" || id == "TT2") {
    title = frameText(d, n);
  } else if (id == "TPE1" || id == "TP1") {
    artist = frameText(d, n);
  } else if (id == "TCOM" || id == "TCM") {
    composer = frameText(d, n);
  } else if (id == "TALB" || id == "TAL") {
    album = frameText(d, n);
  } else if (id == "TRCK" || id == "TRK") {
    track = static_cast<int>(leadingInt(frameText(d, n)));
  } else if (id == "TSRC" || id == "TRC") {
    isrc = frameText(d, n);
  } else if (id == "TYER" || id == "TYE") {
    yearText = frameText(d, n);
  } else if (id == "TDRC") {
    tdrc = frameText(d, n);
  } else if (id == "TFLT" || id == "TFT") {
    static constexpr std::pair<const char*, const char*> kTypes[] = {
        {"MPG", "MPEG Audio"},
        {"/1", "MPEG %g layer I"},
        {"/2", "MPEG %g layer II"},
        {"/3", "MPEG %g layer III"},
        {"/2.5", "MPEG 2.5"},
        {"/AAC", "Advanced audio compression"},
        {"VQF", "Transform-domain Weighted Interleave Vector Quantization"},
        {"PCM", "Pulse Code Modulated audio"}};
    codecText = u"MPEG Audio";
    std::u16string t = frameText(d, n);
    for (const auto& [code, text] : kTypes) {
      if (t != u16(code)) continue;
      std::string s = text;
      auto at = s.find("%g");
      if (at != std::string::npos) s.replace(at, 2, formatVersion(first.version));
      codecText = u16(s);
      break;
    }
  } else if (id == "TLEN" || id == "TLE") {
    durationSeconds = static_cast<int>(leadingInt(frameText(d, n)) / 1000);
  } else if (id == "USLT" || id == "ULT") {
    lyrics = scrubbed(describedText(d, n));
  } else if (id == "COMM" || id == "COM") {
    comment = scrubbed(describedText(d, n));
  } else if (id == "TCON" || id == "TCO") {
    genre = genreFromFrame(frameText(d, n, true));
  }
}

bool MpegAudioReader::State::id3v2Pass() {
  uint8_t h[10];
  if (file.read(0, h, 10) < 10 || std::memcmp(h, "ID3", 3) != 0) return false;
  uint8_t major = h[3], revision = h[4], flags = h[5];
  if (major == 255 || revision == 255 || (h[6] | h[7] | h[8] | h[9]) & 0x80) return false;
  uint64_t content = uint64_t{synchsafe(h + 6)} + 10;
  uint64_t tagBytes = content + ((flags & 0x10) ? 10 : 0);
  // A size beyond the file is not a tag.
  if (tagBytes > file.size()) return false;
  audioBytes -= static_cast<int64_t>(tagBytes);
  if (major < 2 || major > 4) return false;
  tagVersion = static_cast<uint8_t>(major + 1);
  std::vector<uint8_t> tag(static_cast<size_t>(tagBytes));
  if (file.read(0, tag.data(), tag.size()) < tag.size()) return false;
  if (!firstFrameSearch(tagBytes)) return false;
  const size_t idLen = major == 2 ? 3 : 4;
  const size_t headerLen = major == 2 ? 6 : 10;
  const size_t end = static_cast<size_t>(content);
  std::u16string tdrc;
  bool sawYear = false;
  for (size_t p = 10; p + headerLen <= end;) {
    const uint8_t* f = tag.data() + p;
    size_t size;
    if (major == 2) {
      size = size_t{f[3]} << 16 | size_t{f[4]} << 8 | f[5];
    } else if (major == 3) {
      size = be32(f + 4);
    } else {
      // Version 2.4 sizes are synchsafe; some taggers wrote plain numbers.
      // The plain reading is taken only where it lands on a frame and the
      // synchsafe one does not.
      size_t safe = synchsafe(f + 4), plain = be32(f + 4);
      size = safe;
      bool safeValid = !((f[4] | f[5] | f[6] | f[7]) & 0x80);
      auto landsWell = [&](size_t s) {
        size_t next = p + headerLen + s;
        return next <= end && plausibleFrameStart(tag.data() + next, end - next, idLen);
      };
      if (safe != plain && (!safeValid || !landsWell(safe)) && landsWell(plain)) size = plain;
    }
    if (size > end || p + headerLen + size > end) break;
    std::string id(reinterpret_cast<const char*>(f), idLen);
    if (id == "TYER" || id == "TYE") sawYear = true;
    frame(id, f + headerLen, size, tdrc);
    p += headerLen + size;
  }
  // Version 2.4 keeps the year in "TDRC".
  if (!sawYear && tdrc.size() >= 4) {
    bool digits = true;
    for (size_t i = 0; i < 4; ++i) digits &= tdrc[i] >= u'0' && tdrc[i] <= u'9';
    if (digits) yearText = tdrc.substr(0, 4);
  }
  tagFound = true;
  return true;
}

bool MpegAudioReader::open(const std::string& path, AudioValues& out) {
  MediaFile file(path, cache_);
  if (!file.ok()) return false;
  State s(file);
  bool v1 = s.id3v1Pass();
  bool v2 = s.id3v2Pass();
  if (!v1 && !v2) return false;
  out = AudioValues{};
  out.codecText = s.codecText;
  out.channelsText = u16(kChannelModes[s.first.channelMode]);
  char buf[64];
  if (s.isVbr) {
    std::snprintf(buf, sizeof buf, "%d kbps(VBR) %d frames", s.bitRateKbps,
                  s.xing.framesKnown ? static_cast<int>(s.xing.frames) : 0);
  } else {
    std::snprintf(buf, sizeof buf, "%d kbps", s.bitRateKbps);
  }
  out.bitRateText = u16(buf);
  out.durationText = DurationText(s.durationSeconds);
  out.sampleRate = s.sampleRate;
  out.fileSize = static_cast<int32_t>(std::clamp<int64_t>(s.audioBytes, 0, INT32_MAX));
  out.lyrics = s.lyrics;
  out.track = s.track;
  out.tagFound = s.tagFound;
  out.title = s.title;
  out.artist = s.artist;
  out.album = s.album;
  out.genre = s.genre;
  out.comment = s.comment;
  out.year = static_cast<int32_t>(leadingInt(s.yearText));
  return true;
}

}  // namespace tamber::media
