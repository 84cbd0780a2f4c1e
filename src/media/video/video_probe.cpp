#include "media/video/video_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace tamber::media {

namespace {

using Clock = std::chrono::steady_clock;

// Where the container reader's bytes come from: a descriptor read with
// pread, or bytes in memory.
struct Source {
  int fd = -1;
  const uint8_t* data = nullptr;
  int64_t size = 0;
  int64_t at = 0;
  Clock::time_point deadline;
};

int readPacket(void* opaque, uint8_t* buf, int want) {
  auto* s = static_cast<Source*>(opaque);
  if (s->at >= s->size || want <= 0) return AVERROR_EOF;
  int64_t n = std::min<int64_t>(want, s->size - s->at);
  if (s->data) {
    std::memcpy(buf, s->data + s->at, static_cast<size_t>(n));
  } else {
    ssize_t got;
    do {
      got = ::pread(s->fd, buf, static_cast<size_t>(n), s->at);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return AVERROR(errno);
    if (got == 0) return AVERROR_EOF;
    n = got;
  }
  s->at += n;
  return static_cast<int>(n);
}

int64_t seekTo(void* opaque, int64_t offset, int whence) {
  auto* s = static_cast<Source*>(opaque);
  if (whence & AVSEEK_SIZE) return s->size;
  int64_t base = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = s->at; break;
    case SEEK_END: base = s->size; break;
    default: return AVERROR(EINVAL);
  }
  if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return AVERROR(EINVAL);
  s->at = base + offset;
  return s->at;
}

// A container reader that asks to open another file (a reference in a
// QuickTime movie, a playlist's entry) is refused.
int refuseOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

int pastDeadline(void* opaque) { return Clock::now() > static_cast<Source*>(opaque)->deadline ? 1 : 0; }

void quietLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::string tag(AVDictionary* d, const char* key) {
  const AVDictionaryEntry* e = av_dict_get(d, key, nullptr, 0);
  return e && e->value ? std::string(e->value) : std::string();
}

double rateOf(AVRational r) { return r.num > 0 && r.den > 0 ? av_q2d(r) : 0; }

// Frees what probe() allocated, whatever happens.
struct Context {
  AVFormatContext* format = nullptr;
  AVIOContext* io = nullptr;
  AVCodecContext* codec = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  SwsContext* scaler = nullptr;
  ~Context() {
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    if (io) {
      av_freep(&io->buffer);
      avio_context_free(&io);
    }
  }
};

bool fail(std::string* why, const char* text) {
  if (why) *why = text;
  return false;
}

// Decodes the first frame that comes after the read position into
// c.frame, reading at most 400 packets of the picture stream (a stream of
// damaged frames does not go on for ever). False when none came.
bool decodeFrame(Context& c, Source& src, int streamIndex) {
  avcodec_flush_buffers(c.codec);
  int packets = 0;
  bool draining = false, got = false;
  while (!got && !pastDeadline(&src)) {
    if (!draining) {
      int r = av_read_frame(c.format, c.packet);
      if (r < 0) {
        draining = true;
        avcodec_send_packet(c.codec, nullptr);
      } else {
        bool ours = c.packet->stream_index == streamIndex;
        if (ours && avcodec_send_packet(c.codec, c.packet) == AVERROR(EINVAL)) {
          av_packet_unref(c.packet);
          return false;
        }
        av_packet_unref(c.packet);
        if (!ours) continue;
        if (++packets > 400) return false;
      }
    }
    int r = avcodec_receive_frame(c.codec, c.frame);
    if (r == 0) {
      got = true;
    } else if (r == AVERROR_EOF || (draining && r == AVERROR(EAGAIN))) {
      return false;
    }
  }
  return got && c.frame->width > 0 && c.frame->height > 0;
}

// Decodes the first frame from the key frame at or before a tenth of the
// length, or else from the start (a stream whose only key frame is its
// first, a container that cannot seek), and scales it to fit a square of
// `box`. False when no frame came within the limits.
bool grabFrame(Context& c, Source& src, int streamIndex, double seconds, int box, VideoRecord& out) {
  AVStream* st = c.format->streams[streamIndex];
  const AVCodecParameters* p = st->codecpar;
  if (static_cast<int64_t>(p->width) * p->height > kMaxFramePixels) return false;
  const AVCodec* decoder = avcodec_find_decoder(p->codec_id);
  if (!decoder) return false;
  c.codec = avcodec_alloc_context3(decoder);
  c.frame = av_frame_alloc();
  c.packet = av_packet_alloc();
  if (!c.codec || !c.frame || !c.packet || avcodec_parameters_to_context(c.codec, p) < 0) return false;
  c.codec->thread_count = 1;
  c.codec->max_pixels = kMaxFramePixels;
  if (avcodec_open2(c.codec, decoder, nullptr) < 0) return false;
  int64_t start = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
  bool got = false;
  if (seconds > 0 && st->time_base.num > 0 && st->time_base.den > 0) {
    int64_t target = av_rescale_q(static_cast<int64_t>(seconds * 0.1 * AV_TIME_BASE), AV_TIME_BASE_Q, st->time_base);
    got = av_seek_frame(c.format, streamIndex, start + target, AVSEEK_FLAG_BACKWARD) >= 0 &&
          decodeFrame(c, src, streamIndex);
  }
  if (!got) {
    if (av_seek_frame(c.format, streamIndex, start, AVSEEK_FLAG_BACKWARD) < 0 &&
        av_seek_frame(c.format, -1, 0, AVSEEK_FLAG_BYTE) < 0) {
      return false;
    }
    got = decodeFrame(c, src, streamIndex);
  }
  if (!got) return false;
  int w = c.frame->width, h = c.frame->height;
  // The picture's shape as shown: non-square pixels widen or narrow it.
  AVRational sar = av_guess_sample_aspect_ratio(c.format, st, c.frame);
  double shownWidth = sar.num > 0 && sar.den > 0 ? w * av_q2d(sar) : w;
  double scale = std::min({1.0, box / shownWidth, static_cast<double>(box) / h});
  int tw = std::max(1, static_cast<int>(std::lround(shownWidth * scale)));
  int th = std::max(1, static_cast<int>(std::lround(h * scale)));
  c.scaler = sws_getContext(w, h, static_cast<AVPixelFormat>(c.frame->format), tw, th, AV_PIX_FMT_RGB24,
                            SWS_AREA, nullptr, nullptr, nullptr);
  if (!c.scaler) return false;
  out.frameRgb.assign(static_cast<size_t>(tw) * th * 3, '\0');
  uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(out.frameRgb.data()), nullptr, nullptr, nullptr};
  int strides[4] = {tw * 3, 0, 0, 0};
  if (sws_scale(c.scaler, c.frame->data, c.frame->linesize, 0, h, planes, strides) != th) {
    out.frameRgb.clear();
    return false;
  }
  out.frameWidth = tw;
  out.frameHeight = th;
  return true;
}

