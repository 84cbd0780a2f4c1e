#include "media/ogg/ogg_vorbis_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "media/media_file.h"
#include "media/media.h"
#include "media/text_util.h"
#include "media/vorbis_comment.h"

namespace tamber::media {

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
  if (size == 0 || count > SIZE_MAX / size) return 0;
  return static_cast<MediaCursor*>(data)->read(ptr, size * count) / size;
}

int sourceSeek(void* data, ogg_int64_t offset, int whence) {
  return static_cast<MediaCursor*>(data)->seek(offset, whence) ? 0 : -1;
}

long sourceTell(void* data) { return static_cast<long>(static_cast<MediaCursor*>(data)->pos); }

}  // namespace

bool OggVorbisReader::open(const std::string& path, AudioValues& out) {
  release();
  source_ = std::make_unique<MediaCursor>(path, cache_);
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
  // "Invalid" (-131) and -1, like every negative answer, read as no bit rate.
  out.bitRateText = kbpsText(static_cast<double>(bitRate));

  CommentFields fields(out, false);
  if (comments) {
    if (comments->vendor) out.vendorText = fromUtf8(comments->vendor);
    for (int i = 0; i < comments->comments; ++i) {
      if (!comments->user_comments[i] || comments->comment_lengths[i] < 0) continue;
      fields.add(std::string_view(comments->user_comments[i], static_cast<size_t>(comments->comment_lengths[i])));
    }
  }
  fields.finish();
  return true;
}

}  // namespace tamber::media
