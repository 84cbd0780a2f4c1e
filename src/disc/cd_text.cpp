#include "disc/cd_text.h"

#include "platform/text.h"

namespace tamber::disc {

namespace {

// A CD has at most 99 tracks; item 0 is the disc.
constexpr size_t kMaxItems = 100;

std::string* slot(CdText& text, int type, size_t index) {
  if (index >= kMaxItems) return nullptr;
  if (index > 0 && text.tracks.size() < index) text.tracks.resize(index);
  CdTextItems& items = index == 0 ? text.disc : text.tracks[index - 1];
  switch (type) {
    case 0x80: return &items.title;
    case 0x81: return &items.performer;
    case 0x82: return &items.songwriter;
    case 0x83: return &items.composer;
    case 0x8E: return &items.code;
    default: return nullptr;
  }
}

std::string latin1(std::string_view bytes) {
  std::string out;
  for (unsigned char b : bytes) appendUtf8(out, b);
  return out;
}

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

bool CdText::empty() const {
  auto blank = [](const CdTextItems& i) {
    return i.title.empty() && i.performer.empty() && i.songwriter.empty() && i.composer.empty() && i.code.empty();
  };
  if (!blank(disc) || !genre.empty()) return false;
  for (const auto& t : tracks) {
    if (!blank(t)) return false;
  }
  return true;
}

CdText decodeCdText(std::string_view packs) {
  CdText text;
  // Streams: consecutive packs of one type and block, their text bytes
  // joined; a zero byte ends an item.
  int streamType = -1;
  std::string stream;
  auto flush = [&] {
    if (streamType < 0) return;
    if (streamType == 0x87) {
      // Two bytes of genre code, then the genre's name.
      if (stream.size() > 2) {
        std::string name = stream.substr(2);
        name = name.substr(0, name.find('\0'));
        text.genre = trimmed(latin1(name));
      }
    } else {
      size_t index = 0;
      std::string previous;
      for (size_t from = 0; from < stream.size() && index < kMaxItems; ++index) {
        size_t end = stream.find('\0', from);
        if (end == std::string::npos) end = stream.size();
        std::string item = latin1(std::string_view(stream).substr(from, end - from));
        if (item == "\t") item = previous;  // the same as the item before
        if (std::string* field = slot(text, streamType, index)) *field = item;
        previous = std::move(item);
        from = end + 1;
      }
    }
    stream.clear();
    streamType = -1;
  };
  for (size_t at = 0; at + kCdTextPackSize <= packs.size(); at += kCdTextPackSize) {
    auto type = static_cast<unsigned char>(packs[at]);
    auto flags = static_cast<unsigned char>(packs[at + 3]);
    int block = flags >> 4 & 0x07;
    bool doubleByte = (flags & 0x80) != 0;
    if (type < 0x80 || type > 0x8F || block != 0 || doubleByte) {
      flush();
      continue;
    }
    if (static_cast<int>(type) != streamType) flush();
    streamType = type;
    stream.append(packs.substr(at + 4, 12));
  }
  flush();
  // Tracks with no text at all past the last named one are not kept.
  while (!text.tracks.empty()) {
    const CdTextItems& t = text.tracks.back();
    if (!t.title.empty() || !t.performer.empty() || !t.songwriter.empty() || !t.composer.empty() ||
        !t.code.empty()) {
      break;
    }
    text.tracks.pop_back();
  }
  return text;
}

std::string discArtist(const CdText& text) {
  if (!text.disc.performer.empty()) return text.disc.performer;
  std::string same;
  for (const auto& t : text.tracks) {
    if (t.performer.empty()) continue;
    if (same.empty()) {
      same = t.performer;
    } else if (same != t.performer) {
      return "Various";
    }
  }
  return same;
}

}  // namespace tamber::disc