bool probe(Source& src, VideoRecord& out, std::string* why, const ProbeOptions& options) {
  quietLibrary();
  out = VideoRecord{};
  uint8_t head[1024];
  int64_t headSize = std::min<int64_t>(src.size, sizeof head);
  Source peek = src;
  int got = headSize > 0 ? readPacket(&peek, head, static_cast<int>(headSize)) : 0;
  const char* name = got > 0 ? videoDemuxerOfHead(head, static_cast<size_t>(got)) : nullptr;
  if (!name) return fail(why, "not a video container");
  const AVInputFormat* format = av_find_input_format(name);
  if (!format) return fail(why, "no reader for its container");

  constexpr int kBuffer = 64 * 1024;
  Context c;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBuffer));
  if (!buffer) return fail(why, "out of memory");
  c.io = avio_alloc_context(buffer, kBuffer, 0, &src, readPacket, nullptr, seekTo);
  if (!c.io) {
    av_free(buffer);
    return fail(why, "out of memory");
  }
  c.format = avformat_alloc_context();
  if (!c.format) return fail(why, "out of memory");
  c.format->pb = c.io;
  c.format->flags |= AVFMT_FLAG_CUSTOM_IO;
  c.format->probesize = kProbeBytes;
  c.format->max_analyze_duration = 5 * static_cast<int64_t>(AV_TIME_BASE);
  c.format->max_streams = 64;
  c.format->io_open = refuseOpen;
  c.format->format_whitelist = av_strdup(name);
  c.format->protocol_whitelist = av_strdup("none");
  c.format->interrupt_callback.callback = pastDeadline;
  c.format->interrupt_callback.opaque = &src;
  src.deadline = Clock::now() + std::chrono::milliseconds(kProbeMilliseconds);

  // avformat_open_input frees the context when it fails.
  AVFormatContext* opened = c.format;
  if (avformat_open_input(&opened, nullptr, format, nullptr) < 0) {
    c.format = nullptr;
    return fail(why, "its container cannot be read");
  }
  c.format = opened;
  // Codec parameters the headers leave out (those of MPEG streams) are
  // found in the first packets, within the probe's bounds.
  if (avformat_find_stream_info(c.format, nullptr) < 0 && c.format->nb_streams == 0) {
    return fail(why, "no streams found");
  }
  if (pastDeadline(&src)) return fail(why, "took too long to read");

  out.container = c.format->iformat && c.format->iformat->name ? c.format->iformat->name : name;
  // A length past a century is a damaged header's, not a recording's.
  if (c.format->duration != AV_NOPTS_VALUE && c.format->duration > 0) {
    double s = static_cast<double>(c.format->duration) / AV_TIME_BASE;
    if (s < 3.2e9) out.seconds = s;
  }
  if (c.format->bit_rate > 0 && c.format->bit_rate < (int64_t{1} << 40)) out.bitRate = c.format->bit_rate;
  int pictureStream = -1;
  for (unsigned i = 0; i < c.format->nb_streams; ++i) {
    AVStream* st = c.format->streams[i];
    const AVCodecParameters* p = st->codecpar;
    switch (p->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        // A cover picture stored as a stream is no video.
        if (!out.videoCodec.empty() || (st->disposition & AV_DISPOSITION_ATTACHED_PIC)) break;
        out.videoCodec = avcodec_get_name(p->codec_id);
        pictureStream = static_cast<int>(i);
        out.width = std::clamp(p->width, 0, 65535);
        out.height = std::clamp(p->height, 0, 65535);
        out.frameRate = rateOf(st->avg_frame_rate);
        if (out.frameRate == 0) out.frameRate = rateOf(st->r_frame_rate);
        if (out.frameRate > 1e6) out.frameRate = 0;
        break;
      case AVMEDIA_TYPE_AUDIO:
        out.audio.push_back({avcodec_get_name(p->codec_id), std::clamp(p->ch_layout.nb_channels, 0, 1024),
                             tag(st->metadata, "language")});
        break;
      case AVMEDIA_TYPE_SUBTITLE: {
        std::string language = tag(st->metadata, "language");
        out.subtitleLanguages.push_back(language.empty() ? "und" : language);
        break;
      }
      default: break;
    }
  }
  if (out.videoCodec.empty() && out.audio.empty()) return fail(why, "no picture or sound streams");
  out.title = tag(c.format->metadata, "title");
  out.artist = tag(c.format->metadata, "artist");
  out.date = tag(c.format->metadata, "date");
  out.comment = tag(c.format->metadata, "comment");
  // The container's facts stand whether or not a frame can be decoded.
  if (options.frameBox > 0 && pictureStream >= 0) grabFrame(c, src, pictureStream, out.seconds, options.frameBox, out);
  return true;
}

}  // namespace

bool probeVideoFd(int fd, VideoRecord& out, std::string* why, const ProbeOptions& options) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(why, std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return fail(why, "not a regular file");
  Source src;
  src.fd = fd;
  src.size = st.st_size;
  return probe(src, out, why, options);
}

bool probeVideo(const std::string& path, VideoRecord& out, std::string* why, const ProbeOptions& options) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return fail(why, std::strerror(errno));
  bool ok = probeVideoFd(fd, out, why, options);
  ::close(fd);
  return ok;
}

bool probeVideoBytes(const uint8_t* data, size_t size, VideoRecord& out, std::string* why,
                     const ProbeOptions& options) {
  Source src;
  src.data = data;
  src.size = static_cast<int64_t>(size);
  return probe(src, out, why, options);
}

}  // namespace tamber::media
