#include "media/opus/opus_audio_reader.h"

#include <opusfile.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>

#include "media/media.h"
#include "media/text_util.h"
#include "media/vorbis_comment.h"

namespace tamber::media {

namespace {

// Opus always decodes at 48 kHz, whatever rate the encoder was given.
constexpr int32_t kOpusRate = 48000;

int cursorRead(void* stream, unsigned char* ptr, int bytes) {
  if (bytes <= 0) return 0;
  return static_cast<int>(static_cast<MediaCursor*>(stream)->read(ptr, static_cast<size_t>(bytes)));
}

int cursorSeek(void* stream, opus_int64 offset, int whence) {
  return static_cast<MediaCursor*>(stream)->seek(offset, whence) ? 0 : -1;
}

opus_int64 cursorTell(void* stream) { return static_cast<opus_int64>(static_cast<MediaCursor*>(stream)->pos); }

struct OpusFileFree {
  void operator()(OggOpusFile* f) const { op_free(f); }
};

}  // namespace

bool OpusAudioReader::open(const std::string& path, AudioValues& out) {
  MediaCursor cursor(path, cache_);
  if (!cursor.file.ok()) return false;
  const OpusFileCallbacks callbacks{cursorRead, cursorSeek, cursorTell, nullptr};
  int error = 0;
  std::unique_ptr<OggOpusFile, OpusFileFree> of(op_open_callbacks(&cursor, &callbacks, nullptr, 0, &error));
  if (!of) return false;
  const OpusHead* head = op_head(of.get(), -1);
  if (!head) return false;

  AudioValues values;
  values.codecText = u"Opus";
  values.channelsText = fromUtf8(vorbisChannelText(head->channel_count));
  values.sampleRate = kOpusRate;
  values.fileSize = static_cast<int32_t>(std::min<uint64_t>(cursor.file.size(), INT32_MAX));
  ogg_int64_t samples = op_pcm_total(of.get(), -1);
  double seconds = samples > 0 ? static_cast<double>(samples) / kOpusRate : 0;
  values.durationText = DurationText(seconds < 1e9 ? static_cast<int>(seconds) : 0);
  values.bitRateText = kbpsText(op_bitrate(of.get(), -1));

  CommentFields fields(values, true);
  if (const OpusTags* tags = op_tags(of.get(), -1)) {
    if (tags->vendor) values.vendorText = fromUtf8(tags->vendor);
    for (int i = 0; i < tags->comments; ++i) {
      if (!tags->user_comments[i] || tags->comment_lengths[i] < 0) continue;
      fields.add(std::string_view(tags->user_comments[i], static_cast<size_t>(tags->comment_lengths[i])));
    }
  }
  fields.finish();
  out = std::move(values);
  return true;
}

}  // namespace tamber::media
