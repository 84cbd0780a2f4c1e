#include "media/ogg/ogg_vorbis_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "media/audio_file.h"
#include "media/media.h"
#include "media/text_util.h"

namespace tamber::media {

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

struct OggSource {
  OggSource(const std::string& path, AudioFile::Cache& cache) : file(path, cache) {}
  AudioFile file;
  uint64_t pos = 0;
};

OggVorbisReader::OggVorbisReader() = default;
OggVorbisReader::~OggVorbisReader() { release(); }

void OggVorbisReader::release() {
  if (attached_) ov_clear(&file_);
  attached_ = false;
  source_.reset();
}

namespace {

// libvorbisfile's view of the file: reads through the block cache, so that
// its 2 KB reads and its return to the head after measuring the end cost a
// few system calls instead of dozens.
size_t sourceRead(void* ptr, size_t size, size_t count, void* data) {
  auto* src = static_cast<OggSource*>(data);
  if (size == 0 || count > SIZE_MAX / size) return 0;
  size_t got = src->file.read(src->pos, ptr, size * count);
  src->pos += got;
  return got / size;
}

int sourceSeek(void* data, ogg_int64_t offset, int whence) {
  auto* src = static_cast<OggSource*>(data);
  int64_t base = whence == SEEK_SET ? 0
                 : whence == SEEK_CUR ? static_cast<int64_t>(src->pos)
                 : whence == SEEK_END ? static_cast<int64_t>(src->file.size())
                                      : -1;
  if (base < 0 || offset < -base || offset > INT64_MAX - base) return -1;
  src->pos = static_cast<uint64_t>(base + offset);
  return 0;
}

long sourceTell(void* data) {
  return static_cast<long>(static_cast<OggSource*>(data)->pos);
}

}  // namespace

bool OggVorbisReader::open(const std::string& path, AudioValues& out) {
  release();
  source_ = std::make_unique<OggSource>(path, cache_);
  if (!source_->file.ok()) {
    source_.reset();
    return false;
  }
  const ov_callbacks callbacks{sourceRead, sourceSeek, nullptr, sourceTell};
  if (ov_open_callbacks(source_.get(), &file_, nullptr, 0, callbacks) < 0) {
    // A rejected stream is cleared by libvorbisfile itself.
    source_.reset();
    return false;
  }
  attached_ = true;
  vorbis_info* info = ov_info(&file_, -1);
  vorbis_comment* comments = ov_comment(&file_, -1);
  if (!info) return false;

  out = AudioValues{};
  char buf[64];
  std::snprintf(buf, sizeof buf, "Vorbis encoder %d", info->version);
  out.codecText = fromUtf8(buf);
  out.channelsText = fromUtf8(vorbisChannelText(info->channels));
  out.sampleRate = static_cast<int32_t>(info->rate);
  // The file's length (libvorbisfile's raw total leaves out the header
  // pages of the first link).
  out.fileSize = static_cast<int32_t>(std::min<uint64_t>(source_->file.size(), INT32_MAX));
  double seconds = ov_time_total(&file_, -1);
  out.durationText = DurationText(seconds > 0 && seconds < 1e9 ? static_cast<int>(seconds) : 0);
  long bitRate = ov_bitrate(&file_, -1);
  // "Invalid" (-131) and -1 read as no bit rate.
  float kbps = bitRate == OV_EINVAL || bitRate == -1 || bitRate < 0 ? 0.0f : static_cast<float>(bitRate * 0.001);
  std::snprintf(buf, sizeof buf, "%.1f kbps", static_cast<double>(kbps));
  out.bitRateText = fromUtf8(buf);

  std::u16string date;
  if (comments) {
    if (comments->vendor) out.vendorText = fromUtf8(comments->vendor);
    for (int i = 0; i < comments->comments; ++i) {
      if (!comments->user_comments[i] || comments->comment_lengths[i] < 0) continue;
      std::string_view c(comments->user_comments[i], static_cast<size_t>(comments->comment_lengths[i]));
      size_t eq = c.find('=');
      if (eq == std::string_view::npos) continue;
      std::string key(c.substr(0, eq));
      for (char& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      std::u16string value = fromUtf8(c.substr(eq + 1), false);
      // A later comment with the same key replaces the earlier.
      if (key == "title") out.title = value;
      else if (key == "artist") out.artist = value;
      else if (key == "album") out.album = value;
      else if (key == "genre") out.genre = value;
      else if (key == "date") date = value;
      else if (key == "comment") out.comment = value;
      else if (key == "lyrics") out.lyrics = value;
    }
  }
  // The year is the first number of the date: "2003-05-01" and "May 2003".
  for (size_t i = 0; i < date.size(); ++i) {
    if (date[i] >= u'0' && date[i] <= u'9') {
      long year = 0;
      for (size_t j = i; j < date.size() && date[j] >= u'0' && date[j] <= u'9' && year < 100000000; ++j) {
        year = year * 10 + (date[j] - u'0');
      }
      out.year = static_cast<int32_t>(year);
      break;
    }
  }
  out.track = 0;
  out.tagFound = true;
  return true;
}

}  // namespace tamber::media
