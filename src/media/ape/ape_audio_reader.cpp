#include "media/ape/ape_audio_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "media/media.h"
#include "media/mpeg/mpeg_audio_reader.h"
#include "media/text_util.h"

namespace tamber::media {

namespace {

// Values above this many bytes are passed over.
constexpr uint32_t kMaxValueBytes = 128;
// A tag larger than this is not believed.
constexpr uint32_t kMaxTagBytes = 16 << 20;

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }


// An .apl link file: "Image File=NAME" names the audio file.
std::string linkedFile(const std::string& path, const MediaFile& file) {
  uint64_t size = file.size();
  if (size > 64 * 1024) return {};
  std::string text(static_cast<size_t>(size), '\0');
  if (!file.readAll(0, text.data(), text.size())) return {};
  if (text.find("[Monkey's Audio Image Link File]") == std::string::npos) return {};
  size_t at = text.find("Image File=");
  if (at == std::string::npos) return {};
  std::string name = text.substr(at + 11, text.find_first_of("\r\n", at) - at - 11);
  std::replace(name.begin(), name.end(), '\\', '/');
  if (name.empty()) return {};
  // A descriptor handed over as /proc/self/fd/N stands for the file it opened.
  std::error_code ec;
  std::filesystem::path self(path);
  if (path.rfind("/proc/self/fd/", 0) == 0) self = std::filesystem::read_symlink(path, ec);
  std::filesystem::path linked(name);
  if (linked.is_relative()) linked = self.parent_path() / linked;
  return std::filesystem::is_regular_file(linked, ec) ? linked.string() : std::string();
}


}  // namespace

bool readApeInfo(const MediaFile& file, ApeInfo& info) {
  uint64_t size = file.size();
  uint8_t head[76] = {};
  if (size < 32 || !file.readAll(0, head, std::min<uint64_t>(size, sizeof head))) return false;
  if (std::memcmp(head, "MAC ", 4) != 0) return false;
  info = ApeInfo{};
  info.version = le16(head + 4);
  info.totalBytes = size;
  uint32_t totalFrames = 0, finalFrameBlocks = 0, blocksPerFrame = 0;
  if (info.version >= 3980) {
    // A descriptor, then the header where the descriptor says.
    uint32_t descriptorBytes = le32(head + 8);
    uint8_t h[24];
    if (descriptorBytes < 52 || descriptorBytes > size || !file.readAll(descriptorBytes, h, sizeof h)) return false;
    info.compressionLevel = le16(h);
    blocksPerFrame = le32(h + 4);
    finalFrameBlocks = le32(h + 8);
    totalFrames = le32(h + 12);
    info.bitsPerSample = le16(h + 16);
    info.channels = le16(h + 18);
    info.sampleRate = static_cast<int>(le32(h + 20));
  } else {
    // The older single header.
    info.compressionLevel = le16(head + 6);
    uint16_t flags = le16(head + 8);
    info.channels = le16(head + 10);
    info.sampleRate = static_cast<int>(le32(head + 12));
    totalFrames = le32(head + 24);
    finalFrameBlocks = le32(head + 28);
    info.bitsPerSample = (flags & 0x01) ? 8 : (flags & 0x08) ? 24 : 16;
    blocksPerFrame = info.version >= 3950                                        ? 73728 * 4
                     : info.version >= 3900 || (info.version >= 3800 && info.compressionLevel == 4000) ? 73728
                                                                                   : 9216;
  }
  if (info.channels < 1 || info.channels > 32 || info.sampleRate <= 0 || info.sampleRate > 1000000) return false;
  uint64_t blocks = totalFrames == 0 ? 0 : static_cast<uint64_t>(totalFrames - 1) * blocksPerFrame + finalFrameBlocks;
  info.lengthMs = static_cast<int64_t>(blocks * 1000 / static_cast<uint64_t>(info.sampleRate));
  info.averageBitRate = info.lengthMs > 0 ? static_cast<double>(info.totalBytes) * 8.0 / static_cast<double>(info.lengthMs)
                                          : 0;
  return true;
}

