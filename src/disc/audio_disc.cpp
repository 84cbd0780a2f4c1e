#include "disc/audio_disc.h"

#include <cctype>

namespace tamber::disc {

namespace {

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// Lower case with the first letter upper (ASCII letters; others stay).
std::string capitalised(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!out.empty()) out[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[0])));
  return out;
}

}  // namespace

std::vector<TrackRow> trackRows(const DriveRecord& record, const std::string& trackWord) {
  std::vector<TrackRow> rows;
  for (int n = 1; n <= record.lastAudioTrack && n <= static_cast<int>(record.trackFrames.size()); ++n) {
    TrackRow row;
    row.trackNumber = static_cast<uint32_t>(n);
    row.name = trackWord + " " + std::to_string(n);
    row.lengthFrames = record.trackFrames[static_cast<size_t>(n - 1)];
    if (record.isrcList.size() >= static_cast<size_t>(n)) row.isrc = record.isrcList[static_cast<size_t>(n - 1)];
    rows.push_back(std::move(row));
  }
  return rows;
}

void applyCdText(const CdText& text, std::vector<TrackRow>& rows, DiscTexts& disc) {
  for (size_t i = 0; i < rows.size() && i < text.tracks.size(); ++i) {
    const CdTextItems& t = text.tracks[i];
    if (!t.title.empty()) rows[i].name = t.title;
    if (!t.performer.empty()) rows[i].performer = t.performer;
    if (!t.songwriter.empty()) rows[i].songwriter = t.songwriter;
    if (!t.composer.empty()) rows[i].composer = t.composer;
    if (!t.code.empty()) rows[i].isrc = t.code;
  }
  if (!text.disc.title.empty()) disc.album = trimmed(text.disc.title);
  if (std::string artist = discArtist(text); !artist.empty()) disc.artist = artist;
  if (!text.genre.empty()) disc.genre = capitalised(text.genre);
  disc.upc = trimmed(text.disc.code);
}

void applyDiscEntry(const DiscEntry& entry, std::vector<TrackRow>& rows, DiscTexts& disc) {
  for (size_t i = 0; i < rows.size() && i < entry.trackTitles.size(); ++i) {
    if (!entry.trackTitles[i].empty()) rows[i].name = entry.trackTitles[i];
  }
  disc.genre = capitalised(entry.genre);
  std::string artist = entry.artist;
  while (!artist.empty() && artist.back() == '/') artist.pop_back();
  disc.artist = trimmed(artist);
  size_t start = entry.title.find_first_not_of("/ ");
  disc.album = start == std::string::npos ? std::string() : trimmed(entry.title.substr(start));
  disc.year = entry.year != 0 ? std::to_string(entry.year) : std::string();
}

std::vector<std::pair<std::string, std::string>> trackItemFields(const TrackRow& row) {
  std::vector<std::pair<std::string, std::string>> f{
      {"c", row.name}, {"f", "cda"}, {"e", std::to_string(row.lengthFrames)}};
  if (!row.isrc.empty()) f.emplace_back("g", row.isrc);
  if (!row.performer.empty()) f.emplace_back("j", row.performer);
  if (!row.composer.empty()) f.emplace_back("k", row.composer);
  if (!row.songwriter.empty()) f.emplace_back("l", row.songwriter);
  return f;
}

}  // namespace tamber::disc
