#include "disc/disc_entry.h"

#include <cstdlib>

#include "platform/text.h"

namespace tamber::disc {

namespace {

// Keys and values are kept to 512 UTF-16 units.
constexpr size_t kMaxUnits = 512;
// A CD has at most 99 tracks: TTITLE0 to TTITLE98.
constexpr long kMaxTrackIndex = 98;

Error damaged(const std::string& why) { return Error{Errc::corrupt, "the disc entry is damaged: " + why}; }

// Valid UTF-8 (other bytes read as Windows-1252), cut to `units` UTF-16 units.
std::string decoded(std::string_view bytes, size_t units = kMaxUnits) {
  return cutToUtf16Units(toValidUtf8(bytes), units);
}

std::string trimmed(std::string_view s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return std::string(s.substr(b, e - b + 1));
}

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

long integer(std::string_view s) { return std::strtol(std::string(s).c_str(), nullptr, 10); }

// "\n", "\t" and "\\" read in one pass from left to right, so that an
// escaped backslash before an "n" stays a backslash and an "n".
std::string unescaped(std::string_view v) {
  std::string out;
  out.reserve(v.size());
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == '\\' && i + 1 < v.size()) {
      char c = v[i + 1];
      if (c == 'n' || c == 't' || c == '\\') {
        out += c == 'n' ? '\n' : c == 't' ? '\t' : '\\';
        ++i;
        continue;
      }
    }
    out += v[i];
  }
  return out;
}

// The entry of an indexed key (TTITLEn, EXTTn), grown to hold index n.
Result<std::string*> indexed(std::vector<std::string>& list, std::string_view key, size_t prefix) {
  std::string_view digits = key.substr(prefix);
  long n = integer(digits);
  if (n < 0 || n > kMaxTrackIndex) {
    return damaged("\"" + std::string(key) + "\": a disc has at most 99 tracks");
  }
  if (list.size() < static_cast<size_t>(n) + 1) list.resize(static_cast<size_t>(n) + 1);
  return &list[static_cast<size_t>(n)];
}

}  // namespace

Status parseDiscEntry(std::string_view text, DiscEntry& entry) {
  bool signature = false, readingOffsets = false, lengthSeen = false, submitterSeen = false, idSeen = false,
       titleSeen = false;
  std::string discTitle, playOrder;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    std::string_view line = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    at = end == std::string_view::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;

    if (line[0] == '#') {
      std::string comment = line.size() > 2 ? trimmed(decoded(line.substr(1))) : std::string();
      if (startsWith(comment, "xmcd")) {
        signature = true;
      } else if (comment.find("Track frame offsets:") != std::string::npos) {
        readingOffsets = true;
      } else if (startsWith(comment, "Disc length:")) {
        readingOffsets = false;
        lengthSeen = true;
        entry.discLengthSeconds = static_cast<int>(integer(std::string_view(comment).substr(12)));
      } else if (startsWith(comment, "Revision:")) {
        entry.revision = static_cast<int>(integer(std::string_view(comment).substr(9)));
      } else if (startsWith(comment, "Submitted via:")) {
        auto words = splitNonEmpty(std::string_view(comment).substr(14), ' ');
        if (words.size() < 2) return damaged("\"Submitted via:\" names no program and version");
        entry.submitterProgram = std::string(words[0]);
        entry.submitterVersion = std::string(words[1]);
        if (words.size() > 2) entry.submitterComment = std::string(words[2]);
        submitterSeen = true;
      } else if (readingOffsets && !comment.empty()) {
        entry.frameOffsets.push_back(static_cast<uint32_t>(integer(comment)));
      }
      continue;
    }

    size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string key = decoded(line.substr(0, equals));
    std::string value = unescaped(decoded(line.substr(equals + 1)));
    if (key == "DISCID") {
      if (value.size() >= 8) {
        entry.discId = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 16));
        idSeen = true;
      }
    } else if (key == "DTITLE") {
      discTitle += value;
      titleSeen = true;
    } else if (key == "DYEAR") {
      entry.year = static_cast<int>(integer(value));
    } else if (key == "DGENRE") {
      entry.genre += value;
    } else if (startsWith(key, "TTITLE")) {
      auto slot = indexed(entry.trackTitles, key, 6);
      if (!slot) return slot.error();
      **slot += value;
    } else if (key == "EXTD") {
      entry.extendedData += value;
    } else if (startsWith(key, "EXTT")) {
      auto slot = indexed(entry.extendedTrackData, key, 4);
      if (!slot) return slot.error();
      **slot += value;
    } else if (key == "PLAYORDER") {
      playOrder += value;
    }
  }

  if (!signature) return damaged("it has no xmcd signature");
  if (entry.frameOffsets.empty()) return damaged("it lists no track frame offsets");
  if (!lengthSeen) return damaged("it gives no disc length");
  if (!submitterSeen) return damaged("it does not say what submitted it");
  if (!idSeen) return damaged("it has no DISCID");
  if (!titleSeen) return damaged("it has no DTITLE");
  if (entry.trackTitles.size() != entry.extendedTrackData.size()) {
    return damaged("it has " + std::to_string(entry.trackTitles.size()) + " track titles but " +
                   std::to_string(entry.extendedTrackData.size()) + " track notes");
  }

  size_t p = discTitle.find(" // ");
  if (p == std::string::npos) p = discTitle.find(" / ");
  if (p != std::string::npos) {
    entry.artist = discTitle.substr(0, p);
    entry.title = discTitle.substr(p + 3);
  } else {
    entry.artist = entry.title = discTitle;
  }

  size_t from = 0;
  while (true) {
    size_t comma = playOrder.find(',', from);
    std::string piece = playOrder.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    if (comma == std::string::npos) {
      if (!piece.empty()) entry.playOrder.push_back(static_cast<int>(integer(piece)));
      break;
    }
    entry.playOrder.push_back(static_cast<int>(integer(piece)));
    from = comma + 1;
  }
  return {};
}

}  // namespace tamber::disc
