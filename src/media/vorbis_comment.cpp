#include "media/vorbis_comment.h"

#include <cstdio>

#include "media/text_util.h"

namespace tamber::media {

void CommentFields::add(std::string_view comment) {
  size_t eq = comment.find('=');
  if (eq == std::string_view::npos) return;
  std::string key(comment.substr(0, eq));
  for (char& ch : key) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  set(key, fromUtf8(comment.substr(eq + 1), false));
}

void CommentFields::set(std::string_view key, std::u16string value) {
  if (key == "title") out_.title = std::move(value);
  else if (key == "artist") out_.artist = std::move(value);
  else if (key == "album") out_.album = std::move(value);
  else if (key == "genre") out_.genre = std::move(value);
  else if (key == "date") date_ = std::move(value);
  else if (key == "comment") out_.comment = std::move(value);
  else if (key == "lyrics") out_.lyrics = std::move(value);
  else if (key == "tracknumber") track_ = std::move(value);
}

void CommentFields::finish() {
  out_.year = firstNumber(date_);
  out_.track = readTrack_ ? leadingNumber(track_) : 0;
  out_.tagFound = true;
}

const char* vorbisChannelText(int channels) {
  switch (channels) {
    case 0:
    case 1: return "monophonic";
    case 2: return "stereo";
    case 3: return "1d-surround encoding";
    case 4: return "quadraphonic surround";
    case 5: return "five-channel surround";
    case 6: return "5,1 surround";
    default: return "";
  }
}

std::u16string kbpsText(double bitsPerSecond) {
  char buf[64];
  float kbps = bitsPerSecond > 0 && bitsPerSecond < 1e15 ? static_cast<float>(bitsPerSecond * 0.001) : 0.0f;
  std::snprintf(buf, sizeof buf, "%.1f kbps", static_cast<double>(kbps));
  return fromUtf8(buf);
}

}  // namespace tamber::media
