#include "disc/toc.h"

#include <cstdio>

#include "platform/digest.h"

namespace tamber::disc {

namespace {

constexpr int kLeadoutNumber = 0xAA;
// The gap between the audio session and the data session of an enhanced CD,
// as the MusicBrainz id counts it.
constexpr uint32_t kSessionGapFrames = 11400;

Error damaged(const std::string& why) { return Error{Errc::corrupt, "the table of contents is damaged: " + why}; }

int digitSum(int n) {
  int sum = 0;
  for (; n > 0; n /= 10) sum += n % 10;
  return sum;
}

}  // namespace

Result<Toc> decodeToc(std::string_view answer) {
  auto byte = [&](size_t i) { return static_cast<uint8_t>(answer[i]); };
  if (answer.size() < 4) return damaged("the answer is shorter than its header");
  // The length field counts the bytes after itself.
  size_t length = (static_cast<size_t>(byte(0)) << 8 | byte(1)) + 2;
  if (length > answer.size()) return damaged("the answer is shorter than its length field");
  if (length < 4 || (length - 4) % 8 != 0) return damaged("the length field is not a whole number of entries");
  size_t entries = (length - 4) / 8;
  if (entries > static_cast<size_t>(kMaxTocEntries)) return damaged("more than 100 entries");
  Toc toc;
  toc.firstTrack = byte(2);
  toc.lastTrack = byte(3);
  if (toc.firstTrack < 1 || toc.lastTrack > 99 || toc.firstTrack > toc.lastTrack) {
    return damaged("tracks " + std::to_string(toc.firstTrack) + " to " + std::to_string(toc.lastTrack));
  }
  size_t count = static_cast<size_t>(toc.lastTrack - toc.firstTrack + 1);
  if (entries < count + 1) return damaged("fewer entries than tracks and the lead-out");
  for (size_t i = 0; i <= count; ++i) {
    size_t at = 4 + 8 * i;
    TocEntry e;
    e.adr = byte(at + 1) >> 4;
    e.control = byte(at + 1) & 0x0F;
    e.number = byte(at + 2);
    e.minute = byte(at + 5);
    e.second = byte(at + 6);
    e.frame = byte(at + 7);
    if (e.second > 59 || e.frame > 74) return damaged("an address that is no minute:second:frame");
    bool leadout = i == count;
    int want = leadout ? kLeadoutNumber : toc.firstTrack + static_cast<int>(i);
    if (e.number != want) return damaged("entry " + std::to_string(i + 1) + " is track " + std::to_string(e.number));
    if (!toc.tracks.empty() && e.frames() < toc.tracks.back().frames()) {
      return damaged("addresses that go backwards");
    }
    if (leadout) {
      toc.leadout = e;
    } else {
      toc.tracks.push_back(e);
    }
  }
  return toc;
}

std::string encodeToc(const Toc& toc) {
  std::string out;
  auto put = [&](int v) { out.push_back(static_cast<char>(v & 0xFF)); };
  size_t length = 2 + 8 * (toc.tracks.size() + 1);
  put(static_cast<int>(length >> 8));
  put(static_cast<int>(length));
  put(toc.firstTrack);
  put(toc.lastTrack);
  auto entry = [&](const TocEntry& e) {
    put(0);
    put(e.adr << 4 | e.control);
    put(e.number);
    put(0);
    put(0);
    put(e.minute);
    put(e.second);
    put(e.frame);
  };
  for (const auto& t : toc.tracks) entry(t);
  entry(toc.leadout);
  return out;
}

bool computeDiscIdentity(const Toc& toc, DiscIdentity& identity) {
  identity = DiscIdentity{};
  identity.trackCount = toc.lastTrack - toc.firstTrack + 1;
  bool audio = false;
  int n = 0;
  for (size_t i = 0; i < toc.tracks.size(); ++i) {
    const TocEntry& t = toc.tracks[i];
    // A data track has bit 2 of its control nibble set; audio tracks may
    // carry the copy-permitted and pre-emphasis bits.
    if (t.audio()) audio = true;
    identity.offsets += std::to_string(t.frames());
    if (i + 1 < toc.tracks.size()) identity.offsets += '+';
    n += digitSum(t.minute * 60 + t.second);
  }
  const TocEntry& first = toc.tracks.empty() ? toc.leadout : toc.tracks.front();
  int total = (toc.leadout.minute * 60 + toc.leadout.second) - (first.minute * 60 + first.second);
  identity.discId = static_cast<uint32_t>(n % 255) << 24 | static_cast<uint32_t>(total & 0xFFFF) << 8 |
                    static_cast<uint32_t>(identity.trackCount & 0xFF);
  identity.discSeconds = toc.leadout.minute * 60 + toc.leadout.second;
  if (!audio) identity.discId = 0;
  return audio;
}

std::string discIdText(uint32_t id) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", id);
  return text;
}

std::string musicBrainzDiscId(const Toc& toc) {
  if (toc.tracks.empty()) return {};
  int last = toc.lastTrack;
  uint32_t leadout = toc.leadout.frames();
  // An enhanced CD: the data session after the audio tracks is not counted.
  if (!toc.tracks.back().audio() && toc.tracks.size() > 1 && toc.tracks.front().audio()) {
    leadout = toc.tracks.back().frames() - kSessionGapFrames;
    --last;
  }
  bool anyAudio = false;
  for (const auto& t : toc.tracks) anyAudio = anyAudio || t.audio();
  if (!anyAudio) return {};
  char text[16];
  std::string hex;
  std::snprintf(text, sizeof text, "%02X", toc.firstTrack);
  hex += text;
  std::snprintf(text, sizeof text, "%02X", last);
  hex += text;
  std::snprintf(text, sizeof text, "%08X", leadout);
  hex += text;
  for (int i = 1; i <= 99; ++i) {
    uint32_t offset = 0;
    if (i >= toc.firstTrack && i <= last) offset = toc.tracks[static_cast<size_t>(i - toc.firstTrack)].frames();
    std::snprintf(text, sizeof text, "%08X", offset);
    hex += text;
  }
  Sha1 sha;
  sha.update(hex.data(), hex.size());
  const auto digest = sha.finish();
  const unsigned int size = static_cast<unsigned int>(digest.size());
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._";
  std::string id;
  for (unsigned int i = 0; i < size; i += 3) {
    uint32_t v = static_cast<uint32_t>(digest[i]) << 16;
    if (i + 1 < size) v |= static_cast<uint32_t>(digest[i + 1]) << 8;
    if (i + 2 < size) v |= digest[i + 2];
    id += kAlphabet[v >> 18 & 63];
    id += kAlphabet[v >> 12 & 63];
    id += i + 1 < size ? kAlphabet[v >> 6 & 63] : '-';
    id += i + 2 < size ? kAlphabet[v & 63] : '-';
  }
  return id;
}

}  // namespace tamber::disc