bool readApeTag(const MediaFile& file, ApeTag& tag) {
  uint64_t size = file.size();
  tag = ApeTag{};
  uint8_t id3[128];
  bool hasId3 = size >= 128 && file.readAll(size - 128, id3, 128) && std::memcmp(id3, "TAG", 3) == 0;
  uint64_t end = size - (hasId3 ? 128 : 0);
  uint8_t footer[32];
  if (end >= 32 && file.readAll(end - 32, footer, 32) && std::memcmp(footer, "APETAGEX", 8) == 0) {
    uint32_t version = le32(footer + 8), tagBytes = le32(footer + 12), count = le32(footer + 16);
    if ((version == 1000 || version == 2000) && tagBytes >= 32 && tagBytes <= end && tagBytes <= kMaxTagBytes) {
      std::string items(tagBytes - 32, '\0');
      if (file.readAll(end - tagBytes, items.data(), items.size())) {
        tag.version = static_cast<int>(version);
        size_t at = 0;
        for (uint32_t i = 0; i < count && at + 8 < items.size(); ++i) {
          uint32_t valueBytes = le32(reinterpret_cast<const uint8_t*>(items.data() + at));
          size_t nameEnd = items.find('\0', at + 8);
          if (nameEnd == std::string::npos || valueBytes > items.size() - nameEnd - 1) break;
          ApeTagItem item;
          item.name = items.substr(at + 8, nameEnd - at - 8);
          item.value = items.substr(nameEnd + 1, valueBytes);
          tag.items.push_back(std::move(item));
          at = nameEnd + 1 + valueBytes;
        }
        return true;
      }
    }
  }
  if (!hasId3) return false;
  // The ID3v1 fields as items of the same names.
  tag.version = -1;
  auto field = [&](const char* name, size_t at, size_t n) {
    std::string v(reinterpret_cast<const char*>(id3 + at), n);
    v = v.substr(0, v.find('\0'));
    while (!v.empty() && v.back() == ' ') v.pop_back();
    if (!v.empty()) tag.items.push_back({name, v});
  };
  field("Title", 3, 30);
  field("Artist", 33, 30);
  field("Album", 63, 30);
  field("Year", 93, 4);
  bool v11 = id3[125] == 0 && id3[126] != 0;
  field("Comment", 97, v11 ? 28 : 30);
  if (v11) tag.items.push_back({"Track", std::to_string(id3[126])});
  if (id3[127] < 126) tag.items.push_back({"Genre", toUtf8(MpegAudioReader::genreName(id3[127]))});
  return true;
}

bool ApeAudioReader::open(const std::string& path, AudioValues& out) {
  auto file = std::make_unique<MediaFile>(path, cache_);
  if (!file->ok()) return false;
  ApeInfo info;
  if (!readApeInfo(*file, info)) {
    // A link file stands for the file it names, when that exists.
    std::string linked = linkedFile(path, *file);
    file.reset();
    if (linked.empty()) return false;
    file = std::make_unique<MediaFile>(linked, cache_);
    if (!file->ok() || !readApeInfo(*file, info)) return false;
  }
  ApeTag tag;
  bool tagged = readApeTag(*file, tag);
  file.reset();

  out = AudioValues{};
  char buf[64];
  std::snprintf(buf, sizeof buf, "Monkey's Audio %.2f", info.version / 1000.0);
  out.codecText = fromUtf8(buf);
  switch (info.compressionLevel) {
    case 1000: out.compressionText = u"Fast"; break;
    case 2000: out.compressionText = u"Normal"; break;
    case 3000: out.compressionText = u"High"; break;
    case 4000: out.compressionText = u"Extra High"; break;
    default: break;
  }
  std::snprintf(buf, sizeof buf, "%.1f kbps", info.averageBitRate);
  out.bitRateText = fromUtf8(buf);
  out.durationText = DurationText(static_cast<int>(std::min<int64_t>(info.lengthMs / 1000, INT32_MAX)));
  out.sampleRate = info.sampleRate;
  out.fileSize = static_cast<int32_t>(std::min<uint64_t>(info.totalBytes, INT32_MAX));
  out.track = 0;
  if (tagged) {
    for (const auto& item : tag.items) {
      if (item.value.size() > kMaxValueBytes) continue;
      std::u16string value;
      if (tag.version == 2000) {
        std::u16string text = fromUtf8(item.value, false);
        if (text.size() > kMaxValueBytes) text.resize(kMaxValueBytes);
        value = trimmed(scrubbed(text, u' '));
      } else {
        // 8-bit text: from the code page first, then the scrub, so that
        // accented letters survive it (an 8-bit scrub takes them for broken
        // UTF-8).
        value = trimmed(scrubbed(fromCodePage(item.value, false), u' '));
      }
      if (value.empty()) continue;
      out.tagFound = true;
      const std::string& n = item.name;
      if (n == "Title") out.title = value;
      else if (n == "Artist") out.artist = value;
      else if (n == "Album") out.album = value;
      else if (n == "Genre") out.genre = value;
      else if (n == "Comment") out.comment = value;
      else if (n == "Lyrics") out.lyrics = value;
      else if (n == "Year") out.year = leadingNumber(value);
      else if (n == "Track") out.track = leadingNumber(value);
      else {
        out.otherTags += fromUtf8(n, false) + u" = " + value + u" \n";
      }
    }
  }
  return true;
}

}  // namespace tamber::media
